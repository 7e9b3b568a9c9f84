// Each stage of a step, one call per iteration, at 16 kHz on the state of an
// engine that has run over the first second of the scene. Stages that update
// their record keep updating the same copy, as in a long run.
#include <benchmark/benchmark.h>

#include "bench_scene.h"
#include "uperation.h"

namespace {

const uint32 kStageRate = 16000;

// A copy of a warmed engine's record, one per benchmark.
struct Warm {
  TMicArray pub;
  micarray_core::TMicArray* it;
  Warm() : it(micarray_core::Core(&pub)) { BenchWarmEngine(&pub, kStageRate); }
};

void BM_Stage_PhaseOfBeam(benchmark::State& state) {
  static Warm w;
  micarray_core::TMicArray* it = w.it;
  FFTnRC_xy2fftbuf(&it->FFTnRC, it->reYb, it->imYb, it->buff);
  for (auto _ : state) FFTnRC_fftbuf2F(&it->FFTnRC, it->buff, it->PhasaYb);
}

void BM_Stage_Unpack(benchmark::State& state) {
  static Warm w;
  micarray_core::TMicArray* it = w.it;
  for (auto _ : state) FFTnRC_fftbuf2xy(&it->FFTnRC, it->buff, it->reXmic, it->imXmic);
}

void BM_Stage_Pack(benchmark::State& state) {
  static Warm w;
  micarray_core::TMicArray* it = w.it;
  for (auto _ : state) FFTnRC_xy2fftbuf(&it->FFTnRC, it->reWE, it->imWE, it->buff);
}

void BM_Stage_BeamMean(benchmark::State& state) {
  static Warm w;
  micarray_core::TMicArray* it = w.it;
  for (auto _ : state) umem_complex_scm(it->reYb, it->imYb, it->reXmic, it->imXmic, it->maxFbin, it->sizeMic);
}

void BM_Stage_Detect(benchmark::State& state) {
  static Warm w;
  micarray_core::TMicArray* it = w.it;
  for (auto _ : state) sDirect10a_Detect(&it->sDr10a, it->reXmic, it->imXmic);
}

void BM_Stage_CoherenceGain(benchmark::State& state) {
  static Warm w;
  micarray_core::TMicArray* it = w.it;
  for (auto _ : state) sDirect10a_FilterWiener(&it->sDr10a, it->reYb, it->imYb, it->reWYb, it->imWYb);
}

void BM_Stage_BlockingSubtraction(benchmark::State& state) {
  static Warm w;
  micarray_core::TMicArray* it = w.it;
  for (auto _ : state) FDAF12_Substration(&it->bm[0], it->reWYb, it->imWYb, it->reXmic, it->imXmic, 0.5f);
}

void BM_Stage_BlockingAdaptation(benchmark::State& state) {
  static Warm w;
  micarray_core::TMicArray* it = w.it;
  for (auto _ : state) FDAF12_Adaptation(&it->bm[0], it->reWYb, it->imWYb, it->dtd_coeff[0]);
}

void BM_Stage_DoubleTalk(benchmark::State& state) {
  static Warm w;
  micarray_core::TMicArray* it = w.it;
  FFTnRC_xy2fftbuf(&it->FFTnRC, it->bm[0].reE, it->bm[0].imE, it->buff);
  FFTnRC_fft(&it->FFTnRC, it->buff, -1);
  for (auto _ : state) DTalkDetect_RunMA(&it->dtd[0], 0.98f, it->buff, it->dYb, &it->dtd_coeff[0]);
}

void BM_Stage_CancellerSubtraction(benchmark::State& state) {
  static Warm w;
  micarray_core::TMicArray* it = w.it;
  mfloat coeff[kMaxMics] = {0.5f, 0.5f};
  for (auto _ : state) MulFDAF12_Substration(&it->mulC, it->BM_re, it->BM_im, it->reYb, it->imYb, coeff);
}

void BM_Stage_CancellerAdaptation(benchmark::State& state) {
  static Warm w;
  micarray_core::TMicArray* it = w.it;
  for (auto _ : state) MulFDAF12_Adaptation(&it->mulC, it->BM_re, it->BM_im, it->dtd_coeff);
}

void BM_Stage_Magnitude(benchmark::State& state) {
  static Warm w;
  micarray_core::TMicArray* it = w.it;
  for (auto _ : state) FFTnRC_xy2R(&it->FFTnRC, it->reE, it->imE, it->psdE);
}

// The post-filter works in place; it runs on a fresh copy of the magnitude.
void BM_Stage_PostFilter(benchmark::State& state) {
  static Warm w;
  micarray_core::TMicArray* it = w.it;
  float psd[kMaxBins];
  FFTnRC_xy2R(&it->FFTnRC, it->mulC.reE, it->mulC.imE, psd);
  for (auto _ : state) {
    umem_cpy(it->psdE, psd, it->maxFbin);
    FilterWiener_Run(&it->fwiener, 1, 1, it->psdE);
  }
}

void BM_Stage_Rebuild(benchmark::State& state) {
  static Warm w;
  micarray_core::TMicArray* it = w.it;
  for (auto _ : state) FFTnRC_RF2xy(&it->FFTnRC, it->psdE, it->PhasaYb, it->reE, it->imE);
}

BENCHMARK(BM_Stage_Unpack);
BENCHMARK(BM_Stage_BeamMean);
BENCHMARK(BM_Stage_PhaseOfBeam);
BENCHMARK(BM_Stage_Detect);
BENCHMARK(BM_Stage_CoherenceGain);
BENCHMARK(BM_Stage_BlockingSubtraction);
BENCHMARK(BM_Stage_DoubleTalk);
BENCHMARK(BM_Stage_BlockingAdaptation);
BENCHMARK(BM_Stage_CancellerSubtraction);
BENCHMARK(BM_Stage_CancellerAdaptation);
BENCHMARK(BM_Stage_Magnitude);
BENCHMARK(BM_Stage_PostFilter);
BENCHMARK(BM_Stage_Rebuild);
BENCHMARK(BM_Stage_Pack);

}  // namespace
