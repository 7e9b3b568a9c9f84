#include "live.h"

#include <fcntl.h>
#include <portaudio.h>
#include <signal.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <thread>
#include <vector>

#include "job.h"
#include "resampler.h"
#include "ring.h"
#include "sink.h"

namespace {

const unsigned long kFramesPerBuffer = 256;         // per callback: 5.3 ms at 48 kHz
const double kRingSeconds = 2.0;                    // of audio in each ring
const std::chrono::milliseconds kIdle(2);           // the worker's wait for more input
const std::chrono::milliseconds kRedraw(200);       // status line refresh
const std::chrono::milliseconds kWatch(20);         // the status thread's look at the worker
const std::chrono::milliseconds kStall(1000);       // no input this long: the device is gone
const double kConversionBurst = 0.02;               // seconds the rate converters release at once
const unsigned kMicrophones = 2;
const unsigned kMaxOutputChannels = 2;              // the mono result goes to both sides
const double kMillis = 1000.0;
const double kSilentDb = -99.0;                     // shown for a zero peak
const int kSecondsPerMinute = 60;
const int kExitFailed = 1;

// The signal that asked the run to stop; 0 while running.
std::atomic<int> stopSignal(0);

void OnStopSignal(int signal) { stopSignal = signal; }

// What the audio callbacks share with the worker. The callbacks only copy
// samples, count and keep peaks: no allocation, no lock, no file.
struct TLink {
  TRing captured;                // the two microphones, interleaved, at the device's rate
  TRing played;                  // enhanced mono for the output device
  std::vector<int16_t> inBlock;  // callback scratch, one buffer each
  std::vector<int16_t> outBlock;
  unsigned inChannels;
  unsigned outChannels;
  unsigned mics[2];
  size_t prime;                  // samples the played ring gathers before playback (re)starts
  std::atomic<bool> playing;
  std::atomic<uint64_t> frames;  // delivered by the input device
  std::atomic<uint64_t> overruns;
  std::atomic<uint64_t> underruns;
  std::atomic<int> inPeak[kMicrophones];
  std::atomic<int> outPeak;
};

// One thread raises a peak (a callback, or the worker for the output); the
// status line resets it when it shows it, and may lose one block's peak to
// the race, which is harmless.
void RaisePeak(std::atomic<int>* peak, int value) {
  if (value > peak->load(std::memory_order_relaxed)) peak->store(value, std::memory_order_relaxed);
}

int OnInput(const void* input, void*, unsigned long frames, const PaStreamCallbackTimeInfo*,
            PaStreamCallbackFlags flags, void* user) {
  TLink* l = (TLink*)user;
  const int16_t* in = (const int16_t*)input;
  int peak[kMicrophones] = {0, 0};
  for (unsigned long n = 0; n < frames; n++)
    for (unsigned m = 0; m < kMicrophones; m++) {
      const int16_t v = in[n * l->inChannels + l->mics[m]];
      l->inBlock[kMicrophones * n + m] = v;
      peak[m] = std::max(peak[m], std::abs((int)v));
    }
  for (unsigned m = 0; m < kMicrophones; m++) RaisePeak(&l->inPeak[m], peak[m]);
  if (flags & paInputOverflow) l->overruns++;
  if (!Ring_Write(&l->captured, l->inBlock.data(), kMicrophones * frames)) l->overruns++;
  l->frames += frames;
  return paContinue;
}

int OnOutput(const void*, void* output, unsigned long frames, const PaStreamCallbackTimeInfo*,
             PaStreamCallbackFlags flags, void* user) {
  TLink* l = (TLink*)user;
  if (flags & paOutputUnderflow) l->underruns++;
  size_t got = 0;
  if (l->playing || Ring_Used(&l->played) >= l->prime) {
    got = Ring_Read(&l->played, l->outBlock.data(), frames);
    l->playing = got == frames;  // short: wait for a full prime again, so that latency stays put
    if (!l->playing) l->underruns++;
  }
  std::fill(l->outBlock.begin() + (std::ptrdiff_t)got, l->outBlock.begin() + (std::ptrdiff_t)frames, 0);
  int16_t* out = (int16_t*)output;
  for (unsigned long n = 0; n < frames; n++)
    for (unsigned c = 0; c < l->outChannels; c++) out[n * l->outChannels + c] = l->outBlock[n];
  return paContinue;
}

// One live run: the devices, the engine with its conversions, the file.
struct TLive {
  const TMicbeamOptions* options;
  TLink link;
  PaStream* input;
  PaStream* output;  // null when nothing is played
  unsigned rate;     // of both devices and of the file
  unsigned engineRate;
  std::unique_ptr<micarray::Stream> stream;
  std::unique_ptr<TResampler> toEngine;    // null when the engine runs at the device's rate
  std::unique_ptr<TResampler> fromEngine;
  bool toFile;
  TSink sink;
  std::vector<int16_t> stereo;  // taken from the captured ring
  std::vector<int16_t> pcm;     // engine input after conversion
  std::vector<int16_t> mono;    // engine output
  std::vector<double> wide;
  std::vector<double> converted;
  std::vector<double> piece;  // the converter's output as it comes
  std::atomic<uint64_t> consumed;  // frames taken from the captured ring
  double deviceLatency;         // seconds, as the devices report it
  double engineLatency;         // seconds: the engine's delay and the playback's prime
  std::string error;
};

// PortAudio's host APIs report on standard error every sound server and card
// they look for and do not find; only the outcome matters here.
bool Initialize(std::string* error) {
  fflush(stderr);
  const int saved = dup(STDERR_FILENO), null = open("/dev/null", O_WRONLY);
  if (null >= 0) dup2(null, STDERR_FILENO);
  const PaError e = Pa_Initialize();
  if (saved >= 0) dup2(saved, STDERR_FILENO);
  if (null >= 0) close(null);
  if (saved >= 0) close(saved);
  if (e != paNoError) *error = std::string("audio devices: ") + Pa_GetErrorText(e);
  return e == paNoError;
}

std::string DeviceName(PaDeviceIndex i) {
  const PaDeviceInfo* d = Pa_GetDeviceInfo(i);
  return std::string(d->name) + " (" + Pa_GetHostApiInfo(d->hostApi)->name + ")";
}

int Channels(const PaDeviceInfo* d, bool input) { return input ? d->maxInputChannels : d->maxOutputChannels; }

// A device by index or by name: the exact name, else the only name that
// contains the request.
bool FindDevice(const std::string& request, bool input, PaDeviceIndex* found, std::string* error) {
  const char* kind = input ? "input" : "output";
  const PaDeviceIndex count = Pa_GetDeviceCount();
  if (!request.empty() && request.find_first_not_of("0123456789") == std::string::npos) {
    const long index = std::strtol(request.c_str(), nullptr, 10);
    *found = index < count ? (PaDeviceIndex)index : paNoDevice;
  } else if (request.empty()) {
    *found = input ? Pa_GetDefaultInputDevice() : Pa_GetDefaultOutputDevice();
  } else {
    std::vector<PaDeviceIndex> partial;
    *found = paNoDevice;
    for (PaDeviceIndex i = 0; i < count && *found == paNoDevice; i++) {
      const PaDeviceInfo* d = Pa_GetDeviceInfo(i);
      if (Channels(d, input) == 0) continue;
      if (request == d->name) *found = i;
      if (std::string(d->name).find(request) != std::string::npos) partial.push_back(i);
    }
    if (*found == paNoDevice && partial.size() > 1) {
      *error = "several " + std::string(kind) + " devices are called " + request + ":";
      for (PaDeviceIndex i : partial) *error += " " + std::to_string(i) + " (" + DeviceName(i) + ")";
      return false;
    }
    if (*found == paNoDevice && partial.size() == 1) *found = partial[0];
  }
  if (*found == paNoDevice || Channels(Pa_GetDeviceInfo(*found), input) == 0) {
    *error = "no " + std::string(kind) + " device " + (request.empty() ? "by default" : request) +
             "; micbeam --list-devices lists them";
    return false;
  }
  return true;
}

bool Opened(PaError e, const std::string& what, std::string* error) {
  if (e != paNoError) *error = "cannot open " + what + ": " + Pa_GetErrorText(e);
  return e == paNoError;
}

bool OpenInput(TLive* p, PaDeviceIndex device, int* status) {
  const TMicbeamOptions* o = p->options;
  const PaDeviceInfo* d = Pa_GetDeviceInfo(device);
  TLink* l = &p->link;
  l->inChannels = std::max(o->mics[0], o->mics[1]) + 1;
  if ((int)l->inChannels > d->maxInputChannels) {
    p->error = DeviceName(device) + " has " + std::to_string(d->maxInputChannels) +
               " input channels; --mics " + std::to_string(o->mics[0]) + "," + std::to_string(o->mics[1]) +
               " needs " + std::to_string(l->inChannels);
    *status = kExitUsage;
    return false;
  }
  l->mics[0] = o->mics[0];
  l->mics[1] = o->mics[1];
  p->rate = (unsigned)std::lround(d->defaultSampleRate);
  p->engineRate = Job_EngineRate(p->rate);
  const PaStreamParameters in = {device, (int)l->inChannels, paInt16, d->defaultLowInputLatency, nullptr};
  return Opened(Pa_OpenStream(&p->input, &in, nullptr, p->rate, kFramesPerBuffer, paDitherOff, OnInput, l),
                DeviceName(device), &p->error);
}

bool OpenOutput(TLive* p, PaDeviceIndex device) {
  const PaDeviceInfo* d = Pa_GetDeviceInfo(device);
  TLink* l = &p->link;
  l->outChannels = std::min<unsigned>(kMaxOutputChannels, (unsigned)d->maxOutputChannels);
  const PaStreamParameters out = {device, (int)l->outChannels, paInt16, d->defaultLowOutputLatency, nullptr};
  return Opened(Pa_OpenStream(&p->output, nullptr, &out, p->rate, kFramesPerBuffer, paDitherOff, OnOutput, l),
                DeviceName(device) + " at " + std::to_string(p->rate) + " Hz", &p->error);
}

// Devices, rings, engine and file. *status is the exit status of a failure.
bool Open(TLive* p, int* status) {
  const TMicbeamOptions* o = p->options;
  *status = kExitUsage;
  PaDeviceIndex in, out = paNoDevice;
  // Played when an output device is named, or when there is no file to write.
  const bool play = !o->outputDevice.empty() || o->output.empty();
  TOutputFormat format;
  if (p->toFile) {
    const bool known = !o->format.empty() ? OutputFormat_FromName(&format, o->format, &p->error)
                       : o->output == "-" ? (format = OutputFormat_Default(), true)
                                          : OutputFormat_FromPath(&format, o->output, &p->error);
    if (!known) return false;
  }
  if (!FindDevice(o->inputDevice, true, &in, &p->error) ||
      (play && !FindDevice(o->outputDevice, false, &out, &p->error)) || !OpenInput(p, in, status))
    return false;
  *status = kExitFailed;
  if (play && !OpenOutput(p, out)) return false;

  TLink* l = &p->link;
  const size_t ringFrames = (size_t)(kRingSeconds * p->rate);
  Ring_Init(&l->captured, kMicrophones * ringFrames);
  Ring_Init(&l->played, ringFrames);
  l->inBlock.assign(kMicrophones * kFramesPerBuffer, 0);
  l->outBlock.assign(kFramesPerBuffer, 0);
  p->stereo.assign(kMicrophones * ringFrames, 0);
  if (p->engineRate != p->rate) {
    p->toEngine.reset(new TResampler);
    p->fromEngine.reset(new TResampler);
    if (!Resampler_Init(p->toEngine.get(), p->rate, p->engineRate, kMicrophones, &p->error) ||
        !Resampler_Init(p->fromEngine.get(), p->engineRate, p->rate, 1, &p->error))
      return false;
  }
  p->stream.reset(new micarray::Stream(p->engineRate, o->tuning, o->align, o->engine));
  // Playback starts once it holds what the engine gives at once (a step),
  // what the converters release at once, and a device buffer, so that
  // output arriving in bursts plays smoothly.
  const micarray::Engine& e = p->stream->engine();
  l->prime = (e.step() * p->rate + p->engineRate - 1) / p->engineRate + kFramesPerBuffer;
  if (p->toEngine) l->prime += (size_t)(kConversionBurst * p->rate);
  p->deviceLatency = Pa_GetStreamInfo(p->input)->inputLatency;
  p->engineLatency = (double)e.delay() / p->engineRate;
  if (p->output) {
    p->deviceLatency += Pa_GetStreamInfo(p->output)->outputLatency;
    p->engineLatency += (double)l->prime / p->rate;
  }
  return !p->toFile || Sink_Open(&p->sink, o->output, format, p->rate, &p->error);
}

// Samples for the file and the output device.
bool Deliver(TLive* p, const int16_t* samples, size_t count) {
  int peak = 0;
  for (size_t k = 0; k < count; k++) peak = std::max(peak, std::abs((int)samples[k]));
  RaisePeak(&p->link.outPeak, peak);
  if (p->toFile && !Sink_Write(&p->sink, samples, count, &p->error)) return false;
  if (p->output && count && !Ring_Write(&p->link.played, samples, count)) p->link.overruns++;
  return true;
}

// Converts a block, and when `last` everything the converter still holds,
// into p->converted: live blocks are short, so their output is too.
bool Convert(TLive* p, TResampler* r, const double* in, size_t frames, bool last) {
  p->converted.clear();
  const auto take = [p](const std::vector<double>& got) {
    p->converted.insert(p->converted.end(), got.begin(), got.end());
    return true;
  };
  if (!Resampler_Process(r, in, frames, &p->piece, take, &p->error)) return false;
  for (bool finished = !last; !finished;)
    if (!Resampler_Flush(r, kFramesPerBuffer, &p->converted, &finished, &p->error)) return false;
  return true;
}

// Engine output, converted back to the device's rate when it runs at another.
bool Emit(TLive* p, bool last) {
  if (!p->fromEngine) return Deliver(p, p->mono.data(), p->mono.size());
  p->wide.resize(p->mono.size());
  for (size_t k = 0; k < p->mono.size(); k++) p->wide[k] = micarray::FromInt16<double>(p->mono[k]);
  if (!Convert(p, p->fromEngine.get(), p->wide.data(), p->wide.size(), last)) return false;
  p->pcm.resize(p->converted.size());
  for (size_t k = 0; k < p->pcm.size(); k++) p->pcm[k] = micarray::ToInt16(p->converted[k]);
  return Deliver(p, p->pcm.data(), p->pcm.size());
}

// Captured frames through the engine; `last` ends the stream.
bool Process(TLive* p, size_t frames, bool last) {
  const int16_t* stereo = p->stereo.data();
  if (p->toEngine) {
    p->wide.resize(kMicrophones * frames);
    for (size_t k = 0; k < p->wide.size(); k++) p->wide[k] = micarray::FromInt16<double>(stereo[k]);
    if (!Convert(p, p->toEngine.get(), p->wide.data(), frames, last)) return false;
    p->pcm.resize(p->converted.size());
    for (size_t k = 0; k < p->pcm.size(); k++) p->pcm[k] = micarray::ToInt16(p->converted[k]);
    stereo = p->pcm.data();
    frames = p->pcm.size() / kMicrophones;
  }
  p->mono.clear();
  p->stream->process(micarray::Span<const int16_t>(stereo, kMicrophones * frames), p->mono);
  if (last) p->stream->flush(p->mono);
  return Emit(p, last);
}

std::string Db(std::atomic<int>* peak) {
  const int v = peak->exchange(0);
  const double db = v ? 20.0 * std::log10(v / micarray::kFullScale) : kSilentDb;
  char text[16];
  snprintf(text, sizeof text, "%5.1f", std::max(kSilentDb, db));
  return text;
}

void DrawStatus(TLive* p) {
  TLink* l = &p->link;
  const double seconds = (double)p->consumed / p->rate;
  const int minutes = (int)(seconds / kSecondsPerMinute);
  const double device = p->deviceLatency * kMillis, engine = p->engineLatency * kMillis;
  // Carriage return and erase to the end of the line: redrawn in place.
  fprintf(stderr,
          "\rmics %s %s dBFS  out %s dBFS  overruns %llu  underruns %llu  latency %.0f ms "
          "(device %.0f + engine %.0f)  %d:%04.1f\033[K",
          Db(&l->inPeak[0]).c_str(), Db(&l->inPeak[1]).c_str(), Db(&l->outPeak).c_str(),
          (unsigned long long)l->overruns, (unsigned long long)l->underruns, device + engine, device, engine,
          minutes, seconds - minutes * kSecondsPerMinute);
  fflush(stderr);
}

// Processes until the duration, a stop signal or a device failure (false).
bool Loop(TLive* p) {
  const TMicbeamOptions* o = p->options;
  const uint64_t limit = o->duration > 0 ? (uint64_t)std::llround(o->duration * p->rate)
                                         : std::numeric_limits<uint64_t>::max();
  auto now = std::chrono::steady_clock::now(), heard = now;
  uint64_t frames = 0;
  bool ok = true;
  while (ok && p->consumed < limit && !stopSignal) {
    const size_t wanted = (size_t)std::min<uint64_t>(p->stereo.size(), kMicrophones * (limit - p->consumed));
    const size_t taken = Ring_Read(&p->link.captured, p->stereo.data(), wanted) / kMicrophones;
    p->consumed += taken;
    ok = Process(p, taken, false);
    now = std::chrono::steady_clock::now();
    if (p->link.frames != frames) {
      frames = p->link.frames;
      heard = now;
    }
    if (Pa_IsStreamActive(p->input) != 1 || now - heard > kStall) {
      p->error = "the input device stopped delivering audio (disconnected?)";
      ok = false;
    } else if (p->output && Pa_IsStreamActive(p->output) != 1) {
      p->error = "the output device stopped playing (disconnected?)";
      ok = false;
    }
    if (!taken) std::this_thread::sleep_for(kIdle);
  }
  return ok;
}

// The engine runs on a worker thread, so that a slow terminal never holds
// it up; this thread redraws the status line.
bool Run(TLive* p) {
  std::atomic<bool> done(false);
  bool ok = false;
  std::thread worker([p, &ok, &done] {
    try {
      ok = Loop(p);
    } catch (const std::exception& e) {
      p->error = e.what();
    }
    done = true;
  });
  const bool shown = !p->options->quiet && isatty(STDERR_FILENO);
  auto drawn = std::chrono::steady_clock::now();
  while (!done) {
    std::this_thread::sleep_for(kWatch);
    if (shown && std::chrono::steady_clock::now() - drawn >= kRedraw) {
      DrawStatus(p);
      drawn = std::chrono::steady_clock::now();
    }
  }
  worker.join();
  if (shown) {
    DrawStatus(p);
    fputc('\n', stderr);
  }
  return ok;
}

// Ends the capture, processes what it left (the part before a stop signal;
// never beyond the duration) and completes the file.
bool Finish(TLive* p, bool devicesOk) {
  if (devicesOk) Pa_StopStream(p->input);
  const size_t left =
      p->options->duration > 0 ? 0 : Ring_Read(&p->link.captured, p->stereo.data(), p->stereo.size());
  p->consumed += left / kMicrophones;
  const bool processed = Process(p, left / kMicrophones, true);
  // What reached the file is kept even when the rest could not be processed.
  const bool committed = !p->toFile || Sink_Commit(&p->sink, &p->error);
  if (p->output && devicesOk) Pa_StopStream(p->output);
  return processed && committed;
}

// After a device failed, closing can itself fail hard (the host API of a
// sound server that went away asserts that it is still there): the process
// is about to end, and leaves the devices to the system.
void Close(TLive* p, bool devicesOk) {
  if (p->toFile) Sink_Abandon(&p->sink);  // a committed file stays
  if (!devicesOk) return;
  if (p->input) Pa_CloseStream(p->input);
  if (p->output) Pa_CloseStream(p->output);
  Pa_Terminate();
}

}  // namespace

