// pcmbeam as a user runs it: usage, argument checks, report, output length, delay
// and clipping at every rate. Unreadable input, unwritable output: test_hostile.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <sstream>

#include "support.h"

namespace {

class Pcmbeam : public ::testing::Test {
 protected:
  void SetUp() override { WritePcm(input, std::vector<int16_t>(2 * 64 * 10, 100)); }
  // Runs pcmbeam with the six values given as words, then the two files.
  RunResult RunWith(const std::string& values) {
    std::istringstream words(values);
    std::vector<std::string> args(std::istream_iterator<std::string>(words), {});
    args.insert(args.end(), {input, output});
    return ::Run(PCMBEAM_EXE, args);
  }
  RunResult RunAt(const std::string& rate) { return RunWith("0.05 0.07 -15 0.9 0.98 " + rate); }
  const std::string dir = TempDir(), output = dir + "/out.pcm";
  std::string input = dir + "/in.pcm";
};

TEST_F(Pcmbeam, FewerThanEightArgumentsPrintTheUsage) {
  const RunResult r = ::Run(PCMBEAM_EXE, {"0.05", "0.07", "-15", "0.9", "0.98", "8000", input});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out,
            "Usage: <Distance> <Speed> <pSdb> <pNn> <pMn> <SampleRate> <inpFile> <outFile>\n" + kTuningUsage +
            "<SampleRate> - sampling rate for input file: 8000 or 16000\n"
            "<inpFile> - input sound file, RAW PCM 16 bits linear format, Stereo (*.pcm).\n"
            "<outFile> - output sound file, Mono (*.pcm).\n"
            "Supported input signal formats (*.pcm):\n"
            "   - RAW PCM (16 bit linear), Stereo channels;\n"
            "\n\n"
            "========================================\n" +
                kBanner);
  EXPECT_FALSE(FileExists(output));
}

// A refusal prints its message, exits with 1 and creates no output; the
// bounds themselves are accepted.
TEST_F(Pcmbeam, ArgumentsAreCheckedInTurn) {
  const std::string distance = "Distance between sensors [meter] must be (0.0, 10.0]\nCurrent value: ";
  const std::string speed = "Speed adaptation must be (0.0, 1.0]\nCurrent value: ";
  const std::string pSdb = "pSdb: [-80.0, 0.0] dB, default: -15.0 \n";
  const std::string pNn = "pNn: [0.6, 0.999], default: 0.90 \n", pMn = "pMn: [0.6, 0.999], default: 0.98 \n";
  const std::string rate = "Sampling rate for input file must be <= 32 kHz\n";
  const std::string notRate = "Sampling rate for input file must be a number of Hz\n";
  // Every bound that is accepted, then each refusal.
  const std::pair<const char*, std::string> cases[] = {
      {"10 1 0 0.6 0.6 32000", ""},
      {"0.001 0.5 -80 0.9995 0.9995 0", ""},
      {"0 0.07 -15 0.9 0.98 8000", distance + "0.000000\n"},
      {"10.5 0.07 -15 0.9 0.98 8000", distance + "10.500000\n"},
      {"metres 0.07 -15 0.9 0.98 8000", distance.substr(0, 53) + "Not a number: metres\n"},
      {"0.05x 0.07 -15 0.9 0.98 8000", distance.substr(0, 53) + "Not a number: 0.05x\n"},
      {"0.05 0.07 -15 0.9 0.98x 8000", pMn + "Not a number: 0.98x\n"},
      {"0.05 0.07 -15 0.9 0.98 16000abc", notRate},
      {"0.05 0.07 -15 0.9 0.98 abc", notRate},
      {"0.05 0.07 -15 0.9 0.98 16000.5", ""},  // a pure number keeps its whole part, as always
      {"nan 0.07 -15 0.9 0.98 8000", distance + "nan\n"},
      {"0.05 0 -15 0.9 0.98 8000", speed + "0.000000\n"},
      {"0.05 1.0001 -15 0.9 0.98 8000", speed + "1.000100\n"},
      {"0.05 0.07 0.5 0.9 0.98 8000", pSdb},
      {"0.05 0.07 -80.5 0.9 0.98 8000", pSdb},
      {"0.05 0.07 -15 1.0 0.98 8000", pNn},
      {"0.05 0.07 -15 0.59 0.98 8000", pNn},
      {"0.05 0.07 -15 nan 0.98 8000", pNn},
      {"0.05 0.07 -15 0.9 1 8000", pMn},
      {"0.05 0.07 -15 0.9 0.59 8000", pMn},
      {"0.05 0.07 -15 0.9 0.98 32001", rate},
      {"0.05 0.07 -15 0.9 0.98 -1", rate}};
  for (const auto& [values, printed] : cases) {
    std::remove(output.c_str());
    const RunResult r = RunWith(values);
    EXPECT_EQ(r.status, printed.empty() ? 0 : 1) << values;
    EXPECT_EQ(printed.empty() ? "" : r.out, printed) << values;  // an accepted run prints its report
    EXPECT_EQ(FileExists(output), printed.empty()) << values;
  }
  // A value is checked only after those before it were accepted; a missing
  // input is reported before the rate is tested.
  input = dir + "/missing.pcm";
  EXPECT_EQ(RunWith("0 0 1 1 1 99999").out, distance + "0.000000\n");
  EXPECT_EQ(RunWith("0.05 0 1 1 1 99999").out, speed + "0.000000\n");
  EXPECT_EQ(RunWith("0.05 0.07 -15 0.9 0.98 99999").out, "Couldn't read input file\n");
}

