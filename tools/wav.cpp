#include "wav.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Chunk ids and the bytes of the fixed part of a `fmt ` chunk body.
const char kRiffId[4] = {'R', 'I', 'F', 'F'};
const char kWaveId[4] = {'W', 'A', 'V', 'E'};
const char kFmtId[4] = {'f', 'm', 't', ' '};
const char kFactId[4] = {'f', 'a', 'c', 't'};
const char kDataId[4] = {'d', 'a', 't', 'a'};
const unsigned long kFmtFieldsSize = 16;
// The RIFF size counts everything after its own field: 48 + p header bytes
// and the data; with p = fmtSize - 16 that is fmtSize + 32 + DataSize.
const unsigned long kRiffSizeOverhead = 32;
const uint32_t kFactBodySize = 4;
// A recorder that streams its file leaves the data size at one of these.
const uint32_t kSizeUnknownZero = 0;
const uint32_t kSizeUnknownMax = 0xFFFFFFFFu;
// Chunk ids are printable ASCII.
const unsigned char kFirstPrintable = 0x20, kLastPrintable = 0x7E;

const unsigned short kFormatPcm = 1;
const unsigned short kFormatAlaw = 6;
const unsigned short kFormatUlaw = 7;
const unsigned short kPcmBits = 16;

// Table entries hold the 16-bit two's-complement pattern of a sample.
constexpr long Pattern16(long sample) { return (sample + 0x10000) & 0xFFFF; }

// G.711 A-law: even bits inverted (XOR 0x55); 3-bit segment s and 4-bit step
// q; segments 0 and 1 share the step 16, each further one doubles it; the
// reconstruction sits in the middle of the quantisation interval.
constexpr long AlawToLinear(unsigned b) {
  const unsigned a = b ^ 0x55u;
  const long q = (long)(a & 0x0Fu);
  const unsigned s = (a >> 4) & 7u;
  const long t = s == 0 ? q * 16 + 8 : (q * 16 + 0x108) << (s - 1);
  return Pattern16((a & 0x80u) ? t : -t);
}

// G.711 mu-law: all bits inverted; magnitude ((q * 8 + bias) << s) - bias
// with the bias 0x84 that makes the segments continuous.
constexpr long UlawToLinear(unsigned b) {
  const unsigned u = ~b & 0xFFu;
  const long bias = 0x84;
  const long t = ((long)(u & 0x0Fu) * 8 + bias) << ((u >> 4) & 7u);
  return Pattern16((u & 0x80u) ? bias - t : t - bias);
}

template <long (*Decode)(unsigned)>
constexpr std::array<long, 256> MakeTable() {
  std::array<long, 256> table{};
  for (unsigned b = 0; b < 256; b++) table[b] = Decode(b);
  return table;
}

[[noreturn]] void FailUnknown() { throw std::string("Unknown format"); }

void ReadExact(FILE* file, unsigned char* bytes, size_t n) {
  if (fread(bytes, 1, n, file) != n) FailUnknown();
}

uint32_t ReadU32(FILE* file) {
  unsigned char b[4];
  ReadExact(file, b, sizeof b);
  return (uint32_t)b[0] | (uint32_t)b[1] << 8 | (uint32_t)b[2] << 16 | (uint32_t)b[3] << 24;
}

unsigned short ReadU16(FILE* file) {
  unsigned char b[2];
  ReadExact(file, b, sizeof b);
  return (unsigned short)(b[0] | b[1] << 8);
}

void ReadId(FILE* file, char id[4]) { ReadExact(file, (unsigned char*)id, 4); }

bool IsId(const char id[4], const char expected[4]) { return memcmp(id, expected, 4) == 0; }

// Moves forward by a 32-bit size, in pieces that fit a 32-bit long; a
// stream that cannot seek (a pipe) is read through.
void Skip(FILE* file, unsigned long n) {
  const unsigned long kMaxSeek = 0x40000000;
  unsigned char discard[4096];
  while (n > 0) {
    unsigned long piece = n < kMaxSeek ? n : kMaxSeek;
    if (fseek(file, (long)piece, SEEK_CUR) != 0) {
      if (errno != ESPIPE) FailUnknown();
      piece = n < sizeof discard ? n : sizeof discard;
      ReadExact(file, discard, piece);
    }
    n -= piece;
  }
}

// A chunk of odd size is followed by a pad byte of zero. Some writers leave
// it out: a byte that is not zero starts the next chunk.
void SkipPad(FILE* file, unsigned long size) {
  if (size % 2 == 0) return;
  const int c = fgetc(file);
  if (c > 0) ungetc(c, file);
}

