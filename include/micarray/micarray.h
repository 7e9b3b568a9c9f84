// Two-microphone speech enhancement engine: public interface.
//
// The caller owns one TMicArray record, calls MicArray_Init, reads
// lenght_step (samples per channel consumed and produced by each step), then
// calls MicArray_Process once per step with lenght_step interleaved stereo
// pairs (microphone 0 first) and receives lenght_step mono samples, delayed by
// three steps. The engine allocates nothing and keeps no global state.
#ifndef MICARRAY_H
#define MICARRAY_H

#include "fixed.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef float mfloat;

typedef struct _TMicArray {
  uint32 lenght_step;   // written by MicArray_Init
  int8 Data[120000];    // opaque engine state
} TMicArray;

typedef char TChar100[100];

typedef struct tProductInfo {
  TChar100 product_name;
  TChar100 product_version;
  TChar100 product_company;
} TProductInfo;

extern const TProductInfo MicArray_Info;

void MicArray_Init(TMicArray* it, uint32 SamplingRate, mfloat Distance, mfloat speedAlpha, mfloat pSdb,
                   mfloat pNn, mfloat pMn);
// One step: inpbuf holds 2 * lenght_step interleaved samples, outbuf receives
// lenght_step samples. Returns 0.
mfloat MicArray_Process(TMicArray* it, int16* inpbuf, int16* outbuf);
// New post-filter parameters; every running estimate is kept.
void MicArray_Reset(TMicArray* it, mfloat pSdb, mfloat pNn, mfloat pMn);
void MicArray_Destroyed(TMicArray* it);
void vCpy(mfloat* r, mfloat* x, uint32 j);

#ifdef __cplusplus
}
#endif

#endif
