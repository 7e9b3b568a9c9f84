// The adaptive engine's instruction-set level, chosen once per process.
#include "mvdr_isa.h"

#include <stdlib.h>
#include <string.h>

namespace {

TMvdrIsa Choose() {
#if defined(__x86_64__) || defined(__i386__)
  const bool avx2 = __builtin_cpu_supports("avx2");
  const bool avx512 = avx2 && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
                      __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl");
  const TMvdrIsa best = avx512 ? kMvdrIsaAvx512 : (avx2 ? kMvdrIsaAvx2 : kMvdrIsaBase);
  const char* forced = getenv("MICARRAY_ISA");
  if (forced == nullptr) return best;
  for (int level = kMvdrIsaBase; level <= kMvdrIsaAvx512; level++)
    if (strcmp(forced, MvdrIsa_Name((TMvdrIsa)level)) == 0) return level < best ? (TMvdrIsa)level : best;
  return best;  // an unknown name changes nothing
#else
  return kMvdrIsaBase;
#endif
}

}  // namespace

TMvdrIsa MvdrIsa_Level() {
  static const TMvdrIsa level = Choose();
  return level;
}

const char* MvdrIsa_Name(TMvdrIsa level) {
  static const char* const kNames[] = {"sse2", "avx2", "avx512"};
  return kNames[level];
}
