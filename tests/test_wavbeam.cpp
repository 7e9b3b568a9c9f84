// wavbeam as a user runs it: usage, refusals, the output header, which bytes are
// audio, pcmbeam's samples. Tuning ranges: test_pcmbeam; hostile files: test_hostile.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support.h"
#include "wavfile.h"

namespace {

RunResult Wavbeam(const std::string& in, const std::string& out, std::vector<std::string> args = kTuning) {
  args.insert(args.end(), {in, out});
  return ::Run(WAVBEAM_EXE, args);
}

const WavFormat kMono16k{1, 1};
const std::string kSpeech16k = ReadFile(std::string(VECTOR_DIR) + "/talker_16k.in.pcm");

// Six arguments print the usage; the tuning is checked before the input is opened.
TEST(Wavbeam, UsageTuningThenTheInput) {
  const RunResult r = ::Run(WAVBEAM_EXE, {"0.05", "0.07", "-15", "0.9", "0.98", "in.wav"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Usage: <Distance> <Speed> <pSdb> <pNn> <pMn> <inpFile> <outFile>\n" + kTuningUsage +
            "<inpFile> - input file (WAV PCM 16 bit linear, Stereo channels)\n"
            "<outFile> - output file\n\n" +
                std::string(40, '=') + "\n" + kBanner);  // no key wait off a terminal
  const RunResult bad = Wavbeam("/nonexistent/in.wav", "out.wav", {"0", "0.07", "-15", "0.9", "0.98"});
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(bad.out, "Distance between sensors [meter] must be (0.0, 10.0]\nCurrent value: 0.000000\n");
  const RunResult missing = Wavbeam("/nonexistent/in.wav", "out.wav");
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
    const RunResult r = Wavbeam(dir + "/in.wav", dir + "/out.wav");
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
  const RunResult r = Wavbeam(dir + "/in.wav", fifo);
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
  const size_t step = 128 * 4, some = step * 20 + 300;  // bytes of one step of stereo pairs, of some steps
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
    const RunResult r = Wavbeam(dir + "/in.wav", dir + "/out.wav", c.tuning);
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

}  // namespace
