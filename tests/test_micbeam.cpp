// micbeam end to end, run as a user would: real files of each format, rate and
// channel count against the engine's own stream; batches, float input, command
// line, failures, report and progress bar, and the promise that an output
// appears only complete. Then --live on a dummy JACK server, ALSA's file plugin
// capturing a known recording: whatever stops a run, its file is the offline
// output of the part captured.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <regex>
#include <set>
#include <thread>

#include "audio_files.h"
#include "progress.h"
#include "ring.h"

namespace {
namespace fs = std::filesystem;
using nlohmann::json;

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
    const RunResult r = RunMicbeam({"-j", jobs, in, "-o", dir + "/out", "--report", dir + "/report.json"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("b.wav: not a readable audio file"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("1 of 3 files failed"), std::string::npos) << r.err;
    EXPECT_EQ(Listing(dir + "/out"), (std::set<std::string>{"a.wav", "c.wav"}));
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
  const std::set<std::string> before = Listing(dir);
  std::vector<std::string> args = GetParam().args;
  for (std::string& a : args)
    if (a.rfind("DIR", 0) == 0) a = dir + a.substr(3);
  std::string message = GetParam().message;
  if (message.find("DIR") != std::string::npos) message.replace(message.find("DIR"), 3, dir);
  const RunResult r = RunMicbeam(args);
  EXPECT_EQ(r.status, GetParam().status);
  EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
  EXPECT_EQ(Listing(dir), before);
  EXPECT_EQ(ReadFile(dir + "/out.wav"), "the previous output");
}

RefusalCase Option(const char* name, const char* value, const char* message) {
  return RefusalCase{2, message, {name, value, "DIR/in.wav", "-o", "DIR/out.wav"}};
}

RefusalCase BadFile(const char* input, const char* message, const char* mics = "0,1") {
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
        RefusalCase{2, "not DIR/one.wav", {"DIR/in.wav", "DIR/in.flac", "-o", "DIR/one.wav"}},
        // Checked before any work: no output is made.
        RefusalCase{2, "cannot write the report DIR/missing/r.json",
                    {"DIR/in.wav", "-o", "DIR/new.wav", "--report", "DIR/missing/r.json"}},
        RefusalCase{2, "standard input can only be the one input", {"DIR/in.wav", "-", "-o", "DIR/new"}},
        RefusalCase{2, "in.wav would both be written to", {"DIR", "-o", "DIR/new"}},
        RefusalCase{2, "would replace its own input", {"DIR/in.wav", "-o", "DIR/in.wav"}},
        BadFile("broken.wav", "broken.wav: not a readable audio file"),
        BadFile("mono.wav", "mono.wav: a single channel: micbeam needs two microphone channels"),
        BadFile("four.wav", "--mics 0,4 beyond the file's 4 channels (0 to 3)", "0,4")));

// A file declaring 1 Hz (converted up to 8000 Hz, 8000 times as many
// samples) runs in a few MB; its output has the input's length.
TEST(MicbeamBatch, MemoryStaysBoundedAtATinyRate) {
  const std::string dir = TempDir();
  WriteAudio(dir + "/in.wav", kWav16, 1, 2, std::vector<int16_t>(600, 1000));
  const Spawned r = Spawn(MICBEAM_EXE, {dir + "/in.wav", "-o", dir + "/out.wav"});
  EXPECT_TRUE(WIFEXITED(r.status) && WEXITSTATUS(r.status) == 0);
  EXPECT_EQ(ReadAudio(dir + "/out.wav").samples.size(), 300u);
#if !defined(__SANITIZE_ADDRESS__)  // the sanitizer's own memory is large
  EXPECT_LT(r.maxRssKb, 40000);
#endif
}

// SIGINT or SIGTERM in the middle of a batch ends micbeam by that signal,
// with no output file half-written or left under a temporary name.
TEST(MicbeamBatch, SignalsLeaveNothingBehind) {
  const std::string dir = TempDir(), out = TempDir();
  // Long at a low rate: each file takes seconds once converted up.
  WriteAudio(dir + "/a.wav", kWav16, 100, 2, Scene(8000, 5.0));
  WriteAudio(dir + "/b.wav", kWav16, 100, 2, Scene(8000, 5.0));
  for (int signal : {SIGINT, SIGTERM}) {
    const Spawned r = Spawn(MICBEAM_EXE, {dir + "/a.wav", dir + "/b.wav", "-o", out}, signal, out);
    EXPECT_TRUE(WIFSIGNALED(r.status) && WTERMSIG(r.status) == signal) << signal;
    EXPECT_EQ(Listing(out), std::set<std::string>()) << signal;
  }
}

// On a terminal (unless quiet) the bar and the time left follow the audio, within
// a file too: files not opened yet count as long as the mean of those opened.
TEST(MicbeamBatch, ProgressBarOnATerminalUnlessQuiet) {
  TProgress p;
  Progress_Start(&p, 2, true);
  p.opened = 1;
  p.totalMicros = 3600000000ull;  // one hour in the file opened
  p.audioMicros = 900000000ull;   // a quarter of it done, in a minute
  EXPECT_EQ(Progress_Line(&p, 60.0),
            "[###.....................] 0/2 files  15:00.0 of 2:00:00 audio  15.0x real time  7:00.0 left");
  const std::string dir = TempDir();
  WriteAudio(dir + "/a.wav", kWav16, 16000, 2, Scene(16000, 0.5));
  WriteAudio(dir + "/b.wav", kWav16, 16000, 2, Scene(16000, 1.5));
  std::vector<std::string> args = {dir + "/a.wav", dir + "/b.wav", "-o", dir + "/out"};
  const RunResult shown = RunMicbeam(args, "/dev/null", true);
  EXPECT_EQ(shown.status, 0);
  EXPECT_NE(shown.out.find("[########################] 2/2 files  0:02.0 of 0:02.0 audio  "), std::string::npos)
      << shown.out;
  EXPECT_NE(shown.out.find("x real time"), std::string::npos) << shown.out;
  args.insert(args.begin(), "-q");
  const RunResult quiet = RunMicbeam(args, "/dev/null", true);
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.out, "");
  const RunResult version = RunMicbeam({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "micbeam " MICARRAY_VERSION "\n");
}

// micbeam --live: a dummy JACK server, ALSA's file plugin capturing a known recording.
const uint32_t kRate = 16000;
const uint32_t kConvertedRate = 96000;  // beyond the engines' rates: converted to 48000 Hz and back
const double kRecordingSeconds = 10.0;  // longer than any run
const double kRunSeconds = 1.5;
const unsigned kServerWait = 10;        // seconds for a server or a client to come up
const unsigned kPollsPerSecond = 20;
const unsigned kMicrosPerSecond = 1000000;

// The file plugin reads the recording in step with the server's capture ports
// (through plug: the server's samples are floats); enumeration needs a default.
std::string AlsaConfig(const std::string& dir) {
  std::string capture;
  for (const char* name : {"micin", "micin4"})
    capture += "pcm." + std::string(name) + " { type file file \"/dev/null\" infile \"" + dir + "/" + name +
               ".raw\" format \"raw\" slave.pcm { type plug slave.pcm \"server\" } }\n";
  return capture +
         "pcm.speaker { type jack playback_ports { 0 system:playback_1 1 system:playback_2 } }\n"
         "pcm.server { type jack capture_ports { 0 system:capture_1 1 system:capture_2 } }\n"
         "pcm.default { type null }\n";
}

// A dummy JACK server under its own name, ready when this returns.
pid_t StartServer(const std::string& name, uint32_t rate = kRate) {
  const pid_t pid = Start({"jackd", "-n", name, "--no-realtime", "-d", "dummy", "-r", std::to_string(rate),
                           "-C", "2", "-P", "2"});
  const std::string wait =
      "jack_wait -s " + name + " -w -t " + std::to_string(kServerWait) + " >/dev/null 2>&1";
  if (system(wait.c_str()) != 0) throw std::runtime_error("the JACK server " + name + " did not start");
  return pid;
}

class Live : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (system("command -v jackd >/dev/null && command -v jack_wait >/dev/null") != 0) return;
    dir = TempDir();
    recording = Scene(kRate, kRecordingSeconds);
    WritePcm(dir + "/micin.raw", recording);
    // Four channels, the microphones in 3 and 1 and another scene between.
    const std::vector<int16_t> other = Scene(kRate, kRecordingSeconds, kSceneInterferer);
    std::vector<int16_t> four;
    for (size_t n = 0; n < recording.size(); n += 2)
      four.insert(four.end(), {other[n], recording[n + 1], other[n + 1], recording[n]});
    WritePcm(dir + "/micin4.raw", four);
    WriteFile(dir + "/asound.conf", AlsaConfig(dir));
    setenv("ALSA_CONFIG_PATH", (dir + "/asound.conf").c_str(), 1);
    server = "micbeam_test_" + std::to_string(getpid());
    setenv("JACK_DEFAULT_SERVER", server.c_str(), 1);
    jackd = StartServer(server);
  }
  static void TearDownTestSuite() {
    if (!jackd) return;
    kill(jackd, SIGTERM);
    Finish(jackd);
  }
  void SetUp() override {
    if (!jackd) GTEST_SKIP() << "needs jackd and jack_wait (Debian's jackd2)";
  }

  // micbeam with args; `after` seconds after it joined the server, `signal`
  // goes to `target` (micbeam itself when 0).
  static RunResult RunLive(const std::vector<std::string>& args, double after, int signal, pid_t target = 0) {
    std::vector<std::string> argv = {MICBEAM_EXE};
    argv.insert(argv.end(), args.begin(), args.end());
    const pid_t pid = Start(argv, dir + "/.stdout", dir + "/.stderr");
    const std::string joined = "jack_lsp 2>/dev/null | grep -qv '^system:'";  // ports of a client
    for (unsigned k = 0; k < kServerWait * kPollsPerSecond && system(joined.c_str()) != 0; k++)
      usleep(kMicrosPerSecond / kPollsPerSecond);
    usleep((useconds_t)(after * kMicrosPerSecond));
    kill(target ? target : pid, signal);
    const int status = Finish(pid);
    return RunResult{status, ReadFile(dir + "/.stdout"), ReadFile(dir + "/.stderr")};
  }

  // The live file holds the offline output of the recording's first frames:
  // as many as the file holds samples (aligned), byte for byte.
  static void ExpectOffline(const std::string& live, const std::vector<std::string>& engine,
                            uint32_t rate = kRate) {
    const Audio out = ReadAudio(live);
    ASSERT_EQ(out.rate, (int)rate);
    ASSERT_GT(out.samples.size(), 0u);
    const std::vector<int16_t> captured(recording.begin(), recording.begin() + 2 * (long)out.samples.size());
    WriteAudio(dir + "/captured.wav", kWav16, (int)rate, 2, captured);
    std::vector<std::string> args = engine;
    args.insert(args.end(), {dir + "/captured.wav", "-o", dir + "/offline.wav"});
    ASSERT_EQ(RunMicbeam(args).status, 0);
    EXPECT_TRUE(ReadFile(live) == ReadFile(dir + "/offline.wav"));
  }

  static std::string dir, server;
  static std::vector<int16_t> recording;
  static pid_t jackd;
};

