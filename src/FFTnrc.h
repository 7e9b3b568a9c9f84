// Packed real FFT of 256, 512 or 1024 points and the conversions between
// packed, split, magnitude and phase spectra.
//
// Packed spectrum of N floats: p[0] = DC, p[1] = Nyquist (both real), then
// p[2k], p[2k+1] = Re, Im of bin k for 1 <= k < N/2. The forward transform is
// unscaled; the inverse carries the whole 1/N.
#ifndef MICARRAY_FFTNRC_H
#define MICARRAY_FFTNRC_H

#include "com_struct.h"
#include "tab_sizes.h"

// cos(2*pi*k/N) for k = 0..N/4, one segment per length (TFramePlan::cosines).
extern const float m_arCosTable32f[kCosTableSize];
// Bit-reversal exchanges of the half-length complex FFT, one segment per
// length (TFramePlan::swaps).
extern const uint16 m_adwSwapTab[kSwapTableSize];
// Twiddles of the table-driven butterfly stages laid out for four positions
// per vector: per length (TFramePlan::twiddles) and half span
// h = 8 ... N/4 (at 4*(h - 8) within the length's segment), for every
// position j divisible by 4 the cosines {c_j, c_j, ..., c_j+3, c_j+3}, then
// the sines {s_j, -s_j, ..., s_j+3, -s_j+3}, each the value m_arCosTable32f
// gives.
alignas(32) extern const float m_arTwiddle32f[kTwiddleTableSize];

void FFTnRC_Init(TFFTnRC* it, uint32 nfft);
void FFTnRC_Destroyed(TFFTnRC* it);
// isign 1: real frame -> packed spectrum; isign -1: packed spectrum -> frame.
void FFTnRC_fft(TFFTnRC* it, mfloat* p, int isign);

void FFTnRC_fftbuf2xy(TFFTnRC* it, mfloat* fftbuf, mfloat* x, mfloat* y);
void FFTnRC_xy2fftbuf(TFFTnRC* it, mfloat* x, mfloat* y, mfloat* fftbuf);
void FFTnRC_fftbuf2R(TFFTnRC* it, mfloat* fftbuf, mfloat* R);
void FFTnRC_fftbuf2F(TFFTnRC* it, mfloat* fftbuf, mfloat* F);
void FFTnRC_fftbuf2RF(TFFTnRC* it, mfloat* fftbuf, mfloat* R, mfloat* F);
void FFTnRC_xy2R(TFFTnRC* it, mfloat* x, mfloat* y, mfloat* R);
void FFTnRC_xy2F(TFFTnRC* it, mfloat* x, mfloat* y, mfloat* F);
void FFTnRC_xy2RF(TFFTnRC* it, mfloat* x, mfloat* y, mfloat* R, mfloat* F);
void FFTnRC_RF2xy(TFFTnRC* it, mfloat* R, mfloat* F, mfloat* x, mfloat* y);
void FFTnRC_RF2fftbuf(TFFTnRC* it, mfloat* R, mfloat* F, mfloat* fftbuf);
// Magnitudes through the integer square root of the truncated power.
void FFTnRC_xy2R_fix(TFFTnRC* it, mfloat* x, mfloat* y, mfloat* R);
// Hann window at half-sample offsets.
void FFTnRC_channing(uint32 len, mfloat* Wh);

#endif
