// The C++ interface: the owning engine against the C entry points, the
// stream's alignment and block independence, and the sample conversions.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "micarray.hpp"
#include "scene.h"

namespace {

std::vector<int16_t> SceneInput(uint32_t rate, double seconds) {
  const TScene scene = Scene_Default(rate, seconds);
  return Scene_Render(&scene, kSceneBoth);
}

// The engine's own stream through the C entry points, whole steps only.
std::vector<int16_t> CStream(uint32_t rate, const std::vector<int16_t>& in, const micarray::Tuning& t) {
  TMicArray engine;
  MicArray_Init(&engine, rate, t.distance, t.speed, t.suppression, t.noise_rate, t.musical);
  const size_t S = engine.lenght_step;
  std::vector<int16_t> stereo(in);
  std::vector<int16_t> out(in.size() / 2 / S * S);
  for (size_t k = 0; k < out.size(); k += S) MicArray_Process(&engine, &stereo[2 * k], &out[k]);
  MicArray_Destroyed(&engine);
  return out;
}

std::vector<int16_t> WholeSteps(micarray::Engine& engine, const std::vector<int16_t>& in) {
  const std::vector<int16_t> stereo(in.begin(), in.begin() + (std::ptrdiff_t)(in.size() / 2 / engine.step() *
                                                                                engine.step() * 2));
  std::vector<int16_t> mono(stereo.size() / 2);
  engine.process(stereo, mono);
  return mono;
}

class EngineRate : public ::testing::TestWithParam<unsigned> {};

TEST_P(EngineRate, MatchesTheCInterface) {
  micarray::Tuning t;
  t.suppression = -25.0f;
  const std::vector<int16_t> in = SceneInput(GetParam(), 1.0);
  micarray::Engine engine(GetParam(), t);
  EXPECT_EQ(WholeSteps(engine, in), CStream(GetParam(), in, t));
  EXPECT_EQ(engine.delay(), 3 * engine.step());
}

INSTANTIATE_TEST_SUITE_P(Rates, EngineRate, ::testing::Values(8000u, 16000u, 44100u, 48000u));

TEST(Engine, RefusesRatesOutsideTheNativeRange) {
  EXPECT_THROW(micarray::Engine(micarray::kMinRate - 1), std::invalid_argument);
  EXPECT_THROW(micarray::Engine(micarray::kMaxRate + 1), std::invalid_argument);
  EXPECT_NO_THROW(micarray::Engine(micarray::kMinRate));
  EXPECT_NO_THROW(micarray::Engine(micarray::kMaxRate));
}

struct RangeCase {
  float micarray::Tuning::*field;
  float value;
  bool accepted;
};

class TuningRange : public ::testing::TestWithParam<RangeCase> {};

TEST_P(TuningRange, BoundsAsTheHostsCheckThem) {
  micarray::Tuning t;
  t.*GetParam().field = GetParam().value;
  const micarray::TuningRange* refused = micarray::TuningRefusal(t);
  EXPECT_EQ(refused == nullptr, GetParam().accepted);
  if (refused) {
    EXPECT_EQ(refused->field, GetParam().field);
    try {
      micarray::Engine engine(16000, t);
      ADD_FAILURE() << "accepted";
    } catch (const std::invalid_argument& e) {
      EXPECT_NE(std::string(e.what()).find(refused->message), std::string::npos) << e.what();
    }
  }
}

const float kNaN = std::numeric_limits<float>::quiet_NaN();
using T = micarray::Tuning;
INSTANTIATE_TEST_SUITE_P(
    Values, TuningRange,
    ::testing::Values(RangeCase{&T::distance, 0.0f, false}, RangeCase{&T::distance, 10.0f, true},
                      RangeCase{&T::distance, 10.5f, false}, RangeCase{&T::distance, kNaN, false},
                      RangeCase{&T::speed, 0.0f, false}, RangeCase{&T::speed, 1.0f, true},
                      RangeCase{&T::speed, 1.0001f, false}, RangeCase{&T::suppression, 0.0f, true},
                      RangeCase{&T::suppression, -80.0f, true}, RangeCase{&T::suppression, 0.5f, false},
                      RangeCase{&T::suppression, -80.5f, false}, RangeCase{&T::noise_rate, 0.6f, true},
                      RangeCase{&T::noise_rate, 0.9995f, true}, RangeCase{&T::noise_rate, 1.0f, false},
                      RangeCase{&T::musical, 0.59f, false}, RangeCase{&T::musical, 0.6f, true},
                      RangeCase{&T::musical, kNaN, false}));

TEST(Engine, RefusesPartialSteps) {
  micarray::Engine engine(16000);
  std::vector<int16_t> stereo(2 * engine.step() + 2), mono(engine.step() + 1);
  EXPECT_THROW(engine.process(stereo, mono), std::invalid_argument);
  std::vector<int16_t> whole(2 * engine.step()), shortOut(engine.step() - 1);
  EXPECT_THROW(engine.process(whole, shortOut), std::invalid_argument);
}

TEST(Engine, MovedEngineContinuesTheSameStream) {
  const std::vector<int16_t> in = SceneInput(16000, 1.0);
  micarray::Engine whole(16000);
  const std::vector<int16_t> expected = WholeSteps(whole, in);

  micarray::Engine first(16000);
  const size_t half = in.size() / 2 / first.step() / 2 * first.step() * 2;  // whole steps
  std::vector<int16_t> got = WholeSteps(first, std::vector<int16_t>(in.begin(), in.begin() + (std::ptrdiff_t)half));
  micarray::Engine moved(std::move(first));
  micarray::Engine assigned(8000);
  assigned = std::move(moved);
  const std::vector<int16_t> rest =
      WholeSteps(assigned, std::vector<int16_t>(in.begin() + (std::ptrdiff_t)half, in.end()));
  got.insert(got.end(), rest.begin(), rest.end());
  EXPECT_EQ(got, expected);
  EXPECT_EQ(assigned.rate(), 16000u);
  EXPECT_THROW(moved.step(), std::logic_error);
}

TEST(Engine, ResetStartsAfresh) {
  const std::vector<int16_t> in = SceneInput(8000, 0.5);
  micarray::Engine engine(8000);
  const std::vector<int16_t> first = WholeSteps(engine, in);
  engine.reset();
  EXPECT_EQ(WholeSteps(engine, in), first);
}

TEST(Engine, RetuneChangesThePostFilterOnly) {
  const std::vector<int16_t> in = SceneInput(16000, 1.0);
  micarray::Engine engine(16000);
  WholeSteps(engine, in);
  engine.retune(-40.0f, 0.8f, 0.95f);

  TMicArray c;
  MicArray_Init(&c, 16000, 0.05f, 0.07f, -15.0f, 0.90f, 0.98f);
  std::vector<int16_t> stereo(in);
  std::vector<int16_t> out(in.size() / 2 / c.lenght_step * c.lenght_step);
  for (size_t k = 0; k < out.size(); k += c.lenght_step) MicArray_Process(&c, &stereo[2 * k], &out[k]);
  MicArray_Reset(&c, -40.0f, 0.8f, 0.95f);
  for (size_t k = 0; k < out.size(); k += c.lenght_step) MicArray_Process(&c, &stereo[2 * k], &out[k]);
  EXPECT_EQ(WholeSteps(engine, in), out);
  EXPECT_EQ(engine.tuning().suppression, -40.0f);
  EXPECT_THROW(engine.retune(1.0f, 0.8f, 0.95f), std::invalid_argument);
}

TEST(Engine, FloatSamplesAreScaledSixteenBitSamples) {
  const std::vector<int16_t> in = SceneInput(16000, 0.5);
  micarray::Engine a(16000), b(16000);
  const std::vector<int16_t> expected = WholeSteps(a, in);
  std::vector<float> stereo(expected.size() * 2), mono(expected.size());
  for (size_t i = 0; i < stereo.size(); i++) stereo[i] = in[i] / 32768.0f;
  b.process(stereo, mono);
  for (size_t i = 0; i < mono.size(); i++) ASSERT_EQ(mono[i], expected[i] / 32768.0f) << i;
}

struct BlockCase {
  unsigned rate;
  size_t frames;  // input length
  size_t block;   // frames per process call
};

class StreamBlocks : public ::testing::TestWithParam<BlockCase> {};

// Aligned: the engine's stream over the input followed by silence, shifted
// by three steps and cut to the input's length, whatever the block size.
TEST_P(StreamBlocks, AlignedOutputIsTheEngineStreamShifted) {
  const BlockCase& c = GetParam();
  std::vector<int16_t> in = SceneInput(c.rate, 1.0);
  in.resize(2 * c.frames);
  micarray::Stream stream(c.rate);
  const size_t step = stream.engine().step();
  std::vector<int16_t> padded(in);
  padded.resize(2 * ((c.frames / step + 4) * step), 0);
  const std::vector<int16_t> raw = CStream(c.rate, padded, micarray::Tuning());
  const std::vector<int16_t> expected(raw.begin() + (std::ptrdiff_t)(3 * step),
                                      raw.begin() + (std::ptrdiff_t)(3 * step + c.frames));

  std::vector<int16_t> out;
  for (size_t at = 0; at < c.frames; at += c.block) {
    const size_t n = std::min(c.block, c.frames - at);
    stream.process(micarray::Span<const int16_t>(&in[2 * at], 2 * n), out);
  }
  stream.flush(out);
  EXPECT_EQ(out, expected);
}

// Not aligned: the engine's stream over whole steps, as the programs give it.
TEST_P(StreamBlocks, RawOutputIsTheEngineStream) {
  const BlockCase& c = GetParam();
  std::vector<int16_t> in = SceneInput(c.rate, 1.0);
  in.resize(2 * c.frames);
  micarray::Stream stream(c.rate, micarray::Tuning(), false);
  std::vector<int16_t> out;
  for (size_t at = 0; at < c.frames; at += c.block) {
    const size_t n = std::min(c.block, c.frames - at);
    stream.process(micarray::Span<const int16_t>(&in[2 * at], 2 * n), out);
  }
  stream.flush(out);
  EXPECT_EQ(out, CStream(c.rate, in, micarray::Tuning()));
}

INSTANTIATE_TEST_SUITE_P(Blocks, StreamBlocks,
                         ::testing::Values(BlockCase{16000, 8000, 1}, BlockCase{16000, 8000, 7},
                                           BlockCase{16000, 8000, 128}, BlockCase{16000, 8000, 1000},
                                           BlockCase{16000, 8000, 8000}, BlockCase{8000, 5, 3},
                                           BlockCase{8000, 0, 1}, BlockCase{48000, 12345, 4096}));

TEST(Stream, FlushStartsANewRecording) {
  const std::vector<int16_t> in = SceneInput(16000, 0.5);
  micarray::Stream stream(16000);
  std::vector<int16_t> first, second;
  stream.process(in, first);
  stream.flush(first);
  stream.process(in, second);
  stream.flush(second);
  EXPECT_EQ(first, second);
  EXPECT_EQ(first.size(), in.size() / 2);
}

TEST(Stream, RefusesAnOddNumberOfValues) {
  micarray::Stream stream(16000);
  std::vector<int16_t> odd(3), out;
  EXPECT_THROW(stream.process(odd, out), std::invalid_argument);
}

struct ConversionCase {
  double value;  // 1.0 is full scale
  int16_t expected;
};

class ToInt16 : public ::testing::TestWithParam<ConversionCase> {};

TEST_P(ToInt16, RoundsHalvesAwayFromZeroAndSaturates) {
  EXPECT_EQ(micarray::ToInt16(GetParam().value), GetParam().expected);
  EXPECT_EQ(micarray::ToInt16((float)GetParam().value), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Values, ToInt16,
    ::testing::Values(ConversionCase{0.0, 0}, ConversionCase{100.4 / 32768, 100}, ConversionCase{100.5 / 32768, 101},
                      ConversionCase{-100.5 / 32768, -101}, ConversionCase{-100.4 / 32768, -100},
                      ConversionCase{32766.5 / 32768, 32767}, ConversionCase{1.0, 32767},
                      ConversionCase{-1.0, -32768}, ConversionCase{2.5, 32767}, ConversionCase{-7.0, -32768},
                      ConversionCase{std::numeric_limits<double>::quiet_NaN(), 0},
                      ConversionCase{std::numeric_limits<double>::infinity(), 32767}));

}  // namespace
