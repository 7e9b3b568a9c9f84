// The C++ interface against the C entry points: the stream's alignment and
// block independence, the engine's life cycle, refusals and conversions.
#include <gtest/gtest.h>

#include <limits>

#include "micarray.hpp"
#include "scene.h"

namespace {

using micarray::Tuning;

std::vector<int16_t> SceneInput(uint32_t rate, double seconds) {
  const TScene scene = Scene_Default(rate, seconds);
  return Scene_Render(&scene, kSceneBoth);
}

// The engine's own stream through the C entry points, whole steps only.
// `retuneAt` steps in, the post-filter takes `later`'s values.
std::vector<int16_t> CStream(uint32_t rate, std::vector<int16_t> in, const Tuning& t, size_t retuneAt = 0,
                             const Tuning& later = Tuning()) {
  TMicArray engine;
  MicArray_Init(&engine, rate, t.distance, t.speed, t.suppression, t.noise_rate, t.musical);
  const size_t S = engine.lenght_step;
  std::vector<int16_t> out(in.size() / 2 / S * S);
  for (size_t k = 0; k < out.size(); k += S) {
    if (retuneAt && k == retuneAt * S) MicArray_Reset(&engine, later.suppression, later.noise_rate, later.musical);
    MicArray_Process(&engine, &in[2 * k], &out[k]);
  }
  MicArray_Destroyed(&engine);
  return out;
}

struct BlockCase {
  unsigned rate;
  size_t frames;  // input length
  size_t block;   // frames per process call
};

class StreamBlocks : public ::testing::TestWithParam<BlockCase> {};

// Whatever the block size, and again after flush: aligned, the engine's
// stream over the input and silence, three steps later, as long as the
// input; not aligned, the engine's stream over whole steps.
TEST_P(StreamBlocks, GiveTheEngineStream) {
  const BlockCase& c = GetParam();
  Tuning t;
  t.suppression = -25.0f;
  std::vector<int16_t> in = SceneInput(c.rate, 1.0);
  in.resize(2 * c.frames);
  for (bool aligned : {true, false}) {
    micarray::Stream stream(c.rate, t, aligned);
    const size_t S = stream.engine().step();
    ASSERT_EQ(stream.engine().delay(), 3 * S);
    std::vector<int16_t> padded(in), expected = CStream(c.rate, in, t);
    if (aligned) {
      padded.resize(2 * (c.frames / S + 4) * S, 0);
      const std::vector<int16_t> raw = CStream(c.rate, padded, t);
      expected.assign(raw.begin() + (std::ptrdiff_t)(3 * S), raw.begin() + (std::ptrdiff_t)(3 * S + c.frames));
    }
    for (int recording = 0; recording < 2; recording++) {
      std::vector<int16_t> out;
      for (size_t at = 0; at < c.frames; at += c.block)
        stream.process(micarray::Span<const int16_t>(&in[2 * at], 2 * std::min(c.block, c.frames - at)), out);
      stream.flush(out);
      EXPECT_EQ(out, expected) << aligned << recording;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Blocks, StreamBlocks,
                         ::testing::Values(BlockCase{16000, 8000, 1}, BlockCase{16000, 8000, 7},
                                           BlockCase{16000, 8000, 128}, BlockCase{16000, 8000, 8000},
                                           BlockCase{8000, 5, 3}, BlockCase{8000, 0, 1},
                                           BlockCase{44100, 10000, 1000}, BlockCase{48000, 12345, 4096}));

// A moved engine continues the same stream; reset starts afresh; retune
// changes the post-filter from the next step on and keeps everything else.
TEST(Engine, LifeCycle) {
  const std::vector<int16_t> in = SceneInput(16000, 1.0);
  micarray::Engine first(16000);
  const size_t step = first.step(), half = in.size() / 2 / step / 2 * step;
  // Appends the output for the input's frames [from, from + half).
  auto process = [&](micarray::Engine& e, size_t from, std::vector<int16_t>& out) {
    out.resize(out.size() + half);
    e.process(micarray::Span<const int16_t>(&in[2 * from], 2 * half),
              micarray::Span<int16_t>(&out[out.size() - half], half));
  };
  const std::vector<int16_t> whole(in.begin(), in.begin() + (std::ptrdiff_t)(4 * half));
  std::vector<int16_t> moved, again, retuned;
  process(first, 0, moved);
  micarray::Engine second(std::move(first)), third(8000);
  third = std::move(second);
  process(third, half, moved);
  EXPECT_EQ(moved, CStream(16000, whole, {}));
  EXPECT_EQ(third.rate(), 16000u);
  EXPECT_THROW(second.step(), std::logic_error);

  third.reset();
  process(third, 0, again);
  process(third, half, again);
  EXPECT_EQ(again, moved);

  Tuning later;
  later.suppression = -40.0f, later.noise_rate = 0.8f, later.musical = 0.95f;
  third.reset();
  process(third, 0, retuned);
  third.retune(later.suppression, later.noise_rate, later.musical);
  process(third, half, retuned);
  EXPECT_EQ(retuned, CStream(16000, whole, {}, half / step, later));
  EXPECT_EQ(third.tuning().suppression, -40.0f);
}

TEST(Engine, RefusesMisuse) {
  EXPECT_THROW(micarray::Engine(micarray::kMinRate - 1), std::invalid_argument);
  EXPECT_THROW(micarray::Engine(micarray::kMaxRate + 1), std::invalid_argument);
  EXPECT_NO_THROW(micarray::Engine(micarray::kMinRate));
  micarray::Engine engine(micarray::kMaxRate);
  const size_t S = engine.step();
  std::vector<int16_t> partial(2 * S + 2), whole(2 * S), mono(S + 1), shortOut(S - 1);
  EXPECT_THROW(engine.process(partial, mono), std::invalid_argument);
  EXPECT_THROW(engine.process(whole, shortOut), std::invalid_argument);
  EXPECT_THROW(engine.retune(1.0f, 0.8f, 0.95f), std::invalid_argument);
  micarray::Stream stream(16000);
  std::vector<int16_t> odd(3), out;
  EXPECT_THROW(stream.process(odd, out), std::invalid_argument);
}

// Each value at and beyond the bounds of its range, as the hosts check them.
TEST(Engine, RefusesTuningValuesOutOfRange) {
  const float kNaN = std::numeric_limits<float>::quiet_NaN();
  const struct {
    float Tuning::*field;
    float value;
    bool accepted;
  } kCases[] = {{&Tuning::distance, 0.0f, false},      {&Tuning::distance, 10.0f, true},
                {&Tuning::distance, kNaN, false},      {&Tuning::speed, 1.0f, true},
                {&Tuning::speed, 1.0001f, false},      {&Tuning::suppression, 0.0f, true},
                {&Tuning::suppression, -80.0f, true},  {&Tuning::suppression, 0.5f, false},
                {&Tuning::suppression, -80.5f, false}, {&Tuning::noise_rate, 0.6f, true},
                {&Tuning::noise_rate, 1.0f, false},    {&Tuning::musical, 0.59f, false}};
  for (const auto& c : kCases) {
    Tuning t;
    t.*c.field = c.value;
    const micarray::TuningRange* refused = micarray::TuningRefusal(t);
    EXPECT_EQ(refused ? refused->field : nullptr, c.accepted ? nullptr : c.field) << c.value;
    if (!c.accepted) {
      EXPECT_THROW(micarray::Engine(16000, t), std::invalid_argument) << c.value;
    }
  }
}

// Float samples are 16-bit samples scaled so that 1.0 is full scale: rounded
// (halves away from zero) and saturated on the way in.
TEST(Conversion, FloatSamplesAreScaledSixteenBitSamples) {
  const struct {
    double value;
    int16_t expected;
  } kCases[] = {{0.0, 0},          {100.4 / 32768, 100},     {100.5 / 32768, 101}, {-100.5 / 32768, -101},
                {-100.4 / 32768, -100}, {32766.5 / 32768, 32767}, {1.0, 32767},  {-1.0, -32768},
                {2.5, 32767},      {-7.0, -32768},           {std::numeric_limits<double>::quiet_NaN(), 0},
                {std::numeric_limits<double>::infinity(), 32767}};
  for (const auto& c : kCases) {
    EXPECT_EQ(micarray::ToInt16(c.value), c.expected) << c.value;
    EXPECT_EQ(micarray::ToInt16((float)c.value), c.expected) << c.value;
  }
  const std::vector<int16_t> in = SceneInput(16000, 0.5), expected = CStream(16000, in, {});
  const size_t frames = expected.size();
  micarray::Engine engine(16000);
  std::vector<float> stereo(2 * frames), mono(frames);
  for (size_t i = 0; i < stereo.size(); i++) stereo[i] = in[i] / 32768.0f;
  engine.process(stereo, mono);
  for (size_t i = 0; i < mono.size(); i++) ASSERT_EQ(mono[i], expected[i] / 32768.0f) << i;
}

}  // namespace
