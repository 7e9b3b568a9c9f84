// Short-time analysis and synthesis: windows, the real transform and its
// inverse, overlap-add.
#include "mvdr_stft.h"

#include <math.h>
#include <string.h>

#include "mvdr_isa.h"

namespace {

// Complex transform in place on zRe, zIm, input in bit-reversed order,
// output in natural order. The first three stages (twiddles 1, -i and the
// eighth roots of unity) run as one radix-8 pass in registers; the later
// stages' butterflies, eight or more per block, vectorise.
MVDR_INLINE void Transform(TMvdrStft* it) {
  float* re = it->zRe;
  float* im = it->zIm;
  const uint32_t M = it->half;
  const float c = 0.707106781f;  // cos(pi/4)
  for (uint32_t k = 0; k < M; k += 8) {
    float r[8], i[8];
    for (int j = 0; j < 8; j += 2) {  // half span 1
      r[j] = re[k + j] + re[k + j + 1], i[j] = im[k + j] + im[k + j + 1];
      r[j + 1] = re[k + j] - re[k + j + 1], i[j + 1] = im[k + j] - im[k + j + 1];
    }
    for (int j = 0; j < 8; j += 4) {  // half span 2: twiddles 1, -i
      const float ar = r[j], ai = i[j], br = r[j + 1], bi = i[j + 1];
      const float cr = r[j + 2], ci = i[j + 2], dr = r[j + 3], di = i[j + 3];
      r[j] = ar + cr, i[j] = ai + ci, r[j + 2] = ar - cr, i[j + 2] = ai - ci;
      r[j + 1] = br + di, i[j + 1] = bi - dr, r[j + 3] = br - di, i[j + 3] = bi + dr;
    }
    // half span 4: twiddles 1, (1 - i)/sqrt 2, -i, (-1 - i)/sqrt 2
    const float t1r = c * (r[5] + i[5]), t1i = c * (i[5] - r[5]);
    const float t2r = i[6], t2i = -r[6];
    const float t3r = c * (i[7] - r[7]), t3i = -c * (r[7] + i[7]);
    re[k] = r[0] + r[4], im[k] = i[0] + i[4], re[k + 4] = r[0] - r[4], im[k + 4] = i[0] - i[4];
    re[k + 1] = r[1] + t1r, im[k + 1] = i[1] + t1i, re[k + 5] = r[1] - t1r, im[k + 5] = i[1] - t1i;
    re[k + 2] = r[2] + t2r, im[k + 2] = i[2] + t2i, re[k + 6] = r[2] - t2r, im[k + 6] = i[2] - t2i;
    re[k + 3] = r[3] + t3r, im[k + 3] = i[3] + t3i, re[k + 7] = r[3] - t3r, im[k + 7] = i[3] - t3i;
  }
  for (uint32_t h = 8; h < M; h *= 2) {
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
MVDR_INLINE void Forward_Body(TMvdrStft* __restrict it, TMvdrSpectrum* __restrict out) {
  const uint32_t M = it->half;
  for (uint32_t m = 0; m < M; m++) {
    const uint32_t src = 2u * it->bitrev[m];
    it->zRe[m] = it->frame[src];
    it->zIm[m] = it->frame[src + 1];
  }
  Transform(it);
  const float* __restrict zr = it->zRe;
  const float* __restrict zi = it->zIm;
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
MVDR_DISPATCH(Forward, (TMvdrStft* __restrict it, TMvdrSpectrum* __restrict out), (it, out))

// Bins 0..M -> frame: E = (X[k] + conj X[M-k]) / 2, O = (X[k] - conj X[M-k]) / 2
// e^(2 pi i k/N), Z = E + i O; z = conj(transform(conj Z)) / M.
MVDR_INLINE void Inverse_Body(TMvdrStft* __restrict it, const TMvdrSpectrum* __restrict in) {
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
MVDR_DISPATCH(Inverse, (TMvdrStft* __restrict it, const TMvdrSpectrum* __restrict in), (it, in))

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
