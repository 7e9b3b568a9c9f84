// wavbeam run as a user runs it: refusals with their messages and exit
// status, the report, the output header before and after the run, where the
// samples end, and the same output samples as pcmbeam on the same samples.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "micarray.h"
#include "support.h"
#include "wavfile.h"

namespace {

const std::vector<std::string> kTuning = {"0.05", "0.07", "-15", "0.9", "0.98"};
const size_t kStep16k = 128;      // sample frames per step at 16000 Hz
const size_t kInFrameBytes = 4;   // one stereo pair of 16-bit samples
const size_t kHeaderBytes = 56;   // written header with a 16-byte `fmt `

std::vector<std::string> Args(const std::string& in, const std::string& out,
                              const std::vector<std::string>& tuning = kTuning) {
  std::vector<std::string> a = tuning;
  a.push_back(in);
  a.push_back(out);
  return a;
}

std::string Banner() {
  return std::string(MicArray_Info.product_name) + "\n" + MicArray_Info.product_version + "\n" +
         MicArray_Info.product_company + "\n";
}

std::string FinishedReport(unsigned rate) {
  return "Detection ...\nSampling rate: " + std::to_string(rate) + " Hz\nIt's finished...\n" +
         std::string(54, '=') + "\n\n" + Banner() + "Press enter key\n";
}

// Leading bytes of a vector input (interleaved stereo at its own rate).
std::string VectorBytes(const std::string& name, size_t n = std::string::npos) {
  return ReadFile(std::string(VECTOR_DIR) + "/" + name + ".in.pcm").substr(0, n);
}

// pcmbeam's samples for the same stereo samples, given as raw bytes.
std::vector<int16_t> PcmbeamOutput(const std::string& dir, const std::string& stereo, unsigned rate,
                                   const std::vector<std::string>& tuning = kTuning) {
  WriteFile(dir + "/ref.pcm", stereo);
  std::vector<std::string> a = tuning;
  a.insert(a.end(), {std::to_string(rate), dir + "/ref.pcm", dir + "/ref.out.pcm"});
  EXPECT_EQ(::Run(PCMBEAM_EXE, a).status, 0);
  return ReadPcm(dir + "/ref.out.pcm");
}

std::vector<int16_t> SamplesAfterHeader(const std::string& wav, size_t header = kHeaderBytes) {
  const std::string dir = TempDir();
  WriteFile(dir + "/s.pcm", wav.substr(header));
  return ReadPcm(dir + "/s.pcm");
}

// ---------------------------------------------------------------- refusals

TEST(Wavbeam, SixArgumentsPrintUsage) {
  const std::string dir = TempDir();
  std::vector<std::string> a = kTuning;
  a.push_back(dir + "/in.wav");
  const RunResult r = ::Run(WAVBEAM_EXE, a);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out,
            "Usage: <Distance> <Speed> <pSdb> <pNn> <pMn> <inpFile> <outFile>\n"
            "<Distance> - Distance between sensors [meter], default: 0.05\n"
            "<Speed> - Speed adaptation of source direct detection (0.0, 1.0], default: 0.07\n"
            "<pSdb> - Limitation suppression [-80.0, 0.0] dB, default: -15.0 \n"
            "<pNn> - Noise adaptation rate [0.6, 0.999], default: 0.90 \n"
            "<pMn> - Musical noise reduction [0.6, 0.999], default: 0.98\n"
            "<inpFile> - input file (WAV PCM 16 bit linear, Stereo channels)\n"
            "<outFile> - output file\n"
            "\n" +
                std::string(40, '=') + "\n" + Banner() + "Press enter key\n");
}

struct InputCase {
  const char* name;
  std::string file;  // empty: the input does not exist
  const char* message;
};

WavFormat With(unsigned format, unsigned channels, unsigned long rate, unsigned bits) {
  WavFormat f;
  f.format = format;
  f.channels = channels;
  f.rate = rate;
  f.bits = bits;
  return f;
}

std::vector<InputCase> InputCases() {
  const std::string data(4096, '\x11');
  return {
      {"Mono", WavFile(With(1, 1, 16000, 16), data), "Input file must be Stereo channels format"},
      {"Rate44100", WavFile(With(1, 2, 44100, 16), data), "Sampling rate for input file must be <= 32 kHz"},
      {"FloatTag3", WavFile(With(3, 2, 16000, 32), data), "Input file must be Windows PCM 16 bits linear format."},
      {"Pcm24Bit", WavFile(With(1, 2, 16000, 24), data), "Input file must be Windows PCM 16 bits linear format."},
      {"Pcm8Bit", WavFile(With(1, 2, 16000, 8), data), "Input file must be Windows PCM 16 bits linear format."},
      {"NotRiff", "RIFX" + WavFile(WavFormat(), data).substr(4), "Input file: Unknown format"},
      {"NoDataChunk", Riff(FmtChunk(WavFormat()) + Chunk("junk", data)), "Input file: Unknown format"},
      {"Missing", "", "Couldn't read input file"},
  };
}

