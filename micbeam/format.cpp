#include "format.h"

#include <sndfile.h>
#include <strings.h>

namespace {

struct TContainer {
  const char* name;
  const char* extensions[2];  // the first is the one outputs get; null when there is no second
  int major;
  int encoding;  // the default
};

const TContainer kContainers[] = {
    {"wav", {".wav", ".wave"}, SF_FORMAT_WAV, SF_FORMAT_PCM_16},
    {"aiff", {".aiff", ".aif"}, SF_FORMAT_AIFF, SF_FORMAT_PCM_16},
    {"flac", {".flac", nullptr}, SF_FORMAT_FLAC, SF_FORMAT_PCM_16},
    {"ogg", {".ogg", ".oga"}, SF_FORMAT_OGG, SF_FORMAT_VORBIS},
    {"au", {".au", ".snd"}, SF_FORMAT_AU, SF_FORMAT_PCM_16},
    {"caf", {".caf", nullptr}, SF_FORMAT_CAF, SF_FORMAT_PCM_16},
    {"w64", {".w64", nullptr}, SF_FORMAT_W64, SF_FORMAT_PCM_16},
    {"raw", {".raw", ".pcm"}, SF_FORMAT_RAW | SF_ENDIAN_LITTLE, SF_FORMAT_PCM_16},
};

struct TEncoding {
  const char* name;
  int encoding;
};

const TEncoding kEncodings[] = {
    {"16", SF_FORMAT_PCM_16},
    {"24", SF_FORMAT_PCM_24},
    {"32", SF_FORMAT_PCM_32},
    {"float", SF_FORMAT_FLOAT},
};

// Any rate serves to ask whether a container holds an encoding.
const int kProbeRate = 16000;

TOutputFormat Make(const TContainer& c, int encoding) { return TOutputFormat{c.major | encoding, c.extensions[0]}; }

bool Holds(int sfFormat) {
  SF_INFO info = {};
  info.samplerate = kProbeRate;
  info.channels = 1;
  info.format = sfFormat;
  return sf_format_check(&info) != 0;
}

// The container whose extension path ends with, or null.
const TContainer* ByExtension(const std::string& path) {
  const size_t dot = path.find_last_of("./");
  if (dot == std::string::npos || path[dot] != '.') return nullptr;
  const std::string extension = path.substr(dot);
  for (const TContainer& c : kContainers)
    for (const char* e : c.extensions)
      if (e && strcasecmp(e, extension.c_str()) == 0) return &c;
  return nullptr;
}

}  // namespace

TOutputFormat OutputFormat_Default() { return Make(kContainers[0], kContainers[0].encoding); }

TOutputFormat OutputFormat_Raw() {
  const TContainer& raw = kContainers[sizeof kContainers / sizeof kContainers[0] - 1];
  return Make(raw, raw.encoding);
}

bool OutputFormat_FromName(TOutputFormat* it, const std::string& request, std::string* error) {
  const size_t colon = request.find(':');
  const std::string name = request.substr(0, colon);
  for (const TContainer& c : kContainers) {
    if (strcasecmp(c.name, name.c_str()) != 0) continue;
    if (colon == std::string::npos) {
      *it = Make(c, c.encoding);
      return true;
    }
    const std::string encoding = request.substr(colon + 1);
    for (const TEncoding& e : kEncodings) {
      if (strcasecmp(e.name, encoding.c_str()) != 0) continue;
      if (!Holds(c.major | e.encoding)) break;
      *it = Make(c, e.encoding);
      return true;
    }
    *error = "format " + request + ": " + c.name + " cannot hold samples of encoding '" + encoding + "'";
    return false;
  }
  *error = "unknown format '" + name + "' (wav, aiff, flac, ogg, au, caf, w64 or raw)";
  return false;
}

bool OutputFormat_FromPath(TOutputFormat* it, const std::string& path, std::string* error) {
  const TContainer* c = ByExtension(path);
  if (!c) {
    *error = path + ": the extension names no audio format; give one with --format";
    return false;
  }
  *it = Make(*c, c->encoding);
  return true;
}

bool OutputFormat_IsInputPath(const std::string& path, bool raw) {
  const TContainer* c = ByExtension(path);
  return c && ((c->major & SF_FORMAT_TYPEMASK) == SF_FORMAT_RAW) == raw;
}
