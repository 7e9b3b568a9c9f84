// Instruction-set levels of the adaptive engine's per-bin kernels. Each
// kernel is written once as an inline body of plain loops over
// structure-of-arrays bins; MVDR_DISPATCH compiles it for SSE2, AVX2 and
// AVX-512 and calls the version of the level chosen for the process.
#ifndef MICARRAY_MVDR_ISA_H
#define MICARRAY_MVDR_ISA_H

#include <stdint.h>

enum TMvdrIsa { kMvdrIsaBase = 0, kMvdrIsaAvx2 = 1, kMvdrIsaAvx512 = 2 };

// The highest level the processor has, lowered by the environment variable
// MICARRAY_ISA (sse2, avx2 or avx512) for tests and measurements; chosen once.
TMvdrIsa MvdrIsa_Level();
const char* MvdrIsa_Name(TMvdrIsa level);

// Bodies and helpers inlined into every level's version, so that they run
// with that version's instructions.
#define MVDR_INLINE inline __attribute__((always_inline))

#if defined(__x86_64__) || defined(__i386__)
#define MVDR_DISPATCH(name, params, args)                                                          \
  __attribute__((target("avx512f,avx512dq,avx512bw,avx512vl"))) static void name##_Avx512 params { \
    name##_Body args;                                                                              \
  }                                                                                                \
  __attribute__((target("avx2"))) static void name##_Avx2 params { name##_Body args; }             \
  static void name##_Base params { name##_Body args; }                                             \
  void name params {                                                                               \
    switch (MvdrIsa_Level()) {                                                                     \
      case kMvdrIsaAvx512:                                                                         \
        return name##_Avx512 args;                                                                 \
      case kMvdrIsaAvx2:                                                                           \
        return name##_Avx2 args;                                                                   \
      default:                                                                                     \
        return name##_Base args;                                                                   \
    }                                                                                              \
  }
#else
#define MVDR_DISPATCH(name, params, args) \
  void name params { name##_Body args; }
#endif

#endif
