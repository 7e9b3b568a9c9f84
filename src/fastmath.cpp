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
// Both evaluations start from a table point c near the argument (i/32 for
// the arc tangent, i/4 for the cosine and sine), so that short polynomials
// suffice. They work on groups of elements in GCC's generic vectors, one
// lane per element, as wide as the processor's level suits (see the end of
// this file). Every lane does the same IEEE operations in the same order
// whatever the group size, so all versions give the same floats.
#include "fastmath.h"

#include <math.h>

#include "vector.h"

namespace {

// Every helper is inlined into each version of the functions below, so that
// it runs with that version's instructions (an out-of-line copy would be the
// baseline code, and would pass vectors in another convention).
#define FASTMATH_INLINE VEC_INLINE

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

// Cosine and sine: |x| = c + r with |r| <= 1/8 and r exact (c = 0 below 1/8;
// above, c and |x| are multiples of ulp(|x|) >= 2^-26); cos and sin of |x|
// follow from the table values of c (each within 2^-54) and
// cos r - 1 = -r^2/2! + r^4/4! - ... - r^10/10! (omits r^12/12!, 2^-64.8) and
// sin r = r - r^3/3! + ... + r^9/9! (omits r^11/11!, 2^-58.2) through the
// addition theorems. The final sum rounds by at most 2^-53, the omitted terms
// and the operations before it add at most 2^-54.7 and the table values at
// most 2^-53.8, so EA <= 2^-52 and EA + EL <= 2^-51: the absolute margin
// 2^-44 is 128 times that. Arguments beyond the table (|x| > 8, infinities,
// NaN) go to the library.
const double kCosSinMargin = 0x1p-44;
const double kCosSinLimit = (double)(kFastMathCosSinPoints - 1) / kFastMathCosSinGrid;
const double kCos2 = -1.0 / 2, kCos4 = 1.0 / 24, kCos6 = -1.0 / 720, kCos8 = 1.0 / 40320, kCos10 = -1.0 / 3628800;
const double kSin3 = -1.0 / 6, kSin5 = 1.0 / 120, kSin7 = -1.0 / 5040, kSin9 = 1.0 / 362880;

// Sign bits of a double and of a float.
const long long kSign64 = (long long)(1ull << 63);
const int kSign32 = (int)(1u << 31);

// The functions on groups of kLanes elements.
template <uint32 kLanes>
struct TGroup {
  typedef typename TVecLanes<kLanes>::D D;
  typedef typename TVecLanes<kLanes>::L L;
  typedef typename TVecLanes<kLanes>::F F;
  typedef typename TVecLanes<kLanes>::I I;

  // v in every lane. (The sum 0 + v gives each lane a plain broadcast; only
  // -0.0 would lose its sign, and the sign masks below are integers.)
  static FASTMATH_INLINE D Splat(double v) { return D{} + v; }
  static FASTMATH_INLINE F Splat(float v) { return F{} + v; }
  static FASTMATH_INLINE D Abs(D v) { return (D)((L)v & ~(L{} + kSign64)); }
  static FASTMATH_INLINE F Abs(F v) { return (F)((I)v & ~(I{} + kSign32)); }
  static FASTMATH_INLINE D SignOf(D v) { return (D)((L)v & (L{} + kSign64)); }
  static FASTMATH_INLINE D FlipSign(D v, D sign) { return (D)((L)v ^ (L)sign); }
  // min and max with SSE semantics: the second operand when either is NaN.
  static FASTMATH_INLINE F Min(F a, F b) { return a < b ? a : b; }
  static FASTMATH_INLINE F Max(F a, F b) { return a > b ? a : b; }
  // Doubles are never compared: below AVX2 and on NEON a register holds two
  // of them, and the compiler would compare a wider group lane by lane. The
  // floats the doubles come from are compared instead, and their lane masks
  // widened to the doubles' lanes select by bit operations.
  static FASTMATH_INLINE L Wide(I mask) { return Vec_Widen<L>(mask); }
  static FASTMATH_INLINE D Select(L mask, D a, D b) { return (D)((mask & (L)a) | (~mask & (L)b)); }
  static FASTMATH_INLINE D ToDouble(F v) { return Vec_Widen<D>(v); }
  static FASTMATH_INLINE D ToDouble(I v) { return Vec_Widen<D>(v); }

