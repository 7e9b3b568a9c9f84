// makedemo: writes the project's default two-microphone recording, a talker
// straight ahead with an interferer from 60 degrees, as headerless stereo
// 16-bit PCM.
#include <stdio.h>
#include <stdlib.h>

#include "scene.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    puts("Usage: makedemo <outFile.pcm> [SampleRate] [Seconds]");
    return 1;
  }
  const uint32_t rate = argc > 2 ? (uint32_t)atoi(argv[2]) : 16000;
  const double seconds = argc > 3 ? atof(argv[3]) : 5.0;
  if (rate < 1000 || rate > 192000 || seconds <= 0.0 || seconds > 3600.0) {
    puts("SampleRate must be 1000 to 192000 Hz and Seconds 0 to 3600");
    return 1;
  }
  const TScene scene = Scene_Default(rate, seconds);
  const std::vector<int16_t> samples = Scene_Render(&scene, kSceneBoth);
  FILE* out = fopen(argv[1], "wb");
  if (!out) {
    puts("Couldn't Write File");
    return 1;
  }
  const bool written = fwrite(samples.data(), sizeof samples[0], samples.size(), out) == samples.size();
  if (fclose(out) != 0 || !written) {
    puts("Couldn't Write File");
    return 1;
  }
  printf("%s: %u Hz, %.1f s, stereo 16-bit PCM\n", argv[1], rate, seconds);
  return 0;
}
