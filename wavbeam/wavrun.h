// The run of wavbeam after its command line was accepted: input checks,
// output header, the engine over every complete step of the data, corrected
// header. Kept apart from the console front (usage text, banner, key wait)
// so that a whole run can be repeated in-process.
#ifndef MICARRAY_WAVRUN_H
#define MICARRAY_WAVRUN_H

#include "host.h"

// Runs the engine with `tuning` over the WAV file inpFile into the WAV file
// outFile. Prints the run's lines and returns 0 once the output is complete,
// or prints the reason and returns 1; the output name then keeps what it held.
int WavRun_Process(const micarray::Tuning* tuning, const char* inpFile, const char* outFile);

#endif
