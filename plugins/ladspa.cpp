// The LADSPA face of the plugin: one descriptor built from the port table.
#include <ladspa.h>
#include <limits.h>

#include "plug.h"

namespace {

// Not from the LADSPA registry; outside the range kept for local tests.
const unsigned long kUniqueId = 5281;

LADSPA_PortDescriptor Kind(TPlugPortKind kind) {
  switch (kind) {
    case kAudioIn:
      return LADSPA_PORT_AUDIO | LADSPA_PORT_INPUT;
    case kAudioOut:
      return LADSPA_PORT_AUDIO | LADSPA_PORT_OUTPUT;
    case kControlIn:
      return LADSPA_PORT_CONTROL | LADSPA_PORT_INPUT;
    default:
      return LADSPA_PORT_CONTROL | LADSPA_PORT_OUTPUT;
  }
}

const LADSPA_PortRangeHintDescriptor kDefaultHints[] = {0, LADSPA_HINT_DEFAULT_0, LADSPA_HINT_DEFAULT_LOW,
                                                        LADSPA_HINT_DEFAULT_MIDDLE, LADSPA_HINT_DEFAULT_HIGH};

// Output controls have defaults too: some hosts ask a value for every
// control port.
LADSPA_PortRangeHint Hint(const TPlugPortInfo& p) {
  LADSPA_PortRangeHint h = {kDefaultHints[p.hint], p.low, p.high};
  if (p.low < p.high) h.HintDescriptor |= LADSPA_HINT_BOUNDED_BELOW | LADSPA_HINT_BOUNDED_ABOVE;
  if (p.integer) h.HintDescriptor |= LADSPA_HINT_INTEGER;
  if (p.logarithmic) h.HintDescriptor |= LADSPA_HINT_LOGARITHMIC;
  return h;
}

LADSPA_Handle Instantiate(const LADSPA_Descriptor*, unsigned long rate) {
  // A rate beyond 32 bits is as foreign to the engines as 0.
  return Plug_New(rate > UINT_MAX ? 0 : (uint32_t)rate);
}
void Connect(LADSPA_Handle h, unsigned long port, LADSPA_Data* data) {
  Plug_Connect((TPlug*)h, (uint32_t)port, data);
}
void Activate(LADSPA_Handle h) { Plug_Activate((TPlug*)h); }
void Run(LADSPA_Handle h, unsigned long frames) { Plug_Run((TPlug*)h, (uint32_t)frames); }
void Cleanup(LADSPA_Handle h) { Plug_Delete((TPlug*)h); }

struct TLadspa {
  LADSPA_PortDescriptor kinds[kPortCount];
  const char* names[kPortCount];
  LADSPA_PortRangeHint hints[kPortCount];
  LADSPA_Descriptor descriptor;

  TLadspa() : descriptor() {
    for (uint32_t i = 0; i < kPortCount; i++) {
      kinds[i] = Kind(kPlugPorts[i].kind);
      names[i] = kPlugPorts[i].name;
      hints[i] = Hint(kPlugPorts[i]);
    }
    LADSPA_Descriptor& d = descriptor;
    d.UniqueID = kUniqueId;
    d.Label = "duet_beam";
    d.Properties = LADSPA_PROPERTY_HARD_RT_CAPABLE;
    d.Name = "Duet Beam two-microphone speech enhancer";
    d.Maker = "Pairwise Acoustics Lab";
    d.Copyright = "Copyright (c) 2026 Pairwise Acoustics Lab";
    d.PortCount = kPortCount;
    d.PortDescriptors = kinds;
    d.PortNames = names;
    d.PortRangeHints = hints;
    d.instantiate = Instantiate;
    d.connect_port = Connect;
    d.activate = Activate;
    d.run = Run;
    d.cleanup = Cleanup;
  }
};

}  // namespace

extern "C" __attribute__((visibility("default"))) const LADSPA_Descriptor* ladspa_descriptor(
    unsigned long index) {
  static const TLadspa plugin;
  return index == 0 ? &plugin.descriptor : nullptr;
}
