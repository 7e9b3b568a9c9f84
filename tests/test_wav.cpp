// WAV header module: reading headers written byte by byte, the canonical
// header it writes, G.711 decoding, and whole-file loading and saving.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support.h"
#include "wav.h"
#include "wavfile.h"

namespace {

// A readable stream holding the given bytes, positioned at its start.
struct MemFile {
  FILE* f;
  explicit MemFile(const std::string& bytes) : f(tmpfile()) {
    fwrite(bytes.data(), 1, bytes.size(), f);
    rewind(f);
  }
  ~MemFile() { fclose(f); }
};

// Everything written to a stream by `write`.
template <typename Write>
std::string Written(Write write) {
  FILE* f = tmpfile();
  write(f);
  std::string out((size_t)ftell(f), '\0');
  rewind(f);
  out.resize(fread(&out[0], 1, out.size(), f));
  fclose(f);
  return out;
}

WAV_HEADER Header(unsigned long fmtSize, unsigned format, unsigned channels, unsigned rate, unsigned bits,
                  unsigned dataSize) {
  WAV_HEADER h;
  h.SubChunk_fmtSize = fmtSize;
  h.AudioFormat = (unsigned short)format;
  h.Channels = (unsigned short)channels;
  h.SampleRate = rate;
  h.BlockAlign = (unsigned short)(channels * bits / 8);
  h.ByteRate = rate * h.BlockAlign;
  h.BitsPerSample = (unsigned short)bits;
  h.DataSize = dataSize;
  return h;
}

// ---------------------------------------------------------------- reading

struct LoadCase {
  const char* name;
  std::string file;
  unsigned long fmtSize;
  unsigned dataSize;
  long position;  // of the first sample byte
};

const std::string kSamples = "\x01\x02\x03\x04\x05\x06\x07\x08";
const WavFormat kStereo16k;
WavFormat Fmt18() {
  WavFormat f;
  f.fmtSize = 18;
  return f;
}
const std::string kDataChunk = Chunk("data", kSamples);

std::vector<LoadCase> LoadCases() {
  return {
      {"Canonical", WavFile(kStereo16k, kSamples), 16, 8, 44},
      {"FmtExtensionSkipped", WavFile(Fmt18(), kSamples), 18, 8, 46},
      {"FactSkippedBySize", Riff(FmtChunk(kStereo16k) + Chunk("fact", "data") + kDataChunk), 16, 8, 56},
      {"ListAfterWaveSkippedBySize",
       Riff(Chunk("LIST", "INFOdata xyz") + FmtChunk(kStereo16k) + kDataChunk), 16, 8, 64},
      // An odd-sized unknown chunk is passed over one byte at a time.
      {"UnknownChunkSlidOver", Riff(FmtChunk(kStereo16k) + Chunk("junk", "abcdefg") + kDataChunk), 16, 8, 59},
      {"ListAfterFmtSlidOver", Riff(FmtChunk(kStereo16k) + Chunk("LIST", "INFOISFT") + kDataChunk), 16, 8, 60},
      {"DeclaredSizeBeyondFile", WavFile(kStereo16k, kSamples, 0xFFFFFFFFul), 16, 0xFFFFFFFFu, 44},
  };
}

class LoadFromFileTest : public ::testing::TestWithParam<LoadCase> {};

TEST_P(LoadFromFileTest, ReadsFieldsAndStopsAtFirstSample) {
  const LoadCase& c = GetParam();
  MemFile m(c.file);
  WAV_HEADER h;
  h.LoadFromFile(m.f);
  EXPECT_EQ(h.SubChunk_fmtSize, c.fmtSize);
  EXPECT_EQ(h.AudioFormat, 1);
  EXPECT_EQ(h.Channels, 2);
  EXPECT_EQ(h.SampleRate, 16000u);
  EXPECT_EQ(h.ByteRate, 64000u);
  EXPECT_EQ(h.BlockAlign, 4);
  EXPECT_EQ(h.BitsPerSample, 16);
  EXPECT_EQ(h.DataSize, c.dataSize);
  EXPECT_EQ(ftell(m.f), c.position);
  EXPECT_EQ(fgetc(m.f), 0x01);
}

INSTANTIATE_TEST_SUITE_P(Wav, LoadFromFileTest, ::testing::ValuesIn(LoadCases()),
                         [](const ::testing::TestParamInfo<LoadCase>& i) { return std::string(i.param.name); });

struct BadCase {
  const char* name;
  std::string file;
};

std::vector<BadCase> BadCases() {
  const std::string fmt = FmtChunk(kStereo16k);
  return {
      {"NotRiff", "RIFX" + WavFile(kStereo16k, kSamples).substr(4)},
      {"NotWave", "RIFF" + LeU32(40) + "AVI " + fmt + kDataChunk},
      {"NoFmt", Riff(Chunk("junk", "abcd") + fmt + kDataChunk)},
      {"NoData", Riff(fmt + Chunk("junk", "abcdefgh"))},
      {"FactRunsPastEnd", Riff(fmt + "fact" + LeU32(100) + kDataChunk)},
      {"TruncatedFmt", Riff(fmt).substr(0, 30)},
      {"TruncatedDataSize", Riff(fmt + "data\x10")},
      {"Empty", ""},
  };
}

class LoadFromFileRefusal : public ::testing::TestWithParam<BadCase> {};

TEST_P(LoadFromFileRefusal, ThrowsUnknownFormat) {
  MemFile m(GetParam().file);
  WAV_HEADER h;
  try {
    h.LoadFromFile(m.f);
    FAIL() << "no exception";
  } catch (const std::string& e) {
    EXPECT_EQ(e, "Unknown format");
  }
}

INSTANTIATE_TEST_SUITE_P(Wav, LoadFromFileRefusal, ::testing::ValuesIn(BadCases()),
                         [](const ::testing::TestParamInfo<BadCase>& i) { return std::string(i.param.name); });

TEST(LoadFromFile, NotRiffIsRefusedAfterFourBytes) {
  MemFile m("RIFX" + WavFile(kStereo16k, kSamples).substr(4));
  WAV_HEADER h;
  EXPECT_THROW(h.LoadFromFile(m.f), std::string);
  EXPECT_EQ(ftell(m.f), 4);
}

// ---------------------------------------------------------------- writing

TEST(SaveToFile, CanonicalHeaderByteByByte) {
  WAV_HEADER h = Header(16, 1, 1, 16000, 16, 1000);
  const std::string expected = std::string("RIFF\x18\x04\x00\x00WAVEfmt \x10\x00\x00\x00", 20) +
                               std::string("\x01\x00\x01\x00\x80\x3e\x00\x00\x00\x7d\x00\x00\x02\x00\x10\x00", 16) +
                               std::string("fact\x04\x00\x00\x00\x00\x00\x00\x00", 12) +
                               std::string("data\xe8\x03\x00\x00", 8);
  EXPECT_EQ(Written([&](FILE* f) { EXPECT_TRUE(h.SaveToFile(f)); }), expected);
}

TEST(SaveToFile, FmtExtensionWrittenAsZeros) {
  WAV_HEADER h = Header(18, 1, 2, 8000, 16, 400);
  const std::string out = Written([&](FILE* f) { h.SaveToFile(f); });
  ASSERT_EQ(out.size(), 58u);
  EXPECT_EQ(LeU32At(out, 4), 18u + 400u + 32u);
  EXPECT_EQ(LeU32At(out, 16), 18u);
  EXPECT_EQ(out.substr(36, 2), std::string(2, '\0'));
  EXPECT_EQ(out.substr(38, 4), "fact");
  EXPECT_EQ(out.substr(50, 4), "data");
  EXPECT_EQ(LeU32At(out, 54), 400u);
}

TEST(SaveToFile, RiffSizeWrapsModulo32Bits) {
  WAV_HEADER h = Header(16, 1, 2, 8000, 16, 0xFFFFFFF0u);
  const std::string out = Written([&](FILE* f) { h.SaveToFile(f); });
  EXPECT_EQ(LeU32At(out, 4), 0x20u);
}

TEST(SaveToFile, WriteFailureIsReported) {
  FILE* f = fopen("/dev/full", "wb");
  ASSERT_NE(f, nullptr);
  setvbuf(f, nullptr, _IONBF, 0);
  WAV_HEADER h = Header(16, 1, 1, 8000, 16, 0);
  EXPECT_FALSE(h.SaveToFile(f));
  fclose(f);
}

TEST(SaveToFile, ReadsBackWithSameFields) {
  for (unsigned long fmtSize : {16ul, 18ul, 20ul}) {
    WAV_HEADER h = Header(fmtSize, 7, 2, 8000, 8, 1234);
    MemFile m(Written([&](FILE* f) { h.SaveToFile(f); }));
    WAV_HEADER r;
    r.LoadFromFile(m.f);
    EXPECT_EQ(ftell(m.f), (long)(56 + fmtSize - 16));
    EXPECT_EQ(r.SubChunk_fmtSize, fmtSize);
    EXPECT_EQ(r.AudioFormat, 7);
    EXPECT_EQ(r.Channels, 2);
    EXPECT_EQ(r.SampleRate, 8000u);
    EXPECT_EQ(r.ByteRate, 16000u);
    EXPECT_EQ(r.BlockAlign, 2);
    EXPECT_EQ(r.BitsPerSample, 8);
    EXPECT_EQ(r.DataSize, 1234u);
  }
}

TEST(SaveToFile, RewriteChangesOnlyTheTwoSizes) {
  WAV_HEADER h = Header(18, 1, 1, 16000, 16, 0);
  std::string first, second;
  const std::string samples = PcmBytes({100, -100, 7});
  second = Written([&](FILE* f) {
    h.SaveToFile(f);
    fwrite(samples.data(), 1, samples.size(), f);
    first = Written([&](FILE* g) { h.SaveToFile(g); });
    fseek(f, 0, SEEK_SET);
    h.DataSize = (unsigned)samples.size();
    h.SaveToFile(f);
    fseek(f, 0, SEEK_END);
  });
  ASSERT_EQ(second.size(), first.size() + samples.size());
  EXPECT_EQ(second.substr(first.size()), samples);
  for (size_t i = 0; i < first.size(); i++) {
    const bool sizeField = (i >= 4 && i < 8) || i >= first.size() - 4;
    if (!sizeField) {
      EXPECT_EQ(second[i], first[i]) << "byte " << i;
    }
  }
  EXPECT_EQ(LeU32At(second, 4), 18u + 6u + 32u);
  EXPECT_EQ(LeU32At(second, first.size() - 4), 6u);
}

// ---------------------------------------------------------------- G.711

struct CodeCase {
  const std::array<long, 256>* table;
  unsigned code;
  int sample;
};

class G711Value : public ::testing::TestWithParam<CodeCase> {};

TEST_P(G711Value, Decodes) {
  const long entry = (*GetParam().table)[GetParam().code];
  EXPECT_EQ((int16_t)(uint16_t)entry, GetParam().sample);
}

INSTANTIATE_TEST_SUITE_P(Wav, G711Value,
                         ::testing::Values(CodeCase{&alaw2linear, 0xD5, 8}, CodeCase{&alaw2linear, 0x55, -8},
                                           CodeCase{&alaw2linear, 0xAA, 32256}, CodeCase{&alaw2linear, 0x2A, -32256},
                                           CodeCase{&ulaw2linear, 0xFF, 0}, CodeCase{&ulaw2linear, 0x7F, 0},
                                           CodeCase{&ulaw2linear, 0x80, 32124}, CodeCase{&ulaw2linear, 0x00, -32124},
                                           CodeCase{&ulaw2linear, 0xEF, 132}, CodeCase{&ulaw2linear, 0x6F, -132}));

// The G.711 segment tables: for magnitude code m (0..127), segment m / 16 starts
// at `start` and grows by `step` per code within the segment.
struct Law {
  const char* name;
  const std::array<long, 256>* table;
  long start[8];
  long step[8];
  unsigned (*magnitudeCode)(unsigned b);
  bool (*positive)(unsigned b);
};

const Law kLaws[] = {
    {"Alaw", &alaw2linear, {8, 264, 528, 1056, 2112, 4224, 8448, 16896}, {16, 16, 32, 64, 128, 256, 512, 1024},
     [](unsigned b) { return (b ^ 0x55u) & 0x7Fu; }, [](unsigned b) { return (b & 0x80u) != 0; }},
    {"Ulaw", &ulaw2linear, {0, 132, 396, 924, 1980, 4092, 8316, 16764}, {8, 16, 32, 64, 128, 256, 512, 1024},
     [](unsigned b) { return ~b & 0x7Fu; }, [](unsigned b) { return (b & 0x80u) != 0; }},
};

class G711Table : public ::testing::TestWithParam<Law> {};

TEST_P(G711Table, EveryCodeFollowsTheSegmentTable) {
  const Law& law = GetParam();
  for (unsigned b = 0; b < 256; b++) {
    const long entry = (*law.table)[b];
    ASSERT_GE(entry, 0) << b;
    ASSERT_LE(entry, 0xFFFF) << b;
    const unsigned m = law.magnitudeCode(b);
    const long magnitude = law.start[m / 16] + law.step[m / 16] * (long)(m % 16);
    EXPECT_EQ((int16_t)(uint16_t)entry, law.positive(b) ? magnitude : -magnitude) << "code " << b;
  }
}

INSTANTIATE_TEST_SUITE_P(Wav, G711Table, ::testing::ValuesIn(kLaws),
                         [](const ::testing::TestParamInfo<Law>& i) { return std::string(i.param.name); });

// ---------------------------------------------------------------- whole files

struct OpenCase {
  const char* name;
  WavFormat format;
  std::string data;
  std::vector<int16_t> samples;
  unsigned frames;
};

WavFormat G711Format(unsigned tag) {
  WavFormat f;
  f.format = tag;
  f.bits = 8;
  return f;
}

std::vector<OpenCase> OpenCases() {
  return {
      {"Alaw", G711Format(6), "\xD5\x55\xAA\x2A", {8, -8, 32256, -32256}, 2},
      // A partial frame at the end is not loaded.
      {"UlawPartialFrame", G711Format(7), std::string("\xFF\x7F\x80\x00\xEF", 5), {0, 0, 32124, -32124}, 2},
      {"Pcm16", WavFormat(), PcmBytes({1, -2, 32767, -32768, 0x1234, -0x1234}), {1, -2, 32767, -32768, 0x1234, -0x1234},
       3},
  };
}

class OpenAllTest : public ::testing::TestWithParam<OpenCase> {};

TEST_P(OpenAllTest, DecodesSamples) {
  const OpenCase& c = GetParam();
  std::string path = TempDir() + "/in.wav";
  WriteFile(path, WavFile(c.format, c.data));
  WAV_HEADER h;
  unsigned int frames = 99;
  short* buf = (short*)malloc(4);  // released by openAll
  ASSERT_EQ(h.openAll(&path[0], &frames, &buf), 1);
  EXPECT_EQ(frames, c.frames);
  EXPECT_EQ(std::vector<int16_t>(buf, buf + frames * h.Channels), c.samples);
  free(buf);
}

INSTANTIATE_TEST_SUITE_P(Wav, OpenAllTest, ::testing::ValuesIn(OpenCases()),
                         [](const ::testing::TestParamInfo<OpenCase>& i) { return std::string(i.param.name); });

struct OpenRefusal {
  const char* name;
  std::string file;  // empty: no file at all
};

std::vector<OpenRefusal> OpenRefusals() {
  WavFormat noAlign;
  noAlign.channels = 0;  // BlockAlign 0
  WavFormat floats;
  floats.format = 3;
  floats.bits = 32;
  WavFormat pcm24;
  pcm24.bits = 24;
  return {
      {"MissingFile", ""},
      {"BlockAlignZero", WavFile(noAlign, kSamples)},
      {"FloatFormat", WavFile(floats, kSamples)},
      {"Pcm24", WavFile(pcm24, std::string(12, '\x01'))},
      {"ShortData", WavFile(WavFormat(), kSamples, 100)},
      {"ShortG711Data", WavFile(G711Format(6), "\xD5\xD5", 10)},
  };
}

class OpenAllRefusal : public ::testing::TestWithParam<OpenRefusal> {};

TEST_P(OpenAllRefusal, ReturnsZeroWithoutSamples) {
  std::string path = TempDir() + "/in.wav";
  if (!GetParam().file.empty()) WriteFile(path, GetParam().file);
  WAV_HEADER h;
  unsigned int frames = 99;
  short* buf = nullptr;
  EXPECT_EQ(h.openAll(&path[0], &frames, &buf), 0);
  EXPECT_EQ(frames, 0u);
  EXPECT_EQ(buf, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Wav, OpenAllRefusal, ::testing::ValuesIn(OpenRefusals()),
                         [](const ::testing::TestParamInfo<OpenRefusal>& i) { return std::string(i.param.name); });

TEST(OpenAll, UnknownFormatPassesOn) {
  std::string path = TempDir() + "/in.wav";
  WriteFile(path, "not a wave file at all");
  WAV_HEADER h;
  unsigned int frames = 99;
  short* buf = nullptr;
  try {
    h.openAll(&path[0], &frames, &buf);
    FAIL() << "no exception";
  } catch (const std::string& e) {
    EXPECT_EQ(e, "Unknown format");
  }
}

TEST(SaveAll, RoundTripThroughOpenAll) {
  std::vector<short> samples;
  for (int i = 0; i < 300; i++) samples.push_back((short)(i * 218 - 32768));
  WAV_HEADER h = Header(16, 1, 2, 8000, 16, (unsigned)(samples.size() * 2));
  std::string path = TempDir() + "/out.wav";
  ASSERT_EQ(h.saveAll(&path[0], 150, samples.data()), 1);
  EXPECT_EQ(ReadFile(path).size(), 56 + samples.size() * 2);

  WAV_HEADER r;
  unsigned int frames = 0;
  short* buf = nullptr;
  ASSERT_EQ(r.openAll(&path[0], &frames, &buf), 1);
  EXPECT_EQ(frames, 150u);
  EXPECT_EQ(r.Channels, 2);
  EXPECT_EQ(r.SampleRate, 8000u);
  EXPECT_EQ(std::vector<short>(buf, buf + 300), samples);
  free(buf);
}

TEST(SaveAll, NothingToSaveCreatesNoFile) {
  std::string path = TempDir() + "/out.wav";
  short sample = 0;
  WAV_HEADER h = Header(16, 1, 1, 8000, 16, 0);
  EXPECT_EQ(h.saveAll(&path[0], 0, &sample), 0);
  EXPECT_FALSE(FileExists(path));
}

TEST(SaveAll, FailuresReturnZero) {
  std::vector<short> samples(1000, 5);
  WAV_HEADER h = Header(16, 1, 1, 8000, 16, 2000);
  std::string full = "/dev/full";
  std::string noDir = TempDir() + "/missing/out.wav";
  EXPECT_EQ(h.saveAll(&full[0], 1000, samples.data()), 0);
  EXPECT_EQ(h.saveAll(&noDir[0], 1000, samples.data()), 0);
}

}  // namespace
