// micbeam --live on a dummy JACK server, ALSA's file plugin capturing a known
// recording: whatever stops a run, its file is the offline output of the part
// captured.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <regex>
#include <thread>

#include "audio_files.h"
#include "ring.h"

namespace {

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
