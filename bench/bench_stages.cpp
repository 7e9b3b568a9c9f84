// Each stage of a step, one call per iteration, at 16 kHz on the state of an
// engine that has run over the first second of the scene. Stages that update
// their record keep updating the same copy, as in a long run.
#include <benchmark/benchmark.h>

#include "bench_scene.h"
#include "uperation.h"

namespace {

const uint32 kStageRate = 16000;

using TCore = micarray_core::TMicArray;

// Magnitude spectrum the post-filter starts from on every call (it works in place).
float g_psd[kMaxBins];

// Registers a benchmark that warms its own engine, runs prepare(it) once and
// then stage(it) once per iteration.
template <class Prepare, class Stage>
void AddStage(const char* name, Prepare prepare, Stage stage) {
  benchmark::RegisterBenchmark(name, [=](benchmark::State& state) {
    TMicArray pub;
    BenchWarmEngine(&pub, kStageRate);
    TCore* it = micarray_core::Core(&pub);
    prepare(it);
    for (auto _ : state) stage(it);
  });
}

void Nothing(TCore*) {}

// Listed in the order the step runs them.
const int kRegistered = [] {
  AddStage("BM_Stage_Unpack", Nothing,
           [](TCore* it) { FFTnRC_fftbuf2xy(&it->FFTnRC, it->buff, it->reXmic, it->imXmic); });
  AddStage("BM_Stage_BeamMean", Nothing, [](TCore* it) {
    umem_complex_scm(it->reYb, it->imYb, it->reXmic, it->imXmic, it->maxFbin, it->sizeMic);
  });
  AddStage(
      "BM_Stage_PhaseOfBeam", [](TCore* it) { FFTnRC_xy2fftbuf(&it->FFTnRC, it->reYb, it->imYb, it->buff); },
      [](TCore* it) { FFTnRC_fftbuf2F(&it->FFTnRC, it->buff, it->PhasaYb); });
  AddStage("BM_Stage_Detect", Nothing,
           [](TCore* it) { sDirect10a_Detect(&it->sDr10a, it->reXmic, it->imXmic); });
  AddStage("BM_Stage_CoherenceGain", Nothing, [](TCore* it) {
    sDirect10a_FilterWiener(&it->sDr10a, it->reYb, it->imYb, it->reWYb, it->imWYb);
  });
  AddStage("BM_Stage_BlockingSubtraction", Nothing, [](TCore* it) {
    FDAF12_Substration(&it->bm[0], it->reWYb, it->imWYb, it->reXmic, it->imXmic, 0.5f);
  });
  AddStage(
      "BM_Stage_DoubleTalk",
      [](TCore* it) {  // the error frame in the time domain
        FFTnRC_xy2fftbuf(&it->FFTnRC, it->bm[0].reE, it->bm[0].imE, it->buff);
        FFTnRC_fft(&it->FFTnRC, it->buff, -1);
      },
      [](TCore* it) { DTalkDetect_RunMA(&it->dtd[0], 0.98f, it->buff, it->dYb, &it->dtd_coeff[0]); });
  AddStage("BM_Stage_BlockingAdaptation", Nothing,
           [](TCore* it) { FDAF12_Adaptation(&it->bm[0], it->reWYb, it->imWYb, it->dtd_coeff[0]); });
  AddStage("BM_Stage_CancellerSubtraction", Nothing, [](TCore* it) {
    mfloat coeff[kMaxMics] = {0.5f, 0.5f};
    MulFDAF12_Substration(&it->mulC, it->BM_re, it->BM_im, it->reYb, it->imYb, coeff);
  });
  AddStage("BM_Stage_CancellerAdaptation", Nothing,
           [](TCore* it) { MulFDAF12_Adaptation(&it->mulC, it->BM_re, it->BM_im, it->dtd_coeff); });
  AddStage("BM_Stage_Magnitude", Nothing,
           [](TCore* it) { FFTnRC_xy2R(&it->FFTnRC, it->reE, it->imE, it->psdE); });
  AddStage(
      "BM_Stage_PostFilter", [](TCore* it) { FFTnRC_xy2R(&it->FFTnRC, it->mulC.reE, it->mulC.imE, g_psd); },
      [](TCore* it) {
        umem_cpy(it->psdE, g_psd, it->maxFbin);
        FilterWiener_Run(&it->fwiener, 1, 1, it->psdE);
      });
  AddStage("BM_Stage_Rebuild", Nothing,
           [](TCore* it) { FFTnRC_RF2xy(&it->FFTnRC, it->psdE, it->PhasaYb, it->reE, it->imE); });
  AddStage("BM_Stage_Pack", Nothing,
           [](TCore* it) { FFTnRC_xy2fftbuf(&it->FFTnRC, it->reWE, it->imWE, it->buff); });
  return 0;
}();

}  // namespace

