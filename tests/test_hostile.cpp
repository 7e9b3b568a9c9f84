// Both programs on hostile input and output, run as a user runs them: every
// broken header, unreadable input and unwritable output ends with a message
// and status 1, never a crash or a hang; an output name shows either the
// complete output of a successful run or what it held before, never a
// partial file, and no temporary file is left behind.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "support.h"
#include "wavfile.h"

namespace {

const std::vector<std::string> kTuning = {"0.05", "0.07", "-15", "0.9", "0.98"};
const char* const kUnknown = "Input file: Unknown format\n";
const char* const kCannotRead = "Couldn't read input file\n";
const char* const kCannotWrite = "Couldn't Write File\n";
const size_t kCanonicalHeaderBytes = 44;  // RIFF, `fmt ` of 16 bytes, `data` and its size
const size_t kStepBytes16k = 128 * 4;     // one step of stereo pairs at 16000 Hz

RunResult Wavbeam(const std::string& in, const std::string& out) {
  std::vector<std::string> a = kTuning;
  a.insert(a.end(), {in, out});
  return ::Run(WAVBEAM_EXE, a);
}

// The names in dir, sorted.
std::set<std::string> Listing(const std::string& dir) {
  std::set<std::string> names;
  DIR* d = opendir(dir.c_str());
  if (!d) return names;
  while (const dirent* e = readdir(d))
    if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.insert(e->d_name);
  closedir(d);
  return names;
}

// The last n characters of s (all of s when shorter).
std::string Tail(const std::string& s, size_t n) { return s.size() < n ? s : s.substr(s.size() - n); }

std::string Speech16k(size_t steps) {
  return ReadFile(std::string(VECTOR_DIR) + "/talker_16k.in.pcm").substr(0, steps * kStepBytes16k);
}

// ------------------------------------------------------- broken WAV headers

struct HeaderCase {
  std::string name;
  std::string file;
  const char* message;
};

std::vector<HeaderCase> HeaderCases() {
  const std::string data = Speech16k(2);
  const std::string canonical = WavFile(WavFormat(), data);
  std::vector<HeaderCase> cases;
  // Every proper prefix of the header, the empty file included.
  for (size_t n = 0; n < kCanonicalHeaderBytes; n++)
    cases.push_back({"Truncated" + std::to_string(n), canonical.substr(0, n), kUnknown});
  // Chunk sizes that point past the end of the file.
  const std::string fmtAndData = FmtChunk(WavFormat()) + "data" + LeU32(data.size()) + data;
  cases.push_back({"ListPastEnd", Riff("LIST" + LeU32(0x7FFFFFF0ul) + "INFO" + fmtAndData), kUnknown});
  cases.push_back({"FactPastEnd", Riff(FmtChunk(WavFormat()) + "fact" + LeU32(0xFFFFFFF0ul) + "data" +
                                       LeU32(data.size()) + data), kUnknown});
  // `fmt ` sizes too short for the fields (which are then bytes of whatever
  // follows the chunk) and one past the end.
  for (unsigned long fmtSize : {0ul, 15ul, 0xFFFFFFFFul}) {
    std::string file = canonical;
    file.replace(16, 4, LeU32(fmtSize));
    cases.push_back({"FmtSize" + std::to_string(fmtSize), file, kUnknown});
  }
  // A `data` id as the file's last four bytes, with no size behind it.
  cases.push_back({"DataIdAtEnd", Riff(FmtChunk(WavFormat()) + "data"), kUnknown});
  cases.push_back({"DataIdAndHalfASize", Riff(FmtChunk(WavFormat()) + "data\x10\x00"), kUnknown});
  return cases;
}

class HostileHeader : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(HostileHeader, RefusedWithAMessageAndNoOutput) {
  const std::string dir = TempDir();
  WriteFile(dir + "/in.wav", GetParam().file);
  const RunResult r = Wavbeam(dir + "/in.wav", dir + "/out.wav");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, GetParam().message);
  EXPECT_EQ(Listing(dir), std::set<std::string>{"in.wav"});
}

INSTANTIATE_TEST_SUITE_P(Wavbeam, HostileHeader, ::testing::ValuesIn(HeaderCases()),
                         [](const ::testing::TestParamInfo<HeaderCase>& i) { return i.param.name; });

// The complete header with no sample behind it is a recording of no steps.
TEST(HostileHeaderEdge, HeaderWithoutSamplesGivesAHeaderOnlyOutput) {
  const std::string dir = TempDir();
  WriteFile(dir + "/in.wav", WavFile(WavFormat(), Speech16k(2)).substr(0, kCanonicalHeaderBytes));
  const RunResult r = Wavbeam(dir + "/in.wav", dir + "/out.wav");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(LeU32At(ReadFile(dir + "/out.wav"), 52), 0u);
}

// ------------------------------------------------------- both programs

// What differs between the programs: their arguments, a valid input of
// `steps` steps at 16000 Hz, and the size of the output it gives.
struct Program {
  const char* name;
  std::function<std::vector<std::string>(const std::string&, const std::string&)> args;
  std::function<std::string(size_t)> input;
  size_t headerBytes;  // output bytes before the samples
};

std::vector<Program> Programs() {
  return {
      {"pcmbeam",
       [](const std::string& in, const std::string& out) {
         std::vector<std::string> a = kTuning;
         a.insert(a.end(), {"16000", in, out});
         return a;
       },
       [](size_t steps) { return Speech16k(steps); }, 0},
      {"wavbeam",
       [](const std::string& in, const std::string& out) {
         std::vector<std::string> a = kTuning;
         a.insert(a.end(), {in, out});
         return a;
       },
       [](size_t steps) { return WavFile(WavFormat(), Speech16k(steps)); }, 56},
  };
}

