// The engine through its C and C++ interfaces, with a look at the internal
// record where a property needs it: reset and re-initialisation, the engine's
// life cycle, refusals and conversions. (What the engine does to sound the
// reference vectors pin; micarray::Stream's blocks and alignment: test_python
// and test_micbeam, end to end.) Then the installed package: headers, library,
// CMake package, pkg-config file and programs, used by programs in C and C++
// built elsewhere as their authors would.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "micarray.hpp"
#include "micarray_core.h"
#include "support.h"

namespace {
using micarray::Tuning;
using micarray_core::Core;

void InitDefault(TMicArray* engine, uint32 rate) { MicArray_Init(engine, rate, 0.05f, 0.07f, -15.0f, 0.9f, 0.98f); }

// Runs whole steps of interleaved input.
void RunSteps(TMicArray* engine, std::vector<int16_t> in) {
  const size_t S = engine->lenght_step;
  std::vector<int16_t> out(S);
  for (size_t k = 0; k < in.size() / 2 / S; k++) MicArray_Process(engine, &in[2 * S * k], out.data());
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
// Silence stays silent at every frame size.
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

// A moved engine continues the same stream; reset starts afresh; retune
// changes the post-filter from the next step on and keeps everything else.
TEST(Engine, LifeCycle) {
  const std::vector<int16_t> in = Scene(16000, 1.0);
  micarray::Engine first(16000);
  const size_t step = first.step(), half = in.size() / 2 / step / 2 * step;
  const std::vector<int16_t> whole(in.begin(), in.begin() + (std::ptrdiff_t)(4 * half));
  std::vector<int16_t> out(2 * half);
  auto process = [&](micarray::Engine& e, size_t k) {  // the k-th half of the input
    e.process(micarray::Span<const int16_t>(&in[2 * k * half], 2 * half),
              micarray::Span<int16_t>(&out[k * half], half));
  };
  process(first, 0);
  micarray::Engine second(std::move(first)), third(8000);
  third = std::move(second);
  process(third, 1);
  EXPECT_EQ(out, EngineStream(16000, whole));
  EXPECT_THROW(second.step(), std::logic_error);

  const Tuning later{0.05f, 0.07f, -40.0f, 0.8f, 0.95f};
  third.reset();
  process(third, 0);
  third.retune(later.suppression, later.noise_rate, later.musical);
  process(third, 1);
  EXPECT_EQ(out, EngineStream(16000, whole, {}, half / step, later));
}

// Rates outside the engine's, partial steps, odd interleaved counts, and each
// tuning value out of range (the bounds, from the table the hosts share: test_programs).
TEST(Engine, RefusesMisuse) {
  EXPECT_THROW(micarray::Engine(micarray::kMinRate - 1), std::invalid_argument);
  EXPECT_THROW(micarray::Engine(micarray::kMaxRate + 1), std::invalid_argument);
  micarray::Engine engine(micarray::kMaxRate);
  const size_t S = engine.step();
  std::vector<int16_t> partial(2 * S + 2), whole(2 * S), mono(S + 1), shortOut(S - 1), odd(3), out;
  EXPECT_THROW(engine.process(partial, mono), std::invalid_argument);
  EXPECT_THROW(engine.process(whole, shortOut), std::invalid_argument);
  EXPECT_THROW(engine.retune(1.0f, 0.8f, 0.95f), std::invalid_argument);
  micarray::Stream stream(micarray::kMinRate);
  EXPECT_THROW(stream.process(odd, out), std::invalid_argument);
  for (const micarray::TuningRange& r : micarray::kTuningRanges) {
    Tuning t;
    t.*r.field = NAN;
    EXPECT_THROW(micarray::Engine(16000, t), std::invalid_argument) << r.name;
  }
}

// Float samples are 16-bit samples scaled so that 1.0 is full scale: rounded
// (halves away from zero), saturated, and NaN taken as silence on the way in.
TEST(Conversion, FloatSamplesAreScaledSixteenBitSamples) {
  const float kOdd[] = {100.5f / 32768, -100.5f / 32768, 100.4f / 32768, 32766.5f / 32768, 2.5f, -INFINITY, NAN};
  const int16_t kAs[] = {101, -101, 100, 32767, 32767, -32768, 0};
  const size_t kOddCount = sizeof kAs / sizeof kAs[0], kEvery = 5;  // every fifth value is an odd one
  micarray::Engine engine(16000);
  std::vector<int16_t> in = Scene(16000, 0.5);
  in.resize(in.size() / (2 * engine.step()) * (2 * engine.step()));
  std::vector<float> stereo(in.size()), mono(in.size() / 2);
  for (size_t i = 0; i < in.size(); i++) {
    stereo[i] = i % kEvery ? in[i] / 32768.0f : kOdd[i / kEvery % kOddCount];
    if (i % kEvery == 0) in[i] = kAs[i / kEvery % kOddCount];
  }
  engine.process(stereo, mono);
  const std::vector<int16_t> expected = EngineStream(16000, in);
  for (size_t i = 0; i < mono.size(); i++) ASSERT_EQ(mono[i], expected[i] / 32768.0f) << i;
}

const char kVector[] = VECTOR_DIR "/talker_16k.in.pcm";
const char kExpected[] = VECTOR_DIR "/talker_16k.out.pcm";

int Shell(const std::string& command) { return system((command + " >/dev/null 2>&1").c_str()); }

std::string Q(const std::string& s) { return "'" + s + "'"; }

TEST(Package, InstalledProgramsAndConsumersInCAndCxxGiveTheEnginesOutput) {
  const std::string dir = TempDir(), prefix = dir + "/prefix", build = dir + "/build";
  for (const char* component : {"micarray_dev", "micarray_bin"})
    ASSERT_EQ(Shell(Q(CMAKE_COMMAND_EXE) + " --install " + Q(BUILD_DIR) + " --component " + component +
                    " --prefix " + Q(prefix)),
              0);
  // The public headers, library, CMake package (at a version) and pkg-config file: the
  // consumers below use each; the internals stay private.
  for (const char* file :
       {"include/micarray/com_struct.h", "include/micarray/micarray_core.h", "include/micarray/uperation.h"})
    EXPECT_FALSE(std::filesystem::exists(prefix + "/" + file)) << file;
  std::istringstream programs(PROGRAMS);
  for (std::string program; programs >> program;)
    EXPECT_EQ(access((prefix + "/bin/" + program).c_str(), X_OK), 0) << program;

  // The consumers link with the project's own flags (-m32, sanitizers).
  ASSERT_EQ(Shell(Q(CMAKE_COMMAND_EXE) + " -S " + Q(CONSUMER_DIR) + " -B " + Q(build) +
                  " -DCMAKE_PREFIX_PATH=" + Q(prefix) + " -DCMAKE_C_COMPILER=" + Q(C_COMPILER) +
                  " -DCMAKE_CXX_COMPILER=" + Q(CXX_COMPILER) + " -DCMAKE_C_FLAGS=" + Q(CONSUMER_FLAGS) +
                  " -DCMAKE_CXX_FLAGS=" + Q(CONSUMER_FLAGS) + " -DCMAKE_EXE_LINKER_FLAGS=" +
                  Q(CONSUMER_LINK_FLAGS) + " && " + Q(CMAKE_COMMAND_EXE) + " --build " + Q(build)),
            0);
  // The C one again through pkg-config, linked by the C compiler: the file names what a C link needs.
  const std::string cConsumer = dir + "/consumer_c";
  ASSERT_EQ(Shell("export PKG_CONFIG_PATH=" + Q(prefix + "/lib/pkgconfig") + "; " + Q(C_COMPILER) +
                  " -std=c99 " + CONSUMER_FLAGS + " " + Q(CONSUMER_DIR "/consumer_c.c") + " -o " + Q(cConsumer) +
                  " " + CONSUMER_LINK_FLAGS + " $(pkg-config --static --cflags --libs micarray)"),
            0);
  const std::string consumers[] = {build + "/consumer", build + "/consumer_c", cConsumer};

  ASSERT_EQ(::Run(prefix + "/bin/pcmbeam",
                  {"0.05", "0.07", "-15", "0.9", "0.98", "16000", kVector, dir + "/pcmbeam.pcm"})
                .status,
            0);
  EXPECT_EQ(ReadFile(dir + "/pcmbeam.pcm"), ReadFile(kExpected));
  for (const std::string& consumer : consumers) {
    ASSERT_EQ(::Run(consumer, {"16000", kVector, consumer + ".pcm"}).status, 0) << consumer;
    EXPECT_EQ(ReadFile(consumer + ".pcm"), ReadFile(kExpected)) << consumer;
  }
}

}  // namespace
