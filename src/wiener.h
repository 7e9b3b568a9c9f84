// Wiener post-filter on magnitude spectra with noise tracking, a suppression
// limit and musical-noise smoothing.
#ifndef MICARRAY_WIENER_H
#define MICARRAY_WIENER_H

#include "com_struct.h"

void FilterWiener_Init(TFilterWiener* it, uint32 nfft, char kind_subst, mfloat pSdb, mfloat pNn, mfloat pMn);
void FilterWiener_Reset(TFilterWiener* it, char kind_subst, mfloat pSdb, mfloat pNn, mfloat pMn);
// psdX: maxFbin magnitudes in, filtered magnitudes (ActiveSig != 0) or the
// noise estimate (ActiveSig == 0) out. stateVad != 0 refreshes the signal reference.
void FilterWiener_Run(TFilterWiener* it, char ActiveSig, char stateVad, mfloat* psdX);
void FilterWiener_Destroyed(TFilterWiener* it);

#endif
