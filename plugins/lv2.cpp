// The LV2 face of the plugin; its ports are described in the bundle's
// Turtle file in the order of the port table.
#include <lv2/core/lv2.h>

#include <cmath>

#include "plug.h"

namespace {

LV2_Handle Instantiate(const LV2_Descriptor*, double rate, const char*, const LV2_Feature* const*) {
  // A rate the engines cannot take (fractional or huge) passes through.
  const bool whole = rate >= 0 && rate <= UINT32_MAX && rate == std::floor(rate);
  return Plug_New(whole ? (uint32_t)rate : 0);
}
void Connect(LV2_Handle h, uint32_t port, void* data) { Plug_Connect((TPlug*)h, port, (float*)data); }
void Activate(LV2_Handle h) { Plug_Activate((TPlug*)h); }
void Run(LV2_Handle h, uint32_t frames) { Plug_Run((TPlug*)h, frames); }
void Cleanup(LV2_Handle h) { Plug_Delete((TPlug*)h); }
const void* ExtensionData(const char*) { return nullptr; }

const LV2_Descriptor kDescriptor = {DUET_LV2_URI, Instantiate, Connect, Activate,
                                    Run,          nullptr,     Cleanup, ExtensionData};

}  // namespace

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index) {
  return index == 0 ? &kDescriptor : nullptr;
}
