// The WAV header reader on arbitrary bytes: it either stops right behind a
// `data` id and its size, or throws "Unknown format"; it never reads outside
// the file. A header it read is written again and read back unchanged.
#include <stdio.h>
#include <stdlib.h>

#include <cstdint>
#include <string>
#include <vector>

#include "wav.h"

namespace {

// Longest `fmt ` extension written back: the writer pads with that many zeros.
const unsigned long kMaxRewrittenFmtSize = 1 << 16;

uint32_t LeU32(const unsigned char* p) {
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

// A read-only stream over bytes; an empty file is /dev/null (fmemopen wants a buffer).
FILE* OpenBytes(std::vector<unsigned char>& bytes) {
  return bytes.empty() ? fopen("/dev/null", "rb") : fmemopen(bytes.data(), bytes.size(), "rb");
}

bool SameFields(const WAV_HEADER& a, const WAV_HEADER& b) {
  return a.SubChunk_fmtSize == b.SubChunk_fmtSize && a.AudioFormat == b.AudioFormat && a.Channels == b.Channels &&
         a.SampleRate == b.SampleRate && a.ByteRate == b.ByteRate && a.BlockAlign == b.BlockAlign &&
         a.BitsPerSample == b.BitsPerSample && a.DataSize == b.DataSize;
}

void RewriteAndCompare(WAV_HEADER& h) {
  char* written = nullptr;
  size_t length = 0;
  FILE* out = open_memstream(&written, &length);
  if (!out || !h.SaveToFile(out) || fclose(out) != 0) abort();
  std::vector<unsigned char> bytes(written, written + length);
  free(written);
  FILE* in = OpenBytes(bytes);
  WAV_HEADER again;
  again.LoadFromFile(in);  // a throw here is a finding as well
  if (!SameFields(h, again) || ftell(in) != (long)bytes.size()) abort();
  fclose(in);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<unsigned char> bytes(data, data + size);
  FILE* file = OpenBytes(bytes);
  if (!file) abort();
  WAV_HEADER h;
  try {
    h.LoadFromFile(file);
  } catch (const std::string& e) {
    if (e != "Unknown format") abort();
    fclose(file);
    return 0;
  }
  // The stream stands behind "data" and the size that was read.
  const long at = ftell(file);
  fclose(file);
  if (at < 8 || (size_t)at > size) abort();
  if (std::string((const char*)data + at - 8, 4) != "data" || LeU32(data + at - 4) != h.DataSize) abort();
  if (h.SubChunk_fmtSize <= kMaxRewrittenFmtSize) RewriteAndCompare(h);
  return 0;
}
