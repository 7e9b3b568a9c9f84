// Raw audio files of the evaluation's peer programs: interleaved 16-bit stereo in,
// 16-bit mono out, native byte order (little-endian on every machine the report runs on).
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

struct TPeerAudio {
  std::vector<int16_t> stereo;  // interleaved microphone 0, microphone 1
  size_t frames() const { return stereo.size() / 2; }
};

// Reads a whole stereo file; exits with a message when it cannot.
inline TPeerAudio PeerAudio_Read(const char *path) {
  TPeerAudio it;
  FILE *f = std::fopen(path, "rb");
  if (!f) {
    std::fprintf(stderr, "cannot open %s\n", path);
    std::exit(1);
  }
  int16_t pair[2];
  while (std::fread(pair, sizeof pair, 1, f) == 1) it.stereo.insert(it.stereo.end(), pair, pair + 2);
  std::fclose(f);
  return it;
}

inline void PeerAudio_Write(const char *path, const std::vector<int16_t> &mono) {
  FILE *f = std::fopen(path, "wb");
  if (!f || std::fwrite(mono.data(), sizeof(int16_t), mono.size(), f) != mono.size() || std::fclose(f)) {
    std::fprintf(stderr, "cannot write %s\n", path);
    std::exit(1);
  }
}

inline int16_t PeerAudio_ToInt16(float x) {
  float scaled = x * 32768.0f;
  return static_cast<int16_t>(scaled > 32767.0f ? 32767.0f : scaled < -32768.0f ? -32768.0f : scaled);
}

// A number from the command line, or exit with the usage.
inline double PeerAudio_Number(const char *text, const char *usage) {
  char *end = nullptr;
  double value = std::strtod(text, &end);
  if (end == text || *end) {
    std::fprintf(stderr, "not a number: %s\nusage: %s\n", text, usage);
    std::exit(2);
  }
  return value;
}