int Live_ListDevices() {
  std::string error;
  if (!Initialize(&error)) {
    fprintf(stderr, "micbeam: %s\n", error.c_str());
    return kExitFailed;
  }
  const PaDeviceIndex defaultIn = Pa_GetDefaultInputDevice(), defaultOut = Pa_GetDefaultOutputDevice();
  printf("index  name (host)  input and output channels, default rate\n");
  for (PaDeviceIndex i = 0; i < Pa_GetDeviceCount(); i++) {
    const PaDeviceInfo* d = Pa_GetDeviceInfo(i);
    printf("%5d  %s  in %d, out %d, %.0f Hz%s%s\n", i, DeviceName(i).c_str(), d->maxInputChannels,
           d->maxOutputChannels, d->defaultSampleRate, i == defaultIn ? "  [default input]" : "",
           i == defaultOut ? "  [default output]" : "");
  }
  Pa_Terminate();
  return 0;
}

int Live_Run(const TMicbeamOptions* options) {
  // From the start, so that Ctrl-C while the devices open stops cleanly too.
  // A second one ends the process at once, should stopping hang.
  struct sigaction stop = {}, oldInt, oldTerm;
  stop.sa_handler = OnStopSignal;
  stop.sa_flags = SA_RESETHAND;
  sigemptyset(&stop.sa_mask);
  sigaction(SIGINT, &stop, &oldInt);
  sigaction(SIGTERM, &stop, &oldTerm);
  TLive p;
  p.options = options;
  p.input = p.output = nullptr;
  p.toFile = !options->output.empty();
  p.sink.file = nullptr;
  p.sink.output = THostOutput{nullptr, "", ""};
  p.sink.toStdout = false;
  p.consumed = 0;
  TLink* l = &p.link;
  l->playing = false;
  l->frames = l->overruns = l->underruns = 0;
  l->inPeak[0] = l->inPeak[1] = l->outPeak = 0;
  int status = kExitFailed;
  bool started = false, devicesOk = false;
  const bool initialized = Initialize(&p.error);
  try {
    started = initialized && Open(&p, &status);
    if (started) {
      PaError e = p.output ? Pa_StartStream(p.output) : paNoError;
      if (e == paNoError) e = Pa_StartStream(p.input);
      if (e != paNoError) p.error = std::string("cannot start the devices: ") + Pa_GetErrorText(e);
      devicesOk = e == paNoError && Run(&p);
      const bool finished = Finish(&p, devicesOk);
      status = devicesOk && finished ? 0 : kExitFailed;
    }
  } catch (const std::exception& e) {
    p.error = e.what();
    status = kExitFailed;
  }
  // A device that a stop signal interrupted while opening is no failure.
  if (!started && stopSignal) status = 0;
  if (status != 0) fprintf(stderr, "micbeam: %s\n", p.error.c_str());
  Close(&p, initialized && (devicesOk || !started));
  sigaction(SIGINT, &oldInt, nullptr);
  sigaction(SIGTERM, &oldTerm, nullptr);
  return status;
}
