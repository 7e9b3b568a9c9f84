// The engine per step and over a whole recording, at 8, 16 and 32 kHz.
#include <benchmark/benchmark.h>

#include "bench_scene.h"

namespace {

// One MicArray_Process per iteration, walking through the scene (and over
// again from its start). Counter x_realtime: seconds of audio per second of
// processing.
void BM_Process(benchmark::State& state) {
  const uint32 rate = (uint32)state.range(0);
  const std::vector<int16>& in = BenchScene(rate);
  static TMicArray engine;
  BenchWarmEngine(&engine, rate);
  const uint32 S = engine.lenght_step;
  const size_t steps = in.size() / (2 * S);
  std::vector<int16> out(S);
  size_t step = 0;
  for (auto _ : state) {
    MicArray_Process(&engine, const_cast<int16*>(&in[step * 2 * S]), out.data());
    benchmark::DoNotOptimize(out.data());
    if (++step == steps) step = 0;
  }
  state.counters["x_realtime"] = benchmark::Counter((double)S / rate, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_Process)->Arg(8000)->Arg(16000)->Arg(32000);

// The step loop over the whole recording from a fresh engine; the
// initialisation is not timed.
void BM_File(benchmark::State& state) {
  const uint32 rate = (uint32)state.range(0);
  const std::vector<int16>& in = BenchScene(rate);
  static TMicArray engine;
  std::vector<int16> out(in.size() / 2);
  for (auto _ : state) {
    state.PauseTiming();
    BenchInit(&engine, rate);
    state.ResumeTiming();
    const uint32 S = engine.lenght_step;
    for (size_t step = 0; (step + 1) * 2 * S <= in.size(); step++)
      MicArray_Process(&engine, const_cast<int16*>(&in[step * 2 * S]), &out[step * S]);
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["x_realtime"] =
      benchmark::Counter((double)(in.size() / 2) / rate, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_File)->Arg(8000)->Arg(16000)->Arg(32000)->Unit(benchmark::kMillisecond);

}  // namespace
