// Runs the files of `go` (the queue and folder batches) on every processor,
// while the console, the counts and the workspace files stay exactly those
// of a run that takes the files one after another.
//
// The run still takes its files one after another on the main thread, with
// the same calls, lines and writes as a run of one job; threads of the same
// process transpile the next few files ahead (pipeline/prefetch.h), and the
// run takes each file's text from them. Threads rather than processes: a
// fresh process pays again for every page of memory the transpiler touches,
// which a thread reuses from file to file.
//
// Only modes a and w prefetch: they read the source and their own target
// and write only that target. Modes g and auto compile with tsc, which also
// reads (and may write output for) every file the compiled one imports, so
// they run exactly as without the pool.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "pipeline/prefetch.h"
#include "pipeline/run.h"

// Upper bound on threads, whatever KVX_JOBS asks for.
inline constexpr int kMaxJobs = 64;

// How many files are transpiled at once: KVX_JOBS when it is a positive
// whole number (at most kMaxJobs), else the processor count. Anything else
// in KVX_JOBS (0, negative, not a number) is ignored.
int cli_parallel_jobs();
// The same from the variable's text (null when it is not set) and the
// processor count.
int cli_parallel_jobs_from(const char* setting, int processors);

// The prefetcher of one batch in `mode` over the files `list_files` gives
// (in the order the batch will reach them; called only when a prefetcher is
// wanted), in the form `options` asks for. Null when the files run without
// one: with one job, in modes g and auto, or for fewer than two files.
std::unique_ptr<TranspilePrefetcher> cli_parallel_prefetcher(const std::string& mode, const RunOptions& options,
                                                             const std::function<std::vector<std::string>()>& list_files);
