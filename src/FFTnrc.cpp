// Packed real FFT: a real frame of N samples is transformed as N/2 complex
// points by a half-length complex FFT, then split into the half spectrum of
// the real frame. All cosines, sines and bit-reversal exchanges come from the
// constant tables; nothing is computed with a trigonometric call at run time.
#include "FFTnrc.h"

#include <cmath>

#include "fastmath.h"

#include "fix.h"

namespace {

// Single-precision constants of the transform and of the phase rule.
const mfloat kHalfSqrt2 = 0.70710677f;  // sqrt(1/2), the span-8 twiddle
const mfloat kPi = 3.1415927f;
const mfloat kHalfPi = 1.5707964f;
const mfloat kTwoPi = 6.2831855f;

// Where each supported length's segments start in the two tables.
struct TSegment {
  uint32 nfft;
  int16 offset_cs;
  int16 offset_sw;
};
const TSegment kSegments[] = {
    {256, 0, 0},
    {512, 65, 128},
    {1024, 194, 384},
};

// Radix-2 butterfly on complex points a and b, t being the twiddled b:
// b becomes a - t, a becomes a + t.
inline void Butterfly(mfloat* a, mfloat* b, mfloat tr, mfloat ti) {
  b[0] = a[0] - tr;
  b[1] = a[1] - ti;
  a[0] = a[0] + tr;
  a[1] = a[1] + ti;
}

// Phases of n bins between -pi/2 and 3*pi/2: the arctangent of the
// single-precision quotient im/re, moved by half a turn for a negative real
// part; a zero real part gives +-pi/2 (its quotient is not used).
void Phases(const mfloat* re, const mfloat* im, mfloat* F, uint32 n) {
  float q[kMaxBins];
  for (uint32 k = 0; k < n; k++) q[k] = re[k] == 0.0f ? 0.0f : im[k] / re[k];
  FastMath_atan(q, F, n);
  for (uint32 k = 0; k < n; k++) {
    if (re[k] == 0.0f)
      F[k] = im[k] > 0.0f ? kHalfPi : -kHalfPi;
    else if (re[k] < 0.0f)
      F[k] = F[k] + kPi;
  }
}

mfloat Magnitude(mfloat re, mfloat im) { return sqrtf(re * re + im * im); }

}  // namespace

void FFTnRC_Init(TFFTnRC* it, uint32 nfft) {
  it->nfft = nfft;
  for (const TSegment& s : kSegments) {
    if (s.nfft == nfft) {
      it->offset_cs = s.offset_cs;
      it->offset_sw = s.offset_sw;
    }
  }
}

void FFTnRC_Destroyed(TFFTnRC* it) { (void)it; }

// Unscaled in-place complex FFT of the N/2 points (p[2n], p[2n+1]), kernel
// e^(-j*2*pi*n*k/(N/2)), radix-2 decimation in time.
static void e_minus_jwt(TFFTnRC* it, mfloat* p) {
  const uint32 n = it->nfft;
  const uint32 half = n / 2;  // complex points
  const mfloat* cs = m_arCosTable32f + it->offset_cs;
  const uint16* swap = m_adwSwapTab + it->offset_sw;

  // Bit-reversed order, so that the butterflies work on neighbours.
  for (uint32 i = 0; i < half; i++) {
    const uint32 q = swap[i];
    if (q != 0) {
      const mfloat re = p[2 * i], im = p[2 * i + 1];
      p[2 * i] = p[q];
      p[2 * i + 1] = p[q + 1];
      p[q] = re;
      p[q + 1] = im;
    }
  }

  // The first three stages have trivial twiddles (1, -j, and the 45 degree
  // multiples), so they are written out without the table.
  for (mfloat* z = p; z < p + n; z += 4) Butterfly(z, z + 2, z[2], z[3]);

  for (mfloat* z = p; z < p + n; z += 8) {
    Butterfly(z, z + 4, z[4], z[5]);
    Butterfly(z + 2, z + 6, z[7], -z[6]);  // weight -j
  }

  for (mfloat* z = p; z < p + n; z += 16) {
    Butterfly(z, z + 8, z[8], z[9]);
    const mfloat* b1 = z + 10;  // weight h*(1 - j)
    Butterfly(z + 2, z + 10, kHalfSqrt2 * (b1[0] + b1[1]), kHalfSqrt2 * (b1[1] - b1[0]));
    Butterfly(z + 4, z + 12, z[13], -z[12]);  // weight -j
    const mfloat* b3 = z + 14;  // weight -h*(1 + j)
    Butterfly(z + 6, z + 14, -(kHalfSqrt2 * (b3[0] - b3[1])), -(kHalfSqrt2 * (b3[0] + b3[1])));
  }

  // Table-driven stages, half span h points. The twiddle e^(-j*2*pi*k/N) of
  // position j is fetched once and applied to every group.
  const uint32 quarter = n / 4;
  for (uint32 h = 8; h <= quarter; h *= 2) {
    for (uint32 j = 0; j < h; j++) {
      const uint32 k = j * n / (2 * h);
      const mfloat c = k <= quarter ? cs[k] : -cs[half - k];
      const mfloat s = k <= quarter ? cs[quarter - k] : cs[k - quarter];
      for (uint32 g = 0; g < half; g += 2 * h) {
        mfloat* a = p + 2 * (g + j);
        mfloat* b = a + 2 * h;
        Butterfly(a, b, c * b[0] + s * b[1], c * b[1] - s * b[0]);
      }
    }
  }
}

