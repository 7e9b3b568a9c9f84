// Both programs on hostile input and output, run as a user runs them: every
// broken header, unreadable input and unwritable output ends with a message
// and status 1, never a crash or a hang; an output name shows either the
// complete output of a successful run or what it held before, never a
// partial file, and no temporary file is left behind.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "support.h"
#include "wavfile.h"

namespace {

const std::vector<std::string> kTuning = {"0.05", "0.07", "-15", "0.9", "0.98"};
const char* const kCannotRead = "Couldn't read input file\n";
const char* const kCannotWrite = "Couldn't Write File\n";
const size_t kStepBytes16k = 128 * 4;  // one step of stereo pairs at 16000 Hz

// The names in dir (none when it does not exist).
std::set<std::string> Listing(const std::string& dir) {
  std::set<std::string> names;
  std::error_code error;
  for (const auto& e : std::filesystem::directory_iterator(dir, error)) names.insert(e.path().filename());
  return names;
}

std::string Speech16k(size_t steps) {
  return ReadFile(std::string(VECTOR_DIR) + "/talker_16k.in.pcm").substr(0, steps * kStepBytes16k);
}

// A failed run: status 1 and the message last, no report of a finished run.
void ExpectFailure(const RunResult& r, const std::string& message, const std::string& context = "") {
  EXPECT_EQ(r.status, 1) << context;
  EXPECT_EQ(r.out.substr(r.out.size() < message.size() ? 0 : r.out.size() - message.size()), message) << context;
  EXPECT_EQ(r.out.find("It's finished"), std::string::npos) << context;
}

// ------------------------------------------------------- broken WAV headers

struct HeaderCase {
  std::string name;
  std::string file;
};

std::vector<HeaderCase> HeaderCases() {
  const std::string data = Speech16k(2), fmt = FmtChunk(WavFormat()), dataChunk = Chunk("data", data);
  const std::string canonical = Riff(fmt + dataChunk);
  std::vector<HeaderCase> cases;
  // Every proper prefix of the 44-byte header: the empty file, ..., a `data`
  // id as the last four bytes (40), half of its size (42).
  for (size_t n = 0; n < 44; n++) cases.push_back({"Truncated" + std::to_string(n), canonical.substr(0, n)});
  cases.push_back({"NotRiff", "RIFX" + canonical.substr(4)});
  cases.push_back({"NotWave", canonical.substr(0, 8) + "AVI " + canonical.substr(12)});
  cases.push_back({"NoFmt", Riff(Chunk("junk", "abcd") + fmt + dataChunk)});
  cases.push_back({"NoData", Riff(fmt + Chunk("junk", data))});
  // Chunk sizes that point past the end of the file.
  cases.push_back({"ListPastEnd", Riff("LIST" + LeU32(0x7FFFFFF0ul) + "INFO" + fmt + dataChunk)});
  cases.push_back({"FactPastEnd", Riff(fmt + "fact" + LeU32(0xFFFFFFF0ul) + dataChunk)});
  // `fmt ` sizes too short for the fields (which are then bytes of whatever
  // follows the chunk) and past the end.
  for (unsigned long fmtSize : {0ul, 15ul, 0xFFFFFFFFul})
    cases.push_back(
        {"FmtSize" + std::to_string(fmtSize), canonical.substr(0, 16) + LeU32(fmtSize) + canonical.substr(20)});
  return cases;
}

class HostileHeader : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(HostileHeader, IsAnUnknownFormatAndLeavesNoOutput) {
  const std::string dir = TempDir();
  WriteFile(dir + "/in.wav", GetParam().file);
  std::vector<std::string> args = kTuning;
  args.insert(args.end(), {dir + "/in.wav", dir + "/out.wav"});
  const RunResult r = ::Run(WAVBEAM_EXE, args);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Input file: Unknown format\n");
  EXPECT_EQ(Listing(dir), std::set<std::string>{"in.wav"});
}

INSTANTIATE_TEST_SUITE_P(Wavbeam, HostileHeader, ::testing::ValuesIn(HeaderCases()),
                         [](const ::testing::TestParamInfo<HeaderCase>& i) { return i.param.name; });

// ------------------------------------------------------- both programs

struct Program {
  const char* name;
  const char* exe;
  bool wav;  // wavbeam: WAV input and output; pcmbeam: raw samples at 16000 Hz
};

class Hostile : public ::testing::TestWithParam<Program> {
 protected:
  void SetUp() override {
    dir = TempDir();
    in = dir + "/in";
    out = dir + "/out";
  }
  RunResult RunProgram(const std::string& input, const std::string& output) {
    std::vector<std::string> args = kTuning;
    if (!GetParam().wav) args.push_back("16000");
    args.insert(args.end(), {input, output});
    return ::Run(GetParam().exe, args);
  }
  // A valid input of `steps` steps, and the size of its output.
  std::string Input(size_t steps) const {
    return GetParam().wav ? WavFile(WavFormat(), Speech16k(steps)) : Speech16k(steps);
  }
  size_t OutputBytes(size_t steps) const { return (GetParam().wav ? 56 : 0) + steps * kStepBytes16k / 2; }
  std::string dir, in, out;
};

// A directory, and a file that opens but whose every read fails, even for root.
TEST_P(Hostile, ReadErrorsAreReported) {
  for (const std::string& input : {dir, std::string("/proc/self/mem")})
    ExpectFailure(RunProgram(input, out), kCannotRead, input);
  EXPECT_EQ(Listing(dir), std::set<std::string>{});
}

TEST_P(Hostile, PermissionsAreRespected) {
  if (geteuid() == 0) GTEST_SKIP() << "running as root: permissions do not bind";
  WriteFile(in, Input(4));
  ASSERT_EQ(chmod(in.c_str(), 0), 0);
  ExpectFailure(RunProgram(in, out), kCannotRead);
  EXPECT_FALSE(FileExists(out));
  ASSERT_EQ(chmod(in.c_str(), 0644), 0);
  WriteFile(out, "the previous output");
  ASSERT_EQ(chmod(out.c_str(), 0444), 0);
  ExpectFailure(RunProgram(in, out), kCannotWrite);
  EXPECT_EQ(ReadFile(out), "the previous output");
  EXPECT_EQ(Listing(dir), (std::set<std::string>{"in", "out"}));
}

// A missing directory fails on opening, a full device on writing the steps or,
// with a single step, on closing, a directory on opening.
TEST_P(Hostile, UnwritableOutputsAreReported) {
  for (size_t steps : {1, 40}) {
    WriteFile(in, Input(steps));
    for (const std::string& output : {dir + "/missing/out", std::string("/dev/full"), dir})
      ExpectFailure(RunProgram(in, output), kCannotWrite, output + " after " + std::to_string(steps) + " steps");
  }
  EXPECT_EQ(Listing(dir), std::set<std::string>{"in"});
}

TEST_P(Hostile, FailedRunKeepsTheExistingOutput) {
  WriteFile(in, Input(40));
  WriteFile(out, "the previous output");
  // The output fails after a few steps: the largest file the programs may
  // write is lowered, and the signal for exceeding it becomes a write error.
  rlimit saved, lowered;
  getrlimit(RLIMIT_FSIZE, &saved);
  lowered = {4096, saved.rlim_max};
  setrlimit(RLIMIT_FSIZE, &lowered);
  const sighandler_t previous = signal(SIGXFSZ, SIG_IGN);
  const RunResult r = RunProgram(in, out);
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, previous);
  ExpectFailure(r, kCannotWrite);
  EXPECT_EQ(ReadFile(out), "the previous output");
  EXPECT_EQ(Listing(dir), (std::set<std::string>{"in", "out"}));
}

