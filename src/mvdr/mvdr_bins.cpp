// Helpers over bins that the stages share.
#include "mvdr_bins.h"

#include <string.h>

namespace {

// Groups of at most 64 bins; count + 2 within + a group padded values.
const uint32_t kMaxGroup = 64;
const uint32_t kPadded = kMvdrMaxBins + 3 * kMvdrMaxReach + kMaxGroup;

// Each bin adds its neighbours from the lowest up (zeros past the ends, so
// every bin runs the same loop), a register of bins at a time: a running sum
// would make every bin wait on the last. Four registers side by side, so
// that four sums (each a chain of dependent additions) are under way at once.
template <TVecLevel kLevel>
VEC_INLINE void Around(const float* __restrict in, float* __restrict out, uint32_t count, uint32_t within) {
  typedef typename TVecLanes<Vec_Floats(kLevel)>::F V;
  const uint32_t lanes = Vec_Floats(kLevel), group = 4 * lanes;
  float padded[kPadded], sums[kPadded];
  within = within < (uint32_t)kMvdrMaxReach ? within : (uint32_t)kMvdrMaxReach;  // what the buffers hold
  const uint32_t span = 2 * within + 1, groups = (count + group - 1) / group;
  memset(padded, 0, (groups * group + 2 * within) * sizeof *padded);
  memcpy(padded + within, in, count * sizeof *in);
  for (uint32_t g = 0; g < groups; g++) {
    const float* at = padded + g * group;
    V s0 = {}, s1 = {}, s2 = {}, s3 = {};
    for (uint32_t j = 0; j < span; j++, at++) {
      V v0, v1, v2, v3;
      memcpy(&v0, at, sizeof v0), memcpy(&v1, at + lanes, sizeof v1);
      memcpy(&v2, at + 2 * lanes, sizeof v2), memcpy(&v3, at + 3 * lanes, sizeof v3);
      s0 += v0, s1 += v1, s2 += v2, s3 += v3;
    }
    float* to = sums + g * group;
    memcpy(to, &s0, sizeof s0), memcpy(to + lanes, &s1, sizeof s1);
    memcpy(to + 2 * lanes, &s2, sizeof s2), memcpy(to + 3 * lanes, &s3, sizeof s3);
  }
  const int reach = (int)within, bins = (int)count;
  for (int k = 0; k < bins; k++) {
    const int lo = k - reach > 0 ? k - reach : 0, hi = k + reach < bins - 1 ? k + reach : bins - 1;
    out[k] = sums[k] / (float)(hi - lo + 1);
  }
}

}  // namespace

VEC_DISPATCH(void, MvdrAround, Around,
             (const float* __restrict in, float* __restrict out, uint32_t count, uint32_t within),
             (in, out, count, within))
