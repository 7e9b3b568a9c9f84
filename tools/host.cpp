#include "host.h"

#include <stdio.h>
#include <stdlib.h>

namespace {

// Text that is not a number reads as 0, which every range below refuses or
// accepts as a value like any other.
mfloat ParseReal(const char* text) { return (mfloat)strtod(text, nullptr); }

bool Refuse(const char* message) {
  puts(message);
  return false;
}

bool RefuseWithValue(const char* message, mfloat value) {
  puts(message);
  printf("Current value: %f\n", value);
  return false;
}

}  // namespace

bool HostTuning_Parse(THostTuning* it, char* const* args) {
  // Bounds are single-precision values, so "0.6" (0.60000002f) is accepted.
  // Each test states what is accepted, so "nan" (never in range) is refused.
  it->Distance = ParseReal(args[0]);
  if (!(it->Distance > 0.0f && it->Distance <= 10.0f))
    return RefuseWithValue("Distance between sensors [meter] must be (0.0, 10.0]", it->Distance);
  it->speedAlpha = ParseReal(args[1]);
  if (!(it->speedAlpha > 0.0f && it->speedAlpha <= 1.0f))
    return RefuseWithValue("Speed adaptation must be (0.0, 1.0]", it->speedAlpha);
  it->pSdb = ParseReal(args[2]);
  if (!(it->pSdb <= 0.0f && it->pSdb >= -80.0f)) return Refuse("pSdb: [-80.0, 0.0] dB, default: -15.0 ");
  // The messages say 0.999; every value below 1.0 is accepted.
  it->pNn = ParseReal(args[3]);
  if (!(it->pNn >= 0.6f && it->pNn < 1.0f)) return Refuse("pNn: [0.6, 0.999], default: 0.90 ");
  it->pMn = ParseReal(args[4]);
  if (!(it->pMn >= 0.6f && it->pMn < 1.0f)) return Refuse("pMn: [0.6, 0.999], default: 0.98 ");
  return true;
}

void Host_PrintTuningUsage() {
  puts("<Distance> - Distance between sensors [meter], default: 0.05");
  puts("<Speed> - Speed adaptation of source direct detection (0.0, 1.0], default: 0.07");
  puts("<pSdb> - Limitation suppression [-80.0, 0.0] dB, default: -15.0 ");
  puts("<pNn> - Noise adaptation rate [0.6, 0.999], default: 0.90 ");
  puts("<pMn> - Musical noise reduction [0.6, 0.999], default: 0.98");
}

void Host_PrintBanner() {
  printf("%s\n%s\n%s\n", MicArray_Info.product_name, MicArray_Info.product_version,
         MicArray_Info.product_company);
}
