// Element-wise routines shared by the stages. Every routine is a plain loop
// in single precision with one rounding per operation, in the order written;
// the engine's bit-exact output depends on that order, so keep it.
#ifndef MICARRAY_UPERATION_H
#define MICARRAY_UPERATION_H

#include <math.h>

#include "com_struct.h"
#include "vector.h"

// Regulariser of every power normalisation (the float nearest 1e-20).
static const mfloat kTinyPower = 1e-20f;

// r = x
template <typename T>
static inline void umem_cpy(T* r, const T* x, uint32 n) {
  for (uint32 i = 0; i < n; i++) r[i] = x[i];
}

// r = x * factor
static inline void umem_cpy_mul(mfloat* r, const mfloat* x, mfloat factor, uint32 n) {
  for (uint32 i = 0; i < n; i++) r[i] = x[i] * factor;
}

// r = y - x
static inline void umem_cpy_sub(mfloat* r, const mfloat* y, const mfloat* x, uint32 n) {
  for (uint32 i = 0; i < n; i++) r[i] = y[i] - x[i];
}

// r = r / divisor
static inline void umem_div(mfloat* r, mfloat divisor, uint32 n) {
  for (uint32 i = 0; i < n; i++) r[i] = r[i] / divisor;
}

// 16-bit samples scaled by factor, truncated toward zero.
static inline void umem_cpy_mul(int16* r, const int16* x, mfloat factor, uint32 n) {
  for (uint32 i = 0; i < n; i++) r[i] = (int16)((mfloat)x[i] * factor);
}

// r = r + x on 16-bit samples, saturating to the int16 range (a wrapped sum
// would turn a loud overlap into a full-scale click of the opposite sign).
static inline void umem_add(int16* r, const int16* x, uint32 n) {
  for (uint32 i = 0; i < n; i++) {
    int s = (int)r[i] + (int)x[i];
    r[i] = (int16)(s > 32767 ? 32767 : (s < -32768 ? -32768 : s));
  }
}

// Copy n samples between interleaved buffers: r[k * strideR] = x[k * strideX].
static inline void CopyMem16i(int16* r, uint32 strideR, const int16* x, uint32 strideX, uint32 n) {
  for (uint32 k = 0; k < n; k++) r[k * strideR] = x[k * strideX];
}

// Mean of nch channel-major spectra (stride n): the sum starts at zero and
// adds the channels from the last to the first, then divides by nch. The
// sums accumulate in the outputs, a channel at a time over all bins, so each
// bin's sum keeps its order while the bins advance together.
static inline void umem_complex_scm(mfloat* reR, mfloat* imR, const mfloat* reX, const mfloat* imX,
                                    uint32 n, uint32 nch) {
  const mfloat count = (mfloat)nch;
  for (uint32 i = 0; i < n; i++) reR[i] = imR[i] = 0.0f;
  for (uint32 m = nch; m-- > 0;) {
    for (uint32 i = 0; i < n; i++) {
      reR[i] = reR[i] + reX[m * n + i];
      imR[i] = imR[i] + imX[m * n + i];
    }
  }
  for (uint32 i = 0; i < n; i++) {
    reR[i] = reR[i] / count;
    imR[i] = imR[i] / count;
  }
}

// Recursive power average: pw = alfa * |X|^2 + (1 - alfa) * pw.
static inline void umem_complex_2power_update(mfloat* pw, const mfloat* re, const mfloat* im,
                                              mfloat alfa, uint32 n) {
  const mfloat keep = 1.0f - alfa;
  for (uint32 i = 0; i < n; i++) pw[i] = alfa * (im[i] * im[i] + re[i] * re[i]) + keep * pw[i];
}

// Recursive average of X0 * conj(X1): c = alfa * X0 * conj(X1) + (1 - alfa) * c.
static inline void umem_complex_cpy_update(mfloat* reC, mfloat* imC, const mfloat* re0, const mfloat* im0,
                                           const mfloat* re1, const mfloat* im1, mfloat alfa, uint32 n) {
  const mfloat keep = 1.0f - alfa;
  for (uint32 i = 0; i < n; i++) {
    reC[i] = alfa * (re0[i] * re1[i] + im0[i] * im1[i]) + keep * reC[i];
    imC[i] = alfa * (im0[i] * re1[i] - re0[i] * im1[i]) + keep * imC[i];
  }
}

// Cross-spectrum C turned by the steering value D and normalised by the
// geometric mean of the two powers: R = C * D / sqrt(pw0 * pw1 + tiny).
static inline void umem_complex_koeff_coher(mfloat* reR, mfloat* imR, const mfloat* reC, const mfloat* imC,
                                            const mfloat* reD, const mfloat* imD, const mfloat* pw0,
                                            const mfloat* pw1, uint32 n) {
  for (uint32 i = 0; i < n; i++) {
    const mfloat normMul = 1.0f / sqrtf(pw0[i] * pw1[i] + kTinyPower);
    reR[i] = (reC[i] * reD[i] - imC[i] * imD[i]) * normMul;
    imR[i] = (imC[i] * reD[i] + reC[i] * imD[i]) * normMul;
  }
}

