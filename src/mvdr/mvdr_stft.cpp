// Short-time analysis and synthesis: windows, the real transform and its
// inverse, overlap-add.
#include "mvdr_stft.h"

#include <math.h>
#include <string.h>

#include "mvdr_isa.h"

namespace {

// Complex transform in place on zRe, zIm, input in bit-reversed order,
// output in natural order. The first two stages need no multiplication
// (twiddles 1 and -i) and run as one radix-4 pass.
MVDR_INLINE void Transform(TMvdrStft* it) {
  float* re = it->zRe;
  float* im = it->zIm;
  const uint32_t M = it->half;
  for (uint32_t k = 0; k < M; k += 4) {
    const float ar = re[k] + re[k + 1], ai = im[k] + im[k + 1];
    const float br = re[k] - re[k + 1], bi = im[k] - im[k + 1];
    const float cr = re[k + 2] + re[k + 3], ci = im[k + 2] + im[k + 3];
    const float dr = re[k + 2] - re[k + 3], di = im[k + 2] - im[k + 3];
    re[k] = ar + cr, im[k] = ai + ci;
    re[k + 2] = ar - cr, im[k + 2] = ai - ci;
    re[k + 1] = br + di, im[k + 1] = bi - dr;  // b + (-i) d
    re[k + 3] = br - di, im[k + 3] = bi + dr;
  }
  for (uint32_t h = 4; h < M; h *= 2) {
    const float* wr = it->twRe + h - 1;
    const float* wi = it->twIm + h - 1;
    for (uint32_t k = 0; k < M; k += 2 * h) {
      float* __restrict ar = re + k;
      float* __restrict ai = im + k;
      float* __restrict br = re + k + h;
      float* __restrict bi = im + k + h;
      for (uint32_t j = 0; j < h; j++) {
        const float tr = br[j] * wr[j] - bi[j] * wi[j];
        const float ti = br[j] * wi[j] + bi[j] * wr[j];
        br[j] = ar[j] - tr, bi[j] = ai[j] - ti;
        ar[j] = ar[j] + tr, ai[j] = ai[j] + ti;
      }
    }
  }
}

// Windowed frame -> bins 0..M. With Z the transform of z[m] = x[2m] + i x[2m+1],
// the even samples' transform is E = (Z[k] + conj Z[M-k]) / 2, the odd
// samples' O = -i (Z[k] - conj Z[M-k]) / 2, and X[k] = E + e^(-2 pi i k/N) O.
MVDR_INLINE void Forward_Body(TMvdrStft* it, TMvdrSpectrum* out) {
  const uint32_t M = it->half;
  for (uint32_t m = 0; m < M; m++) {
    const uint32_t src = 2u * it->bitrev[m];
    it->zRe[m] = it->frame[src];
    it->zIm[m] = it->frame[src + 1];
  }
  Transform(it);
  const float* zr = it->zRe;
  const float* zi = it->zIm;
  out->re[0] = zr[0] + zi[0], out->im[0] = 0.0f;
  out->re[M] = zr[0] - zi[0], out->im[M] = 0.0f;
  for (uint32_t k = 1; k < M; k++) {
    const float br = zr[M - k], bi = -zi[M - k];
    const float er = 0.5f * (zr[k] + br), ei = 0.5f * (zi[k] + bi);
    const float orr = 0.5f * (zi[k] - bi), oi = -0.5f * (zr[k] - br);
    out->re[k] = er + it->rotRe[k] * orr - it->rotIm[k] * oi;
    out->im[k] = ei + it->rotRe[k] * oi + it->rotIm[k] * orr;
  }
}
MVDR_DISPATCH(Forward, (TMvdrStft * it, TMvdrSpectrum* out), (it, out))

// Bins 0..M -> frame: E = (X[k] + conj X[M-k]) / 2, O = (X[k] - conj X[M-k]) / 2
// e^(2 pi i k/N), Z = E + i O; z = conj(transform(conj Z)) / M.
MVDR_INLINE void Inverse_Body(TMvdrStft* it, const TMvdrSpectrum* in) {
  const uint32_t M = it->half;
  const float scale = 1.0f / (float)M;
  for (uint32_t m = 0; m < M; m++) {
    const uint32_t k = it->bitrev[m];
    const float br = in->re[M - k], bi = -in->im[M - k];
    const float er = 0.5f * (in->re[k] + br), ei = 0.5f * (in->im[k] + bi);
    const float dr = 0.5f * (in->re[k] - br), di = 0.5f * (in->im[k] - bi);
    const float orr = it->rotRe[k] * dr + it->rotIm[k] * di;  // times the conjugate rotation
    const float oi = it->rotRe[k] * di - it->rotIm[k] * dr;
    it->zRe[m] = er - oi;
    it->zIm[m] = -(ei + orr);
  }
  Transform(it);
  for (uint32_t m = 0; m < M; m++) {
    it->frame[2 * m] = it->zRe[m] * scale;
    it->frame[2 * m + 1] = -it->zIm[m] * scale;
  }
}
MVDR_DISPATCH(Inverse, (TMvdrStft * it, const TMvdrSpectrum* in), (it, in))

}  // namespace

void MvdrStft_Init(TMvdrStft* it, uint32_t n) {
  it->n = n;
  it->half = n / 2;
  const uint32_t M = it->half;
  const double pi = 3.14159265358979323846;
  for (uint32_t i = 0; i < n; i++) it->window[i] = (float)sin(pi * i / n);  // sqrt of the periodic Hann
  for (uint32_t h = 1; h < M; h *= 2)
    for (uint32_t j = 0; j < h; j++) {
      it->twRe[h - 1 + j] = (float)cos(pi * j / h);
      it->twIm[h - 1 + j] = (float)-sin(pi * j / h);
    }
  for (uint32_t k = 0; k <= M; k++) {
    it->rotRe[k] = (float)cos(2.0 * pi * k / n);
    it->rotIm[k] = (float)-sin(2.0 * pi * k / n);
  }
  uint32_t bits = 0;
  while ((1u << bits) < M) bits++;
  for (uint32_t m = 0; m < M; m++) {
    uint32_t r = 0;
    for (uint32_t b = 0; b < bits; b++) r |= ((m >> b) & 1u) << (bits - 1 - b);
    it->bitrev[m] = (uint16_t)r;
  }
  MvdrStft_Reset(it);
}

void MvdrStft_Reset(TMvdrStft* it) {
  memset(it->history, 0, sizeof it->history);
  memset(it->overlap, 0, sizeof it->overlap);
}

void MvdrStft_Analyse(TMvdrStft* it, uint32_t ch, const float* hop, TMvdrSpectrum* spectrum) {
  const uint32_t N = it->n, M = it->half;
  float* h = it->history[ch];
  memmove(h, h + M, M * sizeof *h);
  memcpy(h + M, hop, M * sizeof *h);
  for (uint32_t i = 0; i < N; i++) it->frame[i] = h[i] * it->window[i];
  Forward(it, spectrum);
}

void MvdrStft_Synthesise(TMvdrStft* it, const TMvdrSpectrum* spectrum, float* hop) {
  const uint32_t N = it->n, M = it->half;
  Inverse(it, spectrum);
  for (uint32_t i = 0; i < N; i++) it->overlap[i] += it->frame[i] * it->window[i];
  memcpy(hop, it->overlap, M * sizeof *hop);
  memmove(it->overlap, it->overlap + M, M * sizeof *hop);
  memset(it->overlap + M, 0, M * sizeof *hop);
}
