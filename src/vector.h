// Vector kit: GCC's generic vectors (each + - * / a lane-by-lane IEEE
// operation with one rounding, on x86 and ARM alike), the few operations
// they lack, and the choice of instruction-set level for the functions that
// are compiled once per level. No other file uses processor intrinsics.
#ifndef MICARRAY_VECTOR_H
#define MICARRAY_VECTOR_H

#include <math.h>
#include <stddef.h>

#include <type_traits>
#include <utility>

#include "com_struct.h"

#if defined(__x86_64__) || defined(__i386__)
#define MICARRAY_X86 1
#include <emmintrin.h>
#elif defined(__ARM_NEON)
#include <arm_neon.h>
#endif

// Eight floats (one AVX register, two SSE2 or NEON registers) and four.
typedef float V8f __attribute__((vector_size(32)));
typedef float V4f __attribute__((vector_size(16)));
typedef int V4i __attribute__((vector_size(16)));

// Groups of kLanes doubles (D) and floats (F), their lane masks (L, I), and
// 16-bit integers (S).
// (Templates take these through typename: GCC applies a vector size that
// depends on a template argument only outside the template that declares it.)
template <uint32 kLanes>
struct TVecLanes {
  typedef double D __attribute__((vector_size(kLanes * sizeof(double))));
  typedef long long L __attribute__((vector_size(kLanes * sizeof(long long))));
  typedef float F __attribute__((vector_size(kLanes * sizeof(float))));
  typedef int I __attribute__((vector_size(kLanes * sizeof(int))));
  typedef short S __attribute__((vector_size(kLanes * sizeof(short))));
};

// Helpers inlined into each level's version of a function, so that they run
// with that version's instructions.
#define VEC_INLINE inline __attribute__((always_inline))

// Whether the lanes of V are floating-point numbers.
template <typename V>
constexpr bool kVecFloating =
    std::is_floating_point<std::remove_reference_t<decltype(std::declval<V&>()[0])>>::value;

// __builtin_convertvector(v, To) from 32-bit to 64-bit lanes (float or int
// to double or long long). GCC converts eight lanes in two halves, but the
// low half of sixteen in one instruction (AVX-512): eight take that way,
// with the upper lanes left undefined.
template <typename To, typename From>
VEC_INLINE To Vec_Widen(From v) {
  if constexpr (sizeof(From) == 8 * sizeof(int)) {
    typedef TVecLanes<16> W;
    typedef typename std::conditional<kVecFloating<To>, typename W::D, typename W::L>::type ToW;
    typedef typename std::conditional<kVecFloating<From>, typename W::F, typename W::I>::type FromW;
    const FromW wide = __builtin_shufflevector(v, v, 0, 1, 2, 3, 4, 5, 6, 7, -1, -1, -1, -1, -1, -1, -1, -1);
    const ToW converted = __builtin_convertvector(wide, ToW);
    To low;
    __builtin_memcpy(&low, &converted, sizeof low);
    return low;
  } else {
    return __builtin_convertvector(v, To);
  }
}

template <typename V>
VEC_INLINE V Vec_Load(const mfloat* p) {
  V v;
  __builtin_memcpy(&v, p, sizeof v);
  return v;
}
template <typename V>
VEC_INLINE void Vec_Store(mfloat* p, V v) {
  __builtin_memcpy(p, &v, sizeof v);
}

// Instruction-set levels of the functions compiled per level. x86 picks the
// highest the processor has; the environment variable MICARRAY_ISA (sse2,
// avx2 or avx512) lowers it, for tests and measurements, and a level the
// processor lacks falls back to the highest it has. Elsewhere there is one
// level, the compiler's baseline (NEON on aarch64).
enum TVecLevel { kVecBase = 0, kVecAvx2 = 1, kVecAvx512 = 2 };
TVecLevel Vec_Level();
const char* Vec_LevelName(TVecLevel level);

// Floats in one register of the level: a group of that many lanes is one
// instruction per operation (doubles: half as many).
constexpr uint32 Vec_Floats(TVecLevel level) {
  return level >= kVecAvx512 ? 16 : (level >= kVecAvx2 ? 8 : 4);
}

// Result half o of a shuffle of 2N lanes, picked from two of the four source
// halves (lane k of the pair a, b lies in half k / N).
template <int... kIdx>
struct TVecHalves {
  static constexpr int kN = sizeof...(kIdx) / 2;
  static constexpr int At(int i) {
    constexpr int idx[] = {kIdx...};
    return idx[i];
  }
  static constexpr int First(int o) { return At(o * kN) / kN; }
  static constexpr int Second(int o) {
    for (int j = 0; j < kN; j++)
      if (At(o * kN + j) / kN != First(o)) return At(o * kN + j) / kN;
    return First(o);
  }
  static constexpr bool TwoSources(int o) {
    for (int j = 0; j < kN; j++)
      if (At(o * kN + j) / kN != First(o) && At(o * kN + j) / kN != Second(o)) return false;
    return true;
  }
  static constexpr int Lane(int o, int j) {
    return At(o * kN + j) % kN + (At(o * kN + j) / kN == First(o) ? 0 : kN);
  }
  template <int o, typename H, size_t... j>
  static VEC_INLINE H Half(const H* part, std::index_sequence<j...>) {
    static_assert(TwoSources(o), "every half of the result comes from two source halves");
    return __builtin_shufflevector(part[First(o)], part[Second(o)], Lane(o, j)...);
  }
};

