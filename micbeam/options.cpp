#include "options.h"

#include <stdio.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <thread>

namespace {

const char kDescription[] =
    "micbeam: keeps the talker a two-microphone array is pointed at and suppresses the rest.\n"
    "Reads WAV (every PCM width, float, extensible), AIFF, FLAC, Ogg and the other formats of\n"
    "libsndfile; writes one channel of enhanced speech.";

const char kFooter[] =
    "Samples:  the engines work on 16-bit samples; wider and float input samples are rounded to\n"
    "          the nearest 16-bit value (halves away from zero) and saturated at full scale.\n"
    "Rates:    8000 to 48000 Hz run natively; other rates are converted to 8000 or 48000 Hz and\n"
    "          the result back to the input's rate (unless --engine-rate).\n"
    "Timing:   output sample n belongs to input sample n and the output is as long as the input;\n"
    "          --no-align gives the engine's own stream: late by its latency (mvdr: half a frame of\n"
    "          about 32 ms; classic: three steps), whole steps only.\n"
    "Output:   the format follows --format or the extension of -o: wav, aiff, flac, ogg, au, caf,\n"
    "          w64 or raw, optionally with :16, :24, :32 or :float (default 16-bit PCM WAV).\n"
    "          Several inputs or a directory need -o DIR. An output is written aside from its final\n"
    "          name and takes that name only when complete. - is standard input or output.\n"
    "Exit:     0 when every file was enhanced, 1 when any failed, 2 for a refused command line.\n"
    "Live:     --live enhances two channels of an input device as they arrive, at the device's rate;\n"
    "          Ctrl-C or SIGTERM ends the run with the file complete (status 0), a failing device\n"
    "          with the file complete up to then (status 1).";

// Help for each tuning value, in the order of micarray::kTuningRanges.
const char* const kTuningHelp[] = {
    "microphone spacing in metres, (0, 10]",
    "adaptation speed of the direction detector, (0, 1]",
    "deepest suppression in dB, [-80, 0]",
    "noise adaptation rate, [0.6, 1)",
    "musical-noise smoothing, [0.6, 1)",
    "talker direction in degrees from broadside, [-90, 90], positive toward microphone 0",
};
static_assert(sizeof kTuningHelp / sizeof kTuningHelp[0] ==
                  sizeof micarray::kTuningRanges / sizeof micarray::kTuningRanges[0],
              "one help line per tuning value");

const unsigned kMaxJobs = 1024;
const unsigned kMaxRawRate = 1000000;
const size_t kMicCount = 2;

// The option of a tuning field: its name with dashes.
std::string TuningOption(const micarray::TuningRange& r) {
  std::string name = std::string("--") + r.name;
  for (char& c : name)
    if (c == '_') c = '-';
  return name;
}

std::string Number(float v) {
  char text[32];
  snprintf(text, sizeof text, "%g", (double)v);
  return text;
}

int Refuse(const std::string& message) {
  fprintf(stderr, "micbeam: %s\nRun with --help for more information.\n", message.c_str());
  return kExitUsage;
}

}  // namespace

