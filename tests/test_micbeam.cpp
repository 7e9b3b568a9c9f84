// micbeam end to end on one file: real files of each format, rate and
// channel count, run as a user would, against the engine's own stream.
#include <gtest/gtest.h>

#include <cmath>

#include "audio_files.h"

namespace {

const int kWav24 = SF_FORMAT_WAV | SF_FORMAT_PCM_24, kWavFloat = SF_FORMAT_WAV | SF_FORMAT_FLOAT,
          kFlac16 = SF_FORMAT_FLAC | SF_FORMAT_PCM_16, kFlac24 = SF_FORMAT_FLAC | SF_FORMAT_PCM_24,
          kAiff16 = SF_FORMAT_AIFF | SF_FORMAT_PCM_16;

struct FileCase {
  const char* input;  // name of the input file
  int inFormat, channels;
  const char* format;  // --format, or "" for the format the output's name implies
  const char* output;  // name of the output, or of a directory (ending in '/') where it takes the input's
  int outFormat;
  int rate = 16000, engineRate = 16000;
  size_t frames = 24000;
};

FileCase AtRate(int rate, int engineRate, size_t frames) {
  return FileCase{"in.wav", kWav16, 2, "", "out.wav", kWav16, rate, engineRate, frames};
}

class File : public ::testing::TestWithParam<FileCase> {};

// Every container, width and channel count (the microphones last, picked with --mics; other
// channels hold noise) and rate: the output has the input's rate and exact length, even below
// a step; natively the engine's output, 16-bit samples unchanged; converted, a talker ahead
// still aligned, and kept converted by --engine-rate.
TEST_P(File, CarriesTheAlignedEngineOutput) {
  const FileCase& c = GetParam();
  const std::string dir = TempDir(), input = dir + "/" + c.input, output = dir + "/" + c.output;
  std::vector<int16_t> in = Scene((uint32_t)c.rate, 2.0, kSceneTarget), file;
  const std::vector<int16_t> other = Scene((uint32_t)c.rate, 2.0, kSceneInterferer);
  in.resize(2 * c.frames);
  for (size_t n = 0; n < c.frames; n++) {
    for (int ch = 2; ch < c.channels; ch++) file.push_back(other[2 * n + ch % 2]);
    file.insert(file.end(), {in[2 * n], in[2 * n + 1]});
  }
  WriteAudio(input, c.inFormat, c.rate, c.channels, file);
  std::vector<std::string> args = {input, "--mics",
                                   std::to_string(c.channels - 2) + "," + std::to_string(c.channels - 1)};
  if (*c.format) args.insert(args.end(), {"--format", c.format});
  args.insert(args.end(), {"-o", output});
  const RunResult r = RunMicbeam(args);
  ASSERT_EQ(r.status, 0) << r.err;
  const Audio out = ReadAudio(output.back() == '/' ? output + c.input : output, c.outFormat);
  EXPECT_EQ((std::vector<int>{out.format, out.rate, out.channels}),
            (std::vector<int>{c.outFormat, c.rate, 1}));
  ASSERT_EQ(out.samples.size(), c.frames);
  if (c.rate == c.engineRate) {
    EXPECT_EQ(out.samples, Aligned((uint32_t)c.rate, in));
  } else if (c.frames > (size_t)c.rate) {
    // Correlation with microphone 0 delayed by `lag`, once the filters settled.
    auto correlation = [&](int lag) {
      double ab = 0, aa = 0, bb = 0;
      for (size_t n = (size_t)c.rate; n < c.frames - 3; n++) {
        const double a = out.samples[n], b = in[2 * (n - lag)];
        ab += a * b, aa += a * a, bb += b * b;
      }
      return ab / std::sqrt(aa * bb);
    };
    EXPECT_GT(correlation(0), 0.99);
    for (int lag : {-3, -2, -1, 1, 2, 3}) EXPECT_LT(correlation(lag), correlation(0)) << lag;
    ASSERT_EQ(RunMicbeam({"--engine-rate", input, "-o", dir + "/engine.wav"}).status, 0);
    const Audio atEngine = ReadAudio(dir + "/engine.wav");
    EXPECT_EQ(atEngine.rate, c.engineRate);
    EXPECT_EQ(atEngine.samples.size(), c.frames * c.engineRate / c.rate);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Micbeam, File,
    ::testing::Values(FileCase{"in.wav", kWav24, 2, "", "new/out.wav", kWav16},  // the directory is made
                      FileCase{"in.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_32, 2, "", "out.flac", kFlac16},
                      FileCase{"in.wav", SF_FORMAT_WAVEX | SF_FORMAT_PCM_24, 2, "", "o.AIF", kAiff16},
                      FileCase{"in.flac", kFlac16, 2, "", "out.pcm", SF_FORMAT_RAW | SF_FORMAT_PCM_16},
                      FileCase{"in.wav", SF_FORMAT_WAVEX | SF_FORMAT_PCM_16, 4, "wav:24", "out.x", kWav24},
                      FileCase{"in.caf", SF_FORMAT_CAF | SF_FORMAT_PCM_24, 2, "wav:float", "o.wav",
                               kWavFloat},
                      FileCase{"in.flac", kFlac24, 2, "flac:24", "dir/", kFlac24}, AtRate(4000, 8000, 8000),
                      AtRate(4000, 8000, 7), AtRate(16000, 16000, 0), AtRate(16000, 16000, 1),
                      AtRate(44100, 44100, 88200), AtRate(48000, 48000, 96000), AtRate(96000, 48000, 192000),
                      AtRate(96000, 48000, 1)));

// --engine-rate --no-align gives the engine's own stream (the samples of wavbeam and
// pcmbeam); through the standard streams (a pipe in) a WAV or FLAC file gives the file
// micbeam writes, and raw samples give that stream.
TEST(Micbeam, RawAndStandardStreams) {
  const std::string dir = TempDir();
  std::vector<int16_t> in = Scene(16000, 1.0);
  in.resize(2 * 12345);  // a short final step, which the raw streams drop
  WriteAudio(dir + "/in.wav", kWav16, 16000, 2, in);
  WritePcm(dir + "/in.pcm", in);
  const std::vector<int16_t> stream = EngineStream(16000, in);
  ASSERT_EQ(stream.size(), 12288u);
  ASSERT_EQ(RunMicbeam({"--engine-rate", "--no-align", dir + "/in.wav", "-o", dir + "/raw.wav"}).status, 0);
  EXPECT_EQ(ReadAudio(dir + "/raw.wav").samples, stream);
  ASSERT_EQ(RunMicbeam({dir + "/in.wav", "-o", dir + "/aligned.wav"}).status, 0);
  WriteAudio(dir + "/in.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 16000, 2, in);
  RunResult r;
  for (const char* name : {"/in.wav", "/in.flac"}) {
    r = RunMicbeam({"-", "-o", "-"}, dir + name);
    EXPECT_EQ(r.status, 0) << name;
    EXPECT_EQ(r.out, ReadFile(dir + "/aligned.wav")) << name;
    EXPECT_EQ(r.err, "");  // no progress bar when standard error is not a terminal
  }
  r = RunMicbeam({"--raw", "16000", "--no-align", "-", "-o", "-"}, dir + "/in.pcm");
  EXPECT_EQ(r.status, 0);
  WritePcm(dir + "/stream.pcm", stream);
  EXPECT_EQ(r.out, ReadFile(dir + "/stream.pcm"));
}

}  // namespace
