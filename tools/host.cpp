#include "host.h"

#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A temporary output is the final name plus this suffix, made unique by mkstemp.
const char kTempSuffix[] = ".partial-XXXXXX";
// Permissions of a newly created output, as fopen gives them, less the umask.
const mode_t kNewFileMode = 0666;
const mode_t kPermissionBits = 07777;

// Text that is not a number reads as 0, which every range below refuses or
// accepts as a value like any other.
mfloat ParseReal(const char* text) { return (mfloat)strtod(text, nullptr); }

bool Refuse(const char* message) {
  puts(message);
  return false;
}

bool RefuseWithValue(const char* message, mfloat value) {
  puts(message);
  printf("Current value: %f\n", value);
  return false;
}

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
  // Bounds are single-precision values, so "0.6" (0.60000002f) is accepted.
  // Each test states what is accepted, so "nan" (never in range) is refused.
  it->Distance = ParseReal(args[0]);
  if (!(it->Distance > 0.0f && it->Distance <= 10.0f))
    return RefuseWithValue("Distance between sensors [meter] must be (0.0, 10.0]", it->Distance);
  it->speedAlpha = ParseReal(args[1]);
  if (!(it->speedAlpha > 0.0f && it->speedAlpha <= 1.0f))
    return RefuseWithValue("Speed adaptation must be (0.0, 1.0]", it->speedAlpha);
  it->pSdb = ParseReal(args[2]);
  if (!(it->pSdb <= 0.0f && it->pSdb >= -80.0f)) return Refuse("pSdb: [-80.0, 0.0] dB, default: -15.0 ");
  // The messages say 0.999; every value below 1.0 is accepted.
  it->pNn = ParseReal(args[3]);
  if (!(it->pNn >= 0.6f && it->pNn < 1.0f)) return Refuse("pNn: [0.6, 0.999], default: 0.90 ");
  it->pMn = ParseReal(args[4]);
  if (!(it->pMn >= 0.6f && it->pMn < 1.0f)) return Refuse("pMn: [0.6, 0.999], default: 0.98 ");
  return true;
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
