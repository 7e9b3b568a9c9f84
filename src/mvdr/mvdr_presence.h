// Probability that the talker is present in a bin, from the beam output
// (multichannel speech presence with a rank-one target; Souden, Chen,
// Benesty and Affes, IEEE TASLP 2010), with prior 1/2 and xi at least 15 dB:
//   xi    = max((w^H Phi_x w - 1/D) D, 31.6)   the target-to-noise ratio at the output
//   gamma = |y|^2 D
//   p     = 1 / (1 + (1 + xi) exp(-gamma xi / (1 + xi)))
#ifndef MICARRAY_MVDR_PRESENCE_H
#define MICARRAY_MVDR_PRESENCE_H

#include <stdint.h>

#include "mvdr_beam.h"

typedef struct {
  uint32_t bins;
  alignas(64) float p[kMvdrMaxBins];
} TMvdrPresence;

void MvdrPresence_Init(TMvdrPresence* it, uint32_t n);
void MvdrPresence_Update(TMvdrPresence* it, const TMvdrBeam* beam);

#endif
