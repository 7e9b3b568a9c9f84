// Direction detector: compares the phase relation between the two microphones
// with the one a source in the look direction produces, and derives a complex
// coherence gain from the same recursive statistics.
#include "sdirect10a.h"

#include <math.h>

#include "fastmath.h"
#include "frameplan.h"
#include "uperation.h"

namespace {

// Lowest frequency of the direction band; below it the 0.05 m pair sees too
// little phase difference to tell directions apart.
const double kBandLowHz = 615.0;

// Look angles are quantised to multiples of this step (degrees); the tables
// cover 0 ... 90 and a negative angle uses the conjugate.
const double kAngleStep = 5.0;
const mfloat kAngleLimit = 92.5f;  // 90 degrees plus half a step

// Bins of the direction band per block of the mean cosine (a multiple of
// every level's group of transcendentals).
const int32 kBandBlock = 32;

// Real and imaginary steering table of one look angle.
struct TDirVecTab {
  const float* re;
  const float* im;
};

// Tables for 0, 5, ..., 90 degrees, indexed by angle / kAngleStep.
const TDirVecTab kDirVecTabs[] = {
    {reDirVecAng00_tab32f, imDirVecAng00_tab32f}, {reDirVecAng05_tab32f, imDirVecAng05_tab32f},
    {reDirVecAng10_tab32f, imDirVecAng10_tab32f}, {reDirVecAng15_tab32f, imDirVecAng15_tab32f},
    {reDirVecAng20_tab32f, imDirVecAng20_tab32f}, {reDirVecAng25_tab32f, imDirVecAng25_tab32f},
    {reDirVecAng30_tab32f, imDirVecAng30_tab32f}, {reDirVecAng35_tab32f, imDirVecAng35_tab32f},
    {reDirVecAng40_tab32f, imDirVecAng40_tab32f}, {reDirVecAng45_tab32f, imDirVecAng45_tab32f},
    {reDirVecAng50_tab32f, imDirVecAng50_tab32f}, {reDirVecAng55_tab32f, imDirVecAng55_tab32f},
    {reDirVecAng60_tab32f, imDirVecAng60_tab32f}, {reDirVecAng65_tab32f, imDirVecAng65_tab32f},
    {reDirVecAng70_tab32f, imDirVecAng70_tab32f}, {reDirVecAng75_tab32f, imDirVecAng75_tab32f},
    {reDirVecAng80_tab32f, imDirVecAng80_tab32f}, {reDirVecAng85_tab32f, imDirVecAng85_tab32f},
    {reDirVecAng90_tab32f, imDirVecAng90_tab32f},
};

}  // namespace

void sDirect10a_Init(TsDirect10a* it, uint32 SamplingRate, uint32 nfft, mfloat alfa) {
  it->alfa = alfa;
  it->SamplingRate = SamplingRate;
  it->maxFbin = nfft / 2 + 1;
  it->upper_fbin = it->maxFbin;
  // Bin nearest 615 Hz (a half rounds up). Without a rate there is no band.
  it->lower_fbin = SamplingRate > 0 ? (uint32)((double)nfft * kBandLowHz / (double)SamplingRate + 0.5)
                                    : it->maxFbin;
  sDirect10a_Reset(it);
}

void sDirect10a_Reset(TsDirect10a* it) {
  const uint32 M = it->maxFbin;
  for (uint32 i = 0; i < kMaxMics * M; i++) it->micPw[i] = 0.0f;  // both rows, stride M
  for (uint32 k = 0; k < M; k++) {
    it->reCoherMics[k] = 0.0f;
    it->imCoherMics[k] = 0.0f;
    it->reCoherence[k] = 0.0f;
    it->imCoherence[k] = 0.0f;
    // Unit gain: the coherence filter passes spectra until the first detection.
    it->reWiener[k] = 1.0f;
    it->imWiener[k] = 0.0f;
  }
  it->sDirect = 0.0f;
  it->sDirectDinamic = 0.0f;
}

