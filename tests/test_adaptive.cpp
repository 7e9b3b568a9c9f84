// Blocking-matrix filter and multi-reference canceller: the normalised-LMS
// update per bin with its unit-circle limit, reference packing and its limits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <random>
#include <vector>

#include "fdafn12.h"
#include "fdafn12_mul.h"

namespace {

typedef std::complex<float> C;
const unsigned char kFill = 0x5A;  // byte pattern of untouched record memory

bool Same(const float* a, const float* b, size_t n) { return std::memcmp(a, b, n * sizeof(float)) == 0; }

// n weights 1 + 1e-20j, followed (when `end` is given) by untouched memory up to end.
bool Fresh(const float* re, const float* im, size_t n, size_t end = 0) {
  for (size_t k = 0; k < n; k++)
    if (re[k] != 1.0f || im[k] != 1e-20f) return false;
  const size_t bytes = end > n ? (end - n) * sizeof(float) : 0;
  auto untouched = [&](const float* p) {
    const unsigned char* b = reinterpret_cast<const unsigned char*>(p + n);
    return std::all_of(b, b + bytes, [](unsigned char c) { return c == kFill; });
  };
  return untouched(re) && untouched(im);
}

// n random non-zero values (one part of a split spectrum), NaN past them so
// that any read beyond the bins in use shows up in the results.
std::vector<float> Random(size_t n, std::mt19937& rng) {
  std::vector<float> v(2 * kMaxBins, NAN);
  std::uniform_real_distribution<float> u(0.1f, 1.0f), sign(-1.0f, 1.0f);
  for (size_t k = 0; k < n; k++) v[k] = std::copysign(u(rng), sign(rng));
  return v;
}

// One bin's update with step 1: weight w, reference x, error e (set through a
// subtraction with step 0, which copies D into E) -> expected weight.
TEST(Fdaf, OneBinUpdateAndTheUnitCircleLimit) {
  const float kAboveOne = std::nextafter(1.0f, 2.0f);
  const struct { const char* what; C w, x, e, expected; } cases[] = {
      {"inside", {0.5f, 0.0f}, {2.0f, 0.0f}, {0.5f, 0.25f}, {0.75f, 0.125f}},
      {"zero reference keeps the weight", {0.25f, -0.5f}, {0.0f, 0.0f}, {3.0f, -2.0f}, {0.25f, -0.5f}},
      {"exactly 1j accepted", {0.0f, 0.5f}, {1.0f, 0.0f}, {0.0f, 0.5f}, {0.0f, 1.0f}},
      {"just above resets", {0.0f, 0.5f}, {1.0f, 0.0f}, {0.0f, kAboveOne - 0.5f}, {1.0f, 0.0f}},
      {"NaN error resets", {0.5f, 0.5f}, {1.0f, 0.0f}, {NAN, 0.0f}, {1.0f, 0.0f}}};
  for (const auto& c : cases) {
    TFDAF12 f;
    FDAF12_Init(&f, 256);
    f.reW[0] = c.w.real(), f.imW[0] = c.w.imag();
    float xr[129] = {c.x.real()}, xi[129] = {c.x.imag()}, dr[129] = {c.e.real()}, di[129] = {c.e.imag()};
    FDAF12_Substration(&f, xr, xi, dr, di, 0.0f);
    FDAF12_Adaptation(&f, xr, xi, 1.0f);
    EXPECT_EQ(C(f.reW[0], f.imW[0]), c.expected) << c.what;
  }
}

// References packed at stride maxFbin, as many as the weight arrays hold; no
// reference copies D (the mean over none would be 0/0).
TEST(MulFdaf, InitClampsToCapacityAndNoReferenceCopiesD) {
  const struct { uint32 nref, nfft, expected; } cases[] = {
      {0, 256, 0}, {1, 256, 1}, {9, 256, 7}, {3, 512, 3}, {4, 512, 3}, {3, 1024, 2}};
  std::mt19937 rng(11);
  for (const auto& c : cases) {
    TMulFDAF12 m;
    std::memset(&m, kFill, sizeof m);
    MulFDAF12_Init(&m, c.nref, c.nfft);
    const uint32 n = c.nfft / 2 + 1, used = c.expected * n;
    EXPECT_EQ(m.nReference, c.expected) << c.nref << " references at " << c.nfft;
    EXPECT_TRUE(Fresh(m.reW, m.imW, used, 2 * kMaxBins));
    std::vector<float> xr = Random(used, rng), xi = Random(used, rng), dr = Random(n, rng), di = Random(n, rng);
    float coeff[7] = {1, 1, 1, 1, 1, 1, 1};
    MulFDAF12_Substration(&m, xr.data(), xi.data(), dr.data(), di.data(), coeff);
    for (uint32 k = 0; k < n; k++) ASSERT_TRUE(std::isfinite(m.reE[k]) && std::isfinite(m.imE[k])) << k;
    EXPECT_TRUE(c.expected != 0 || (Same(m.reE, dr.data(), n) && Same(m.imE, di.data(), n)));
  }
}

}  // namespace
