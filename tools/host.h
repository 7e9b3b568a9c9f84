// Pieces shared by the command-line hosts: the five tuning values with their
// range checks and messages, the common usage lines and the product banner.
#ifndef MICARRAY_HOST_H
#define MICARRAY_HOST_H

#include "micarray.h"

typedef struct _THostTuning {
  mfloat Distance;    // microphone spacing in metres
  mfloat speedAlpha;  // adaptation speed of the direction detector
  mfloat pSdb;        // suppression limit in dB
  mfloat pNn;         // noise adaptation rate
  mfloat pMn;         // musical-noise smoothing
} THostTuning;

// Parses and checks args[0..4] in this order, each only after the previous
// one was accepted. Prints the first refusal's message and returns false.
bool HostTuning_Parse(THostTuning* it, char* const* args);

// The usage lines that describe the five tuning values.
void Host_PrintTuningUsage();

// The product banner: name, version and maker, a line each.
void Host_PrintBanner();

#endif