void sDirect10a_SetVectorDirect(TsDirect10a* it, mfloat angelTetta, mfloat Dom) {
  (void)Dom;  // the tables describe a fixed 0.05 m pair
  const uint32 M = it->maxFbin;
  it->angelTetta = angelTetta;

  const TFramePlan* plan = FramePlan_ForFrame(2 * (M - 1));
  if (plan == nullptr) return;  // no table segment for this frame size
  it->offet_sd = (int16)plan->steering;

  // Outside (-92.5, 92.5], or NaN: no look direction, keep the vectors.
  if (!(angelTetta > -kAngleLimit && angelTetta <= kAngleLimit)) return;
  // A_q / 5 for the half-open interval (A_q - 2.5, A_q + 2.5] holding the
  // angle; in double the subtraction is exact for every float near a boundary.
  const int q = (int)ceil(((double)angelTetta - kAngleStep / 2.0) / kAngleStep);
  const TDirVecTab& tab = kDirVecTabs[q < 0 ? -q : q];

  for (uint32 m = 0; m < kMaxMics; m++) {
    const uint32 start = (uint32)it->offet_sd + m * M;
    umem_cpy(it->reDirVec[m], tab.re + start, M);
    // A source at -A has the conjugate phase of one at +A.
    if (q < 0)
      umem_cpy_mul(it->imDirVec[m], tab.im + start, -1.0f, M);
    else
      umem_cpy(it->imDirVec[m], tab.im + start, M);
  }
}

namespace {

template <TVecLevel kLevel>
VEC_INLINE void Detect(TsDirect10a* it, mfloat* reMics, mfloat* imMics) {
  const uint32 M = it->maxFbin;
  const mfloat alfa = it->alfa;
  mfloat* pw0 = it->micPw;
  mfloat* pw1 = it->micPw + M;

  // Recursive powers of each microphone and their cross-spectrum X0 * conj(X1).
  umem_complex_2power_update(pw0, reMics, imMics, alfa, M);
  umem_complex_2power_update(pw1, reMics + M, imMics + M, alfa, M);
  umem_complex_cpy_update(it->reCoherMics, it->imCoherMics, reMics, imMics, reMics + M, imMics + M, alfa, M);

  // Coherence turned by the steering vector: a source in the look direction
  // leaves a phase of 0 in every bin.
  umem_complex_koeff_coher(it->reCoherence, it->imCoherence, it->reCoherMics, it->imCoherMics, it->reDirVec[0],
                           it->imDirVec[0], pw0, pw1, M);

  // Mean cosine of the steered phase over the band; an empty band (very low
  // sampling rates) has no direction information and gives 0.
  const int32 nBand = (int32)it->upper_fbin - (int32)it->lower_fbin;
  // The band goes in blocks: the sum is a chain of dependent additions, and
  // the block's chain runs while the next block's angles are evaluated.
  mfloat sDsum2re = 0.0f;
  for (int32 b = 0; b < nBand; b += kBandBlock) {
    const uint32 n = (uint32)(nBand - b < kBandBlock ? nBand - b : kBandBlock);
    float fi[kBandBlock], cosfi[kBandBlock];
    FastMath_atan2(it->imCoherence + it->lower_fbin + b, it->reCoherence + it->lower_fbin + b, fi, n);
    FastMath_cos(fi, cosfi, n);
    for (uint32 k = 0; k < n; k++) sDsum2re = sDsum2re + cosfi[k];
  }
  it->sDirect = nBand > 0 ? sDsum2re / (mfloat)nBand : 0.0f;
  it->sDirect2re = it->sDirect;

  // Coherence gain from the unsteered cross-spectrum over the mean power.
  umem_complex_koeff_wiener2(it->reWiener, it->imWiener, it->reCoherMics, it->imCoherMics, pw0, pw1, M);
}

template <TVecLevel kLevel>
VEC_INLINE void FilterWiener(TsDirect10a* it, mfloat* reYb, mfloat* imYb, mfloat* reWYb, mfloat* imWYb) {
  umem_complex_cpy(reWYb, imWYb, reYb, imYb, it->reWiener, it->imWiener, it->maxFbin);
}

}  // namespace

VEC_DISPATCH(void, sDirect10a_Detect, Detect, (TsDirect10a* it, mfloat* reMics, mfloat* imMics),
             (it, reMics, imMics))
VEC_DISPATCH(void, sDirect10a_FilterWiener, FilterWiener,
             (TsDirect10a* it, mfloat* reYb, mfloat* imYb, mfloat* reWYb, mfloat* imWYb),
             (it, reYb, imYb, reWYb, imWYb))
