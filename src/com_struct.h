// Records of the processing stages. Every array is sized for the largest
// configuration (frames of 1024 samples, 513 bins, two microphones); a stage
// uses only its first maxFbin (or nfft) entries.
#ifndef MICARRAY_COM_STRUCT_H
#define MICARRAY_COM_STRUCT_H

#include "fixed.h"

typedef float mfloat;  // the engine's working float: single precision

enum {
  kMaxFrame = 1024,          // longest analysis frame
  kMaxBins = 513,            // bins of the longest frame, DC to Nyquist
  kMaxMics = 2,              // microphones
  kMaxDct = 4                // DCT coefficients a double-talk detector keeps
};

// Packed real FFT of nfft points; the record only locates nfft's table segments.
typedef struct _TFFTnRC {
  uint32 nfft;
  int16 offset_cs;  // first entry of nfft's segment in m_arCosTable32f
  int16 offset_sw;  // first entry of nfft's segment in m_adwSwapTab
} TFFTnRC;

// Direction detector and coherence filter.
typedef struct _TsDirect10a {
  uint32 SamplingRate;
  uint32 maxFbin;
  uint32 lower_fbin;  // first bin of the direction band (nearest 615 Hz)
  uint32 upper_fbin;  // one past the last band bin (= maxFbin)
  mfloat alfa;        // weight of the newest frame in the recursive averages
  mfloat angelTetta;  // look angle in degrees
  mfloat sDirect;     // direction-match value of the latest step, in [-1, 1]
  mfloat sDirect2re;
  mfloat sDirect2im;
  mfloat sDirectDinamic;
  int16 offet_sd;     // start of this frame size's segment in the steering tables
  float reDirVec[kMaxMics][kMaxBins];
  float imDirVec[kMaxMics][kMaxBins];
  float micPw[kMaxMics * kMaxBins];  // channel-major, stride maxFbin
  float reCoherMics[kMaxBins];
  float imCoherMics[kMaxBins];
  float reCoherence[kMaxBins];
  float imCoherence[kMaxBins];
  float reWiener[kMaxBins];
  float imWiener[kMaxBins];
} TsDirect10a;

// Single-reference frequency-domain adaptive filter (blocking matrix).
typedef struct _TFDAF12 {
  uint32 maxFbin;
  float reW[kMaxBins];
  float imW[kMaxBins];
  float reE[kMaxBins];
  float imE[kMaxBins];
} TFDAF12;

// Multi-reference frequency-domain adaptive canceller; weights and references
// are packed reference after reference with stride maxFbin.
typedef struct _TMulFDAF12 {
  uint32 maxFbin;
  uint32 nReference;
  float reW[kMaxMics * kMaxBins];
  float imW[kMaxMics * kMaxBins];
  float reE[kMaxBins];
  float imE[kMaxBins];
} TMulFDAF12;

// Double-talk detector on low-order DCT coefficients of time frames.
typedef struct _TDTalkDetect {
  uint32 size_dct;
  uint32 length;
  float xDCT[kMaxDct];
  float yDCT[kMaxDct];
  float eDCT[kMaxDct];
} TDTalkDetect;

// Wiener post-filter on magnitude spectra.
typedef struct _TFilterWiener {
  uint32 maxFbin;  // 0 marks a torn-down record
  char kind_subst;
  mfloat pSn;
  mfloat pNn;
  mfloat pMn;
  float psdS[kMaxBins];
  float psdSmean[kMaxBins];
  float psdN[kMaxBins];
  float psdNmean[kMaxBins];
  float Hn[kMaxBins];
} TFilterWiener;

#endif
