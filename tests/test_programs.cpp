// pcmbeam and wavbeam as a user runs them: usage, argument checks, reports, output
// length at every rate, WAV headers and which bytes are audio; on hostile input and
// output a message and status 1, never a crash, a hang, a partial output or a
// temporary file left behind. Then their WAV header module on its own: headers read
// from files written byte by byte, the header it writes, G.711, whole files.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support.h"
#include "wav.h"
#include "wavfile.h"

namespace {

const size_t kStepBytes16k = 128 * 4;  // one step of stereo pairs at 16000 Hz
const std::string kSpeech16k = ReadFile(std::string(VECTOR_DIR) + "/talker_16k.in.pcm");
const char* const kCannotWrite = "Couldn't Write File\n";
const WavFormat kMono16k{1, 1};

// The arguments of wavbeam (WAV input and output) or pcmbeam (raw samples at 16000 Hz).
std::vector<std::string> Args(bool wav, const std::string& input, const std::string& output,
                              std::vector<std::string> args = kTuning) {
  if (!wav) args.push_back("16000");
  args.insert(args.end(), {input, output});
  return args;
}

RunResult RunBeam(bool wav, const std::string& input, const std::string& output,
                  const std::vector<std::string>& tuning = kTuning) {
  return ::Run(wav ? WAVBEAM_EXE : PCMBEAM_EXE, Args(wav, input, output, tuning));
}

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
  EXPECT_FALSE(std::filesystem::exists(output));
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
    EXPECT_EQ(std::filesystem::exists(output), printed.empty()) << values;
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
      EXPECT_TRUE(std::filesystem::exists(output));  // also for an empty input
      const size_t steps = (bytes.size() - cut) / 2 / (2 * S);
      EXPECT_EQ(ReadPcm(output).size(), steps * S) << rate << " Hz, cut " << cut;
    }
    const std::vector<int16_t> out = ReadPcm(output);
    EXPECT_LT(*std::max_element(out.begin(), out.end()), 32767) << rate << " Hz";
    EXPECT_GT(*std::min_element(out.begin(), out.end()), -32767) << rate << " Hz";
  }
}

// Six arguments print the usage; the tuning is checked before the input is opened.
TEST(Wavbeam, UsageTuningThenTheInput) {
  const RunResult r = ::Run(WAVBEAM_EXE, {"0.05", "0.07", "-15", "0.9", "0.98", "in.wav"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Usage: <Distance> <Speed> <pSdb> <pNn> <pMn> <inpFile> <outFile>\n" + kTuningUsage +
            "<inpFile> - input file (WAV PCM 16 bit linear, Stereo channels)\n"
            "<outFile> - output file\n\n" +
                std::string(40, '=') + "\n" + kBanner);  // no key wait off a terminal
  const RunResult bad = RunBeam(true, "/nonexistent/in.wav", "out.wav", {"0", "0.07", "-15", "0.9", "0.98"});
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(bad.out, "Distance between sensors [meter] must be (0.0, 10.0]\nCurrent value: 0.000000\n");
  const RunResult missing = RunBeam(true, "/nonexistent/in.wav", "out.wav");
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.out, "Couldn't read input file\n");
}