int Options_Parse(TMicbeamOptions* it, int argc, char** argv) {
  *it = TMicbeamOptions();
  it->mics[0] = 0;
  it->mics[1] = 1;
  it->rawRate = 0;
  it->engineRate = false;
  it->align = true;
  it->jobs = std::max(1u, std::thread::hardware_concurrency());
  it->quiet = false;
  it->engine = micarray::EngineKind::mvdr;
  it->live = it->listDevices = false;
  it->duration = 0.0;
  bool noAlign = false;
  std::string engine = micarray::EngineName(it->engine);
  std::string mics = "0,1";

  CLI::App app(kDescription, "micbeam");
  app.footer(kFooter);
  app.set_version_flag("--version", std::string("micbeam ") + MICBEAM_VERSION);
  app.add_option("inputs", it->inputs, "input files or directories; - reads standard input");
  app.add_option("-o,--output", it->output, "output file, directory, or - for standard output");
  app.add_option("--engine", engine,
                 "mvdr: adaptive beamformer with speech post-filter, any --angle; classic: the fixed "
                 "design for a talker straight ahead (--speed, --noise-rate, --musical tune it)")
      ->check(CLI::IsMember({micarray::EngineName(micarray::EngineKind::mvdr),
                             micarray::EngineName(micarray::EngineKind::classic)}))
      ->capture_default_str();
  for (size_t i = 0; i < sizeof kTuningHelp / sizeof kTuningHelp[0]; i++) {
    const micarray::TuningRange& r = micarray::kTuningRanges[i];
    app.add_option(TuningOption(r), it->tuning.*r.field, kTuningHelp[i])->capture_default_str();
  }
  app.add_option("--mics", mics, "the two microphone channels of the input, counted from 0")
      ->type_name("A,B")
      ->capture_default_str();
  app.add_option("--raw", it->rawRate, "headerless 16-bit little-endian stereo input (and raw output) at RATE Hz")
      ->check(CLI::Range(1u, kMaxRawRate))
      ->type_name("RATE");
  app.add_option("--format", it->format, "output format NAME[:16|24|32|float]")->type_name("FORMAT");
  app.add_flag("--engine-rate", it->engineRate, "keep the output at the engine's rate (8000 or 48000 Hz)");
  app.add_flag("--no-align", noAlign, "the engine's raw stream: late by its latency, short final step dropped");
  app.add_option("-j,--jobs", it->jobs, "worker threads (default: the number of cores)")
      ->check(CLI::Range(1u, kMaxJobs));
  app.add_flag("-q,--quiet", it->quiet, "no progress bar");
  app.add_option("--report", it->report, "write per-file results as JSON")->type_name("FILE.json");
  app.add_flag("--live", it->live, "enhance an audio input device (no input files): play and/or write -o");
  app.add_flag("--list-devices", it->listDevices, "list the audio devices for --live");
  app.add_option("--input-device", it->inputDevice, "--live: capture device, index or name (default input)")
      ->type_name("DEVICE");
  app.add_option("--output-device", it->outputDevice,
                 "--live: play on this device, index or name (default output when there is no -o)")
      ->type_name("DEVICE");
  app.add_option("--duration", it->duration, "--live: stop after SECONDS of input (default: at Ctrl-C)")
      ->check(CLI::PositiveNumber)
      ->type_name("SECONDS");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);  // --help
    return Refuse(e.what());
  }
  it->align = !noAlign;
  if (it->live && !it->inputs.empty()) return Refuse("--live takes no input files");
  if (it->live && it->engineRate)
    return Refuse("--engine-rate is for files; live output keeps the device's rate");
  if (!it->live && !it->listDevices) {
    if (it->inputs.empty()) return Refuse("inputs is required");
    if (it->output.empty()) return Refuse("--output is required");
  }
  it->engine = engine == micarray::EngineName(micarray::EngineKind::classic) ? micarray::EngineKind::classic
                                                                              : micarray::EngineKind::mvdr;
  char extra;
  if (sscanf(mics.c_str(), "%u,%u%c", &it->mics[0], &it->mics[1], &extra) != (int)kMicCount ||
      mics.find('-') != std::string::npos)
    return Refuse("--mics " + mics + ": give two channel numbers A,B counted from 0");
  if (it->mics[0] == it->mics[1]) return Refuse("--mics needs two different channels");
  if (const micarray::TuningRange* refused = micarray::TuningRefusal(it->tuning))
    return Refuse(TuningOption(*refused) + " " + Number(it->tuning.*refused->field) + " refused: " +
                  refused->message);
  if (it->engine == micarray::EngineKind::classic && it->tuning.angle != 0.0f)
    return Refuse("--angle " + Number(it->tuning.angle) +
                  " refused: the classic engine listens straight ahead only; use --engine mvdr");
  return -1;
}
