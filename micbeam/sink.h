// Audio output: one channel of 16-bit samples in any format libsndfile
// writes. A file is written aside (see THostOutput) and takes the final
// name only once complete; standard output gets the file's bytes only once
// it is complete.
#ifndef MICBEAM_SINK_H
#define MICBEAM_SINK_H

#include <sndfile.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "format.h"
#include "host.h"

typedef struct _TSink {
  SNDFILE* file;
  THostOutput output;  // the file being written; for standard output, an anonymous temporary file
  bool toStdout;
  bool asFloat;        // the encoding takes samples as floats, not as 16-bit integers
  std::vector<double> wide;
} TSink;

// Opens path (- for standard output) for one channel at `rate`.
bool Sink_Open(TSink* it, const std::string& path, const TOutputFormat& format, unsigned rate, std::string* error);
bool Sink_Write(TSink* it, const int16_t* samples, size_t count, std::string* error);
// Completes the file and puts it in place (or copies it to standard output).
bool Sink_Commit(TSink* it, std::string* error);
// Drops the output: the final name keeps whatever it held before.
void Sink_Abandon(TSink* it);

#endif