// Each refusal: its message, status 1, nothing left behind. Every proper prefix of a canonical
// header (a `data` id last at 40, half its size at 42), broken ids or sizes: an unknown format.
TEST(Wavbeam, RefusalsPrintTheirMessageAndLeaveNothingBehind) {
  const std::string some(4096, '\x11'), notPcm16 = "Input file must be Windows PCM 16 bits linear format.";
  const std::string fmt = FmtChunk(WavFormat()), data = Chunk("data", some), canonical = Riff(fmt + data);
  const std::string unknown = "Input file: Unknown format";
  auto fmtSized = [&](unsigned long n) { return canonical.substr(0, 16) + LeU32(n) + canonical.substr(20); };
  std::vector<std::pair<std::string, std::string>> cases = {
      {WavFile(kMono16k, some), "Input file must be Stereo channels format"},
      {WavFile(WavFormat{1, 2, 44100}, some), "Sampling rate for input file must be <= 32 kHz"},
      {WavFile(WavFormat{3, 2, 16000, 32}, some), notPcm16},
      {WavFile(WavFormat{1, 2, 16000, 24}, some), notPcm16},
      {WavFile(WavFormat{1, 2, 16000, 8}, some), notPcm16},
      {"RIFX" + canonical.substr(4), unknown},
      {canonical.substr(0, 8) + "AVI " + canonical.substr(12), unknown},
      {WavFile(WavFormat{1, 2, 0}, some), "Sampling rate for input file must not be 0"},
      {Riff(data + fmt), unknown},                          // samples before their format
      {Riff(fmt + Chunk("junk", some)), unknown},           // no `data`
      // Chunk sizes that point past the end of the file.
      {Riff("LIST" + LeU32(0x7FFFFFF0ul) + "INFO" + fmt + data), unknown},
      {Riff(fmt + "fact" + LeU32(0xFFFFFFF0ul) + data), unknown},
      // `fmt ` too short for the fields (then read from what follows) or past the end.
      {fmtSized(0), unknown},
      {fmtSized(15), unknown},
      {fmtSized(0xFFFFFFFFul), unknown}};
  for (size_t n = 0; n < 44; n++) cases.push_back({canonical.substr(0, n), unknown});
  const std::string dir = TempDir();
  for (const auto& [file, message] : cases) {
    SCOPED_TRACE(message + ", " + std::to_string(file.size()) + " bytes");
    WriteFile(dir + "/in.wav", file);
    const RunResult r = RunBeam(true, dir + "/in.wav", dir + "/out.wav");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, message + "\n");
    EXPECT_EQ(Listing(dir), std::set<std::string>{"in.wav"});
  }
}

// DataSize 64000 at 16000 Hz, 63000 bytes present: the header first announces
// 32000 bytes (seen through a pipe, where the rewind for the true size fails).
TEST(Wavbeam, HeaderFirstAnnouncesHalfTheInputSize) {
  const std::string dir = TempDir(), fifo = dir + "/out.fifo";
  WriteFile(dir + "/in.wav", WavFile(WavFormat(), kSpeech16k.substr(0, 63000), 64000));
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);  // so that wavbeam's open does not wait
  ASSERT_GE(fcntl(reader, F_SETPIPE_SZ, 65536), 65536);  // room for the whole output: wavbeam never blocks
  const RunResult r = RunBeam(true, dir + "/in.wav", fifo);
  std::string piped(65536, '\0');
  piped.resize(std::max<ssize_t>(read(reader, &piped[0], piped.size()), 0));
  close(reader);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out.substr(r.out.size() - 20), "Couldn't Write File\n");
  EXPECT_EQ(piped.substr(0, 56), WrittenHeader(kMono16k, 32000));
  EXPECT_EQ(piped.size(), 56 + 2 * 123 * 128);
}

