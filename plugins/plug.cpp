#include "plug.h"

#include <string.h>

#include <algorithm>
#include <new>

#include "micarray.hpp"

namespace {

const micarray::Tuning kUsual;  // the programs' default tuning
// The classic rates must stay below 1; the ports reach 1 so that a LADSPA
// host's "high" default lands on the usual value.
const float kBelowOne = 0.999f;
const float kClassicFrom = 0.5f;  // engine port values from here on choose the classic engine
const int kEngines = 2;

struct TSettings {
  int engine;  // TPlugEngine
  micarray::Tuning tuning;
};

}  // namespace

const TPlugPortInfo kPlugPorts[kPortCount] = {
    {"Microphone 0", kAudioIn, 0, 0, 0, false, false, kDefaultNone},
    {"Microphone 1", kAudioIn, 0, 0, 0, false, false, kDefaultNone},
    {"Output", kAudioOut, 0, 0, 0, false, false, kDefaultNone},
    {"Output copy", kAudioOut, 0, 0, 0, false, false, kDefaultNone},
    {"Engine (0 adaptive, 1 classic)", kControlIn, 0, 1, kEngineMvdr, true, false, kDefaultZero},
    {"Microphone spacing (m)", kControlIn, 0.01f, 0.25f, kUsual.distance, false, true, kDefaultMiddle},
    {"Target angle (degrees)", kControlIn, -90, 90, kUsual.angle, false, false, kDefaultZero},
    {"Suppression (dB)", kControlIn, -60, 0, kUsual.suppression, false, false, kDefaultHigh},
    {"Classic direction speed", kControlIn, 0.01f, 0.25f, kUsual.speed, false, false, kDefaultLow},
    {"Classic noise rate", kControlIn, 0.6f, 1, kUsual.noise_rate, false, false, kDefaultHigh},
    {"Classic musical smoothing", kControlIn, 0.92f, 1, kUsual.musical, false, false, kDefaultHigh},
    {"latency", kControlOut, 0, 0, 0, true, false, kDefaultZero},
    {"Status (0 pass-through, 1 adaptive, 2 classic)", kControlOut, 0, 2, 0, true, false, kDefaultZero},
};

struct TPlug {
  uint32_t rate;
  bool native;  // a rate the engines run
  float* port[kPortCount];
  bool restart;  // Plug_Activate asked for a fresh start

  TMicArray classic;
  unsigned char* mvdrMemory;
  TMvdrArray* mvdr;   // laid inside mvdrMemory
  TSettings applied;  // what the running engine uses
  uint32_t hops[kEngines];
  uint32_t latency;

  // One hop of input collects in `in` while the previous hop's output is
  // given from `out`, both at position `filled`.
  uint32_t hop;
  uint32_t filled;
  float* in;  // interleaved pairs
  float* out;
  int16_t* pcmIn;  // the classic engine's 16-bit samples
  int16_t* pcmOut;
  uint32_t maxHop;
  // The output's delay that tops the running engine's up to `latency`.
  float* delay;
  uint32_t delayLength;
  uint32_t delayHead;
  // A restart waits for one hop of output faded to silence; the new engine
  // is muted until its first output reaches the host and then faded in
  // over one of its hops.
  bool fading;
  uint32_t fadeLeft;
  uint32_t muteLeft;
  uint32_t fadeInLeft;
};

