// micbeam: enhances two-microphone recordings of any common format and rate,
// one engine per file, on a pool of worker threads.
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <system_error>

#include "job.h"
#include "live.h"
#include "options.h"
#include "plan.h"
#include "pool.h"
#include "progress.h"
#include "report.h"

namespace {

const std::chrono::milliseconds kRedraw(200);  // progress bar refresh

int Refuse(const std::string& message) {
  fprintf(stderr, "micbeam: %s\n", message.c_str());
  return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  TMicbeamOptions options;
  const int parsed = Options_Parse(&options, argc, argv);
  if (parsed >= 0) return parsed;
  if (options.listDevices) return Live_ListDevices();
  if (options.live) return Live_Run(&options);
  std::vector<TJob> jobs;
  std::string error;
  // The report's file is opened first: an unwritable path is refused before any work.
  THostOutput reportFile;
  if (!options.report.empty() && !HostOutput_Open(&reportFile, options.report.c_str()))
    return Refuse("cannot write the report " + options.report + ": " +
                  std::generic_category().message(errno));
  if (!Plan_Make(&options, &jobs, &error)) {
    HostOutput_Abandon(&reportFile);
    return Refuse(error);
  }

  const TJobSettings settings = {options.engine,  options.tuning,     {options.mics[0], options.mics[1]},
                                 options.rawRate, options.engineRate, options.align};
  std::vector<TJobResult> results(jobs.size());
  TProgress progress;
  Progress_Start(&progress, jobs.size(), !options.quiet && isatty(STDERR_FILENO));
  const unsigned workers = (unsigned)std::min<size_t>(options.jobs, jobs.size());
  Pool_Run(
      workers, jobs.size(),
      [&](size_t i) {
        Job_Run(&jobs[i], &settings, &results[i], &progress);
        progress.done++;
      },
      [&] { Progress_Draw(&progress); }, kRedraw);
  Progress_Finish(&progress);
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - progress.start).count();

  size_t failed = 0;
  for (size_t i = 0; i < jobs.size(); i++)
    if (!results[i].ok) {
      fprintf(stderr, "micbeam: %s: %s\n", jobs[i].input.c_str(), results[i].error.c_str());
      failed++;
    }
  if (failed && jobs.size() > 1) fprintf(stderr, "micbeam: %zu of %zu files failed\n", failed, jobs.size());
  const TReport report = {&settings, &jobs, &results, workers, wall};
  if (!options.report.empty() && !Report_Write(&report, &reportFile, &error)) {
    fprintf(stderr, "micbeam: %s\n", error.c_str());
    return 1;
  }
  return failed ? 1 : 0;
}
