// Transpiles the next files of a run on threads of their own, so that the
// run, which still takes its files one after another on its own thread and
// prints and writes everything itself, finds each file's text ready.
//
// Only the pure step is done ahead: reading a .js file that passes the
// reader's checks and transpiling it (sources do not change during a run of
// modes a and w, which write only TypeScript and workspace files). The
// progress the observer saw is recorded and replayed by the run, so that its
// console is the one it would have printed itself. A file whose read fails,
// or whose thread failed (out of memory), is left to the run, which then
// reads it and reports its error as usual.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "generator/inline_emitter.h"
#include "pipeline/transpile.h"

// Files per thread that may be started beyond the one the run takes next,
// each holding a whole output once done. The run takes files in order, so a
// long file at the front holds up the rest once the window is full: more
// files keep the threads busy behind it, fewer bound the outputs held. Four
// hold a few times one file's output, against the nineteen or so times its
// size that transpiling it takes.
inline constexpr size_t kPrefetchAheadPerThread = 4;

// One call of a TranspileObserver, as recorded for replay.
struct ObserverCall {
  enum class Kind { tokenized, structure_captured, bodies_captured, pass4_trace };
  Kind kind = Kind::tokenized;
  int first = 0;     // token count; variable count
  int second = 0;    // function count
  std::string text;  // one trace line of pass 4
};

// An observer that appends every call to `calls`, pass 4's trace only with
// `trace`. `calls` must outlive the observer.
TranspileObserver recording_observer(std::vector<ObserverCall>& calls, bool trace);
// Makes the recorded calls on `observer`, in their order.
void replay_observer_calls(const std::vector<ObserverCall>& calls, const TranspileObserver& observer);

// What the pipeline gave for one file.
struct PrefetchedFile {
  std::vector<ObserverCall> calls;
  std::string typescript;      // the typed form
  InlineOutput inline_output;  // the inline form
};

struct ProjectModules;

// The form a run writes: typed or inline, with or without pass 4's trace.
struct PrefetchForm {
  bool inline_form = false;
  bool trace = false;
  const ProjectModules* modules = nullptr;  // what the run's files export; not owned
  bool operator==(const PrefetchForm&) const = default;
};

// The work done ahead for one file; nothing leaves the file to the run.
// Called on the prefetch threads: it must touch no shared state.
using PrefetchStep = std::function<std::optional<PrefetchedFile>(const std::string& path)>;

// The checked, quiet read of a .js file and the pipeline in `form`.
PrefetchStep transpile_step(PrefetchForm form);

// Prefetches `paths`, the files a run is about to transpile, in that order.
// The run takes each file's result with take(); the threads start no file
// more than `ahead` files per thread beyond the next one to be taken.
class TranspilePrefetcher {
 public:
  // Starts up to `threads` threads running transpile_step(form); when none
  // can be started, take() answers nothing and the run does all the work.
  TranspilePrefetcher(std::vector<std::string> paths, PrefetchForm form, int threads,
                      size_t ahead = kPrefetchAheadPerThread);
  TranspilePrefetcher(std::vector<std::string> paths, PrefetchForm form, int threads, size_t ahead,
                      PrefetchStep step);
  // Waits for the files the threads are on; the rest are dropped.
  ~TranspilePrefetcher();
  TranspilePrefetcher(const TranspilePrefetcher&) = delete;
  TranspilePrefetcher& operator=(const TranspilePrefetcher&) = delete;

  int threads() const { return static_cast<int>(threads_.size()); }

  // The result for `path` in `form`, waiting for a thread still on it. The
  // run takes the files in the order given; files it passed over (it went
  // another way) are dropped. Nothing when the form differs, the path is not
  // among the files still to come, no thread has started on it yet, or the
  // step left it to the run or failed: the run then does the file itself.
  std::optional<PrefetchedFile> take(const std::string& path, PrefetchForm form);

 private:
  enum class State { waiting, running, done, failed };
  struct Slot {
    State state = State::waiting;
    std::unique_ptr<PrefetchedFile> result;  // small while waiting: a slot per file of the run
  };

  void work();
  // The place in slots_ of the first waiting file within the window, or
  // slots_.size() when there is none.
  size_t next_waiting() const;

  const std::vector<std::string> paths_;  // never changed: read without the lock
  const PrefetchForm form_;
  const size_t window_;
  const PrefetchStep step_;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Slot> slots_;  // the files not yet taken or dropped
  size_t first_ = 0;        // the index in paths_ of slots_.front()
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};
