// Reference vectors from an independent model of the engine: pcmbeam must
// reproduce every expected output bit for bit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

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

class Vectors : public ::testing::TestWithParam<VectorCase> {};

TEST_P(Vectors, PcmbeamReproducesTheExpectedOutput) {
  const std::string vector = std::string(VECTOR_DIR) + "/" + GetParam().name, out = TempDir() + "/out.pcm";
  std::vector<std::string> args(GetParam().args, GetParam().args + 6);
  args.insert(args.end(), {vector + ".in.pcm", out});
  ASSERT_EQ(::Run(PCMBEAM_EXE, args).status, 0);
  const std::string got = ReadFile(out), want = ReadFile(vector + ".out.pcm");
  const auto first = std::mismatch(got.begin(), got.end(), want.begin(), want.end()).first;
  EXPECT_TRUE(got == want) << "first difference at byte " << first - got.begin();
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