namespace {

uint32_t EngineHop(const TPlug* it) {
  return it->applied.engine == kEngineClassic ? it->classic.lenght_step : MvdrArray_Hop(it->mvdr);
}

// The running engine's delay plus the hop of buffering.
uint32_t PathLatency(const TPlug* it) {
  const uint32_t engine = it->applied.engine == kEngineClassic
                              ? (uint32_t)micarray::kDelaySteps * it->classic.lenght_step
                              : MvdrArray_Latency(it->mvdr);
  return EngineHop(it) + engine;
}

void InitEngine(TPlug* it, const TSettings& s) {
  const micarray::Tuning& t = s.tuning;
  it->applied = s;
  if (s.engine == kEngineClassic)
    MicArray_Init(&it->classic, it->rate, t.distance, t.speed, t.suppression, t.noise_rate, t.musical);
  else
    it->mvdr = MvdrArray_Init(it->mvdrMemory, it->rate, t.distance, t.angle, t.suppression);
}

// A fresh engine at a hop boundary, with every buffer silent; faded in
// when it replaces a running one. The engines' hops and delays depend on the
// rate alone, so `latency` (found at instantiation) covers every path.
void Start(TPlug* it, const TSettings& s, bool fadeIn) {
  InitEngine(it, s);
  it->hop = EngineHop(it);
  it->filled = 0;
  std::fill(it->out, it->out + it->maxHop, 0.0f);
  const uint32_t path = PathLatency(it);
  it->delayLength = it->latency > path ? it->latency - path : 0;
  it->delayHead = 0;
  std::fill(it->delay, it->delay + it->latency, 0.0f);
  it->fading = false;
  it->muteLeft = fadeIn ? it->latency : 0;
  it->fadeInLeft = fadeIn ? it->hop : 0;
}

// A control's value inside its port's range; the default when unconnected
// or not a number.
float Control(const TPlug* it, uint32_t port) {
  const TPlugPortInfo& p = kPlugPorts[port];
  const float* v = it->port[port];
  if (!v || *v != *v) return p.value;
  return std::min(std::max(*v, p.low), p.high);
}

TSettings Wanted(const TPlug* it) {
  TSettings s;
  s.engine = Control(it, kPortEngine) >= kClassicFrom ? kEngineClassic : kEngineMvdr;
  s.tuning.distance = Control(it, kPortDistance);
  s.tuning.angle = Control(it, kPortAngle);
  s.tuning.suppression = Control(it, kPortSuppression);
  s.tuning.speed = Control(it, kPortSpeed);
  s.tuning.noise_rate = std::min(Control(it, kPortNoiseRate), kBelowOne);
  s.tuning.musical = std::min(Control(it, kPortMusical), kBelowOne);
  return s;
}

// Changes the engine cannot take while running: another engine, or the
// classic engine's spacing and direction speed, which shape its design.
bool NeedsRestart(const TPlug* it, const TSettings& s) {
  const micarray::Tuning& a = it->applied.tuning;
  return s.engine != it->applied.engine ||
         (s.engine == kEngineClassic && (s.tuning.distance != a.distance || s.tuning.speed != a.speed));
}

// The changes the running engine takes, keeping what it has learned.
void Retune(TPlug* it, const TSettings& s) {
  const micarray::Tuning& a = it->applied.tuning;
  const micarray::Tuning& t = s.tuning;
  if (s.engine == kEngineClassic) {
    if (t.suppression != a.suppression || t.noise_rate != a.noise_rate || t.musical != a.musical)
      MicArray_Reset(&it->classic, t.suppression, t.noise_rate, t.musical);
  } else if (t.distance != a.distance || t.angle != a.angle || t.suppression != a.suppression) {
    MvdrArray_Retune(it->mvdr, t.distance, t.angle, t.suppression);
  }
  it->applied = s;
}

void ProcessHop(TPlug* it) {
  if (it->applied.engine == kEngineMvdr) {
    MvdrArray_ProcessFloat(it->mvdr, it->in, it->out);
    return;
  }
  for (uint32_t i = 0; i < 2 * it->hop; i++) it->pcmIn[i] = micarray::ToInt16(it->in[i]);
  MicArray_Process(&it->classic, it->pcmIn, it->pcmOut);
  for (uint32_t i = 0; i < it->hop; i++) it->out[i] = micarray::FromInt16<float>(it->pcmOut[i]);
}

// One full hop of input. A change the engine cannot take fades the output
// out over the next hop (the old engine still running), then starts the new
// engine, which is faded in: no click either way.
void Step(TPlug* it, const TSettings& wanted) {
  if (it->fading) {
    Start(it, wanted, true);
    return;
  }
  if (NeedsRestart(it, wanted)) {
    it->fading = true;
    it->fadeLeft = it->hop;
  } else {
    Retune(it, wanted);
  }
  ProcessHop(it);
  it->filled = 0;
}

// An output sample on its way to the host: delayed by delayLength, and
// faded around a restart.
float Emit(TPlug* it, float x) {
  if (it->delayLength > 0) {
    float* slot = it->delay + it->delayHead;
    const float y = *slot;
    *slot = x;
    it->delayHead = it->delayHead + 1 == it->delayLength ? 0 : it->delayHead + 1;
    x = y;
  }
  if (it->fading) {
    if (it->fadeLeft > 0) it->fadeLeft--;
    return x * (float)it->fadeLeft / (float)it->hop;
  }
  if (it->muteLeft > 0) {
    it->muteLeft--;
    return 0.0f;
  }
  if (it->fadeInLeft > 0) {
    it->fadeInLeft--;
    return x * (float)(it->hop - it->fadeInLeft) / (float)it->hop;
  }
  return x;
}

void Report(TPlug* it, uint32_t frames, TPlugStatus status) {
  const float* out = it->port[kPortOut];
  float* copy = it->port[kPortOutCopy];
  if (copy && copy != out) memmove(copy, out, frames * sizeof(float));
  if (it->port[kPortLatency]) *it->port[kPortLatency] = (float)Plug_Latency(it);
  if (it->port[kPortStatus]) *it->port[kPortStatus] = (float)status;
}

}  // namespace

