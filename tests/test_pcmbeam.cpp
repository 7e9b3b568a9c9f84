// pcmbeam end to end, run as a user runs it: argument checks with their
// messages and exit statuses, the report, output lengths, delay and clipping.
#include <gtest/gtest.h>

#include <cmath>

#include "micarray.h"
#include "scene.h"
#include "support.h"

namespace {

const std::vector<std::string> kTuning = {"0.05", "0.07", "-15", "0.9", "0.98"};

std::string Banner() {
  return std::string(MicArray_Info.product_name) + "\n" + MicArray_Info.product_version + "\n" +
         MicArray_Info.product_company + "\n";
}

class Pcmbeam : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = TempDir();
    input = dir + "/in.pcm";
    output = dir + "/out.pcm";
    WritePcm(input, std::vector<int16_t>(2 * 64 * 10, 100));
  }
  // Runs pcmbeam with the default tuning, replacing argument `pos` by `value`.
  RunResult RunWith(size_t pos, const std::string& value, const std::string& rate = "8000") {
    std::vector<std::string> args = kTuning;
    args.push_back(rate);
    args.push_back(input);
    args.push_back(output);
    args[pos] = value;
    return ::Run(PCMBEAM_EXE, args);
  }
  RunResult RunAt(const std::string& rate) { return RunWith(5, rate, rate); }
  std::string dir, input, output;
};

TEST_F(Pcmbeam, FewerThanEightArgumentsPrintTheUsage) {
  const RunResult r = ::Run(PCMBEAM_EXE, {"0.05", "0.07", "-15", "0.9", "0.98", "8000", input});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out,
            "Usage: <Distance> <Speed> <pSdb> <pNn> <pMn> <SampleRate> <inpFile> <outFile>\n"
            "<Distance> - Distance between sensors [meter], default: 0.05\n"
            "<Speed> - Speed adaptation of source direct detection (0.0, 1.0], default: 0.07\n"
            "<pSdb> - Limitation suppression [-80.0, 0.0] dB, default: -15.0 \n"
            "<pNn> - Noise adaptation rate [0.6, 0.999], default: 0.90 \n"
            "<pMn> - Musical noise reduction [0.6, 0.999], default: 0.98\n"
            "<SampleRate> - sampling rate for input file: 8000 or 16000\n"
            "<inpFile> - input sound file, RAW PCM 16 bits linear format, Stereo (*.pcm).\n"
            "<outFile> - output sound file, Mono (*.pcm).\n"
            "Supported input signal formats (*.pcm):\n"
            "   - RAW PCM (16 bit linear), Stereo channels;\n"
            "\n\n"
            "========================================\n" +
                Banner());
  EXPECT_FALSE(FileExists(output));
}

struct Refusal {
  size_t pos;
  const char* value;
  const char* message;  // everything printed
};

class PcmbeamRefusal : public Pcmbeam, public ::testing::WithParamInterface<Refusal> {};

TEST_P(PcmbeamRefusal, PrintsItsMessageAndCreatesNoOutput) {
  const RunResult r = RunWith(GetParam().pos, GetParam().value);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, GetParam().message);
  EXPECT_FALSE(FileExists(output));
}

const char kDistance[] = "Distance between sensors [meter] must be (0.0, 10.0]\n";
const char kSpeed[] = "Speed adaptation must be (0.0, 1.0]\n";
INSTANTIATE_TEST_SUITE_P(
    Values, PcmbeamRefusal,
    ::testing::Values(
        Refusal{0, "0", "Distance between sensors [meter] must be (0.0, 10.0]\nCurrent value: 0.000000\n"},
        Refusal{0, "10.5", "Distance between sensors [meter] must be (0.0, 10.0]\nCurrent value: 10.500000\n"},
        Refusal{0, "metres", "Distance between sensors [meter] must be (0.0, 10.0]\nCurrent value: 0.000000\n"},
        Refusal{0, "nan", "Distance between sensors [meter] must be (0.0, 10.0]\nCurrent value: nan\n"},
        Refusal{1, "0", "Speed adaptation must be (0.0, 1.0]\nCurrent value: 0.000000\n"},
        Refusal{1, "1.0001", "Speed adaptation must be (0.0, 1.0]\nCurrent value: 1.000100\n"},
        Refusal{2, "0.5", "pSdb: [-80.0, 0.0] dB, default: -15.0 \n"},
        Refusal{2, "-81", "pSdb: [-80.0, 0.0] dB, default: -15.0 \n"},
        Refusal{3, "1.0", "pNn: [0.6, 0.999], default: 0.90 \n"},
        Refusal{3, "0.59", "pNn: [0.6, 0.999], default: 0.90 \n"},
        Refusal{3, "nan", "pNn: [0.6, 0.999], default: 0.90 \n"},
        Refusal{4, "1", "pMn: [0.6, 0.999], default: 0.98 \n"},
        Refusal{4, "0.59", "pMn: [0.6, 0.999], default: 0.98 \n"},
        Refusal{5, "32001", "Sampling rate for input file must be <= 32 kHz\n"},
        Refusal{5, "-1", "Sampling rate for input file must be <= 32 kHz\n"},
        Refusal{6, "/nonexistent/in.pcm", "Couldn't read input file\n"},
        Refusal{7, "/nonexistent/out.pcm", "Couldn't Write File\n"}));