// Written to /dev/stdout, the output is the samples alone: the report goes to standard error.
TEST_F(Pcmbeam, StandardOutputCarriesOnlyTheSamples) {
  WritePcm(input, Scene(16000, 0.5));
  ASSERT_EQ(RunAt("16000").status, 0);
  const RunResult r = ::Run(PCMBEAM_EXE, {"0.05", "0.07", "-15", "0.9", "0.98", "16000", input, "/dev/stdout"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, ReadFile(output));
  EXPECT_NE(r.err.find("It's finished..."), std::string::npos) << r.err;
}

// At every rate, 0 and 1000 Hz (no direction band) and both sides of each frame
// size's highest rate included: the report names the step S; 2 * S * k samples and
// r < 2 * S more (and an odd byte) give S * k; no full-scale garbage. Delay and
// clipping: the reference vectors, bit for bit.
TEST_F(Pcmbeam, RunsAtEveryRate) {
  for (const auto& [rate, S] : {std::pair<uint32_t, size_t>{0, 64}, {1000, 64}, {8000, 64}, {10000, 64},
                                {10001, 128}, {16000, 128}, {20000, 128}, {20001, 256}, {32000, 256}}) {
    WritePcm(input, Scene(std::max(rate, 8000u), 2.0, kSceneTarget));
    const std::string bytes = ReadFile(input);
    for (size_t cut : {bytes.size(), 4 * S - 2, size_t(1), size_t(0)}) {  // bytes; the last run is whole
      WriteFile(input, bytes.substr(0, bytes.size() - cut));
      std::remove(output.c_str());
      const RunResult r = RunAt(std::to_string(rate));
      EXPECT_EQ(r.status, 0);
      EXPECT_EQ(r.out, "Detection ...\nSampling rate: " + std::to_string(rate) +
                           " Hz\nLength step: " + std::to_string(S) + " samples\nIt's finished...\n" +
                           std::string(54, '=') + "\n\n" + kBanner + "\n");
      EXPECT_TRUE(FileExists(output));  // also for an empty input
      const size_t steps = (bytes.size() - cut) / 2 / (2 * S);
      EXPECT_EQ(ReadPcm(output).size(), steps * S) << rate << " Hz, cut " << cut;
    }
    const std::vector<int16_t> out = ReadPcm(output);
    EXPECT_LT(*std::max_element(out.begin(), out.end()), 32767) << rate << " Hz";
    EXPECT_GT(*std::min_element(out.begin(), out.end()), -32767) << rate << " Hz";
  }
}

}  // namespace
