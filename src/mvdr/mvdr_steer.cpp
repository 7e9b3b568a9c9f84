// Steering vector and capsule calibration.
#include "mvdr_steer.h"

#include <math.h>

#include "mvdr_fastmath.h"

namespace {

// Band where speech dominates often enough and the delay is well defined.
const float kCalLoHz = 200.0f, kCalHiHz = 5000.0f;
// A bin feeds the calibration only if the talker dominates it clearly: the
// generalised eigenvalue ratio above 15 dB (at 6 dB stationary noise near
// the talker pulled the delay off by a third of a sample, measured), and
// the presence probability above one half.
const float kCalEigenRatio = 31.6f;
const float kCalPresence = 0.5f;
// ... and the bin's power stands 15 dB above its floor (the least
// short-term power of the last 0.5-1 s). The eigenvalue test trusts the
// noise covariance, which misses a steady noise that started with the
// talker after a quiet stretch: the calibration then followed such a noise
// 20 degrees off (-10.8 dB, for good). It also keeps out a steady noise
// louder than the talker (white noise 30 degrees off at -5 dB +2.6 dB).
const float kCalOverFloor = 31.6f;
// Plausible capsules: within 6 dB and 50 us of the free field, and a bin
// within 3 dB and 25 us of the current estimate (outliers from reflections
// and other talkers stay out). ln amplitude of 6 dB = 0.691. The delays are
// times, not samples: at 5 cm an interfering talker 20 degrees off lies 50 us
// away, and windows of 0.8 and 0.4 sample at 8 kHz (100 and 50 us) let the
// calibration follow such a talker and null the target.
const float kCalMaxLnGain = 0.691f, kCalMaxSeconds = 50e-6f;
const float kCalNearLnGain = 0.345f, kCalNearSeconds = 25e-6f;
// Below 5 cm the windows shrink with the spacing, to this share of the
// endfire delay (146 us at 5 cm): at 1 cm every direction lies within 29 us.
const float kCalMaxShare = 0.35f;
// Evidence of this many bin-frames since the reset halves the uncertainty
// (about 50 ms of speech). The count does not forget (the capsules do not
// change while the talker pauses); it stops growing at the limit.
const float kCalSettle = 20.0f, kCalSettled = 1e6f;
// The uncertainty also fades with time (0.4 s) whatever the evidence: the
// engine loads its output beam while the calibration is uncertain, and
// without a talker (no evidence) a lone interferer would stay un-nulled.
const float kCalYouthSeconds = 0.4f;
// Sums forget over 3 s; a prior of 10 bin-frames at G = 0, delta = 0 holds
// the estimate at the free field until evidence arrives. Converges in about
// half a second on speech (measured; a prior of 20 took twice as long).
const float kCalSeconds = 3.0f;
const float kCalPrior = 10.0f;

}  // namespace

void MvdrSteer_Retune(TMvdrSteer* it, uint32_t rate, uint32_t n, float distance, float angle) {
  const double pi = 3.14159265358979323846;
  it->bins = n / 2 + 1;
  it->tau = (float)(distance * sin(angle * pi / 180.0) / kMvdrSoundSpeed * rate);
  const float across = distance / kMvdrSoundSpeed;  // endfire delay, seconds
  it->maxDelay = fminf(kCalMaxSeconds, kCalMaxShare * across) * (float)rate;
  it->nearDelay = fminf(kCalNearSeconds, kCalMaxShare * across / 2.0f) * (float)rate;
  for (uint32_t k = 0; k < it->bins; k++) {
    it->omega[k] = (float)(2.0 * pi * k / n);
    const double x = 2.0 * pi * k * rate / n * distance / kMvdrSoundSpeed;
    it->diffuse[k] = k == 0 ? 1.0f : (float)(sin(x) / x);
  }
  it->calLo = (uint32_t)ceilf(kCalLoHz * n / rate);
  it->calHi = (uint32_t)fminf(kCalHiHz * n / rate, (float)(n / 2));
  double sum = 0;
  for (uint32_t k = it->calLo; k < it->calHi; k++) sum += (double)it->omega[k] * it->omega[k];
  it->priorOmega2 = (float)(kCalPrior * sum / (it->calHi - it->calLo));
  it->decay = expf(-(float)(n / 2) / (kCalSeconds * (float)rate));
  it->youthDecay = expf(-(float)(n / 2) / (kCalYouthSeconds * (float)rate));
  MvdrSteer_Update(it);
}

void MvdrSteer_Init(TMvdrSteer* it, uint32_t rate, uint32_t n, float distance, float angle) {
  it->gain = it->delay = 0.0f;
  MvdrSteer_Retune(it, rate, n, distance, angle);
  MvdrSteer_Reset(it);
}

void MvdrSteer_Reset(TMvdrSteer* it) {
  it->gain = it->delay = 0.0f;
  it->sumW = it->sumWG = it->sumWD = it->sumWW2 = 0.0;
  it->evidence = 0.0f;
  it->youth = it->uncertainty = 1.0f;
  MvdrSteer_Update(it);
}

