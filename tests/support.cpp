#include "support.h"

#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// The directories TempDir made, removed with everything in them when the
// test program ends.
struct TTempDirs {
  std::vector<std::string> paths;
  ~TTempDirs() {
    std::error_code ignored;
    for (const std::string& p : paths) std::filesystem::remove_all(p, ignored);
  }
};
TTempDirs g_tempDirs;

}  // namespace

RunResult Run(const std::string& program, const std::vector<std::string>& args, const std::string& stdin_path) {
  std::string cmd = std::string(TEST_RUNNER) + " " + Quote(program);
  for (const std::string& a : args) cmd += " " + Quote(a);
  cmd += " < " + Quote(stdin_path) + " 2>/dev/null";
  FILE* pipe = popen(cmd.c_str(), "r");
  if (!pipe) throw std::runtime_error("popen failed");
  RunResult r{-1, ""};
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) r.out.append(buf, n);
  int st = pclose(pipe);
  if (st != -1 && WIFEXITED(st)) r.status = WEXITSTATUS(st);
  return r;
}

std::string TempDir() {
  char tmpl[] = "/tmp/micarray-test-XXXXXX";
  if (!mkdtemp(tmpl)) throw std::runtime_error("mkdtemp failed");
  g_tempDirs.paths.push_back(tmpl);
  return tmpl;
}

std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), (std::streamsize)bytes.size());
}

bool FileExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

std::vector<int16_t> ReadPcm(const std::string& path) {
  std::string bytes = ReadFile(path);
  std::vector<int16_t> s(bytes.size() / 2);
  for (size_t i = 0; i < s.size(); i++)
    s[i] = (int16_t)(uint16_t)((unsigned char)bytes[2 * i] | ((unsigned char)bytes[2 * i + 1] << 8));
  return s;
}

void WritePcm(const std::string& path, const std::vector<int16_t>& samples) {
  std::string bytes(samples.size() * 2, '\0');
  for (size_t i = 0; i < samples.size(); i++) {
    bytes[2 * i] = (char)((uint16_t)samples[i] & 0xFF);
    bytes[2 * i + 1] = (char)((uint16_t)samples[i] >> 8);
  }
  WriteFile(path, bytes);
}
