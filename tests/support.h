// Helpers shared by the tests: running the built programs as a user would,
// and reading and writing whole files.
#ifndef MICARRAY_TEST_SUPPORT_H
#define MICARRAY_TEST_SUPPORT_H

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "micarray.h"
#include "micarray.hpp"
#include "scene.h"

struct RunResult {
  int status;            // exit status, or -1 when the program did not exit normally
  std::string out, err;  // everything written to standard output and to standard error
};

// The classic programs' default tuning, as their five leading arguments, and
// the banner that ends their reports.
const std::vector<std::string> kTuning = {"0.05", "0.07", "-15", "0.9", "0.98"};
inline const std::string kBanner = std::string(MicArray_Info.product_name) + "\n" +
                                   MicArray_Info.product_version + "\n" +
                                   MicArray_Info.product_company + "\n";

// The usage lines of the classic programs that describe the tuning.
inline const std::string kTuningUsage =
    "<Distance> - Distance between sensors [meter], default: 0.05\n"
    "<Speed> - Speed adaptation of source direct detection (0.0, 1.0], default: 0.07\n"
    "<pSdb> - Limitation suppression [-80.0, 0.0] dB, default: -15.0 \n"
    "<pNn> - Noise adaptation rate [0.6, 0.999], default: 0.90 \n"
    "<pMn> - Musical noise reduction [0.6, 0.999], default: 0.98\n";

// Runs program with args, standard input a pipe from stdinPath; on a terminal,
// under a pseudo-terminal whose screen is the standard output.
RunResult Run(const std::string& program, const std::vector<std::string>& args,
              const std::string& stdinPath = "/dev/null", bool terminal = false);

// Starts argv as it is (standard input /dev/null, its outputs into the files
// given); Finish waits for it: its exit status, or -1.
pid_t Start(const std::vector<std::string>& argv, const std::string& out = "/dev/null",
            const std::string& err = "/dev/null");
int Finish(pid_t pid);

struct Spawned {
  int status;     // the wait status (WIFEXITED, WTERMSIG, ...)
  long maxRssKb;  // the program's peak resident memory
};

// Runs program with args (standard streams on /dev/null). With a signal: sends
// it as soon as the program holds a file open under watchDir, i.e. while it is
// writing its output there.
Spawned Spawn(const std::string& program, const std::vector<std::string>& args, int signal = 0,
              const std::string& watchDir = "");

// A fresh, empty directory for one test, removed when the test program ends.
std::string TempDir();

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);
// The names in dir.
std::set<std::string> Listing(const std::string& dir);

std::vector<int16_t> ReadPcm(const std::string& path);
void WritePcm(const std::string& path, const std::vector<int16_t>& samples);

// The classic engine's stream through the C entry points over whole steps of interleaved input;
// from step `retuneAt` on (when not 0) the post-filter takes `later`'s values.
std::vector<int16_t> EngineStream(uint32_t rate, std::vector<int16_t> in, const micarray::Tuning& t = {},
                                  size_t retuneAt = 0, const micarray::Tuning& later = {});
// The aligned output: that stream over the input and enough silence, three steps later, as long
// as the input.
std::vector<int16_t> Aligned(uint32_t rate, std::vector<int16_t> stereo, const micarray::Tuning& t = {});

// The default scene (a talker ahead, an interferer from the side) as interleaved stereo.
std::vector<int16_t> Scene(uint32_t rate, double seconds, TSceneSource sources = kSceneBoth);

#endif
