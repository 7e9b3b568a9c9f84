#include "host.h"

#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "micarray.hpp"

namespace {

// A temporary output is the final name plus this suffix, made unique by mkstemp.
const char kTempSuffix[] = ".partial-XXXXXX";
// Permissions of a newly created output, as fopen gives them, less the umask.
const mode_t kNewFileMode = 0666;
const mode_t kPermissionBits = 07777;

// Text that is not a number reads as 0, which the ranges refuse or accept
// like any other value.
mfloat ParseReal(const char* text) { return (mfloat)strtod(text, nullptr); }

// Opens outName itself for writing, truncating it.
bool OpenDirect(THostOutput* it, const char* outName) {
  it->file = fopen(outName, "wb");
  return it->file != nullptr;
}

mode_t CurrentUmask() {
  const mode_t mask = umask(0);
  umask(mask);
  return mask;
}

}  // namespace

bool HostTuning_Parse(THostTuning* it, char* const* args) {
  // The ranges and messages are the engine interface's, shared by every
  // program; a refusal after the first leaves later values unexamined.
  micarray::Tuning t;
  t.distance = it->Distance = ParseReal(args[0]);
  t.speed = it->speedAlpha = ParseReal(args[1]);
  t.suppression = it->pSdb = ParseReal(args[2]);
  t.noise_rate = it->pNn = ParseReal(args[3]);
  t.musical = it->pMn = ParseReal(args[4]);
  const micarray::TuningRange* refused = micarray::TuningRefusal(t);
  if (!refused) return true;
  puts(refused->message);
  if (refused->valueShown) printf("Current value: %f\n", t.*refused->field);
  return false;
}

void Host_PrintTuningUsage() {
  puts("<Distance> - Distance between sensors [meter], default: 0.05");
  puts("<Speed> - Speed adaptation of source direct detection (0.0, 1.0], default: 0.07");
  puts("<pSdb> - Limitation suppression [-80.0, 0.0] dB, default: -15.0 ");
  puts("<pNn> - Noise adaptation rate [0.6, 0.999], default: 0.90 ");
  puts("<pMn> - Musical noise reduction [0.6, 0.999], default: 0.98");
}

void Host_PrintBanner() {
  printf("%s\n%s\n%s\n", MicArray_Info.product_name, MicArray_Info.product_version,
         MicArray_Info.product_company);
}

bool HostOutput_Open(THostOutput* it, const char* outName) {
  it->file = nullptr;
  it->finalName = outName;
  it->tempName.clear();
  struct stat st;
  if (stat(outName, &st) != 0) {
    // A dangling symbolic link is written through, creating its target.
    if (lstat(outName, &st) == 0) return OpenDirect(it, outName);
    st.st_mode = kNewFileMode & ~CurrentUmask();
  } else if (!S_ISREG(st.st_mode)) {
    return OpenDirect(it, outName);
  } else {
    // A file the user may not write stays as it is, as opening it would.
    if (access(outName, W_OK) != 0) return false;
    // The file a symbolic link points to is replaced, not the link.
    char* target = realpath(outName, nullptr);
    if (target) it->finalName = target;
    free(target);
  }
  std::string temp = it->finalName + kTempSuffix;
  const int fd = mkstemp(&temp[0]);
  if (fd < 0) return false;
  // A replaced file keeps its permissions.
  if (fchmod(fd, st.st_mode & kPermissionBits) == 0) it->file = fdopen(fd, "wb");
  if (!it->file) {
    close(fd);
    unlink(temp.c_str());
    return false;
  }
  it->tempName = temp;
  return true;
}

bool HostOutput_Commit(THostOutput* it) {
  const bool temporary = !it->tempName.empty();
  // Everything is on disk before the file takes the final name, so the name
  // never shows a partial output, even after a crash.
  bool complete = fflush(it->file) == 0 && (!temporary || fsync(fileno(it->file)) == 0);
  complete = fclose(it->file) == 0 && complete;
  it->file = nullptr;
  if (temporary) {
    complete = complete && rename(it->tempName.c_str(), it->finalName.c_str()) == 0;
    if (!complete) unlink(it->tempName.c_str());
    it->tempName.clear();
  }
  return complete;
}

void HostOutput_Abandon(THostOutput* it) {
  if (it->file) fclose(it->file);
  it->file = nullptr;
  if (!it->tempName.empty()) unlink(it->tempName.c_str());
  it->tempName.clear();
}
