// The instruction-set level, chosen once per process.
#include "vector.h"

#include <stdlib.h>
#include <string.h>

namespace {

TVecLevel Choose() {
#if defined(MICARRAY_X86)
  const bool avx2 = __builtin_cpu_supports("avx2");
  const bool avx512 = avx2 && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
                      __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl");
  const TVecLevel best = avx512 ? kVecAvx512 : (avx2 ? kVecAvx2 : kVecBase);
  const char* forced = getenv("MICARRAY_ISA");
  if (forced == nullptr) return best;
  for (int level = kVecBase; level <= kVecAvx512; level++)
    if (strcmp(forced, Vec_LevelName((TVecLevel)level)) == 0) return level < best ? (TVecLevel)level : best;
  return best;  // an unknown name changes nothing
#else
  return kVecBase;
#endif
}

}  // namespace

TVecLevel Vec_Level() {
  static const TVecLevel level = Choose();
  return level;
}

const char* Vec_LevelName(TVecLevel level) {
#if defined(MICARRAY_X86)
  static const char* const kNames[] = {"sse2", "avx2", "avx512"};
  return kNames[level];
#else
  (void)level;
  return "base";
#endif
}
