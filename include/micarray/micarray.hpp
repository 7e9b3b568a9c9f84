// C++ interface over both engines.
//
// micarray::Engine owns one engine record (on the heap: the records are tens
// or hundreds of kilobytes) and processes whole steps; micarray::Stream takes
// blocks of any length, keeps the partial step between calls and, when
// aligned, removes the engine's delay and flushes the tail, so that output
// sample n belongs to input sample n and the output is as long as the input.
// The engines themselves stay allocation-free; only these wrappers allocate.
//
// Two engines: EngineKind::mvdr, the adaptive beamformer with its speech
// post-filter (any target angle), and EngineKind::classic, the fixed-design
// engine for a talker straight ahead (MicArray_*), kept bit for bit.
#ifndef MICARRAY_HPP
#define MICARRAY_HPP

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "micarray.h"
#include "mvdr.h"

namespace micarray {

// Rates both engines run natively: their frames grow with the rate.
// Other rates are best converted to the nearest of these bounds.
const unsigned kMinRate = 8000;
const unsigned kMaxRate = 48000;
static_assert(kMinRate == MVDR_MIN_RATE && kMaxRate == MVDR_MAX_RATE, "both engines run the same rates");

// The classic engine's delay of the output behind the input, in steps: the
// output of a step is the oldest step of a frame of four.
const size_t kDelaySteps = 3;

enum class EngineKind { mvdr, classic };

// "mvdr" or "classic".
inline const char* EngineName(EngineKind kind) { return kind == EngineKind::mvdr ? "mvdr" : "classic"; }

// Float samples are scaled so that 1.0 is 32768, the 16-bit full scale.
const double kFullScale = 32768.0;

// The tuning values, with the defaults the programs advise. Both engines
// read distance and suppression; speed, noise_rate and musical tune the
// classic engine only; angle steers the mvdr engine (the classic engine
// listens straight ahead only and refuses any other angle).
struct Tuning {
  float distance = 0.05f;      // microphone spacing in metres, (0, 10]
  float speed = 0.07f;         // adaptation speed of the direction detector, (0, 1]
  float suppression = -15.0f;  // deepest suppression in dB, [-80, 0]
  float noise_rate = 0.90f;    // noise adaptation rate, [0.6, 1)
  float musical = 0.98f;       // musical-noise smoothing, [0.6, 1)
  float angle = 0.0f;          // talker direction in degrees from broadside, [-90, 90]
};

// The accepted range of each tuning value, in field order, with the
// message that refuses it. The bounds are single-precision values, so 0.6
// (0.60000002f) is accepted; NaN is never in range.
struct TuningRange {
  float Tuning::*field;
  const char* name;  // the field's name
  float low;
  bool lowIncluded;
  float high;
  bool highIncluded;
  const char* message;
  bool valueShown;  // the programs print the refused value after the message
};

// The messages say 0.999 for the two rates; every value below 1.0 is accepted.
const TuningRange kTuningRanges[] = {
    {&Tuning::distance, "distance", 0.0f, false, 10.0f, true,
     "Distance between sensors [meter] must be (0.0, 10.0]", true},
    {&Tuning::speed, "speed", 0.0f, false, 1.0f, true, "Speed adaptation must be (0.0, 1.0]", true},
    {&Tuning::suppression, "suppression", -80.0f, true, 0.0f, true, "pSdb: [-80.0, 0.0] dB, default: -15.0 ",
     false},
    {&Tuning::noise_rate, "noise_rate", 0.6f, true, 1.0f, false, "pNn: [0.6, 0.999], default: 0.90 ", false},
    {&Tuning::musical, "musical", 0.6f, true, 1.0f, false, "pMn: [0.6, 0.999], default: 0.98 ", false},
    {&Tuning::angle, "angle", -90.0f, true, 90.0f, true, "Target angle [degree] must be [-90.0, 90.0]", true},
};

inline bool InRange(const TuningRange& r, float v) {
  return (r.lowIncluded ? v >= r.low : v > r.low) && (r.highIncluded ? v <= r.high : v < r.high);
}

// The range of the first refused value in field order, or nullptr.
inline const TuningRange* TuningRefusal(const Tuning& t) {
  for (const TuningRange& r : kTuningRanges)
    if (!InRange(r, t.*r.field)) return &r;
  return nullptr;
}

// A sample scaled so that 1.0 is full scale, as a 16-bit value: rounded to
// the nearest integer (halves away from zero) and saturated; NaN gives 0.
template <class F>
inline int16_t ToInt16(F x) {
  const F v = x * (F)kFullScale;
  if (v != v) return 0;
  if (v >= (F)32767) return 32767;
  if (v <= (F)-32768) return -32768;
  // Rounded half away from zero, as std::round, without a library call per
  // sample: the part below the integer is exact at these magnitudes.
  const int32_t whole = (int32_t)v;
  const F rest = v - (F)whole;
  return (int16_t)(whole + (rest >= (F)0.5) - (rest <= (F)-0.5));
}

template <class F>
inline F FromInt16(int16_t v) {
  return (F)v / (F)kFullScale;
}

// A view of contiguous samples, built from a pointer and a count or from any
// container with data() and size() (std::vector, std::array, std::span).
template <class T>
class Span {
 public:
  Span(T* data, size_t size) : data_(data), size_(size) {}
  template <class C, class = typename std::enable_if<
                         std::is_convertible<decltype(std::declval<C&>().data()), T*>::value>::type>
  Span(C& c) : data_(c.data()), size_(c.size()) {}
  T* data() const { return data_; }
  size_t size() const { return size_; }
  T& operator[](size_t i) const { return data_[i]; }