std::string Live::dir, Live::server;
std::vector<int16_t> Live::recording;
pid_t Live::jackd = 0;

TEST_F(Live, ListsTheVirtualDevicesAndRefusesAnUnknownOne) {
  const RunResult list = RunMicbeam({"--list-devices"});
  EXPECT_EQ(list.status, 0);
  EXPECT_NE(list.out.find("micin (ALSA)  in "), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("speaker (ALSA)  in "), std::string::npos) << list.out;
  const RunResult unknown = RunMicbeam({"--live", "--input-device", "nowhere", "-o", dir + "/x.wav"});
  EXPECT_EQ(unknown.status, 2);
  EXPECT_NE(unknown.err.find("no input device nowhere"), std::string::npos) << unknown.err;
  EXPECT_FALSE(std::filesystem::exists(dir + "/x.wav"));
}

struct DurationCase {
  std::vector<std::string> engine;
  std::vector<std::string> extra;  // device, playback, alignment
  size_t samples;                  // in the file
  uint32_t rate = kRate;           // the server's; another one runs on a server of its own
};

class LiveDuration : public Live, public ::testing::WithParamInterface<DurationCase> {};

// A run of --duration on a terminal: the status line, then the offline output
// of exactly that much of the recording (at a rate the engines do not run,
// converted there and back as for files).
TEST_P(LiveDuration, FileEqualsTheOfflineOutput) {
  const DurationCase& c = GetParam();
  const std::string live = dir + "/duration.wav", own = server + "_" + std::to_string(c.rate);
  std::vector<std::string> args = c.engine;
  args.insert(args.end(), {"--live", "--duration", std::to_string(kRunSeconds), "-o", live});
  args.insert(args.end(), c.extra.begin(), c.extra.end());
  const pid_t ownServer = c.rate == kRate ? 0 : StartServer(own, c.rate);
  if (ownServer) setenv("JACK_DEFAULT_SERVER", own.c_str(), 1);
  const RunResult r = RunMicbeam(args, "/dev/null", true);
  if (ownServer) {
    setenv("JACK_DEFAULT_SERVER", server.c_str(), 1);
    kill(ownServer, SIGTERM);
    Finish(ownServer);
  }
  ASSERT_EQ(r.status, 0) << r.out;
  const std::regex status("mics +-?[0-9.]+ +-?[0-9.]+ dBFS  out +-?[0-9.]+ dBFS  overruns [0-9]+  "
                          "underruns [0-9]+  latency [0-9]+ ms \\(device [0-9]+ \\+ engine [0-9]+\\)");
  EXPECT_TRUE(std::regex_search(r.out, status)) << r.out;
  EXPECT_EQ(ReadAudio(live).samples.size(), c.samples);
  std::vector<std::string> offline = c.engine;
  if (c.extra.back() == "--no-align") offline.push_back("--no-align");
  ExpectOffline(live, offline, c.rate);
}

