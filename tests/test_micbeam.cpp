// micbeam end to end: real files of each format, rate and channel count,
// run as a user would, against the engine's own stream.
#include <gtest/gtest.h>

#include <cmath>

#include "audio_files.h"
#include "micarray.hpp"
#include "scene.h"
#include "support.h"

namespace {

const int kWav16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16;

std::vector<int16_t> Scene(uint32_t rate, double seconds, TSceneSource sources = kSceneBoth) {
  const TScene scene = Scene_Default(rate, seconds);
  return Scene_Render(&scene, sources);
}

// The engine's own stream through the C entry points: whole steps only.
std::vector<int16_t> EngineStream(uint32_t rate, std::vector<int16_t> stereo) {
  TMicArray engine;
  MicArray_Init(&engine, rate, 0.05f, 0.07f, -15.0f, 0.90f, 0.98f);
  const size_t S = engine.lenght_step;
  std::vector<int16_t> out(stereo.size() / 2 / S * S);
  for (size_t k = 0; k < out.size(); k += S) MicArray_Process(&engine, &stereo[2 * k], &out[k]);
  MicArray_Destroyed(&engine);
  return out;
}

// The aligned output: the engine's stream over the input and enough silence,
// three steps later, as long as the input.
std::vector<int16_t> Aligned(uint32_t rate, const std::vector<int16_t>& stereo) {
  TMicArray probe;
  MicArray_Init(&probe, rate, 0.05f, 0.07f, -15.0f, 0.90f, 0.98f);
  const size_t S = probe.lenght_step, frames = stereo.size() / 2;
  std::vector<int16_t> padded(stereo);
  padded.resize(2 * (frames / S + 4) * S, 0);
  const std::vector<int16_t> raw = EngineStream(rate, padded);
  return std::vector<int16_t>(raw.begin() + (std::ptrdiff_t)(3 * S), raw.begin() + (std::ptrdiff_t)(3 * S + frames));
}

std::string PcmBytes(const std::vector<int16_t>& samples) {
  std::string s(samples.size() * 2, '\0');
  for (size_t i = 0; i < samples.size(); i++) {
    s[2 * i] = (char)((uint16_t)samples[i] & 0xFF);
    s[2 * i + 1] = (char)((uint16_t)samples[i] >> 8);
  }
  return s;
}

struct FormatCase {
  const char* name;
  int format;
};

class InputFormat : public ::testing::TestWithParam<FormatCase> {};

// The 16-bit samples reach the engine unchanged in every container and width.
TEST_P(InputFormat, GivesTheAlignedEngineOutput) {
  const std::string dir = TempDir();
  const std::vector<int16_t> in = Scene(16000, 2.0);
  const std::string input = dir + "/in." + GetParam().name;
  WriteAudio(input, GetParam().format, 16000, 2, in);
  const Ran r = RunMicbeam(dir, {input, "-o", dir + "/out.wav"});
  ASSERT_EQ(r.status, 0) << r.err;
  const Audio out = ReadAudio(dir + "/out.wav");
  EXPECT_EQ(out.format, kWav16);
  EXPECT_EQ(out.rate, 16000);
  EXPECT_EQ(out.channels, 1);
  EXPECT_EQ(out.samples, Aligned(16000, in));
}

INSTANTIATE_TEST_SUITE_P(
    Micbeam, InputFormat,
    ::testing::Values(FormatCase{"wav", kWav16}, FormatCase{"wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24},
                      FormatCase{"wav", SF_FORMAT_WAV | SF_FORMAT_PCM_32},
                      FormatCase{"wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT},
                      FormatCase{"wav", SF_FORMAT_WAVEX | SF_FORMAT_PCM_24},
                      FormatCase{"flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
                      FormatCase{"flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24},
                      FormatCase{"aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16},
                      FormatCase{"caf", SF_FORMAT_CAF | SF_FORMAT_PCM_24}),
    [](const ::testing::TestParamInfo<FormatCase>& p) { return std::to_string(p.index) + "_" + p.param.name; });

// Float samples between 16-bit steps are rounded (halves away from zero),
// samples beyond full scale saturated, and the saturated ones counted.
TEST(Micbeam, FloatInputIsRoundedAndSaturated) {
  const std::string dir = TempDir();
  const std::vector<int16_t> base = Scene(16000, 1.0);
  const double kOffsets[] = {0.3, 0.5, -0.5, -0.7};
  const size_t kSaturatedEvery = 997;
  std::vector<double> x(base.size());
  std::vector<int16_t> expected(base.size());
  size_t saturated = 0;
  for (size_t i = 0; i < x.size(); i++) {
    const double v = base[i] + kOffsets[i % 4];
    x[i] = v / 32768.0;
    expected[i] = (int16_t)std::round(v);
    if (i % kSaturatedEvery == 0) {
      x[i] = i % 2 ? 1.5 : -1.5;
      expected[i] = i % 2 ? 32767 : -32768;
      saturated++;
    }
  }
  WriteAudio(dir + "/in.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 16000, 2, x);
  const Ran r = RunMicbeam(dir, {dir + "/in.wav", "-o", dir + "/out.wav", "--report", dir + "/r.json"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadAudio(dir + "/out.wav").samples, Aligned(16000, expected));
  EXPECT_NE(ReadFile(dir + "/r.json").find("\"input_clipped\": " + std::to_string(saturated)), std::string::npos);
}

struct RateCase {
  int rate;
  int engineRate;
};

class Rate : public ::testing::TestWithParam<RateCase> {};

// Normalised correlation of a and b with b delayed by `lag` samples.
double Correlation(const std::vector<double>& a, const std::vector<double>& b, int lag) {
  double ab = 0, aa = 0, bb = 0;
  for (size_t n = 0; n < a.size(); n++) {
    const long m = (long)n - lag;
    if (m < 0 || m >= (long)b.size()) continue;
    ab += a[n] * b[m];
    aa += a[n] * a[n];
    bb += b[m] * b[m];
  }
  return ab / std::sqrt(aa * bb + 1e-30);
}

// Output at the input's rate with exactly the input's length; inside the
// native range the engine's own output, outside it a talker straight ahead
// that comes out aligned with the input after both conversions.
TEST_P(Rate, OutputHasTheInputsRateAndLength) {
  const RateCase& c = GetParam();
  const std::string dir = TempDir();
  const std::vector<int16_t> in = Scene((uint32_t)c.rate, 2.0, kSceneTarget);
  WriteAudio(dir + "/in.wav", kWav16, c.rate, 2, in);
  const Ran r = RunMicbeam(dir, {dir + "/in.wav", "-o", dir + "/out.wav", "--report", dir + "/r.json"});
  ASSERT_EQ(r.status, 0) << r.err;
  const Audio out = ReadAudio(dir + "/out.wav");
  EXPECT_EQ(out.rate, c.rate);
  EXPECT_EQ(out.frames(), in.size() / 2);
  EXPECT_NE(ReadFile(dir + "/r.json").find("\"engine_rate\": " + std::to_string(c.engineRate)), std::string::npos);
  if (c.rate == c.engineRate) {
    EXPECT_EQ(out.samples, Aligned((uint32_t)c.rate, in));
    return;
  }
  // Past the first second, when the adaptive filters have settled.
  std::vector<double> mic, enhanced;
  for (size_t n = (size_t)c.rate; n < out.frames(); n++) {
    mic.push_back(in[2 * n]);
    enhanced.push_back(out.samples[n]);
  }
  const double atZero = Correlation(enhanced, mic, 0);
  EXPECT_GT(atZero, 0.99);
  for (int lag : {-3, -2, -1, 1, 2, 3}) EXPECT_LT(Correlation(enhanced, mic, lag), atZero) << lag;
}

INSTANTIATE_TEST_SUITE_P(Micbeam, Rate,
                         ::testing::Values(RateCase{4000, 8000}, RateCase{8000, 8000}, RateCase{44100, 44100},
                                           RateCase{48000, 48000}, RateCase{96000, 48000},
                                           RateCase{192000, 48000}),
                         [](const ::testing::TestParamInfo<RateCase>& p) { return std::to_string(p.param.rate); });

struct ShortCase {
  int rate;
  size_t frames;
};

class ShortInput : public ::testing::TestWithParam<ShortCase> {};

// Inputs shorter than a step, or than the converters' filters, still give
// an output of exactly their length.
TEST_P(ShortInput, KeepsItsLength) {
  const std::string dir = TempDir();
  WriteAudio(dir + "/in.wav", kWav16, GetParam().rate, 2, std::vector<int16_t>(2 * GetParam().frames, 1000));
  const Ran r = RunMicbeam(dir, {dir + "/in.wav", "-o", dir + "/out.wav"});
  ASSERT_EQ(r.status, 0) << r.err;
  const Audio out = ReadAudio(dir + "/out.wav");
  EXPECT_EQ(out.rate, GetParam().rate);
  EXPECT_EQ(out.frames(), GetParam().frames);
}

INSTANTIATE_TEST_SUITE_P(Micbeam, ShortInput,
                         ::testing::Values(ShortCase{16000, 0}, ShortCase{16000, 1}, ShortCase{96000, 0},
                                           ShortCase{96000, 1}, ShortCase{4000, 7}, ShortCase{44100, 300}));

TEST(Micbeam, EngineRateKeepsTheConvertedRate) {
  const std::string dir = TempDir();
  const std::vector<int16_t> in = Scene(96000, 1.0);
  WriteAudio(dir + "/in.wav", kWav16, 96000, 2, in);
  const Ran r = RunMicbeam(dir, {"--engine-rate", dir + "/in.wav", "-o", dir + "/out.wav"});
  ASSERT_EQ(r.status, 0) << r.err;
  const Audio out = ReadAudio(dir + "/out.wav");
  EXPECT_EQ(out.rate, 48000);
  EXPECT_EQ(out.frames(), in.size() / 2 / 2);
}

// Channels 2 and 3 of a four-channel file are the microphones; 0 and 1
// hold another scene.
TEST(Micbeam, MicsPickTwoChannelsOfAMultichannelFile) {
  const std::string dir = TempDir();
  const std::vector<int16_t> scene = Scene(16000, 1.5);
  const std::vector<int16_t> other = Scene(16000, 1.5, kSceneInterferer);
  std::vector<int16_t> four;
  for (size_t n = 0; n < scene.size() / 2; n++)
    four.insert(four.end(), {other[2 * n], other[2 * n + 1], scene[2 * n], scene[2 * n + 1]});
  WriteAudio(dir + "/in.wav", SF_FORMAT_WAVEX | SF_FORMAT_PCM_16, 16000, 4, four);

  Ran r = RunMicbeam(dir, {"--mics", "2,3", dir + "/in.wav", "-o", dir + "/out.wav"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadAudio(dir + "/out.wav").samples, Aligned(16000, scene));

  r = RunMicbeam(dir, {"--mics", "0,4", dir + "/in.wav", "-o", dir + "/beyond.wav"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("beyond the file's 4 channels"), std::string::npos) << r.err;
  EXPECT_FALSE(FileExists(dir + "/beyond.wav"));
}

TEST(Micbeam, MonoFileIsRefused) {
  const std::string dir = TempDir();
  WriteAudio(dir + "/mono.wav", kWav16, 16000, 1, std::vector<int16_t>(16000, 100));
  const Ran r = RunMicbeam(dir, {dir + "/mono.wav", "-o", dir + "/out.wav"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("mono.wav: a single channel: micbeam needs two microphone channels"), std::string::npos)
      << r.err;
  EXPECT_FALSE(FileExists(dir + "/out.wav"));
}

TEST(Micbeam, AlignedOutputIsTheEngineStreamThreeStepsLater) {
  const std::string dir = TempDir();
  std::vector<int16_t> in = Scene(16000, 1.0);
  in.resize(2 * 12345);  // not a whole number of steps
  WriteAudio(dir + "/in.wav", kWav16, 16000, 2, in);
  ASSERT_EQ(RunMicbeam(dir, {dir + "/in.wav", "-o", dir + "/aligned.wav"}).status, 0);
  ASSERT_EQ(RunMicbeam(dir, {"--no-align", dir + "/in.wav", "-o", dir + "/raw.wav"}).status, 0);
  const std::vector<int16_t> aligned = ReadAudio(dir + "/aligned.wav").samples;
  const std::vector<int16_t> raw = ReadAudio(dir + "/raw.wav").samples;
  const size_t delay = 3 * 128;
  ASSERT_EQ(aligned.size(), 12345u);
  EXPECT_EQ(raw, EngineStream(16000, in));
  ASSERT_EQ(raw.size(), 12288u);
  for (size_t n = 0; n + delay < raw.size(); n++) ASSERT_EQ(aligned[n], raw[n + delay]) << n;
  EXPECT_EQ(aligned, Aligned(16000, in));
}

TEST(Micbeam, EngineRateNoAlignGivesWavbeamsSamples) {
  const std::string dir = TempDir();
  std::vector<int16_t> in = Scene(16000, 2.0);
  in.resize(in.size() - 2 * 50);  // a short final step that both drop
  WriteAudio(dir + "/in.wav", kWav16, 16000, 2, in);
  ASSERT_EQ(::Run(WAVBEAM_EXE, {"0.05", "0.07", "-15", "0.9", "0.98", dir + "/in.wav", dir + "/wavbeam.wav"}).status,
            0);
  const Ran r = RunMicbeam(dir, {"--engine-rate", "--no-align", dir + "/in.wav", "-o", dir + "/micbeam.wav"});
  ASSERT_EQ(r.status, 0) << r.err;
  const Audio expected = ReadAudio(dir + "/wavbeam.wav"), got = ReadAudio(dir + "/micbeam.wav");
  EXPECT_EQ(got.rate, expected.rate);
  ASSERT_FALSE(expected.samples.empty());
  EXPECT_EQ(got.samples, expected.samples);
}

TEST(Micbeam, StandardInputToStandardOutput) {
  const std::string dir = TempDir();
  const std::vector<int16_t> in = Scene(16000, 1.0);
  WriteAudio(dir + "/in.wav", kWav16, 16000, 2, in);
  ASSERT_EQ(RunMicbeam(dir, {dir + "/in.wav", "-o", dir + "/file.wav"}).status, 0);
  const Ran r = RunMicbeam(dir, {"-", "-o", "-"}, dir + "/in.wav");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, ReadFile(dir + "/file.wav"));
  EXPECT_EQ(r.err, "");
}

TEST(Micbeam, RawStandardStreamsMatchPcmbeam) {
  const std::string dir = TempDir();
  std::vector<int16_t> in = Scene(8000, 2.0);
  in.resize(in.size() - 2 * 10);
  WritePcm(dir + "/in.pcm", in);
  ASSERT_EQ(::Run(PCMBEAM_EXE, {"0.05", "0.07", "-15", "0.9", "0.98", "8000", dir + "/in.pcm", dir + "/out.pcm"})
                .status,
            0);
  const Ran r = RunMicbeam(dir, {"--raw", "8000", "--no-align", "-", "-o", "-"}, dir + "/in.pcm");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, ReadFile(dir + "/out.pcm"));
  // Aligned, the raw output is as long as the input.
  const Ran aligned = RunMicbeam(dir, {"--raw", "8000", "-", "-o", "-"}, dir + "/in.pcm");
  EXPECT_EQ(aligned.out, PcmBytes(Aligned(8000, in)));
}

}  // namespace