 private:
  T* data_;
  size_t size_;
};

class Engine {
 public:
  // Throws std::invalid_argument for a rate outside kMinRate..kMaxRate or a
  // tuning value out of range (with the refusal's text).
  explicit Engine(unsigned rate, const Tuning& tuning = Tuning(), EngineKind kind = EngineKind::classic)
      : rate_(rate), tuning_(tuning), kind_(kind) {
    if (rate < kMinRate || rate > kMaxRate)
      throw std::invalid_argument("sampling rate must be from " + std::to_string(kMinRate) + " to " +
                                  std::to_string(kMaxRate) + " Hz (convert other rates first)");
    Check(tuning, kind);
    if (kind == EngineKind::classic) {
      classic_.reset(new TMicArray);
    } else {
      mvdrMemory_.reset(new unsigned char[MvdrArray_Size(rate)]);
    }
    Init();
  }
  Engine(Engine&& other) noexcept : rate_(0), kind_(EngineKind::classic) { *this = std::move(other); }
  Engine& operator=(Engine&& other) noexcept {
    if (this == &other) return *this;
    Release();
    classic_ = std::move(other.classic_);
    mvdrMemory_ = std::move(other.mvdrMemory_);
    mvdr_ = other.mvdr_;
    other.mvdr_ = nullptr;
    rate_ = other.rate_;
    tuning_ = other.tuning_;
    kind_ = other.kind_;
    return *this;
  }
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;
  ~Engine() { Release(); }

  unsigned rate() const { return rate_; }
  const Tuning& tuning() const { return tuning_; }
  EngineKind kind() const { return kind_; }
  // Stereo pairs consumed and mono samples produced by one step.
  size_t step() const {
    return kind_ == EngineKind::classic ? (size_t)Classic()->lenght_step : (size_t)MvdrArray_Hop(Mvdr());
  }
  // Samples by which the output lags the input.
  size_t delay() const {
    return kind_ == EngineKind::classic ? kDelaySteps * step() : (size_t)MvdrArray_Latency(Mvdr());
  }

  // Whole steps: stereo holds 2 * k * step() interleaved values (microphone
  // 0 first), mono receives k * step() values.
  void process(Span<const int16_t> stereo, Span<int16_t> mono) {
    const size_t S = step();
    CheckWhole(stereo.size(), mono.size());
    for (size_t k = 0; k < mono.size(); k += S) {
      if (kind_ == EngineKind::classic)
        // The engine only reads its input buffer.
        MicArray_Process(Classic(), const_cast<int16*>(&stereo[2 * k]), &mono[k]);
      else
        MvdrArray_Process(Mvdr(), &stereo[2 * k], &mono[k]);
    }
  }

  // Whole steps of float samples (1.0 is full scale). The classic engine
  // takes 16-bit samples: floats are rounded and saturated on the way in.
  // The mvdr engine works on the floats themselves.
  void process(Span<const float> stereo, Span<float> mono) {
    const size_t S = step();
    CheckWhole(stereo.size(), mono.size());
    if (kind_ == EngineKind::mvdr) {
      for (size_t k = 0; k < mono.size(); k += S) MvdrArray_ProcessFloat(Mvdr(), &stereo[2 * k], &mono[k]);
      return;
    }
    std::vector<int16_t> in(stereo.size());
    std::vector<int16_t> out(mono.size());
    for (size_t i = 0; i < in.size(); i++) in[i] = ToInt16(stereo[i]);
    process(Span<const int16_t>(in), Span<int16_t>(out));
    for (size_t i = 0; i < out.size(); i++) mono[i] = FromInt16<float>(out[i]);
  }

  // Starts afresh: clears every history and adaptive state.
  void reset() { Init(); }

  // New suppression values from the next step on; every running estimate,
  // adaptive filter and history is kept. The mvdr engine reads suppression
  // only.
  void retune(float suppression, float noise_rate, float musical) {
    Tuning t = tuning_;
    t.suppression = suppression;
    t.noise_rate = noise_rate;
    t.musical = musical;
    Check(t, kind_);
    tuning_ = t;
    if (kind_ == EngineKind::classic)
      MicArray_Reset(Classic(), suppression, noise_rate, musical);
    else
      MvdrArray_Retune(Mvdr(), t.distance, t.angle, t.suppression);
  }

