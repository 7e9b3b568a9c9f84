#include "source.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace {

const int kRawChannels = 2;
const size_t kSpoolBlock = 1 << 16;

// A descriptor that cannot seek (a pipe, a terminal) is copied whole into an
// unnamed temporary file, since most decoders seek (FLAC, Ogg, a WAV's
// chunks); returns the descriptor to read, or -1 with errno set.
int Seekable(int fd) {
  if (lseek(fd, 0, SEEK_CUR) >= 0) return fd;
  FILE* spool = tmpfile();
  if (!spool) return -1;
  std::vector<char> block(kSpoolBlock);
  ssize_t n;
  while ((n = read(fd, block.data(), block.size())) != 0) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || fwrite(block.data(), 1, (size_t)n, spool) != (size_t)n) {
      fclose(spool);
      return -1;
    }
  }
  int copy = -1;
  if (fflush(spool) == 0 && fseek(spool, 0L, SEEK_SET) == 0) copy = dup(fileno(spool));
  fclose(spool);
  return copy;
}

}  // namespace

bool Source_Open(TSource* it, const std::string& path, unsigned rawRate, const unsigned mics[2], std::string* error) {
  it->file = nullptr;
  it->fd = -1;
  it->info = SF_INFO();
  it->mics[0] = mics[0];
  it->mics[1] = mics[1];
  if (rawRate > 0) {
    it->info.samplerate = (int)rawRate;
    it->info.channels = kRawChannels;
    it->info.format = SF_FORMAT_RAW | SF_FORMAT_PCM_16 | SF_ENDIAN_LITTLE;
  }
  const int given = path == "-" ? STDIN_FILENO : open(path.c_str(), O_RDONLY | O_CLOEXEC);
  it->fd = given < 0 ? -1 : Seekable(given);
  if (it->fd < 0) {
    *error = std::generic_category().message(errno);
    if (given > STDIN_FILENO) close(given);
    return false;
  }
  if (given != it->fd && given != STDIN_FILENO) close(given);
  // Standard input itself stays open for the program.
  const bool own = it->fd != STDIN_FILENO;
  if (!own) it->fd = -1;
  it->file = sf_open_fd(own ? it->fd : STDIN_FILENO, SFM_READ, &it->info, SF_FALSE);
  if (!it->file) {
    *error = std::string("not a readable audio file (") + sf_strerror(nullptr) + ")";
    // libsndfile closes the descriptor of a file it cannot open, even when
    // told not to; closing it again could close another worker's file.
    it->fd = -1;
    Source_Close(it);
    return false;
  }
  const unsigned channels = (unsigned)it->info.channels;
  if (channels < 2)
    *error = "a single channel: micbeam needs two microphone channels";
  else if (mics[0] >= channels || mics[1] >= channels)
    *error = "--mics " + std::to_string(mics[0]) + "," + std::to_string(mics[1]) + " beyond the file's " +
             std::to_string(channels) + " channels (0 to " + std::to_string(channels - 1) + ")";
  else if (it->info.samplerate <= 0)
    *error = "no sampling rate";
  else
    return true;
  Source_Close(it);
  return false;
}

bool Source_Read(TSource* it, size_t frames, std::vector<double>* stereo, std::string* error) {
  const size_t channels = (size_t)it->info.channels;
  it->block.resize(frames * channels);
  const sf_count_t got = sf_readf_double(it->file, it->block.data(), (sf_count_t)frames);
  stereo->resize(2 * (size_t)(got > 0 ? got : 0));
  for (size_t k = 0; k < stereo->size() / 2; k++) {
    (*stereo)[2 * k] = it->block[k * channels + it->mics[0]];
    (*stereo)[2 * k + 1] = it->block[k * channels + it->mics[1]];
  }
  if (got < (sf_count_t)frames && sf_error(it->file) != SF_ERR_NO_ERROR) {
    *error = std::string("reading: ") + sf_strerror(it->file);
    return false;
  }
  return true;
}

void Source_Close(TSource* it) {
  if (it->file) sf_close(it->file);
  if (it->fd >= 0) close(it->fd);
  it->file = nullptr;
  it->fd = -1;
}