  // Lanes whose mask is set, as a bit mask (four lanes at a time).
  static FASTMATH_INLINE int Lanes(I mask) {
    int bits = 0;
    for (uint32 q = 0; q < kLanes; q += 4) {
      V4i quarter = {};
      __builtin_memcpy(&quarter, (const int*)&mask + q, (kLanes < 4 ? kLanes : 4) * sizeof(int));
      bits |= Vec_Mask(quarter) << q;
    }
    return bits;
  }

  // kLanes floats of x from index i < n; a short tail is filled with zeros,
  // which every function here evaluates without the library. (The tail has
  // at least one element: with no path that yields a constant group, the
  // compiler has no reason to specialise the evaluation for one.)
  // A whole group is read straight into a register; a tail goes through a
  // padded copy.
  static FASTMATH_INLINE F Load(const mfloat* x, uint32 i, uint32 n) {
    if (i + kLanes <= n) return Vec_Load<F>(x + i);
    float padded[kLanes] = {};
    uint32 k = 0;
    do padded[k] = x[i + k];
    while (i + ++k < n);
    return Vec_Load<F>(padded);
  }

  static FASTMATH_INLINE void Store(mfloat* y, uint32 i, uint32 n, F v) {
    if (i + kLanes <= n) return Vec_Store(y + i, v);
    float padded[kLanes];
    Vec_Store(padded, v);
    for (uint32 k = 0; i + k < n; k++) y[i + k] = padded[k];
  }

  // table[i] in every lane, for indexes i from 0 to 32 (the tables' size).
  static FASTMATH_INLINE D Lookup(const double* table, I i) {
    D v;
    for (uint32 k = 0; k < kLanes; k++) v[k] = table[i[k]];
    return v;
  }

  // Rounds the fast results to floats; the lanes of *unsure are set where
  // A - E and A + E round differently (or A is NaN).
  static FASTMATH_INLINE F Round(D a, D e, I* unsure) {
    *unsure = __builtin_convertvector(a - e, F) != __builtin_convertvector(a + e, F);
    return __builtin_convertvector(a, F);
  }

  // Lanes that are infinite or NaN.
  static FASTMATH_INLINE I NotFinite(F v) { return !(Abs(v) <= Splat(3.40282347e+38f)); }

  // atan(a/b) for 0 <= a <= b (0 for a = b = 0), given as floats: the table
  // point nearest a/b (from the float quotient, rounded half up; 0/0 gives
  // 0), then atan(c) + atan(t) in double.
  static FASTMATH_INLINE D AtanRatio(F af, F bf) {
    const D a = ToDouble(af), b = ToDouble(bf);
    const F ratio = Min(Max(af / bf, Splat(0.0f)), Splat(1.0f));  // a NaN quotient becomes 0
    const I i = __builtin_convertvector(ratio * Splat((float)kFastMathAtanGrid) + Splat(0.5f), I);
    const D c = ToDouble(i) * Splat(1.0 / kFastMathAtanGrid);
    const D atanc = Lookup(m_arAtanTable64f, i);
    const D num = a - c * b;
    D den = b + c * a;
    den = Select(Wide(bf == Splat(0.0f)), Splat(1.0), den);  // 0/0 (den is 0 just when b is): t = 0
    const D t = num / den;
    const D z = t * t;
    const D p = t + t * (z * (Splat(kAtan3) + z * (Splat(kAtan5) + z * Splat(kAtan7))));
    return atanc + p;
  }