const std::vector<std::string> kClassic = {"--engine", "classic"};
const std::vector<std::string> kPlayback = {"--input-device", "micin", "--output-device", "speaker"};
INSTANTIATE_TEST_SUITE_P(
    Micbeam, LiveDuration,
    ::testing::Values(DurationCase{kClassic, kPlayback, 24000},
                      // two channels of a larger device; whole steps of the engine's own stream: 93 of 256
                      DurationCase{{"--engine", "mvdr"},
                                   {"--input-device", "micin4", "--mics", "3,1", "--no-align"},
                                   23808},
                      DurationCase{kClassic, kPlayback, 144000, kConvertedRate}));

// Ctrl-C, SIGTERM, or the server going away mid-run: the file holds what
// was captured; only the device's failure is an error.
TEST_F(Live, StoppedMidRunLeavesTheOfflineOutput) {
  for (int signal : {SIGINT, SIGTERM}) {
    const std::string live = dir + "/stopped.wav";
    const RunResult r = RunLive({"--engine", "classic", "--live", "--input-device", "micin",
                                 "--output-device", "speaker", "-o", live},
                                kRunSeconds, signal);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    ExpectOffline(live, {"--engine", "classic"});
  }
  const std::string name = server + "_gone";
  setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
  const std::string live = dir + "/gone.wav";
  const pid_t gone = StartServer(name);
  const RunResult r = RunLive({"--engine", "classic", "--live", "--input-device", "micin", "-o", live},
                              kRunSeconds, SIGTERM, gone);
  Finish(gone);
  setenv("JACK_DEFAULT_SERVER", server.c_str(), 1);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("micbeam: the input device stopped delivering audio"), std::string::npos) << r.err;
  ExpectOffline(live, {"--engine", "classic"});
}

