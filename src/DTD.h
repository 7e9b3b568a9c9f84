// Double-talk detector: compares the low-frequency energy (first DCT-II
// coefficients) of time frames and returns a similarity in [0, 1].
#ifndef MICARRAY_DTD_H
#define MICARRAY_DTD_H

#include "com_struct.h"

// Orthonormal DCT-II basis rows 0..3 for frames of 256, 512 and 1024 samples.
extern const float mdct4x256_Tab32f[4][256];
extern const float mdct4x512_Tab32f[4][512];
extern const float mdct4x1024_Tab32f[4][1024];

void DTalkDetect_Init(TDTalkDetect* it, uint32 size_dct, uint32 length);
void DTalkDetect_Destroyed(TDTalkDetect* it);
// Similarity 2*Px*Pd/(Px^2 + Pd^2) of frames x and d into *rDTD; 1 when it
// reaches pThreshold.
uint8 DTalkDetect_RunMA(TDTalkDetect* it, mfloat pThreshold, const mfloat* x, const mfloat* d, mfloat* rDTD);
// Three-frame variant: 2*Pe*Px/(Py^2 + Px^2 + Pe^2).
uint8 DTalkDetect_RunMM(TDTalkDetect* it, mfloat pThreshold, const mfloat* x, const mfloat* y, const mfloat* e,
                        mfloat* rDTD);
void DCT_dct(TDTalkDetect* it, const mfloat* inp, mfloat* output);
// DCT_dct of up to kMaxDctFrames frames of the detector's length in one pass:
// output[f] receives the coefficients of inp[f].
enum { kMaxDctFrames = kMaxMics + 1 };
void DCT_dctFrames(TDTalkDetect* it, uint32 frames, const mfloat* const* inp, mfloat* const* output);
// RunMA's decision from the coefficients already in xDCT and yDCT.
uint8 DTalkDetect_DecideMA(TDTalkDetect* it, mfloat pThreshold, mfloat* rDTD);

#endif
