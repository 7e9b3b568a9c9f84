// Blocking-matrix filter: one complex weight per bin, adapted by normalised
// LMS so that the weighted beam cancels the target in one microphone.
#include "fdafn12.h"

#include "uperation.h"

// Every weight starts as a pass-through of the reference, 1 + 1e-20j.
static void FDAF12_InitialWeights(TFDAF12* it) {
  for (uint32 k = 0; k < it->maxFbin; k++) {
    it->reW[k] = 1.0f;
    it->imW[k] = kTinyPower;
  }
}

void FDAF12_Init(TFDAF12* it, uint32 nfft) {
  it->maxFbin = nfft / 2 + 1;
  FDAF12_InitialWeights(it);
}

void FDAF12_Reset(TFDAF12* it) { FDAF12_InitialWeights(it); }

void FDAF12_Destroyed(TFDAF12* it) { (void)it; }

namespace {

template <TVecLevel kLevel>
VEC_INLINE void Substration(TFDAF12* it, mfloat* reX, mfloat* imX, mfloat* reD, mfloat* imD,
                            mfloat mulCoeff) {
  umem_complex_substration(it->reE, it->imE, it->reW, it->imW, reX, imX, reD, imD, mulCoeff, it->maxFbin);
}

template <TVecLevel kLevel>
VEC_INLINE void Adaptation(TFDAF12* it, mfloat* reX, mfloat* imX, mfloat mulCoeff) {
  umem_complex_adaptation(it->reW, it->imW, reX, imX, it->reE, it->imE, mulCoeff, it->maxFbin);
}

}  // namespace

VEC_DISPATCH(void, FDAF12_Substration, Substration,
             (TFDAF12* it, mfloat* reX, mfloat* imX, mfloat* reD, mfloat* imD, mfloat mulCoeff),
             (it, reX, imX, reD, imD, mulCoeff))
VEC_DISPATCH(void, FDAF12_Adaptation, Adaptation, (TFDAF12* it, mfloat* reX, mfloat* imX, mfloat mulCoeff),
             (it, reX, imX, mulCoeff))
