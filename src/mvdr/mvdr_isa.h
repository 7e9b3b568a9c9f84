// Instruction-set levels of the adaptive engine's per-bin kernels. Each
// kernel is written once as an inline body of plain loops over
// structure-of-arrays bins; MVDR_DISPATCH compiles it for SSE2, AVX2 and
// AVX-512 and calls the version of the level the vector kit chose for the
// process (the same level, and the same MICARRAY_ISA override, as the
// classic engine's).
#ifndef MICARRAY_MVDR_ISA_H
#define MICARRAY_MVDR_ISA_H

#include <stdint.h>

#include "vector.h"

// Bodies and helpers inlined into every level's version, so that they run
// with that version's instructions.
#define MVDR_INLINE inline __attribute__((always_inline))

#if defined(MICARRAY_X86)
#define MVDR_DISPATCH(name, params, args)                                  \
  VEC_TARGET_AVX512 static void name##_Avx512 params { name##_Body args; } \
  VEC_TARGET_AVX2 static void name##_Avx2 params { name##_Body args; }     \
  static void name##_Base params { name##_Body args; }                     \
  void name params { VEC_BY_LEVEL(name, args) }
#else
#define MVDR_DISPATCH(name, params, args) \
  void name params { name##_Body args; }
#endif

#endif
