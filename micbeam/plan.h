// From the command line to the list of files: inputs and directories
// expanded, each with its output path and format.
#ifndef MICBEAM_PLAN_H
#define MICBEAM_PLAN_H

#include <string>
#include <vector>

#include "job.h"
#include "options.h"

// False with the reason when the inputs and the output do not fit together
// (several inputs without an output directory, two inputs that would write
// the same output, an output that would replace its input, an unknown
// format). Creates the output directory when several outputs go there.
bool Plan_Make(const TMicbeamOptions* options, std::vector<TJob>* jobs, std::string* error);

#endif