class WavbeamInput : public ::testing::TestWithParam<InputCase> {};

TEST_P(WavbeamInput, RefusedBeforeOutputIsCreated) {
  const std::string dir = TempDir();
  if (!GetParam().file.empty()) WriteFile(dir + "/in.wav", GetParam().file);
  const RunResult r = ::Run(WAVBEAM_EXE, Args(dir + "/in.wav", dir + "/out.wav"));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, std::string(GetParam().message) + "\n");
  EXPECT_FALSE(FileExists(dir + "/out.wav"));
}

INSTANTIATE_TEST_SUITE_P(Wavbeam, WavbeamInput, ::testing::ValuesIn(InputCases()),
                         [](const ::testing::TestParamInfo<InputCase>& i) { return std::string(i.param.name); });

struct TuningCase {
  std::vector<std::string> tuning;
  const char* refusal;  // nullptr: accepted
};

const char* const kDistance = "Distance between sensors [meter] must be (0.0, 10.0]\nCurrent value: ";
const char* const kSpeed = "Speed adaptation must be (0.0, 1.0]\nCurrent value: ";
const char* const kPsdb = "pSdb: [-80.0, 0.0] dB, default: -15.0 \n";
const char* const kPnn = "pNn: [0.6, 0.999], default: 0.90 \n";
const char* const kPmn = "pMn: [0.6, 0.999], default: 0.98 \n";

class WavbeamTuning : public ::testing::TestWithParam<TuningCase> {};

TEST_P(WavbeamTuning, RangeChecks) {
  const std::string dir = TempDir();
  WriteFile(dir + "/in.wav", WavFile(WavFormat(), std::string(64, '\0')));
  const RunResult r = ::Run(WAVBEAM_EXE, Args(dir + "/in.wav", dir + "/out.wav", GetParam().tuning));
  if (GetParam().refusal) {
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.substr(0, strlen(GetParam().refusal)), GetParam().refusal);
    EXPECT_FALSE(FileExists(dir + "/out.wav"));
  } else {
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, FinishedReport(16000));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Wavbeam, WavbeamTuning,
    ::testing::Values(TuningCase{{"0", "0.07", "-15", "0.9", "0.98"}, kDistance},
                      TuningCase{{"10", "0.07", "-15", "0.9", "0.98"}, nullptr},
                      TuningCase{{"10.5", "0.07", "-15", "0.9", "0.98"}, kDistance},
                      TuningCase{{"0.05", "1", "-15", "0.9", "0.98"}, nullptr},
                      TuningCase{{"0.05", "1.0001", "-15", "0.9", "0.98"}, kSpeed},
                      TuningCase{{"0.05", "0.07", "0", "0.9", "0.98"}, nullptr},
                      TuningCase{{"0.05", "0.07", "-80", "0.9", "0.98"}, nullptr},
                      TuningCase{{"0.05", "0.07", "0.5", "0.9", "0.98"}, kPsdb},
                      TuningCase{{"0.05", "0.07", "-80.5", "0.9", "0.98"}, kPsdb},
                      TuningCase{{"0.05", "0.07", "-15", "0.6", "0.9995"}, nullptr},
                      TuningCase{{"0.05", "0.07", "-15", "1", "0.98"}, kPnn},
                      TuningCase{{"0.05", "0.07", "-15", "0.9", "0.59"}, kPmn}));

TEST(Wavbeam, DistanceZeroShowsValue) {
  const std::string dir = TempDir();
  const RunResult r = ::Run(WAVBEAM_EXE, Args(dir + "/in.wav", dir + "/out.wav", {"0", "0.07", "-15", "0.9", "0.98"}));
  EXPECT_EQ(r.out, std::string(kDistance) + "0.000000\n");
}

TEST(Wavbeam, UnwritableOutput) {
  const std::string dir = TempDir();
  WriteFile(dir + "/in.wav", WavFile(WavFormat(), std::string(64, '\0')));
  const RunResult r = ::Run(WAVBEAM_EXE, Args(dir + "/in.wav", dir + "/no/such/dir/out.wav"));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Couldn't Write File\n");
}

