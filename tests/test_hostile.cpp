// Both programs on hostile input and output: a message and status 1, never a crash,
// a hang, a partial output or a temporary file left behind. Broken headers: test_wavbeam.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "support.h"
#include "wavfile.h"

namespace {

const size_t kStepBytes16k = 128 * 4;  // one step of stereo pairs at 16000 Hz
const std::string kSpeech16k = ReadFile(std::string(VECTOR_DIR) + "/talker_16k.in.pcm");
const char* const kCannotWrite = "Couldn't Write File\n";

// The arguments of wavbeam (WAV input and output) or pcmbeam (raw samples at 16000 Hz).
std::vector<std::string> Args(bool wav, const std::string& input, const std::string& output) {
  std::vector<std::string> args = kTuning;
  if (!wav) args.push_back("16000");
  args.insert(args.end(), {input, output});
  return args;
}

RunResult RunBeam(bool wav, const std::string& input, const std::string& output) {
  return ::Run(wav ? WAVBEAM_EXE : PCMBEAM_EXE, Args(wav, input, output));
}

// Both programs: wavbeam (true) and pcmbeam.
class Hostile : public ::testing::TestWithParam<bool> {
 protected:
  // A failed run: status 1 and the message last, no report of a finished run.
  void ExpectFailure(const std::string& input, const std::string& output, const std::string& message) {
    const RunResult r = RunBeam(GetParam(), input, output);
    EXPECT_EQ(r.status, 1) << input << " -> " << output;
    const size_t tail = std::min(r.out.size(), message.size());
    EXPECT_EQ(r.out.substr(r.out.size() - tail), message) << output;
    EXPECT_EQ(r.out.find("It's finished"), std::string::npos) << output;
  }
  // A valid input of `steps` steps.
  std::string Input(size_t steps) const {
    const std::string speech = kSpeech16k.substr(0, steps * kStepBytes16k);
    return GetParam() ? WavFile(WavFormat(), speech) : speech;
  }
  const std::string dir = TempDir(), in = dir + "/in", out = dir + "/out";
};

// Read errors (a directory, a file unreadable even for root); write errors on opening,
// writing or closing, and past the largest file allowed. The old output is kept.
TEST_P(Hostile, FailuresAreReportedAndLeaveTheOutputAsItWas) {
  WriteFile(out, "the previous output");
  for (const std::string& input : {dir, std::string("/proc/self/mem")})
    ExpectFailure(input, out, "Couldn't read input file\n");
  for (size_t steps : {1, 40}) {
    WriteFile(in, Input(steps));
    for (const std::string& output : {dir + "/missing/out", std::string("/dev/full"), dir})
      ExpectFailure(in, output, kCannotWrite);
  }
  rlimit saved, lowered;
  getrlimit(RLIMIT_FSIZE, &saved);
  lowered = {4096, saved.rlim_max};
  setrlimit(RLIMIT_FSIZE, &lowered);
  const sighandler_t previous = signal(SIGXFSZ, SIG_IGN);  // exceeding the limit is then a write error
  ExpectFailure(in, out, kCannotWrite);
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, previous);
  EXPECT_EQ(ReadFile(out), "the previous output");
  EXPECT_EQ(Listing(dir), (std::set<std::string>{"in", "out"}));
}

TEST_P(Hostile, PermissionsAreRespected) {
  if (geteuid() == 0) GTEST_SKIP() << "running as root: permissions do not bind";
  WriteFile(in, Input(4));
  WriteFile(out, "the previous output");
  ASSERT_EQ(chmod(in.c_str(), 0), 0);
  ExpectFailure(in, out, "Couldn't read input file\n");
  ASSERT_EQ(chmod(in.c_str(), 0644), 0);
  ASSERT_EQ(chmod(out.c_str(), 0444), 0);
  ExpectFailure(in, out, kCannotWrite);
  EXPECT_EQ(ReadFile(out), "the previous output");
  EXPECT_EQ(Listing(dir), (std::set<std::string>{"in", "out"}));
}

// A successful run replaces the output whole: through a symbolic link (the
// link stays, its target keeps its permissions), in place of its input, and
// under the longest name a directory takes.
TEST_P(Hostile, SuccessfulRunReplacesTheOutputWhole) {
  WriteFile(in, Input(10));
  WriteFile(dir + "/target", "the previous output");
  ASSERT_EQ(chmod((dir + "/target").c_str(), 0640), 0);
  ASSERT_EQ(symlink("target", out.c_str()), 0);
  ASSERT_EQ(RunBeam(GetParam(), in, out).status, 0);
  struct stat st;
  EXPECT_TRUE(lstat(out.c_str(), &st) == 0 && S_ISLNK(st.st_mode));
  EXPECT_TRUE(stat(out.c_str(), &st) == 0 && (st.st_mode & 07777) == 0640);
  const std::string expected = ReadFile(out);
  EXPECT_EQ(expected.size(), (GetParam() ? 56 : 0) + 10 * kStepBytes16k / 2);
  const std::string longest(255, 'n');
  ASSERT_EQ(RunBeam(GetParam(), in, dir + "/" + longest).status, 0);
  EXPECT_EQ(ReadFile(dir + "/" + longest), expected);
  ASSERT_EQ(RunBeam(GetParam(), in, in).status, 0);
  EXPECT_EQ(ReadFile(in), expected);
  EXPECT_EQ(Listing(dir), (std::set<std::string>{"in", "out", "target", longest}));
}

// SIGINT or SIGTERM mid-output (the input a pipe kept open) ends the program by
// that signal; the output keeps what it held and nothing else is left.
TEST_P(Hostile, SignalsLeaveNothingBehind) {
  const std::string inputs = TempDir();  // elsewhere: only the output's directory is watched
  WriteFile(out, "the previous output");
  for (int signal : {SIGINT, SIGTERM}) {
    const std::string fifo = inputs + "/" + std::to_string(signal);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int writer = open(fifo.c_str(), O_RDWR);  // never at the end of the input
    // A WAV header of unknown size: the samples run to the end of the input.
    const std::string start = GetParam() ? WavFile(WavFormat(), Input(8).substr(44), 0xFFFFFFFFll) : Input(8);
    ASSERT_EQ(write(writer, start.data(), start.size()), (ssize_t)start.size());
    const Spawned r = Spawn(GetParam() ? WAVBEAM_EXE : PCMBEAM_EXE, Args(GetParam(), fifo, out), signal, dir);
    close(writer);
    EXPECT_TRUE(WIFSIGNALED(r.status) && WTERMSIG(r.status) == signal) << signal;
    EXPECT_EQ(ReadFile(out), "the previous output");
    EXPECT_EQ(Listing(dir), (std::set<std::string>{"out"})) << signal;
  }
}

INSTANTIATE_TEST_SUITE_P(Programs, Hostile, ::testing::Bool(),
                         [](const auto& i) { return i.param ? "wavbeam" : "pcmbeam"; });

}  // namespace
