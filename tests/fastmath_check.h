// What the test of the fast transcendentals and the exhaustive tool share:
// float bit patterns, the distance from a rounding boundary, and the
// one-argument functions beside the C library functions they must match.
#ifndef MICARRAY_TEST_FASTMATH_CHECK_H
#define MICARRAY_TEST_FASTMATH_CHECK_H

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fastmath.h"

inline float FromBits(uint32_t u) {
  float f;
  memcpy(&f, &u, sizeof f);
  return f;
}

inline uint32_t ToBits(float f) {
  uint32_t u;
  memcpy(&u, &f, sizeof u);
  return u;
}

// The same float; any NaN matches any NaN.
inline bool SameFloat(float a, float b) { return (std::isnan(a) && std::isnan(b)) || ToBits(a) == ToBits(b); }

// Relative distance of v from the nearest rounding boundary between floats
// (infinite for values that no boundary can be near: 0, infinities, NaN).
inline double BoundaryDistance(double v) {
  if (!std::isfinite(v) || v == 0.0) return INFINITY;
  const float f = (float)v;
  const float other = v > f ? std::nextafter(f, INFINITY) : std::nextafter(f, -INFINITY);
  return std::fabs(v - ((double)f + (double)other) / 2.0) / std::fabs(v);
}

struct TUnary {
  const char* name;
  void (*fast)(const mfloat* x, mfloat* y, uint32 n);
  double (*library)(double);
};

// The cosine and the sine come together; each half is checked on its own.
inline void CosOfSinCos(const mfloat* x, mfloat* c, uint32 n) {
  std::vector<float> s(n);
  FastMath_sincos(x, c, s.data(), n);
}
inline void SinOfSinCos(const mfloat* x, mfloat* s, uint32 n) {
  std::vector<float> c(n);
  FastMath_sincos(x, c.data(), s, n);
}

const TUnary kAtan = {"atan", FastMath_atan, [](double x) { return atan(x); }};
const TUnary kCos = {"cos", FastMath_cos, [](double x) { return cos(x); }};
const TUnary kSinCosCos = {"sincos_cos", CosOfSinCos, [](double x) { return cos(x); }};
const TUnary kSinCosSin = {"sincos_sin", SinOfSinCos, [](double x) { return sin(x); }};
const TUnary kUnaries[] = {kAtan, kCos, kSinCosCos, kSinCosSin};

#endif
