#include "job.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <vector>

#include "resampler.h"
#include "sink.h"
#include "source.h"

namespace {

// Frames read at a time, at the engine's rate: a file at a lower rate is read
// in proportionally fewer frames, so that its conversion up to the engine's
// rate makes blocks of this size at most whatever the rate.
const size_t kBlockFrames = 8192;
const double kMicrosPerSecond = 1e6;
const int kFullScale16 = 32767;    // the largest 16-bit magnitude both signs reach
const unsigned kMicrophones = 2;   // channels into the engine
const unsigned kOutputChannels = 1;

// Microseconds of audio, saturated at about 30 years (a length libsndfile does not know is huge).
const double kMaxMicros = 1e15;
uint64_t AudioMicros(uint64_t frames, unsigned rate) {
  return (uint64_t)std::min((double)frames * kMicrosPerSecond / rate, kMaxMicros);
}

// The stages of one file and the buffers between them.
struct TPipeline {
  TSource source;
  TSink sink;
  std::unique_ptr<micarray::Stream> stream;
  std::unique_ptr<TResampler> toEngine;    // null when the engine runs at the input's rate
  std::unique_ptr<TResampler> fromEngine;  // null when the output stays at the engine's rate
  bool exact;                              // the output gets exactly the input's length
  std::vector<double> atEngine;            // input converted to the engine's rate
  std::vector<int16_t> pcm;                // engine input
  std::vector<int16_t> mono;               // engine output
  std::vector<double> wide;                // engine output on its way back to the input's rate
  std::vector<double> back;                // output converted back to the input's rate
  std::vector<int16_t> held;               // output not yet written
  TJobResult* result;
  std::string error;
};

bool Open(TPipeline* p, const TJob* job, const TJobSettings* settings) {
  TJobResult* r = p->result;
  if (!Source_Open(&p->source, job->input, settings->rawRate, settings->mics, &p->error)) return false;
  r->rate = (unsigned)p->source.info.samplerate;
  r->engineRate = Job_EngineRate(r->rate);
  const bool converted = r->engineRate != r->rate;
  r->outputRate = converted && !settings->engineRate ? r->rate : r->engineRate;
  p->exact = settings->align && r->outputRate == r->rate;
  if (converted) {
    p->toEngine.reset(new TResampler);
    if (!Resampler_Init(p->toEngine.get(), r->rate, r->engineRate, kMicrophones, &p->error)) return false;
  }
  if (r->outputRate != r->engineRate) {
    p->fromEngine.reset(new TResampler);
    if (!Resampler_Init(p->fromEngine.get(), r->engineRate, r->outputRate, kOutputChannels, &p->error)) return false;
  }
  p->stream.reset(new micarray::Stream(r->engineRate, settings->tuning, settings->align, settings->engine));
  return Sink_Open(&p->sink, job->output, job->format, r->outputRate, &p->error);
}

// Writes output samples, when the output must be exactly as long as the
// input never more than the input read so far; the rest waits in `held`.
bool Write(TPipeline* p, const int16_t* samples, size_t count) {
  TJobResult* r = p->result;
  p->held.insert(p->held.end(), samples, samples + count);
  size_t give = p->held.size();
  if (p->exact) give = (size_t)std::min<uint64_t>(give, r->inputFrames - r->outputFrames);
  for (size_t k = 0; k < give; k++) {
    const int magnitude = std::abs((int)p->held[k]);
    r->peak = std::max(r->peak, magnitude / micarray::kFullScale);
    if (magnitude >= kFullScale16) r->clipped++;
  }
  if (!Sink_Write(&p->sink, p->held.data(), give, &p->error)) return false;
  p->held.erase(p->held.begin(), p->held.begin() + (std::ptrdiff_t)give);
  r->outputFrames += give;
  return true;
}

// Output converted back to the input's rate (in `back`) to the file.
bool WriteBack(TPipeline* p) {
  std::vector<int16_t>& out = p->pcm;  // free again once the engine has run
  out.resize(p->back.size());
  for (size_t k = 0; k < out.size(); k++) out[k] = micarray::ToInt16(p->back[k]);
  return Write(p, out.data(), out.size());
}

// Engine output to the file, through the conversion back when there is one.
bool Emit(TPipeline* p, const std::vector<int16_t>& mono) {
  if (!p->fromEngine) return Write(p, mono.data(), mono.size());
  p->wide.resize(mono.size());
  for (size_t k = 0; k < mono.size(); k++) p->wide[k] = micarray::FromInt16<double>(mono[k]);
  return Resampler_Process(p->fromEngine.get(), p->wide.data(), mono.size(), &p->back,
                           [p](const std::vector<double>&) { return WriteBack(p); }, &p->error);
}

// Input at the engine's rate through the engine.
bool Enhance(TPipeline* p, const double* stereo, size_t frames) {
  p->pcm.resize(kMicrophones * frames);
  for (size_t k = 0; k < p->pcm.size(); k++) {
    // A sample that rounds beyond 32767 in magnitude.
    if (std::fabs(stereo[k] * micarray::kFullScale) >= kFullScale16 + 0.5) p->result->inputClipped++;
    p->pcm[k] = micarray::ToInt16(stereo[k]);
  }
  p->mono.clear();
  p->stream->process(p->pcm, p->mono);
  return Emit(p, p->mono);
}

// Input at the file's rate into the engine.
bool Feed(TPipeline* p, const double* stereo, size_t frames) {
  if (!p->toEngine) return Enhance(p, stereo, frames);
  return Resampler_Process(p->toEngine.get(), stereo, frames, &p->atEngine,
                           [p](const std::vector<double>& block) {
                             return Enhance(p, block.data(), block.size() / kMicrophones);
                           },
                           &p->error);
}

// What the conversions and the engine still hold, a block at a time: the
// conversion up from a very low rate holds many blocks.
bool Drain(TPipeline* p) {
  for (bool finished = !p->toEngine; !finished;) {
    p->atEngine.clear();
    if (!Resampler_Flush(p->toEngine.get(), kBlockFrames, &p->atEngine, &finished, &p->error) ||
        !Enhance(p, p->atEngine.data(), p->atEngine.size() / kMicrophones))
      return false;
  }
  p->mono.clear();
  p->stream->flush(p->mono);
  if (!Emit(p, p->mono)) return false;
  for (bool finished = !p->fromEngine; !finished;) {
    p->back.clear();
    if (!Resampler_Flush(p->fromEngine.get(), kBlockFrames, &p->back, &finished, &p->error) || !WriteBack(p))
      return false;
  }
  return true;
}

bool Run(TPipeline* p, TProgress* progress) {
  TJobResult* r = p->result;
  const size_t block =
      std::min(kBlockFrames, std::max<size_t>(1, (size_t)((uint64_t)kBlockFrames * r->rate / r->engineRate)));
  std::vector<double> stereo;
  uint64_t reported = 0;
  for (;;) {
    if (!Source_Read(&p->source, block, &stereo, &p->error)) return false;
    if (stereo.empty()) break;
    r->inputFrames += stereo.size() / kMicrophones;
    const uint64_t micros = AudioMicros(r->inputFrames, r->rate);
    progress->audioMicros.fetch_add(micros - reported);
    reported = micros;
    if (!Feed(p, stereo.data(), stereo.size() / kMicrophones)) return false;
  }
  if (!Drain(p)) return false;
  // Silence up to the input's length where that is the promise.
  if (p->exact) {
    const std::vector<int16_t> silence((size_t)(r->inputFrames - r->outputFrames), 0);
    if (!Write(p, silence.data(), silence.size())) return false;
  }
  return Sink_Commit(&p->sink, &p->error);
}

}  // namespace

