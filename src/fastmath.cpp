// Fast double-precision arc tangents, cosines and sines rounded to single
// precision, exactly as the C library's results round.
//
// Why every float is the library's: let y be the exact value, L the library's
// double result and A the fast one, with |L - y| <= EL and |A - y| <= EA.
// Rounding to float is monotonic, so if A - E and A + E round to the same
// float for some E >= EA + EL, so does every value between them, L included.
// Otherwise the element is evaluated by the library. The C library's atan,
// atan2, cos and sin are within one double ulp (EL <= 2^-52 |y|); the margins
// E below are many times EA + EL, so that neither bound has to be tight, and
// still so small that the library is called for a tiny share of arguments.
//
// Both evaluations start from a table point c = i/32 near the argument, so
// that short polynomials suffice, and use SSE2 on two doubles at a time
// (float division for the table index, four at a time).
#include "fastmath.h"

#include <emmintrin.h>
#include <math.h>

namespace {

typedef __m128d Pair;  // two double lanes

// Arc tangent: atan(a/b) for 0 <= a <= b is atan(c) + atan(t) with
// t = (a - c*b) / (b + c*a). Both a and b are floats and c*b, c*a have at
// most 30 significant bits, so numerator and denominator are exact in double
// and t carries one rounding (2^-53 relative). With c the grid point nearest
// a/b, |t| <= tan(1/64) < 2^-5.99, and atan(t) = t - t^3/3 + t^5/5 - t^7/7
// leaves out at most t^9/9 (2^-51 relative). Adding atan(c) (a nearest
// double) and folding into the other octants (pi/2 - r, pi - r, with r >= 0
// and results there >= pi/4) keeps the whole error below 2^-48 |y|: the
// margin 2^-40 |A| exceeds EA + EL more than a hundredfold.
const double kAtanMargin = 0x1p-40;
const double kAtan3 = -1.0 / 3.0, kAtan5 = 1.0 / 5.0, kAtan7 = -1.0 / 7.0;
const double kHalfPi = 1.5707963267948966;
const double kPi = 3.141592653589793;

// Cosine and sine: |x| = c + r with r exact and |r| <= 1/64; cos and sin of
// |x| follow from the table values of c (each within 2^-54) and
// cos r - 1 = -r^2/2 + r^4/24 - r^6/720 (omits r^8/8!, 2^-63) and
// sin r = r - r^3/6 + r^5/120 (omits r^7/7!, 2^-54.3) through the addition
// theorems. Rounding of the few operations adds at most 2^-52.9, so
// EA <= 2^-51 and EA + EL <= 2^-50: the absolute margin 2^-44 is 64 times
// that. Arguments beyond the table (|x| > 8, infinities, NaN) go to the library.
const double kCosSinMargin = 0x1p-44;
const double kCosSinLimit = (double)(kFastMathCosSinPoints - 1) / kFastMathGrid;
const double kCos2 = -1.0 / 2.0, kCos4 = 1.0 / 24.0, kCos6 = -1.0 / 720.0;
const double kSin3 = -1.0 / 6.0, kSin5 = 1.0 / 120.0;

inline Pair Splat(double v) { return _mm_set1_pd(v); }
inline Pair SignBit() { return _mm_set1_pd(-0.0); }
// mask ? a : b, lane by lane (mask lanes all ones or all zeros)
inline Pair Select(Pair mask, Pair a, Pair b) { return _mm_or_pd(_mm_and_pd(mask, a), _mm_andnot_pd(mask, b)); }

// Four floats of x from index i; a short tail is filled with zeros, which
// every function here evaluates without the library.
inline __m128 Load4(const mfloat* x, uint32 i, uint32 n) {
  if (i + 4 <= n) return _mm_loadu_ps(x + i);
  float tail[4] = {0.0f, 0.0f, 0.0f, 0.0f};
  for (uint32 k = 0; i + k < n; k++) tail[k] = x[i + k];
  return _mm_loadu_ps(tail);
}

inline void Store4(mfloat* y, uint32 i, uint32 n, __m128 v) {
  if (i + 4 <= n) {
    _mm_storeu_ps(y + i, v);
    return;
  }
  float tail[4];
  _mm_storeu_ps(tail, v);
  for (uint32 k = 0; i + k < n; k++) y[i + k] = tail[k];
}

// The lanes of four floats as two pairs of doubles (exact).
inline Pair Low(__m128 v) { return _mm_cvtps_pd(v); }
inline Pair High(__m128 v) { return _mm_cvtps_pd(_mm_movehl_ps(v, v)); }

// Rounds the fast results of two pairs to four floats; bit k of *unsure is
// set where A - E and A + E round differently (or A is NaN).
inline __m128 Round(Pair a0, Pair e0, Pair a1, Pair e1, int* unsure) {
  const __m128 lo = _mm_movelh_ps(_mm_cvtpd_ps(_mm_sub_pd(a0, e0)), _mm_cvtpd_ps(_mm_sub_pd(a1, e1)));
  const __m128 hi = _mm_movelh_ps(_mm_cvtpd_ps(_mm_add_pd(a0, e0)), _mm_cvtpd_ps(_mm_add_pd(a1, e1)));
  *unsure = _mm_movemask_ps(_mm_cmpneq_ps(lo, hi));
  return _mm_movelh_ps(_mm_cvtpd_ps(a0), _mm_cvtpd_ps(a1));
}

// Table indices round(32 * a/b), clamped to 0 .. 32 (a 0/0 gives 0), for
// four lanes with 0 <= a <= b.
inline void AtanIndex(__m128 a, __m128 b, int idx[4]) {
  __m128 ratio = _mm_max_ps(_mm_div_ps(a, b), _mm_setzero_ps());  // NaN becomes 0
  ratio = _mm_min_ps(ratio, _mm_set1_ps(1.0f));
  _mm_storeu_si128((__m128i*)idx, _mm_cvtps_epi32(_mm_mul_ps(ratio, _mm_set1_ps((float)kFastMathGrid))));
}

// atan(a/b) for two lanes with 0 <= a <= b (0 for a = b = 0), table indices i0, i1.
inline Pair AtanRatio(Pair a, Pair b, int i0, int i1) {
  const Pair c = _mm_mul_pd(_mm_set_pd((double)i1, (double)i0), Splat(1.0 / kFastMathGrid));
  const Pair atanc = _mm_set_pd(m_arAtanTable64f[i1], m_arAtanTable64f[i0]);
  const Pair num = _mm_sub_pd(a, _mm_mul_pd(c, b));
  Pair den = _mm_add_pd(b, _mm_mul_pd(c, a));
  den = Select(_mm_cmpeq_pd(den, _mm_setzero_pd()), Splat(1.0), den);  // 0/0: t = 0
  const Pair t = _mm_div_pd(num, den);
  const Pair z = _mm_mul_pd(t, t);
  Pair p = _mm_add_pd(Splat(kAtan5), _mm_mul_pd(z, Splat(kAtan7)));
  p = _mm_add_pd(Splat(kAtan3), _mm_mul_pd(z, p));
  p = _mm_add_pd(t, _mm_mul_pd(t, _mm_mul_pd(z, p)));
  return _mm_add_pd(atanc, p);
}

// The angle of the point (x, y) from r = atan(min/max) of |x|, |y|: mirrored
// at pi/4 when |y| > |x| (swap), at pi/2 when x is negative (xneg), and
// given y's sign.
inline Pair Octant(Pair r, Pair swap, Pair xneg, Pair ysign) {
  r = Select(swap, _mm_sub_pd(Splat(kHalfPi), r), r);
  r = Select(xneg, _mm_sub_pd(Splat(kPi), r), r);
  return _mm_xor_pd(r, ysign);
}

inline Pair AtanMargin(Pair r) { return _mm_mul_pd(_mm_andnot_pd(SignBit(), r), Splat(kAtanMargin)); }

// cos and sin of |x| for two lanes within the table, table indices i0, i1.
inline void CosSinAbs(Pair ax, int i0, int i1, Pair* cosx, Pair* sinx) {
  const Pair c0 = _mm_loadu_pd(m_arCosSinTable64f[i0]);  // cos, sin of lane 0's grid point
  const Pair c1 = _mm_loadu_pd(m_arCosSinTable64f[i1]);
  const Pair C = _mm_unpacklo_pd(c0, c1), S = _mm_unpackhi_pd(c0, c1);
  const Pair r = _mm_sub_pd(ax, _mm_mul_pd(_mm_set_pd((double)i1, (double)i0), Splat(1.0 / kFastMathGrid)));
  const Pair z = _mm_mul_pd(r, r);
  Pair cm = _mm_add_pd(Splat(kCos4), _mm_mul_pd(z, Splat(kCos6)));
  cm = _mm_mul_pd(z, _mm_add_pd(Splat(kCos2), _mm_mul_pd(z, cm)));  // cos r - 1
  Pair sr = _mm_add_pd(Splat(kSin3), _mm_mul_pd(z, Splat(kSin5)));
  sr = _mm_add_pd(r, _mm_mul_pd(r, _mm_mul_pd(z, sr)));  // sin r
  *cosx = _mm_add_pd(C, _mm_sub_pd(_mm_mul_pd(C, cm), _mm_mul_pd(S, sr)));
  *sinx = _mm_add_pd(S, _mm_add_pd(_mm_mul_pd(S, cm), _mm_mul_pd(C, sr)));
}

// |x| clamped into the table (NaN becomes the limit) and the table indices
// of four lanes; *outside flags the lanes beyond the table.
inline __m128 CosSinReduce(__m128 x, int idx[4], int* outside) {
  const __m128 ax = _mm_andnot_ps(_mm_set1_ps(-0.0f), x);
  const __m128 limit = _mm_set1_ps((float)kCosSinLimit);
  *outside = _mm_movemask_ps(_mm_cmpnle_ps(ax, limit));
  const __m128 clamped = _mm_min_ps(ax, limit);
  _mm_storeu_si128((__m128i*)idx, _mm_cvtps_epi32(_mm_mul_ps(clamped, _mm_set1_ps((float)kFastMathGrid))));
  return clamped;
}

// Lanes of four floats that are infinite or NaN, as a bit mask.
inline int NotFinite(__m128 v) {
  return _mm_movemask_ps(_mm_cmpnle_ps(_mm_andnot_ps(_mm_set1_ps(-0.0f), v), _mm_set1_ps(3.40282347e+38f)));
}

// Lane masks of four floats as two pairs of double lane masks.
inline Pair MaskLow(__m128 m) { return _mm_castps_pd(_mm_unpacklo_ps(m, m)); }
inline Pair MaskHigh(__m128 m) { return _mm_castps_pd(_mm_unpackhi_ps(m, m)); }

// The elements of a group of four whose rounding the fast evaluation left
// open (bit k for element i + k), from the C library.
template <typename Library>
inline void Settle(int unsure, uint32 i, uint32 n, Library library) {
  for (uint32 k = 0; unsure != 0; k++, unsure >>= 1)
    if ((unsure & 1) && i + k < n) library(i + k);
}

}  // namespace

