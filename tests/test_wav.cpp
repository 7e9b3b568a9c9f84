// WAV header module: headers read from files written byte by byte, the header it
// writes, G.711, whole files. Broken headers are refused end to end: test_programs.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support.h"
#include "wav.h"
#include "wavfile.h"

namespace {

const WavFormat kStereo16k, kMono16k{1, 1}, kFmt18{1, 2, 16000, 16, 18}, kFmt17{1, 2, 16000, 16, 17};
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
  EXPECT_FALSE(FileExists(empty));
  EXPECT_EQ(h.saveAll(&full[0], frames, buf), 0);
  free(buf);
  FILE* f = fopen("/dev/full", "wb");
  setvbuf(f, nullptr, _IONBF, 0);
  EXPECT_FALSE(h.SaveToFile(f));
  fclose(f);
}

}  // namespace
