// micbeam's path for one file on arbitrary bytes: libsndfile's reader, the
// rate conversion and each engine, as a batch job runs them. A job either
// succeeds with an output WAV exactly as long as its input, or fails with a
// reason and no output; nothing is left under a temporary name either way.
#include <sndfile.h>
#include <stdio.h>
#include <stdlib.h>

#include <cstdint>
#include <string>

#include "job.h"
#include "run_dir.h"

namespace {

// Inputs whose audio, at the engine's rate, is longer than this are passed
// over: a long run tells the fuzzer nothing new and would only slow it.
const uint64_t kMaxEngineFrames = 1 << 15;

// The frames libsndfile announces for a file, converted to the engine's rate;
// 0 when it does not open.
uint64_t EngineFrames(const std::string& path) {
  SF_INFO info = {};
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  if (!f) return 0;
  sf_close(f);
  if (info.samplerate <= 0 || info.frames < 0) return 0;
  return (uint64_t)((double)info.frames * Job_EngineRate((unsigned)info.samplerate) / info.samplerate);
}

// Either an output WAV exactly as long as the input, or a reason and no file.
void Check(const TJobResult& result, const std::string& out) {
  if (!result.ok) {
    if (result.error.empty() || RunDir_Entries() != 1) abort();
    return;
  }
  SF_INFO info = {};
  SNDFILE* written = sf_open(out.c_str(), SFM_READ, &info);
  if (!written) abort();
  sf_close(written);
  if ((uint64_t)info.frames != result.inputFrames || result.outputFrames != result.inputFrames) abort();
  if (info.samplerate != (int)result.rate || info.channels != 1 || RunDir_Entries() != 2) abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  RunDir_Make("micbeam", "in.audio", "out.wav");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  RunDir_Write(data, size);
  const std::string& in = gRunDir.in;
  const std::string& out = gRunDir.out;
  if (EngineFrames(in) > kMaxEngineFrames) return 0;

  const TJob job{in, out, OutputFormat_Default()};
  for (micarray::EngineKind engine : {micarray::EngineKind::mvdr, micarray::EngineKind::classic}) {
    const TJobSettings settings{engine, micarray::Tuning(), {0, 1}, 0, false, true};
    TProgress progress;
    Progress_Start(&progress, 1, false);
    TJobResult result;
    Job_Run(&job, &settings, &result, &progress);
    Check(result, out);
    remove(out.c_str());
  }
  return 0;
}
