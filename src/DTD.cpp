// Double-talk detector: the energy of the first DCT-II coefficients measures
// the low band of a frame; two frames of similar low-band energy give a
// similarity near 1, frames of different energy a value towards 0.
#include "DTD.h"

#include <math.h>

// Basis rows for the frame length, or nullptr when there is no table for it.
static const float* DCT_table(uint32 length) {
  switch (length) {
    case 256: return &mdct4x256_Tab32f[0][0];
    case 512: return &mdct4x512_Tab32f[0][0];
    case 1024: return &mdct4x1024_Tab32f[0][0];
    default: return nullptr;
  }
}

void DTalkDetect_Init(TDTalkDetect* it, uint32 size_dct, uint32 length) {
  // The record keeps at most kMaxDct coefficients per frame.
  it->size_dct = size_dct < kMaxDct ? size_dct : (uint32)kMaxDct;
  it->length = length;
}

void DTalkDetect_Destroyed(TDTalkDetect* it) { (void)it; }

void DCT_dct(TDTalkDetect* it, const mfloat* inp, mfloat* output) {
  const uint32 n = it->length;
  if (it->size_dct == 0) return;
  // Coefficient 0 of the orthonormal DCT-II: the frame sum over sqrt(N).
  mfloat sum = 0.0f;
  for (uint32 i = 0; i < n; i++) sum = sum + inp[i];
  output[0] = sum / sqrtf((mfloat)n);
  const float* table = DCT_table(n);
  for (uint32 k = 1; k < it->size_dct; k++) {
    // A frame length without a basis table yields 0 for the higher rows.
    mfloat acc = 0.0f;
    for (uint32 i = 0; table != nullptr && i < n; i++) acc = acc + inp[i] * table[k * n + i];
    output[k] = acc;
  }
}

// Low-band energy: sum of the squared coefficients.
static mfloat DTalkDetect_Energy(const TDTalkDetect* it, const mfloat* coeff) {
  mfloat p = 0.0f;
  for (uint32 k = 0; k < it->size_dct; k++) p = p + coeff[k] * coeff[k];
  return p;
}

// Similarity num / den (1 when nothing is compared or both frames are
// silent) and its decision against the threshold; a NaN similarity says no.
static uint8 DTalkDetect_Decide(const TDTalkDetect* it, mfloat num, mfloat den, mfloat pThreshold, mfloat* rDTD) {
  *rDTD = (it->size_dct == 0 || den == 0.0f) ? 1.0f : num / den;
  return *rDTD >= pThreshold ? 1 : 0;
}

uint8 DTalkDetect_RunMA(TDTalkDetect* it, mfloat pThreshold, const mfloat* x, const mfloat* d, mfloat* rDTD) {
  DCT_dct(it, x, it->xDCT);
  DCT_dct(it, d, it->yDCT);
  const mfloat Px = DTalkDetect_Energy(it, it->xDCT);
  const mfloat Pd = DTalkDetect_Energy(it, it->yDCT);
  return DTalkDetect_Decide(it, Pd * (2.0f * Px), Pd * Pd + Px * Px, pThreshold, rDTD);
}

uint8 DTalkDetect_RunMM(TDTalkDetect* it, mfloat pThreshold, const mfloat* x, const mfloat* y, const mfloat* e,
                        mfloat* rDTD) {
  DCT_dct(it, e, it->eDCT);
  DCT_dct(it, y, it->yDCT);
  DCT_dct(it, x, it->xDCT);
  const mfloat Pe = DTalkDetect_Energy(it, it->eDCT);
  const mfloat Py = DTalkDetect_Energy(it, it->yDCT);
  const mfloat Px = DTalkDetect_Energy(it, it->xDCT);
  return DTalkDetect_Decide(it, Pe * (2.0f * Px), (Py * Py + Px * Px) + Pe * Pe, pThreshold, rDTD);
}
