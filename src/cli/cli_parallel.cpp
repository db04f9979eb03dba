#include "cli/cli_parallel.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <utility>

#include "cli/cli_storage.h"
#include "cli/cli_system.h"
#include "core/console.h"
#include "pipeline/run.h"
#include "platform/install.h"
#include "platform/platform.h"

namespace {

// Files handed over but not yet printed, per worker: enough to keep every
// worker busy while a long file holds up the console order, few enough that
// the outputs held in memory stay small.
constexpr size_t kPendingPerJob = 4;

// Outputs are named after the file's base name (generated/<stem>.ts,
// dist/<stem>.js), cut to a fixed length, and compared without letter case
// where the file system ignores it: files whose base names agree this far may
// write the same output, so the later one waits for the earlier.
constexpr size_t kKeyLength = 250;

std::string output_key(std::string_view path) {
  const size_t separator = path.find_last_of("/\\");
  std::string key(separator == std::string_view::npos ? path : path.substr(separator + 1));
  key.resize(std::min(key.size(), kKeyLength));
  for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return key;
}

// The output folder. The file that creates it says so: only one file may
// then be running, and it must be the one a run in order would find first.
bool output_folder_exists() {
  std::error_code error;
  return std::filesystem::is_directory("./generated", error);
}

// Workers are started only from the kvx program itself, whose entry knows
// the worker switch: another program built on the same front end (a test
// runner) would start copies of itself instead.
bool is_kvx_program(const std::string& program) {
  std::string name = output_key(program);
  if (name.ends_with(".exe")) name.resize(name.size() - 4);
  return name == "kvx";
}

void print_processing(const std::string& path) {
  std::printf(CLR_CYAN "-> Processing: %s\n" CLR_RESET, path.c_str());
}

// Modes that may run out of order (see the header).
bool runs_in_workers(const std::string& mode) { return mode != "g" && mode != "auto"; }

}  // namespace

int cli_parallel_jobs_from(const char* setting, int processors) {
  if (setting != nullptr && *setting != '\0') {
    long long value = 0;
    bool digits = true;
    for (const char* c = setting; *c != '\0'; ++c) {
      if (*c < '0' || *c > '9') {
        digits = false;
        break;
      }
      value = std::min<long long>(value * 10 + (*c - '0'), kMaxJobs + 1);
    }
    if (digits && value > 0) return static_cast<int>(std::min<long long>(value, kMaxJobs));
  }
  return std::clamp(processors, 1, kMaxJobs);
}

int cli_parallel_jobs() { return cli_parallel_jobs_from(std::getenv("KVX_JOBS"), platform_processor_count()); }

int cli_parallel_worker_main(int argc, char** argv) {
  constexpr int kOtherShape = 127;
  constexpr int kFirstPath = 5;
  if (argc <= kFirstPath) return kOtherShape;
  const std::string verbose = argv[2];
  const std::string form = argv[3];
  const std::string mode = argv[4];
  if ((verbose != "0" && verbose != "1") || (form != "plain" && form != "inline") || (mode != "a" && mode != "w")) {
    return kOtherShape;
  }
  if (static_cast<size_t>(argc - kFirstPath) > kFilesPerWorker) return kOtherShape;
  g_kvx_verbose = verbose == "1" ? 1 : 0;
  RunOptions options;
  options.inline_form = form == "inline";
  int failed = 0;
  for (int i = kFirstPath; i < argc; ++i) {
    const std::string path = argv[i];
    print_processing(path);
    // The mode itself, without the statistics: the front end counts the file.
    const int status = mode == "a" ? run_mode_append(path, options) : run_mode_write_full(path, options);
    if (status != 0) ++failed;
  }
  return failed;
}

FileRunPool::FileRunPool(const std::string& mode, const RunOptions& options) : mode_(mode), options_(options) {
  if (!runs_in_workers(mode)) return;
  program_ = platform_executable_path();
  if (!is_kvx_program(program_)) return;
  jobs_ = cli_parallel_jobs();
}

