// Runs the files of `go` (the queue and folder batches) on every processor,
// while the console, the counts and the workspace files stay exactly those
// of a run that takes the files one after another.
//
// The files run in workers: processes of this same executable, started with
// an argument vector (never a command line), each given a few consecutive
// files, whose console is read back through a pipe. The front end prints
// each worker's lines whole, in the order the files were handed over, and
// writes every workspace file itself (statistics, history), so nothing there
// depends on which worker ends first. A worker takes several files because a
// fresh process pays again for the memory the transpiler touches, which
// costs as much as the transpiling where page faults are dear (virtual
// machines). Processes rather than threads, because the transpiler prints
// its lines straight to the console: a thread would need the console
// redirected, which no process-wide switch may do.
//
// Only modes a and w run in workers: they read the source and their own
// target and write only that target. Modes g and auto compile with tsc,
// which also reads (and may write output for) every file the compiled one
// imports, so one file's result can depend on another's having run first;
// they keep running one after another.
#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "pipeline/run.h"

// The argument that starts a worker:
// `kvx <switch> <verbose 0|1> <plain|inline> <a|w> <path> [<path>...]`. Not a command anyone
// types: no help names it.
inline constexpr const char* kWorkerSwitch = "--kvx-internal-go-worker-v1";

// Upper bound on workers, whatever KVX_JOBS asks for.
inline constexpr int kMaxJobs = 64;
// Files given to one worker at most.
inline constexpr size_t kFilesPerWorker = 8;

// How many files run at once: KVX_JOBS when it is a positive whole number
// (at most kMaxJobs), else the processor count. Anything else in KVX_JOBS
// (0, negative, not a number) is ignored.
int cli_parallel_jobs();
// The same from the variable's text (null when it is not set) and the
// processor count.
int cli_parallel_jobs_from(const char* setting, int processors);

// The worker's entry, called by main before anything else when argv[1] is
// kWorkerSwitch. Runs each file as `go` does after counting it (its
// "-> Processing" heading, then the mode) and returns the number that
// failed; 127 for arguments of another shape. Writes no workspace file of
// its own: no statistics, no history, no editor settings.
int cli_parallel_worker_main(int argc, char** argv);

// Files handed to one worker and what it gave back.
struct WorkerJob {
  std::vector<std::string> argv;
  std::string output;
  int status = -1;
  bool done = false;
};

// Consecutive files of the console order, run by one worker.
struct PendingFiles {
  std::vector<std::string> paths;
  std::vector<std::string> keys;  // files with one key write the same outputs
  std::shared_ptr<WorkerJob> job;
};

// The files of one `go`, run by a pool of workers and printed in order.
// With one job, or a mode that must run in order, every file runs at once in
// this process, exactly as a run without the pool.
class FileRunPool {
 public:
  FileRunPool(const std::string& mode, const RunOptions& options);
  ~FileRunPool();
  FileRunPool(const FileRunPool&) = delete;
  FileRunPool& operator=(const FileRunPool&) = delete;

  // Prints "-> Processing: <path>", hands the file to the mode and counts
  // it: total now, succeeded once its mode returned 0.
  void run(const std::string& path, int* total, int* succeeded);
  // Prints the lines of every file handed over so far, once each has ended.
  // Call it before printing anything else and before looking at the file
  // system, which the earlier files may still be changing.
  void drain();

 private:
  void start_open();
  void print_front();
  void work();

  std::string mode_;
  RunOptions options_;
  std::string program_;
  int jobs_ = 1;
  bool output_folder_seen_ = false;  // files before it run here, in order
  int* succeeded_ = nullptr;
  PendingFiles open_;                 // handed over, no worker yet
  size_t groups_started_ = 0;
  std::deque<PendingFiles> pending_;  // given to workers, not yet printed

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::shared_ptr<WorkerJob>> waiting_;  // not yet started
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};
