#include "scene.h"

#include <cmath>

namespace {

const double kPi = 3.14159265358979323846;
const double kSoundSpeed = 343.0;   // m/s
const int kTargetHarmonics = 24;    // partials of the voiced talker
const int kInterfererPartials = 48; // random partials of the noise-like interferer

// sin(x) from a Taylor series on the argument reduced to [-pi/2, pi/2]: only
// +, -, *, / and floor, which every IEEE build rounds alike (the C library's
// sin may differ between builds in the last bit).
double PortableSin(double x) {
  double r = x - std::floor(x / (2.0 * kPi) + 0.5) * (2.0 * kPi);  // [-pi, pi]
  if (r > kPi / 2) r = kPi - r;
  if (r < -kPi / 2) r = -kPi - r;
  const double r2 = r * r;
  double term = r, sum = r;
  for (int n = 1; n < 12; n++) {
    term = -term * r2 / ((2 * n) * (2 * n + 1));
    sum += term;
  }
  return sum;
}

// Deterministic pseudo-random numbers in [0, 1).
struct Lcg {
  uint64_t state;
  double Next() {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return (double)(state >> 11) / 9007199254740992.0;
  }
};

// A voiced talker: harmonics of a gliding pitch under a vowel-like spectral
// envelope, in syllables of about 200 ms with short pauses.
double Talker(double t) {
  const double f0 = 150.0 + 40.0 * PortableSin(2.0 * kPi * 0.7 * t);
  // The phase of a gliding pitch is the integral of f0.
  const double phase = 2.0 * kPi * (150.0 * t - 40.0 / (2.0 * kPi * 0.7) * (PortableSin(2.0 * kPi * 0.7 * t + kPi / 2) - 1.0));
  const double syllable = PortableSin(2.0 * kPi * 2.5 * t);
  const double envelope = syllable > 0.0 ? syllable : 0.0;
  const double formant = 600.0 + 500.0 * PortableSin(2.0 * kPi * 1.3 * t);
  double v = 0.0;
  for (int h = 1; h <= kTargetHarmonics; h++) {
    const double f = h * f0;
    const double weight = 1.0 / (1.0 + (f - formant) * (f - formant) / (300.0 * 300.0)) + 0.15 / h;
    v += weight * PortableSin(h * phase);
  }
  return envelope * v / 3.0;
}

struct Partial {
  double freq, phase, gain;
};

double Interferer(const std::vector<Partial>& partials, double t) {
  double v = 0.0;
  for (const Partial& p : partials) v += p.gain * PortableSin(2.0 * kPi * p.freq * t + p.phase);
  return v;
}

int16_t ToSample(double v) {
  const double r = std::floor(v + 0.5);
  return (int16_t)(r > 32767.0 ? 32767.0 : (r < -32768.0 ? -32768.0 : r));
}

}  // namespace

TScene Scene_Default(uint32_t sampleRate, double seconds) {
  return TScene{sampleRate, seconds, 0.05, 60.0, 8000.0, 2500.0, 1};
}

std::vector<int16_t> Scene_Render(const TScene* it, TSceneSource sources) {
  Lcg rng{it->Seed};
  std::vector<Partial> partials(kInterfererPartials);
  const double top = 0.45 * it->SampleRate;
  for (Partial& p : partials) {
    p.freq = 100.0 + (top - 100.0) * rng.Next();
    p.phase = 2.0 * kPi * rng.Next();
    p.gain = 1.0 / std::sqrt((double)kInterfererPartials);
  }
  const double delay = it->Spacing * PortableSin(it->InterfererAngle * kPi / 180.0) / kSoundSpeed;
  const size_t frames = (size_t)(it->Seconds * it->SampleRate);
  std::vector<int16_t> out(2 * frames);
  for (size_t n = 0; n < frames; n++) {
    const double t = (double)n / it->SampleRate;
    const double target = (sources & kSceneTarget) ? it->TargetLevel * Talker(t) : 0.0;
    const double near = (sources & kSceneInterferer) ? it->InterfererLevel * Interferer(partials, t) : 0.0;
    const double far = (sources & kSceneInterferer) ? it->InterfererLevel * Interferer(partials, t - delay) : 0.0;
    out[2 * n] = ToSample(target + near);
    out[2 * n + 1] = ToSample(target + far);
  }
  return out;
}