// The header (true size and rate) and pcmbeam's samples for the audio: the data chunk, or
// the rest of the file when its size is 0 (no chunk after), 0xFFFFFFFF or past the end.
TEST(Wavbeam, SameSamplesAsPcmbeam) {
  const size_t step = kStepBytes16k, some = step * 20 + 300;  // bytes of some steps
  const struct {
    size_t present;             // sample bytes in the data chunk
    long long declared = -1;    // its size in the header; -1: the bytes present
    std::string trailing = "";  // bytes after the data chunk, not audio
    std::vector<std::string> tuning = kTuning;
    unsigned long rate = 16000;
  } cases[] = {{std::string::npos, -1, "", {"0.1", "0.3", "-30", "0.6", "0.995"}},
               {some, -1, Chunk("LIST", "INFO" + std::string(2044, 'x'))},
               {some, 0},
               {0, 0, Chunk("LIST", "INFO" + std::string(2044, 'x'))},
               {some, 0xFFFFFFFFll},
               {63000, 64000},
               {step - 2},
               {some, -1, "", kTuning, 8000},
               {some, -1, "", kTuning, 32000}};
  for (const auto& c : cases) {
    const std::string dir = TempDir(), stereo = kSpeech16k.substr(0, c.present);
    SCOPED_TRACE(std::to_string(c.present) + " bytes, declared " + std::to_string(c.declared));
    WriteFile(dir + "/in.wav", WavFile(WavFormat{1, 2, c.rate}, stereo, c.declared) + c.trailing);
    const RunResult r = RunBeam(true, dir + "/in.wav", dir + "/out.wav", c.tuning);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Detection ...\nSampling rate: " + std::to_string(c.rate) + " Hz\nIt's finished...\n" +
                         std::string(54, '=') + "\n\n" + kBanner);
    WriteFile(dir + "/ref.pcm", stereo);
    std::vector<std::string> args = c.tuning;
    args.insert(args.end(), {std::to_string(c.rate), dir + "/ref.pcm", dir + "/ref.out.pcm"});
    ASSERT_EQ(::Run(PCMBEAM_EXE, args).status, 0);
    const std::string samples = ReadFile(dir + "/ref.out.pcm");
    EXPECT_EQ(ReadFile(dir + "/out.wav"), WrittenHeader(WavFormat{1, 1, c.rate}, samples.size()) + samples);
  }
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
// writing or closing, and past the largest file allowed; unless root, an input without
// read permission and a read-only output. The old output is kept.
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
  if (geteuid() != 0) {  // permissions bind
    ASSERT_EQ(chmod(in.c_str(), 0), 0);
    ExpectFailure(in, out, "Couldn't read input file\n");
    ASSERT_EQ(chmod(in.c_str(), 0644) | chmod(out.c_str(), 0444), 0);
    ExpectFailure(in, out, kCannotWrite);
  }
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

const WavFormat kStereo16k, kFmt18{1, 2, 16000, 16, 18}, kFmt17{1, 2, 16000, 16, 17};
const WavFormat kAlaw{6, 2, 8000, 8}, kUlaw{7, 2, 8000, 8};
const std::string kSamples = "\x01\x02\x03\x04\x05\x06\x07\x08";
const std::string kFmt = FmtChunk(kStereo16k), kData = Chunk("data", kSamples);

// Whatever chunks come first, the fields are read and the stream is left at
// the first sample; written back, the header is the canonical one.
TEST(Wav, LoadFromFileReadsTheFieldsAndStopsAtTheFirstSample) {
  const struct {
    std::string file;
    WavFormat format;
    long firstSample;
  } cases[] = {{WavFile(kStereo16k, kSamples), kStereo16k, 44},
               {WavFile(kFmt18, kSamples), kFmt18, 46},  // 2 bytes skipped, written back as zeros
               // Skipped by their sizes: the "data" in their bodies is not the data chunk.
               {Riff(kFmt + Chunk("fact", "data") + kData), kStereo16k, 56},
               {Riff(Chunk("LIST", "INFOdata xyz") + kFmt + kData), kStereo16k, 64},
               {Riff(kFmt + Chunk("LIST", "INFOICMTno metadata!") + kData), kStereo16k, 72},
               // Recorders' chunks before `fmt `.
               {Riff(Chunk("JUNK", std::string(28, '\0')) + Chunk("bext", "a") + '\0' + kFmt + kData),
                kStereo16k, 90},
               // Odd-sized: after the pad byte, and without one.
               {Riff(FmtChunk(kFmt17) + '\0' + kData), kFmt17, 46},
               {Riff(kFmt + Chunk("junk", "abcdefg") + kData), kStereo16k, 59}};
  const std::string path = TempDir() + "/header.wav";
  for (const auto& c : cases) {
    FILE* in = fmemopen((void*)c.file.data(), c.file.size(), "rb");
    FILE* out = fopen(path.c_str(), "wb");
    WAV_HEADER h;
    h.LoadFromFile(in);
    const std::vector<unsigned long> fields = {h.SubChunk_fmtSize, h.AudioFormat, h.Channels, h.SampleRate,
                                               h.ByteRate, h.BlockAlign, h.BitsPerSample, h.DataSize};
    EXPECT_EQ(fields, (std::vector<unsigned long>{c.format.fmtSize, 1, 2, 16000, 64000, 4, 16, 8}));
    EXPECT_EQ(ftell(in), c.firstSample);
    EXPECT_TRUE(h.SaveToFile(out));
    fclose(in);
    fclose(out);
    EXPECT_EQ(ReadFile(path), WrittenHeader(c.format, 8)) << c.firstSample;
  }
}

