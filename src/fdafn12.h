// Single-reference frequency-domain adaptive filter: one complex weight per
// bin, normalised LMS with the weight magnitude limited to 1.
#ifndef MICARRAY_FDAFN12_H
#define MICARRAY_FDAFN12_H

#include "com_struct.h"

void FDAF12_Init(TFDAF12* it, uint32 nfft);
void FDAF12_Reset(TFDAF12* it);
void FDAF12_Destroyed(TFDAF12* it);
// E = D - mulCoeff * W * X into it->reE/imE.
void FDAF12_Substration(TFDAF12* it, mfloat* reX, mfloat* imX, mfloat* reD, mfloat* imD, mfloat mulCoeff);
// W += mulCoeff * E * conj(X) / (|X|^2 + 1e-20), from the stored E.
void FDAF12_Adaptation(TFDAF12* it, mfloat* reX, mfloat* imX, mfloat mulCoeff);

#endif
