// micbeam's command line: the inputs, the output, the tuning values and how
// files are read, converted and written.
#ifndef MICBEAM_OPTIONS_H
#define MICBEAM_OPTIONS_H

#include <string>
#include <vector>

#include "micarray.hpp"

// Exit status of a refused command line (nothing was processed); 1 means
// that at least one file failed.
const int kExitUsage = 2;

typedef struct _TMicbeamOptions {
  std::vector<std::string> inputs;  // files, directories, or - for standard input
  std::string output;               // -o: a file, a directory, or - for standard output
  micarray::EngineKind engine;      // --engine
  micarray::Tuning tuning;
  unsigned mics[2];                 // the two microphone channels of the input
  unsigned rawRate;                 // --raw RATE: headerless 16-bit input and output; 0 otherwise
  std::string format;               // --format: the output format; empty to follow the extension
  bool engineRate;                  // keep the engine's rate instead of converting back
  bool align;                       // remove the engine's delay and flush its tail
  unsigned jobs;                    // worker threads
  bool quiet;                       // no progress bar
  std::string report;               // --report FILE.json; empty for none
  bool live;                        // --live: an audio input device instead of files
  bool listDevices;                 // --list-devices
  std::string inputDevice;          // index or name; empty for the default input
  std::string outputDevice;         // index or name; empty: play on the default output without -o
  double duration;                  // seconds of live input; 0 until stopped
} TMicbeamOptions;

// Parses and checks the command line. Returns -1 to go on, or the exit
// status after printing the help (0) or a refusal (kExitUsage, on standard
// error).
int Options_Parse(TMicbeamOptions* it, int argc, char** argv);

#endif
