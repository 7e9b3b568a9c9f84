// Pieces shared by the command-line hosts: the five tuning values with their
// range checks and messages, the common usage lines, the product banner and
// the output file that appears only complete.
#ifndef MICARRAY_HOST_H
#define MICARRAY_HOST_H

#include <stdio.h>

#include <string>

#include "micarray.hpp"

// Parses and checks args[0..4] (distance, speed, suppression, noise rate,
// musical-noise smoothing; the other values keep their defaults) in this
// order, each only after the previous one was accepted. Prints the first refusal's message and returns false;
// text that is not wholly a number is refused with the value's message too.
bool HostTuning_Parse(micarray::Tuning* it, char* const* args);

// The usage lines that describe the five tuning values.
void Host_PrintTuningUsage();

// The product banner: name, version and maker, a line each.
void Host_PrintBanner();

// An output file. A regular file (or a name not yet taken) is written aside,
// in an unnamed file of the same directory where the file system has them
// (else under a short hidden temporary name), and put in place only by
// HostOutput_Commit, so a failed run never leaves a truncated file under the
// final name, never destroys the file of that name, and may even read its
// input from that name. SIGINT, SIGTERM, SIGHUP, SIGPIPE and SIGXFSZ remove
// every temporary name before the program ends. Anything else (a pipe, a
// terminal, a device) is written directly.
typedef struct _THostOutput {
  FILE* file = nullptr;   // the stream to write; null when none is open
  std::string finalName;  // where the output ends up
  std::string tempName;   // the temporary name; empty when unnamed or written directly
  bool aside = false;     // written aside and put in place on commit
  int slot = -1;          // the temporary name's place in the signal cleanup list; -1 for none
} THostOutput;

// Opens the stream for outName; false (nothing open) when it cannot be created.
// When outName is the program's own standard output (/dev/stdout, or the file
// it was redirected to), the program's messages move to standard error so that
// they do not mix with the output.
bool HostOutput_Open(THostOutput* it, const char* outName);
// Closes the stream and, for a file written aside, moves it to the final name
// once all of it is on disk; false (nothing left aside) when any of that
// fails, which means the output was lost.
bool HostOutput_Commit(THostOutput* it);
// Closes the stream and drops what was written aside: the final name keeps
// whatever it held before the run.
void HostOutput_Abandon(THostOutput* it);

#endif
