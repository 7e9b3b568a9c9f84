// The JSON report of a run: the settings and, per file, its figures.
#ifndef MICBEAM_REPORT_H
#define MICBEAM_REPORT_H

#include <string>
#include <vector>

#include "job.h"

typedef struct _TReport {
  const TJobSettings* settings;
  const std::vector<TJob>* jobs;
  const std::vector<TJobResult>* results;  // one per job
  unsigned workers;
  double wallSeconds;
} TReport;

// The report as JSON text.
std::string Report_Json(const TReport* it);
// Writes it to path; false with the reason when that fails.
bool Report_Write(const TReport* it, const std::string& path, std::string* error);

#endif
