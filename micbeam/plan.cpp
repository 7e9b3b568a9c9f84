#include "plan.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <system_error>

namespace fs = std::filesystem;

namespace {

const char kStdio[] = "-";

// The format outputs get unless an explicit file name tells another.
bool BatchFormat(const TMicbeamOptions* o, TOutputFormat* format, std::string* error) {
  if (!o->format.empty()) return OutputFormat_FromName(format, o->format, error);
  *format = o->rawRate ? OutputFormat_Raw() : OutputFormat_Default();
  return true;
}

// The audio files of a directory, by name: headerless ones with --raw,
// the others without.
bool ListDirectory(const std::string& dir, bool raw, std::vector<std::string>* files, std::string* error) {
  std::error_code ec;
  std::vector<std::string> found;
  for (const fs::directory_entry& e : fs::directory_iterator(dir, ec))
    if (e.is_regular_file(ec) && OutputFormat_IsInputPath(e.path().string(), raw)) found.push_back(e.path().string());
  if (ec) {
    *error = dir + ": " + ec.message();
    return false;
  }
  if (found.empty()) {
    *error = dir + ": no audio files in the directory";
    return false;
  }
  std::sort(found.begin(), found.end());
  files->insert(files->end(), found.begin(), found.end());
  return true;
}

bool IsDirectory(const std::string& path) {
  std::error_code ec;
  return path != kStdio && fs::is_directory(path, ec);
}

// The same file under two names, as far as the file system can tell.
bool SameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  return a != kStdio && b != kStdio && fs::equivalent(a, b, ec);
}

// Makes dir and its parents as needed.
bool MakeDirectory(const std::string& dir, std::string* error) {
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (!ec && IsDirectory(dir)) return true;
  *error = "cannot make the output directory " + dir + (ec ? ": " + ec.message() : "");
  return false;
}

// An output that cannot be a directory: standard output, a file that is not
// a directory, or a name with an audio file's extension.
bool NamesAFile(const std::string& output) {
  std::error_code ec;
  TOutputFormat format;
  std::string ignored;
  return output == kStdio || (fs::exists(output, ec) && !IsDirectory(output)) ||
         OutputFormat_FromPath(&format, output, &ignored);
}

bool SingleJob(const TMicbeamOptions* o, std::vector<TJob>* jobs, std::string* error) {
  TJob job{o->inputs[0], o->output, TOutputFormat()};
  bool known;
  if (!o->format.empty() || o->output == kStdio)
    known = BatchFormat(o, &job.format, error);
  else
    known = OutputFormat_FromPath(&job.format, o->output, error);
  if (!known) return false;
  // A missing directory on the way to the output is made, as for a batch.
  const std::string parent = fs::path(o->output).parent_path().string();
  if (o->output != kStdio && !parent.empty() && !MakeDirectory(parent, error)) return false;
  jobs->push_back(job);
  return true;
}

bool DirectoryJobs(const TMicbeamOptions* o, std::vector<TJob>* jobs, std::string* error) {
  if (!IsDirectory(o->output) && NamesAFile(o->output)) {
    *error = "several inputs need an output directory: -o DIR, not " + o->output;
    return false;
  }
  std::vector<std::string> inputs;
  for (const std::string& in : o->inputs) {
    if (in == kStdio) {
      *error = "standard input can only be the one input";
      return false;
    }
    if (IsDirectory(in)) {
      if (!ListDirectory(in, o->rawRate > 0, &inputs, error)) return false;
    } else {
      inputs.push_back(in);
    }
  }
  TOutputFormat format;
  if (!BatchFormat(o, &format, error)) return false;
  std::map<std::string, std::string> writer;  // output path -> the input writing it
  for (const std::string& in : inputs) {
    const std::string out = (fs::path(o->output) / fs::path(in).stem()).string() + format.extension;
    const auto taken = writer.emplace(out, in);
    if (!taken.second) {
      *error = taken.first->second + " and " + in + " would both be written to " + out;
      return false;
    }
    jobs->push_back(TJob{in, out, format});
  }
  return MakeDirectory(o->output, error);
}

}  // namespace

bool Plan_Make(const TMicbeamOptions* o, std::vector<TJob>* jobs, std::string* error) {
  jobs->clear();
  // A trailing slash names a directory that may not exist yet.
  const bool toDirectory = IsDirectory(o->output) || (o->output.size() > 1 && o->output.back() == '/');
  const bool single = o->inputs.size() == 1 && !IsDirectory(o->inputs[0]) && !toDirectory;
  if (!(single ? SingleJob(o, jobs, error) : DirectoryJobs(o, jobs, error))) return false;
  for (const TJob& job : *jobs)
    if (SameFile(job.input, job.output)) {
      *error = job.output + " would replace its own input " + job.input;
      return false;
    }
  return true;
}
