// pcmbeam: runs the engine over a headerless stereo 16-bit PCM file and
// writes the enhanced mono signal as headerless 16-bit PCM.
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>

#include "host.h"
#include "micarray.h"

namespace {

const int kArgCount = 8;
const int kMaxSampleRate = 32000;
const uint16 kBytesPerSample = 2;

// One stream's layout; both files are raw samples in the machine's order.
typedef struct _Tpcm {
  uint32 SampleRate;
  uint16 Channels;
  uint32 ByteRate;  // bytes per sample
  uint32 DataSize;
} Tpcm;

void PrintUsage() {
  puts("Usage: <Distance> <Speed> <pSdb> <pNn> <pMn> <SampleRate> <inpFile> <outFile>");
  Host_PrintTuningUsage();
  puts("<SampleRate> - sampling rate for input file: 8000 or 16000");
  puts("<inpFile> - input sound file, RAW PCM 16 bits linear format, Stereo (*.pcm).");
  puts("<outFile> - output sound file, Mono (*.pcm).");
  puts("Supported input signal formats (*.pcm):");
  puts("   - RAW PCM (16 bit linear), Stereo channels;");
  puts("");
  puts("");
  puts("========================================");
  Host_PrintBanner();
}

int Fail(const char* message) {
  puts(message);
  return 1;
}

// Feeds the engine step by step until the input runs short; a trailing
// partial step is dropped. Returns the message of a failure, or nullptr.
const char* RunSteps(TMicArray* engine, FILE* inp, const Tpcm& in, FILE* out, const Tpcm& ou, int16* inpbuf,
                     int16* outbuf) {
  const size_t want = (size_t)in.Channels * engine->lenght_step;
  const size_t give = (size_t)ou.Channels * engine->lenght_step;
  while (fread(inpbuf, in.ByteRate, want, inp) == want) {
    MicArray_Process(engine, inpbuf, outbuf);
    if (fwrite(outbuf, ou.ByteRate, give, out) != give) return "Couldn't Write File";
  }
  return ferror(inp) ? "Couldn't read input file" : nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < kArgCount + 1) {
    PrintUsage();
    return 1;
  }
  micarray::Tuning tuning;
  if (!HostTuning_Parse(&tuning, argv + 1)) return 1;
  // Text that is wholly a number; its leading whole part is the rate, as the
  // program has always read it (16000.5 runs at 16000 Hz). Numbers of any
  // size: larger ones are refused below as too high.
  char* end = nullptr;
  strtod(argv[6], &end);
  if (end == argv[6] || *end != '\0') return Fail("Sampling rate for input file must be a number of Hz");
  const long parsed = strtol(argv[6], nullptr, 10);
  const int rate = (int)std::max<long>(std::min<long>(parsed, INT_MAX), INT_MIN);

  FILE* inp = fopen(argv[7], "rb");
  if (!inp) return Fail("Couldn't read input file");
  if (rate < 0 || rate > kMaxSampleRate) {
    fclose(inp);
    return Fail("Sampling rate for input file must be <= 32 kHz");
  }
  THostOutput out;
  if (!HostOutput_Open(&out, argv[8])) {
    fclose(inp);
    return Fail("Couldn't Write File");
  }
  const Tpcm in = {(uint32)rate, 2, kBytesPerSample, 0};
  const Tpcm ou = {(uint32)rate, 1, kBytesPerSample, 0};

  TMicArray engine;
  MicArray_Init(&engine, in.SampleRate, tuning.distance, tuning.speed, tuning.suppression, tuning.noise_rate,
                tuning.musical);
  int16* inpbuf = (int16*)malloc(sizeof(int16) * in.Channels * engine.lenght_step);
  int16* outbuf = (int16*)malloc(sizeof(int16) * engine.lenght_step);
  const char* failure = (inpbuf && outbuf) ? nullptr : "Couldn't allocate memory";

  if (!failure) {
    puts("Detection ...");
    failure = RunSteps(&engine, inp, in, out.file, ou, inpbuf, outbuf);
  }
  if (!failure) {
    printf("Sampling rate: %d Hz\n", rate);
    printf("Length step: %d samples\n", (int)engine.lenght_step);
  }
  MicArray_Destroyed(&engine);
  free(inpbuf);
  free(outbuf);
  fclose(inp);
  // Buffered data reaches the file only on close: a failed close is a lost output.
  if (failure)
    HostOutput_Abandon(&out);
  else if (!HostOutput_Commit(&out))
    failure = "Couldn't Write File";
  if (failure) return Fail(failure);

  puts("It's finished...");
  puts("======================================================");
  puts("");
  Host_PrintBanner();
  puts("");
  return 0;
}