TEST_F(Pcmbeam, AValueIsCheckedOnlyAfterThoseBeforeItWereAccepted) {
  std::vector<std::string> args = {"0", "0", "1", "1", "1", "99999", "/nonexistent", output};
  EXPECT_EQ(::Run(PCMBEAM_EXE, args).out, std::string(kDistance) + "Current value: 0.000000\n");
  args[0] = "0.05";
  EXPECT_EQ(::Run(PCMBEAM_EXE, args).out, std::string(kSpeed) + "Current value: 0.000000\n");
  // A missing input is reported before the rate is tested.
  args = {"0.05", "0.07", "-15", "0.9", "0.98", "99999", "/nonexistent", output};
  EXPECT_EQ(::Run(PCMBEAM_EXE, args).out, "Couldn't read input file\n");
}

TEST_F(Pcmbeam, BoundaryValuesAreAccepted) {
  const std::pair<size_t, const char*> accepted[] = {{0, "10"},     {0, "0.001"}, {1, "1"},    {2, "0"},
                                                     {2, "-80"},    {3, "0.6"},   {3, "0.9995"}, {4, "0.6"},
                                                     {4, "0.9995"}, {5, "32000"}, {5, "0"}};
  for (const auto& a : accepted) EXPECT_EQ(RunWith(a.first, a.second).status, 0) << a.first << " = " << a.second;
}

TEST_F(Pcmbeam, ReportsRateAndStepThenTheBanner) {
  WritePcm(input, {});
  for (const auto& rs : {std::make_pair("8000", "64"), std::make_pair("16000", "128"), std::make_pair("32000", "256")}) {
    const RunResult r = RunAt(rs.first);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, std::string("Detection ...\nSampling rate: ") + rs.first + " Hz\nLength step: " + rs.second +
                         " samples\nIt's finished...\n"
                         "======================================================\n\n" +
                         Banner() + "\n");
    EXPECT_TRUE(FileExists(output));
    EXPECT_EQ(ReadFile(output).size(), 0u);  // empty input, empty output
  }
}

TEST_F(Pcmbeam, WritesOneStepOfOutputPerCompleteStepOfInput) {
  for (const auto& rate_step : {std::make_pair("8000", 64u), std::make_pair("16000", 128u)}) {
    const size_t S = rate_step.second;
    for (size_t extra : {size_t(0), size_t(1), 2 * S - 1}) {
      WritePcm(input, std::vector<int16_t>(2 * S * 7 + extra, 1000));
      ASSERT_EQ(RunAt(rate_step.first).status, 0);
      EXPECT_EQ(ReadPcm(output).size(), S * 7) << "rate " << rate_step.first << ", extra " << extra;
    }
  }
  // An odd byte at the end is part of no sample.
  WriteFile(input, std::string(2 * 2 * 64 * 3 + 1, '\0'));
  ASSERT_EQ(RunAt("8000").status, 0);
  EXPECT_EQ(ReadPcm(output).size(), 64u * 3);
}

// Correlation of the output with microphone 0 peaks at the engine's delay of
// three steps (frame minus step).
TEST_F(Pcmbeam, OutputLagsTheInputByThreeSteps) {
  for (uint32_t rate : {8000u, 16000u, 32000u}) {
    TScene scene = Scene_Default(rate, 2.0);
    const std::vector<int16_t> in = Scene_Render(&scene, kSceneTarget);
    WritePcm(input, in);
    ASSERT_EQ(RunAt(std::to_string(rate)).status, 0);
    const std::vector<int16_t> out = ReadPcm(output);
    const long delay = rate <= 10000 ? 192 : (rate <= 20000 ? 384 : 768);
    long best = -1;
    double bestValue = -1e300;
    for (long lag = 0; lag < 2 * delay; lag++) {
      double c = 0.0;
      for (size_t n = (size_t)lag; n < out.size(); n++) c += (double)out[n] * in[2 * (n - lag)];
      if (c > bestValue) bestValue = c, best = lag;
    }
    EXPECT_EQ(best, delay) << "rate " << rate;
  }
}

TEST_F(Pcmbeam, FullScaleInputIsClippedToPlusMinus32767WithoutWrapping) {
  std::vector<int16_t> in;
  for (int n = 0; n < 8000; n++) {
    const int16_t v = (n / 20) % 2 ? 32767 : -32768;  // 200 Hz square wave at full scale
    in.push_back(v);
    in.push_back(v);
  }
  WritePcm(input, in);
  ASSERT_EQ(RunAt("8000").status, 0);
  const std::vector<int16_t> out = ReadPcm(output);
  int lo = 0, hi = 0;
  size_t jumps = 0;
  for (size_t i = 0; i < out.size(); i++) {
    lo = std::min<int>(lo, out[i]);
    hi = std::max<int>(hi, out[i]);
    if (i && std::abs(out[i] - out[i - 1]) > 60000) jumps++;  // a wrapped sum flips sign at full scale
  }
  EXPECT_GE(lo, -32767);
  EXPECT_LE(hi, 32767);
  EXPECT_EQ(jumps, 0u);
}

TEST_F(Pcmbeam, FailedWritesAndReadsAreReportedNotFinished) {
  WritePcm(input, std::vector<int16_t>(2 * 64 * 200, 500));
  output = "/dev/full";
  RunResult r = RunAt("8000");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out.find("It's finished"), std::string::npos);
  EXPECT_NE(r.out.find("Couldn't Write File\n"), std::string::npos);

  // A directory opens for reading but every read fails.
  input = dir;
  output = dir + "/out.pcm";
  r = RunAt("8000");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("Couldn't read input file\n"), std::string::npos);
}

}  // namespace
