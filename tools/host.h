// Pieces shared by the command-line hosts: the five tuning values with their
// range checks and messages, the common usage lines, the product banner and
// the output file that appears only complete.
#ifndef MICARRAY_HOST_H
#define MICARRAY_HOST_H

#include <stdio.h>

#include <string>

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

// An output file. A regular file (or a name not yet taken) is written under
// a temporary name in the same directory and renamed into place only by
// HostOutput_Commit, so a failed run never leaves a truncated file under the
// final name, never destroys the file of that name, and may even read its
// input from that name. Anything else (a pipe, a terminal, a device) is
// written directly.
typedef struct _THostOutput {
  FILE* file;             // the stream to write; null when none is open
  std::string finalName;  // where the output ends up
  std::string tempName;   // empty when writing directly
} THostOutput;

// Opens the stream for outName; false (nothing open) when it cannot be created.
bool HostOutput_Open(THostOutput* it, const char* outName);
// Closes the stream and, for a temporary file, moves it to the final name
// once all of it is on disk; false (temporary file removed) when any of that
// fails, which means the output was lost.
bool HostOutput_Commit(THostOutput* it);
// Closes the stream and removes the temporary file: the final name keeps
// whatever it held before the run.
void HostOutput_Abandon(THostOutput* it);

#endif
