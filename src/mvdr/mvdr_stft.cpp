// Short-time analysis and synthesis: windows, the real transform and its
// inverse, overlap-add.
#include "mvdr_stft.h"

#include <math.h>
#include <string.h>

#include "mvdr_isa.h"

namespace {

// Complex transform in place on zRe, zIm (M points, natural order in and
// out), decimation in time.
//
// The first three stages (twiddles 1, -i and the eighth roots of unity) form
// an 8-point transform of the points z[i + t L], t = 0..7, L = M/8, for each
// i: it runs over i, eight streams in and eight out, so that it vectorises.
// Its outputs are the bit-reversed order's blocks: block rev(i) (rev the
// bit reversal over log2 L bits) holds the eight of i. The copy into that
// order is the transform's only pass that does not vectorise. The later
// stages combine blocks in place, two stages (radix 4) per pass over the
// data where the count allows.
MVDR_INLINE void Transform(TMvdrStft* __restrict it) {
  float* __restrict re = it->zRe;
  float* __restrict im = it->zIm;
  float* __restrict tr = it->tRe;
  float* __restrict ti = it->tIm;
  const uint32_t M = it->half, L = M / 8;
  const float c = 0.707106781f;  // cos(pi/4)
  // The butterflies' inputs and outputs never overlap within a loop (ivdep:
  // the pointers into one record would otherwise cost more run-time alias
  // checks than the vectoriser makes).
#pragma GCC ivdep
  for (uint32_t i = 0; i < L; i++) {
    // Inputs in bit-reversed order of t, so that the butterflies below are
    // the three stages of a decimation in time.
    float r[8] = {re[i],     re[i + 4 * L], re[i + 2 * L], re[i + 6 * L],
                  re[i + L], re[i + 5 * L], re[i + 3 * L], re[i + 7 * L]};
    float q[8] = {im[i],     im[i + 4 * L], im[i + 2 * L], im[i + 6 * L],
                  im[i + L], im[i + 5 * L], im[i + 3 * L], im[i + 7 * L]};
    for (int j = 0; j < 8; j += 2) {  // half span 1
      const float ar = r[j], ai = q[j];
      r[j] = ar + r[j + 1], q[j] = ai + q[j + 1];
      r[j + 1] = ar - r[j + 1], q[j + 1] = ai - q[j + 1];
    }
    for (int j = 0; j < 8; j += 4) {  // half span 2: twiddles 1, -i
      const float ar = r[j], ai = q[j], br = r[j + 1], bi = q[j + 1];
      const float cr = r[j + 2], ci = q[j + 2], dr = r[j + 3], di = q[j + 3];
      r[j] = ar + cr, q[j] = ai + ci, r[j + 2] = ar - cr, q[j + 2] = ai - ci;
      r[j + 1] = br + di, q[j + 1] = bi - dr, r[j + 3] = br - di, q[j + 3] = bi + dr;
    }
    // half span 4: twiddles 1, (1 - i)/sqrt 2, -i, (-1 - i)/sqrt 2
    const float t1r = c * (r[5] + q[5]), t1i = c * (q[5] - r[5]);
    const float t2r = q[6], t2i = -r[6];
    const float t3r = c * (q[7] - r[7]), t3i = -c * (r[7] + q[7]);
    tr[i] = r[0] + r[4], ti[i] = q[0] + q[4], tr[4 * L + i] = r[0] - r[4], ti[4 * L + i] = q[0] - q[4];
    tr[L + i] = r[1] + t1r, ti[L + i] = q[1] + t1i, tr[5 * L + i] = r[1] - t1r, ti[5 * L + i] = q[1] - t1i;
    tr[2 * L + i] = r[2] + t2r, ti[2 * L + i] = q[2] + t2i, tr[6 * L + i] = r[2] - t2r, ti[6 * L + i] = q[2] - t2i;
    tr[3 * L + i] = r[3] + t3r, ti[3 * L + i] = q[3] + t3i, tr[7 * L + i] = r[3] - t3r, ti[7 * L + i] = q[3] - t3i;
  }
  for (uint32_t i = 0; i < L; i++) {
    const uint32_t block = 8u * it->bitrev[i];
    for (uint32_t j = 0; j < 8; j++) re[block + j] = tr[j * L + i], im[block + j] = ti[j * L + i];
  }
  // Two stages at once, half spans h and 2h: the quarters a, b, c, d of each
  // span of 4h; b and d turn by w1 = e^(-i pi j/h), then c' and d' by
  // w2 = e^(-i pi j/2h) (and d' by a further -i, its twiddle being j + h).
  uint32_t h = 8;
  for (; 4 * h <= M; h *= 4) {
    const float* __restrict w1r = it->twRe + h - 1;
    const float* __restrict w1i = it->twIm + h - 1;
    const float* __restrict w2r = it->twRe + 2 * h - 1;
    const float* __restrict w2i = it->twIm + 2 * h - 1;
    for (uint32_t k = 0; k < M; k += 4 * h) {
      float* __restrict ar = re + k;
      float* __restrict ai = im + k;
      float* __restrict br = re + k + h;
      float* __restrict bi = im + k + h;
      float* __restrict cr = re + k + 2 * h;
      float* __restrict ci = im + k + 2 * h;
      float* __restrict dr = re + k + 3 * h;
      float* __restrict di = im + k + 3 * h;
#pragma GCC ivdep
      for (uint32_t j = 0; j < h; j++) {
        const float ubr = br[j] * w1r[j] - bi[j] * w1i[j], ubi = br[j] * w1i[j] + bi[j] * w1r[j];
        const float udr = dr[j] * w1r[j] - di[j] * w1i[j], udi = dr[j] * w1i[j] + di[j] * w1r[j];
        const float a1r = ar[j] + ubr, a1i = ai[j] + ubi, b1r = ar[j] - ubr, b1i = ai[j] - ubi;
        const float c1r = cr[j] + udr, c1i = ci[j] + udi, d1r = cr[j] - udr, d1i = ci[j] - udi;
        const float vcr = c1r * w2r[j] - c1i * w2i[j], vci = c1r * w2i[j] + c1i * w2r[j];
        const float vdr = d1i * w2r[j] + d1r * w2i[j], vdi = d1i * w2i[j] - d1r * w2r[j];  // -i w2 d1
        ar[j] = a1r + vcr, ai[j] = a1i + vci, cr[j] = a1r - vcr, ci[j] = a1i - vci;
        br[j] = b1r + vdr, bi[j] = b1i + vdi, dr[j] = b1r - vdr, di[j] = b1i - vdi;
      }
    }
  }
  if (2 * h <= M) {  // a last single stage, half span M/2
    const float* __restrict wr = it->twRe + h - 1;
    const float* __restrict wi = it->twIm + h - 1;
    float* __restrict br = re + h;
    float* __restrict bi = im + h;
#pragma GCC ivdep
    for (uint32_t j = 0; j < h; j++) {
      const float ur = br[j] * wr[j] - bi[j] * wi[j], ui = br[j] * wi[j] + bi[j] * wr[j];
      br[j] = re[j] - ur, bi[j] = im[j] - ui;
      re[j] = re[j] + ur, im[j] = im[j] + ui;
    }
  }
}

// Windowed frame of channel ch -> bins 0..M. With Z the transform of
// z[m] = x[2m] + i x[2m+1], the even samples' transform is
// E = (Z[k] + conj Z[M-k]) / 2, the odd samples' O = -i (Z[k] - conj Z[M-k]) / 2,
// and X[k] = E + e^(-2 pi i k/N) O.
MVDR_INLINE void Analyse_Body(TMvdrStft* __restrict it, uint32_t ch, TMvdrSpectrum* __restrict out) {
  const uint32_t M = it->half;
  const float* __restrict x = it->history[ch];
  const float* __restrict w = it->window;
  for (uint32_t m = 0; m < M; m++) {
    it->zRe[m] = x[2 * m] * w[2 * m];
    it->zIm[m] = x[2 * m + 1] * w[2 * m + 1];
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
MVDR_DISPATCH(Analyse, (TMvdrStft* __restrict it, uint32_t ch, TMvdrSpectrum* __restrict out), (it, ch, out))

// Bins 0..M -> windowed frame added to the overlap: E = (X[k] + conj X[M-k]) / 2,
// O = (X[k] - conj X[M-k]) / 2 e^(2 pi i k/N), Z = E + i O; z = conj(transform(conj Z)) / M.
MVDR_INLINE void Synthesise_Body(TMvdrStft* __restrict it, const TMvdrSpectrum* __restrict in) {
  const uint32_t M = it->half;
  const float scale = 1.0f / (float)M;
  for (uint32_t k = 0; k < M; k++) {
    const float br = in->re[M - k], bi = -in->im[M - k];
    const float er = 0.5f * (in->re[k] + br), ei = 0.5f * (in->im[k] + bi);
    const float dr = 0.5f * (in->re[k] - br), di = 0.5f * (in->im[k] - bi);
    const float orr = it->rotRe[k] * dr + it->rotIm[k] * di;  // times the conjugate rotation
    const float oi = it->rotRe[k] * di - it->rotIm[k] * dr;
    it->zRe[k] = er - oi;
    it->zIm[k] = -(ei + orr);
  }
  Transform(it);
  float* __restrict sum = it->overlap;
  const float* __restrict w = it->window;
  for (uint32_t m = 0; m < M; m++) {
    sum[2 * m] += it->zRe[m] * scale * w[2 * m];
    sum[2 * m + 1] += -it->zIm[m] * scale * w[2 * m + 1];
  }
}
MVDR_DISPATCH(Synthesise, (TMvdrStft* __restrict it, const TMvdrSpectrum* __restrict in), (it, in))

}  // namespace

void MvdrStft_Init(TMvdrStft* it, uint32_t n) {
  it->n = n;
  it->half = n / 2;
  const uint32_t M = it->half, L = M / 8;
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
  while ((1u << bits) < L) bits++;
  for (uint32_t i = 0; i < L; i++) {
    uint32_t r = 0;
    for (uint32_t b = 0; b < bits; b++) r |= ((i >> b) & 1u) << (bits - 1 - b);
    it->bitrev[i] = (uint16_t)r;
  }
  MvdrStft_Reset(it);
}

void MvdrStft_Reset(TMvdrStft* it) {
  memset(it->history, 0, sizeof it->history);
  memset(it->overlap, 0, sizeof it->overlap);
}

void MvdrStft_Analyse(TMvdrStft* it, uint32_t ch, const float* hop, TMvdrSpectrum* spectrum) {
  const uint32_t M = it->half;
  float* h = it->history[ch];
  memmove(h, h + M, M * sizeof *h);
  memcpy(h + M, hop, M * sizeof *h);
  Analyse(it, ch, spectrum);
}

void MvdrStft_Synthesise(TMvdrStft* it, const TMvdrSpectrum* spectrum, float* hop) {
  const uint32_t M = it->half;
  Synthesise(it, spectrum);
  memcpy(hop, it->overlap, M * sizeof *hop);
  memmove(it->overlap, it->overlap + M, M * sizeof *hop);
  memset(it->overlap + M, 0, M * sizeof *hop);
}
