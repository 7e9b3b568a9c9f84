// Direction detector: the direction band, and the direction-match value and
// coherence gain on spectra whose answer is known. (The engine always looks
// straight ahead, so the quantisation of other look angles is not checked.)
#include <gtest/gtest.h>
#include <math.h>

#include <complex>
#include <memory>
#include <random>
#include <vector>

#include "sdirect10a.h"

namespace {

typedef std::complex<float> C;
const uint32 kSizes[] = {256, 512, 1024};

// A detector record (zeroed, so whole arrays compare) looking at `angle`.
std::unique_ptr<TsDirect10a> NewDetector(uint32 rate, uint32 nfft, float alfa, float angle) {
  std::unique_ptr<TsDirect10a> d(new TsDirect10a());
  sDirect10a_Init(d.get(), rate, nfft, alfa);
  sDirect10a_SetVectorDirect(d.get(), angle, 0.05f);
  return d;
}

float NonZero(std::mt19937& rng) {
  std::uniform_real_distribution<float> mag(1.0f, 1000.0f);
  return (rng() & 1) ? mag(rng) : -mag(rng);
}

// Channel-major spectra: X0 random non-zero times level, X1 = mic1(k, X0).
struct Spectra {
  template <typename F>
  Spectra(uint32 bins, std::mt19937& rng, F mic1, float level = 1.0f) : re(2 * bins), im(2 * bins) {
    for (uint32 k = 0; k < bins; k++) {
      const C x0 = level * C(NonZero(rng), NonZero(rng)), x1 = mic1(k, x0);
      re[k] = x0.real(), im[k] = x0.imag(), re[bins + k] = x1.real(), im[bins + k] = x1.imag();
    }
  }
  C X(uint32 m, uint32 k) const { return {re[m * re.size() / 2 + k], im[m * re.size() / 2 + k]}; }
  std::vector<float> re, im;
};

void Detect(TsDirect10a* d, Spectra s) { sDirect10a_Detect(d, s.re.data(), s.im.data()); }
C Gain(const TsDirect10a& d, uint32 k) { return {d.reWiener[k], d.imWiener[k]}; }

// The band starts at the bin nearest 615 Hz; an empty one gives sDirect 0.
TEST(Band, LowerBinAndEmptyBand) {
  const uint32 kEmpty = 0;
  const struct { uint32 rate, nfft, lower; } cases[] = {
      {8000, 256, 20}, {11025, 512, 29}, {16000, 512, 20}, {22050, 1024, 29}, {32000, 1024, 20},
      {1226, 256, 128}, {1225, 256, kEmpty}, {1000, 512, kEmpty}, {1, 1024, kEmpty}, {0, 256, kEmpty}};
  std::mt19937 rng(3);
  for (const auto& c : cases) {
    auto d = NewDetector(c.rate, c.nfft, 0.3f, 0.0f);
    const uint32 bins = c.nfft / 2 + 1;
    EXPECT_TRUE(c.lower == kEmpty ? d->lower_fbin >= bins : d->lower_fbin == c.lower) << c.rate;
    Detect(d.get(), Spectra(bins, rng, [](uint32, C x0) { return -x0; }));
    EXPECT_EQ(d->sDirect, c.lower == kEmpty ? 0.0f : -1.0f) << c.rate;
    for (uint32 k = 0; k < bins; k++) ASSERT_TRUE(isfinite(d->reWiener[k]) && isfinite(d->imWiener[k])) << k;
  }
}

class Detection : public ::testing::TestWithParam<uint32> {
 protected:
  const uint32 nfft = GetParam(), bins = nfft / 2 + 1, rate = nfft * 125 / 4;  // 8000, 16000, 32000
  std::mt19937 rng{GetParam()};
};

INSTANTIATE_TEST_SUITE_P(Sizes, Detection, ::testing::ValuesIn(kSizes));

// X1 = factor * D * X0 (D steering the look angle): sDirect is the sign of
// factor, the gain factor * conj(D) (0 if silent), applied by the filter in place.
TEST_P(Detection, KnownSpectraGiveTheirDirectionAndGain) {
  const struct { float angle, factor, level, sDirect; } cases[] = {
      {0, 1, 1, 1}, {0, -1, 1, -1}, {45, 1, 1, 1}, {90, 1, 1, 1}, {-30, 1, 1, 1}, {-60, -1, 1, -1}, {0, 1, 0, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.angle << " deg, factor " << c.factor << ", level " << c.level);
    auto d = NewDetector(rate, nfft, 0.3f, c.angle);
    auto D = [&](uint32 k) { return C(d->reDirVec[0][k], d->imDirVec[0][k]); };
    for (int step = 0; step < 6; step++) {
      Detect(d.get(), Spectra(bins, rng, [&](uint32 k, C x0) { return c.factor * D(k) * x0; }, c.level));
      EXPECT_NEAR(d->sDirect, c.sDirect, 1e-6f);
      for (uint32 k = 0; k < bins; k++)
        ASSERT_LE(std::abs(Gain(*d, k) - c.level * c.factor * conj(D(k))), 1e-5f * c.level) << k;
    }
    Spectra y(bins, rng, [](uint32, C x0) { return x0; }), x = y;
    sDirect10a_FilterWiener(d.get(), y.re.data(), y.im.data(), y.re.data(), y.im.data());
    for (uint32 k = 0; k < bins; k++)
      ASSERT_LE(std::abs(y.X(0, k) - x.X(0, k) * Gain(*d, k)), 1e-6f * std::abs(x.X(0, k))) << k;
    sDirect10a_Reset(d.get());  // back to no direction and unit gain
    EXPECT_EQ(d->sDirect, 0.0f);
    for (uint32 k = 0; k < bins; k++) ASSERT_EQ(Gain(*d, k), C(1.0f, 0.0f)) << k;
  }
}

}  // namespace