void FastMath_atan(const mfloat* x, mfloat* y, uint32 n) {
  const __m128 one = _mm_set1_ps(1.0f);
  for (uint32 i = 0; i < n; i += 4) {
    const __m128 q = Load4(x, i, n);
    // atan|q| from atan(min/max) of |q| and 1, mirrored when |q| > 1.
    const __m128 aq = _mm_andnot_ps(_mm_set1_ps(-0.0f), q);
    const __m128 a = _mm_min_ps(aq, one), b = _mm_max_ps(aq, one), swap = _mm_cmpgt_ps(aq, one);
    int idx[4];
    AtanIndex(a, b, idx);
    const Pair r0 = Octant(AtanRatio(Low(a), Low(b), idx[0], idx[1]), MaskLow(swap), _mm_setzero_pd(),
                           _mm_and_pd(Low(q), SignBit()));
    const Pair r1 = Octant(AtanRatio(High(a), High(b), idx[2], idx[3]), MaskHigh(swap), _mm_setzero_pd(),
                           _mm_and_pd(High(q), SignBit()));
    int unsure;
    Store4(y, i, n, Round(r0, AtanMargin(r0), r1, AtanMargin(r1), &unsure));
    Settle(unsure | NotFinite(q), i, n, [&](uint32 j) { y[j] = (mfloat)atan((double)x[j]); });
  }
}