// Counting values through a small ring from another thread, in wrapping blocks:
// each arrives once, in order; a block is written whole or not at all.
TEST(Ring, CarriesEveryValueInOrderAcrossThreads) {
  const size_t kCapacity = 1000, kTotal = 100000, kLargestBlock = 997, kReadBlock = 613;
  TRing ring;
  Ring_Init(&ring, kCapacity);
  std::thread producer([&] {
    std::vector<int16_t> block;
    for (size_t next = 0, n = 1; next < kTotal; next += block.size(), n = (7 * n + 3) % kLargestBlock + 1) {
      block.clear();
      for (size_t k = next; k < std::min(next + n, kTotal); k++) block.push_back((int16_t)k);
      while (!Ring_Write(&ring, block.data(), block.size())) std::this_thread::yield();
    }
  });
  std::vector<int16_t> got(kTotal);
  for (size_t have = 0; have < kTotal;) {
    const size_t taken = Ring_Read(&ring, &got[have], std::min(kReadBlock, kTotal - have));
    if (!taken) std::this_thread::yield();
    have += taken;
  }
  producer.join();
  for (size_t k = 0; k < kTotal; k++) ASSERT_EQ(got[k], (int16_t)k) << k;
  const std::vector<int16_t> full(kCapacity + 1, 0);
  EXPECT_FALSE(Ring_Write(&ring, full.data(), kCapacity + 1));
  EXPECT_TRUE(Ring_Write(&ring, full.data(), kCapacity));
  EXPECT_EQ(Ring_Used(&ring), kCapacity);
}

}  // namespace
