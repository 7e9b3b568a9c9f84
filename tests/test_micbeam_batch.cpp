// micbeam's batches, float input, command line, failures, report and
// progress bar, and the promise that an output appears only complete.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <set>

#include "audio_files.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

std::set<std::string> Names(const std::string& dir) {
  std::set<std::string> names;
  for (const fs::directory_entry& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
}

// With one worker or several, each file has its own engine; one failing file
// stops neither the others nor the report, and the status tells.
TEST(MicbeamBatch, OneBrokenFileDoesNotStopTheOthers) {
  const std::string dir = TempDir(), in = dir + "/in";
  fs::create_directory(in);
  // Noise at full scale, which the engine's output clips.
  const std::vector<int16_t> a = ReadPcm(VECTOR_DIR "/clip_noise_16k.in.pcm");
  WriteAudio(in + "/a.wav", kWav16, 16000, 2, a);
  WriteFile(in + "/b.wav", "RIFF but not really a wave file");
  // Float samples between 16-bit steps are rounded (halves away from zero);
  // samples beyond full scale are saturated and counted.
  const double kOffsets[] = {0.3, 0.5, -0.5, -0.7};
  const size_t kSaturatedEvery = 997;
  std::vector<int16_t> c = Scene(8000, 1.0);
  std::vector<double> x(c.size());
  for (size_t i = 0; i < x.size(); i++) {
    const double v = i % kSaturatedEvery ? c[i] + kOffsets[i % 4] : i % 2 ? 49152.0 : -49152.0;
    x[i] = v / 32768.0;
    c[i] = (int16_t)std::max(-32768.0, std::min(32767.0, std::round(v)));
  }
  WriteAudio(in + "/c.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 8000, 2, x);
  WriteFile(in + "/notes.txt", "not audio, not listed");
  WriteFile(in + "/d.pcm", "headerless: listed only with --raw");
  for (const char* jobs : {"1", "2"}) {
    const Ran r = RunMicbeam(dir, {"-j", jobs, in, "-o", dir + "/out", "--report", dir + "/report.json"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("b.wav: not a readable audio file"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("1 of 3 files failed"), std::string::npos) << r.err;
    EXPECT_EQ(Names(dir + "/out"), (std::set<std::string>{"a.wav", "c.wav"}));
    EXPECT_EQ(ReadAudio(dir + "/out/a.wav").samples, Aligned(16000, a)) << jobs;
    EXPECT_EQ(ReadAudio(dir + "/out/c.wav").samples, Aligned(8000, c)) << jobs;
  }
  const json report = json::parse(ReadFile(dir + "/report.json"));
  EXPECT_EQ((std::vector<int>{report["succeeded"], report["failed"], report["workers"]}), (std::vector<int>{2, 1, 2}));
  EXPECT_EQ(report["tuning"]["distance"], 0.05);  // not the float's 0.0500000007
  ASSERT_EQ(report["files"].size(), 3u);
  EXPECT_TRUE(report["files"][1]["error"].is_string());
  EXPECT_EQ(report["files"][2]["output"], dir + "/out/c.wav");
  const std::vector<int16_t> out = ReadAudio(dir + "/out/a.wav").samples;
  const auto range = std::minmax_element(out.begin(), out.end());
  const auto clipped = std::count_if(out.begin(), out.end(), [](int16_t s) { return std::abs((int)s) >= 32767; });
  EXPECT_GT(clipped, 0);
  EXPECT_EQ(report["files"][0]["clipped"], clipped);
  EXPECT_EQ(report["files"][0]["peak"], std::max(-(int)*range.first, (int)*range.second) / 32768.0);
  EXPECT_EQ(report["files"][0]["duration_s"], a.size() / 2 / 16000.0);
  EXPECT_EQ(report["files"][2]["input_clipped"], (x.size() + kSaturatedEvery - 1) / kSaturatedEvery);
}

struct RefusalCase {
  int status;  // 2: the command line, 1: the file
  const char* message;
  std::vector<std::string> args;  // DIR stands for the test's directory
};

class Refusal : public ::testing::TestWithParam<RefusalCase> {};

// The status and the reason; no file is made or changed.
TEST_P(Refusal, LeavesEveryFileAsItWas) {
  const std::string dir = TempDir();
  WriteAudio(dir + "/in.wav", kWav16, 16000, 2, Scene(16000, 0.2));
  WriteAudio(dir + "/in.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 16000, 2, Scene(16000, 0.2));
  WriteAudio(dir + "/mono.wav", kWav16, 16000, 1, std::vector<int16_t>(16000, 100));
  WriteAudio(dir + "/four.wav", SF_FORMAT_WAVEX | SF_FORMAT_PCM_16, 16000, 4, std::vector<int16_t>(64000, 100));
  WriteFile(dir + "/broken.wav", std::string(1000, 'x'));
  WriteFile(dir + "/out.wav", "the previous output");
  const std::set<std::string> before = Names(dir);
  std::vector<std::string> args = GetParam().args;
  for (std::string& a : args)
    if (a.rfind("DIR", 0) == 0) a = dir + a.substr(3);
  const Ran r = RunMicbeam(dir, args);
  EXPECT_EQ(r.status, GetParam().status);
  EXPECT_NE(r.err.find(GetParam().message), std::string::npos) << r.err;
  EXPECT_EQ(Names(dir), before);
  EXPECT_EQ(ReadFile(dir + "/out.wav"), "the previous output");
}

RefusalCase Option(const char* name, const char* value, const char* message) {
  return RefusalCase{2, message, {name, value, "DIR/in.wav", "-o", "DIR/out.wav"}};
}

RefusalCase File(const char* input, const char* message, const char* mics = "0,1") {
  return RefusalCase{1, message, {"--mics", mics, std::string("DIR/") + input, "-o", "DIR/out.wav"}};
}

INSTANTIATE_TEST_SUITE_P(
    MicbeamBatch, Refusal,
    ::testing::Values(
        Option("--distance", "0", "--distance 0 refused: Distance between sensors [meter] must be (0.0, 10.0]"),
        Option("--distance", "near", "--distance"),
        Option("--mics", "1,1", "--mics needs two different channels"), Option("--mics", "1", "--mics 1: give two"),
        Option("-j", "0", "--jobs"), Option("--format", "mp9", "unknown format 'mp9'"),
        Option("--format", "ogg:24", "ogg cannot hold"),
        RefusalCase{2, "the extension names no audio format", {"DIR/in.wav", "-o", "DIR/o.mp9"}},
        RefusalCase{2, "--output is required", {"DIR/in.wav"}},
        RefusalCase{2, "--live takes no input files", {"--live", "DIR/in.wav", "-o", "DIR/out.wav"}},
        RefusalCase{2, "several inputs need an output directory", {"DIR/in.wav", "DIR/in.wav", "-o", "-"}},
        RefusalCase{2, "standard input can only be the one input", {"DIR/in.wav", "-", "-o", "DIR/new"}},
        RefusalCase{2, "in.wav would both be written to", {"DIR", "-o", "DIR/new"}},
        RefusalCase{2, "would replace its own input", {"DIR/in.wav", "-o", "DIR/in.wav"}},
        File("broken.wav", "broken.wav: not a readable audio file"),
        File("mono.wav", "mono.wav: a single channel: micbeam needs two microphone channels"),
        File("four.wav", "--mics 0,4 beyond the file's 4 channels (0 to 3)", "0,4")));

TEST(MicbeamBatch, ProgressBarOnATerminalUnlessQuiet) {
  const std::string dir = TempDir();
  WriteAudio(dir + "/a.wav", kWav16, 16000, 2, Scene(16000, 0.5));
  WriteAudio(dir + "/b.wav", kWav16, 16000, 2, Scene(16000, 1.5));
  const Ran shown = RunMicbeam(dir, {dir + "/a.wav", dir + "/b.wav", "-o", dir + "/out"}, "/dev/null", true);
  EXPECT_EQ(shown.status, 0);
  EXPECT_NE(shown.out.find("[########################] 2/2 files  0:02.0 of audio  "), std::string::npos) << shown.out;
  EXPECT_NE(shown.out.find("x real time"), std::string::npos) << shown.out;
  const Ran quiet = RunMicbeam(dir, {"-q", dir + "/a.wav", dir + "/b.wav", "-o", dir + "/out"}, "/dev/null", true);
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.out, "");
}

}  // namespace
