// wavbeam's whole run on an arbitrary input file: status 0 with a complete,
// self-consistent output WAV file, or status 1 with no output at all, and
// nothing left behind under a temporary name.
#include <stdlib.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>

#include "run_dir.h"
#include "wavrun.h"

namespace {

const micarray::Tuning kTuning;  // the defaults
const size_t kHeaderBytes = 56;  // written header with a 16-byte `fmt ` body
const unsigned long kFmtFieldsSize = 16;

uint32_t LeU32(const std::string& s, size_t at) {
  const unsigned char* p = (const unsigned char*)s.data() + at;
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

std::string ReadAll(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

// Sizes in the header agree with the file: RIFF size, `fmt ` size (and pad byte), data size
// of whole mono samples.
void CheckOutput(const std::string& out) {
  if (out.size() < kHeaderBytes || out.compare(0, 4, "RIFF") != 0) abort();
  const unsigned long fmtSize = LeU32(out, 16);
  const size_t extension = fmtSize > kFmtFieldsSize ? fmtSize - kFmtFieldsSize : 0;
  const size_t header = kHeaderBytes + extension + fmtSize % 2;
  if (out.size() < header || LeU32(out, 4) != (uint32_t)(out.size() - 8)) abort();
  if (out.compare(header - 8, 4, "data") != 0 || LeU32(out, header - 4) != out.size() - header) abort();
  if ((out.size() - header) % 2 != 0) abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  RunDir_Make("wavbeam", "in.wav", "out.wav");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  RunDir_Write(data, size);
  const std::string& in = gRunDir.in;
  const std::string& out = gRunDir.out;

  const int status = WavRun_Process(&kTuning, in.c_str(), out.c_str());
  if (status == 0) {
    CheckOutput(ReadAll(out));
    if (RunDir_Entries() != 2) abort();
  } else {
    if (status != 1 || RunDir_Entries() != 1) abort();
  }
  return 0;
}