// Coherence gain 2 * C / (pw1 + pw0 + tiny): the cross-spectrum over the mean
// power, so identical channels give exactly the unit gain.
static inline void umem_complex_koeff_wiener2(mfloat* reW, mfloat* imW, const mfloat* reC, const mfloat* imC,
                                              const mfloat* pw0, const mfloat* pw1, uint32 n) {
  for (uint32 i = 0; i < n; i++) {
    const mfloat sum_Pw = (0.0f + pw1[i]) + pw0[i];
    const mfloat den = sum_Pw + kTinyPower;
    reW[i] = 2.0f * (reC[i] / den);
    imW[i] = 2.0f * (imC[i] / den);
  }
}

// Complex gain: Y = X * W. Both inputs of a bin are read before its outputs
// are written, so Y may alias X.
static inline void umem_complex_cpy(mfloat* reY, mfloat* imY, const mfloat* reX, const mfloat* imX,
                                    const mfloat* reW, const mfloat* imW, uint32 n) {
  for (uint32 i = 0; i < n; i++) {
    const mfloat xr = reX[i], xi = imX[i];
    reY[i] = xr * reW[i] - xi * imW[i];
    imY[i] = xi * reW[i] + xr * imW[i];
  }
}

// Weight update of a normalised LMS filter for one reference: the error times
// the conjugated reference over the reference power, scaled by the step. A
// candidate outside the unit circle (or NaN) restarts the weight at 1 + 0j.
static inline void umem_complex_adaptation(mfloat* reW, mfloat* imW, const mfloat* reX, const mfloat* imX,
                                           const mfloat* reE, const mfloat* imE, mfloat step, uint32 n) {
  for (uint32 k = 0; k < n; k++) {
    const mfloat p = (reX[k] * reX[k] + imX[k] * imX[k]) + kTinyPower;
    const mfloat gre = (reX[k] * reE[k] + imX[k] * imE[k]) / p;
    const mfloat gim = (reX[k] * imE[k] - imX[k] * reE[k]) / p;
    const mfloat cre = reW[k] + step * gre;
    const mfloat cim = imW[k] + step * gim;
    if (cre * cre + cim * cim <= 1.0f) {
      reW[k] = cre;
      imW[k] = cim;
    } else {
      reW[k] = 1.0f;
      imW[k] = 0.0f;
    }
  }
}

// E = D - coeff * W * X (plain complex product, no conjugation).
static inline void umem_complex_substration(mfloat* reE, mfloat* imE, const mfloat* reW, const mfloat* imW,
                                            const mfloat* reX, const mfloat* imX, const mfloat* reD,
                                            const mfloat* imD, mfloat coeff, uint32 n) {
  for (uint32 k = 0; k < n; k++) {
    const mfloat pre = reW[k] * reX[k] - imW[k] * imX[k];
    const mfloat pim = reW[k] * imX[k] + imW[k] * reX[k];
    reE[k] = reD[k] - coeff * pre;
    imE[k] = imD[k] - coeff * pim;
  }
}

// E = D - (1/nref) * sum over r of coeff[r] * W_r * X_r, references packed
// with stride n and summed in reference order. The sums accumulate in E, a
// reference at a time over all bins, so each bin's sum keeps its order.
static inline void umem_complex_substration_multi(mfloat* reE, mfloat* imE, const mfloat* reW, const mfloat* imW,
                                                  const mfloat* reX, const mfloat* imX, const mfloat* reD,
                                                  const mfloat* imD, const mfloat* coeff, uint32 n, uint32 nref) {
  const mfloat count = (mfloat)nref;
  for (uint32 k = 0; k < n; k++) reE[k] = imE[k] = 0.0f;
  for (uint32 r = 0; r < nref; r++) {
    const mfloat c = coeff[r];
    for (uint32 k = 0; k < n; k++) {
      const uint32 i = r * n + k;
      reE[k] = reE[k] + (reX[i] * reW[i] - imX[i] * imW[i]) * c;
      imE[k] = imE[k] + c * (imX[i] * reW[i] + imW[i] * reX[i]);
    }
  }
  for (uint32 k = 0; k < n; k++) {
    reE[k] = reD[k] - reE[k] / count;
    imE[k] = imD[k] - imE[k] / count;
  }
}

