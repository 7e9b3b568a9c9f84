// micbeam's batches, command line, output formats, report and the promise
// that an output appears only complete.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cmath>
#include <filesystem>
#include <set>

#include "audio_files.h"
#include "micarray.hpp"
#include "progress.h"
#include "scene.h"
#include "support.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

const int kWav16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16;

std::vector<int16_t> Scene(uint32_t rate, double seconds, uint32_t seed = 1) {
  TScene scene = Scene_Default(rate, seconds);
  scene.Seed = seed;
  return Scene_Render(&scene, kSceneBoth);
}

// The aligned output as the library gives it.
std::vector<int16_t> Enhanced(uint32_t rate, const std::vector<int16_t>& stereo) {
  micarray::Stream stream(rate);
  std::vector<int16_t> out;
  stream.process(stereo, out);
  stream.flush(out);
  return out;
}

std::set<std::string> Names(const std::string& dir) {
  std::set<std::string> names;
  for (const fs::directory_entry& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
}

TEST(MicbeamBatch, OneBrokenFileDoesNotStopTheOthers) {
  const std::string dir = TempDir();
  fs::create_directory(dir + "/in");
  const std::vector<int16_t> a = Scene(16000, 1.0, 1), c = Scene(8000, 1.0, 2);
  WriteAudio(dir + "/in/a.wav", kWav16, 16000, 2, a);
  WriteFile(dir + "/in/b.wav", "RIFF but not really a wave file");
  WriteAudio(dir + "/in/c.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 8000, 2, c);
  WriteFile(dir + "/in/notes.txt", "not audio, not listed");
  WriteFile(dir + "/in/d.pcm", "headerless: listed only with --raw");

  const Ran r = RunMicbeam(dir, {"-j", "2", dir + "/in", "-o", dir + "/out", "--report", dir + "/report.json"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("b.wav: not a readable audio file"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("1 of 3 files failed"), std::string::npos) << r.err;
  EXPECT_EQ(Names(dir + "/out"), (std::set<std::string>{"a.wav", "c.wav"}));
  EXPECT_EQ(ReadAudio(dir + "/out/a.wav").samples, Enhanced(16000, a));
  EXPECT_EQ(ReadAudio(dir + "/out/c.wav").samples, Enhanced(8000, c));

  const json report = json::parse(ReadFile(dir + "/report.json"));
  EXPECT_EQ(report["succeeded"], 2);
  EXPECT_EQ(report["failed"], 1);
  ASSERT_EQ(report["files"].size(), 3u);
  EXPECT_EQ(report["files"][0]["ok"], true);
  EXPECT_EQ(report["files"][1]["ok"], false);
  EXPECT_TRUE(report["files"][1]["error"].is_string());
  EXPECT_EQ(report["files"][2]["rate"], 8000);
  EXPECT_EQ(report["files"][2]["output"], dir + "/out/c.wav");
}

// One worker or several, every file gets its own engine and the same result.
TEST(MicbeamBatch, WorkersDoNotChangeTheOutputs) {
  const std::string dir = TempDir();
  std::vector<std::string> args;
  for (uint32_t k = 0; k < 4; k++) {
    const std::string name = dir + "/in" + std::to_string(k) + ".wav";
    WriteAudio(name, kWav16, 16000, 2, Scene(16000, 0.5, k + 1));
    args.push_back(name);
  }
  std::vector<std::string> one = args, two = args;
  one.insert(one.end(), {"-j", "1", "-o", dir + "/one"});
  two.insert(two.end(), {"-j", "2", "-o", dir + "/two"});
  ASSERT_EQ(RunMicbeam(dir, one).status, 0);
  ASSERT_EQ(RunMicbeam(dir, two).status, 0);
  for (uint32_t k = 0; k < 4; k++) {
    const std::string name = "/in" + std::to_string(k) + ".wav";
    EXPECT_EQ(ReadFile(dir + "/one" + name), ReadFile(dir + "/two" + name)) << name;
    EXPECT_EQ(ReadAudio(dir + "/one" + name).samples, Enhanced(16000, Scene(16000, 0.5, k + 1)));
  }
}

struct RefusalCase {
  std::vector<std::string> args;  // before the input and output
  const char* message;
};

class Refusal : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(Refusal, EndsWithStatus2BeforeAnyFile) {
  const std::string dir = TempDir();
  WriteAudio(dir + "/in.wav", kWav16, 16000, 2, Scene(16000, 0.2));
  std::vector<std::string> args = GetParam().args;
  for (std::string& a : args)
    if (a.rfind("DIR", 0) == 0) a = dir + a.substr(3);
  const Ran r = RunMicbeam(dir, args);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find(GetParam().message), std::string::npos) << r.err;
  EXPECT_EQ(Names(dir), (std::set<std::string>{"in.wav"}));
}

INSTANTIATE_TEST_SUITE_P(
    MicbeamBatch, Refusal,
    ::testing::Values(
        RefusalCase{{"--distance", "0", "DIR/in.wav", "-o", "DIR/o.wav"},
                    "--distance 0 refused: Distance between sensors [meter] must be (0.0, 10.0]"},
        RefusalCase{{"--speed", "1.5", "DIR/in.wav", "-o", "DIR/o.wav"}, "--speed 1.5 refused"},
        RefusalCase{{"--suppression", "0.5", "DIR/in.wav", "-o", "DIR/o.wav"},
                    "--suppression 0.5 refused: pSdb: [-80.0, 0.0]"},
        RefusalCase{{"--noise-rate", "1", "DIR/in.wav", "-o", "DIR/o.wav"}, "--noise-rate 1 refused: pNn"},
        RefusalCase{{"--musical", "0.59", "DIR/in.wav", "-o", "DIR/o.wav"}, "--musical 0.59 refused: pMn"},
        RefusalCase{{"--distance", "nan", "DIR/in.wav", "-o", "DIR/o.wav"}, "--distance nan refused"},
        RefusalCase{{"--distance", "near", "DIR/in.wav", "-o", "DIR/o.wav"}, "--distance"},
        RefusalCase{{"--mics", "1,1", "DIR/in.wav", "-o", "DIR/o.wav"}, "--mics needs two different channels"},
        RefusalCase{{"--mics", "1", "DIR/in.wav", "-o", "DIR/o.wav"}, "--mics"},
        RefusalCase{{"-j", "0", "DIR/in.wav", "-o", "DIR/o.wav"}, "--jobs"},
        RefusalCase{{"--format", "mp9", "DIR/in.wav", "-o", "DIR/o.wav"}, "unknown format 'mp9'"},
        RefusalCase{{"--format", "ogg:24", "DIR/in.wav", "-o", "DIR/o.ogg"}, "ogg cannot hold"},
        RefusalCase{{"DIR/in.wav", "-o", "DIR/o.mp9"}, "the extension names no audio format"},
        RefusalCase{{"DIR/in.wav"}, "--output is required"},
        RefusalCase{{"DIR/in.wav", "DIR/in.wav", "-o", "-"}, "several inputs need an output directory"},
        RefusalCase{{"DIR/in.wav", "-", "-o", "DIR/out"}, "standard input can only be the one input"},
        RefusalCase{{"DIR/in.wav", "-o", "DIR/in.wav"}, "would replace its own input"}));

TEST(MicbeamBatch, BoundaryTuningValuesAreAccepted) {
  const std::string dir = TempDir();
  WriteAudio(dir + "/in.wav", kWav16, 16000, 2, Scene(16000, 0.2));
  const Ran r = RunMicbeam(dir, {"--distance", "10", "--speed", "1", "--suppression", "-80", "--noise-rate", "0.6",
                                 "--musical", "0.9995", dir + "/in.wav", "-o", dir + "/out.wav"});
  EXPECT_EQ(r.status, 0) << r.err;
}

TEST(MicbeamBatch, CollidingOutputsAreRefused) {
  const std::string dir = TempDir();
  fs::create_directory(dir + "/in");
  WriteAudio(dir + "/in/a.wav", kWav16, 16000, 2, Scene(16000, 0.2));
  WriteAudio(dir + "/in/a.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 16000, 2, Scene(16000, 0.2));
  const Ran r = RunMicbeam(dir, {dir + "/in", "-o", dir + "/out"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("would both be written to " + dir + "/out/a.wav"), std::string::npos) << r.err;
  EXPECT_FALSE(FileExists(dir + "/out"));
}

// A failed run leaves the file of the output's name as it was, and nothing
// beside it.
TEST(MicbeamBatch, FailureKeepsTheExistingOutput) {
  const std::string dir = TempDir();
  WriteFile(dir + "/broken.wav", std::string(1000, 'x'));
  WriteFile(dir + "/out.wav", "the previous output");
  const Ran r = RunMicbeam(dir, {dir + "/broken.wav", "-o", dir + "/out.wav"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(ReadFile(dir + "/out.wav"), "the previous output");
  EXPECT_EQ(Names(dir), (std::set<std::string>{"broken.wav", "out.wav"}));
}

struct OutputCase {
  std::vector<std::string> args;  // output options
  const char* name;               // of the output file
  int format;
};

class OutputFormat : public ::testing::TestWithParam<OutputCase> {};

TEST_P(OutputFormat, FollowsTheExtensionOrTheFormatOption) {
  const std::string dir = TempDir();
  const std::vector<int16_t> in = Scene(16000, 0.5);
  WriteAudio(dir + "/in.wav", kWav16, 16000, 2, in);
  std::vector<std::string> args = {dir + "/in.wav"};
  for (const std::string& a : GetParam().args) args.push_back(a.rfind("DIR", 0) == 0 ? dir + a.substr(3) : a);
  const Ran r = RunMicbeam(dir, args);
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string path = dir + "/" + GetParam().name;
  SF_INFO info = {};
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  ASSERT_NE(f, nullptr) << path;
  EXPECT_EQ(info.format, GetParam().format);
  // Every format holds the 16-bit output exactly.
  std::vector<double> samples((size_t)info.frames);
  sf_read_double(f, samples.data(), info.frames);
  sf_close(f);
  const std::vector<int16_t> expected = Enhanced(16000, in);
  ASSERT_EQ(samples.size(), expected.size());
  for (size_t n = 0; n < samples.size(); n++) ASSERT_EQ(samples[n] * 32768.0, expected[n]) << n;
}

INSTANTIATE_TEST_SUITE_P(
    MicbeamBatch, OutputFormat,
    ::testing::Values(OutputCase{{"-o", "DIR/out.flac"}, "out.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
                      OutputCase{{"-o", "DIR/out.AIF"}, "out.AIF", SF_FORMAT_AIFF | SF_FORMAT_PCM_16},
                      OutputCase{{"--format", "wav:24", "-o", "DIR/out.x"}, "out.x", SF_FORMAT_WAV | SF_FORMAT_PCM_24},
                      OutputCase{{"--format", "wav:float", "-o", "DIR/o.wav"}, "o.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT},
                      OutputCase{{"--format", "flac:24", "-o", "DIR/dir/"}, "dir/in.flac",
                                 SF_FORMAT_FLAC | SF_FORMAT_PCM_24},
                      OutputCase{{"-o", "DIR/out.wave"}, "out.wave", kWav16}));

TEST(MicbeamBatch, RawOutputIsHeaderless) {
  const std::string dir = TempDir();
  const std::vector<int16_t> in = Scene(16000, 0.5);
  WriteAudio(dir + "/in.wav", kWav16, 16000, 2, in);
  ASSERT_EQ(RunMicbeam(dir, {dir + "/in.wav", "-o", dir + "/out.pcm"}).status, 0);
  EXPECT_EQ(ReadPcm(dir + "/out.pcm"), Enhanced(16000, in));
}

// Peak and clipping from the written samples; durations and rates.
TEST(MicbeamBatch, ReportFigures) {
  const std::string dir = TempDir();
  // Noise at full scale, which the engine's output clips.
  const std::vector<int16_t> loud = ReadPcm(VECTOR_DIR "/clip_noise_16k.in.pcm");
  ASSERT_EQ(loud.size(), 2u * 16000);
  WriteAudio(dir + "/loud.wav", kWav16, 16000, 2, loud);
  WriteAudio(dir + "/quiet.wav", kWav16, 44100, 2, std::vector<int16_t>(2 * 44100, 0));
  const Ran r =
      RunMicbeam(dir, {"-j", "2", dir + "/loud.wav", dir + "/quiet.wav", "-o", dir + "/out", "--report", dir + "/r.json"});
  ASSERT_EQ(r.status, 0) << r.err;
  const json report = json::parse(ReadFile(dir + "/r.json"));
  const json& l = report["files"][0];
  const json& q = report["files"][1];

  const std::vector<int16_t> out = ReadAudio(dir + "/out/loud.wav").samples;
  int peak = 0;
  size_t clipped = 0;
  for (int16_t s : out) {
    peak = std::max(peak, std::abs((int)s));
    clipped += std::abs((int)s) >= 32767;
  }
  EXPECT_GT(clipped, 0u);
  EXPECT_EQ(l["clipped"], clipped);
  EXPECT_EQ(l["peak"], peak / 32768.0);
  EXPECT_DOUBLE_EQ(l["peak_dbfs"].get<double>(), 20 * std::log10(peak / 32768.0));
  EXPECT_EQ(l["duration_s"], 1.0);
  EXPECT_EQ(l["engine_rate"], 16000);
  EXPECT_EQ(l["output_frames"], 16000);

  EXPECT_EQ(q["peak"], 0.0);
  EXPECT_TRUE(q["peak_dbfs"].is_null());
  EXPECT_EQ(q["clipped"], 0);
  EXPECT_EQ(q["rate"], 44100);
  EXPECT_EQ(q["engine_rate"], 44100);
  EXPECT_EQ(q["duration_s"], 1.0);
  EXPECT_GE(q["processing_s"].get<double>(), 0.0);
  EXPECT_EQ(report["tuning"]["distance"], 0.05);
  EXPECT_EQ(report["workers"], 2);
}

// Standard error is not a terminal here: no progress bar, nothing at all.
TEST(MicbeamBatch, SilentWhenStandardErrorIsNotATerminal) {
  const std::string dir = TempDir();
  WriteAudio(dir + "/in.wav", kWav16, 16000, 2, Scene(16000, 0.5));
  const Ran r = RunMicbeam(dir, {dir + "/in.wav", "-o", dir + "/out.wav"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "");
}

}  // namespace

namespace {

// What a terminal shows of a run: micbeam under a pseudo-terminal.
std::string OnATerminal(const std::string& dir, const std::vector<std::string>& args) {
  std::string cmd = ShellQuote(MICBEAM_EXE);
  for (const std::string& a : args) cmd += " " + ShellQuote(a);
  const std::string screen = dir + "/.screen";
  const int st = system(("script -qec " + ShellQuote(cmd) + " /dev/null </dev/null >" + ShellQuote(screen)).c_str());
  EXPECT_TRUE(st != -1 && WIFEXITED(st) && WEXITSTATUS(st) == 0);
  return ReadFile(screen);
}

TEST(MicbeamBatch, ProgressBarOnATerminalUnlessQuiet) {
  const std::string dir = TempDir();
  WriteAudio(dir + "/a.wav", kWav16, 16000, 2, Scene(16000, 0.5));
  WriteAudio(dir + "/b.wav", kWav16, 16000, 2, Scene(16000, 1.5));
  const std::string shown = OnATerminal(dir, {dir + "/a.wav", dir + "/b.wav", "-o", dir + "/out"});
  EXPECT_NE(shown.find("] 2/2 files  0:02.0 of audio  "), std::string::npos) << shown;
  EXPECT_NE(shown.find("x real time"), std::string::npos) << shown;
  EXPECT_EQ(OnATerminal(dir, {"-q", dir + "/a.wav", dir + "/b.wav", "-o", dir + "/out"}), "");
}

TEST(MicbeamBatch, ProgressLineCountsFilesAudioAndSpeed) {
  TProgress progress;
  Progress_Start(&progress, 4, true);
  EXPECT_EQ(Progress_Line(&progress, 0.0), "[........................] 0/4 files  0:00.0 of audio  0.0x real time");
  progress.done = 1;
  progress.audioMicros = 90500000;
  EXPECT_EQ(Progress_Line(&progress, 10.0), "[######..................] 1/4 files  1:30.5 of audio  9.1x real time");
  progress.done = 4;
  EXPECT_EQ(Progress_Line(&progress, 1.0).substr(0, 26), "[########################]");
}

}  // namespace