// The samples of a file (G.711 codes at both ends of their tables), or 0 for one
// openAll refuses.
TEST(Wav, OpenAllDecodesTheSamplesOrReturnsZero) {
  const struct {
    const char* name;
    std::string file;
    std::vector<int16_t> samples;  // empty: refused
  } cases[] = {{"Alaw", WavFile(kAlaw, "\xD5\x55\xAA\x2A"), {8, -8, 32256, -32256}},
               // A partial frame at the end is not loaded.
               {"Ulaw", WavFile(kUlaw, std::string("\xFF\x7F\x80\x00\xEF", 5)), {0, 0, 32124, -32124}},
               {"BlockAlignZero", WavFile(WavFormat{1, 0}, kSamples), {}},
               {"Pcm24", WavFile(WavFormat{1, 2, 16000, 24}, std::string(12, '\x01')), {}},
               {"ShortData", WavFile(kStereo16k, kSamples, 100), {}},
               {"ShortG711Data", WavFile(kAlaw, "\xD5\xD5", 10), {}}};
  std::string path = TempDir() + "/in.wav";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(path, c.file);
    WAV_HEADER h;
    unsigned int frames = 99;
    short* buf = c.samples.empty() ? nullptr : (short*)malloc(4);  // released by openAll
    EXPECT_EQ(h.openAll(&path[0], &frames, &buf), c.samples.empty() ? 0 : 1);
    EXPECT_EQ(frames * h.Channels, c.samples.size());
    EXPECT_EQ(buf ? std::vector<int16_t>(buf, buf + c.samples.size()) : std::vector<int16_t>(), c.samples);
    free(buf);
  }
}

// 16-bit samples loaded by openAll, saved by saveAll (byte for byte with the
// writer's header) and loaded again; no samples and a full device (found on
// closing) give 0, and so does the header alone on an unbuffered full device.
TEST(Wav, SaveAllThenOpenAllRoundTrip) {
  std::vector<int16_t> samples;
  for (int i = 0; i < 300; i++) samples.push_back((int16_t)(i * 218 - 32768));
  const std::string dir = TempDir();
  std::string in = dir + "/in.wav", out = dir + "/out.wav", empty = dir + "/empty.wav", full = "/dev/full";
  WriteFile(in, WavFile(kStereo16k, PcmBytes(samples)));
  WAV_HEADER h;
  unsigned int frames = 0;
  short* buf = nullptr;
  ASSERT_EQ(h.openAll(&in[0], &frames, &buf), 1);
  ASSERT_EQ(h.saveAll(&out[0], frames, buf), 1);
  EXPECT_EQ(ReadFile(out), WrittenHeader(kStereo16k, 600) + PcmBytes(samples));
  ASSERT_EQ(h.openAll(&out[0], &frames, &buf), 1);  // the first buffer is released
  EXPECT_EQ(std::vector<int16_t>(buf, buf + 2 * frames), samples);
  EXPECT_EQ(h.saveAll(&empty[0], 0, buf), 0);
  EXPECT_FALSE(std::filesystem::exists(empty));
  EXPECT_EQ(h.saveAll(&full[0], frames, buf), 0);
  free(buf);
  FILE* f = fopen("/dev/full", "wb");
  setvbuf(f, nullptr, _IONBF, 0);
  EXPECT_FALSE(h.SaveToFile(f));
  fclose(f);
}

}  // namespace
