// Wiener post-filter: per bin, the gain computed in one call says which share
// of the magnitude is noise; the next call removes the fraction pSn of that
// share, tracks the noise mean and derives the gain for the call after.
#include "wiener.h"

#include <math.h>

#include "uperation.h"

// Gain of a bin with equal noise and signal power, sqrt(1/2).
static const mfloat kInitialGain = 0.70710677f;
// 10^(dB/20) = exp(dB * 0.05 * ln 10): amplitude ratio of a level in dB.
static const double kAmplitudePerDb = 0.05;
static const double kLn10 = 2.302585092994046;

// Fraction of the noise share removed: 1 - 10^(pSdb/20), so that a bin of
// pure noise keeps 10^(pSdb/20) of its magnitude; 0 when pSdb asks for no cut.
static mfloat FilterWiener_SubtractedFraction(mfloat pSdb) {
  if (pSdb >= 0.0f) return 0.0f;
  return 1.0f - (mfloat)exp((double)pSdb * kAmplitudePerDb * kLn10);
}

void FilterWiener_Init(TFilterWiener* it, uint32 nfft, char kind_subst, mfloat pSdb, mfloat pNn, mfloat pMn) {
  it->maxFbin = nfft / 2 + 1;
  FilterWiener_Reset(it, kind_subst, pSdb, pNn, pMn);
  for (uint32 i = 0; i < it->maxFbin; i++) {
    it->psdSmean[i] = kTinyPower;
    it->psdNmean[i] = kTinyPower;
    it->Hn[i] = kInitialGain;
  }
}

void FilterWiener_Reset(TFilterWiener* it, char kind_subst, mfloat pSdb, mfloat pNn, mfloat pMn) {
  it->kind_subst = kind_subst;
  it->pSn = FilterWiener_SubtractedFraction(pSdb);
  it->pNn = pNn;
  it->pMn = pMn;
}

namespace {

template <TVecLevel kLevel>
VEC_INLINE void Run(TFilterWiener* it, char ActiveSig, char stateVad, mfloat* psdX) {
  const uint32 n = it->maxFbin;
  // Apply the gain of the previous call, then follow the noise.
  umem_complex_filter_wiener_sub(it->psdS, it->psdN, it->Hn, psdX, it->pSn, n);
  umem_complex_filter_wiener_adap(it->psdNmean, it->psdN, it->pNn, n);
  // Signal reference: input minus noise mean, refreshed only while speech is on.
  if (stateVad != 0) umem_cpy_sub(it->psdSmean, psdX, it->psdNmean, n);
  typedef TWienerLanes<Vec_Floats(kLevel) / 2> TLanes;
  if (it->kind_subst == 0)
    TLanes::Subst0(it->Hn, it->psdNmean, it->psdSmean, it->psdS, it->pMn, n);
  else
    TLanes::Subst1(it->Hn, it->psdNmean, it->psdSmean, n);
  umem_cpy(psdX, ActiveSig != 0 ? it->psdS : it->psdN, n);
}

}  // namespace

VEC_DISPATCH(void, FilterWiener_Run, Run, (TFilterWiener* it, char ActiveSig, char stateVad, mfloat* psdX),
             (it, ActiveSig, stateVad, psdX))

void FilterWiener_Destroyed(TFilterWiener* it) { it->maxFbin = 0; }
