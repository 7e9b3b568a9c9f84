// Sampling-rate conversion of interleaved samples (libsoxr, high quality,
// linear phase, its delay removed), fed in blocks of any length.
#ifndef MICBEAM_RESAMPLER_H
#define MICBEAM_RESAMPLER_H

#include <soxr.h>

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
// Appends to *out what `frames` more input frames give.
bool Resampler_Process(TResampler* it, const double* in, size_t frames, std::vector<double>* out,
                       std::string* error);
// Ends the input and appends to *out what the converter still holds.
bool Resampler_Flush(TResampler* it, std::vector<double>* out, std::string* error);

#endif