void FastMath_atan2(const mfloat* y, const mfloat* x, mfloat* r, uint32 n) {
  for (uint32 i = 0; i < n; i += 4) {
    const __m128 yv = Load4(y, i, n), xv = Load4(x, i, n);
    const __m128 ay = _mm_andnot_ps(_mm_set1_ps(-0.0f), yv), ax = _mm_andnot_ps(_mm_set1_ps(-0.0f), xv);
    const __m128 a = _mm_min_ps(ay, ax), b = _mm_max_ps(ay, ax), swap = _mm_cmpgt_ps(ay, ax);
    // Negative x, -0 included: the sign bit spread over the lane.
    const __m128 xneg = _mm_castsi128_ps(_mm_srai_epi32(_mm_castps_si128(xv), 31));
    int idx[4];
    AtanIndex(a, b, idx);
    const Pair r0 = Octant(AtanRatio(Low(a), Low(b), idx[0], idx[1]), MaskLow(swap), MaskLow(xneg),
                           _mm_and_pd(Low(yv), SignBit()));
    const Pair r1 = Octant(AtanRatio(High(a), High(b), idx[2], idx[3]), MaskHigh(swap), MaskHigh(xneg),
                           _mm_and_pd(High(yv), SignBit()));
    int unsure;
    Store4(r, i, n, Round(r0, AtanMargin(r0), r1, AtanMargin(r1), &unsure));
    Settle(unsure | NotFinite(yv) | NotFinite(xv), i, n,
           [&](uint32 j) { r[j] = (mfloat)atan2((double)y[j], (double)x[j]); });
  }
}

