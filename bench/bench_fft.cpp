// The packed real FFT beside FFTW's single-precision real-to-complex and
// complex-to-real transforms of the same length (planned with FFTW_MEASURE,
// out of place on aligned buffers: FFTW at its best).
#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <vector>

#include "FFTnrc.h"
#include "bench_scene.h"

namespace {

// A windowed stretch of microphone 0 of the 16 kHz scene, as the engine
// transforms it.
std::vector<float> Frame(uint32 n) {
  const std::vector<int16>& in = BenchScene(16000);
  std::vector<float> win(n), frame(n);
  FFTnRC_channing(n, win.data());
  for (uint32 k = 0; k < n; k++) frame[k] = (float)in[2 * (16000 + k)] * win[k];
  return frame;
}

void BM_FftForward(benchmark::State& state) {
  const uint32 n = (uint32)state.range(0);
  TFFTnRC fft;
  FFTnRC_Init(&fft, n);
  const std::vector<float> frame = Frame(n);
  alignas(16) float p[kMaxFrame];
  for (auto _ : state) {
    for (uint32 k = 0; k < n; k++) p[k] = frame[k];
    FFTnRC_fft(&fft, p, 1);
    benchmark::DoNotOptimize(p);
  }
}

void BM_FftInverse(benchmark::State& state) {
  const uint32 n = (uint32)state.range(0);
  TFFTnRC fft;
  FFTnRC_Init(&fft, n);
  std::vector<float> spectrum = Frame(n);
  FFTnRC_fft(&fft, spectrum.data(), 1);
  alignas(16) float p[kMaxFrame];
  for (auto _ : state) {
    for (uint32 k = 0; k < n; k++) p[k] = spectrum[k];
    FFTnRC_fft(&fft, p, -1);
    benchmark::DoNotOptimize(p);
  }
}

void BM_FftwR2C(benchmark::State& state) {
  const int n = (int)state.range(0);
  float* in = fftwf_alloc_real(n);
  fftwf_complex* out = fftwf_alloc_complex(n / 2 + 1);
  fftwf_plan plan = fftwf_plan_dft_r2c_1d(n, in, out, FFTW_MEASURE);
  const std::vector<float> frame = Frame(n);
  for (auto _ : state) {
    for (int k = 0; k < n; k++) in[k] = frame[k];
    fftwf_execute(plan);
    benchmark::DoNotOptimize(out);
  }
  fftwf_destroy_plan(plan);
  fftwf_free(out);
  fftwf_free(in);
}

void BM_FftwC2R(benchmark::State& state) {
  const int n = (int)state.range(0);
  fftwf_complex* in = fftwf_alloc_complex(n / 2 + 1);
  float* out = fftwf_alloc_real(n);
  // c2r destroys its input, so every call starts from a fresh copy.
  fftwf_complex* spectrum = fftwf_alloc_complex(n / 2 + 1);
  fftwf_plan plan = fftwf_plan_dft_c2r_1d(n, in, out, FFTW_MEASURE);
  const std::vector<float> frame = Frame(n);
  for (int k = 0; k < n; k++) out[k] = frame[k];
  fftwf_plan forward = fftwf_plan_dft_r2c_1d(n, out, spectrum, FFTW_ESTIMATE);
  fftwf_execute(forward);
  fftwf_destroy_plan(forward);
  for (auto _ : state) {
    for (int k = 0; k <= n / 2; k++) {
      in[k][0] = spectrum[k][0];
      in[k][1] = spectrum[k][1];
    }
    fftwf_execute(plan);
    benchmark::DoNotOptimize(out);
  }
  fftwf_destroy_plan(plan);
  fftwf_free(spectrum);
  fftwf_free(out);
  fftwf_free(in);
}

BENCHMARK(BM_FftForward)->Arg(256)->Arg(512)->Arg(1024);
BENCHMARK(BM_FftInverse)->Arg(256)->Arg(512)->Arg(1024);
BENCHMARK(BM_FftwR2C)->Arg(256)->Arg(512)->Arg(1024);
BENCHMARK(BM_FftwC2R)->Arg(256)->Arg(512)->Arg(1024);

}  // namespace
