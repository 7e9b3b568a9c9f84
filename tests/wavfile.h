// Byte-level construction of RIFF/WAVE files for the tests,
// written independently of the header module.
#ifndef MICARRAY_TEST_WAVFILE_H
#define MICARRAY_TEST_WAVFILE_H

#include <cstdint>
#include <string>
#include <vector>

inline std::string LeU16(unsigned v) { return std::string{(char)(v & 0xFF), (char)((v >> 8) & 0xFF)}; }

inline std::string LeU32(unsigned long v) { return LeU16(v & 0xFFFF) + LeU16((v >> 16) & 0xFFFF); }

// A chunk: id, 32-bit body size, body (no pad byte).
inline std::string Chunk(const std::string& id, const std::string& body) {
  return id + LeU32(body.size()) + body;
}

struct WavFormat {
  unsigned format = 1;
  unsigned channels = 2;
  unsigned long rate = 16000;
  unsigned bits = 16;
  unsigned long fmtSize = 16;  // bytes beyond 16 are written as zeros
};

inline std::string FmtChunk(const WavFormat& f) {
  const unsigned blockAlign = f.channels * f.bits / 8;
  std::string body = LeU16(f.format) + LeU16(f.channels) + LeU32(f.rate) + LeU32(f.rate * blockAlign) +
                     LeU16(blockAlign) + LeU16(f.bits);
  body.resize(f.fmtSize, '\0');
  return Chunk("fmt ", body);
}

// "RIFF" size "WAVE", then the chunks as given.
inline std::string Riff(const std::string& chunks) {
  return "RIFF" + LeU32(4 + chunks.size()) + "WAVE" + chunks;
}

// A plain file: `fmt `, then `data` with its body and declared size (-1: the body's).
inline std::string WavFile(const WavFormat& f, const std::string& data, long long declaredSize = -1) {
  const unsigned long size = declaredSize < 0 ? data.size() : (unsigned long)declaredSize;
  return Riff(FmtChunk(f) + "data" + LeU32(size) + data);
}

// The header a writer gives for dataSize bytes of samples: RIFF size over
// everything after it, `fmt ` (with a pad byte when odd-sized), an empty
// `fact`, the `data` id and size.
inline std::string WrittenHeader(const WavFormat& f, unsigned long dataSize) {
  const std::string pad(f.fmtSize % 2, '\0');
  return "RIFF" + LeU32(f.fmtSize + pad.size() + 32 + dataSize) + "WAVE" + FmtChunk(f) + pad +
         Chunk("fact", LeU32(0)) + "data" + LeU32(dataSize);
}

inline std::string PcmBytes(const std::vector<int16_t>& samples) {
  std::string s;
  for (int16_t v : samples) s += LeU16((uint16_t)v);
  return s;
}

#endif
