// Direction detector: steering vectors for the look direction, recursive
// power and cross-spectrum statistics of the two microphones, the
// direction-match value and the complex coherence gain.
#ifndef MICARRAY_SDIRECT10A_H
#define MICARRAY_SDIRECT10A_H

#include "com_struct.h"
#include "tab_sizes.h"

// Steering tables for look angles 0, 5, ..., 90 degrees. Each holds one
// segment of a frame's bins per frame size and microphone: microphone 0's at
// TFramePlan::steering, microphone 1's right after it.
extern const float reDirVecAng00_tab32f[kSteeringTableSize], imDirVecAng00_tab32f[kSteeringTableSize];
extern const float reDirVecAng05_tab32f[kSteeringTableSize], imDirVecAng05_tab32f[kSteeringTableSize];
extern const float reDirVecAng10_tab32f[kSteeringTableSize], imDirVecAng10_tab32f[kSteeringTableSize];
extern const float reDirVecAng15_tab32f[kSteeringTableSize], imDirVecAng15_tab32f[kSteeringTableSize];
extern const float reDirVecAng20_tab32f[kSteeringTableSize], imDirVecAng20_tab32f[kSteeringTableSize];
extern const float reDirVecAng25_tab32f[kSteeringTableSize], imDirVecAng25_tab32f[kSteeringTableSize];
extern const float reDirVecAng30_tab32f[kSteeringTableSize], imDirVecAng30_tab32f[kSteeringTableSize];
extern const float reDirVecAng35_tab32f[kSteeringTableSize], imDirVecAng35_tab32f[kSteeringTableSize];
extern const float reDirVecAng40_tab32f[kSteeringTableSize], imDirVecAng40_tab32f[kSteeringTableSize];
extern const float reDirVecAng45_tab32f[kSteeringTableSize], imDirVecAng45_tab32f[kSteeringTableSize];
extern const float reDirVecAng50_tab32f[kSteeringTableSize], imDirVecAng50_tab32f[kSteeringTableSize];
extern const float reDirVecAng55_tab32f[kSteeringTableSize], imDirVecAng55_tab32f[kSteeringTableSize];
extern const float reDirVecAng60_tab32f[kSteeringTableSize], imDirVecAng60_tab32f[kSteeringTableSize];
extern const float reDirVecAng65_tab32f[kSteeringTableSize], imDirVecAng65_tab32f[kSteeringTableSize];
extern const float reDirVecAng70_tab32f[kSteeringTableSize], imDirVecAng70_tab32f[kSteeringTableSize];
extern const float reDirVecAng75_tab32f[kSteeringTableSize], imDirVecAng75_tab32f[kSteeringTableSize];
extern const float reDirVecAng80_tab32f[kSteeringTableSize], imDirVecAng80_tab32f[kSteeringTableSize];
extern const float reDirVecAng85_tab32f[kSteeringTableSize], imDirVecAng85_tab32f[kSteeringTableSize];
extern const float reDirVecAng90_tab32f[kSteeringTableSize], imDirVecAng90_tab32f[kSteeringTableSize];

void sDirect10a_Init(TsDirect10a* it, uint32 SamplingRate, uint32 nfft, mfloat alfa);
void sDirect10a_Reset(TsDirect10a* it);
void sDirect10a_SetVectorDirect(TsDirect10a* it, mfloat angelTetta, mfloat Dom);
// reMics/imMics: both microphones' spectra, channel-major with stride maxFbin.
void sDirect10a_Detect(TsDirect10a* it, mfloat* reMics, mfloat* imMics);
// W = Y * gain of the latest detection; the output may alias the input.
void sDirect10a_FilterWiener(TsDirect10a* it, mfloat* reYb, mfloat* imYb, mfloat* reWYb, mfloat* imWYb);

#endif
