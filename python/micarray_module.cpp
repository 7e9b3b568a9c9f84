// Python module `micarray._micarray`: the two-microphone engine over numpy
// arrays. Samples are int16, or floats where 1.0 is full scale (rounded and
// saturated to 16 bits on the way in, scaled back on the way out). The
// engine runs with the interpreter lock released. For micarray.batch it also
// plans and enhances whole files with micbeam's own code, so a cluster writes
// what micbeam writes.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <mutex>
#include <string>
#include <vector>

#include "job.h"
#include "micarray.hpp"
#include "plan.h"
#include "report.h"

namespace py = pybind11;

namespace {

// The sample types an array may hold.
enum TSampleKind { kInt16, kFloat32, kFloat64 };

TSampleKind KindOf(const py::dtype& d) {
  if (d.is(py::dtype::of<int16_t>())) return kInt16;
  if (d.is(py::dtype::of<float>())) return kFloat32;
  if (d.is(py::dtype::of<double>())) return kFloat64;
  throw py::type_error("samples must be int16, float32 or float64, not " + py::str(static_cast<const py::handle&>(d)).cast<std::string>());
}

// An (n, 2) array of microphone pairs as interleaved 16-bit samples.
std::vector<int16_t> StereoSamples(const py::array& a, TSampleKind kind) {
  if (a.ndim() != 2 || a.shape(1) != 2)
    throw py::value_error("samples must have shape (n, 2): one column per microphone");
  std::vector<int16_t> out((size_t)a.size());
  if (kind == kInt16) {
    const auto in = py::array_t<int16_t, py::array::c_style | py::array::forcecast>::ensure(a);
    std::copy(in.data(), in.data() + in.size(), out.begin());
  } else {
    const auto in = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(a);
    for (size_t i = 0; i < out.size(); i++) out[i] = micarray::ToInt16(in.data()[i]);
  }
  return out;
}

// Mono 16-bit samples as an array of the input's kind.
py::array MonoArray(const std::vector<int16_t>& mono, TSampleKind kind) {
  if (kind == kInt16) return py::array_t<int16_t>((py::ssize_t)mono.size(), mono.data());
  py::array_t<double> wide((py::ssize_t)mono.size());
  for (size_t i = 0; i < mono.size(); i++) wide.mutable_data()[i] = micarray::FromInt16<double>(mono[i]);
  if (kind == kFloat64) return std::move(wide);
  return wide.attr("astype")("float32");
}

micarray::EngineKind EngineOf(const std::string& name) {
  for (micarray::EngineKind kind : {micarray::EngineKind::mvdr, micarray::EngineKind::classic})
    if (name == micarray::EngineName(kind)) return kind;
  throw py::value_error("engine must be \"mvdr\" or \"classic\", not \"" + name + "\"");
}

micarray::Tuning MakeTuning(float distance, float angle, float speed, float suppression, float noise_rate,
                            float musical) {
  micarray::Tuning t;
  t.angle = angle;
  t.distance = distance;
  t.speed = speed;
  t.suppression = suppression;
  t.noise_rate = noise_rate;
  t.musical = musical;
  return t;
}

// A stream whose blocks may come from several Python threads: one block at
// a time, taken with the interpreter lock released.
class PyStream {
 public:
  PyStream(unsigned rate, const micarray::Tuning& tuning, bool align, micarray::EngineKind engine)
      : stream_(rate, tuning, align, engine), kind_(kInt16) {}

  py::array Process(const py::array& block) {
    const TSampleKind kind = KindOf(block.dtype());
    kind_ = kind;
    const std::vector<int16_t> stereo = StereoSamples(block, kind);
    std::vector<int16_t> mono;
    {
      py::gil_scoped_release unlocked;
      std::lock_guard<std::mutex> guard(lock_);
      stream_.process(stereo, mono);
    }
    return MonoArray(mono, kind);
  }

  py::array Flush() {
    const TSampleKind kind = kind_;
    std::vector<int16_t> mono;
    {
      py::gil_scoped_release unlocked;
      std::lock_guard<std::mutex> guard(lock_);
      stream_.flush(mono);
    }
    return MonoArray(mono, kind);
  }

