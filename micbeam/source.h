// Audio input: any file libsndfile reads (or standard input), of which two
// channels are taken as the microphones, as samples where 1.0 is full scale.
#ifndef MICBEAM_SOURCE_H
#define MICBEAM_SOURCE_H

#include <sndfile.h>

#include <string>
#include <vector>

typedef struct _TSource {
  SNDFILE* file;
  int fd;                     // the descriptor the file is read from
  SF_INFO info;               // rate, channel count and length of the input
  unsigned mics[2];           // the channels taken, microphone 0 first
  std::vector<double> block;  // one block of every channel
} TSource;

// Opens path (- for standard input); an input that cannot seek (a pipe) is
// first copied whole to an unnamed temporary file. rawRate > 0 reads headerless 16-bit
// little-endian stereo at that rate. Refuses a file with a single channel
// and microphone channels the file does not have.
bool Source_Open(TSource* it, const std::string& path, unsigned rawRate, const unsigned mics[2], std::string* error);
// Reads up to `frames` sample frames into *stereo as interleaved pairs of
// the two microphones; an empty *stereo means the end of the input.
bool Source_Read(TSource* it, size_t frames, std::vector<double>* stereo, std::string* error);
void Source_Close(TSource* it);

#endif
