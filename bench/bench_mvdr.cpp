// The adaptive engine per hop at every native rate family, on the default
// scene after one second of warm-up, and its post-filter alone in the free
// field and in a room (the default scene never reads as one).
// MICARRAY_ISA=sse2|avx2|avx512 picks the kernels' instruction-set level
// (the run's context records the level used).
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "bench_scene.h"
#include "mvdr/mvdr_engine.h"
#include "mvdr/mvdr_isa.h"
#include "mvdr/mvdr_postfilter.h"

namespace {

// One MvdrArray_Process per iteration, walking through the scene (and over
// again from its start). Counter x_realtime: seconds of audio per second of
// processing.
void BM_MvdrProcess(benchmark::State& state) {
  const uint32_t rate = (uint32_t)state.range(0);
  const std::vector<int16>& in = BenchScene(rate);
  std::vector<unsigned char> memory(MvdrArray_Size(rate));
  TMvdrArray* engine = MvdrArray_Init(memory.data(), rate, 0.05f, 0.0f, -12.0f);
  const uint32_t H = MvdrArray_Hop(engine);
  const size_t hops = in.size() / (2 * H);
  std::vector<int16_t> out(H);
  size_t hop = 0;
  for (; hop < rate / H; hop++) MvdrArray_Process(engine, &in[hop * 2 * H], out.data());
  for (auto _ : state) {
    MvdrArray_Process(engine, &in[hop * 2 * H], out.data());
    benchmark::DoNotOptimize(out.data());
    if (++hop == hops) hop = 0;
  }
  state.SetLabel(Vec_LevelName(Vec_Level()));
  state.counters["x_realtime"] =
      benchmark::Counter((double)H / rate, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_MvdrProcess)->Arg(8000)->Arg(16000)->Arg(32000)->Arg(44100)->Arg(48000);

// MvdrPost_Apply at 16 kHz (frames of 512) on random spectra, room weight
// 0 (free field) or 1 (the room path adds the spatial gain and the gain's
// smoothing). Each iteration starts from the same beam output.
void BM_MvdrPostFilter(benchmark::State& state) {
  const uint32_t rate = 16000, n = 512, bins = n / 2 + 1;
  const float room = (float)state.range(0), distance = 0.05f;
  static TMvdrSteer steer;  // broadside: omega, the diffuse coherence and d1 = 1
  static TMvdrPost post;
  static TMvdrSpectrum y, x0, x1, fresh;
  MvdrSteer_Init(&steer, rate, n, distance, 0.0f);
  std::vector<float> presence(bins, 0.5f);
  std::mt19937 rng(1);
  std::normal_distribution<float> normal(0.0f, 0.01f);
  for (uint32_t k = 0; k < bins; k++) {
    x0.re[k] = normal(rng), x0.im[k] = normal(rng), x1.re[k] = normal(rng), x1.im[k] = normal(rng);
    fresh.re[k] = 0.5f * (x0.re[k] + x1.re[k]), fresh.im[k] = 0.5f * (x0.im[k] + x1.im[k]);
  }
  MvdrPost_Init(&post, rate, n, -12.0f);
  MvdrPost_SetGeometry(&post, steer.omega, rate, distance, steer.tau);
  for (auto _ : state) {
    y = fresh;
    MvdrPost_Apply(&post, &y, &x0, &x1, steer.d1Re, steer.d1Im, presence.data(), steer.diffuse, 1.0f, room, 1.0f);
    benchmark::DoNotOptimize(y.re);
  }
  state.SetLabel(Vec_LevelName(Vec_Level()));
}
BENCHMARK(BM_MvdrPostFilter)->Arg(0)->Arg(1);

}  // namespace
