// consumer RATE IN.pcm OUT.pcm: the engine's own stream over a headerless
// stereo 16-bit file, through the installed C++ interface.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "micarray.hpp"

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  micarray::Engine engine((unsigned)atoi(argv[1]));
  FILE* in = fopen(argv[2], "rb");
  FILE* out = fopen(argv[3], "wb");
  if (!in || !out) return 1;
  std::vector<int16_t> stereo(2 * engine.step()), mono(engine.step());
  while (fread(stereo.data(), sizeof(int16_t), stereo.size(), in) == stereo.size()) {
    engine.process(stereo, mono);
    fwrite(mono.data(), sizeof(int16_t), mono.size(), out);
  }
  fclose(in);
  return fclose(out) == 0 ? 0 : 1;
}
