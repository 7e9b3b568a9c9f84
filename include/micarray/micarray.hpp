// C++ interface over the two-microphone engine.
//
// micarray::Engine owns one engine record (on the heap: it is about 120 KB)
// and processes whole steps; micarray::Stream takes blocks of any length,
// keeps the partial step between calls and, when aligned, removes the
// engine's delay of three steps and flushes the tail, so that output sample
// n belongs to input sample n and the output is as long as the input.
// The engine itself stays allocation-free; only these wrappers allocate.
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

namespace micarray {

// Rates the engine runs natively: its frame grows with the rate (32 ms at 8,
// 16 and 32 kHz) and the look direction straight ahead needs no delay at
// any rate. Other rates are best converted to the nearest of these bounds.
const unsigned kMinRate = 8000;
const unsigned kMaxRate = 48000;

// The delay of the output behind the input, in steps: the output of a step
// is the oldest step of a frame of four.
const size_t kDelaySteps = 3;

// Float samples are scaled so that 1.0 is 32768, the 16-bit full scale.
const double kFullScale = 32768.0;

// The five tuning values, with the defaults the programs advise.
struct Tuning {
  float distance = 0.05f;      // microphone spacing in metres, (0, 10]
  float speed = 0.07f;         // adaptation speed of the direction detector, (0, 1]
  float suppression = -15.0f;  // deepest suppression in dB, [-80, 0]
  float noise_rate = 0.90f;    // noise adaptation rate, [0.6, 1)
  float musical = 0.98f;       // musical-noise smoothing, [0.6, 1)
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
  return (int16_t)std::round(v);
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
  explicit Engine(unsigned rate, const Tuning& tuning = Tuning()) : rate_(rate), tuning_(tuning) {
    if (rate < kMinRate || rate > kMaxRate)
      throw std::invalid_argument("sampling rate must be from " + std::to_string(kMinRate) + " to " +
                                  std::to_string(kMaxRate) + " Hz (convert other rates first)");
    Check(tuning);
    state_.reset(new TMicArray);
    Init();
  }
  Engine(Engine&&) noexcept = default;
  Engine& operator=(Engine&& other) noexcept {
    if (this == &other) return *this;
    Release();
    state_ = std::move(other.state_);
    rate_ = other.rate_;
    tuning_ = other.tuning_;
    return *this;
  }
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;
  ~Engine() { Release(); }

  unsigned rate() const { return rate_; }
  const Tuning& tuning() const { return tuning_; }
  // Stereo pairs consumed and mono samples produced by one step.
  size_t step() const { return (size_t)State()->lenght_step; }
  // Samples by which the output lags the input.
  size_t delay() const { return kDelaySteps * step(); }

  // Whole steps: stereo holds 2 * k * step() interleaved values (microphone
  // 0 first), mono receives k * step() values.
  void process(Span<const int16_t> stereo, Span<int16_t> mono) {
    const size_t S = step();
    if (stereo.size() % (2 * S) != 0 || mono.size() != stereo.size() / 2)
      throw std::invalid_argument("process takes whole steps: " + std::to_string(2 * S) +
                                  " interleaved values per step and half as many outputs");
    for (size_t k = 0; k < mono.size(); k += S)
      // The engine only reads its input buffer.
      MicArray_Process(State(), const_cast<int16*>(&stereo[2 * k]), &mono[k]);
  }

  // Whole steps of float samples (1.0 is full scale), rounded and saturated
  // to 16 bits on the way in.
  void process(Span<const float> stereo, Span<float> mono) {
    std::vector<int16_t> in(stereo.size());
    std::vector<int16_t> out(mono.size());
    for (size_t i = 0; i < in.size(); i++) in[i] = ToInt16(stereo[i]);
    process(Span<const int16_t>(in), Span<int16_t>(out));
    for (size_t i = 0; i < out.size(); i++) mono[i] = FromInt16<float>(out[i]);
  }

  // Starts afresh: clears every history and adaptive state.
  void reset() { Init(); }

  // New post-filter values from the next step on; every running estimate,
  // adaptive filter and history is kept.
  void retune(float suppression, float noise_rate, float musical) {
    Tuning t = tuning_;
    t.suppression = suppression;
    t.noise_rate = noise_rate;
    t.musical = musical;
    Check(t);
    tuning_ = t;
    MicArray_Reset(State(), suppression, noise_rate, musical);
  }

 private:
  static void Check(const Tuning& t) {
    if (const TuningRange* refused = TuningRefusal(t)) {
      std::ostringstream text;
      text << refused->name << " = " << t.*refused->field << ": " << refused->message;
      throw std::invalid_argument(text.str());
    }
  }
  TMicArray* State() const {
    if (!state_) throw std::logic_error("micarray::Engine used after it was moved from");
    return state_.get();
  }
  void Init() {
    MicArray_Init(State(), rate_, tuning_.distance, tuning_.speed, tuning_.suppression, tuning_.noise_rate,
                  tuning_.musical);
  }
  void Release() {
    if (state_) MicArray_Destroyed(state_.get());
  }

  std::unique_ptr<TMicArray> state_;
  unsigned rate_;
  Tuning tuning_;
};

class Stream {
 public:
  // aligned: output sample n belongs to input sample n and flush() completes
  // the output to the input's length. Not aligned: the engine's own stream,
  // three steps late, and a short final step is dropped.
  explicit Stream(unsigned rate, const Tuning& tuning = Tuning(), bool aligned = true)
      : engine_(rate, tuning), aligned_(aligned), out_(engine_.step()) {
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
