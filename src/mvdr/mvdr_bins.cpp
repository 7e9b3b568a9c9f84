// Helpers over bins that the stages share.
#include "mvdr_bins.h"

#include <string.h>

namespace {

// Bins summed at once (four vectors of eight).
const uint32_t kLanes = sizeof(V8f) / sizeof(float), kGroup = 4 * kLanes;
// Longest reach the callers use: 500 Hz at the finest bins (15.6 Hz), on
// at most kMvdrMaxBins + kMaxReach values.
const uint32_t kMaxReach = 32;
const uint32_t kPadded = kMvdrMaxBins + 3 * kMaxReach + kGroup;

// Each bin adds its neighbours from the lowest up (zeros past the ends, so
// every bin runs the same loop), eight bins at a time in one vector: a
// running sum would make every bin wait on the last.
MVDR_INLINE void MvdrAround_Body(const float* __restrict in, float* __restrict out, uint32_t count,
                                 uint32_t within) {
  // Four vectors of bins side by side, so that four sums (each a chain of
  // dependent additions) are under way at once.
  float padded[kPadded], sums[kPadded];
  within = within < kMaxReach ? within : kMaxReach;  // what the buffers hold
  const uint32_t span = 2 * within + 1, groups = (count + kGroup - 1) / kGroup;
  memset(padded, 0, (groups * kGroup + 2 * within) * sizeof *padded);
  memcpy(padded + within, in, count * sizeof *in);
  for (uint32_t g = 0; g < groups; g++) {
    const float* at = padded + g * kGroup;
    V8f s0 = {}, s1 = {}, s2 = {}, s3 = {};
    for (uint32_t j = 0; j < span; j++, at++) {
      V8f v0, v1, v2, v3;
      memcpy(&v0, at, sizeof v0), memcpy(&v1, at + kLanes, sizeof v1);
      memcpy(&v2, at + 2 * kLanes, sizeof v2), memcpy(&v3, at + 3 * kLanes, sizeof v3);
      s0 += v0, s1 += v1, s2 += v2, s3 += v3;
    }
    float* to = sums + g * kGroup;
    memcpy(to, &s0, sizeof s0), memcpy(to + kLanes, &s1, sizeof s1);
    memcpy(to + 2 * kLanes, &s2, sizeof s2), memcpy(to + 3 * kLanes, &s3, sizeof s3);
  }
  const int reach = (int)within, bins = (int)count;
  for (int k = 0; k < bins; k++) {
    const int lo = k - reach > 0 ? k - reach : 0, hi = k + reach < bins - 1 ? k + reach : bins - 1;
    out[k] = sums[k] / (float)(hi - lo + 1);
  }
}

}  // namespace

MVDR_DISPATCH(MvdrAround, (const float* __restrict in, float* __restrict out, uint32_t count, uint32_t within),
              (in, out, count, within))
