/* consumer_c RATE IN.pcm OUT.pcm: the engine's own stream over a headerless
   stereo 16-bit file, through the installed C interface. */
#include <stdio.h>
#include <stdlib.h>

#include "micarray.h"

static TMicArray engine; /* the record is large: kept out of the stack */

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  MicArray_Init(&engine, (uint32)atoi(argv[1]), 0.05f, 0.07f, -15.0f, 0.90f, 0.98f);
  const size_t step = engine.lenght_step;
  int16* stereo = malloc(2 * step * sizeof *stereo);
  int16* mono = malloc(step * sizeof *mono);
  FILE* in = fopen(argv[2], "rb");
  FILE* out = fopen(argv[3], "wb");
  if (!stereo || !mono || !in || !out) return 1;
  while (fread(stereo, sizeof *stereo, 2 * step, in) == 2 * step) {
    MicArray_Process(&engine, stereo, mono);
    fwrite(mono, sizeof *mono, step, out);
  }
  MicArray_Destroyed(&engine);
  free(stereo);
  free(mono);
  fclose(in);
  return fclose(out) == 0 ? 0 : 1;
}
