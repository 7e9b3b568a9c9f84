// makedemo: writes the project's default two-microphone recording, a talker
// straight ahead with an interferer from 60 degrees, as headerless stereo
// 16-bit PCM (<stem>.pcm) and as a stereo WAV file (<stem>.wav).
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "scene.h"
#include "wav.h"

namespace {

bool WritePcm(const std::string& path, const std::vector<int16_t>& samples) {
  FILE* out = fopen(path.c_str(), "wb");
  if (!out) return false;
  const bool written = WAV_WriteSamples(out, samples.data(), samples.size());
  return fclose(out) == 0 && written;
}

bool WriteWav(const std::string& path, uint32_t rate, std::vector<int16_t>& samples) {
  const unsigned short kChannels = 2, kBits = 16, kBlock = kChannels * kBits / 8;
  WAV_HEADER h;
  h.SubChunk_fmtSize = 16;  // plain PCM format chunk
  h.AudioFormat = 1;        // linear PCM
  h.Channels = kChannels;
  h.SampleRate = rate;
  h.ByteRate = rate * kBlock;
  h.BlockAlign = kBlock;
  h.BitsPerSample = kBits;
  h.DataSize = (unsigned int)(samples.size() * sizeof samples[0]);
  return h.saveAll(const_cast<char*>(path.c_str()), (unsigned int)(samples.size() / kChannels), samples.data()) == 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    puts("Usage: makedemo <outStem> [SampleRate] [Seconds]");
    puts("Writes <outStem>.pcm (raw stereo 16-bit) and <outStem>.wav.");
    return 1;
  }
  const uint32_t rate = argc > 2 ? (uint32_t)atoi(argv[2]) : 16000;
  const double seconds = argc > 3 ? atof(argv[3]) : 5.0;
  if (rate < 1000 || rate > 192000 || !(seconds > 0.0 && seconds <= 3600.0)) {
    puts("SampleRate must be 1000 to 192000 Hz and Seconds above 0 and at most 3600");
    return 1;
  }
  const TScene scene = Scene_Default(rate, seconds);
  std::vector<int16_t> samples = Scene_Render(&scene, kSceneBoth);
  const std::string stem = argv[1];
  if (!WritePcm(stem + ".pcm", samples) || !WriteWav(stem + ".wav", rate, samples)) {
    puts("Couldn't Write File");
    return 1;
  }
  printf("%s.pcm and %s.wav: %u Hz, %.1f s, two microphones\n", argv[1], argv[1], rate, seconds);
  return 0;
}
