#include "progress.h"

#include <stdio.h>

#include <algorithm>

namespace {

const size_t kBarWidth = 24;
const double kMicrosPerSecond = 1e6;
const int kSecondsPerMinute = 60;
const int kMinutesPerHour = 60;
const int kSecondsPerHour = 3600;

// M:SS.s below an hour, H:MM:SS above.
std::string Clock(double seconds) {
  char text[32];
  if (seconds < kSecondsPerHour) {
    const int minutes = (int)(seconds / kSecondsPerMinute);
    snprintf(text, sizeof text, "%d:%04.1f", minutes, seconds - minutes * kSecondsPerMinute);
  } else {
    const long whole = (long)seconds;
    snprintf(text, sizeof text, "%ld:%02ld:%02ld", whole / kSecondsPerHour,
             whole / kSecondsPerMinute % kMinutesPerHour, whole % kSecondsPerMinute);
  }
  return text;
}

}  // namespace

void Progress_Start(TProgress* it, size_t files, bool shown) {
  it->shown = shown;
  it->files = files;
  it->done = 0;
  it->audioMicros = 0;
  it->totalMicros = 0;
  it->opened = 0;
  it->start = std::chrono::steady_clock::now();
  it->drawn = false;
}

std::string Progress_Line(const TProgress* it, double elapsedSeconds) {
  const size_t done = it->done, opened = it->opened;
  const double audio = (double)it->audioMicros / kMicrosPerSecond;
  const double known = (double)it->totalMicros / kMicrosPerSecond;
  // Files not opened yet are taken to be as long as the mean of those opened.
  const double total = opened ? known + known / (double)opened * (double)(it->files - opened) : 0.0;
  double fraction = it->files ? (double)done / (double)it->files : 1.0;
  if (done < it->files && total > 0) fraction = std::min(audio / total, 1.0);
  const size_t filled = (size_t)(fraction * kBarWidth);
  const double speed = elapsedSeconds > 0 ? audio / elapsedSeconds : 0.0;
  const std::string left = speed > 0 && total > 0 ? Clock(std::max(total - audio, 0.0) / speed) : "?";
  char text[200];
  snprintf(text, sizeof text, "[%s%s] %zu/%zu files  %s of %s audio  %.1fx real time  %s left",
           std::string(filled, '#').c_str(), std::string(kBarWidth - filled, '.').c_str(), done, it->files,
           Clock(audio).c_str(), total > 0 ? Clock(total).c_str() : "?", speed, left.c_str());
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
