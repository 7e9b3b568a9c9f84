// The progress bar on standard error: files done, audio processed of the
// audio to do, the speed as a multiple of real time and the time left,
// redrawn in place on one line.
#ifndef MICBEAM_PROGRESS_H
#define MICBEAM_PROGRESS_H

#include <stdint.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <string>

typedef struct _TProgress {
  bool shown;                          // drawn at all (a terminal, not --quiet)
  size_t files;                        // to do
  std::atomic<size_t> done;            // files finished, successful or not
  std::atomic<uint64_t> audioMicros;   // input audio read so far
  std::atomic<uint64_t> totalMicros;   // input audio of the files opened so far
  std::atomic<size_t> opened;          // files whose length is known
  std::chrono::steady_clock::time_point start;
  bool drawn;                          // something is on the line
} TProgress;

void Progress_Start(TProgress* it, size_t files, bool shown);
// The bar's text for the figures so far.
std::string Progress_Line(const TProgress* it, double elapsedSeconds);
// Redraws the line (from one thread only).
void Progress_Draw(TProgress* it);
// Ends the line, so that later messages start on their own.
void Progress_Finish(TProgress* it);

#endif
