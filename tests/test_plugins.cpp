// The plugins in real hosts, each output micbeam's once the reported latency
// is taken off, and the LADSPA descriptor driven directly, block by block.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <ladspa.h>
#include <sys/stat.h>

#include <cmath>
#include <random>
#include <sstream>

#include "audio_files.h"
#include "micarray.hpp"
#include "plug.h"

namespace {

const std::string kLadspaDir = DUET_LADSPA_DIR;
const std::string kLv2Dir = DUET_LV2_DIR;
const std::string kLv2Uri = DUET_LV2_URI;
const double kSceneSeconds = 2.0;
const int kHostLsb = 1;  // hosts round floats to 16 bits their own way

// The tuning of a run: the control ports' values in port order (engine,
// spacing, angle, suppression, speed, noise rate, musical).
struct TTuning {
  const char* engine;
  float values[kPortMusical - kPortEngine + 1];
  unsigned rate;
};
// Away from the defaults; the classic engine at a rate where it runs later
// than the adaptive one and the plugin delays its output to match.
const TTuning kAdaptive = {"mvdr", {kEngineMvdr, 0.08f, 30, -20, 0.07f, 0.9f, 0.98f}, 16000};
const TTuning kClassic = {"classic", {kEngineClassic, 0.08f, 0, -20, 0.1f, 0.8f, 0.95f}, 48000};

// Shortest form: hosts take "1" for an integer port, not "1.000000".
std::string Number(float v) {
  std::ostringstream s;
  s << v;
  return s.str();
}

RunResult Shell(const std::string& cmd) { return ::Run("sh", {"-c", cmd + " 2>&1"}); }
bool Installed(const std::string& program) { return Shell("command -v " + program).status == 0; }

// The LADSPA plugin loaded as hosts load it, and instances of it.
class Ladspa {
 public:
  Ladspa() {
    lib_ = dlopen((kLadspaDir + "/duet_beam.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!lib_) throw std::runtime_error(dlerror());
    auto entry = (LADSPA_Descriptor_Function)dlsym(lib_, "ladspa_descriptor");
    descriptor_ = entry ? entry(0) : nullptr;
    if (!descriptor_ || entry(1)) throw std::runtime_error("one descriptor expected");
  }
  ~Ladspa() { dlclose(lib_); }

  // A control port's new value from a frame on (from the first block that
  // starts there or later).
  struct TChange {
    size_t frame;
    uint32_t port;
    float value;
  };
  // Runs 16-bit stereo through a fresh instance in blocks of the given
  // lengths, repeated (inPlace: the output overwrites microphone 0's buffer).
  struct TRun {
    std::vector<float> mono;
    bool copyEqual = true;
    float latency = -1, status = -1;
  };
  TRun Run(const TTuning& t, unsigned rate, const std::vector<int16_t>& stereo,
           const std::vector<size_t>& blocks, bool inPlace = false,
           const std::vector<TChange>& changes = {}) const {
    const size_t frames = stereo.size() / 2;
    std::vector<float> mic0(frames), mic1(frames), copy(frames);
    for (size_t k = 0; k < frames; k++) {
      mic0[k] = micarray::FromInt16<float>(stereo[2 * k]);
      mic1[k] = micarray::FromInt16<float>(stereo[2 * k + 1]);
    }
    TRun r;
    r.mono.resize(frames);
    float controls[kPortCount] = {};
    std::copy(std::begin(t.values), std::end(t.values), controls + kPortEngine);
    LADSPA_Handle h = descriptor_->instantiate(descriptor_, rate);
    for (uint32_t p = kPortEngine; p < kPortCount; p++) descriptor_->connect_port(h, p, &controls[p]);
    descriptor_->activate(h);
    float* out = inPlace ? mic0.data() : r.mono.data();
    for (size_t done = 0, b = 0; done < frames; b++) {
      for (const TChange& c : changes)
        if (c.frame <= done) controls[c.port] = c.value;
      const size_t n = std::min(blocks[b % blocks.size()], frames - done);
      descriptor_->connect_port(h, kPortMic0, &mic0[done]);
      descriptor_->connect_port(h, kPortMic1, &mic1[done]);
      descriptor_->connect_port(h, kPortOut, out + done);
      descriptor_->connect_port(h, kPortOutCopy, &copy[done]);
      descriptor_->run(h, n);
      done += n;
    }
    descriptor_->cleanup(h);
    if (inPlace) r.mono = mic0;
    r.copyEqual = copy == r.mono;
    r.latency = controls[kPortLatency];
    r.status = controls[kPortStatus];
    return r;
  }

 private:
  void* lib_;
  const LADSPA_Descriptor* descriptor_;
};

struct THost;
typedef std::string (*TCommand)(const THost& h, const TTuning& t, const std::string& in,
                                const std::string& out, const std::string& dir);
struct THost {
  const char* name;
  const char* program;
  TCommand command;
  const char* gstElement = nullptr;  // GStreamer's element for the plugin, and its properties in port order
  const char* const* gstProperties = nullptr;
};

std::string SoxCommand(const THost&, const TTuning& t, const std::string& in, const std::string& out,
                       const std::string&) {
  std::string cmd = "LADSPA_PATH=" + kLadspaDir + " sox -D " + in + " " + out + " ladspa duet_beam duet_beam";
  for (float v : t.values) cmd += " " + Number(v);
  return cmd;
}

const char* const kLv2Symbols[] = {"engine", "spacing",    "angle",  "suppression",
                                   "speed",  "noise_rate", "musical"};

std::string Lv2applyCommand(const THost&, const TTuning& t, const std::string& in, const std::string& out,
                            const std::string&) {
  std::string cmd = "LV2_PATH=" + kLv2Dir + " lv2apply -i " + in + " -o " + out;
  for (size_t i = 0; i < std::size(kLv2Symbols); i++)
    cmd += std::string(" -c ") + kLv2Symbols[i] + " " + Number(t.values[i]);
  return cmd + " " + kLv2Uri;
}

// GStreamer with a registry of its own, so that it scans the build's plugins.
std::string GstEnvironment(const std::string& dir) {
  return "GST_REGISTRY=" + dir + "/registry.bin LADSPA_PATH=" + kLadspaDir + " LV2_PATH=" + kLv2Dir + " ";
}

// 16-bit stereo to floats and back (no dither), through the plugin's element.
std::string GstCommand(const THost& h, const TTuning& t, const std::string& in, const std::string& out,
                       const std::string& dir) {
  std::string cmd = GstEnvironment(dir) + "gst-launch-1.0 -q filesrc location=" + in +
                    " ! wavparse ! audioconvert ! audio/x-raw,format=F32LE,channels=2 ! " + h.gstElement;
  for (size_t i = 0; i < std::size(kLv2Symbols); i++)
    cmd += std::string(" ") + h.gstProperties[i] + "=" + Number(t.values[i]);
  return cmd + " ! audioconvert dithering=none noise-shaping=none ! audio/x-raw,format=S16LE" +
         " ! wavenc ! filesink location=" + out;
}

// Properties named after the LADSPA ports' names or the LV2 symbols.
const char* const kGstLadspaProperties[] = {
    "engine", "microphone-spacing", "target-angle", "suppression", "classic-direction-speed",
    "classic-noise-rate", "classic-musical-smoothing"};
const char* const kGstLv2Properties[] = {"engine", "spacing",    "angle",  "suppression",
                                         "speed",  "noise-rate", "musical"};

const THost kHosts[] = {
    {"sox", "sox", SoxCommand},
    {"lv2apply", "lv2apply", Lv2applyCommand},
    {"gst_ladspa", "gst-launch-1.0", GstCommand, "ladspa-duet-beam-so-duet-beam", kGstLadspaProperties},
    {"gst_lv2", "gst-launch-1.0", GstCommand, "urn-duet-beam-enhancer", kGstLv2Properties},
};

class Host : public testing::TestWithParam<std::tuple<THost, TTuning>> {};

TEST_P(Host, OutputIsMicbeamsAfterTheReportedLatency) {
  const THost& host = std::get<0>(GetParam());
  const TTuning& t = std::get<1>(GetParam());
  if (!Installed(host.program))
    GTEST_SKIP() << host.program << " is not installed (scripts/setup.sh installs it)";
  const std::string dir = TempDir(), in = dir + "/in.wav", out = dir + "/out.wav";
  if (host.gstElement && Shell(GstEnvironment(dir) + "gst-inspect-1.0 " + host.gstElement).status != 0)
    GTEST_SKIP() << "GStreamer does not load the plugin as " << host.gstElement;
  const std::vector<int16_t> stereo = Scene(t.rate, kSceneSeconds);
  WriteAudio(in, kWav16, (int)t.rate, 2, stereo);
  const RunResult ran = Shell(host.command(host, t, in, out, dir));
  ASSERT_EQ(ran.status, 0) << ran.out;
  const Audio got = ReadAudio(out);
  ASSERT_EQ(got.channels, 2);
  ASSERT_EQ(got.samples.size(), stereo.size());

  const RunResult ref = RunMicbeam(
      {"--engine", t.engine, "--distance", Number(t.values[1]), "--angle", Number(t.values[2]),
       "--suppression", Number(t.values[3]), "--speed", Number(t.values[4]), "--noise-rate",
       Number(t.values[5]), "--musical", Number(t.values[6]), in, "-o", dir + "/ref.wav"});
  ASSERT_EQ(ref.status, 0) << ref.err;
  const std::vector<int16_t> aligned = ReadAudio(dir + "/ref.wav").samples;
  const size_t latency = (size_t)Ladspa().Run(t, t.rate, stereo, {1}).latency;
  ASSERT_GT(aligned.size(), latency);
  int worst = 0;
  for (size_t n = 0; n + latency < aligned.size(); n++) {
    const int16_t y = got.samples[2 * (n + latency)];
    ASSERT_EQ(y, got.samples[2 * (n + latency) + 1]) << "the copy differs at " << n;
    worst = std::max(worst, std::abs(y - aligned[n]));
  }
  EXPECT_LE(worst, kHostLsb);
}

INSTANTIATE_TEST_SUITE_P(Plugins, Host,
                         testing::Combine(testing::ValuesIn(kHosts), testing::Values(kAdaptive, kClassic)),
                         [](const testing::TestParamInfo<Host::ParamType>& info) {
                           return std::string(std::get<0>(info.param).name) + "_" +
                                  std::get<1>(info.param).engine;
                         });

// The hosts' inspection tools read the plugins and find the latency port, which the hosts
// above do not use.
TEST(Plugins, InspectionToolsFindTheLatencyPort) {
  const struct {
    const char* program;
    std::string command, expected;
  } cases[] = {
      {"analyseplugin", "analyseplugin " + kLadspaDir + "/duet_beam.so", "\"latency\" output, control"},
      {"lv2info", "LV2_PATH=" + kLv2Dir + " lv2info " + kLv2Uri,
       "Has latency:       yes, reported by port 11"}};
  for (const auto& c : cases) {
    if (!Installed(c.program)) continue;
    const RunResult r = Shell(c.command);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find(c.expected), std::string::npos) << r.out;
  }
}

// A private PipeWire daemon loads the shipped filter-chain file: the plugin
// takes every control it sets, and the virtual source appears.
TEST(Plugins, PipewireMakesTheEnhancedMicrophone) {
  if (!Installed("pipewire") || !Installed("pw-cli")) GTEST_SKIP() << "PipeWire is not installed";
  const std::string dir = TempDir();
  ASSERT_EQ(mkdir((dir + "/run").c_str(), 0700), 0);
  ASSERT_EQ(mkdir((dir + "/daemon.conf.d").c_str(), 0700), 0);
  WriteFile(dir + "/daemon.conf",
            "context.properties = { core.daemon = true core.name = pipewire-0 }\n"
            "context.spa-libs = { audio.convert.* = audioconvert/libspa-audioconvert "
            "support.* = support/libspa-support }\n"
            "context.modules = [ { name = libpipewire-module-protocol-native } "
            "{ name = libpipewire-module-client-node } { name = libpipewire-module-access } "
            "{ name = libpipewire-module-metadata } { name = libpipewire-module-adapter } ]\n");
  WriteFile(dir + "/daemon.conf.d/enhanced-mic.conf", ReadFile(DUET_PIPEWIRE_CONF));
  const RunResult r =
      Shell("cd " + dir + "; export XDG_RUNTIME_DIR=" + dir + "/run LADSPA_PATH=" + kLadspaDir +
            "; PIPEWIRE_CONFIG_DIR=" + dir +
            " PIPEWIRE_DEBUG=2 timeout 30 pipewire -c daemon.conf 2>daemon.log & daemon=$!; " +
            "for i in $(seq 50); do sleep 0.1; timeout 5 pw-cli ls Node >nodes 2>/dev/null; " +
            "grep -q '\"enhanced_mic\"' nodes && break; done; kill $daemon; cat nodes");
  EXPECT_NE(r.out.find("node.name = \"enhanced_mic\"\n \t\tmedia.class = \"Audio/Source\""),
            std::string::npos)
      << r.out;
  const std::string log = ReadFile(dir + "/daemon.log");
  EXPECT_EQ(log.find("mod.filter-chain"), std::string::npos) << log;
}

// Blocks of random lengths give the output of one long block, also when the output
// overwrites an input, and the copy, the status and the latency follow. At rates the
// engines do not run, that output is microphone 0 as it is, without latency.
TEST(Plugins, AnyBlockLengthsGiveTheSameOutput) {
  const Ladspa plugin;
  std::mt19937 random(20);
  std::uniform_int_distribution<size_t> length(1, 8192);
  const std::pair<TTuning, unsigned> kRuns[] = {{kAdaptive, kAdaptive.rate}, {kClassic, kClassic.rate},
                                                {kAdaptive, micarray::kMinRate - 1},
                                                {kAdaptive, micarray::kMaxRate + 1}};
  for (const auto& [t, rate] : kRuns) {
    SCOPED_TRACE(testing::Message() << t.engine << " at " << rate << " Hz");
    const std::vector<int16_t> stereo = Scene(t.rate, kSceneSeconds);
    std::vector<size_t> blocks(64);
    for (size_t& b : blocks) b = length(random);
    const Ladspa::TRun whole = plugin.Run(t, rate, stereo, {stereo.size() / 2});
    EXPECT_TRUE(whole.copyEqual);
    if (rate == t.rate) {
      EXPECT_EQ(whole.status, t.values[0] == kEngineClassic ? kStatusClassic : kStatusMvdr);
    } else {
      EXPECT_EQ(whole.status, kStatusPassThrough);
      EXPECT_EQ(whole.latency, 0);
      for (size_t k = 0; k < whole.mono.size(); k++)
        ASSERT_EQ(whole.mono[k], micarray::FromInt16<float>(stereo[2 * k])) << k;
    }
    for (bool inPlace : {false, true}) {
      const Ladspa::TRun pieces = plugin.Run(t, rate, stereo, blocks, inPlace);
      EXPECT_TRUE(pieces.mono == whole.mono) << "in place " << inPlace;
      EXPECT_TRUE(pieces.copyEqual);
      EXPECT_EQ(pieces.latency, whole.latency);
    }
  }
}

// Retunes, classic restarts and engine switches on a steady tone fade without
// a step steeper than the tone's own; the adaptive engine, last looking 20
// degrees away and taking the tone for noise, keeps it below its floor.
TEST(Plugins, ControlChangesDoNotClick) {
  const unsigned rate = 16000;
  const double kTone = 440, kAmplitude = 16384, kSeconds = 3.0, kSlack = 1.05;
  std::vector<int16_t> stereo(2 * (size_t)(kSeconds * rate));
  for (size_t k = 0; k < stereo.size(); k++)
    stereo[k] = (int16_t)std::lround(kAmplitude * std::sin(2 * M_PI * kTone * (double)(k / 2) / rate));
  const size_t second = rate;
  const std::vector<Ladspa::TChange> changes = {{second / 2, kPortEngine, kEngineClassic},
                                                {second, kPortSpeed, 0.1f},
                                                {5 * second / 4, kPortSuppression, -30},
                                                {3 * second / 2, kPortEngine, kEngineMvdr},
                                                {2 * second, kPortAngle, 20},
                                                {5 * second / 2, kPortDistance, 0.06f}};
  const Ladspa::TRun r = Ladspa().Run(kAdaptive, rate, stereo, {256}, false, changes);
  EXPECT_EQ(r.status, kStatusMvdr);
  const double toneStep = 2 * kAmplitude / micarray::kFullScale * std::sin(M_PI * kTone / rate);
  float steepest = 0, lastPeak = 0;
  for (size_t k = 1; k < r.mono.size(); k++)
    steepest = std::max(steepest, std::fabs(r.mono[k] - r.mono[k - 1]));
  for (size_t k = r.mono.size() - second / 4; k < r.mono.size(); k++)
    lastPeak = std::max(lastPeak, r.mono[k]);
  EXPECT_LE(steepest, kSlack * toneStep);
  const double kBelowFloor = std::pow(10.0, -50.0 / 20);  // the floor and the beam's attenuation
  EXPECT_GT(lastPeak, kBelowFloor * kAmplitude / micarray::kFullScale);
}

}  // namespace