  // The angle of the point (x, y) from r = atan(min/max) of |x| and |y|
  // (the floats ax, ay): mirrored at pi/4 when |y| > |x|, at pi/2 when x is
  // negative (its sign bit, -0 included, spread over the lane by an
  // arithmetic shift), and given y's sign.
  static FASTMATH_INLINE D Octant(D r, F ay, F ax, D y, D x) {
    r = Select(Wide(ay > ax), Splat(kHalfPi) - r, r);
    r = Select((L)x >> 63, Splat(kPi) - r, r);
    return FlipSign(r, SignOf(y));
  }

  // cos and sin of |x| for |x| within the table (NaN and larger values are
  // clamped to the limit); the lanes of *outside are those beyond the table.
  static FASTMATH_INLINE void CosSinAbs(F x, D* cosx, D* sinx, I* outside) {
    const F ax = Abs(x), limit = Splat((float)kCosSinLimit);
    *outside = !(ax <= limit);
    const F clamped = Min(ax, limit);
    const I i = __builtin_convertvector(clamped * Splat((float)kFastMathCosSinGrid) + Splat(0.5f), I);
    const D C = Lookup(m_arCosTable64f, i), S = Lookup(m_arSinTable64f, i);
    const D r = ToDouble(clamped) - ToDouble(i) * Splat(1.0 / kFastMathCosSinGrid);
    const D z = r * r;
    const D cm =  // cos r - 1
        z * (Splat(kCos2) + z * (Splat(kCos4) + z * (Splat(kCos6) + z * (Splat(kCos8) + z * Splat(kCos10)))));
    const D sr = r + r * (z * (Splat(kSin3) + z * (Splat(kSin5) + z * (Splat(kSin7) + z * Splat(kSin9)))));  // sin r
    *cosx = C + (C * cm - S * sr);
    *sinx = S + (S * cm + C * sr);
  }

  // The elements of a group whose rounding the fast evaluation left open
  // (the lanes of unsure, for elements i ...), from the C library.
  template <typename Library>
  static FASTMATH_INLINE void Settle(I unsure, uint32 i, uint32 n, Library library) {
    for (int lanes = Lanes(unsure), k = 0; lanes != 0; k++, lanes >>= 1)
      if ((lanes & 1) && i + k < n) library(i + k);
  }

  static FASTMATH_INLINE void Atan(const mfloat* x, mfloat* y, uint32 n) {
    for (uint32 i = 0; i < n; i += kLanes) {
      const F q = Load(x, i, n), aq = Abs(q), one = Splat(1.0f);
      // atan|q| from atan(min/max) of |q| and 1, mirrored when |q| > 1.
      const D ratio = AtanRatio(Min(aq, one), Max(aq, one));
      I unsure;
      const D r = Octant(ratio, aq, one, ToDouble(q), Splat(1.0));
      Store(y, i, n, Round(r, Abs(r) * Splat(kAtanMargin), &unsure));
      Settle(unsure | NotFinite(q), i, n, [&](uint32 j) { y[j] = (mfloat)atan((double)x[j]); });
    }
  }

  static FASTMATH_INLINE void Atan2(const mfloat* y, const mfloat* x, mfloat* r, uint32 n) {
    for (uint32 i = 0; i < n; i += kLanes) {
      const F yv = Load(y, i, n), xv = Load(x, i, n);
      const F ay = Abs(yv), ax = Abs(xv);
      const D ratio = AtanRatio(Min(ay, ax), Max(ay, ax));
      const D a = Octant(ratio, ay, ax, ToDouble(yv), ToDouble(xv));
      I unsure;
      Store(r, i, n, Round(a, Abs(a) * Splat(kAtanMargin), &unsure));
      Settle(unsure | NotFinite(yv) | NotFinite(xv), i, n,
             [&](uint32 j) { r[j] = (mfloat)atan2((double)y[j], (double)x[j]); });
    }
  }

  static FASTMATH_INLINE void Cos(const mfloat* x, mfloat* c, uint32 n) {
    for (uint32 i = 0; i < n; i += kLanes) {
      D cosx, sinx;
      I outside, unsure;
      CosSinAbs(Load(x, i, n), &cosx, &sinx, &outside);
      Store(c, i, n, Round(cosx, Splat(kCosSinMargin), &unsure));
      Settle(unsure | outside, i, n, [&](uint32 j) { c[j] = (mfloat)cos((double)x[j]); });
    }
  }