 private:
  static void Check(const Tuning& t, EngineKind kind) {
    if (const TuningRange* refused = TuningRefusal(t)) {
      std::ostringstream text;
      text << refused->name << " = " << t.*refused->field << ": " << refused->message;
      throw std::invalid_argument(text.str());
    }
    if (kind == EngineKind::classic && t.angle != 0.0f)
      throw std::invalid_argument("the classic engine listens straight ahead only (angle 0); "
                                  "steer the mvdr engine instead");
  }
  void CheckWhole(size_t stereo, size_t mono) const {
    const size_t S = step();
    if (stereo % (2 * S) != 0 || mono != stereo / 2)
      throw std::invalid_argument("process takes whole steps: " + std::to_string(2 * S) +
                                  " interleaved values per step and half as many outputs");
  }
  void Used() const {
    if (!classic_ && !mvdr_) throw std::logic_error("micarray::Engine used after it was moved from");
  }
  TMicArray* Classic() const {
    Used();
    return classic_.get();
  }
  TMvdrArray* Mvdr() const {
    Used();
    return mvdr_;
  }
  void Init() {
    if (kind_ == EngineKind::classic)
      MicArray_Init(Classic(), rate_, tuning_.distance, tuning_.speed, tuning_.suppression, tuning_.noise_rate,
                    tuning_.musical);
    else
      mvdr_ = MvdrArray_Init(mvdrMemory_.get(), rate_, tuning_.distance, tuning_.angle, tuning_.suppression);
  }
  void Release() {
    if (classic_) MicArray_Destroyed(classic_.get());
  }

  std::unique_ptr<TMicArray> classic_;
  std::unique_ptr<unsigned char[]> mvdrMemory_;
  TMvdrArray* mvdr_ = nullptr;  // laid inside mvdrMemory_
  unsigned rate_;
  Tuning tuning_;
  EngineKind kind_;
};

class Stream {
 public:
  // aligned: output sample n belongs to input sample n and flush() completes
  // the output to the input's length. Not aligned: the engine's own stream,
  // engine().delay() samples late, and a short final step is dropped.
  explicit Stream(unsigned rate, const Tuning& tuning = Tuning(), bool aligned = true,
                  EngineKind kind = EngineKind::classic)
      : engine_(rate, tuning, kind), aligned_(aligned), out_(engine_.step()) {
    pending_.reserve(2 * engine_.step());
    Restart();
  }

  const Engine& engine() const { return engine_; }
  bool aligned() const { return aligned_; }

  // Appends interleaved stereo values (an even count) and adds the mono
  // samples that are ready to the end of out.
  void process(Span<const int16_t> stereo, std::vector<int16_t>& out) {
    if (stereo.size() % 2 != 0) throw std::invalid_argument("interleaved stereo needs an even number of values");
    const size_t whole = 2 * engine_.step();
    size_t used = 0;
    if (!pending_.empty()) {
      used = std::min(whole - pending_.size(), stereo.size());
      pending_.insert(pending_.end(), stereo.data(), stereo.data() + used);
      if (pending_.size() == whole) {
        Step(pending_.data(), out);
        pending_.clear();
      }
    }
    for (; stereo.size() - used >= whole; used += whole) Step(stereo.data() + used, out);
    pending_.insert(pending_.end(), stereo.data() + used, stereo.data() + stereo.size());
    framesIn_ += stereo.size() / 2;
  }

  // Ends the stream: aligned, feeds silence until every input sample has its
  // output and adds exactly that many; not aligned, drops a short final step.
  // The next process() starts a new stream.
  void flush(std::vector<int16_t>& out) {
    if (aligned_) {
      while (framesOut_ < framesIn_) {
        pending_.resize(2 * engine_.step(), 0);
        Step(pending_.data(), out);
        pending_.clear();
      }
      out.resize(out.size() - (size_t)(framesOut_ - framesIn_));
    }
    engine_.reset();
    Restart();
  }

 private:
  void Restart() {
    pending_.clear();
    framesIn_ = framesOut_ = 0;
    skip_ = aligned_ ? engine_.delay() : 0;
  }
  void Step(const int16_t* stereo, std::vector<int16_t>& out) {
    const size_t S = engine_.step();
    engine_.process(Span<const int16_t>(stereo, 2 * S), Span<int16_t>(out_));
    const size_t drop = std::min(skip_, S);
    skip_ -= drop;
    out.insert(out.end(), out_.begin() + (std::ptrdiff_t)drop, out_.end());
    framesOut_ += S - drop;
  }

  Engine engine_;
  bool aligned_;
  std::vector<int16_t> out_;      // one step of output
  std::vector<int16_t> pending_;  // the partial step waiting for more input
  size_t skip_;                   // leading output samples still to drop
  uint64_t framesIn_;             // stereo pairs taken since the start
  uint64_t framesOut_;            // mono samples given since the start
};

}  // namespace micarray

#endif
