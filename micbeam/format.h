// Output formats: a container with a sample encoding, named on the command
// line (wav, flac:24, ...) or told by a file's extension.
#ifndef MICBEAM_FORMAT_H
#define MICBEAM_FORMAT_H

#include <string>

typedef struct _TOutputFormat {
  int sfFormat;           // libsndfile container | encoding
  std::string extension;  // the container's usual extension, with its dot
} TOutputFormat;

// 16-bit PCM WAV.
TOutputFormat OutputFormat_Default();
// Headerless 16-bit little-endian PCM.
TOutputFormat OutputFormat_Raw();
// NAME or NAME:ENCODING; false with the reason when it names no format
// that can hold one channel.
bool OutputFormat_FromName(TOutputFormat* it, const std::string& request, std::string* error);
// From the extension of path, with the container's default encoding; false
// with the reason when the extension is not one of a known container.
bool OutputFormat_FromPath(TOutputFormat* it, const std::string& path, std::string* error);
// Whether a directory's file is an input: one with the extension of a
// container with a header, or of headerless samples when `raw`.
bool OutputFormat_IsInputPath(const std::string& path, bool raw);

#endif
