// The engine through its public interface, with a look at the internal
// record where a property needs it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "micarray_core.h"
#include "scene.h"

namespace {

using micarray_core::Core;

void InitDefault(TMicArray* engine, uint32 rate) { MicArray_Init(engine, rate, 0.05f, 0.07f, -15.0f, 0.9f, 0.98f); }

// Runs whole steps of interleaved input; returns the concatenated output.
std::vector<int16_t> RunSteps(TMicArray* engine, std::vector<int16_t> in) {
  const size_t S = engine->lenght_step;
  std::vector<int16_t> out(in.size() / 2 / S * S);
  for (size_t k = 0; k < out.size() / S; k++) EXPECT_EQ(MicArray_Process(engine, &in[2 * S * k], &out[S * k]), 0.0f);
  return out;
}

std::vector<int16_t> SceneInput(uint32_t rate, double seconds, TSceneSource sources = kSceneBoth) {
  const TScene scene = Scene_Default(rate, seconds);
  return Scene_Render(&scene, sources);
}

struct FrameRow {
  uint32 rate, step, frame, bins;
  int16 window;
};

class FrameSize : public ::testing::TestWithParam<FrameRow> {};

TEST_P(FrameSize, FollowsTheSamplingRate) {
  const FrameRow& row = GetParam();
  TMicArray engine;
  InitDefault(&engine, row.rate);
  const micarray_core::TMicArray* core = Core(&engine);
  EXPECT_EQ(engine.lenght_step, row.step);
  EXPECT_EQ(core->lenght_frame, row.frame);
  EXPECT_EQ(core->maxFbin, row.bins);
  EXPECT_EQ(core->offset_wn, row.window);
  EXPECT_EQ(core->SampleRate, row.rate);
}

INSTANTIATE_TEST_SUITE_P(Rates, FrameSize,
                         ::testing::Values(FrameRow{0, 64, 256, 129, 0}, FrameRow{8000, 64, 256, 129, 0},
                                           FrameRow{10000, 64, 256, 129, 0}, FrameRow{10001, 128, 512, 257, 256},
                                           FrameRow{11025, 128, 512, 257, 256}, FrameRow{16000, 128, 512, 257, 256},
                                           FrameRow{20000, 128, 512, 257, 256}, FrameRow{20001, 256, 1024, 513, 768},
                                           FrameRow{32000, 256, 1024, 513, 768}, FrameRow{96000, 256, 1024, 513, 768},
                                           FrameRow{4000000000u, 256, 1024, 513, 768}));

TEST(Engine, CountsStepsAndSmoothsTheDirectionValue) {
  TMicArray engine;
  InitDefault(&engine, 16000);
  const micarray_core::TMicArray* core = Core(&engine);
  EXPECT_EQ(core->sdd_old, 1.0f);
  std::vector<int16_t> in = SceneInput(16000, 0.5);
  std::vector<int16_t> out(engine.lenght_step);
  for (uint32 k = 0; k < 20; k++) {
    MicArray_Process(&engine, &in[2 * engine.lenght_step * k], out.data());
    EXPECT_EQ(core->ui_counter, k + 1);
    EXPECT_EQ(core->sdd, core->sDr10a.sDirect);
    EXPECT_EQ(core->sdd_old, core->sdd);
    EXPECT_GE(core->sdd, -1.0f);
    EXPECT_LE(core->sdd, 1.0f);
  }
}

TEST(Engine, ResetChangesOnlyThePostFilterParameters) {
  TMicArray engine;
  InitDefault(&engine, 8000);
  RunSteps(&engine, SceneInput(8000, 0.2));
  micarray_core::TMicArray* core = Core(&engine);
  static micarray_core::TMicArray before;
  memcpy(&before, core, sizeof before);
  const std::pair<float, float> cases[] = {{0.0f, 0.0f}, {-20.0f, 0.9f}, {-6.0f, 0.49881279f}};
  for (const auto& c : cases) {
    MicArray_Reset(&engine, c.first, 0.7f, 0.8f);
    EXPECT_FLOAT_EQ(core->fwiener.pSn, c.second);
    EXPECT_EQ(core->fwiener.pNn, 0.7f);
    EXPECT_EQ(core->fwiener.pMn, 0.8f);
    EXPECT_EQ(memcmp(core->fwiener.Hn, before.fwiener.Hn, sizeof before.fwiener.Hn), 0);
    EXPECT_EQ(memcmp(core->fwiener.psdNmean, before.fwiener.psdNmean, sizeof before.fwiener.psdNmean), 0);
    EXPECT_EQ(memcmp(&core->sDr10a, &before.sDr10a, sizeof before.sDr10a), 0);
    EXPECT_EQ(memcmp(core->bm, before.bm, sizeof before.bm), 0);
    EXPECT_EQ(core->ui_counter, before.ui_counter);
  }
}

// A second Init starts afresh: the engine then behaves exactly like a new one.
TEST(Engine, ReinitialisationForgetsEverything) {
  const std::vector<int16_t> in = SceneInput(16000, 1.0);
  TMicArray used, fresh;
  InitDefault(&used, 32000);
  RunSteps(&used, SceneInput(32000, 0.5));
  InitDefault(&used, 16000);
  InitDefault(&fresh, 16000);
  EXPECT_EQ(Core(&used)->ui_counter, 0u);
  EXPECT_EQ(RunSteps(&used, in), RunSteps(&fresh, in));
}

// Separate records share nothing: interleaving two engines changes neither.
TEST(Engine, RecordsAreIndependent) {
  const std::vector<int16_t> a = SceneInput(8000, 0.5), b = SceneInput(8000, 0.5, kSceneInterferer);
  TMicArray ea, eb, alone;
  InitDefault(&ea, 8000);
  InitDefault(&eb, 8000);
  InitDefault(&alone, 8000);
  const size_t S = ea.lenght_step, steps = a.size() / 2 / S;
  std::vector<int16_t> outA(steps * S), outB(steps * S);
  std::vector<int16_t> ina = a, inb = b;
  for (size_t k = 0; k < steps; k++) {
    MicArray_Process(&ea, &ina[2 * S * k], &outA[S * k]);
    MicArray_Process(&eb, &inb[2 * S * k], &outB[S * k]);
  }
  EXPECT_EQ(outA, RunSteps(&alone, a));
}

// The fixed beam is the mean of the two microphones: swapping the channels
// leaves it bit-identical.
TEST(Engine, SwappingTheChannelsLeavesTheFixedBeamUnchanged) {
  std::vector<int16_t> in = SceneInput(16000, 0.3), swapped = in;
  for (size_t i = 0; i < in.size(); i += 2) std::swap(swapped[i], swapped[i + 1]);
  TMicArray e1, e2;
  InitDefault(&e1, 16000);
  InitDefault(&e2, 16000);
  std::vector<int16_t> out(e1.lenght_step);
  const micarray_core::TMicArray *c1 = Core(&e1), *c2 = Core(&e2);
  for (size_t k = 0; k < in.size() / 2 / e1.lenght_step; k++) {
    MicArray_Process(&e1, &in[2 * e1.lenght_step * k], out.data());
    MicArray_Process(&e2, &swapped[2 * e2.lenght_step * k], out.data());
    ASSERT_EQ(memcmp(c1->reYb, c2->reYb, c1->maxFbin * sizeof(float)), 0);
    ASSERT_EQ(memcmp(c1->imYb, c2->imYb, c1->maxFbin * sizeof(float)), 0);
    ASSERT_EQ(memcmp(c1->dYb, c2->dYb, c1->lenght_frame * sizeof(float)), 0);
  }
}

TEST(Engine, SilenceInGivesSilenceOut) {
  for (uint32 rate : {8000u, 16000u, 32000u}) {
    TMicArray engine;
    InitDefault(&engine, rate);
    const std::vector<int16_t> out = RunSteps(&engine, std::vector<int16_t>(2 * rate, 0));
    for (int16_t v : out) ASSERT_EQ(v, 0) << "rate " << rate;
  }
}

double Power(const std::vector<int16_t>& x, size_t from, size_t stride = 1, size_t offset = 0) {
  double p = 0.0;
  size_t n = 0;
  for (size_t i = from * stride + offset; i < x.size(); i += stride, n++) p += (double)x[i] * x[i];
  return p / (double)n;
}

// The chain does its job: an interferer from 60 degrees comes out clearly
// weaker than in the fixed beam, while the talker straight ahead stays.
TEST(Engine, CancelsAnInterfererFromTheSide) {
  for (uint32 rate : {8000u, 16000u, 32000u}) {
    const std::vector<int16_t> noise = SceneInput(rate, 4.0, kSceneInterferer);
    const std::vector<int16_t> talker = SceneInput(rate, 4.0, kSceneTarget);
    TMicArray e1, e2;
    InitDefault(&e1, rate);
    InitDefault(&e2, rate);
    const size_t settle = rate;  // judge after the first second
    std::vector<int16_t> beam(noise.size() / 2);
    for (size_t n = 0; n < beam.size(); n++) beam[n] = (int16_t)((noise[2 * n] + noise[2 * n + 1]) / 2);
    const double beamNoise = Power(beam, settle);
    const double outNoise = Power(RunSteps(&e1, noise), settle);
    const double outTalker = Power(RunSteps(&e2, talker), settle);
    const double inTalker = Power(talker, settle, 2);
    EXPECT_LT(10 * std::log10(outNoise / beamNoise), -20.0) << "rate " << rate;
    EXPECT_GT(10 * std::log10(outTalker / inTalker), -3.0) << "rate " << rate;
  }
}

TEST(Engine, RateZeroAndLowRatesRunWithoutGarbage) {
  for (uint32 rate : {0u, 1000u}) {
    TMicArray engine;
    InitDefault(&engine, rate);
    const std::vector<int16_t> out = RunSteps(&engine, SceneInput(8000, 1.0));
    const micarray_core::TMicArray* core = Core(&engine);
    EXPECT_EQ(core->sdd, 0.0f);
    EXPECT_FALSE(std::isnan(core->fwiener.Hn[10]));
    double p = Power(out, 0);
    EXPECT_GT(p, 0.0);
    EXPECT_LT(p, 2.0e8);
  }
}

}  // namespace