TEST(Wavbeam, FullDeviceIsAWriteError) {
  const std::string dir = TempDir();
  for (size_t bytes : {size_t(64), kStep16k * kInFrameBytes * 40}) {
    WriteFile(dir + "/in.wav", WavFile(WavFormat(), VectorBytes("talker_16k", bytes)));
    const RunResult r = ::Run(WAVBEAM_EXE, Args(dir + "/in.wav", "/dev/full"));
    EXPECT_EQ(r.status, 1) << bytes;
    EXPECT_EQ(r.out.substr(0, 14), "Detection ...\n") << bytes;
    EXPECT_EQ(r.out.substr(r.out.size() - 20), "Couldn't Write File\n") << bytes;
  }
}

// ---------------------------------------------------------------- headers

// Declared 64000 bytes (16000 stereo frames) at 16000 Hz; 63000 present, so
// 123 complete steps of 128 frames.
const size_t kPresentBytes = 63000;
const unsigned long kDeclaredBytes = 64000;
const unsigned long kFinalDataSize = 2 * 123 * kStep16k;

void ExpectMonoHeader(const std::string& out, unsigned long dataSize) {
  ASSERT_GE(out.size(), kHeaderBytes);
  EXPECT_EQ(out.substr(0, 4), "RIFF");
  EXPECT_EQ(LeU32At(out, 4), dataSize + 48);
  EXPECT_EQ(out.substr(8, 8), "WAVEfmt ");
  EXPECT_EQ(LeU32At(out, 16), 16u);
  EXPECT_EQ(LeU16At(out, 20), 1u);       // linear PCM
  EXPECT_EQ(LeU16At(out, 22), 1u);       // mono
  EXPECT_EQ(LeU32At(out, 24), 16000u);   // rate kept
  EXPECT_EQ(LeU32At(out, 28), 32000u);   // 2 bytes per frame
  EXPECT_EQ(LeU16At(out, 32), 2u);
  EXPECT_EQ(LeU16At(out, 34), 16u);
  EXPECT_EQ(out.substr(36, 12), std::string("fact\x04\0\0\0\0\0\0\0", 12));
  EXPECT_EQ(out.substr(48, 4), "data");
  EXPECT_EQ(LeU32At(out, 52), dataSize);
}

TEST(Wavbeam, HeaderRewrittenWithTrueSize) {
  const std::string dir = TempDir();
  WriteFile(dir + "/in.wav", WavFile(WavFormat(), VectorBytes("talker_16k", kPresentBytes), kDeclaredBytes));
  const RunResult r = ::Run(WAVBEAM_EXE, Args(dir + "/in.wav", dir + "/out.wav"));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, FinishedReport(16000));
  const std::string out = ReadFile(dir + "/out.wav");
  ExpectMonoHeader(out, kFinalDataSize);
  EXPECT_EQ(out.size(), kHeaderBytes + kFinalDataSize);
}

// Through a pipe the first header is seen as written; the output cannot be
// rewound for the corrected header, which is a write error.
TEST(Wavbeam, FirstHeaderAnnouncesHalfTheInputSize) {
  const std::string dir = TempDir();
  const std::string fifo = dir + "/out.fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  WriteFile(dir + "/in.wav", WavFile(WavFormat(), VectorBytes("talker_16k", kPresentBytes), kDeclaredBytes));

  std::atomic<bool> done{false};
  std::string piped;
  std::thread reader([&] {
    piped = ReadFile(fifo);
    done = true;
  });
  const RunResult r = ::Run(WAVBEAM_EXE, Args(dir + "/in.wav", fifo));
  // Releases the reader should the program never have opened the pipe.
  while (!done) {
    const int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (fd >= 0) close(fd);
    std::this_thread::yield();
  }
  reader.join();

  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out.substr(r.out.size() - 20), "Couldn't Write File\n");
  ExpectMonoHeader(piped, kDeclaredBytes / 2);
  EXPECT_EQ(piped.size(), kHeaderBytes + kFinalDataSize);
}

struct ShortCase {
  unsigned long fmtSize;
  size_t headerBytes;
};

class WavbeamShortInput : public ::testing::TestWithParam<ShortCase> {};

TEST_P(WavbeamShortInput, GivesHeaderOnlyFile) {
  const std::string dir = TempDir();
  WavFormat f;
  f.fmtSize = GetParam().fmtSize;
  WriteFile(dir + "/in.wav", WavFile(f, VectorBytes("talker_16k", kStep16k * kInFrameBytes - 2)));
  const RunResult r = ::Run(WAVBEAM_EXE, Args(dir + "/in.wav", dir + "/out.wav"));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, FinishedReport(16000));
  const std::string out = ReadFile(dir + "/out.wav");
  ASSERT_EQ(out.size(), GetParam().headerBytes);
  EXPECT_EQ(LeU32At(out, 4), GetParam().fmtSize + 32);
  EXPECT_EQ(LeU32At(out, 16), GetParam().fmtSize);
  const size_t pad = GetParam().headerBytes - kHeaderBytes;
  EXPECT_EQ(out.substr(36, pad), std::string(pad, '\0'));
  EXPECT_EQ(out.substr(out.size() - 8), std::string("data\0\0\0\0", 8));
}

