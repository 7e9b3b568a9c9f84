// The adaptive engine per hop at every native rate family, on the default
// scene after one second of warm-up. MICARRAY_ISA=sse2|avx2|avx512 picks the
// kernels' instruction-set level (the run's context records the level used).
#include <benchmark/benchmark.h>

#include <vector>

#include "bench_scene.h"
#include "mvdr/mvdr_engine.h"
#include "mvdr/mvdr_isa.h"

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

}  // namespace
