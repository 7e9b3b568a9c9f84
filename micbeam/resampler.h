// Sampling-rate conversion of interleaved samples (libsoxr, high quality,
// linear phase, its delay removed), fed in blocks of any length.
#ifndef MICBEAM_RESAMPLER_H
#define MICBEAM_RESAMPLER_H

#include <soxr.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

struct TSoxrDelete {
  void operator()(soxr_t s) const { soxr_delete(s); }
};

typedef struct _TResampler {
  std::unique_ptr<struct soxr, TSoxrDelete> soxr;
  unsigned channels;
  double ratio;  // output rate / input rate
} TResampler;

bool Resampler_Init(TResampler* it, double inRate, double outRate, unsigned channels, std::string* error);
// Converts `frames` more input frames, handing the output to `take` in
// pieces (each in *out, which `take` may use up); false when the conversion
// or `take` fails.
bool Resampler_Process(TResampler* it, const double* in, size_t frames, std::vector<double>* out,
                       const std::function<bool(const std::vector<double>&)>& take, std::string* error);
// Ends the input and appends to *out up to maxFrames frames of what the
// converter still holds; *finished once it holds nothing more.
bool Resampler_Flush(TResampler* it, size_t maxFrames, std::vector<double>* out, bool* finished,
                     std::string* error);

#endif
