// Reference vectors from an independent model of the engine: pcmbeam must
// reproduce every expected output bit for bit, and the engine's per-step
// decisions must match the model's trace (the first differing row names the
// stage that went astray).
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#include "micarray_core.h"
#include "scene.h"
#include "support.h"
#include "vector.h"
#include "wavfile.h"

namespace {

struct VectorCase {
  const char* name;
  const char* args[6];  // Distance Speed pSdb pNn pMn SampleRate
};

const VectorCase kCases[] = {
    {"talker_8k", {"0.05", "0.07", "-15", "0.9", "0.98", "8000"}},
    {"talker_16k", {"0.05", "0.07", "-15", "0.9", "0.98", "16000"}},
    {"talker_32k", {"0.05", "0.07", "-15", "0.9", "0.98", "32000"}},
    {"tuned_16k", {"0.1", "0.3", "-30", "0.6", "0.995", "16000"}},
    {"fullscale_16k", {"0.05", "1", "0", "0.9", "0.98", "16000"}},
    {"rate11025", {"0.05", "0.07", "-15", "0.9", "0.98", "11025"}},
    {"clip_noise_16k", {"0.05", "0.07", "0", "0.9", "0.98", "16000"}},
    {"clip_chirp_8k", {"0.05", "0.07", "0", "0.9", "0.98", "8000"}},
};

std::string VectorPath(const VectorCase& c, const char* suffix) {
  return std::string(VECTOR_DIR) + "/" + c.name + suffix;
}

class Vectors : public ::testing::TestWithParam<VectorCase> {};

TEST_P(Vectors, PcmbeamReproducesTheExpectedOutput) {
  const VectorCase& c = GetParam();
  const std::string out = TempDir() + "/out.pcm";
  std::vector<std::string> args(c.args, c.args + 6);
  args.push_back(VectorPath(c, ".in.pcm"));
  args.push_back(out);
  ASSERT_EQ(::Run(PCMBEAM_EXE, args).status, 0);
  const std::vector<int16_t> got = ReadPcm(out), want = ReadPcm(VectorPath(c, ".out.pcm"));
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < got.size(); i++) ASSERT_EQ(got[i], want[i]) << "first difference at sample " << i;
}

TEST_P(Vectors, EngineFollowsTheTraceStepByStep) {
  const VectorCase& c = GetParam();
  const std::vector<int16_t> in = ReadPcm(VectorPath(c, ".in.pcm"));
  std::istringstream trace(ReadFile(VectorPath(c, ".trace.csv")));
  std::string line;
  std::getline(trace, line);  // column names

  TMicArray engine;
  MicArray_Init(&engine, (uint32)atoi(c.args[5]), (float)strtod(c.args[0], nullptr), (float)strtod(c.args[1], nullptr),
                (float)strtod(c.args[2], nullptr), (float)strtod(c.args[3], nullptr), (float)strtod(c.args[4], nullptr));
  const micarray_core::TMicArray* core = micarray_core::Core(&engine);
  const size_t S = engine.lenght_step;
  std::vector<int16_t> out(S);
  float sdd_prev = 1.0f;
  for (size_t step = 0; std::getline(trace, line); step++) {
    ASSERT_LE((step + 1) * 2 * S, in.size());
    MicArray_Process(&engine, const_cast<int16_t*>(&in[step * 2 * S]), out.data());
    std::istringstream row(line);
    std::string f[10];
    for (std::string& v : f) std::getline(row, v, ',');
    const float sdd_norm = 0.5f * sdd_prev + 0.5f * core->sdd;
    sdd_prev = core->sdd;
    const int vad = (core->dtd_status[0] && core->dtd_status[1]) ? 0 : 1;
    SCOPED_TRACE("step " + f[0]);
    ASSERT_EQ(core->sdd, strtof(f[1].c_str(), nullptr));
    ASSERT_EQ(sdd_norm, strtof(f[2].c_str(), nullptr));
    ASSERT_EQ(core->dtd_coeff[0], strtof(f[3].c_str(), nullptr));
    ASSERT_EQ(core->dtd_coeff[1], strtof(f[4].c_str(), nullptr));
    ASSERT_EQ(core->dtd_status[0], atoi(f[5].c_str()));
    ASSERT_EQ(core->dtd_status[1], atoi(f[6].c_str()));
    ASSERT_EQ(vad, atoi(f[7].c_str()));
    ASSERT_EQ(out[0], atoi(f[8].c_str()));
    ASSERT_EQ(out[S - 1], atoi(f[9].c_str()));
  }
}

