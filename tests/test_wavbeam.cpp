// wavbeam run as a user runs it: the usage text, refusals of inputs it cannot
// take, the output header before and after the run, which bytes are audio,
// and pcmbeam's samples for the same samples. The tuning ranges are shared
// with pcmbeam and tested there; broken headers, unreadable input and
// unwritable output in test_hostile.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "micarray.h"
#include "support.h"
#include "wavfile.h"

namespace {

const std::vector<std::string> kTuning = {"0.05", "0.07", "-15", "0.9", "0.98"};
const size_t kStepBytes16k = 128 * 4;  // one step of stereo pairs at 16000 Hz

RunResult Wavbeam(const std::string& in, const std::string& out, std::vector<std::string> args = kTuning) {
  args.insert(args.end(), {in, out});
  return ::Run(WAVBEAM_EXE, args);
}

std::string Banner() {
  return std::string(MicArray_Info.product_name) + "\n" + MicArray_Info.product_version + "\n" +
         MicArray_Info.product_company + "\n";
}

std::string FinishedReport(unsigned rate) {
  return "Detection ...\nSampling rate: " + std::to_string(rate) + " Hz\nIt's finished...\n" + std::string(54, '=') +
         "\n\n" + Banner() + "Press enter key\n";
}

// The leading bytes of a vector input (interleaved stereo at its own rate).
std::string VectorBytes(const std::string& name, size_t n = std::string::npos) {
  return ReadFile(std::string(VECTOR_DIR) + "/" + name + ".in.pcm").substr(0, n);
}

WavFormat Mono(unsigned long rate, unsigned long fmtSize = 16) { return WavFormat{1, 1, rate, 16, fmtSize}; }

TEST(Wavbeam, SixArgumentsPrintTheUsage) {
  const RunResult r = ::Run(WAVBEAM_EXE, {"0.05", "0.07", "-15", "0.9", "0.98", "in.wav"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out,
            "Usage: <Distance> <Speed> <pSdb> <pNn> <pMn> <inpFile> <outFile>\n"
            "<Distance> - Distance between sensors [meter], default: 0.05\n"
            "<Speed> - Speed adaptation of source direct detection (0.0, 1.0], default: 0.07\n"
            "<pSdb> - Limitation suppression [-80.0, 0.0] dB, default: -15.0 \n"
            "<pNn> - Noise adaptation rate [0.6, 0.999], default: 0.90 \n"
            "<pMn> - Musical noise reduction [0.6, 0.999], default: 0.98\n"
            "<inpFile> - input file (WAV PCM 16 bit linear, Stereo channels)\n"
            "<outFile> - output file\n\n" +
                std::string(40, '=') + "\n" + Banner() + "Press enter key\n");
}

struct Refusal {
  const char* name;
  std::string file;  // empty: the input does not exist
  const char* message;
  std::vector<std::string> tuning = kTuning;
};

class WavbeamRefusal : public ::testing::TestWithParam<Refusal> {};

TEST_P(WavbeamRefusal, PrintsItsMessageAndCreatesNoOutput) {
  const std::string dir = TempDir();
  if (!GetParam().file.empty()) WriteFile(dir + "/in.wav", GetParam().file);
  const RunResult r = Wavbeam(dir + "/in.wav", dir + "/out.wav", GetParam().tuning);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, std::string(GetParam().message) + "\n");
  EXPECT_FALSE(FileExists(dir + "/out.wav"));
}

const std::string kSome(4096, '\x11');
const char kNotPcm16[] = "Input file must be Windows PCM 16 bits linear format.";
INSTANTIATE_TEST_SUITE_P(Wavbeam, WavbeamRefusal,
                         ::testing::Values(
                             // The tuning is checked before the input is opened.
                             Refusal{"DistanceZero",
                                     "",
                                     "Distance between sensors [meter] must be (0.0, 10.0]\nCurrent value: 0.000000",
                                     {"0", "0.07", "-15", "0.9", "0.98"}},
                             Refusal{"Missing", "", "Couldn't read input file"},
                             Refusal{"Mono", WavFile(Mono(16000), kSome), "Input file must be Stereo channels format"},
                             Refusal{"Rate44100", WavFile(WavFormat{1, 2, 44100}, kSome),
                                     "Sampling rate for input file must be <= 32 kHz"},
                             Refusal{"FloatTag3", WavFile(WavFormat{3, 2, 16000, 32}, kSome), kNotPcm16},
                             Refusal{"Pcm24Bit", WavFile(WavFormat{1, 2, 16000, 24}, kSome), kNotPcm16},
                             Refusal{"Pcm8Bit", WavFile(WavFormat{1, 2, 16000, 8}, kSome), kNotPcm16}),
                         [](const ::testing::TestParamInfo<Refusal>& i) { return std::string(i.param.name); });

// DataSize 64000 (16000 stereo frames) at 16000 Hz with 63000 bytes present:
// the first header announces 32000 bytes, the rewritten one the 123 complete
// steps; nothing else in it changes. Through a pipe the first header is seen
// as written, and the failed rewind for the second is a write error.
TEST(Wavbeam, HeaderAnnouncesHalfTheInputSizeThenTheTrueSize) {
  const std::string dir = TempDir(), fifo = dir + "/out.fifo";
  const unsigned long written = 2 * 123 * 128;
  WriteFile(dir + "/in.wav", WavFile(WavFormat(), VectorBytes("talker_16k", 63000), 64000));
  RunResult r = Wavbeam(dir + "/in.wav", dir + "/out.wav");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, FinishedReport(16000));
  const std::string out = ReadFile(dir + "/out.wav");
  EXPECT_EQ(out.substr(0, 56), WrittenHeader(Mono(16000), written));
  EXPECT_EQ(out.size(), 56 + written);

  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::atomic<bool> done{false};
  std::string piped;
  std::thread reader([&] {
    piped = ReadFile(fifo);
    done = true;
  });
  r = Wavbeam(dir + "/in.wav", fifo);
  while (!done) {  // releases the reader should the program never have opened the pipe
    const int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (fd >= 0) close(fd);
    std::this_thread::yield();
  }
  reader.join();
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out.substr(r.out.size() - 20), "Couldn't Write File\n");
  EXPECT_EQ(piped, WrittenHeader(Mono(16000), 32000) + out.substr(56));
}