FileRunPool::~FileRunPool() {
  drain();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

void FileRunPool::run(const std::string& path, int* total, int* succeeded) {
  if (jobs_ > 1 && threads_.empty()) {
    try {
      for (int i = 0; i < jobs_; ++i) threads_.emplace_back([this] { work(); });
    } catch (const std::system_error&) {
      // Without threads the files run here, one after another.
      {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
      }
      changed_.notify_all();
      for (std::thread& thread : threads_) thread.join();
      threads_.clear();
      jobs_ = 1;
    }
  }
  if (jobs_ > 1 && !output_folder_seen_) {
    drain();
    output_folder_seen_ = output_folder_exists();
  }
  ++*total;
  if (jobs_ <= 1 || !output_folder_seen_) {
    print_processing(path);
    if (cli_execute_with_mode(path, mode_, options_) == 0) ++*succeeded;
    return;
  }

  succeeded_ = succeeded;
  std::string key = output_key(path);
  const auto holds_key = [&](const PendingFiles& files) {
    return std::find(files.keys.begin(), files.keys.end(), key) != files.keys.end();
  };
  // A file of the open group runs before this one in the same worker.
  if (!holds_key(open_) && std::any_of(pending_.begin(), pending_.end(), holds_key)) {
    start_open();
    while (std::any_of(pending_.begin(), pending_.end(), holds_key)) print_front();
  }
  open_.paths.push_back(path);
  open_.keys.push_back(std::move(key));
  // The first groups are small, so that a short list still keeps every
  // worker busy; later ones grow to amortise the start of a process.
  const size_t group = std::min(kFilesPerWorker, size_t{1} << std::min<size_t>(groups_started_ / jobs_, 8));
  if (open_.paths.size() >= group) start_open();
}

void FileRunPool::start_open() {
  if (open_.paths.empty()) return;
  while (pending_.size() >= kPendingPerJob * static_cast<size_t>(jobs_)) print_front();
  open_.job = std::make_shared<WorkerJob>();
  open_.job->argv = {program_, kWorkerSwitch, g_kvx_verbose != 0 ? "1" : "0", options_.inline_form ? "inline" : "plain",
                     mode_ == "a" ? "a" : "w"};
  open_.job->argv.insert(open_.job->argv.end(), open_.paths.begin(), open_.paths.end());
  {
    std::lock_guard<std::mutex> lock(mutex_);
    waiting_.push_back(open_.job);
  }
  changed_.notify_all();
  pending_.push_back(std::move(open_));
  open_ = PendingFiles();
  ++groups_started_;
}

void FileRunPool::drain() {
  start_open();
  while (!pending_.empty()) print_front();
}

void FileRunPool::print_front() {
  const PendingFiles files = std::move(pending_.front());
  pending_.pop_front();
  {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return files.job->done; });
  }
  const WorkerJob& job = *files.job;
  if (job.status == -1 && job.output.empty()) {
    // The worker could not be started: the files run here instead.
    for (const std::string& path : files.paths) {
      print_processing(path);
      if (cli_execute_with_mode(path, mode_, options_) == 0) ++*succeeded_;
    }
    return;
  }
  // Counted as a run in order counts them, before their modes' lines.
  for (size_t i = 0; i < files.paths.size(); ++i) cli_stats_record(mode_);
  std::fwrite(job.output.data(), 1, job.output.size(), stdout);
  if (job.status >= 0 && static_cast<size_t>(job.status) <= files.paths.size()) {
    *succeeded_ += static_cast<int>(files.paths.size()) - job.status;
  } else {
    // The worker answers with the number of failed files; anything else
    // means it ended before it could answer (a crash). Its files failed,
    // the others go on.
    std::printf(CLR_RED "[ERROR] A worker ended with status %d before its %d file(s) were transpiled; they "
                        "count as failed.\n" CLR_RESET,
                job.status, static_cast<int>(files.paths.size()));
  }
}

void FileRunPool::work() {
  for (;;) {
    std::shared_ptr<WorkerJob> job;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [&] { return stopping_ || !waiting_.empty(); });
      if (waiting_.empty()) return;
      job = waiting_.front();
      waiting_.pop_front();
    }
    std::string output;
    const int status = platform_run_program_read(job->argv, output);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      job->output = std::move(output);
      job->status = status;
      job->done = true;
    }
    changed_.notify_all();
  }
}
