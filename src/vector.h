// Vector kit: GCC's generic vectors (each + - * / a lane-by-lane IEEE
// operation with one rounding, on x86 and ARM alike), the few operations
// they lack, and the choice of instruction-set level for the functions that
// are compiled once per level. No other file uses processor intrinsics.
#ifndef MICARRAY_VECTOR_H
#define MICARRAY_VECTOR_H

#include "com_struct.h"

#if defined(__x86_64__) || defined(__i386__)
#define MICARRAY_X86 1
#include <emmintrin.h>
#elif defined(__ARM_NEON)
#include <arm_neon.h>
#endif

// Eight floats (one AVX register, two SSE2 or NEON registers) and four.
typedef float V8f __attribute__((vector_size(32)));
typedef int V8i __attribute__((vector_size(32)));
typedef short V16s __attribute__((vector_size(32)));
typedef float V4f __attribute__((vector_size(16)));
typedef int V4i __attribute__((vector_size(16)));

// Helpers inlined into each level's version of a function, so that they run
// with that version's instructions.
#define VEC_INLINE inline __attribute__((always_inline))

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

// Eight time-frame values as 16-bit samples: truncated toward zero inside
// the range, saturated outside it, and 0 for NaN, which carries no sample.
VEC_INLINE void Vec_ToSamples(const mfloat* x, int16* r) {
  typedef short V8s __attribute__((vector_size(16)));
  const V8f zero = {}, low = zero - 32768.0f, high = zero + 32767.0f;
  V8f v = Vec_Load<V8f>(x);
  v = v == v ? v : zero;
  v = v < low ? low : (v > high ? high : v);
  const V8s s = __builtin_convertvector(__builtin_convertvector(v, V8i), V8s);
  __builtin_memcpy(r, &s, sizeof s);
}

// Instruction-set levels of the functions compiled per level. x86 picks the
// highest the processor has; the environment variable MICARRAY_ISA (sse2,
// avx2 or avx512) lowers it, for tests and measurements, and a level the
// processor lacks falls back to the highest it has. Elsewhere there is one
// level, the compiler's baseline (NEON on aarch64).
enum TVecLevel { kVecBase = 0, kVecAvx2 = 1, kVecAvx512 = 2 };
TVecLevel Vec_Level();
const char* Vec_LevelName(TVecLevel level);

#if defined(MICARRAY_X86)
#define VEC_TARGET_AVX2 __attribute__((target("avx2")))
// AVX-512 foundation, double- and quad-word, byte and word, vector length.
#define VEC_TARGET_AVX512 __attribute__((target("avx512f,avx512dq,avx512bw,avx512vl")))
// Defines name(params) as the version of body(args) for the chosen level:
// body is a VEC_INLINE function, compiled here for SSE2 and for AVX2. Every
// version does the same IEEE operations (AVX2 brings no fused multiply-add),
// so all give the same bits; AVX2 handles twice the elements per instruction.
#define VEC_DISPATCH(ret, name, body, params, args)                                   \
  VEC_TARGET_AVX2 static ret name##_Avx2 params { return body args; }                \
  static ret name##_Base params { return body args; }                                \
  ret name params { return Vec_Level() >= kVecAvx2 ? name##_Avx2 args : name##_Base args; }
#else
#define VEC_DISPATCH(ret, name, body, params, args) \
  ret name params { return body args; }
#endif

#endif