INSTANTIATE_TEST_SUITE_P(All, Vectors, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<VectorCase>& p) { return std::string(p.param.name); });

// FNV-1a over the bytes of a file.
uint64_t Fingerprint(const std::string& bytes) {
  uint64_t h = 14695981039346656037ull;
  for (unsigned char c : bytes) h = (h ^ c) * 1099511628211ull;
  return h;
}

struct GoldenCase {
  uint32_t rate;
  uint64_t fingerprint;     // of pcmbeam's output for three seconds of the default scene
  uint64_t wavFingerprint;  // of wavbeam's output file for the same samples as a WAV file
};

class Golden : public ::testing::TestWithParam<GoldenCase> {};

// Guards every bit of the output: an optimisation that changes one sample
// changes the fingerprint.
TEST_P(Golden, PcmbeamOutputMatchesTheRecordedFingerprint) {
  const std::string dir = TempDir();
  const TScene scene = Scene_Default(GetParam().rate, 3.0);
  WritePcm(dir + "/in.pcm", Scene_Render(&scene, kSceneBoth));
  const std::string rate = std::to_string(GetParam().rate);
  ASSERT_EQ(::Run(PCMBEAM_EXE, {"0.05", "0.07", "-15", "0.9", "0.98", rate, dir + "/in.pcm", dir + "/out.pcm"}).status,
            0);
  const uint64_t got = Fingerprint(ReadFile(dir + "/out.pcm"));
  EXPECT_EQ(got, GetParam().fingerprint) << std::hex << "0x" << got;
}

// The same for wavbeam: header and samples, every byte of the output file.
TEST_P(Golden, WavbeamOutputMatchesTheRecordedFingerprint) {
  const std::string dir = TempDir();
  const TScene scene = Scene_Default(GetParam().rate, 3.0);
  WavFormat format;
  format.rate = GetParam().rate;
  WriteFile(dir + "/in.wav", WavFile(format, PcmBytes(Scene_Render(&scene, kSceneBoth))));
  ASSERT_EQ(::Run(WAVBEAM_EXE, {"0.05", "0.07", "-15", "0.9", "0.98", dir + "/in.wav", dir + "/out.wav"}).status, 0);
  const uint64_t got = Fingerprint(ReadFile(dir + "/out.wav"));
  EXPECT_EQ(got, GetParam().wavFingerprint) << std::hex << "0x" << got;
}

INSTANTIATE_TEST_SUITE_P(Rates, Golden,
                         ::testing::Values(GoldenCase{8000, 0x2a71322d22bc98fcull, 0x68b41a099aadc9e6ull},
                                           GoldenCase{16000, 0xb9e0aad86d62c066ull, 0x17254c9070bd39b6ull},
                                           GoldenCase{32000, 0x60b9f9147730bb01ull, 0x2b40bb44525522c1ull}),
                         [](const ::testing::TestParamInfo<GoldenCase>& p) { return std::to_string(p.param.rate); });

// CI runs this file once per level with MICARRAY_ISA; each run must check
// the code path it names, not silently the processor's own.
TEST(Levels, ForcedLevelIsTheOneInEffect) {
  const char* forced = std::getenv("MICARRAY_ISA");
  if (forced == nullptr) GTEST_SKIP() << "MICARRAY_ISA not set";
  EXPECT_STREQ(Vec_LevelName(Vec_Level()), forced);
}

}  // namespace