  static FASTMATH_INLINE void SinCos(const mfloat* x, mfloat* c, mfloat* s, uint32 n) {
    for (uint32 i = 0; i < n; i += kLanes) {
      const F xv = Load(x, i, n);
      D cosx, sinx;
      I outside, unsure_c, unsure_s;
      CosSinAbs(xv, &cosx, &sinx, &outside);
      sinx = FlipSign(sinx, SignOf(ToDouble(xv)));  // sin is odd, cos even
      Store(c, i, n, Round(cosx, Splat(kCosSinMargin), &unsure_c));
      Store(s, i, n, Round(sinx, Splat(kCosSinMargin), &unsure_s));
      Settle(unsure_c | outside, i, n, [&](uint32 j) { c[j] = (mfloat)cos((double)x[j]); });
      Settle(unsure_s | outside, i, n, [&](uint32 j) { s[j] = (mfloat)sin((double)x[j]); });
    }
  }
};

// Eight lanes look up the table in registers: entries 0-15 and 16-31 each
// by one two-register permute, entry 32 where it is asked for. (Clang has no
// shuffle by a variable index vector; there the lanes read memory one by one,
// which gives the same values.)
#if defined(MICARRAY_X86) && !defined(__clang__)
static_assert(kFastMathAtanPoints == 33 && kFastMathCosSinPoints == 33, "tables of 33 entries");
template <>
FASTMATH_INLINE TGroup<8>::D TGroup<8>::Lookup(const double* table, I i) {
  D t0, t1, t2, t3;  // entries 0-7, 8-15, 16-23, 24-31
  __builtin_memcpy(&t0, table, sizeof t0);
  __builtin_memcpy(&t1, table + 8, sizeof t1);
  __builtin_memcpy(&t2, table + 16, sizeof t2);
  __builtin_memcpy(&t3, table + 24, sizeof t3);
  const L index = Vec_Widen<L>(i);  // the permutes use the low four bits
  const D low = __builtin_shuffle(t0, t1, index), high = __builtin_shuffle(t2, t3, index);
  const D v = index < L{} + 16 ? low : high;
  return index == L{} + 32 ? Splat(table[32]) : v;
}
#endif

}  // namespace

// Groups of eight on processors with AVX-512, of four elsewhere (one AVX2
// register of doubles, two SSE2 or NEON registers).
#if defined(MICARRAY_X86)
#define FASTMATH_DISPATCH(api, name, params, args)                            \
  VEC_TARGET_AVX512 static void name##Wide params { TGroup<8>::name args; }  \
  VEC_TARGET_AVX2 static void name##Avx2 params { TGroup<4>::name args; }    \
  static void name##Base params { TGroup<4>::name args; }                     \
  void api params {                                                           \
    const TVecLevel level = Vec_Level();                                      \
    if (level >= kVecAvx512)                                                  \
      name##Wide args;                                                        \
    else if (level == kVecAvx2)                                               \
      name##Avx2 args;                                                        \
    else                                                                      \
      name##Base args;                                                        \
  }
#else
#define FASTMATH_DISPATCH(api, name, params, args) \
  void api params { TGroup<4>::name args; }
#endif

FASTMATH_DISPATCH(FastMath_atan, Atan, (const mfloat* x, mfloat* y, uint32 n), (x, y, n))
FASTMATH_DISPATCH(FastMath_atan2, Atan2, (const mfloat* y, const mfloat* x, mfloat* r, uint32 n), (y, x, r, n))
FASTMATH_DISPATCH(FastMath_cos, Cos, (const mfloat* x, mfloat* c, uint32 n), (x, c, n))
FASTMATH_DISPATCH(FastMath_sincos, SinCos, (const mfloat* x, mfloat* c, mfloat* s, uint32 n), (x, c, s, n))