// The output name is a symbolic link: its target is replaced and keeps its
// permissions, the link stays.
TEST_P(Hostile, SuccessfulRunReplacesTheTargetOfALink) {
  WriteFile(in, Input(10));
  WriteFile(dir + "/target", "the previous output");
  ASSERT_EQ(chmod((dir + "/target").c_str(), 0640), 0);
  ASSERT_EQ(symlink("target", out.c_str()), 0);
  ASSERT_EQ(RunProgram(in, out).status, 0);
  struct stat st;
  ASSERT_EQ(lstat(out.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  ASSERT_EQ(stat(out.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(ReadFile(out).size(), OutputBytes(10));
  EXPECT_EQ(Listing(dir), (std::set<std::string>{"in", "out", "target"}));
}

TEST_P(Hostile, OutputMayBeTheInputItself) {
  WriteFile(in, Input(10));
  ASSERT_EQ(RunProgram(in, out).status, 0);
  const std::string expected = ReadFile(out);
  ASSERT_EQ(expected.size(), OutputBytes(10));
  ASSERT_EQ(RunProgram(in, in).status, 0);
  EXPECT_EQ(ReadFile(in), expected);
  EXPECT_EQ(Listing(dir), (std::set<std::string>{"in", "out"}));
}

INSTANTIATE_TEST_SUITE_P(Programs, Hostile,
                         ::testing::Values(Program{"pcmbeam", PCMBEAM_EXE, false},
                                           Program{"wavbeam", WAVBEAM_EXE, true}),
                         [](const ::testing::TestParamInfo<Program>& i) { return std::string(i.param.name); });

}  // namespace
