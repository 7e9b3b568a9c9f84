// The private directory a file-level fuzz target runs in (under $TMPDIR or
// /tmp): made once, its input and output removed with it at exit. Each run
// writes the fuzzer's bytes to the input file and starts without an output.
#ifndef MICARRAY_FUZZ_RUN_DIR_H
#define MICARRAY_FUZZ_RUN_DIR_H

#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>

#include <cstdint>
#include <string>

typedef struct _TRunDir {
  std::string path, in, out;
} TRunDir;

inline TRunDir gRunDir;

inline void RunDir_Remove() {
  for (const std::string& name : {gRunDir.in, gRunDir.out, gRunDir.path}) remove(name.c_str());
}

inline void RunDir_Make(const char* target, const char* inName, const char* outName) {
  const char* base = getenv("TMPDIR");
  std::string tmpl = std::string(base ? base : "/tmp") + "/fuzz-" + target + "-XXXXXX";
  if (!mkdtemp(&tmpl[0])) abort();
  gRunDir = {tmpl, tmpl + "/" + inName, tmpl + "/" + outName};
  atexit(RunDir_Remove);
}

inline void RunDir_Write(const uint8_t* data, size_t size) {
  FILE* f = fopen(gRunDir.in.c_str(), "wb");
  if (!f || fwrite(data, 1, size, f) != size || fclose(f) != 0) abort();
  remove(gRunDir.out.c_str());
}

// Files in the directory that are not hidden.
inline size_t RunDir_Entries() {
  DIR* d = opendir(gRunDir.path.c_str());
  if (!d) abort();
  size_t n = 0;
  while (const dirent* e = readdir(d)) n += e->d_name[0] != '.';
  closedir(d);
  return n;
}

#endif
