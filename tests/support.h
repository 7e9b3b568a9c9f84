// Helpers shared by the tests: running the built programs as a user would,
// and reading and writing whole files.
#ifndef MICARRAY_TEST_SUPPORT_H
#define MICARRAY_TEST_SUPPORT_H

#include <cstdint>
#include <set>
#include <string>
#include <vector>

struct RunResult {
  int status;       // exit status, or -1 when the program did not exit normally
  std::string out;  // everything written to standard output
};

// The classic programs' default tuning, as their five leading arguments.
const std::vector<std::string> kTuning = {"0.05", "0.07", "-15", "0.9", "0.98"};

// s quoted for the shell.
std::string Quote(const std::string& s);

// Runs program with args; stdin_path is given as standard input.
RunResult Run(const std::string& program, const std::vector<std::string>& args,
              const std::string& stdin_path = "/dev/null");

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
bool FileExists(const std::string& path);
// The names in dir.
std::set<std::string> Listing(const std::string& dir);

std::vector<int16_t> ReadPcm(const std::string& path);
void WritePcm(const std::string& path, const std::vector<int16_t>& samples);

#endif