INSTANTIATE_TEST_SUITE_P(Wavbeam, WavbeamShortInput, ::testing::Values(ShortCase{16, 56}, ShortCase{18, 58}));

// ---------------------------------------------------------------- samples

// Where the samples end: the data chunk, or the end of the file when the
// declared size is unknown (0 or 0xFFFFFFFF) or runs past the end.
struct ExtentCase {
  const char* name;
  size_t dataBytes;       // present in the data chunk
  unsigned long declared;
  std::string trailing;   // bytes after the data chunk
  size_t processedBytes;  // of data + trailing that are audio
};

const size_t kSomeData = kStep16k * kInFrameBytes * 20 + 300;
const std::string kListChunk = Chunk("LIST", "INFO" + std::string(2044, 'x'));

std::vector<ExtentCase> ExtentCases() {
  return {
      {"TrailingListIsNotAudio", kSomeData, kSomeData, kListChunk, kSomeData},
      {"SizeZeroReadsToEnd", kSomeData, 0, "", kSomeData},
      {"SizeUnknownReadsToEnd", kSomeData, 0xFFFFFFFFul, "", kSomeData},
      {"SizePastEndReadsToEnd", kSomeData, 2 * kSomeData, "", kSomeData},
      {"ShorterDeclaredSizeStopsEarly", kSomeData, kSomeData / 2, "", kSomeData / 2},
  };
}

class WavbeamExtent : public ::testing::TestWithParam<ExtentCase> {};

TEST_P(WavbeamExtent, ProcessesExactlyTheAudio) {
  const ExtentCase& c = GetParam();
  const std::string dir = TempDir();
  const std::string stereo = VectorBytes("talker_16k", c.dataBytes);
  WriteFile(dir + "/in.wav", WavFile(WavFormat(), stereo, c.declared) + c.trailing);
  const RunResult r = ::Run(WAVBEAM_EXE, Args(dir + "/in.wav", dir + "/out.wav"));
  EXPECT_EQ(r.status, 0);

  const std::string out = ReadFile(dir + "/out.wav");
  const size_t frames = c.processedBytes / kInFrameBytes / kStep16k * kStep16k;
  ExpectMonoHeader(out, 2 * frames);
  EXPECT_EQ(out.size(), kHeaderBytes + 2 * frames);
  EXPECT_EQ(SamplesAfterHeader(out), PcmbeamOutput(dir, stereo.substr(0, c.processedBytes), 16000));
}

INSTANTIATE_TEST_SUITE_P(Wavbeam, WavbeamExtent, ::testing::ValuesIn(ExtentCases()),
                         [](const ::testing::TestParamInfo<ExtentCase>& i) { return std::string(i.param.name); });

struct SameAsPcmCase {
  const char* vector;
  unsigned rate;
  std::vector<std::string> tuning;
};

class WavbeamSamples : public ::testing::TestWithParam<SameAsPcmCase> {};

TEST_P(WavbeamSamples, SameAsPcmbeam) {
  const SameAsPcmCase& c = GetParam();
  const std::string dir = TempDir();
  const std::string stereo = VectorBytes(c.vector);
  WriteFile(dir + "/in.wav", WavFile(With(1, 2, c.rate, 16), stereo));
  const RunResult r = ::Run(WAVBEAM_EXE, Args(dir + "/in.wav", dir + "/out.wav", c.tuning));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, FinishedReport(c.rate));
  const std::vector<int16_t> expected = PcmbeamOutput(dir, stereo, c.rate, c.tuning);
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(SamplesAfterHeader(ReadFile(dir + "/out.wav")), expected);
}

INSTANTIATE_TEST_SUITE_P(Wavbeam, WavbeamSamples,
                         ::testing::Values(SameAsPcmCase{"talker_8k", 8000, kTuning},
                                           SameAsPcmCase{"talker_32k", 32000, kTuning},
                                           SameAsPcmCase{"tuned_16k", 16000, {"0.1", "0.3", "-30", "0.6", "0.995"}}),
                         [](const ::testing::TestParamInfo<SameAsPcmCase>& i) { return std::string(i.param.vector); });

}  // namespace
