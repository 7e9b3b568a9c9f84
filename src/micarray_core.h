// Internal engine record, laid over the public TMicArray storage. Private to
// the engine and its tests.
#ifndef MICARRAY_CORE_H
#define MICARRAY_CORE_H

#include <cstddef>

#include "DTD.h"
#include "FFTnrc.h"
#include "com_struct.h"
#include "fdafn12.h"
#include "fdafn12_mul.h"
#include "frameplan.h"
#include "micarray.h"
#include "sdirect10a.h"
#include "wiener.h"

// Hann windows for every frame size, back to back (TFramePlan::window).
extern const float winTable32f[kWindowTableSize];

namespace micarray_core {

typedef struct _TMicArray {
  uint32 lenght_step;   // same place and type as the public field
  uint32 lenght_frame;
  uint32 sizeMic;
  uint32 maxFbin;
  mfloat div_step;      // each output frame is scaled by 1 / (2 * div_step); always 1
  uint32 ui_counter;    // steps since MicArray_Init
  uint32 SampleRate;
  mfloat Distance;
  mfloat angleTetta_start;
  TFFTnRC FFTnRC;
  float buff[kMaxFrame];
  TsDirect10a sDr10a;
  TFDAF12 bm[kMaxMics];
  mfloat sdd;
  mfloat sdd_thr;
  mfloat mSuppression;
  mfloat sdd_old;
  TDTalkDetect dtd[kMaxMics];
  uint8 dtd_status[kMaxMics];
  float dtd_coeff[kMaxMics];
  TMulFDAF12 mulC;
  int16 offset_wn;
  int16 frameMic[kMaxFrame * kMaxMics];  // interleaved, oldest sample first
  float PhasaYb[kMaxBins];
  float BM_re[kMaxMics * kMaxBins];      // channel-major, stride maxFbin
  float BM_im[kMaxMics * kMaxBins];
  float reXmic[kMaxMics * kMaxBins];
  float imXmic[kMaxMics * kMaxBins];
  float dYb[kMaxFrame];
  float reYb[kMaxBins];
  float imYb[kMaxBins];
  int16 dOut_wE[kMaxFrame];
  int16 dOutPrev_wE[kMaxFrame];
  float reE[kMaxBins];
  float imE[kMaxBins];
  float reWE[kMaxBins];
  float imWE[kMaxBins];
  float psdE[kMaxBins];
  float reWYb[kMaxBins];
  float imWYb[kMaxBins];
  TFilterWiener fwiener;
  int16 pre_emphasis[kMaxMics];
  int16 de_emphasis;
} TMicArray;

static_assert(sizeof(TMicArray) <= sizeof(::TMicArray), "engine state must fit the public record");
static_assert(offsetof(TMicArray, lenght_step) == offsetof(::TMicArray, lenght_step),
              "lenght_step is shared by both views of the record");

// The engine's view of a host's record.
inline TMicArray* Core(::TMicArray* it) { return reinterpret_cast<TMicArray*>(it); }

}  // namespace micarray_core

#endif
