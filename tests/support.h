// Helpers shared by the tests: running the built programs as a user would,
// and reading and writing whole files.
#ifndef MICARRAY_TEST_SUPPORT_H
#define MICARRAY_TEST_SUPPORT_H

#include <cstdint>
#include <string>
#include <vector>

struct RunResult {
  int status;       // exit status, or -1 when the program did not exit normally
  std::string out;  // everything written to standard output
};

// Runs program with args; stdin_path is given as standard input.
RunResult Run(const std::string& program, const std::vector<std::string>& args,
              const std::string& stdin_path = "/dev/null");

// A fresh, empty directory for one test, removed when the test program ends.
std::string TempDir();

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);

std::vector<int16_t> ReadPcm(const std::string& path);
void WritePcm(const std::string& path, const std::vector<int16_t>& samples);

#endif
