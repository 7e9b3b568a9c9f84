#include "report.h"

#include <stdio.h>
#include <stdlib.h>

#include <cerrno>
#include <cmath>
#include <nlohmann/json.hpp>
#include <system_error>

namespace {

using nlohmann::json;

const int kIndent = 2;
const double kDecibelsPerDecade = 20.0;

// A single-precision value as the shortest decimal that reads back as it
// (0.05f is reported as 0.05, not 0.0500000007).
double Shortest(float v) {
  const int kMaxDigits = 9;  // always enough for a float
  char text[32];
  for (int digits = 1;; digits++) {
    snprintf(text, sizeof text, "%.*g", digits, (double)v);
    if (digits == kMaxDigits || strtof(text, nullptr) == v) return strtod(text, nullptr);
  }
}

json FileEntry(const TJob& job, const TJobResult& r) {
  json entry = {
      {"input", job.input},
      {"output", job.output},
      {"ok", r.ok},
      {"error", r.ok ? json(nullptr) : json(r.error)},
      {"duration_s", r.seconds},
      {"rate", r.rate},
      {"engine_rate", r.engineRate},
      {"output_rate", r.outputRate},
      {"input_frames", r.inputFrames},
      {"output_frames", r.outputFrames},
      {"processing_s", r.processing},
      {"realtime_factor", r.processing > 0 ? r.seconds / r.processing : 0.0},
      {"peak", r.peak},
      // Silence has no level in decibels.
      {"peak_dbfs", r.peak > 0 ? json(kDecibelsPerDecade * std::log10(r.peak)) : json(nullptr)},
      {"clipped", r.clipped},
      {"input_clipped", r.inputClipped},
  };
  return entry;
}

}  // namespace

std::string Report_Json(const TReport* it) {
  const micarray::Tuning& t = it->settings->tuning;
  json tuning = json::object();
  for (const micarray::TuningRange& r : micarray::kTuningRanges) tuning[r.name] = Shortest(t.*r.field);
  json files = json::array();
  size_t failed = 0;
  for (size_t i = 0; i < it->jobs->size(); i++) {
    const TJobResult& r = (*it->results)[i];
    files.push_back(FileEntry((*it->jobs)[i], r));
    if (!r.ok) failed++;
  }
  json report = {
      {"version", MicArray_Info.product_version},
      {"tuning", tuning},
      {"mics", {it->settings->mics[0], it->settings->mics[1]}},
      {"aligned", it->settings->align},
      {"workers", it->workers},
      {"wall_s", it->wallSeconds},
      {"succeeded", it->jobs->size() - failed},
      {"failed", failed},
      {"files", files},
  };
  return report.dump(kIndent) + "\n";
}

bool Report_Write(const TReport* it, THostOutput* out, std::string* error) {
  const std::string text = Report_Json(it);
  if (fwrite(text.data(), 1, text.size(), out->file) == text.size() && HostOutput_Commit(out)) return true;
  *error = "cannot write the report " + out->finalName + ": " + std::generic_category().message(errno);
  HostOutput_Abandon(out);
  return false;
}