// Each reference's weights adapt against the common error with its own step.
static inline void umem_complex_adaptation_multi(mfloat* reW, mfloat* imW, const mfloat* reX, const mfloat* imX,
                                                 const mfloat* reE, const mfloat* imE, const mfloat* step,
                                                 uint32 n, uint32 nref) {
  for (uint32 r = 0; r < nref; r++)
    umem_complex_adaptation(reW + r * n, imW + r * n, reX + r * n, imX + r * n, reE, imE, step[r], n);
}

// Post-filter, apply the stored gain: N = Hn * X; S = X - factor * N.
static inline void umem_complex_filter_wiener_sub(mfloat* dS, mfloat* dN, const mfloat* dHn, const mfloat* dX,
                                                  mfloat factor, uint32 n) {
  for (uint32 i = 0; i < n; i++) {
    dN[i] = dHn[i] * dX[i];
    dS[i] = dX[i] - factor * dN[i];
  }
}

// Post-filter, noise tracking: Nmean = factor * Nmean + (1 - factor) * N.
static inline void umem_complex_filter_wiener_adap(mfloat* dNmean, const mfloat* dN, mfloat factor, uint32 n) {
  const mfloat keep = 1.0f - factor;
  for (uint32 i = 0; i < n; i++) dNmean[i] = factor * dNmean[i] + keep * dN[i];
}

// The Wiener gain rules work on groups of kLanes bins in double precision
// (GCC's generic vectors, one register: eight lanes with AVX-512, four with
// AVX2, two with SSE2 and NEON, which would compare wider groups lane by lane):
// every lane does the scalar arithmetic, and a quotient whose denominator
// rules it out is computed but replaced by 0 (a mask keeps +0.0).
template <uint32 kLanes>
struct TWienerLanes {
  typedef typename TVecLanes<kLanes>::D D;
  typedef typename TVecLanes<kLanes>::L L;
  typedef typename TVecLanes<kLanes>::F F;

  // Bins i ... i+kLanes-1 of x in double precision; bins from n on read as 0.
  static VEC_INLINE D Load(const mfloat* x, uint32 i, uint32 n) {
    F v = {};
    if (i + kLanes <= n)
      __builtin_memcpy(&v, x + i, sizeof v);
    else
      for (uint32 k = 0; i + k < n; k++) v[k] = x[i + k];
    return Vec_Widen<D>(v);
  }

  static VEC_INLINE void Store(mfloat* r, uint32 i, uint32 n, D v) {
    const F f = __builtin_convertvector(v, F);
    if (i + kLanes <= n)
      __builtin_memcpy(r + i, &f, sizeof f);
    else
      for (uint32 k = 0; i + k < n; k++) r[i + k] = f[k];
  }

  // mask ? v : +0.0, lane by lane.
  static VEC_INLINE D Keep(L mask, D v) { return (D)(mask & (L)v); }

  // Noise gain sqrt(q / (q + 1)) for a noise-to-signal power ratio q, capped
  // at 1 (g < 1 ? g : 1, so a NaN gain becomes 1); evaluated in double
  // precision so that no ratio can overflow. The lanes' square roots are one
  // vector instruction (the compiler joins them; the square root is
  // correctly rounded either way).
  static VEC_INLINE D Gain(D q) {
    const D one = D{} + 1.0;
    const D ratio = q / (q + one);
    D g;
    for (uint32 k = 0; k < kLanes; k++) g[k] = sqrt(ratio[k]);
    return g < one ? g : one;
  }

  // Mixed gain rule: the ratio of the noise mean to the refreshed signal
  // reference, weighted by factor, plus the ratio to this call's signal
  // estimate; a zero denominator contributes 0.
  static VEC_INLINE void Subst0(mfloat* Hn, const mfloat* dNmean, const mfloat* dSmean, const mfloat* dS,
                            mfloat factor, uint32 n) {
    const D zero = {}, wRef = zero + (double)factor, wNow = zero + (double)(1.0f - factor);
    for (uint32 i = 0; i < n; i += kLanes) {
      const D N = Load(dNmean, i, n), M = Load(dSmean, i, n), S = Load(dS, i, n);
      const D n2 = N * N, m2 = M * M, s2 = S * S;
      const D byRef = Keep(m2 > zero, n2 / m2), byNow = Keep(s2 != zero, n2 / s2);
      Store(Hn, i, n, Gain(wRef * byRef + wNow * byNow));
    }
  }

  // Reference-only gain rule; a zero reference gives the gain 0.
  static VEC_INLINE void Subst1(mfloat* Hn, const mfloat* dNmean, const mfloat* dSmean, uint32 n) {
    for (uint32 i = 0; i < n; i += kLanes) {
      const D N = Load(dNmean, i, n), M = Load(dSmean, i, n);
      const D n2 = N * N, m2 = M * M;
      Store(Hn, i, n, Keep(m2 != D{}, Gain(n2 / m2)));
    }
  }
};

#endif
