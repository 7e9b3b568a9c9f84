// Manual check of the fast arc tangent, cosine and sine against the C
// library over every float argument (or a range of bit patterns), and of the
// fast atan2 over random argument pairs. Prints the number of arguments
// checked, the differences (there must be none), how many library results lie
// within 2^-40 of a float rounding boundary, and the hardest arguments found.
//
// usage: fastmath_exhaustive atan|cos|sincos_cos|sincos_sin [FIRST LAST]
//          (bit patterns, hex, inclusive)
//        fastmath_exhaustive atan2 [COUNT [SEED]]   (random pairs)
#include <cfloat>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fastmath_check.h"

namespace {

const uint32 kBlock = 1 << 16;
const double kHardDistance = 0x1p-40;
const int kHardest = 8;

struct Tally {
  uint64_t checked = 0, differences = 0, hard = 0;
  struct Hard {
    float y, x;
    double distance;
  } hardest[kHardest];
  int kept = 0;

  void Add(float y, float x, float fast, double library) {
    checked++;
    if (!SameFloat(fast, (float)library)) {
      if (differences++ < 10) printf("difference at %a, %a: %a, library %a\n", y, x, fast, (float)library);
    }
    const double d = BoundaryDistance(library);
    if (d > kHardDistance) return;
    hard++;
    if (kept == kHardest && d >= hardest[kHardest - 1].distance) return;
    int at = kept < kHardest ? kept++ : kHardest - 1;
    for (; at > 0 && hardest[at - 1].distance > d; at--) hardest[at] = hardest[at - 1];
    hardest[at] = {y, x, d};
  }

  void Print(const char* name, bool pair) const {
    printf("%s: %" PRIu64 " arguments, %" PRIu64 " differences, %" PRIu64 " within 2^-40 of a rounding boundary\n",
           name, checked, differences, hard);
    for (int i = 0; i < kept; i++) {
      if (pair)
        printf("  hardest: %a, %a (2^%.1f)\n", hardest[i].y, hardest[i].x, std::log2(hardest[i].distance));
      else
        printf("  hardest: %a (2^%.1f)\n", hardest[i].y, std::log2(hardest[i].distance));
    }
  }
};

int Unary(const std::string& name, uint64_t first, uint64_t last) {
  const TUnary* f = nullptr;
  for (const TUnary& u : kUnaries)
    if (name == u.name) f = &u;
  if (f == nullptr) return 2;
  std::vector<float> x(kBlock), y(kBlock);
  Tally tally;
  for (uint64_t start = first; start <= last; start += kBlock) {
    const uint32 n = (uint32)(last - start + 1 < kBlock ? last - start + 1 : kBlock);
    for (uint32 i = 0; i < n; i++) x[i] = FromBits((uint32_t)(start + i));
    f->fast(x.data(), y.data(), n);
    for (uint32 i = 0; i < n; i++) tally.Add(x[i], 0.0f, y[i], f->library((double)x[i]));
  }
  tally.Print(name.c_str(), false);
  return tally.differences != 0;
}

int Atan2(uint64_t count, uint64_t seed) {
  std::vector<float> y(kBlock), x(kBlock), r(kBlock);
  Tally tally;
  uint64_t s = seed | 1;
  for (uint64_t done = 0; done < count; done += kBlock) {
    const uint32 n = (uint32)(count - done < kBlock ? count - done : kBlock);
    for (uint32 i = 0; i < n; i++) {
      s ^= s << 13;
      s ^= s >> 7;
      s ^= s << 17;
      // Half the pairs from all bit patterns, half as coherence values in [-1, 1].
      if (i & 1) {
        y[i] = FromBits((uint32_t)s);
        x[i] = FromBits((uint32_t)(s >> 32));
      } else {
        y[i] = (float)(int32_t)s * 0x1p-31f;
        x[i] = (float)(int32_t)(s >> 32) * 0x1p-31f;
      }
    }
    FastMath_atan2(y.data(), x.data(), r.data(), n);
    for (uint32 i = 0; i < n; i++) tally.Add(y[i], x[i], r[i], atan2((double)y[i], (double)x[i]));
  }
  tally.Print("atan2", true);
  return tally.differences != 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string name = argc > 1 ? argv[1] : "";
  if (name == "atan2")
    return Atan2(argc > 2 ? strtoull(argv[2], nullptr, 0) : 1ull << 32, argc > 3 ? strtoull(argv[3], nullptr, 0) : 1);
  const uint64_t first = argc > 3 ? strtoull(argv[2], nullptr, 16) : 0;
  const uint64_t last = argc > 3 ? strtoull(argv[3], nullptr, 16) : 0xffffffffull;
  const int status = Unary(name, first, last);
  if (status == 2)
    fprintf(stderr, "usage: %s atan|cos|sincos_cos|sincos_sin [FIRST LAST] | atan2 [COUNT [SEED]]\n", argv[0]);
  return status;
}