  const micarray::Stream& stream() const { return stream_; }

 private:
  micarray::Stream stream_;
  TSampleKind kind_;  // of the last block: the rest comes as the same type
  std::mutex lock_;
};

py::array Enhance(const py::array& samples, unsigned rate, const std::string& engine, float distance, float angle,
                  float speed, float suppression, float noise_rate, float musical, bool align) {
  const TSampleKind kind = KindOf(samples.dtype());
  const std::vector<int16_t> stereo = StereoSamples(samples, kind);
  micarray::Stream stream(rate, MakeTuning(distance, angle, speed, suppression, noise_rate, musical), align,
                          EngineOf(engine));
  std::vector<int16_t> mono;
  {
    py::gil_scoped_release unlocked;
    stream.process(stereo, mono);
    stream.flush(mono);
  }
  return MonoArray(mono, kind);
}

const micarray::Tuning kDefaults;

// The settings of a batch from a dict with the keyword names of enhance()
// plus mics, raw (headerless input at that rate, 0 for none) and engine_rate;
// missing keys take micbeam's defaults.
TJobSettings SettingsOf(const py::dict& d) {
  TJobSettings s = {micarray::EngineKind::mvdr, kDefaults, {0, 1}, 0, false, true};
  if (d.contains("engine")) s.engine = EngineOf(d["engine"].cast<std::string>());
  for (const micarray::TuningRange& r : micarray::kTuningRanges)
    if (d.contains(r.name)) s.tuning.*r.field = d[r.name].cast<float>();
  if (d.contains("mics")) {
    const auto mics = d["mics"].cast<std::pair<unsigned, unsigned>>();
    s.mics[0] = mics.first;
    s.mics[1] = mics.second;
  }
  if (d.contains("raw")) s.rawRate = d["raw"].cast<unsigned>();
  if (d.contains("engine_rate")) s.engineRate = d["engine_rate"].cast<bool>();
  if (d.contains("align")) s.align = d["align"].cast<bool>();
  return s;
}

// micbeam's pairs of input and output for inputs (files or directories)
// written into the directory `output` (made when missing).
std::vector<std::pair<std::string, std::string>> Plan(const std::vector<std::string>& inputs,
                                                      const std::string& output, const std::string& format,
                                                      unsigned raw) {
  TMicbeamOptions options = TMicbeamOptions();
  options.inputs = inputs;
  options.output = output.empty() || output.back() == '/' ? output : output + "/";
  options.format = format;
  options.rawRate = raw;
  std::vector<TJob> jobs;
  std::string error;
  if (!Plan_Make(&options, &jobs, &error)) throw py::value_error(error);
  std::vector<std::pair<std::string, std::string>> pairs;
  for (const TJob& job : jobs) pairs.emplace_back(job.input, job.output);
  return pairs;
}

// micbeam's JSON report of a run of these files and results.
std::string ReportOf(const TJobSettings& settings, const std::vector<TJob>& jobs,
                     const std::vector<TJobResult>& results, unsigned workers, double wall) {
  const TReport report = {&settings, &jobs, &results, workers, wall};
  return Report_Json(&report);
}

// One file as micbeam enhances it (format: as micbeam's --format, or empty
// to follow the output's extension); returns micbeam's report of it.
std::string EnhanceFile(const std::string& input, const std::string& output, const std::string& format,
                        const py::dict& settings) {
  const TJobSettings s = SettingsOf(settings);
  std::vector<TJob> job = {TJob{input, output, TOutputFormat()}};
  std::string error;
  const bool known = format.empty() ? OutputFormat_FromPath(&job[0].format, output, &error)
                                    : OutputFormat_FromName(&job[0].format, format, &error);
  if (!known) throw py::value_error(error);
  std::vector<TJobResult> result(1);
  {
    py::gil_scoped_release unlocked;
    TProgress progress;  // not shown: micarray.batch draws its own over the whole cluster
    Progress_Start(&progress, job.size(), false);
    Job_Run(&job[0], &s, &result[0], &progress);
  }
  return ReportOf(s, job, result, 1, result[0].processing);
}

}  // namespace

