// Reference vectors from an independent model of the engine: pcmbeam must
// reproduce every expected output bit for bit, and the engine's per-step
// decisions must match the model's trace (the first differing row names the
// stage that went astray).
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#include "micarray_core.h"
#include "support.h"
#include "vector.h"

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

// CI runs this file once per level with MICARRAY_ISA; each run must check
// the code path it names, not silently the processor's own.
TEST(Levels, ForcedLevelIsTheOneInEffect) {
  const char* forced = std::getenv("MICARRAY_ISA");
  if (forced == nullptr) GTEST_SKIP() << "MICARRAY_ISA not set";
  EXPECT_STREQ(Vec_LevelName(Vec_Level()), forced);
}

}  // namespace
