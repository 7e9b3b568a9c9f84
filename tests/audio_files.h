// The micbeam tests' tools: audio files written and read with libsndfile, and
// micbeam run as a user would.
#ifndef MICARRAY_TEST_AUDIO_FILES_H
#define MICARRAY_TEST_AUDIO_FILES_H

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "support.h"

const int kWav16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16;

struct Audio {
  int rate = 0, channels = 0, format = 0;
  std::vector<int16_t> samples;  // interleaved
};

inline sf_count_t Put(SNDFILE* f, const int16_t* s, sf_count_t n) { return sf_write_short(f, s, n); }
inline sf_count_t Put(SNDFILE* f, const double* s, sf_count_t n) { return sf_write_double(f, s, n); }

// Interleaved 16-bit samples as they are, or doubles where 1.0 is full scale.
template <class S>
void WriteAudio(const std::string& path, int format, int rate, int channels, const std::vector<S>& samples) {
  SF_INFO info = {};
  info.samplerate = rate;
  info.channels = channels;
  info.format = format;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  if (!f) throw std::runtime_error(path + ": " + sf_strerror(nullptr));
  const bool complete = Put(f, samples.data(), (sf_count_t)samples.size()) == (sf_count_t)samples.size();
  if (sf_close(f) != 0 || !complete) throw std::runtime_error(path + ": short write");
}

// A file of 16-bit samples (a headerless one in `format`, mono at 16000 Hz),
// read exactly: no samples at all when any is not a 16-bit value.
inline Audio ReadAudio(const std::string& path, int format = 0) {
  SF_INFO info = {};
  info.samplerate = 16000;
  info.channels = 1;
  info.format = format;
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  if (!f) return Audio();
  std::vector<double> wide((size_t)(info.frames * info.channels));
  wide.resize((size_t)sf_read_double(f, wide.data(), (sf_count_t)wide.size()));
  sf_close(f);
  Audio a{info.samplerate, info.channels, info.format, {}};
  for (double v : wide) {
    const double s = v * 32768.0;
    if (s != std::round(s) || s < -32768.0 || s > 32767.0) return Audio();
    a.samples.push_back((int16_t)s);
  }
  return a;
}

// micbeam run as a user would (see Run), with the classic engine unless the
// arguments choose one: most checks compare micbeam with pcmbeam, bit for bit.
inline RunResult RunMicbeam(std::vector<std::string> args, const std::string& stdinPath = "/dev/null",
                            bool terminal = false) {
  if (std::find(args.begin(), args.end(), "--engine") == args.end())
    args.insert(args.begin(), {"--engine", "classic"});
  return Run(MICBEAM_EXE, args, stdinPath, terminal);
}

#endif
