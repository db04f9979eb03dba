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
#include "core/run.h"
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
  if (argc != 5) return 2;
  const std::string verbose = argv[2];
  const std::string mode = argv[3];
  const std::string path = argv[4];
  if ((verbose != "0" && verbose != "1") || (mode != "a" && mode != "w")) return 2;
  g_kvx_verbose = verbose == "1" ? 1 : 0;
  // The mode itself, without the statistics: the front end counts the file.
  return mode == "a" ? run_mode_append(path) : run_mode_write_full(path);
}

FileRunPool::FileRunPool(const std::string& mode) : mode_(mode) {
  if (!runs_in_workers(mode)) return;
  program_ = platform_executable_path();
  if (program_.empty()) return;
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

void FileRunPool::run(const std::string& heading, const std::string& path, int* total, int* succeeded) {
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
  if (jobs_ <= 1 || !output_folder_seen_) {
    std::printf("%s", heading.c_str());
    ++*total;
    if (cli_execute_with_mode(path, mode_) == 0) ++*succeeded;
    return;
  }

  ++*total;
  PendingFile file{heading, path, output_key(path), succeeded, std::make_shared<WorkerJob>()};
  while (std::any_of(pending_.begin(), pending_.end(),
                     [&](const PendingFile& earlier) { return earlier.key == file.key; })) {
    print_front();
  }
  while (pending_.size() >= kPendingPerJob * static_cast<size_t>(jobs_)) print_front();

  file.job->argv = {program_, kWorkerSwitch, g_kvx_verbose != 0 ? "1" : "0", mode_ == "a" ? "a" : "w", path};
  {
    std::lock_guard<std::mutex> lock(mutex_);
    waiting_.push_back(file.job);
  }
  changed_.notify_all();
  pending_.push_back(std::move(file));
}

void FileRunPool::drain() {
  while (!pending_.empty()) print_front();
}

void FileRunPool::print_front() {
  const PendingFile file = std::move(pending_.front());
  pending_.pop_front();
  {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return file.job->done; });
  }
  std::printf("%s", file.heading.c_str());
  const WorkerJob& job = *file.job;
  if (job.status == -1 && job.output.empty()) {
    // The worker could not be started: the file runs here instead.
    if (cli_execute_with_mode(file.path, mode_) == 0) ++*file.succeeded;
    return;
  }
  // Counted where a run in order counts it: before the mode's own lines.
  cli_stats_record(mode_);
  std::fwrite(job.output.data(), 1, job.output.size(), stdout);
  if (job.status == 0) {
    ++*file.succeeded;
  } else if (job.status != 1) {
    // The mode itself answers 0 or 1; anything else means the worker ended
    // before it could answer (a crash). The file failed, the others go on.
    std::printf(CLR_RED "[ERROR] '%s' was not transpiled: its worker ended with status %d.\n" CLR_RESET,
                file.path.c_str(), job.status);
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
