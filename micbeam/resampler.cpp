#include "resampler.h"

namespace {

// Output room beyond the rate ratio, for the samples the filter releases late.
const size_t kOutputMargin = 1024;
// One thread per converter: files already run on their own workers.
const unsigned kThreads = 1;

// Converts until the input is taken and the output had room to spare; a
// null input (with no frames) asks the converter for what it holds.
bool Convert(TResampler* it, const double* in, size_t frames, std::vector<double>* out, std::string* error) {
  const bool flushing = in == nullptr;
  for (;;) {
    const size_t room = (size_t)((double)frames * it->ratio) + kOutputMargin;
    const size_t start = out->size();
    out->resize(start + room * it->channels);
    size_t used = 0, made = 0;
    const soxr_error_t failure =
        soxr_process(it->soxr.get(), in, frames, flushing ? nullptr : &used, out->data() + start, room, &made);
    out->resize(start + made * it->channels);
    if (failure) {
      *error = std::string("rate conversion: ") + failure;
      return false;
    }
    if (!flushing) {
      in += used * it->channels;
      frames -= used;
    }
    if (frames == 0 && made < room) return true;
  }
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
                       std::string* error) {
  return frames == 0 || Convert(it, in, frames, out, error);
}

bool Resampler_Flush(TResampler* it, std::vector<double>* out, std::string* error) {
  return Convert(it, nullptr, 0, out, error);
}