// Whether a chunk header follows (an id of printable characters and a size
// within the file) without moving the stream; false when the stream cannot
// tell (a pipe).
bool ChunkFollows(FILE* file) {
  const long at = ftell(file);
  unsigned char head[8];
  if (at < 0 || fseek(file, 0L, SEEK_END) != 0) return false;
  const long end = ftell(file);
  const bool complete = fseek(file, at, SEEK_SET) == 0 && fread(head, 1, sizeof head, file) == sizeof head;
  if (fseek(file, at, SEEK_SET) != 0) FailUnknown();
  if (!complete) return false;
  for (int i = 0; i < 4; i++)
    if (head[i] < kFirstPrintable || head[i] > kLastPrintable) return false;
  const unsigned long size = (unsigned long)head[4] | (unsigned long)head[5] << 8 | (unsigned long)head[6] << 16 |
                             (unsigned long)head[7] << 24;
  return (unsigned long)(end - at) - sizeof head >= size;
}

void PutU16(unsigned char* p, unsigned v) {
  p[0] = (unsigned char)(v & 0xFF);
  p[1] = (unsigned char)(v >> 8 & 0xFF);
}

void PutU32(unsigned char* p, unsigned long v) {
  PutU16(p, (unsigned)(v & 0xFFFF));
  PutU16(p + 2, (unsigned)(v >> 16 & 0xFFFF));
}

bool WriteBytes(FILE* file, const unsigned char* bytes, size_t n) { return fwrite(bytes, 1, n, file) == n; }

bool WriteZeros(FILE* file, unsigned long n) {
  static const unsigned char kZeros[256] = {};
  while (n > 0) {
    const size_t piece = n < sizeof kZeros ? (size_t)n : sizeof kZeros;
    if (!WriteBytes(file, kZeros, piece)) return false;
    n -= piece;
  }
  return true;
}

// 16-bit linear PCM, A-law and mu-law can be loaded; the frame count divides
// by BlockAlign.
bool Loadable(const WAV_HEADER& h) {
  const bool pcm16 = h.AudioFormat == kFormatPcm && h.BitsPerSample == kPcmBits;
  const bool g711 = h.AudioFormat == kFormatAlaw || h.AudioFormat == kFormatUlaw;
  return (pcm16 || g711) && h.BlockAlign != 0;
}

// Reads n G.711 code bytes and decodes them through table; false when short.
bool ReadG711(FILE* file, const std::array<long, 256>& table, short* out, size_t n) {
  unsigned char* codes = (unsigned char*)malloc(n);
  const bool complete = codes != nullptr && fread(codes, 1, n, file) == n;
  if (complete)
    for (size_t i = 0; i < n; i++) out[i] = (short)(uint16_t)table[codes[i]];
  free(codes);
  return complete;
}

}  // namespace

constexpr std::array<long, 256> alaw2linear = MakeTable<AlawToLinear>();
constexpr std::array<long, 256> ulaw2linear = MakeTable<UlawToLinear>();

WAV_HEADER::WAV_HEADER()
    : SubChunk_fmtSize(0),
      AudioFormat(0),
      Channels(0),
      SampleRate(0),
      ByteRate(0),
      BlockAlign(0),
      BitsPerSample(0),
      DataSize(0),
      DataToEnd(false) {}

WAV_HEADER::WAV_HEADER(const WAV_HEADER& H) = default;

WAV_HEADER::~WAV_HEADER() = default;

WAV_HEADER& WAV_HEADER::operator=(const WAV_HEADER& H) = default;

void WAV_HEADER::LoadFromFile(FILE* file) {
  char id[4];
  ReadId(file, id);
  if (!IsId(id, kRiffId)) FailUnknown();
  ReadU32(file);  // RIFF size: the data chunk's own size is used instead
  ReadId(file, id);
  if (!IsId(id, kWaveId)) FailUnknown();

  // Chunks one after the other by their sizes, whatever their bodies hold;
  // the format must come before the samples.
  bool haveFormat = false;
  for (;;) {
    ReadId(file, id);
    const uint32_t size = ReadU32(file);
    if (IsId(id, kDataId)) {
      if (!haveFormat) FailUnknown();
      DataSize = size;
      DataToEnd = size == kSizeUnknownMax || (size == kSizeUnknownZero && !ChunkFollows(file));
      return;
    }
    if (IsId(id, kFmtId)) {
      SubChunk_fmtSize = size;
      // A chunk too short for the fields would have them read from what follows it.
      if (SubChunk_fmtSize < kFmtFieldsSize) FailUnknown();
      AudioFormat = ReadU16(file);
      Channels = ReadU16(file);
      SampleRate = ReadU32(file);
      ByteRate = ReadU32(file);
      BlockAlign = ReadU16(file);
      BitsPerSample = ReadU16(file);
      Skip(file, SubChunk_fmtSize - kFmtFieldsSize);
      haveFormat = true;
    } else {
      Skip(file, size);
    }
    SkipPad(file, size);
  }
}