// Split step and halving shared by both directions. Forward: the half-length
// spectrum Z of the even/odd interleaved samples is separated into the
// spectra of the even and odd samples, which are recombined with the
// twiddle e^(-j*2*pi*k/N) into bins k and N/2 - k of the real spectrum (times
// two, hence the halving). Inverse (s = -1): the same identity run backwards
// rebuilds Z from the packed spectrum. Bin N/4 pairs with itself and only
// needs conjugating; DC and Nyquist are left to the caller.
static void split_halve(TFFTnRC* it, mfloat* p, int isign) {
  const uint32 n = it->nfft;
  const uint32 quarter = n / 4;
  const mfloat* cs = m_arCosTable32f + it->offset_cs;
  const mfloat s = (mfloat)isign;

  for (uint32 k = 1; k < quarter; k++) {
    const uint32 m = n / 2 - k;
    const mfloat ak = p[2 * k], bk = p[2 * k + 1];
    const mfloat am = p[2 * m], bm = p[2 * m + 1];
    const mfloat sr = ak + am, dr = ak - am, si = bk + bm, di = bk - bm;
    const mfloat u = s * cs[k], v = cs[quarter - k];
    const mfloat t1 = u * si - v * dr;
    const mfloat t2 = u * dr + v * si;
    p[2 * k] = sr + t1;
    p[2 * k + 1] = s * (di - t2);
    p[2 * m] = sr - t1;
    p[2 * m + 1] = s * (-di - t2);
  }

  for (uint32 i = 0; i < n; i++) p[i] = p[i] * 0.5f;

  p[n / 2] = p[n / 2] * 2.0f;
  p[n / 2 + 1] = p[n / 2 + 1] * (-2.0f * s);
}

void FFTnRC_fft(TFFTnRC* it, mfloat* p, int isign) {
  const uint32 n = it->nfft;
  if (isign == 1) {
    e_minus_jwt(it, p);
    split_halve(it, p, isign);
    // Z[0] = E[0] + j*O[0]: DC is E[0] + O[0], Nyquist E[0] - O[0].
    const mfloat p0 = p[0], p1 = p[1];
    p[0] = 2.0f * (p0 + p1);
    p[1] = -2.0f * (p1 - p0);
  } else {
    split_halve(it, p, isign);
    // Rebuild Z[0] = (DC + Nyquist)/2 + j*(DC - Nyquist)/2 from the halves.
    const mfloat p0 = p[0], p1 = p[1];
    p[0] = p0 + p1;
    p[1] = p1 - p0;
    // The inverse kernel e^(+j) through the forward one: conj(FFT(conj Z)),
    // the input conjugation being folded into the split step's sign.
    e_minus_jwt(it, p);
    for (uint32 i = 1; i < n; i += 2) p[i] = -p[i];
    const mfloat scale = 2.0f / (mfloat)n;  // 1/N, times 2 for the halving
    for (uint32 i = 0; i < n; i++) p[i] = p[i] * scale;
  }
}

void FFTnRC_fftbuf2xy(TFFTnRC* it, mfloat* fftbuf, mfloat* x, mfloat* y) {
  const uint32 half = it->nfft / 2;
  x[0] = fftbuf[0];
  y[0] = 0.0f;
  for (uint32 k = 1; k < half; k++) {
    x[k] = fftbuf[2 * k];
    y[k] = fftbuf[2 * k + 1];
  }
  x[half] = fftbuf[1];
  y[half] = 0.0f;
}

