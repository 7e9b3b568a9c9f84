#include "sink.h"

#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <system_error>
#include <vector>

#include "micarray.hpp"

namespace {

// Opening an output reads the process's umask by setting it and setting it
// back, which two workers must not do at the same time.
std::mutex openLock;

const size_t kCopyBlock = 1 << 16;

// Integer encodings take 16-bit samples as they are (widened exactly);
// float encodings and codecs take floats where 1.0 is full scale.
bool IsPcm(int sfFormat) {
  switch (sfFormat & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_PCM_16:
    case SF_FORMAT_PCM_24:
    case SF_FORMAT_PCM_32:
      return true;
    default:
      return false;
  }
}

bool CopyToStdout(FILE* file) {
  std::vector<char> block(kCopyBlock);
  if (fseek(file, 0L, SEEK_SET) != 0) return false;
  size_t n;
  while ((n = fread(block.data(), 1, block.size(), file)) > 0)
    if (fwrite(block.data(), 1, n, stdout) != n) return false;
  return !ferror(file) && fflush(stdout) == 0;
}

}  // namespace

bool Sink_Open(TSink* it, const std::string& path, const TOutputFormat& format, unsigned rate, std::string* error) {
  it->file = nullptr;
  it->output = THostOutput();
  it->toStdout = path == "-";
  it->asFloat = !IsPcm(format.sfFormat);
  bool opened;
  if (it->toStdout) {
    // Formats with a header that is completed at the end need a file that
    // can be rewritten: the output is made in an anonymous temporary file.
    it->output.file = tmpfile();
    opened = it->output.file != nullptr;
  } else {
    std::lock_guard<std::mutex> lock(openLock);
    opened = HostOutput_Open(&it->output, path.c_str());
  }
  if (!opened) {
    *error = "cannot create " + path + ": " + std::generic_category().message(errno);
    return false;
  }
  SF_INFO info = {};
  info.samplerate = (int)rate;
  info.channels = 1;
  info.format = format.sfFormat;
  // libsndfile gets a descriptor of its own: it closes the one it was given
  // when it cannot open the file, even when told not to, and the stream's
  // descriptor must stay open until the stream is closed.
  it->file = sf_open_fd(dup(fileno(it->output.file)), SFM_WRITE, &info, SF_TRUE);
  if (!it->file) {
    *error = "cannot write " + path + ": " + sf_strerror(nullptr);
    Sink_Abandon(it);
    return false;
  }
  return true;
}

bool Sink_Write(TSink* it, const int16_t* samples, size_t count, std::string* error) {
  sf_count_t written;
  if (it->asFloat) {
    it->wide.resize(count);
    for (size_t k = 0; k < count; k++) it->wide[k] = micarray::FromInt16<double>(samples[k]);
    written = sf_write_double(it->file, it->wide.data(), (sf_count_t)count);
  } else {
    written = sf_write_short(it->file, samples, (sf_count_t)count);
  }
  if (written == (sf_count_t)count) return true;
  *error = std::string("writing: ") + sf_strerror(it->file);
  return false;
}

bool Sink_Commit(TSink* it, std::string* error) {
  // Closing writes the final header (and the encoder's last frames).
  const int closed = sf_close(it->file);
  it->file = nullptr;
  if (closed != SF_ERR_NO_ERROR) {
    *error = std::string("writing: ") + sf_error_number(closed);
    Sink_Abandon(it);
    return false;
  }
  bool complete;
  if (it->toStdout) {
    complete = CopyToStdout(it->output.file);
    fclose(it->output.file);
    it->output.file = nullptr;
  } else {
    complete = HostOutput_Commit(&it->output);
  }
  if (!complete) *error = "writing: " + std::generic_category().message(errno);
  return complete;
}

void Sink_Abandon(TSink* it) {
  if (it->file) sf_close(it->file);
  it->file = nullptr;
  if (it->toStdout) {
    if (it->output.file) fclose(it->output.file);
    it->output.file = nullptr;
  } else {
    HostOutput_Abandon(&it->output);
  }
}
