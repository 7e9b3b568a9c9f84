#include "progress.h"

#include <stdio.h>

namespace {

const size_t kBarWidth = 24;
const double kMicrosPerSecond = 1e6;
const int kSecondsPerMinute = 60;

}  // namespace

void Progress_Start(TProgress* it, size_t files, bool shown) {
  it->shown = shown;
  it->files = files;
  it->done = 0;
  it->audioMicros = 0;
  it->start = std::chrono::steady_clock::now();
  it->drawn = false;
}

std::string Progress_Line(const TProgress* it, double elapsedSeconds) {
  const size_t done = it->done;
  const size_t filled = it->files ? kBarWidth * done / it->files : kBarWidth;
  const double audio = (double)it->audioMicros / kMicrosPerSecond;
  const int minutes = (int)(audio / kSecondsPerMinute);
  char text[160];
  snprintf(text, sizeof text, "[%s%s] %zu/%zu files  %d:%04.1f of audio  %.1fx real time",
           std::string(filled, '#').c_str(), std::string(kBarWidth - filled, '.').c_str(), done, it->files, minutes,
           audio - minutes * kSecondsPerMinute, elapsedSeconds > 0 ? audio / elapsedSeconds : 0.0);
  return text;
}

void Progress_Draw(TProgress* it) {
  if (!it->shown) return;
  const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - it->start).count();
  // Carriage return and erase to the end of the line: the bar is redrawn in place.
  fprintf(stderr, "\r%s\033[K", Progress_Line(it, elapsed).c_str());
  fflush(stderr);
  it->drawn = true;
}

void Progress_Finish(TProgress* it) {
  if (it->drawn) fputc('\n', stderr);
  it->drawn = false;
}
