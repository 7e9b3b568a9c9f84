#include "support.h"

#include <stdlib.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <thread>

// s quoted for the shell.
static std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

namespace {

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

RunResult Run(const std::string& program, const std::vector<std::string>& args, const std::string& stdinPath,
              bool terminal) {
  std::string cmd = std::string(TEST_RUNNER) + " " + Quote(program);
  for (const std::string& a : args) cmd += " " + Quote(a);
  if (terminal) cmd = "script -qec " + Quote(cmd) + " /dev/null";
  static const std::string out = TempDir() + "/out", err = TempDir() + "/err";
  const int status = Finish(Start({"sh", "-c", "cat " + Quote(stdinPath) + " | " + cmd}, out, err));
  return RunResult{status, ReadFile(out), ReadFile(err)};
}

pid_t Start(const std::vector<std::string>& argv, const std::string& out, const std::string& err) {
  std::vector<char*> words;
  for (const std::string& w : argv) words.push_back(const_cast<char*>(w.c_str()));
  words.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const int streams[] = {open("/dev/null", O_RDONLY), open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644),
                           open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644)};
    for (int fd = 0; fd < 3; fd++) dup2(streams[fd], fd);
    for (int fd : streams)
      if (fd > 2) close(fd);
    execvp(words[0], words.data());
    _exit(127);
  }
  return pid;
}

int Finish(pid_t pid) {
  int st = 0;
  return waitpid(pid, &st, 0) == pid && WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

namespace {

// Whether process pid has a file open under dir.
bool HoldsFileIn(pid_t pid, const std::string& dir) {
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
    const std::string target = std::filesystem::read_symlink(e.path(), ec).string();
    if (!ec && target.rfind(dir + "/", 0) == 0) return true;
  }
  return false;
}

}  // namespace

Spawned Spawn(const std::string& program, const std::vector<std::string>& args, int signal,
              const std::string& watchDir) {
  std::vector<std::string> words;
  std::istringstream runner(TEST_RUNNER);
  for (std::string w; runner >> w;) words.push_back(w);
  words.push_back(program);
  words.insert(words.end(), args.begin(), args.end());
  const pid_t pid = Start(words);
  Spawned r{-1, 0};
  rusage usage;
  if (signal) {
    const auto kPoll = std::chrono::milliseconds(2);
    while (!HoldsFileIn(pid, watchDir)) {
      if (wait4(pid, &r.status, WNOHANG, &usage) == pid) return r;  // ended first: not interrupted
      std::this_thread::sleep_for(kPoll);
    }
    kill(pid, signal);
  }
  if (wait4(pid, &r.status, 0, &usage) == pid) r.maxRssKb = usage.ru_maxrss;
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

std::set<std::string> Listing(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
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

std::vector<int16_t> Scene(uint32_t rate, double seconds, TSceneSource sources) {
  const TScene scene = Scene_Default(rate, seconds);
  return Scene_Render(&scene, sources);
}

std::vector<int16_t> EngineStream(uint32_t rate, std::vector<int16_t> in, const micarray::Tuning& t,
                                  size_t retuneAt, const micarray::Tuning& later) {
  TMicArray engine;
  MicArray_Init(&engine, rate, t.distance, t.speed, t.suppression, t.noise_rate, t.musical);
  const size_t S = engine.lenght_step;
  std::vector<int16_t> out(in.size() / 2 / S * S);
  for (size_t k = 0; k < out.size(); k += S) {
    if (retuneAt && k == retuneAt * S)
      MicArray_Reset(&engine, later.suppression, later.noise_rate, later.musical);
    MicArray_Process(&engine, &in[2 * k], &out[k]);
  }
  MicArray_Destroyed(&engine);
  return out;
}

std::vector<int16_t> Aligned(uint32_t rate, std::vector<int16_t> stereo, const micarray::Tuning& t) {
  const size_t kDelaySteps = 3, S = micarray::Engine(rate).step(), frames = stereo.size() / 2;
  stereo.resize(2 * (frames / S + kDelaySteps + 1) * S, 0);
  const std::vector<int16_t> out = EngineStream(rate, stereo, t);
  return std::vector<int16_t>(out.begin() + (std::ptrdiff_t)(kDelaySteps * S),
                              out.begin() + (std::ptrdiff_t)(kDelaySteps * S + frames));
}