namespace {

MVDR_INLINE void Update_Body(TMvdrSteer* __restrict it) {
  const float amp = MvdrExp(it->gain), shift = it->tau + it->delay;
  for (uint32_t k = 0; k < it->bins; k++) {
    float c, s;
    MvdrSinCos(-it->omega[k] * shift, &c, &s);
    it->d1Re[k] = amp * c;
    it->d1Im[k] = amp * s;
  }
}
MVDR_DISPATCH(Update, (TMvdrSteer* __restrict it), (it))

// Per-bin evidence r' = h1 / d1 (the transfer against the calibrated
// steering): weight p where every test passes, else 0. The eigenvalue
// problem, the phase and the logarithms run in separate loops: each is a
// long chain of divisions per bin, and shorter loops let the processor
// overlap more bins.
MVDR_INLINE void Evidence_Body(TMvdrSteer* __restrict it, const TMvdrCov* __restrict x,
                               const TMvdrCov* __restrict noise, const float* __restrict inputFloor,
                               const float* __restrict presence) {
  alignas(64) float numRe[kMvdrMaxBins], numIm[kMvdrMaxBins], den[kMvdrMaxBins];  // conj(s01 d1), s00 |d1|^2
  for (uint32_t k = it->calLo; k < it->calHi; k++) {
    const float load = kMvdrLoading * 0.5f * (noise->p00[k] + noise->p11[k]) + kMvdrPowerFloor;
    // Both matrices scaled by one factor (the eigenvalues do not change) to
    // keep the quadratic's terms inside single precision's range.
    const float scale = 1.0f / (noise->p00[k] + noise->p11[k] + 2.0f * load);
    const float n00 = (noise->p00[k] + load) * scale, n11 = (noise->p11[k] + load) * scale;
    const float nr = noise->re01[k] * scale, ni = noise->im01[k] * scale;
    const float x00 = x->p00[k] * scale, x11 = x->p11[k] * scale;
    const float xr = x->re01[k] * scale, xi = x->im01[k] * scale;
    // det(Phi_x - l Psi) = A l^2 - B l + C = 0.
    const float A = n00 * n11 - (nr * nr + ni * ni);
    const float B = x00 * n11 + x11 * n00 - 2.0f * (xr * nr + xi * ni);
    const float C = x00 * x11 - (xr * xr + xi * xi);
    const float disc = B * B - 4.0f * A * C;
    const float root = sqrtf(disc > 0.0f ? disc : 0.0f);
    const float l1 = (B + root) / (2.0f * A);
    const float l2 = 2.0f * (C > 0.0f ? C : 0.0f) / (B + root + 1e-30f);
    // Rank-one target part: h1 = conj(s01) / s00; r' = h1 / d1.
    const float s00 = x00 - l2 * n00, sr = xr - l2 * nr, si = xi - l2 * ni;
    const float dr = it->d1Re[k], di = it->d1Im[k];
    numRe[k] = sr * dr - si * di, numIm[k] = -(sr * di + si * dr);
    den[k] = s00 * (dr * dr + di * di);
    // & rather than &&: every test is evaluated, so the loop has no branch.
    const bool ok = (presence[k] > kCalPresence) & (l1 > kCalEigenRatio * l2) & (s00 > 0.0f) &
                    (x->p00[k] + x->p11[k] >= kCalOverFloor * inputFloor[k]);
    it->cw[k] = ok ? presence[k] : 0.0f;  // the weight so far; the second loop's tests follow
  }
  alignas(64) float arg[kMvdrMaxBins];
  for (uint32_t k = it->calLo; k < it->calHi; k++) arg[k] = MvdrAtan2(numIm[k], numRe[k]);
  const float G = it->gain, delta = it->delay;
  for (uint32_t k = it->calLo; k < it->calHi; k++) {
    const float re = numRe[k], im = numIm[k];
    const float lnR = 0.5f * MvdrLn(re * re + im * im) - MvdrLn(den[k]);
    const float argR = arg[k];
    const float w = it->omega[k];
    const float lnFree = lnR + G, argFree = argR - w * delta;  // against the free field
    const bool ok = (fabsf(lnFree) < kCalMaxLnGain) & (fabsf(argFree) < it->maxDelay * w) &
                    (fabsf(lnR) < kCalNearLnGain) & (fabsf(argR) < it->nearDelay * w);
    const float weight = ok ? it->cw[k] : 0.0f;
    it->cw[k] = weight;
    it->cg[k] = weight * lnFree;
    it->cd[k] = -weight * w * argFree;
  }
}
MVDR_DISPATCH(Evidence,
              (TMvdrSteer* __restrict it, const TMvdrCov* __restrict x, const TMvdrCov* __restrict noise,
               const float* __restrict inputFloor, const float* __restrict presence),
              (it, x, noise, inputFloor, presence))

}  // namespace

void MvdrSteer_Update(TMvdrSteer* it) { Update(it); }

void MvdrSteer_Calibrate(TMvdrSteer* it, const TMvdrCov* x, const TMvdrCov* noise, const float* inputFloor,
                         const float* presence) {
  Evidence(it, x, noise, inputFloor, presence);
  double w = 0, wg = 0, wd = 0, ww2 = 0;
  for (uint32_t k = it->calLo; k < it->calHi; k++) {
    w += it->cw[k], wg += it->cg[k], wd += it->cd[k];
    ww2 += it->cw[k] * it->omega[k] * it->omega[k];
  }
  it->sumW = it->decay * it->sumW + w;
  it->sumWG = it->decay * it->sumWG + wg;
  it->sumWD = it->decay * it->sumWD + wd;
  it->sumWW2 = it->decay * it->sumWW2 + ww2;
  const float G = (float)(it->sumWG / (it->sumW + kCalPrior));
  const float delta = (float)(it->sumWD / (it->sumWW2 + it->priorOmega2));
  it->gain = fminf(fmaxf(G, -kCalMaxLnGain), kCalMaxLnGain);
  it->delay = fminf(fmaxf(delta, -it->maxDelay), it->maxDelay);
  it->evidence = fminf(it->evidence + (float)w, kCalSettled);
  it->youth *= it->youthDecay;
  it->uncertainty = it->youth * kCalSettle / (kCalSettle + it->evidence);
  Update(it);
}
