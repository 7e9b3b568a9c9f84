// The engine on arbitrary sample streams, at any rate the hosts accept and
// with any tuning values they accept: every output sample lies within
// +-32767 and no running estimate of any stage becomes NaN or infinite.
// Out-of-bounds access is the sanitizers' to find.
#include <math.h>
#include <stdlib.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "micarray_core.h"

namespace {

// Input layout: the rate and the five tuning values as 16-bit fractions,
// then interleaved stereo samples.
const size_t kSettingsBytes = 12;
const uint32 kMaxSampleRate = 32000;
const float kFractionScale = 65536.0f;  // a 16-bit value v is the fraction v / 65536 in [0, 1)
const int kOutputLimit = 32767;

uint16_t U16(const uint8_t* p) { return (uint16_t)(p[0] | p[1] << 8); }

float Fraction(const uint8_t* p) { return (float)U16(p) / kFractionScale; }

// Every value of `values` is finite.
void CheckFinite(const float* values, uint32 n) {
  for (uint32 i = 0; i < n; i++)
    if (!isfinite(values[i])) abort();
}

// The running estimates of every stage, over the bins in use.
void CheckState(const micarray_core::TMicArray* it) {
  const uint32 F = it->maxFbin, M = it->sizeMic;
  const float scalars[] = {it->sdd, it->sdd_old, it->dtd_coeff[0], it->dtd_coeff[1], it->sDr10a.sDirect};
  CheckFinite(scalars, sizeof scalars / sizeof scalars[0]);
  const TsDirect10a& d = it->sDr10a;
  CheckFinite(d.micPw, M * F);
  for (const float* a : {d.reCoherMics, d.imCoherMics, d.reCoherence, d.imCoherence, d.reWiener, d.imWiener})
    CheckFinite(a, F);
  for (uint32 m = 0; m < M; m++)
    for (const float* a : {it->bm[m].reW, it->bm[m].imW, it->bm[m].reE, it->bm[m].imE}) CheckFinite(a, F);
  for (const float* a : {it->mulC.reW, it->mulC.imW}) CheckFinite(a, M * F);
  for (const float* a : {it->mulC.reE, it->mulC.imE}) CheckFinite(a, F);
  const TFilterWiener& w = it->fwiener;
  for (const float* a : {w.psdS, w.psdSmean, w.psdN, w.psdNmean, w.Hn}) CheckFinite(a, F);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < kSettingsBytes) return 0;
  const uint32 rate = U16(data) % (kMaxSampleRate + 1);
  // The hosts' ranges: (0, 10], (0, 1], [-80, 0], [0.6, 1), [0.6, 1).
  const mfloat Distance = 10.0f * (1.0f - Fraction(data + 2));
  const mfloat speedAlpha = 1.0f - Fraction(data + 4);
  const mfloat pSdb = -80.0f * Fraction(data + 6);
  const mfloat pNn = 0.6f + 0.4f * Fraction(data + 8);
  const mfloat pMn = 0.6f + 0.4f * Fraction(data + 10);
  if (!(pNn < 1.0f && pMn < 1.0f)) abort();  // the mapping itself stays in range

  // One record for every run, filled with NaN patterns first: whatever the
  // engine reads without having initialised it shows up in the checks.
  static TMicArray engine;
  memset(&engine, 0xFF, sizeof engine);
  MicArray_Init(&engine, rate, Distance, speedAlpha, pSdb, pNn, pMn);
  const size_t step = engine.lenght_step;
  const size_t samples = (size - kSettingsBytes) / 2;
  std::vector<int16> inpbuf(2 * step), outbuf(step);
  for (size_t done = 0; done + 2 * step <= samples; done += 2 * step) {
    memcpy(inpbuf.data(), data + kSettingsBytes + 2 * done, inpbuf.size() * 2);
    MicArray_Process(&engine, inpbuf.data(), outbuf.data());
    for (int16 v : outbuf)
      if (v < -kOutputLimit || v > kOutputLimit) abort();
    CheckState(micarray_core::Core(&engine));
  }
  MicArray_Destroyed(&engine);
  return 0;
}
