#include "resampler.h"

#include <algorithm>

namespace {

// Output room beyond the rate ratio, for the samples the filter releases late.
const size_t kOutputMargin = 1024;
// The largest piece of output handed on at once, in frames.
const size_t kMaxPiece = 1 << 16;
// One thread per converter: files already run on their own workers.
const unsigned kThreads = 1;

// One call of the converter with room for `room` frames appended to *out;
// a null input (with no frames) asks for what the converter holds.
bool Step(TResampler* it, const double* in, size_t frames, size_t room, std::vector<double>* out,
          size_t* used, size_t* made, std::string* error) {
  const size_t start = out->size();
  out->resize(start + room * it->channels);
  *used = *made = 0;
  const soxr_error_t failure =
      soxr_process(it->soxr.get(), in, frames, in ? used : nullptr, out->data() + start, room, made);
  out->resize(start + *made * it->channels);
  if (failure) *error = std::string("rate conversion: ") + failure;
  return failure == nullptr;
}

}  // namespace

bool Resampler_Init(TResampler* it, double inRate, double outRate, unsigned channels, std::string* error) {
  const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT64_I, SOXR_FLOAT64_I);
  const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
  const soxr_runtime_spec_t runtime = soxr_runtime_spec(kThreads);
  soxr_error_t failure = nullptr;
  it->soxr.reset(soxr_create(inRate, outRate, channels, &failure, &io, &quality, &runtime));
  it->channels = channels;
  it->ratio = outRate / inRate;
  if (failure) *error = std::string("rate conversion: ") + failure;
  return failure == nullptr;
}

bool Resampler_Process(TResampler* it, const double* in, size_t frames, std::vector<double>* out,
                       const std::function<bool(const std::vector<double>&)>& take, std::string* error) {
  if (frames == 0) return true;
  // Until the input is taken and the output had room to spare; each piece
  // is handed on at once, since a large rate ratio releases long bursts.
  for (;;) {
    const size_t room = std::min((size_t)((double)frames * it->ratio) + kOutputMargin, kMaxPiece);
    size_t used, made;
    out->clear();
    if (!Step(it, in, frames, room, out, &used, &made, error) || !take(*out)) return false;
    in += used * it->channels;
    frames -= used;
    if (frames == 0 && made < room) return true;
  }
}

bool Resampler_Flush(TResampler* it, size_t maxFrames, std::vector<double>* out, bool* finished,
                     std::string* error) {
  size_t used, made;
  const bool ok = Step(it, nullptr, 0, maxFrames, out, &used, &made, error);
  *finished = !ok || made < maxFrames;
  return ok;
}