unsigned Job_EngineRate(unsigned rate) { return std::min(std::max(rate, micarray::kMinRate), micarray::kMaxRate); }

void Job_Run(const TJob* job, const TJobSettings* settings, TJobResult* result, TProgress* progress) {
  const auto start = std::chrono::steady_clock::now();
  *result = TJobResult();
  TPipeline p;
  p.result = result;
  p.sink.file = nullptr;
  p.sink.output = THostOutput();
  p.sink.toStdout = false;
  p.source.file = nullptr;
  p.source.fd = -1;
  uint64_t declared = 0;  // audio the file announced, counted in the progress total
  try {
    const bool opened = Open(&p, job, settings);
    if (opened) {
      declared = AudioMicros((uint64_t)p.source.info.frames, result->rate);
      progress->totalMicros += declared;
      progress->opened++;
    }
    result->ok = opened && Run(&p, progress);
  } catch (const std::exception& e) {
    p.error = e.what();
    result->ok = false;
  }
  if (!result->ok) {
    Sink_Abandon(&p.sink);
    result->error = p.error;
  }
  Source_Close(&p.source);
  // The total holds what was read in the end, for a file shorter than announced or
  // failed (unsigned arithmetic: the sum is right whichever of the two is larger).
  if (declared) progress->totalMicros += AudioMicros(result->inputFrames, result->rate) - declared;
  result->seconds = result->rate ? (double)result->inputFrames / result->rate : 0.0;
  result->processing = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}
