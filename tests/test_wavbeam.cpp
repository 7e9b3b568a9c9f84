// wavbeam run as a user runs it: the usage text, refusals, the output header
// before and after the run, which bytes are audio, pcmbeam's samples for the
// same samples. Tuning ranges: test_pcmbeam; hostile files: test_hostile.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "micarray.h"
#include "support.h"
#include "wavfile.h"

namespace {

const std::vector<std::string> kTuning = {"0.05", "0.07", "-15", "0.9", "0.98"};

RunResult Wavbeam(const std::string& in, const std::string& out, std::vector<std::string> args = kTuning) {
  args.insert(args.end(), {in, out});
  return ::Run(WAVBEAM_EXE, args);
}

const std::string kBanner = std::string(MicArray_Info.product_name) + "\n" + MicArray_Info.product_version + "\n" +
                            MicArray_Info.product_company + "\n";
const WavFormat kMono16k{1, 1};
const std::string kVectors = std::string(VECTOR_DIR) + "/";

// Six arguments print the usage; the tuning is checked before the input is opened.
TEST(Wavbeam, UsageAndTuningComeBeforeTheInput) {
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
                std::string(40, '=') + "\n" + kBanner + "Press enter key\n");
  const RunResult bad = ::Run(WAVBEAM_EXE, {"0", "0.07", "-15", "0.9", "0.98", "/nonexistent/in.wav", "out.wav"});
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(bad.out, "Distance between sensors [meter] must be (0.0, 10.0]\nCurrent value: 0.000000\n");
}

// Each refusal prints its message, exits with 1 and creates no output.
TEST(Wavbeam, RefusalsPrintTheirMessageAndCreateNoOutput) {
  const std::string some(4096, '\x11'), notPcm16 = "Input file must be Windows PCM 16 bits linear format.";
  const struct {
    std::string file;  // empty: the input does not exist
    std::string message;
  } cases[] = {{"", "Couldn't read input file"},
               {WavFile(kMono16k, some), "Input file must be Stereo channels format"},
               {WavFile(WavFormat{1, 2, 44100}, some), "Sampling rate for input file must be <= 32 kHz"},
               {WavFile(WavFormat{3, 2, 16000, 32}, some), notPcm16},
               {WavFile(WavFormat{1, 2, 16000, 24}, some), notPcm16},
               {WavFile(WavFormat{1, 2, 16000, 8}, some), notPcm16}};
  for (const auto& c : cases) {
    const std::string dir = TempDir();
    if (!c.file.empty()) WriteFile(dir + "/in.wav", c.file);
    const RunResult r = Wavbeam(dir + "/in.wav", dir + "/out.wav");
    EXPECT_EQ(r.status, 1) << c.message;
    EXPECT_EQ(r.out, c.message + "\n");
    EXPECT_FALSE(FileExists(dir + "/out.wav")) << c.message;
  }
}

// DataSize 64000 at 16000 Hz, 63000 bytes present: the header first announces
// 32000 bytes (seen through a pipe, where the rewind for the true size fails).
TEST(Wavbeam, HeaderFirstAnnouncesHalfTheInputSize) {
  const std::string dir = TempDir(), fifo = dir + "/out.fifo";
  WriteFile(dir + "/in.wav", WavFile(WavFormat(), ReadFile(kVectors + "talker_16k.in.pcm").substr(0, 63000), 64000));
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);  // so that wavbeam's open does not wait
  const RunResult r = Wavbeam(dir + "/in.wav", fifo);
  std::string piped(65536, '\0');  // the pipe's capacity: room for the whole output
  piped.resize(std::max<ssize_t>(read(reader, &piped[0], piped.size()), 0));
  close(reader);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out.substr(r.out.size() - 20), "Couldn't Write File\n");
  EXPECT_EQ(piped.substr(0, 56), WrittenHeader(kMono16k, 32000));
  EXPECT_EQ(piped.size(), 56 + 2 * 123 * 128);
}

// The output is the header (with the true size) and pcmbeam's samples for the
// audio: the data chunk, or the rest of the file when its size is 0,
// 0xFFFFFFFF or past the end. Less than a step gives the header alone.
TEST(Wavbeam, SameSamplesAsPcmbeam) {
  const size_t step = 128 * 4, some = step * 20 + 300;  // bytes of one step of stereo pairs, of some steps
  const struct {
    const char* vector;
    size_t present;             // sample bytes of the vector in the data chunk
    long long declared = -1;    // its size in the header; -1: the bytes present
    std::string trailing = "";  // bytes after the data chunk, not audio
    unsigned long fmtSize = 16;
    std::vector<std::string> tuning = kTuning;
  } cases[] = {{"tuned_16k", std::string::npos, -1, "", 16, {"0.1", "0.3", "-30", "0.6", "0.995"}},
               {"talker_16k", some, -1, Chunk("LIST", "INFO" + std::string(2044, 'x'))},
               {"talker_16k", some, 0},
               {"talker_16k", some, 0xFFFFFFFFll},
               {"talker_16k", 63000, 64000},
               {"talker_16k", step - 2, -1, "", 18}};
  for (const auto& c : cases) {
    const std::string dir = TempDir(), stereo = ReadFile(kVectors + c.vector + ".in.pcm").substr(0, c.present);
    SCOPED_TRACE(std::string(c.vector) + ", declared " + std::to_string(c.declared));
    const unsigned long declared = c.declared < 0 ? stereo.size() : (unsigned long)c.declared;
    WriteFile(dir + "/in.wav", WavFile(WavFormat{1, 2, 16000, 16, c.fmtSize}, stereo, declared) + c.trailing);
    const RunResult r = Wavbeam(dir + "/in.wav", dir + "/out.wav", c.tuning);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Detection ...\nSampling rate: 16000 Hz\nIt's finished...\n" + std::string(54, '=') + "\n\n" +
                         kBanner + "Press enter key\n");
    WriteFile(dir + "/ref.pcm", stereo);
    std::vector<std::string> args = c.tuning;
    args.insert(args.end(), {"16000", dir + "/ref.pcm", dir + "/ref.out.pcm"});
    ASSERT_EQ(::Run(PCMBEAM_EXE, args).status, 0);
    const std::string samples = ReadFile(dir + "/ref.out.pcm");
    const WavFormat mono{1, 1, 16000, 16, c.fmtSize};
    EXPECT_EQ(ReadFile(dir + "/out.wav"), WrittenHeader(mono, samples.size()) + samples);
  }
}

}  // namespace
