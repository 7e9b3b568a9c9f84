// WAV header module: headers read from files written byte by byte, the header
// it writes, the G.711 tables, whole-file loading and saving. Broken headers
// are refused end to end (test_hostile), where their message shows.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support.h"
#include "wav.h"
#include "wavfile.h"

namespace {

// A temporary stream holding the given bytes and positioned at its start.
struct Stream {
  FILE* f = tmpfile();
  explicit Stream(const std::string& bytes = "") {
    fwrite(bytes.data(), 1, bytes.size(), f);
    rewind(f);
  }
  ~Stream() { fclose(f); }
  std::string Bytes() {
    std::string out;
    rewind(f);
    for (int c; (c = fgetc(f)) != EOF;) out += (char)c;
    return out;
  }
};

std::vector<unsigned long> Fields(const WAV_HEADER& h) {
  return {h.SubChunk_fmtSize, h.AudioFormat, h.Channels,      h.SampleRate,
          h.ByteRate,         h.BlockAlign,  h.BitsPerSample, h.DataSize};
}

WAV_HEADER Header(const WavFormat& f, unsigned dataSize) {
  WAV_HEADER h;
  h.SubChunk_fmtSize = f.fmtSize;
  h.AudioFormat = (unsigned short)f.format;
  h.Channels = (unsigned short)f.channels;
  h.SampleRate = (unsigned)f.rate;
  h.BlockAlign = (unsigned short)(f.channels * f.bits / 8);
  h.ByteRate = h.SampleRate * h.BlockAlign;
  h.BitsPerSample = (unsigned short)f.bits;
  h.DataSize = dataSize;
  return h;
}

const WavFormat kStereo16k, kFmt18{1, 2, 16000, 16, 18}, kAlaw{6, 2, 8000, 8}, kUlaw{7, 2, 8000, 8};
const std::string kSamples = "\x01\x02\x03\x04\x05\x06\x07\x08";
const std::string kFmt = FmtChunk(kStereo16k), kData = Chunk("data", kSamples);

struct LoadCase {
  const char* name;
  std::string file;
  WavFormat format;
  unsigned dataSize;
  long firstSample;  // offset of the first sample byte
};

class LoadFromFile : public ::testing::TestWithParam<LoadCase> {};

TEST_P(LoadFromFile, ReadsTheFieldsAndStopsAtTheFirstSample) {
  Stream s(GetParam().file);
  WAV_HEADER h;
  h.LoadFromFile(s.f);
  EXPECT_EQ(Fields(h), Fields(Header(GetParam().format, GetParam().dataSize)));
  EXPECT_EQ(ftell(s.f), GetParam().firstSample);
}

INSTANTIATE_TEST_SUITE_P(
    Wav, LoadFromFile,
    ::testing::Values(LoadCase{"Canonical", WavFile(kStereo16k, kSamples), kStereo16k, 8, 44},
                      LoadCase{"FmtOf18Bytes", WavFile(kFmt18, kSamples), kFmt18, 8, 46},
                      LoadCase{"FactSkippedBySize", Riff(kFmt + Chunk("fact", "data") + kData), kStereo16k, 8, 56},
                      // Skipped by its size: the "data" in its body is not the data chunk.
                      LoadCase{"ListAfterWave", Riff(Chunk("LIST", "INFOdata xyz") + kFmt + kData), kStereo16k, 8, 64},
                      // Odd-sized, without a pad byte: passed over one byte at a time.
                      LoadCase{"UnknownChunk", Riff(kFmt + Chunk("junk", "abcdefg") + kData), kStereo16k, 8, 59},
                      LoadCase{"SizeBeyondTheFile", WavFile(kStereo16k, kSamples, 0xFFFFFFFFul), kStereo16k,
                               0xFFFFFFFFu, 44}),
    [](const ::testing::TestParamInfo<LoadCase>& i) { return std::string(i.param.name); });

// Refused after its first four bytes; openAll passes the exception on.
TEST(UnknownFormat, NotRiff) {
  std::string path = TempDir() + "/in.wav", file = "RIFX" + WavFile(kStereo16k, kSamples).substr(4);
  Stream s(file);
  WAV_HEADER h;
  EXPECT_THROW(h.LoadFromFile(s.f), std::string);
  EXPECT_EQ(ftell(s.f), 4);
  WriteFile(path, file);
  unsigned int frames = 0;
  short* buf = nullptr;
  EXPECT_THROW(h.openAll(&path[0], &frames, &buf), std::string);
}

TEST(SaveToFile, WritesTheCanonicalHeader) {
  Stream s;
  EXPECT_TRUE(Header(WavFormat{1, 1, 16000, 16}, 1000).SaveToFile(s.f));
  EXPECT_EQ(s.Bytes(), std::string("RIFF\x18\x04\x00\x00WAVEfmt \x10\x00\x00\x00", 20) +
                           std::string("\x01\x00\x01\x00\x80\x3e\x00\x00\x00\x7d\x00\x00\x02\x00\x10\x00", 16) +
                           std::string("fact\x04\x00\x00\x00\x00\x00\x00\x00", 12) +
                           std::string("data\xe8\x03\x00\x00", 8));
  // A `fmt ` extension is written as zeros: 58 bytes for 18.
  Stream t;
  EXPECT_TRUE(Header(kFmt18, 1234).SaveToFile(t.f));
  EXPECT_EQ(t.Bytes(), WrittenHeader(kFmt18, 1234));
}

// The G.711 segment tables: for magnitude code m (0..127), segment m / 16
// starts at `start` and grows by `step` per code; bit 7 set is positive.
struct Law {
  const std::array<long, 256>* table;
  unsigned inverted;  // bits inverted in the code byte
  long start[8];
  long step[8];
};

class G711Table : public ::testing::TestWithParam<Law> {};

TEST_P(G711Table, EveryCodeFollowsTheSegmentTable) {
  const Law& law = GetParam();
  for (unsigned b = 0; b < 256; b++) {
    const long entry = (*law.table)[b];
    ASSERT_TRUE(entry >= 0 && entry <= 0xFFFF) << b;  // a 16-bit pattern
    const unsigned m = (b ^ law.inverted) & 0x7Fu;
    const long magnitude = law.start[m / 16] + law.step[m / 16] * (long)(m % 16);
    EXPECT_EQ((int16_t)(uint16_t)entry, (b & 0x80u) ? magnitude : -magnitude) << "code " << b;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Wav, G711Table,
    ::testing::Values(
        Law{&alaw2linear, 0x55, {8, 264, 528, 1056, 2112, 4224, 8448, 16896}, {16, 16, 32, 64, 128, 256, 512, 1024}},
        Law{&ulaw2linear, 0x7F, {0, 132, 396, 924, 1980, 4092, 8316, 16764}, {8, 16, 32, 64, 128, 256, 512, 1024}}));

struct OpenCase {
  const char* name;
  std::string file;              // empty: no file at all
  std::vector<int16_t> samples;  // empty: refused
};

class OpenAll : public ::testing::TestWithParam<OpenCase> {};

TEST_P(OpenAll, DecodesTheSamplesOrReturnsZero) {
  const OpenCase& c = GetParam();
  std::string path = TempDir() + "/in.wav";
  if (!c.file.empty()) WriteFile(path, c.file);
  WAV_HEADER h;
  unsigned int frames = 99;
  short* buf = c.samples.empty() ? nullptr : (short*)malloc(4);  // released by openAll
  ASSERT_EQ(h.openAll(&path[0], &frames, &buf), c.samples.empty() ? 0 : 1);
  EXPECT_EQ(frames * h.Channels, c.samples.size());
  EXPECT_EQ(buf ? std::vector<int16_t>(buf, buf + c.samples.size()) : std::vector<int16_t>(), c.samples);
  free(buf);
}

const std::vector<int16_t> kPcm = {1, -2, 32767, -32768, 0x1234, -0x1234};
INSTANTIATE_TEST_SUITE_P(
    Wav, OpenAll,
    // The G.711 codes with known values, as file samples.
    ::testing::Values(OpenCase{"Alaw", WavFile(kAlaw, "\xD5\x55\xAA\x2A"), {8, -8, 32256, -32256}},
                      // A partial frame at the end is not loaded.
                      OpenCase{"Ulaw", WavFile(kUlaw, std::string("\xFF\x7F\x80\x00\xEF", 5)), {0, 0, 32124, -32124}},
                      OpenCase{"Pcm16", WavFile(kStereo16k, PcmBytes(kPcm)), kPcm}, OpenCase{"MissingFile", "", {}},
                      OpenCase{"BlockAlignZero", WavFile(WavFormat{1, 0}, kSamples), {}},
                      OpenCase{"Float", WavFile(WavFormat{3, 2, 16000, 32}, kSamples), {}},
                      OpenCase{"Pcm24", WavFile(WavFormat{1, 2, 16000, 24}, std::string(12, '\x01')), {}},
                      OpenCase{"ShortData", WavFile(kStereo16k, kSamples, 100), {}},
                      OpenCase{"ShortG711Data", WavFile(kAlaw, "\xD5\xD5", 10), {}}),
    [](const ::testing::TestParamInfo<OpenCase>& i) { return std::string(i.param.name); });

TEST(SaveAll, RoundTripThroughOpenAll) {
  std::vector<short> samples;
  for (int i = 0; i < 300; i++) samples.push_back((short)(i * 218 - 32768));
  WAV_HEADER h = Header(kStereo16k, 600);
  std::string path = TempDir() + "/out.wav";
  ASSERT_EQ(h.saveAll(&path[0], 150, samples.data()), 1);
  EXPECT_EQ(ReadFile(path), WrittenHeader(kStereo16k, 600) + PcmBytes(samples));
  WAV_HEADER r;
  unsigned int frames = 0;
  short* buf = nullptr;
  ASSERT_EQ(r.openAll(&path[0], &frames, &buf), 1);
  EXPECT_EQ(frames, 150u);
  EXPECT_EQ(Fields(r), Fields(h));
  EXPECT_EQ(std::vector<short>(buf, buf + 300), samples);
  free(buf);
}

TEST(SaveAll, NothingToSaveAndWriteFailuresGiveZero) {
  std::vector<short> samples(1000, 5);
  WAV_HEADER h = Header(WavFormat{1, 1}, 2000);
  const std::string dir = TempDir();
  std::string empty = dir + "/empty.wav", noDir = dir + "/missing/out.wav", full = "/dev/full";
  EXPECT_EQ(h.saveAll(&empty[0], 0, samples.data()), 0);
  EXPECT_FALSE(FileExists(empty));
  EXPECT_EQ(h.saveAll(&noDir[0], 1000, samples.data()), 0);
  EXPECT_EQ(h.saveAll(&full[0], 1000, samples.data()), 0);  // buffered: fails when closed
  FILE* f = fopen("/dev/full", "wb");
  ASSERT_NE(f, nullptr);
  setvbuf(f, nullptr, _IONBF, 0);
  EXPECT_FALSE(h.SaveToFile(f));
  fclose(f);
}

}  // namespace
