// wavbeam: runs the two-microphone enhancement engine over a stereo 16-bit
// WAV file (one channel per microphone) and writes the enhanced mono signal
// as a WAV file, whose header is corrected with the true size at the end.
#include <stdio.h>
#include <unistd.h>

#include "host.h"
#include "wavrun.h"

namespace {

const int kArgCount = 8;  // the program name and seven arguments

// Keeps a console window open for a user who started the program from a
// desktop; a script or a pipe is not made to wait.
void WaitForKey() {
  if (!isatty(STDIN_FILENO)) return;
  puts("Press enter key");
  fflush(stdout);
  getchar();
}

int Usage() {
  puts("Usage: <Distance> <Speed> <pSdb> <pNn> <pMn> <inpFile> <outFile>");
  Host_PrintTuningUsage();
  puts("<inpFile> - input file (WAV PCM 16 bit linear, Stereo channels)");
  puts("<outFile> - output file");
  puts("");
  puts("========================================");
  Host_PrintBanner();
  WaitForKey();
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < kArgCount) return Usage();
  micarray::Tuning tuning;
  if (!HostTuning_Parse(&tuning, argv + 1)) return 1;
  const int status = WavRun_Process(&tuning, argv[6], argv[7]);
  if (status != 0) return status;

  puts("It's finished...");
  puts("======================================================");
  puts("");
  Host_PrintBanner();
  WaitForKey();
  return 0;
}