void FastMath_cos(const mfloat* x, mfloat* c, uint32 n) {
  const Pair e = Splat(kCosSinMargin);
  for (uint32 i = 0; i < n; i += 4) {
    int idx[4], outside;
    const __m128 ax = CosSinReduce(Load4(x, i, n), idx, &outside);
    Pair c0, s0, c1, s1;
    CosSinAbs(Low(ax), idx[0], idx[1], &c0, &s0);
    CosSinAbs(High(ax), idx[2], idx[3], &c1, &s1);
    int unsure;
    Store4(c, i, n, Round(c0, e, c1, e, &unsure));
    Settle(unsure | outside, i, n, [&](uint32 j) { c[j] = (mfloat)cos((double)x[j]); });
  }
}

void FastMath_sincos(const mfloat* x, mfloat* c, mfloat* s, uint32 n) {
  const Pair e = Splat(kCosSinMargin);
  for (uint32 i = 0; i < n; i += 4) {
    const __m128 xv = Load4(x, i, n);
    int idx[4], outside;
    const __m128 ax = CosSinReduce(xv, idx, &outside);
    Pair c0, s0, c1, s1;
    CosSinAbs(Low(ax), idx[0], idx[1], &c0, &s0);
    CosSinAbs(High(ax), idx[2], idx[3], &c1, &s1);
    // sin is odd, cos even.
    s0 = _mm_xor_pd(s0, _mm_and_pd(Low(xv), SignBit()));
    s1 = _mm_xor_pd(s1, _mm_and_pd(High(xv), SignBit()));
    int unsure_c, unsure_s;
    Store4(c, i, n, Round(c0, e, c1, e, &unsure_c));
    Store4(s, i, n, Round(s0, e, s1, e, &unsure_s));
    Settle(unsure_c | outside, i, n, [&](uint32 j) { c[j] = (mfloat)cos((double)x[j]); });
    Settle(unsure_s | outside, i, n, [&](uint32 j) { s[j] = (mfloat)sin((double)x[j]); });
  }
}
