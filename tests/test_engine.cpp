// The engine through its public interface, with a look at the internal
// record where a property needs it.
#include <gtest/gtest.h>

#include <cstring>

#include "micarray_core.h"
#include "support.h"

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

// Reset hands new values to the post-filter and changes nothing else.
TEST(Engine, ResetChangesOnlyThePostFilterParameters) {
  TMicArray engine;
  InitDefault(&engine, 8000);
  RunSteps(&engine, Scene(8000, 0.2));
  static micarray_core::TMicArray expected;
  memcpy(&expected, Core(&engine), sizeof expected);
  expected.fwiener.pSn = 0.49881279f, expected.fwiener.pNn = 0.7f, expected.fwiener.pMn = 0.8f;
  MicArray_Reset(&engine, -6.0f, 0.7f, 0.8f);
  EXPECT_EQ(memcmp(Core(&engine), &expected, sizeof expected), 0);
}

// Records share nothing and a second Init starts afresh: a used engine, set up
// again and run interleaved with another one, gives what a new engine gives.
// Silence stays silent at every frame size. (What the engine does to sound
// the reference vectors pin, bit for bit.)
TEST(Engine, ReinitialisedAndInterleavedRecordsBehaveLikeANewOne) {
  std::vector<int16_t> a = Scene(8000, 0.5), b = Scene(8000, 0.5, kSceneInterferer);
  TMicArray ea, eb;
  InitDefault(&ea, 32000);
  RunSteps(&ea, Scene(32000, 0.5));
  for (TMicArray* e : {&ea, &eb}) InitDefault(e, 8000);
  const size_t S = ea.lenght_step;
  std::vector<int16_t> outA(a.size() / 2 / S * S), outB(outA.size());
  for (size_t k = 0; k < outA.size() / S; k++) {
    MicArray_Process(&ea, &a[2 * S * k], &outA[S * k]);
    MicArray_Process(&eb, &b[2 * S * k], &outB[S * k]);
  }
  EXPECT_EQ(outA, EngineStream(8000, a));
  for (uint32 rate : {8000u, 16000u, 32000u})
    EXPECT_EQ(EngineStream(rate, std::vector<int16_t>(2 * rate, 0)), std::vector<int16_t>(rate, 0)) << rate;
}

}  // namespace