bool WAV_HEADER::SaveToFile(FILE* file) {
  const unsigned long extension = SubChunk_fmtSize > kFmtFieldsSize ? SubChunk_fmtSize - kFmtFieldsSize : 0;
  const unsigned long padByte = SubChunk_fmtSize % 2;  // an odd-sized chunk is followed by one
  unsigned char head[36];
  memcpy(head, kRiffId, 4);
  PutU32(head + 4, (SubChunk_fmtSize + padByte + DataSize + kRiffSizeOverhead) & 0xFFFFFFFFul);
  memcpy(head + 8, kWaveId, 4);
  memcpy(head + 12, kFmtId, 4);
  PutU32(head + 16, SubChunk_fmtSize);
  PutU16(head + 20, AudioFormat);
  PutU16(head + 22, Channels);
  PutU32(head + 24, SampleRate);
  PutU32(head + 28, ByteRate);
  PutU16(head + 32, BlockAlign);
  PutU16(head + 34, BitsPerSample);

  unsigned char tail[20];
  memcpy(tail, kFactId, 4);
  PutU32(tail + 4, kFactBodySize);
  PutU32(tail + 8, 0);  // the fact body: a sample count left at zero
  memcpy(tail + 12, kDataId, 4);
  PutU32(tail + 16, DataSize);

  const bool headOk = WriteBytes(file, head, sizeof head);
  const bool padOk = headOk && WriteZeros(file, extension + padByte);
  return padOk && WriteBytes(file, tail, sizeof tail);
}

char WAV_HEADER::openAll(char* file_name, unsigned int* num_Samples, short** Buf16b) {
  *num_Samples = 0;
  FILE* file = fopen(file_name, "rb");
  if (!file) return 0;
  try {
    LoadFromFile(file);
  } catch (const std::string&) {
    fclose(file);
    throw;
  }
  if (!Loadable(*this)) {
    fclose(file);
    return 0;
  }
  const size_t frames = DataSize / BlockAlign;
  const size_t count = frames * Channels;
  free(*Buf16b);
  *Buf16b = (short*)malloc(count * sizeof(short));
  bool complete = count == 0 || *Buf16b != nullptr;
  if (complete && count > 0) {
    if (AudioFormat == kFormatPcm)
      complete = WAV_ReadSamples(file, *Buf16b, count) == count;
    else
      complete = ReadG711(file, AudioFormat == kFormatAlaw ? alaw2linear : ulaw2linear, *Buf16b, count);
  }
  fclose(file);
  if (!complete) {
    free(*Buf16b);
    *Buf16b = nullptr;
    return 0;
  }
  *num_Samples = (unsigned int)frames;
  return 1;
}

char WAV_HEADER::saveAll(char* file_name, unsigned int num_Samples, short* Buf16b) {
  if (num_Samples == 0) return 0;
  FILE* file = fopen(file_name, "wb");
  if (!file) return 0;
  const bool written = SaveToFile(file) && WAV_WriteSamples(file, Buf16b, (size_t)Channels * num_Samples);
  const bool closed = fclose(file) == 0;
  return written && closed ? 1 : 0;
}

size_t WAV_ReadSamples(FILE* file, int16_t* buf, size_t n) {
  // The bytes land in the samples' own storage and are converted in place:
  // each sample's two bytes are read before the sample is stored.
  unsigned char* bytes = (unsigned char*)buf;
  const size_t got = fread(bytes, 2, n, file);
  for (size_t i = 0; i < got; i++) buf[i] = (int16_t)(uint16_t)(bytes[2 * i] | bytes[2 * i + 1] << 8);
  return got;
}

bool WAV_WriteSamples(FILE* file, const int16_t* buf, size_t n) {
  unsigned char bytes[512];
  const size_t perPiece = sizeof bytes / 2;
  for (size_t done = 0; done < n; done += perPiece) {
    const size_t piece = n - done < perPiece ? n - done : perPiece;
    for (size_t i = 0; i < piece; i++) PutU16(bytes + 2 * i, (uint16_t)buf[done + i]);
    if (!WriteBytes(file, bytes, 2 * piece)) return false;
  }
  return true;
}
