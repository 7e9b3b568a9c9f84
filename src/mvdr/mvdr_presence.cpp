// Target presence probability per bin.
#include "mvdr_presence.h"

#include "mvdr_fastmath.h"

namespace {

// Ratio and exponent limits: beyond them the probability is 0 or 1 to
// single precision anyway.
const float kMaxXi = 1000.0f, kMaxExponent = 500.0f;
// Smallest target-to-noise ratio the test assumes (15 dB, as the stationary
// tracker's): with the estimate alone, a bin without target (xi = 0) would
// get the prior, 1/2, whatever it holds; with the floor, noise at the
// expected residual power (gamma near 1) scores about 0.07.
const float kMinXi = 31.6f;

MVDR_INLINE void Update_Body(TMvdrPresence* __restrict it, const TMvdrBeam* __restrict beam) {
  const TMvdrCov* x = &beam->x;
  alignas(64) float ratio[kMvdrMaxBins], exponent[kMvdrMaxBins];
  for (uint32_t k = 0; k < it->bins; k++) {
    const float w0r = beam->w0Re[k], w0i = beam->w0Im[k], w1r = beam->w1Re[k], w1i = beam->w1Im[k];
    // conj(w0) w1
    const float cr = w0r * w1r + w0i * w1i, ci = w0r * w1i - w0i * w1r;
    const float out = (w0r * w0r + w0i * w0i) * x->p00[k] + (w1r * w1r + w1i * w1i) * x->p11[k] +
                      2.0f * (cr * x->re01[k] - ci * x->im01[k]);
    const float residual = beam->residual[k];
    const float excess = (out - residual) / residual;
    const float xi = excess < kMinXi ? kMinXi : (excess > kMaxXi ? kMaxXi : excess);
    const float gamma = (beam->y.re[k] * beam->y.re[k] + beam->y.im[k] * beam->y.im[k]) / residual;
    const float e = gamma * xi / (1.0f + xi);
    ratio[k] = xi, exponent[k] = e < kMaxExponent ? e : kMaxExponent;
  }
  for (uint32_t k = 0; k < it->bins; k++) it->p[k] = 1.0f / (1.0f + (1.0f + ratio[k]) * MvdrExp(-exponent[k]));
}
MVDR_DISPATCH(Update, (TMvdrPresence* __restrict it, const TMvdrBeam* __restrict beam), (it, beam))

}  // namespace

void MvdrPresence_Init(TMvdrPresence* it, uint32_t n) {
  it->bins = n / 2 + 1;
  for (uint32_t k = 0; k < kMvdrMaxBins; k++) it->p[k] = 0.0f;
}

void MvdrPresence_Update(TMvdrPresence* it, const TMvdrBeam* beam) { Update(it, beam); }
