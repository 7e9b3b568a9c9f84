// micbeam --live: two microphones of an audio input device enhanced as they
// arrive, played on an output device and/or written to a file; and the list
// of the devices that can be chosen.
#ifndef MICBEAM_LIVE_H
#define MICBEAM_LIVE_H

#include "options.h"

// Prints every input and output device with its channels and rate; the
// exit status.
int Live_ListDevices();

// Runs until --duration is reached, SIGINT or SIGTERM (status 0), or a
// device fails (status 1); the output file is complete in every case.
int Live_Run(const TMicbeamOptions* options);

#endif
