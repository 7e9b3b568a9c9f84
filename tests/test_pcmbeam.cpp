// pcmbeam end to end, run as a user runs it: the usage text, every argument
// check with its message and exit status, the report, output lengths, delay
// and clipping. Unreadable input and unwritable output: test_hostile.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <sstream>

#include "micarray.h"
#include "scene.h"
#include "support.h"

namespace {

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
  // Runs pcmbeam with the six values given as words, then the two files.
  RunResult RunWith(const std::string& values) {
    std::istringstream words(values);
    std::vector<std::string> args{std::istream_iterator<std::string>(words), std::istream_iterator<std::string>()};
    args.insert(args.end(), {input, output});
    return ::Run(PCMBEAM_EXE, args);
  }
  RunResult RunAt(const std::string& rate) { return RunWith("0.05 0.07 -15 0.9 0.98 " + rate); }
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

struct Arguments {
  const char* values;   // the six values before the files
  std::string printed;  // everything printed for a refusal; empty: accepted
  bool inputMissing = false;
};

class PcmbeamArguments : public Pcmbeam, public ::testing::WithParamInterface<Arguments> {};

TEST_P(PcmbeamArguments, RefusalsPrintTheirMessageAndCreateNoOutput) {
  if (GetParam().inputMissing) input = dir + "/missing.pcm";
  const RunResult r = RunWith(GetParam().values);
  if (GetParam().printed.empty()) {
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(FileExists(output));
  } else {
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, GetParam().printed);
    EXPECT_FALSE(FileExists(output));
  }
}

const std::string kDistance = "Distance between sensors [meter] must be (0.0, 10.0]\nCurrent value: ";
const std::string kSpeed = "Speed adaptation must be (0.0, 1.0]\nCurrent value: ";
const std::string kPsdb = "pSdb: [-80.0, 0.0] dB, default: -15.0 \n", kPnn = "pNn: [0.6, 0.999], default: 0.90 \n",
                  kPmn = "pMn: [0.6, 0.999], default: 0.98 \n";
const std::string kRate = "Sampling rate for input file must be <= 32 kHz\n";
INSTANTIATE_TEST_SUITE_P(
    Values, PcmbeamArguments,
    ::testing::Values(
        // Every bound that is accepted.
        Arguments{"10 1 0 0.6 0.6 32000", ""}, Arguments{"0.001 0.5 -80 0.9995 0.9995 0", ""},
        // Distance (0, 10], Speed (0, 1], shown with the value read.
        Arguments{"0 0.07 -15 0.9 0.98 8000", kDistance + "0.000000\n"},
        Arguments{"10.5 0.07 -15 0.9 0.98 8000", kDistance + "10.500000\n"},
        Arguments{"metres 0.07 -15 0.9 0.98 8000", kDistance + "0.000000\n"},
        Arguments{"nan 0.07 -15 0.9 0.98 8000", kDistance + "nan\n"},
        Arguments{"0.05 0 -15 0.9 0.98 8000", kSpeed + "0.000000\n"},
        Arguments{"0.05 1.0001 -15 0.9 0.98 8000", kSpeed + "1.000100\n"},
        // pSdb [-80, 0], pNn and pMn [0.6, 1), the rate [0, 32000].
        Arguments{"0.05 0.07 0.5 0.9 0.98 8000", kPsdb}, Arguments{"0.05 0.07 -81 0.9 0.98 8000", kPsdb},
        Arguments{"0.05 0.07 -15 1.0 0.98 8000", kPnn}, Arguments{"0.05 0.07 -15 0.59 0.98 8000", kPnn},
        Arguments{"0.05 0.07 -15 nan 0.98 8000", kPnn}, Arguments{"0.05 0.07 -15 0.9 1 8000", kPmn},
        Arguments{"0.05 0.07 -15 0.9 0.59 8000", kPmn}, Arguments{"0.05 0.07 -15 0.9 0.98 32001", kRate},
        Arguments{"0.05 0.07 -15 0.9 0.98 -1", kRate},
        // Each value is checked only after those before it were accepted; a
        // missing input is reported before the rate is tested.
        Arguments{"0 0 1 1 1 99999", kDistance + "0.000000\n", true},
        Arguments{"0.05 0 1 1 1 99999", kSpeed + "0.000000\n", true},
        Arguments{"0.05 0.07 -15 0.9 0.98 99999", "Couldn't read input file\n", true}));

// An input of 2 * step * k + r samples (r < 2 * step) gives step * k, an
// empty one an empty file; the report names the rate and the step.
TEST_F(Pcmbeam, WritesOneStepOfOutputPerCompleteStepOfInput) {
  for (const auto& [rate, S] : {std::pair<std::string, size_t>{"8000", 64}, {"16000", 128}, {"32000", 256}}) {
    for (size_t samples : {size_t(0), 2 * S * 7, 2 * S * 7 + 1, 2 * S * 8 - 1}) {
      WritePcm(input, std::vector<int16_t>(samples, 1000));
      const RunResult r = RunAt(rate);
      EXPECT_EQ(r.status, 0);
      EXPECT_EQ(r.out, "Detection ...\nSampling rate: " + rate + " Hz\nLength step: " + std::to_string(S) +
                           " samples\nIt's finished...\n" + std::string(54, '=') + "\n\n" + Banner() + "\n");
      EXPECT_TRUE(FileExists(output));
      EXPECT_EQ(ReadPcm(output).size(), samples / (2 * S) * S) << rate << " Hz, " << samples << " samples";
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
    const long delay = 3 * (rate <= 10000 ? 64 : (rate <= 20000 ? 128 : 256));
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

// Two frontal sources driven far past full scale: the output saturates at
// +-32767, both reached, and never wraps (a wrapped sample flips sign).
TEST_F(Pcmbeam, LoudInputIsClippedToPlusMinus32767WithoutWrapping) {
  input = std::string(VECTOR_DIR) + "/clip_chirp_8k.in.pcm";
  ASSERT_EQ(RunAt("8000").status, 0);
  const std::vector<int16_t> out = ReadPcm(output);
  ASSERT_FALSE(out.empty());
  EXPECT_EQ(*std::min_element(out.begin(), out.end()), -32767);
  EXPECT_EQ(*std::max_element(out.begin(), out.end()), 32767);
  for (size_t i = 1; i < out.size(); i++) ASSERT_LE(std::abs(out[i] - out[i - 1]), 60000) << i;
}

}  // namespace
