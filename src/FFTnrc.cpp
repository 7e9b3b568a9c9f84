// Packed real FFT: a real frame of N samples is transformed as N/2 complex
// points by a half-length complex FFT, then split into the half spectrum of
// the real frame. All cosines and sines come from the constant tables, and
// the first butterfly pass reads the points in bit-reversed order; nothing
// is computed with a trigonometric call at run time.
#include "FFTnrc.h"

#include <cmath>
#include <type_traits>

#include "fastmath.h"
#include "fix.h"
#include "frameplan.h"
#include "uperation.h"
#include "vector.h"

namespace {

// Single-precision constants of the transform and of the phase rule.
const mfloat kHalfSqrt2 = 0.70710677f;  // sqrt(1/2), the span-8 twiddle
const mfloat kPi = 3.1415927f;
const mfloat kHalfPi = 1.5707964f;
const mfloat kTwoPi = 6.2831855f;

// The transform works on GCC's generic vectors of one register of the level
// (TWide): four floats on SSE2 and NEON, eight on AVX2, sixteen on AVX-512,
// holding two, four or eight complex points, or one part of as many bins.
// Their + - * act lane by lane with one IEEE rounding each, so every lane
// computes exactly what the scalar rule does, whatever the width.
typedef V8f V8;

template <TVecLevel kLevel>
using TWide = typename TVecLanes<Vec_Floats(kLevel)>::F;
template <typename V>
constexpr int kLanesOf = sizeof(V) / sizeof(V{}[0]);

// The permutations of a vector's lanes below: lane i of the result is lane
// At(i, n) of the pair (a, b), n being the lanes of one vector.
template <TVecLevel kLevel, typename Pattern, typename V, size_t... i>
VEC_INLINE V Permute(V a, V b, std::index_sequence<i...>) {
  return Vec_Shuffle<kLevel, Pattern::At((int)i, kLanesOf<V>)...>(a, b);
}
template <TVecLevel kLevel, typename Pattern, typename V>
VEC_INLINE V Permute(V a, V b) {
  return Permute<kLevel, Pattern>(a, b, std::make_index_sequence<kLanesOf<V>>());
}
struct TSwapPairs {  // (im, re) of every complex value
  static constexpr int At(int i, int) { return i ^ 1; }
};
struct TEvens {  // the even lanes of a, then those of b
  static constexpr int At(int i, int) { return 2 * i; }
};
struct TOdds {
  static constexpr int At(int i, int) { return 2 * i + 1; }
};
struct TEvensReversed {  // the even lanes of b, then those of a, last first
  static constexpr int At(int i, int n) { return 2 * (n - 1 - i); }
};
struct TOddsReversed {
  static constexpr int At(int i, int n) { return 2 * (n - 1 - i) + 1; }
};
struct TReversed {  // the lanes of a, last first
  static constexpr int At(int i, int n) { return n - 1 - i; }
};
struct TInterleaveLow {  // a[0], b[0], a[1], b[1], ... of the first halves
  static constexpr int At(int i, int n) { return i / 2 + (i % 2) * n; }
};
struct TInterleaveHigh {
  static constexpr int At(int i, int n) { return n / 2 + i / 2 + (i % 2) * n; }
};
struct TInterleaveHighReversed {  // a[n-1], b[n-1], a[n-2], b[n-2], ... of the second halves
  static constexpr int At(int i, int n) { return n - 1 - i / 2 + (i % 2) * n; }
};
struct TInterleaveLowReversed {
  static constexpr int At(int i, int n) { return n / 2 - 1 - i / 2 + (i % 2) * n; }
};

// Sign bits of the imaginary (odd) and of the real (even) floats of a V.
enum TParts { kImaginary = 1, kReal = 2 };
template <typename V>
VEC_INLINE typename TVecLanes<kLanesOf<V>>::I SignBits(int parts) {
  typename TVecLanes<kLanesOf<V>>::I signs = {};
  for (int i = 0; i < kLanesOf<V>; i++)
    if (parts & (i % 2 ? kImaginary : kReal)) signs[i] = (int)0x80000000u;
  return signs;
}
// Negation is exact: flipping sign bits.
template <typename V>
VEC_INLINE V FlipSigns(V v, int parts) {
  typedef typename TVecLanes<kLanesOf<V>>::I I;
  return (V)((I)v ^ SignBits<V>(parts));
}
template <TVecLevel kLevel, typename V>
VEC_INLINE V SwapReIm(V v) {
  return Permute<kLevel, TSwapPairs>(v, v);
}

// The twiddle vectors of positions j ... j + lanes/2 - 1 (see Butterfly)
// from the table's groups of four positions.
template <TVecLevel kLevel, typename V>
VEC_INLINE void Twiddles(const mfloat* w, uint32 j, V* C, V* S) {
  const mfloat* group = w + 4 * j;
  if constexpr (kLanesOf<V> == 4) {  // positions j, j+1 of a group of four
    const mfloat* pair = w + 4 * (j & ~3u) + 2 * (j & 3u);
    *C = Vec_Load<V>(pair);
    *S = Vec_Load<V>(pair + 8);
  } else if constexpr (kLanesOf<V> == 8) {
    *C = Vec_Load<V8>(group);
    *S = Vec_Load<V8>(group + 8);
  } else {
    static_assert(kLanesOf<V> == 16, "groups of two, four or eight positions");
    const V8 c0 = Vec_Load<V8>(group), s0 = Vec_Load<V8>(group + 8);
    const V8 c1 = Vec_Load<V8>(group + 16), s1 = Vec_Load<V8>(group + 24);
    *C = __builtin_shufflevector(c0, c1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    *S = __builtin_shufflevector(s0, s1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  }
}

// Radix-2 butterflies on the complex points of a vector, t being w*b:
// b becomes a - t, a becomes a + t. The twiddle vectors of positions j are
// C = {c, c, c', c', ...} and S = {s, -s, s', -s', ...}, so
// t = C*b + S*(b.im, b.re) is (c*b.re + s*b.im, c*b.im - s*b.re) per point:
// adding (-s)*b.re is subtracting s*b.re.
template <TVecLevel kLevel, typename V>
VEC_INLINE void Butterfly(V& a, V& b, const mfloat* w, uint32 j) {
  V C, S;
  Twiddles<kLevel>(w, j, &C, &S);
  const V swapped = SwapReIm<kLevel>(b);
  const V t = C * b + S * swapped;
  b = a - t;
  a = a + t;
}


// -j*b = (b.im, -b.re) for every complex value.
template <TVecLevel kLevel, typename V>
VEC_INLINE V MinusJ(V b) {
  return FlipSigns(SwapReIm<kLevel>(b), kImaginary);
}

// One step of a transposition: lanes of a pair of rows (a, b) whose lane
// indexes differ in bit m trade places, so that a keeps the lanes without m
// and takes b's without m in place of its own with m (TTradeLow), and b the
// converse (TTradeHigh).
template <int m>
struct TTradeLow {
  static constexpr int At(int i, int n) { return i & m ? n + (i ^ m) : i; }
};
template <int m>
struct TTradeHigh {
  static constexpr int At(int i, int n) { return i & m ? n + i : i ^ m; }
};
template <TVecLevel kLevel, int m, typename Q>
VEC_INLINE void TradeBit(Q* rows) {
  for (int j = 0; j < 8; j++)
    if (!(j & m)) {
      const Q a = rows[j], b = rows[j | m];
      rows[j] = Permute<kLevel, TTradeLow<m>>(a, b);
      rows[j | m] = Permute<kLevel, TTradeHigh<m>>(a, b);
    }
}

// The first three stages on G groups of eight complex points at once (G =
// lanes/2 of V: two, four or eight). Point j of the groups is one vector
// (group L at floats 2L, 2L+1), read from x + rev3(j) * stride (the
// bit-reversed order), so every butterfly acts lane by lane; the groups'
// points are then transposed out to z[L] (16 floats).
// The weights are 1 and -j (span 4), and 1, h*(1 - j), -j, -h*(1 + j)
// (span 8), where h*(1 - j)*b is (h*(b.re + b.im), h*(b.im - b.re)) and
// -h*(1 + j)*b is (-(h*(b.re - b.im)), -(h*(b.re + b.im))), computed in that
// form (x + (-y) is x - y, and the sum b.im + b.re is b.re + b.im).
template <TVecLevel kLevel, typename V>
VEC_INLINE void FirstStages(const mfloat* x, uint32 stride, mfloat* const* z) {
  constexpr int G = kLanesOf<V> / 2;
  const V p0 = Vec_Load<V>(x), p1 = Vec_Load<V>(x + 4 * stride), p2 = Vec_Load<V>(x + 2 * stride);
  const V p3 = Vec_Load<V>(x + 6 * stride), p4 = Vec_Load<V>(x + stride), p5 = Vec_Load<V>(x + 5 * stride);
  const V p6 = Vec_Load<V>(x + 3 * stride), p7 = Vec_Load<V>(x + 7 * stride);
  // Span 2: (z0, z1) becomes (z0 + z1, z0 - z1), and so on.
  const V a0 = p0 + p1, a1 = p0 - p1, a2 = p2 + p3, a3 = p2 - p3;
  const V a4 = p4 + p5, a5 = p4 - p5, a6 = p6 + p7, a7 = p6 - p7;
  // Span 4: weights 1 and -j.
  const V t3 = MinusJ<kLevel>(a3), t7 = MinusJ<kLevel>(a7);
  const V b0 = a0 + a2, b2 = a0 - a2, b1 = a1 + t3, b3 = a1 - t3;
  const V b4 = a4 + a6, b6 = a4 - a6, b5 = a5 + t7, b7 = a5 - t7;
  // Span 8: weights 1, h*(1 - j), -j, -h*(1 + j).
  const V h = V{} + kHalfSqrt2;
  const V t5 = (b5 + FlipSigns(SwapReIm<kLevel>(b5), kImaginary)) * h;
  const V t6 = MinusJ<kLevel>(b6);
  const V t7b = FlipSigns((b7 + FlipSigns(SwapReIm<kLevel>(b7), kReal)) * h, kImaginary | kReal);
  // Complex values as 64-bit lanes, moved whole: row j holds point j of
  // every group. Trading the bits of the lane index with the low bits of the
  // row index leaves points 0 ... G-1 of group L in row L, the next G in
  // row G + L.
  typedef long long Q __attribute__((vector_size(sizeof(V))));
  Q rows[8] = {(Q)(b0 + b4), (Q)(b1 + t5), (Q)(b2 + t6), (Q)(b3 + t7b),
               (Q)(b0 - b4), (Q)(b1 - t5), (Q)(b2 - t6), (Q)(b3 - t7b)};
  TradeBit<kLevel, 1>(rows);
  if constexpr (G >= 4) TradeBit<kLevel, 2>(rows);
  if constexpr (G >= 8) TradeBit<kLevel, 4>(rows);
  for (int part = 0; part < 8 / G; part++)
    for (int L = 0; L < G; L++) Vec_Store(z[L] + 2 * G * part, (V)rows[G * part + L]);
}

// One table-driven stage of half span h (complex points) over all groups,
// from x to z (which may be the same buffer).
template <TVecLevel kLevel>
VEC_INLINE void Stage(const mfloat* x, mfloat* z, uint32 half, uint32 h, const mfloat* w) {
  typedef TWide<kLevel> V;
  for (uint32 g = 0; g < half; g += 2 * h)
    for (uint32 j = 0; j < h; j += kLanesOf<V> / 2) {
      const uint32 i = 2 * (g + j);
      V a = Vec_Load<V>(x + i), b = Vec_Load<V>(x + i + 2 * h);
      Butterfly<kLevel>(a, b, w, j);
      Vec_Store(z + i, a);
      Vec_Store(z + i + 2 * h, b);
    }
}

// Stages h and 2h in one pass: for positions j ... j+3 of a group of 4h
// points, the points at j, j+h, j+2h and j+3h stay in registers through both.
template <TVecLevel kLevel>
VEC_INLINE void StagePair(const mfloat* x, mfloat* z, uint32 half, uint32 h, const mfloat* wh,
                          const mfloat* w2h) {
  typedef TWide<kLevel> V;
  for (uint32 g = 0; g < half; g += 4 * h)
    for (uint32 j = 0; j < h; j += kLanesOf<V> / 2) {
      const uint32 i = 2 * (g + j);
      V a = Vec_Load<V>(x + i), b = Vec_Load<V>(x + i + 2 * h);
      V c = Vec_Load<V>(x + i + 4 * h), d = Vec_Load<V>(x + i + 6 * h);
      Butterfly<kLevel>(a, b, wh, j);
      Butterfly<kLevel>(c, d, wh, j);
      Butterfly<kLevel>(a, c, w2h, j);
      Butterfly<kLevel>(b, d, w2h, j + h);
      Vec_Store(z + i, a);
      Vec_Store(z + i + 2 * h, b);
      Vec_Store(z + i + 4 * h, c);
      Vec_Store(z + i + 6 * h, d);
    }
}

// Split step of bins k (ak + j*bk) and m = N/2 - k (am + j*bm), with
// u = s*cos and v = sin of the twiddle, results halved. V is a float or four
// lanes of bins.
template <typename V>
inline void SplitBins(V& ak, V& bk, V& am, V& bm, V u, V v, V s, V half) {
  const V sr = ak + am, dr = ak - am, si = bk + bm, di = bk - bm;
  const V t1 = u * si - v * dr;
  const V t2 = u * dr + v * si;
  ak = (sr + t1) * half;
  bk = (s * (di - t2)) * half;
  am = (sr - t1) * half;
  bm = (s * (-di - t2)) * half;
}

// Phases of n bins between -pi/2 and 3*pi/2: the arctangent of the
// single-precision quotient im/re, moved by half a turn for a negative real
// part; a zero real part gives +-pi/2 (its quotient is not used). One
// register of bins at a time, on copies padded with zero bins.
template <TVecLevel kLevel>
VEC_INLINE void PhasesOf(const mfloat* re, const mfloat* im, mfloat* F, uint32 n) {
  constexpr uint32 kLanes = Vec_Floats(kLevel);
  typedef typename TVecLanes<kLanes>::F V;
  typedef typename TVecLanes<kLanes>::I Vi;
  const uint32 padded = (n + kLanes - 1) & ~(kLanes - 1);
  float x[kMaxBins + kLanes - 1], y[kMaxBins + kLanes - 1], f[kMaxBins + kLanes - 1];
  float q[kMaxBins + kLanes - 1] = {};  // cleared only so that the compiler sees it written
  for (uint32 k = 0; k < n; k++) {
    x[k] = re[k];
    y[k] = im[k];
  }
  for (uint32 k = n; k < padded; k++) x[k] = y[k] = 0.0f;
  const V zero = {}, pi = zero + kPi, halfPi = zero + kHalfPi;
  for (uint32 k = 0; k < padded; k += kLanes) {  // 0 where re = 0
    const V xr = Vec_Load<V>(x + k);
    Vec_Store(q + k, (V)((Vi)(xr != zero) & (Vi)(Vec_Load<V>(y + k) / xr)));
  }
  FastMath_atan(q, f, padded);
  for (uint32 k = 0; k < padded; k += kLanes) {
    const V xr = Vec_Load<V>(x + k), atanq = Vec_Load<V>(f + k);
    const V turned = xr < zero ? atanq + pi : atanq;
    const V axis = Vec_Load<V>(y + k) > zero ? halfPi : -halfPi;
    Vec_Store(f + k, xr == zero ? axis : turned);
  }
  for (uint32 k = 0; k < n; k++) F[k] = f[k];
}
VEC_DISPATCH(void, Phases, PhasesOf, (const mfloat* re, const mfloat* im, mfloat* F, uint32 n),
             (re, im, F, n))

mfloat Magnitude(mfloat re, mfloat im) { return sqrtf(re * re + im * im); }

}  // namespace

void FFTnRC_Init(TFFTnRC* it, uint32 nfft) {
  it->nfft = nfft;
  const TFramePlan* plan = FramePlan_ForFrame(nfft);
  if (plan != nullptr) {
    it->offset_cs = (int16)plan->cosines;
    it->offset_sw = (int16)plan->swaps;
  }
}

void FFTnRC_Destroyed(TFFTnRC* it) { (void)it; }

// Unscaled in-place complex FFT of the N/2 points (p[2n], p[2n+1]), kernel
// e^(-j*2*pi*n*k/(N/2)), radix-2 decimation in time. The first pass reads the
// points in bit-reversed order straight from p (so the reordering needs no
// exchanges) into a scratch frame; the last pass writes back into p.
template <TVecLevel kLevel>
static VEC_INLINE void e_minus_jwt(TFFTnRC* it, mfloat* p) {
  const uint32 n = it->nfft;
  const uint32 half = n / 2;  // complex points
  const uint32 quarter = n / 4;
  float scratch[kMaxFrame];

  // The first three stages have trivial twiddles (1, -j, and the 45 degree
  // multiples), so they are written out without the table. Group g of eight
  // points gathers points rev(8g + j) = rev3(j) * groups + rev(g). The G
  // groups rev(r) ... rev(r+G-1) of r divisible by G gather consecutive
  // points; they are R + revG(L) * groups/G with R = rev(r) (revG reversing
  // the bits of a lane index), and R runs through its values by adding 1 in
  // reversed bit order.
  typedef TWide<kLevel> V;
  constexpr uint32 G = kLanesOf<V> / 2;
  const uint32 groups = half / 8, step = groups / G;
  for (uint32 r = 0, R = 0; r < groups; r += G) {
    mfloat* z[G];
    for (uint32 L = 0; L < G; L++) {
      uint32 reversed = 0;
      for (uint32 b = 1; b < G; b *= 2) reversed = 2 * reversed + ((L & b) != 0);
      z[L] = scratch + 16 * (R + reversed * step);
    }
    FirstStages<kLevel, V>(p + 2 * r, 2 * groups, z);
    uint32 bit = step / 2;
    while (R & bit) {
      R ^= bit;
      bit /= 2;
    }
    R |= bit;
  }

  // Table-driven stages, half span h points, two at a time. The butterflies
  // of one stage are independent, so their order does not matter.
  const mfloat* tw = m_arTwiddle32f + FramePlan_ForFrame(n)->twiddles;
  uint32 h = 8;
  for (; 2 * h <= quarter; h *= 4)
    StagePair<kLevel>(scratch, 4 * h <= quarter ? scratch : p, half, h, tw + 4 * (h - 8),
                      tw + 4 * (2 * h - 8));
  if (h <= quarter) Stage<kLevel>(scratch, p, half, h, tw + 4 * (h - 8));
}

// Bins k ... k+L-1 and their mirrors m ... m-L+1 of the split step, as L
// lanes of real and of imaginary parts, on vectors V of L floats.
template <TVecLevel kLevel, typename V>
VEC_INLINE void SplitLanes(mfloat* p, uint32 n, uint32 k, const mfloat* cs, mfloat s) {
  constexpr uint32 L = kLanesOf<V>;
  const uint32 quarter = n / 4;
  mfloat* pk = p + 2 * k;
  mfloat* pm = p + 2 * (n / 2 - k - (L - 1));
  const V lo = Vec_Load<V>(pk), hi = Vec_Load<V>(pk + L), mlo = Vec_Load<V>(pm), mhi = Vec_Load<V>(pm + L);
  V ak = Permute<kLevel, TEvens>(lo, hi), bk = Permute<kLevel, TOdds>(lo, hi);
  V am = Permute<kLevel, TEvensReversed>(mlo, mhi), bm = Permute<kLevel, TOddsReversed>(mlo, mhi);
  const V vr = Vec_Load<V>(cs + quarter - k - (L - 1));  // sines of k+L-1 ... k
  const V sv = V{} + s;
  SplitBins(ak, bk, am, bm, sv * Vec_Load<V>(cs + k), Permute<kLevel, TReversed>(vr, vr), sv, V{} + 0.5f);
  Vec_Store(pk, Permute<kLevel, TInterleaveLow>(ak, bk));
  Vec_Store(pk + L, Permute<kLevel, TInterleaveHigh>(ak, bk));
  Vec_Store(pm, Permute<kLevel, TInterleaveHighReversed>(am, bm));  // back to ascending bins
  Vec_Store(pm + L, Permute<kLevel, TInterleaveLowReversed>(am, bm));
}

// Split step and halving shared by both directions. Forward: the half-length
// spectrum Z of the even/odd interleaved samples is separated into the
// spectra of the even and odd samples, which are recombined with the
// twiddle e^(-j*2*pi*k/N) into bins k and N/2 - k of the real spectrum (times
// two, hence the halving). Inverse (s = -1): the same identity run backwards
// rebuilds Z from the packed spectrum. Bin N/4 pairs with itself and only
// needs conjugating; DC and Nyquist are left to the caller.
template <TVecLevel kLevel>
static VEC_INLINE void split_halve(TFFTnRC* it, mfloat* p, int isign) {
  const uint32 n = it->nfft;
  const uint32 quarter = n / 4;
  const mfloat* cs = m_arCosTable32f + it->offset_cs;
  const mfloat s = (mfloat)isign;

  // Whole vectors of the level's width (then of eight lanes, if wider), then
  // single bins.
  typedef TWide<kLevel> V;
  uint32 k = 1;
  for (; k + kLanesOf<V> <= quarter; k += kLanesOf<V>) SplitLanes<kLevel, V>(p, n, k, cs, s);
  if constexpr (kLanesOf<V> > 8)
    for (; k + 8 <= quarter; k += 8) SplitLanes<kLevel, V8>(p, n, k, cs, s);
  for (; k < quarter; k++) {
    const uint32 m = n / 2 - k;
    SplitBins(p[2 * k], p[2 * k + 1], p[2 * m], p[2 * m + 1], s * cs[k], cs[quarter - k], s, 0.5f);
  }

  // The halving of the four values the split leaves alone.
  p[0] = p[0] * 0.5f;
  p[1] = p[1] * 0.5f;
  p[n / 2] = (p[n / 2] * 0.5f) * 2.0f;
  p[n / 2 + 1] = (p[n / 2 + 1] * 0.5f) * (-2.0f * s);
}

template <TVecLevel kLevel>
static VEC_INLINE void Fft(TFFTnRC* it, mfloat* p, int isign) {
  const uint32 n = it->nfft;
  if (isign == 1) {
    e_minus_jwt<kLevel>(it, p);
    split_halve<kLevel>(it, p, isign);
    // Z[0] = E[0] + j*O[0]: DC is E[0] + O[0], Nyquist E[0] - O[0].
    const mfloat p0 = p[0], p1 = p[1];
    p[0] = 2.0f * (p0 + p1);
    p[1] = -2.0f * (p1 - p0);
  } else {
    split_halve<kLevel>(it, p, isign);
    // Rebuild Z[0] = (DC + Nyquist)/2 + j*(DC - Nyquist)/2 from the halves.
    const mfloat p0 = p[0], p1 = p[1];
    p[0] = p0 + p1;
    p[1] = p1 - p0;
    // The inverse kernel e^(+j) through the forward one: conj(FFT(conj Z)),
    // the input conjugation being folded into the split step's sign. Then
    // the odd (imaginary) floats are negated and all scaled by 1/N (times 2
    // for the halving).
    e_minus_jwt<kLevel>(it, p);
    const mfloat scale = 2.0f / (mfloat)n;
    typedef TWide<kLevel> V;
    const V scaleV = V{} + scale;
    for (uint32 i = 0; i < n; i += kLanesOf<V>)
      Vec_Store(p + i, FlipSigns(Vec_Load<V>(p + i), kImaginary) * scaleV);
  }
}
VEC_DISPATCH(void, FFTnRC_fft, Fft, (TFFTnRC* it, mfloat* p, int isign), (it, p, isign))

template <TVecLevel kLevel>
static VEC_INLINE void Unpack(TFFTnRC* it, mfloat* fftbuf, mfloat* x, mfloat* y) {
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
VEC_DISPATCH(void, FFTnRC_fftbuf2xy, Unpack, (TFFTnRC* it, mfloat* fftbuf, mfloat* x, mfloat* y),
             (it, fftbuf, x, y))

template <TVecLevel kLevel>
static VEC_INLINE void Pack(TFFTnRC* it, mfloat* x, mfloat* y, mfloat* fftbuf) {
  const uint32 half = it->nfft / 2;
  fftbuf[0] = x[0];
  fftbuf[1] = x[half];
  for (uint32 k = 1; k < half; k++) {
    fftbuf[2 * k] = x[k];
    fftbuf[2 * k + 1] = y[k];
  }
}
VEC_DISPATCH(void, FFTnRC_xy2fftbuf, Pack, (TFFTnRC* it, mfloat* x, mfloat* y, mfloat* fftbuf),
             (it, x, y, fftbuf))

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

template <TVecLevel kLevel>
static VEC_INLINE void Magnitudes(TFFTnRC* it, mfloat* x, mfloat* y, mfloat* R) {
  const uint32 bins = it->nfft / 2 + 1;
  for (uint32 k = 0; k < bins; k++) R[k] = Magnitude(x[k], y[k]);
}
VEC_DISPATCH(void, FFTnRC_xy2R, Magnitudes, (TFFTnRC* it, mfloat* x, mfloat* y, mfloat* R), (it, x, y, R))

void FFTnRC_xy2F(TFFTnRC* it, mfloat* x, mfloat* y, mfloat* F) { Phases(x, y, F, it->nfft / 2 + 1); }

void FFTnRC_xy2RF(TFFTnRC* it, mfloat* x, mfloat* y, mfloat* R, mfloat* F) {
  FFTnRC_xy2R(it, x, y, R);
  FFTnRC_xy2F(it, x, y, F);
}

template <TVecLevel kLevel>
static VEC_INLINE void Rebuild(TFFTnRC* it, mfloat* R, mfloat* F, mfloat* x, mfloat* y) {
  const uint32 bins = it->nfft / 2 + 1;
  float c[kMaxBins], s[kMaxBins];
  FastMath_sincos(F, c, s, bins);
  for (uint32 k = 0; k < bins; k++) {
    x[k] = R[k] * c[k];
    y[k] = R[k] * s[k];
  }
}
VEC_DISPATCH(void, FFTnRC_RF2xy, Rebuild, (TFFTnRC* it, mfloat* R, mfloat* F, mfloat* x, mfloat* y),
             (it, R, F, x, y))

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
