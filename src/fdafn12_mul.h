// Multi-reference frequency-domain adaptive canceller: the mean of the
// weighted references is removed from the desired spectrum, and each
// reference adapts against the common error with its own step size.
#ifndef MICARRAY_FDAFN12_MUL_H
#define MICARRAY_FDAFN12_MUL_H

#include "com_struct.h"

void MulFDAF12_Init(TMulFDAF12* it, uint32 nReference, uint32 nfft);
void MulFDAF12_Reset(TMulFDAF12* it);
void MulFDAF12_Destroyed(TMulFDAF12* it);
// reX/imX: nReference spectra packed with stride maxFbin; mulCoeff: one per reference.
void MulFDAF12_Substration(TMulFDAF12* it, mfloat* reX, mfloat* imX, mfloat* reD, mfloat* imD, mfloat* mulCoeff);
void MulFDAF12_Adaptation(TMulFDAF12* it, mfloat* reX, mfloat* imX, mfloat* mulCoeff);

#endif
