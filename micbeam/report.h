// The JSON report of a run: the settings and, per file, its figures.
#ifndef MICBEAM_REPORT_H
#define MICBEAM_REPORT_H

#include <string>
#include <vector>

#include "host.h"
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
// Writes it to an output opened before the run (so that an unwritable path
// is refused before any work) and puts it in place; false with the reason.
bool Report_Write(const TReport* it, THostOutput* out, std::string* error);

#endif