// The lanes kIdx of the pair (a, b) (b's lanes numbered after a's), as
// __builtin_shufflevector picks them. Below AVX2, and on NEON, a vector of
// 32 bytes takes two registers and the compiler would move such a shuffle
// lane by lane through memory: there each half of the result is one shuffle
// of two source halves.
template <TVecLevel kLevel, int... kIdx, typename V>
VEC_INLINE V Vec_Shuffle(V a, V b) {
  if constexpr (kLevel >= kVecAvx2 || sizeof(V) <= 16) {
    return __builtin_shufflevector(a, b, kIdx...);
  } else {
    typedef __typeof__(a[0]) E;
    typedef E H __attribute__((vector_size(sizeof(V) / 2)));
    typedef TVecHalves<kIdx...> S;
    H part[4], out[2];
    __builtin_memcpy(part, &a, sizeof a);
    __builtin_memcpy(part + 2, &b, sizeof b);
    out[0] = S::template Half<0>(part, std::make_index_sequence<S::kN>());
    out[1] = S::template Half<1>(part, std::make_index_sequence<S::kN>());
    V r;
    __builtin_memcpy(&r, out, sizeof r);
    return r;
  }
}

// Bit k set where lane k of the comparison result is true (all ones).
VEC_INLINE int Vec_Mask(V4i lanes) {
#if defined(MICARRAY_X86)
  return _mm_movemask_ps((__m128)lanes);
#elif defined(__aarch64__)
  const uint32x4_t bit = {1, 2, 4, 8};
  return (int)vaddvq_u32(vandq_u32((uint32x4_t)lanes, bit));
#else
  int bits = 0;
  for (int k = 0; k < 4; k++) bits |= (lanes[k] != 0) << k;
  return bits;
#endif
}

// truncf(x) for x within the int32 range, but a zero result may lose its
// sign. SSE2 has no rounding instruction: there the conversions to a 32-bit
// integer and back, in their vector forms, are a shorter chain of latencies
// than the library's sequence through the integer registers.
template <TVecLevel kLevel>
VEC_INLINE float Vec_TruncInt(float x) {
#if defined(MICARRAY_X86)
  if constexpr (kLevel == kVecBase) return _mm_cvtss_f32(_mm_cvtepi32_ps(_mm_cvttps_epi32(_mm_set1_ps(x))));
#endif
  return truncf(x);
}

// kLanes time-frame values as 16-bit samples: truncated toward zero inside
// the range, saturated outside it, and 0 for NaN, which carries no sample.
// (One register of the level: wider selections would go lane by lane below
// AVX2.)
template <uint32 kLanes>
VEC_INLINE void Vec_ToSamples(const mfloat* x, int16* r) {
  typedef typename TVecLanes<kLanes>::F F;
  typedef typename TVecLanes<kLanes>::I I;
  typedef typename TVecLanes<kLanes>::S S;
  const F zero = {}, low = zero - 32768.0f, high = zero + 32767.0f;
  F v = Vec_Load<F>(x);
  v = v == v ? v : zero;
  v = v < low ? low : (v > high ? high : v);
  const S s = __builtin_convertvector(__builtin_convertvector(v, I), S);
  __builtin_memcpy(r, &s, sizeof s);
}

#if defined(MICARRAY_X86)
#define VEC_TARGET_AVX2 __attribute__((target("avx2")))
// AVX-512 foundation, double- and quad-word, byte and word, vector length.
#define VEC_TARGET_AVX512 __attribute__((target("avx512f,avx512dq,avx512bw,avx512vl")))
// Defines name(params) as the version of body<level>(args) for the chosen
// level: body is a VEC_INLINE function template, compiled here for SSE2,
// AVX2 and AVX-512. Every version does the same IEEE operations (no fused
// multiply-add: contraction is off), so all give the same bits; the wider
// levels handle two and four times the elements per instruction.
#define VEC_DISPATCH(ret, name, body, params, args)                                  \
  VEC_TARGET_AVX512 static ret name##_Avx512 params { return body<kVecAvx512> args; } \
  VEC_TARGET_AVX2 static ret name##_Avx2 params { return body<kVecAvx2> args; }       \
  static ret name##_Base params { return body<kVecBase> args; }                       \
  ret name params { VEC_BY_LEVEL(name, args) }
// The body of a dispatching function: calls name_Avx512, name_Avx2 or
// name_Base with args, by the chosen level.
#define VEC_BY_LEVEL(name, args) \
  switch (Vec_Level()) {         \
    case kVecAvx512:             \
      return name##_Avx512 args; \
    case kVecAvx2:               \
      return name##_Avx2 args;   \
    default:                     \
      return name##_Base args;   \
  }
#else
#define VEC_DISPATCH(ret, name, body, params, args) \
  ret name params { return body<kVecBase> args; }
#endif

#endif