void FFTnRC_xy2fftbuf(TFFTnRC* it, mfloat* x, mfloat* y, mfloat* fftbuf) {
  const uint32 half = it->nfft / 2;
  fftbuf[0] = x[0];
  fftbuf[1] = x[half];
  for (uint32 k = 1; k < half; k++) {
    fftbuf[2 * k] = x[k];
    fftbuf[2 * k + 1] = y[k];
  }
}

// DC and Nyquist are real in the packed buffer: their magnitude is the
// absolute value and their phase that of a zero imaginary part.
void FFTnRC_fftbuf2R(TFFTnRC* it, mfloat* fftbuf, mfloat* R) {
  const uint32 half = it->nfft / 2;
  R[0] = fabsf(fftbuf[0]);
  for (uint32 k = 1; k < half; k++) R[k] = Magnitude(fftbuf[2 * k], fftbuf[2 * k + 1]);
  R[half] = fabsf(fftbuf[1]);
}

void FFTnRC_fftbuf2F(TFFTnRC* it, mfloat* fftbuf, mfloat* F) {
  const uint32 half = it->nfft / 2;
  float x[kMaxBins], y[kMaxBins];
  FFTnRC_fftbuf2xy(it, fftbuf, x, y);
  Phases(x, y, F, half + 1);
}

void FFTnRC_fftbuf2RF(TFFTnRC* it, mfloat* fftbuf, mfloat* R, mfloat* F) {
  FFTnRC_fftbuf2R(it, fftbuf, R);
  FFTnRC_fftbuf2F(it, fftbuf, F);
}

void FFTnRC_xy2R(TFFTnRC* it, mfloat* x, mfloat* y, mfloat* R) {
  const uint32 bins = it->nfft / 2 + 1;
  for (uint32 k = 0; k < bins; k++) R[k] = Magnitude(x[k], y[k]);
}

void FFTnRC_xy2F(TFFTnRC* it, mfloat* x, mfloat* y, mfloat* F) { Phases(x, y, F, it->nfft / 2 + 1); }

void FFTnRC_xy2RF(TFFTnRC* it, mfloat* x, mfloat* y, mfloat* R, mfloat* F) {
  FFTnRC_xy2R(it, x, y, R);
  FFTnRC_xy2F(it, x, y, F);
}

void FFTnRC_RF2xy(TFFTnRC* it, mfloat* R, mfloat* F, mfloat* x, mfloat* y) {
  const uint32 bins = it->nfft / 2 + 1;
  float c[kMaxBins], s[kMaxBins];
  FastMath_sincos(F, c, s, bins);
  for (uint32 k = 0; k < bins; k++) {
    x[k] = R[k] * c[k];
    y[k] = R[k] * s[k];
  }
}

// DC and Nyquist keep only their real part R*cos(F).
void FFTnRC_RF2fftbuf(TFFTnRC* it, mfloat* R, mfloat* F, mfloat* fftbuf) {
  float x[kMaxBins], y[kMaxBins];
  FFTnRC_RF2xy(it, R, F, x, y);
  FFTnRC_xy2fftbuf(it, x, y, fftbuf);
}

// Hann window sampled at half-sample offsets, so neither end is zero and
// four copies shifted by len/4 add up to a constant.
void FFTnRC_channing(uint32 len, mfloat* Wh) {
  for (uint32 i = len; i-- > 0;) {
    const mfloat arg = ((mfloat)i + 0.5f) * kTwoPi / (mfloat)len;
    Wh[i] = 0.5f - 0.5f * (mfloat)cos((double)arg);
  }
}

// Powers from 2^31 up do not fit the integer root's 32-bit argument.
const mfloat kFixPowerLimit = 2147483648.0f;
const int32 kFixMaxPower = 2147483647;

// Whole-number magnitudes: the integer square root of the power truncated
// toward zero (saturated where it leaves the 32-bit range).
void FFTnRC_xy2R_fix(TFFTnRC* it, mfloat* x, mfloat* y, mfloat* R) {
  const uint32 bins = it->nfft / 2 + 1;
  for (uint32 k = 0; k < bins; k++) {
    const mfloat s = x[k] * x[k] + y[k] * y[k];
    const int32 power = s >= kFixPowerLimit ? kFixMaxPower : (s >= 1.0f ? (int32)s : 0);
    R[k] = (mfloat)L_Sqrt32(power);
  }
}
