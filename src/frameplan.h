// The frame plan: the layout of each supported frame size, generated with
// the constant tables by gentables.py (one row per size). The engine picks
// its row once, from the sampling rate, and every stage reads its lengths and
// table segments from it.
#ifndef MICARRAY_FRAMEPLAN_H
#define MICARRAY_FRAMEPLAN_H

#include "DTD.h"
#include "com_struct.h"
#include "tab_sizes.h"

typedef struct _TFramePlan {
  uint32 maxRate;    // highest sampling rate of the row; 0 in the last row, which takes every higher rate
  uint32 step;       // samples per step, a quarter frame
  uint32 frame;      // transform length
  uint32 bins;       // DC to Nyquist
  uint32 window;     // first entry of the frame's window in winTable32f
  uint32 cosines;    // first entry of the length's segment in m_arCosTable32f
  uint32 swaps;      // ... in m_adwSwapTab
  uint32 twiddles;   // ... in m_arTwiddle32f
  uint32 steering;   // first entry of microphone 0's segment in every steering table
  const float* dct;  // DCT-II basis rows 0 .. 3 of the frame
} TFramePlan;

extern const TFramePlan kFramePlans[kFramePlanRows];

// The row of a sampling rate: the first whose maxRate holds it.
inline const TFramePlan* FramePlan_ForRate(uint32 rate) {
  const TFramePlan* plan = kFramePlans;
  while (plan->maxRate != 0 && rate > plan->maxRate) plan++;
  return plan;
}

// The row of a transform length, or nullptr for a length without tables.
inline const TFramePlan* FramePlan_ForFrame(uint32 frame) {
  for (const TFramePlan& plan : kFramePlans)
    if (plan.frame == frame) return &plan;
  return nullptr;
}

#endif
