#include "host.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>

namespace {

// A temporary name is the directory plus this prefix and a unique ending.
const char kTempPrefix[] = "/.partial-";
const char kTempPattern[] = "XXXXXX";
// Permissions of a newly created output, as fopen gives them, less the umask.
const mode_t kNewFileMode = 0666;
const mode_t kPermissionBits = 07777;
// The programs take the first five tuning values; the others keep their defaults.
const size_t kHostTuningValues = 5;
// Signals that end a program by default and after which no temporary name may remain.
const int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGXFSZ};

// Temporary names that exist at the moment, for the signal handler. A slot is
// claimed (kSlotFilling) before its path is written and published (kSlotNamed)
// after, so the handler only reads complete paths. micbeam has at most 1024
// outputs open at once (its workers) plus its report; a name beyond the list
// is still removed by the program, just not on a signal.
const int kSlotCount = 1100;
enum { kSlotFree, kSlotFilling, kSlotNamed };
struct TPendingName {
  std::atomic<int> state;
  char path[PATH_MAX];
};
TPendingName gPending[kSlotCount];
std::once_flag gHandlersInstalled;

void RemovePendingNames(int signal) {
  // Only async-signal-safe calls: unlink, then the default action, which ends the program.
  for (TPendingName& p : gPending)
    if (p.state.load() == kSlotNamed) unlink(p.path);
  struct sigaction action = {};
  action.sa_handler = SIG_DFL;
  sigaction(signal, &action, nullptr);
  raise(signal);
}

void InstallHandlers() {
  for (int s : kCleanupSignals) {
    struct sigaction previous;
    // A signal the program ignores, or handles itself (micbeam --live stops
    // cleanly and commits its output), keeps its disposition.
    if (sigaction(s, nullptr, &previous) != 0 || previous.sa_handler != SIG_DFL ||
        (previous.sa_flags & SA_SIGINFO))
      continue;
    struct sigaction action = {};
    action.sa_handler = RemovePendingNames;
    sigemptyset(&action.sa_mask);
    sigaction(s, &action, nullptr);
  }
}

int ClaimSlot(const std::string& path) {
  if (path.size() >= PATH_MAX) return -1;
  for (int i = 0; i < kSlotCount; i++) {
    int expected = kSlotFree;
    if (!gPending[i].state.compare_exchange_strong(expected, kSlotFilling)) continue;
    memcpy(gPending[i].path, path.c_str(), path.size() + 1);
    gPending[i].state.store(kSlotNamed);
    return i;
  }
  return -1;
}

void ReleaseSlot(THostOutput* it) {
  if (it->slot >= 0) gPending[it->slot].state.store(kSlotFree);
  it->slot = -1;
}

// Removes the temporary name, if any, and forgets it.
void DropTempName(THostOutput* it) {
  if (!it->tempName.empty()) unlink(it->tempName.c_str());
  ReleaseSlot(it);
  it->tempName.clear();
}

// The value of a whole argument; false when any of its text is not part of the number.
bool ParseReal(const char* text, float* value) {
  char* end = nullptr;
  *value = (float)strtod(text, &end);
  return end != text && *end == '\0';
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

std::string Directory(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// A named temporary file in dir, registered for the signal handler; -1 when it cannot be made.
int CreateNamed(THostOutput* it, const std::string& dir) {
  std::string temp = dir + kTempPrefix + kTempPattern;
  const int fd = mkostemp(&temp[0], O_CLOEXEC);
  if (fd < 0) return -1;
  it->tempName = temp;
  it->slot = ClaimSlot(temp);
  return fd;
}

// Gives the unnamed file a temporary name (which the final rename replaces):
// a link to the open file, through its descriptor.
bool NameUnnamed(THostOutput* it) {
  static std::atomic<unsigned> serial{0};
  const std::string dir = Directory(it->finalName);
  const std::string self = "/proc/self/fd/" + std::to_string(fileno(it->file));
  for (;;) {
    const std::string temp =
        dir + kTempPrefix + std::to_string(getpid()) + "-" + std::to_string(serial.fetch_add(1));
    it->slot = ClaimSlot(temp);
    it->tempName = temp;
    if (linkat(fileno(it->file), "", AT_FDCWD, temp.c_str(), AT_EMPTY_PATH) == 0 ||
        linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temp.c_str(), AT_SYMLINK_FOLLOW) == 0)
      return true;
    const bool taken = errno == EEXIST;
    ReleaseSlot(it);
    it->tempName.clear();
    if (!taken) return false;
  }
}

// Whether path is the file standard output writes to.
bool IsStdout(const char* path) {
  struct stat out, std;
  return stat(path, &out) == 0 && fstat(STDOUT_FILENO, &std) == 0 && out.st_dev == std.st_dev &&
         out.st_ino == std.st_ino;
}

bool OpenOutput(THostOutput* it, const char* outName) {
  it->file = nullptr;
  it->finalName = outName;
  it->tempName.clear();
  it->aside = false;
  it->slot = -1;
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
  const std::string dir = Directory(it->finalName);
  int fd = open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, st.st_mode & kPermissionBits);
  if (fd < 0) fd = CreateNamed(it, dir);
  if (fd < 0) return false;
  // A replaced file keeps its permissions.
  if (fchmod(fd, st.st_mode & kPermissionBits) == 0) it->file = fdopen(fd, "wb");
  if (!it->file) {
    close(fd);
    DropTempName(it);
    return false;
  }
  it->aside = true;
  return true;
}

}  // namespace

bool HostTuning_Parse(micarray::Tuning* it, char* const* args) {
  // The ranges and messages are the engine interface's, shared by every
  // program; a refusal leaves later values unexamined.
  micarray::Tuning t;
  for (size_t i = 0; i < kHostTuningValues; i++) {
    const micarray::TuningRange& r = micarray::kTuningRanges[i];
    const char* text = args[i];
    const bool number = ParseReal(text, &(t.*r.field));
    if (number && micarray::InRange(r, t.*r.field)) continue;
    puts(r.message);
    if (!number)
      printf("Not a number: %s\n", text);
    else if (r.valueShown)
      printf("Current value: %f\n", t.*r.field);
    return false;
  }
  *it = t;
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
  std::call_once(gHandlersInstalled, InstallHandlers);
  const bool isStdout = IsStdout(outName);
  if (!OpenOutput(it, outName)) return false;
  if (isStdout) {
    // The output has a descriptor of its own; the messages go where the errors go.
    fflush(stdout);
    dup2(STDERR_FILENO, STDOUT_FILENO);
  }
  return true;
}

bool HostOutput_Commit(THostOutput* it) {
  // Everything is on disk before the file takes the final name, so the name
  // never shows a partial output, even after a crash.
  bool complete = fflush(it->file) == 0 && (!it->aside || fsync(fileno(it->file)) == 0);
  if (complete && it->aside && it->tempName.empty()) complete = NameUnnamed(it);
  complete = fclose(it->file) == 0 && complete;
  it->file = nullptr;
  if (it->aside) {
    complete = complete && rename(it->tempName.c_str(), it->finalName.c_str()) == 0;
    if (complete) it->tempName.clear();
    DropTempName(it);
  }
  return complete;
}

void HostOutput_Abandon(THostOutput* it) {
  if (it->file) fclose(it->file);
  it->file = nullptr;
  DropTempName(it);
}