// The output is the header and exactly pcmbeam's samples for the audio: the
// data chunk, or the rest of the file when its size is unknown (0 or
// 0xFFFFFFFF) or runs past the end. Less than one step gives a valid file of
// the header alone.
struct AudioCase {
  const char* name;
  const char* vector;
  unsigned rate;
  std::vector<std::string> tuning = kTuning;
  size_t present = std::string::npos;  // sample bytes of the vector in the data chunk
  long long declared = -1;             // its size in the header; -1: the bytes present
  std::string trailing = "";           // bytes after the data chunk
  size_t audio = std::string::npos;    // bytes of the data that are audio
  unsigned long fmtSize = 16;
};

class WavbeamAudio : public ::testing::TestWithParam<AudioCase> {};

TEST_P(WavbeamAudio, SameSamplesAsPcmbeam) {
  const AudioCase& c = GetParam();
  const std::string dir = TempDir();
  const std::string stereo = VectorBytes(c.vector, c.present);
  const unsigned long declared = c.declared < 0 ? stereo.size() : (unsigned long)c.declared;
  WriteFile(dir + "/in.wav", WavFile(WavFormat{1, 2, c.rate, 16, c.fmtSize}, stereo, declared) + c.trailing);
  RunResult r = Wavbeam(dir + "/in.wav", dir + "/out.wav", c.tuning);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, FinishedReport(c.rate));

  WriteFile(dir + "/ref.pcm", stereo.substr(0, c.audio));
  std::vector<std::string> args = c.tuning;
  args.insert(args.end(), {std::to_string(c.rate), dir + "/ref.pcm", dir + "/ref.out.pcm"});
  ASSERT_EQ(::Run(PCMBEAM_EXE, args).status, 0);
  const std::string samples = ReadFile(dir + "/ref.out.pcm");
  EXPECT_EQ(ReadFile(dir + "/out.wav"), WrittenHeader(Mono(c.rate, c.fmtSize), samples.size()) + samples);
}

const size_t kData = kStepBytes16k * 20 + 300;
INSTANTIATE_TEST_SUITE_P(
    Wavbeam, WavbeamAudio,
    ::testing::Values(AudioCase{"Talker8k", "talker_8k", 8000}, AudioCase{"Talker32k", "talker_32k", 32000},
                      AudioCase{"Tuned16k", "tuned_16k", 16000, {"0.1", "0.3", "-30", "0.6", "0.995"}},
                      AudioCase{"TrailingListIsNotAudio", "talker_16k", 16000, kTuning, kData, kData,
                                Chunk("LIST", "INFO" + std::string(2044, 'x')), kData},
                      AudioCase{"SizeZeroReadsToEnd", "talker_16k", 16000, kTuning, kData, 0},
                      AudioCase{"SizeUnknownReadsToEnd", "talker_16k", 16000, kTuning, kData, 0xFFFFFFFFll},
                      AudioCase{"SizePastEndReadsToEnd", "talker_16k", 16000, kTuning, kData, 2 * kData},
                      AudioCase{"ShorterSizeStopsEarly", "talker_16k", 16000, kTuning, kData, kData / 2, "", kData / 2},
                      AudioCase{"HeaderAlone", "talker_16k", 16000, kTuning, 0, 2 * kStepBytes16k},
                      AudioCase{"LessThanAStepFmt18", "talker_16k", 16000, kTuning, kStepBytes16k - 2, -1, "",
                                std::string::npos, 18}),
    [](const ::testing::TestParamInfo<AudioCase>& i) { return std::string(i.param.name); });

}  // namespace
