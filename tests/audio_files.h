// Audio files of any format for the micbeam tests, written and read with
// libsndfile, and micbeam run as a user would, with both output streams.
#ifndef MICARRAY_TEST_AUDIO_FILES_H
#define MICARRAY_TEST_AUDIO_FILES_H

#include <sndfile.h>
#include <sys/wait.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support.h"

struct Audio {
  int rate = 0;
  int channels = 0;
  int format = 0;                // libsndfile container | encoding
  std::vector<int16_t> samples;  // interleaved
  size_t frames() const { return channels ? samples.size() / channels : 0; }
};

inline bool IsFloatEncoding(int format) {
  const int encoding = format & SF_FORMAT_SUBMASK;
  return encoding == SF_FORMAT_FLOAT || encoding == SF_FORMAT_DOUBLE;
}

// Writes interleaved samples of type S (int16_t or double, 1.0 full scale).
// Integer encodings get 16-bit samples unchanged; float encodings take
// them as floats where 1.0 is full scale.
template <class S>
inline void WriteAudio(const std::string& path, int format, int rate, int channels, const std::vector<S>& samples) {
  if (sizeof(S) == sizeof(int16_t) && IsFloatEncoding(format)) {
    std::vector<double> wide(samples.begin(), samples.end());
    for (double& v : wide) v /= 32768.0;
    return WriteAudio(path, format, rate, channels, wide);
  }
  SF_INFO info = {};
  info.samplerate = rate;
  info.channels = channels;
  info.format = format;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  if (!f) throw std::runtime_error(path + ": " + sf_strerror(nullptr));
  const sf_count_t n = (sf_count_t)samples.size();
  const sf_count_t written = sizeof(S) == sizeof(int16_t) ? sf_write_short(f, (const short*)samples.data(), n)
                                                           : sf_write_double(f, (const double*)samples.data(), n);
  sf_close(f);
  if (written != n) throw std::runtime_error(path + ": short write");
}

// Reads a file with 16-bit (or narrower) samples exactly.
inline Audio ReadAudio(const std::string& path) {
  SF_INFO info = {};
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  Audio a;
  if (!f) return a;
  a.rate = info.samplerate;
  a.channels = info.channels;
  a.format = info.format;
  a.samples.resize((size_t)(info.frames * info.channels));
  a.samples.resize((size_t)sf_read_short(f, a.samples.data(), (sf_count_t)a.samples.size()));
  sf_close(f);
  return a;
}

struct Ran {
  int status;       // exit status, or -1 when the program did not exit normally
  std::string out;  // standard output
  std::string err;  // standard error
};

inline std::string ShellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// Runs micbeam with args in `dir`'s files for its output streams.
inline Ran RunMicbeam(const std::string& dir, const std::vector<std::string>& args,
                      const std::string& stdinPath = "/dev/null") {
  std::string cmd = ShellQuote(MICBEAM_EXE);
  for (const std::string& a : args) cmd += " " + ShellQuote(a);
  const std::string out = dir + "/.stdout", err = dir + "/.stderr";
  cmd += " <" + ShellQuote(stdinPath) + " >" + ShellQuote(out) + " 2>" + ShellQuote(err);
  const int st = system(cmd.c_str());
  Ran r{st != -1 && WIFEXITED(st) ? WEXITSTATUS(st) : -1, ReadFile(out), ReadFile(err)};
  remove(out.c_str());
  remove(err.c_str());
  return r;
}

#endif
