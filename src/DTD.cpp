// Double-talk detector: the energy of the first DCT-II coefficients measures
// the low band of a frame; two frames of similar low-band energy give a
// similarity near 1, frames of different energy a value towards 0.
#include "DTD.h"

#include <math.h>

#include "frameplan.h"
#include "vector.h"

// Basis rows for the frame length, or nullptr when there is no table for it.
static const float* DCT_table(uint32 length) {
  const TFramePlan* plan = FramePlan_ForFrame(length);
  return plan != nullptr ? plan->dct : nullptr;
}

void DTalkDetect_Init(TDTalkDetect* it, uint32 size_dct, uint32 length) {
  // The record keeps at most kMaxDct coefficients per frame.
  it->size_dct = size_dct < kMaxDct ? size_dct : (uint32)kMaxDct;
  it->length = length;
}

void DTalkDetect_Destroyed(TDTalkDetect* it) { (void)it; }

void DCT_dct(TDTalkDetect* it, const mfloat* inp, mfloat* output) { DCT_dctFrames(it, 1, &inp, &output); }

// Every coefficient is a sum over the frame in index order from 0: the plain
// sum for coefficient 0, the products with basis row k for coefficient k.
// Lane k of a frame's accumulator carries coefficient k (lane 0 adds the
// sample times an exact 1), so the four sums advance side by side, each in
// its own order; the frames' accumulators are independent as well.
template <TVecLevel kLevel>
static VEC_INLINE void DctFrames(TDTalkDetect* it, uint32 frames, const mfloat* const* inp,
                                 mfloat* const* output) {
  const uint32 n = it->length;
  if (it->size_dct == 0) return;
  const float* table = DCT_table(n);
  V4f acc[kMaxDctFrames];
  for (uint32 f = 0; f < frames; f++) acc[f] = V4f{};
  if (table != nullptr) {
    const V4f ones = V4f{} + 1.0f;
    for (uint32 i = 0; i < n; i += 4) {
      // Basis values {1, row 1, row 2, row 3} of samples i ... i+3 (b[j] for
      // sample i+j): the rows transposed.
      const V4f r1 = Vec_Load<V4f>(table + n + i), r2 = Vec_Load<V4f>(table + 2 * n + i),
                r3 = Vec_Load<V4f>(table + 3 * n + i);
      const V4f lo01 = __builtin_shufflevector(ones, r1, 0, 4, 1, 5);
      const V4f lo23 = __builtin_shufflevector(r2, r3, 0, 4, 1, 5);
      const V4f hi01 = __builtin_shufflevector(ones, r1, 2, 6, 3, 7);
      const V4f hi23 = __builtin_shufflevector(r2, r3, 2, 6, 3, 7);
      const V4f b[4] = {
          __builtin_shufflevector(lo01, lo23, 0, 1, 4, 5), __builtin_shufflevector(lo01, lo23, 2, 3, 6, 7),
          __builtin_shufflevector(hi01, hi23, 0, 1, 4, 5), __builtin_shufflevector(hi01, hi23, 2, 3, 6, 7)};
      for (uint32 f = 0; f < frames; f++) {
        const V4f x = Vec_Load<V4f>(inp[f] + i);
        acc[f] = acc[f] + __builtin_shufflevector(x, x, 0, 0, 0, 0) * b[0];
        acc[f] = acc[f] + __builtin_shufflevector(x, x, 1, 1, 1, 1) * b[1];
        acc[f] = acc[f] + __builtin_shufflevector(x, x, 2, 2, 2, 2) * b[2];
        acc[f] = acc[f] + __builtin_shufflevector(x, x, 3, 3, 3, 3) * b[3];
      }
    }
  } else {
    // A frame length without a basis table: only the sum; 0 for the higher rows.
    for (uint32 f = 0; f < frames; f++) {
      mfloat sum = 0.0f;
      for (uint32 i = 0; i < n; i++) sum = sum + inp[f][i];
      acc[f][0] = sum;
    }
  }
  for (uint32 f = 0; f < frames; f++) {
    // Coefficient 0 of the orthonormal DCT-II: the frame sum over sqrt(N).
    output[f][0] = acc[f][0] / sqrtf((mfloat)n);
    for (uint32 k = 1; k < it->size_dct; k++) output[f][k] = acc[f][k];
  }
}
VEC_DISPATCH(void, DCT_dctFrames, DctFrames,
             (TDTalkDetect* it, uint32 frames, const mfloat* const* inp, mfloat* const* output),
             (it, frames, inp, output))

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
  const mfloat* frames[] = {x, d};
  mfloat* coefficients[] = {it->xDCT, it->yDCT};
  DCT_dctFrames(it, 2, frames, coefficients);
  return DTalkDetect_DecideMA(it, pThreshold, rDTD);
}

uint8 DTalkDetect_DecideMA(TDTalkDetect* it, mfloat pThreshold, mfloat* rDTD) {
  const mfloat Px = DTalkDetect_Energy(it, it->xDCT);
  const mfloat Pd = DTalkDetect_Energy(it, it->yDCT);
  return DTalkDetect_Decide(it, Pd * (2.0f * Px), Pd * Pd + Px * Px, pThreshold, rDTD);
}

uint8 DTalkDetect_RunMM(TDTalkDetect* it, mfloat pThreshold, const mfloat* x, const mfloat* y, const mfloat* e,
                        mfloat* rDTD) {
  const mfloat* frames[] = {e, y, x};
  mfloat* coefficients[] = {it->eDCT, it->yDCT, it->xDCT};
  DCT_dctFrames(it, 3, frames, coefficients);
  const mfloat Pe = DTalkDetect_Energy(it, it->eDCT);
  const mfloat Py = DTalkDetect_Energy(it, it->yDCT);
  const mfloat Px = DTalkDetect_Energy(it, it->xDCT);
  return DTalkDetect_Decide(it, Pe * (2.0f * Px), (Py * Py + Px * Px) + Pe * Pe, pThreshold, rDTD);
}