class Hostile : public ::testing::TestWithParam<Program> {
 protected:
  void SetUp() override {
    dir = TempDir();
    in = dir + "/in";
    out = dir + "/out";
  }
  RunResult RunProgram(const std::string& input, const std::string& output) {
    const Program& p = GetParam();
    return ::Run(std::string(p.name) == "pcmbeam" ? PCMBEAM_EXE : WAVBEAM_EXE, p.args(input, output));
  }
  size_t OutputBytes(size_t steps) const { return GetParam().headerBytes + steps * kStepBytes16k / 2; }
  std::string dir, in, out;
};

// Lowers the largest file this process and its children may write, and
// turns the signal for exceeding it into a plain write error.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    rlimit lowered = saved_;
    lowered.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &lowered);
    previous_ = signal(SIGXFSZ, SIG_IGN);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    signal(SIGXFSZ, previous_);
  }

 private:
  rlimit saved_;
  sighandler_t previous_;
};

TEST_P(Hostile, DirectoryAsInputIsAReadError) {
  const RunResult r = RunProgram(dir, out);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Tail(r.out, strlen(kCannotRead)), kCannotRead);
  EXPECT_EQ(Listing(dir), std::set<std::string>{});
}

// A file that opens but every read of it fails, even for root.
TEST_P(Hostile, FailingReadsAreReported) {
  const RunResult r = RunProgram("/proc/self/mem", out);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find(kCannotRead), std::string::npos);
  EXPECT_EQ(r.out.find("It's finished"), std::string::npos);
  EXPECT_EQ(Listing(dir), std::set<std::string>{});
}

TEST_P(Hostile, UnreadableFileIsRefused) {
  // Permissions do not bind root, who reads a mode-000 file like any other.
  if (geteuid() == 0) GTEST_SKIP() << "running as root: a mode-000 file is readable";
  WriteFile(in, GetParam().input(4));
  ASSERT_EQ(chmod(in.c_str(), 0), 0);
  const RunResult r = RunProgram(in, out);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, kCannotRead);
  EXPECT_FALSE(FileExists(out));
}

TEST_P(Hostile, ReadOnlyOutputIsRefusedAndKept) {
  if (geteuid() == 0) GTEST_SKIP() << "running as root: a read-only file is writable";
  WriteFile(in, GetParam().input(4));
  WriteFile(out, "the previous output");
  ASSERT_EQ(chmod(out.c_str(), 0444), 0);
  const RunResult r = RunProgram(in, out);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, kCannotWrite);
  EXPECT_EQ(ReadFile(out), "the previous output");
  EXPECT_EQ(Listing(dir), (std::set<std::string>{"in", "out"}));
}

TEST_P(Hostile, FailedRunKeepsTheExistingOutputAndLeavesNoTemporaryFile) {
  WriteFile(in, GetParam().input(40));
  WriteFile(out, "the previous output");
  RunResult r;
  {
    const FileSizeLimit limit(4096);  // the output fails after a few steps
    r = RunProgram(in, out);
  }
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Tail(r.out, strlen(kCannotWrite)), kCannotWrite);
  EXPECT_EQ(ReadFile(out), "the previous output");
  EXPECT_EQ(Listing(dir), (std::set<std::string>{"in", "out"}));
}

TEST_P(Hostile, SuccessfulRunReplacesTheOutputKeepingItsPermissions) {
  WriteFile(in, GetParam().input(10));
  WriteFile(out, "the previous output");
  ASSERT_EQ(chmod(out.c_str(), 0640), 0);
  ASSERT_EQ(RunProgram(in, out).status, 0);
  EXPECT_EQ(ReadFile(out).size(), OutputBytes(10));
  struct stat st;
  ASSERT_EQ(stat(out.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(Listing(dir), (std::set<std::string>{"in", "out"}));
}

TEST_P(Hostile, OutputMayBeTheInputItself) {
  WriteFile(in, GetParam().input(10));
  ASSERT_EQ(RunProgram(in, out).status, 0);
  const std::string expected = ReadFile(out);
  ASSERT_EQ(expected.size(), OutputBytes(10));
  ASSERT_EQ(RunProgram(in, in).status, 0);
  EXPECT_EQ(ReadFile(in), expected);
  EXPECT_EQ(Listing(dir), (std::set<std::string>{"in", "out"}));
}

TEST_P(Hostile, OutputThroughASymbolicLinkReplacesItsTarget) {
  WriteFile(in, GetParam().input(10));
  const std::string target = dir + "/target";
  WriteFile(target, "old");
  ASSERT_EQ(symlink("target", out.c_str()), 0);
  ASSERT_EQ(RunProgram(in, out).status, 0);
  struct stat st;
  ASSERT_EQ(lstat(out.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(ReadFile(target).size(), OutputBytes(10));
  EXPECT_EQ(Listing(dir), (std::set<std::string>{"in", "out", "target"}));
}

TEST_P(Hostile, OutputInAMissingDirectoryOrOnAFullDevice) {
  WriteFile(in, GetParam().input(40));
  for (const std::string& output : {dir + "/missing/out", std::string("/dev/full"), dir}) {
    const RunResult r = RunProgram(in, output);
    EXPECT_EQ(r.status, 1) << output;
    EXPECT_EQ(Tail(r.out, strlen(kCannotWrite)), kCannotWrite) << output;
    EXPECT_EQ(r.out.find("It's finished"), std::string::npos) << output;
  }
  EXPECT_EQ(Listing(dir), std::set<std::string>{"in"});
}

INSTANTIATE_TEST_SUITE_P(Programs, Hostile, ::testing::ValuesIn(Programs()),
                         [](const ::testing::TestParamInfo<Program>& i) { return std::string(i.param.name); });

}  // namespace
