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
// that short polynomials suffice. They work on four elements at a time in
// GCC's generic vectors: four doubles are two SSE2 registers, or one AVX2
// register in the functions' AVX2 versions (see MICARRAY_VECTOR_CLONES).
#include "fastmath.h"

#include <emmintrin.h>
#include <math.h>

#include "uperation.h"

namespace {

typedef double V4d __attribute__((vector_size(32)));     // four double lanes
typedef long long V4l __attribute__((vector_size(32)));  // their lane masks
typedef float V4f __attribute__((vector_size(16)));      // four float lanes
typedef int V4i __attribute__((vector_size(16)));        // their lane masks

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

inline V4d Splat(double v) { return V4d{v, v, v, v}; }
inline V4f Splat(float v) { return V4f{v, v, v, v}; }
inline V4d Abs(V4d v) { return (V4d)((V4l)v & ~(V4l)Splat(-0.0)); }
inline V4f Abs(V4f v) { return (V4f)((V4i)v & ~(V4i)Splat(-0.0f)); }
inline V4d SignOf(V4d v) { return (V4d)((V4l)v & (V4l)Splat(-0.0)); }
inline V4d FlipSign(V4d v, V4d sign) { return (V4d)((V4l)v ^ (V4l)sign); }
// min and max with SSE semantics: the second operand when either is NaN.
inline V4f Min(V4f a, V4f b) { return a < b ? a : b; }
inline V4f Max(V4f a, V4f b) { return a > b ? a : b; }
inline V4d Min(V4d a, V4d b) { return a < b ? a : b; }
inline V4d Max(V4d a, V4d b) { return a > b ? a : b; }
inline V4d ToDouble(V4f v) { return __builtin_convertvector(v, V4d); }
// Lanes whose mask is set, as a bit mask.
inline int Lanes(V4i mask) { return _mm_movemask_ps((__m128)mask); }

// Four floats of x from index i; a short tail is filled with zeros, which
// every function here evaluates without the library.
inline V4f Load4(const mfloat* x, uint32 i, uint32 n) {
  V4f v = {0.0f, 0.0f, 0.0f, 0.0f};
  if (i + 4 <= n)
    __builtin_memcpy(&v, x + i, sizeof v);
  else
    for (uint32 k = 0; i + k < n; k++) v[k] = x[i + k];
  return v;
}

inline void Store4(mfloat* y, uint32 i, uint32 n, V4f v) {
  if (i + 4 <= n)
    __builtin_memcpy(y + i, &v, sizeof v);
  else
    for (uint32 k = 0; i + k < n; k++) y[i + k] = v[k];
}

// Rounds the fast results to floats; bit k of *unsure is set where A - E and
// A + E round differently (or A is NaN).
inline V4f Round(V4d a, V4d e, int* unsure) {
  *unsure = Lanes(__builtin_convertvector(a - e, V4f) != __builtin_convertvector(a + e, V4f));
  return __builtin_convertvector(a, V4f);
}

// Lanes that are infinite or NaN, as a bit mask.
inline int NotFinite(V4f v) { return Lanes(!(Abs(v) <= Splat(3.40282347e+38f))); }

// atan(a/b) for 0 <= a <= b (0 for a = b = 0), given as floats (af, bf) and
// the same values in double (a, b): the table point nearest a/b (from the
// float quotient, rounded half up; 0/0 gives 0), then atan(c) + atan(t).
inline V4d AtanRatio(V4f af, V4f bf, V4d a, V4d b) {
  const V4f ratio = Min(Max(af / bf, Splat(0.0f)), Splat(1.0f));  // a NaN quotient becomes 0
  const V4i i = __builtin_convertvector(ratio * Splat((float)kFastMathGrid) + Splat(0.5f), V4i);
  const V4d c = __builtin_convertvector(i, V4d) * Splat(1.0 / kFastMathGrid);
  const V4d atanc = {m_arAtanTable64f[i[0]], m_arAtanTable64f[i[1]], m_arAtanTable64f[i[2]], m_arAtanTable64f[i[3]]};
  const V4d num = a - c * b;
  V4d den = b + c * a;
  den = den == Splat(0.0) ? Splat(1.0) : den;  // 0/0: t = 0
  const V4d t = num / den;
  const V4d z = t * t;
  const V4d p = t + t * (z * (Splat(kAtan3) + z * (Splat(kAtan5) + z * Splat(kAtan7))));
  return atanc + p;
}

// The angle of the point (x, y) from r = atan(min/max) of |x|, |y|: mirrored
// at pi/4 when |y| > |x| (swap), at pi/2 when x is negative (xneg), and
// given y's sign.
inline V4d Octant(V4d r, V4l swap, V4l xneg, V4d ysign) {
  r = swap ? Splat(kHalfPi) - r : r;
  r = xneg ? Splat(kPi) - r : r;
  return FlipSign(r, ysign);
}

// cos and sin of |x| for |x| within the table (NaN and larger values are
// clamped to the limit); *outside flags the lanes beyond the table.
inline void CosSinAbs(V4f x, V4d* cosx, V4d* sinx, int* outside) {
  const V4f ax = Abs(x), limit = Splat((float)kCosSinLimit);
  *outside = Lanes(!(ax <= limit));
  const V4f clamped = Min(ax, limit);
  const V4i i = __builtin_convertvector(clamped * Splat((float)kFastMathGrid) + Splat(0.5f), V4i);
  const V4d C = {m_arCosSinTable64f[i[0]][0], m_arCosSinTable64f[i[1]][0], m_arCosSinTable64f[i[2]][0],
                 m_arCosSinTable64f[i[3]][0]};
  const V4d S = {m_arCosSinTable64f[i[0]][1], m_arCosSinTable64f[i[1]][1], m_arCosSinTable64f[i[2]][1],
                 m_arCosSinTable64f[i[3]][1]};
  const V4d r = ToDouble(clamped) - __builtin_convertvector(i, V4d) * Splat(1.0 / kFastMathGrid);
  const V4d z = r * r;
  const V4d cm = z * (Splat(kCos2) + z * (Splat(kCos4) + z * Splat(kCos6)));  // cos r - 1
  const V4d sr = r + r * (z * (Splat(kSin3) + z * Splat(kSin5)));               // sin r
  *cosx = C + (C * cm - S * sr);
  *sinx = S + (S * cm + C * sr);
}

// The elements of a group of four whose rounding the fast evaluation left
// open (bit k for element i + k), from the C library.
template <typename Library>
inline void Settle(int unsure, uint32 i, uint32 n, Library library) {
  for (uint32 k = 0; unsure != 0; k++, unsure >>= 1)
    if ((unsure & 1) && i + k < n) library(i + k);
}

}  // namespace

