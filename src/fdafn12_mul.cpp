// Multi-reference canceller: removes the mean of the weighted noise
// references from the beam; every reference adapts against the common error.
#include "fdafn12_mul.h"

#include "uperation.h"

// Entries of the weight arrays: references times bins must fit in them.
static const uint32 kWeightCapacity = kMaxMics * kMaxBins;

// Every weight in use starts as a pass-through of its reference, 1 + 1e-20j.
static void MulFDAF12_InitialWeights(TMulFDAF12* it) {
  const uint32 n = it->nReference * it->maxFbin;
  for (uint32 i = 0; i < n; i++) {
    it->reW[i] = 1.0f;
    it->imW[i] = kTinyPower;
  }
}

void MulFDAF12_Init(TMulFDAF12* it, uint32 nReference, uint32 nfft) {
  it->maxFbin = nfft / 2 + 1;
  const uint32 fit = kWeightCapacity / it->maxFbin;  // references the arrays can hold
  it->nReference = nReference < fit ? nReference : fit;
  MulFDAF12_InitialWeights(it);
}

void MulFDAF12_Reset(TMulFDAF12* it) { MulFDAF12_InitialWeights(it); }

void MulFDAF12_Destroyed(TMulFDAF12* it) { (void)it; }

namespace {

template <TVecLevel kLevel>
VEC_INLINE void Substration(TMulFDAF12* it, mfloat* reX, mfloat* imX, mfloat* reD, mfloat* imD,
                            mfloat* mulCoeff) {
  if (it->nReference == 0) {
    // Nothing to cancel: the mean over no references would be 0/0.
    umem_cpy(it->reE, reD, it->maxFbin);
    umem_cpy(it->imE, imD, it->maxFbin);
    return;
  }
  umem_complex_substration_multi(it->reE, it->imE, it->reW, it->imW, reX, imX, reD, imD, mulCoeff, it->maxFbin,
                                 it->nReference);
}

template <TVecLevel kLevel>
VEC_INLINE void Adaptation(TMulFDAF12* it, mfloat* reX, mfloat* imX, mfloat* mulCoeff) {
  umem_complex_adaptation_multi(it->reW, it->imW, reX, imX, it->reE, it->imE, mulCoeff, it->maxFbin,
                                it->nReference);
}

}  // namespace

VEC_DISPATCH(void, MulFDAF12_Substration, Substration,
             (TMulFDAF12* it, mfloat* reX, mfloat* imX, mfloat* reD, mfloat* imD, mfloat* mulCoeff),
             (it, reX, imX, reD, imD, mulCoeff))
VEC_DISPATCH(void, MulFDAF12_Adaptation, Adaptation,
             (TMulFDAF12* it, mfloat* reX, mfloat* imX, mfloat* mulCoeff), (it, reX, imX, mulCoeff))
