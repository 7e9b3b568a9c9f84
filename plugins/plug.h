// The two-microphone enhancer as an audio plugin, shared by the LADSPA and
// LV2 wrappers: the port table, and one record per plugin instance that
// holds both engines, buffers the host's blocks (any length) into the
// running engine's hops and applies control changes between hops.
//
// Output sample n belongs to input sample n - Plug_Latency(): one hop of
// buffering, the engine's own delay, and a delay of the output that makes
// both engines equally late, so switching engines keeps the latency. At a
// rate the engines do not run (outside 8000..48000 Hz) microphone 0 passes
// through with no delay and the status port says so.
//
// Plug_New allocates everything; Plug_Run allocates nothing, takes no lock
// and does no I/O.
#ifndef DUET_PLUG_H
#define DUET_PLUG_H

#include <stdint.h>

enum TPlugPort : uint32_t {
  kPortMic0,
  kPortMic1,
  kPortOut,
  kPortOutCopy,  // the same samples again, for hosts that want a stereo output
  kPortEngine,
  kPortDistance,
  kPortAngle,
  kPortSuppression,
  kPortSpeed,
  kPortNoiseRate,
  kPortMusical,
  kPortLatency,
  kPortStatus,
  kPortCount
};

enum TPlugPortKind { kAudioIn, kAudioOut, kControlIn, kControlOut };

// Where a LADSPA host finds the default: its hints name points of the range
// only (low = 3/4 low + 1/4 high, high = 1/4 low + 3/4 high, middle on a log
// scale when logarithmic), so the ranges are chosen to put them on the
// engines' usual values.
enum TPlugDefault { kDefaultNone, kDefaultZero, kDefaultLow, kDefaultMiddle, kDefaultHigh };

struct TPlugPortInfo {
  const char* name;
  TPlugPortKind kind;
  float low, high, value;  // range and default of a control
  bool integer;
  bool logarithmic;
  TPlugDefault hint;
};

extern const TPlugPortInfo kPlugPorts[kPortCount];

// The status port's values.
enum TPlugStatus { kStatusPassThrough = 0, kStatusMvdr = 1, kStatusClassic = 2 };
// The engine port's values.
enum TPlugEngine { kEngineMvdr = 0, kEngineClassic = 1 };

typedef struct TPlug TPlug;

// A fresh instance for this rate; NULL when memory is short.
TPlug* Plug_New(uint32_t rate);
void Plug_Delete(TPlug* it);
// A host buffer for a port (read or written at each Plug_Run).
void Plug_Connect(TPlug* it, uint32_t port, float* data);
// Starts afresh at the next Plug_Run: empty buffers, engine state as new.
void Plug_Activate(TPlug* it);
void Plug_Run(TPlug* it, uint32_t frames);
// Samples by which the output lags the input (constant per instance).
uint32_t Plug_Latency(const TPlug* it);

#endif
