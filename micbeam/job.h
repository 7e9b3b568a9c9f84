// One file through the engine: read, convert to the engine's rate and to
// 16 bits, enhance, convert back, write; with the figures of the run.
#ifndef MICBEAM_JOB_H
#define MICBEAM_JOB_H

#include <stdint.h>

#include <atomic>
#include <string>

#include "format.h"
#include "micarray.hpp"
#include "progress.h"

// What is the same for every file of a run.
typedef struct _TJobSettings {
  micarray::EngineKind engine;
  micarray::Tuning tuning;
  unsigned mics[2];     // the two microphone channels
  unsigned rawRate;     // headerless input at this rate; 0 for files with headers
  bool engineRate;      // keep the output at the engine's rate
  bool align;           // output sample n belongs to input sample n
} TJobSettings;

typedef struct _TJob {
  std::string input;   // a path, or - for standard input
  std::string output;  // a path, or - for standard output
  TOutputFormat format;
} TJob;

typedef struct _TJobResult {
  bool ok;
  std::string error;      // why the file failed
  unsigned rate;          // of the input
  unsigned engineRate;    // the engine ran at
  unsigned outputRate;
  uint64_t inputFrames;
  uint64_t outputFrames;
  double seconds;         // of input audio
  double processing;      // wall-clock seconds the file took
  double peak;            // largest output magnitude; 1.0 is full scale
  uint64_t clipped;       // output samples at full scale
  uint64_t inputClipped;  // input samples saturated on the way to 16 bits
} TJobResult;

// The rate the engine runs a file of `rate` at: the rate itself inside the
// engine's native range, else the nearest end of it.
unsigned Job_EngineRate(unsigned rate);

// Enhances one file with its own engine; the progress figures grow by the
// file's audio once it is opened and by the audio read as it is read. Never
// throws: a failure is reported in *result and leaves no output behind.
void Job_Run(const TJob* job, const TJobSettings* settings, TJobResult* result, TProgress* progress);

#endif
