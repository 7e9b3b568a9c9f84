// RIFF/WAVE files: the format fields of a file's header, read from an open
// stream and written as a canonical header with a `fact` chunk, whole-file
// loading (with G.711 A-law and mu-law decoding) and saving of 16-bit
// samples. Every number in a file is little-endian whatever the host.
#ifndef MICARRAY_WAV_H
#define MICARRAY_WAV_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>

// G.711 decoding, indexed by the code byte: the 16-bit two's-complement
// pattern (0 to 65535) of the linear sample; use the low 16 bits as int16.
extern const std::array<long, 256> alaw2linear;
extern const std::array<long, 256> ulaw2linear;

class WAV_HEADER {
 public:
  unsigned long SubChunk_fmtSize;  // body size of the `fmt ` chunk (16 for plain PCM)
  unsigned short AudioFormat;      // 1 linear PCM, 6 A-law, 7 mu-law
  unsigned short Channels;         // interleaved channels
  unsigned int SampleRate;         // sample frames per second
  unsigned int ByteRate;           // bytes per second
  unsigned short BlockAlign;       // bytes per sample frame
  unsigned short BitsPerSample;
  unsigned int DataSize;           // body size of the `data` chunk
  bool DataToEnd;                  // the samples run to the end of the file: a recorder that streamed
                                   // it left the size at 0 (nothing follows that parses as a chunk)
                                   // or at 0xFFFFFFFF

  // Every field starts at zero.
  WAV_HEADER();
  WAV_HEADER(const WAV_HEADER& H);
  ~WAV_HEADER();
  WAV_HEADER& operator=(const WAV_HEADER& H);

  // Reads the header of the file that starts at the current position, walking
  // the chunks by their sizes (a missing pad byte after an odd size is
  // tolerated), and leaves `file` at the first byte of the `data` body.
  // Throws std::string("Unknown format") for a file that is not RIFF/WAVE or
  // has no `fmt ` before its `data` chunk; fields read before the failure keep
  // their new values.
  void LoadFromFile(FILE* file);
  // Writes the 56-byte header (plus the extension bytes of a longer `fmt `
  // chunk, as zeros, and the pad byte of an odd-sized one) at the current position; true when every byte was
  // handed to the stream without error.
  bool SaveToFile(FILE* file);

  // Loads a whole file into a malloc'ed buffer of interleaved 16-bit samples
  // (*Buf16b, released with free first when not null; the caller frees it) and
  // returns 1 with *num_Samples sample frames; 0 when the file cannot be
  // opened, its format is not 16-bit PCM, A-law or mu-law, or its sample data
  // is short. The "Unknown format" exception of LoadFromFile passes on.
  char openAll(char* file_name, unsigned int* num_Samples, short** Buf16b);
  // Writes the header (DataSize set by the caller) and Channels * num_Samples
  // samples; 1 on success, 0 for no samples or any open/write/close failure.
  char saveAll(char* file_name, unsigned int num_Samples, short* Buf16b);
};

// Reads up to n 16-bit little-endian samples into buf; returns how many
// arrived complete (ferror/feof of the stream tell why fewer did).
size_t WAV_ReadSamples(FILE* file, int16_t* buf, size_t n);
// Writes n samples as 16-bit little-endian; true when all were accepted.
bool WAV_WriteSamples(FILE* file, const int16_t* buf, size_t n);

#endif