MICARRAY_VECTOR_CLONES
void FastMath_atan(const mfloat* x, mfloat* y, uint32 n) {
  for (uint32 i = 0; i < n; i += 4) {
    const V4f q = Load4(x, i, n), aq = Abs(q);
    const V4d qd = ToDouble(q), aqd = Abs(qd);
    // atan|q| from atan(min/max) of |q| and 1, mirrored when |q| > 1.
    const V4d ratio = AtanRatio(Min(aq, Splat(1.0f)), Max(aq, Splat(1.0f)), Min(aqd, Splat(1.0)), Max(aqd, Splat(1.0)));
    const V4d r = Octant(ratio, aqd > Splat(1.0), V4l{0, 0, 0, 0}, SignOf(qd));
    int unsure;
    Store4(y, i, n, Round(r, Abs(r) * Splat(kAtanMargin), &unsure));
    Settle(unsure | NotFinite(q), i, n, [&](uint32 j) { y[j] = (mfloat)atan((double)x[j]); });
  }
}

MICARRAY_VECTOR_CLONES
void FastMath_atan2(const mfloat* y, const mfloat* x, mfloat* r, uint32 n) {
  for (uint32 i = 0; i < n; i += 4) {
    const V4f yv = Load4(y, i, n), xv = Load4(x, i, n);
    const V4f ay = Abs(yv), ax = Abs(xv);
    const V4d yd = ToDouble(yv), xd = ToDouble(xv), ayd = Abs(yd), axd = Abs(xd);
    // Negative x, -0 included: the sign bit, read as a negative integer.
    const V4l xneg = (V4l)xd < V4l{0, 0, 0, 0};
    const V4d ratio = AtanRatio(Min(ay, ax), Max(ay, ax), Min(ayd, axd), Max(ayd, axd));
    const V4d a = Octant(ratio, ayd > axd, xneg, SignOf(yd));
    int unsure;
    Store4(r, i, n, Round(a, Abs(a) * Splat(kAtanMargin), &unsure));
    Settle(unsure | NotFinite(yv) | NotFinite(xv), i, n,
           [&](uint32 j) { r[j] = (mfloat)atan2((double)y[j], (double)x[j]); });
  }
}

MICARRAY_VECTOR_CLONES
void FastMath_cos(const mfloat* x, mfloat* c, uint32 n) {
  for (uint32 i = 0; i < n; i += 4) {
    V4d cosx, sinx;
    int outside, unsure;
    CosSinAbs(Load4(x, i, n), &cosx, &sinx, &outside);
    Store4(c, i, n, Round(cosx, Splat(kCosSinMargin), &unsure));
    Settle(unsure | outside, i, n, [&](uint32 j) { c[j] = (mfloat)cos((double)x[j]); });
  }
}

MICARRAY_VECTOR_CLONES
void FastMath_sincos(const mfloat* x, mfloat* c, mfloat* s, uint32 n) {
  for (uint32 i = 0; i < n; i += 4) {
    const V4f xv = Load4(x, i, n);
    V4d cosx, sinx;
    int outside, unsure_c, unsure_s;
    CosSinAbs(xv, &cosx, &sinx, &outside);
    sinx = FlipSign(sinx, SignOf(ToDouble(xv)));  // sin is odd, cos even
    Store4(c, i, n, Round(cosx, Splat(kCosSinMargin), &unsure_c));
    Store4(s, i, n, Round(sinx, Splat(kCosSinMargin), &unsure_s));
    Settle(unsure_c | outside, i, n, [&](uint32 j) { c[j] = (mfloat)cos((double)x[j]); });
    Settle(unsure_s | outside, i, n, [&](uint32 j) { s[j] = (mfloat)sin((double)x[j]); });
  }
}