PYBIND11_MODULE(_micarray, m) {
  m.doc() =
      "Two-microphone speech enhancement: keeps the talker the array is pointed at.\n"
      "Input arrays have shape (n, 2), one column per microphone, int16 or float (1.0 is full\n"
      "scale; floats are rounded and saturated to 16 bits). Rates from 8000 to 48000 Hz.";
  m.attr("version") = MicArray_Info.product_version;
  m.attr("MIN_RATE") = micarray::kMinRate;
  m.attr("MAX_RATE") = micarray::kMaxRate;

  m.def("enhance", &Enhance, py::arg("samples"), py::arg("rate"), py::kw_only(), py::arg("engine") = "mvdr",
        py::arg("distance") = kDefaults.distance, py::arg("angle") = kDefaults.angle,
        py::arg("speed") = kDefaults.speed,
        py::arg("suppression") = kDefaults.suppression, py::arg("noise_rate") = kDefaults.noise_rate,
        py::arg("musical") = kDefaults.musical, py::arg("align") = true,
        "Enhances a whole recording; returns the mono result with the input's sample type.\n"
        "align=True: sample n belongs to input sample n and the length is the input's.\n"
        "align=False: the engine's own stream, `delay` samples late, whole steps only.\n"
        "engine: \"mvdr\" (adaptive beamformer, steered by angle in degrees from broadside,\n"
        "positive toward microphone 0) or \"classic\" (talker straight ahead; speed, noise_rate\n"
        "and musical tune it).");

  py::class_<PyStream>(m, "Stream", "Enhancement of a recording that arrives in blocks of any length.")
      .def(py::init([](unsigned rate, const std::string& engine, float distance, float angle, float speed,
                       float suppression, float noise_rate, float musical, bool align) {
             return new PyStream(rate, MakeTuning(distance, angle, speed, suppression, noise_rate, musical), align,
                                 EngineOf(engine));
           }),
           py::arg("rate"), py::kw_only(), py::arg("engine") = "mvdr", py::arg("distance") = kDefaults.distance,
           py::arg("angle") = kDefaults.angle, py::arg("speed") = kDefaults.speed, py::arg("suppression") = kDefaults.suppression,
           py::arg("noise_rate") = kDefaults.noise_rate, py::arg("musical") = kDefaults.musical,
           py::arg("align") = true)
      .def("process", &PyStream::Process, py::arg("block"),
           "Takes an (n, 2) block; returns the enhanced samples ready so far.")
      .def("flush", &PyStream::Flush,
           "Ends the recording and returns the rest (aligned: up to the input's length), with\n"
           "the sample type of the last block; the next block starts a new recording.")
      .def_property_readonly("rate", [](const PyStream& s) { return s.stream().engine().rate(); })
      .def_property_readonly("engine",
                             [](const PyStream& s) { return micarray::EngineName(s.stream().engine().kind()); })
      .def_property_readonly("step", [](const PyStream& s) { return s.stream().engine().step(); })
      .def_property_readonly("delay", [](const PyStream& s) { return s.stream().engine().delay(); })
      .def_property_readonly("aligned", [](const PyStream& s) { return s.stream().aligned(); });

  // For micarray.batch: the tuning values with their defaults, micbeam's file
  // plan, per-file job and report.
  py::dict tuning;
  for (const micarray::TuningRange& r : micarray::kTuningRanges) tuning[r.name] = kDefaults.*r.field;
  m.attr("_tuning") = tuning;
  m.def("_plan", &Plan, py::arg("inputs"), py::arg("output"), py::arg("format") = "", py::arg("raw") = 0u);
  m.def("_enhance_file", &EnhanceFile, py::arg("input"), py::arg("output"), py::arg("format"),
        py::arg("settings"));
  m.def(
      "_report", [](const py::dict& settings, unsigned workers, double wall) {
        return ReportOf(SettingsOf(settings), {}, {}, workers, wall);
      },
      py::arg("settings"), py::arg("workers"), py::arg("wall"));
}