TPlug* Plug_New(uint32_t rate) {
  TPlug* it = new (std::nothrow) TPlug();
  if (!it) return nullptr;
  it->rate = rate;
  it->native = rate >= micarray::kMinRate && rate <= micarray::kMaxRate;
  it->restart = true;
  if (!it->native) return it;
  it->mvdrMemory = new (std::nothrow) unsigned char[MvdrArray_Size(rate)];
  if (!it->mvdrMemory) {
    Plug_Delete(it);
    return nullptr;
  }
  // Both engines once with the usual tuning: their hops and delays.
  for (int engine = 0; engine < kEngines; engine++) {
    InitEngine(it, TSettings{engine, kUsual});
    it->hops[engine] = EngineHop(it);
    it->maxHop = std::max(it->maxHop, it->hops[engine]);
    it->latency = std::max(it->latency, PathLatency(it));
  }
  it->in = new (std::nothrow) float[2 * (size_t)it->maxHop];
  it->out = new (std::nothrow) float[it->maxHop];
  it->pcmIn = new (std::nothrow) int16_t[2 * (size_t)it->maxHop];
  it->pcmOut = new (std::nothrow) int16_t[it->maxHop];
  it->delay = new (std::nothrow) float[it->latency];
  if (!it->in || !it->out || !it->pcmIn || !it->pcmOut || !it->delay) {
    Plug_Delete(it);
    return nullptr;
  }
  return it;
}

void Plug_Delete(TPlug* it) {
  if (it->native) MicArray_Destroyed(&it->classic);
  delete[] it->mvdrMemory;
  delete[] it->in;
  delete[] it->out;
  delete[] it->pcmIn;
  delete[] it->pcmOut;
  delete[] it->delay;
  delete it;
}

void Plug_Connect(TPlug* it, uint32_t port, float* data) {
  if (port < kPortCount) it->port[port] = data;
}

void Plug_Activate(TPlug* it) { it->restart = true; }

uint32_t Plug_Latency(const TPlug* it) { return it->native ? it->latency : 0; }

void Plug_Run(TPlug* it, uint32_t frames) {
  const float* mic0 = it->port[kPortMic0];
  const float* mic1 = it->port[kPortMic1];
  float* out = it->port[kPortOut];
  if (!it->native) {
    memmove(out, mic0, frames * sizeof(float));
    Report(it, frames, kStatusPassThrough);
    return;
  }
  const TSettings wanted = Wanted(it);
  if (it->restart) {
    Start(it, wanted, false);
    it->restart = false;
  }
  // Each input is read before the output at its place is written: hosts may
  // hand the same buffer for an input and the output.
  for (uint32_t n = 0; n < frames;) {
    const uint32_t chunk = std::min(it->hop - it->filled, frames - n);
    for (uint32_t i = 0; i < chunk; i++) {
      float* pair = it->in + 2 * (it->filled + i);
      pair[0] = mic0[n + i];
      pair[1] = mic1[n + i];
      out[n + i] = Emit(it, it->out[it->filled + i]);
    }
    it->filled += chunk;
    n += chunk;
    if (it->filled == it->hop) Step(it, wanted);
  }
  Report(it, frames, it->applied.engine == kEngineClassic ? kStatusClassic : kStatusMvdr);
}
