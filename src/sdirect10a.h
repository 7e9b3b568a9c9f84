// Direction detector: steering vectors for the look direction, recursive
// power and cross-spectrum statistics of the two microphones, the
// direction-match value and the complex coherence gain.
#ifndef MICARRAY_SDIRECT10A_H
#define MICARRAY_SDIRECT10A_H

#include "com_struct.h"

// Steering tables for look angles 0, 5, ..., 90 degrees. Each holds one
// segment per frame size and microphone: 129 bins at 0 and 129, 257 bins at
// 258 and 515, 513 bins at 772 and 1285.
extern const float reDirVecAng00_tab32f[1798], imDirVecAng00_tab32f[1798];
extern const float reDirVecAng05_tab32f[1798], imDirVecAng05_tab32f[1798];
extern const float reDirVecAng10_tab32f[1798], imDirVecAng10_tab32f[1798];
extern const float reDirVecAng15_tab32f[1798], imDirVecAng15_tab32f[1798];
extern const float reDirVecAng20_tab32f[1798], imDirVecAng20_tab32f[1798];
extern const float reDirVecAng25_tab32f[1798], imDirVecAng25_tab32f[1798];
extern const float reDirVecAng30_tab32f[1798], imDirVecAng30_tab32f[1798];
extern const float reDirVecAng35_tab32f[1798], imDirVecAng35_tab32f[1798];
extern const float reDirVecAng40_tab32f[1798], imDirVecAng40_tab32f[1798];
extern const float reDirVecAng45_tab32f[1798], imDirVecAng45_tab32f[1798];
extern const float reDirVecAng50_tab32f[1798], imDirVecAng50_tab32f[1798];
extern const float reDirVecAng55_tab32f[1798], imDirVecAng55_tab32f[1798];
extern const float reDirVecAng60_tab32f[1798], imDirVecAng60_tab32f[1798];
extern const float reDirVecAng65_tab32f[1798], imDirVecAng65_tab32f[1798];
extern const float reDirVecAng70_tab32f[1798], imDirVecAng70_tab32f[1798];
extern const float reDirVecAng75_tab32f[1798], imDirVecAng75_tab32f[1798];
extern const float reDirVecAng80_tab32f[1798], imDirVecAng80_tab32f[1798];
extern const float reDirVecAng85_tab32f[1798], imDirVecAng85_tab32f[1798];
extern const float reDirVecAng90_tab32f[1798], imDirVecAng90_tab32f[1798];

void sDirect10a_Init(TsDirect10a* it, uint32 SamplingRate, uint32 nfft, mfloat alfa);
void sDirect10a_Reset(TsDirect10a* it);
void sDirect10a_SetVectorDirect(TsDirect10a* it, mfloat angelTetta, mfloat Dom);
// reMics/imMics: both microphones' spectra, channel-major with stride maxFbin.
void sDirect10a_Detect(TsDirect10a* it, mfloat* reMics, mfloat* imMics);
// W = Y * gain of the latest detection; the output may alias the input.
void sDirect10a_FilterWiener(TsDirect10a* it, mfloat* reYb, mfloat* imYb, mfloat* reWYb, mfloat* imWYb);

#endif
