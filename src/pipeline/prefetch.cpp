#include "pipeline/prefetch.h"

#include <algorithm>
#include <system_error>
#include <utility>

#include "core/reader.h"
#include "pipeline/project_modules.h"

TranspileObserver recording_observer(std::vector<ObserverCall>& calls, bool trace) {
  using Kind = ObserverCall::Kind;
  TranspileObserver observer;
  observer.tokenized = [&calls](int tokens) { calls.push_back({Kind::tokenized, tokens, 0, {}}); };
  observer.structure_captured = [&calls](int vars, int funcs) {
    calls.push_back({Kind::structure_captured, vars, funcs, {}});
  };
  observer.bodies_captured = [&calls] { calls.push_back({Kind::bodies_captured, 0, 0, {}}); };
  if (trace) {
    observer.pass4_trace = [&calls](std::string_view line) {
      calls.push_back({Kind::pass4_trace, 0, 0, std::string(line)});
    };
  }
  return observer;
}

void replay_observer_calls(const std::vector<ObserverCall>& calls, const TranspileObserver& observer) {
  for (const ObserverCall& call : calls) {
    switch (call.kind) {
      case ObserverCall::Kind::tokenized:
        if (observer.tokenized) observer.tokenized(call.first);
        break;
      case ObserverCall::Kind::structure_captured:
        if (observer.structure_captured) observer.structure_captured(call.first, call.second);
        break;
      case ObserverCall::Kind::bodies_captured:
        if (observer.bodies_captured) observer.bodies_captured();
        break;
      case ObserverCall::Kind::pass4_trace:
        if (observer.pass4_trace) observer.pass4_trace(call.text);
        break;
    }
  }
}

PrefetchStep transpile_step(PrefetchForm form) {
  return [form](const std::string& path) -> std::optional<PrefetchedFile> {
    // A source the checks refuse is left to the run, which prints why.
    std::optional<std::string> source;
    if (SourceRead read = read_js_source(path); read.failure == SourceFailure::none) source = std::move(read.text);
    if (!source) return std::nullopt;
    PrefetchedFile file;
    const TranspileObserver observer = recording_observer(file.calls, form.trace);
    if (form.inline_form) {
      file.inline_output = transpile_inline_of(path, *source, form.modules, observer);
    } else {
      file.typescript = transpile_to_typescript(std::move(*source), observer);
    }
    return file;
  };
}

TranspilePrefetcher::TranspilePrefetcher(std::vector<std::string> paths, PrefetchForm form, int threads,
                                         size_t ahead)
    : TranspilePrefetcher(std::move(paths), form, threads, ahead, transpile_step(form)) {}

TranspilePrefetcher::TranspilePrefetcher(std::vector<std::string> paths, PrefetchForm form, int threads,
                                         size_t ahead, PrefetchStep step)
    : paths_(std::move(paths)),
      form_(form),
      window_(static_cast<size_t>(std::max(threads, 1)) * ahead),
      step_(std::move(step)),
      slots_(paths_.size()) {
  if (paths_.empty() || threads < 1) return;
  threads_.reserve(static_cast<size_t>(threads));
  for (int i = 0; i < threads; ++i) {
    try {
      threads_.emplace_back([this] { work(); });
    } catch (const std::system_error&) {
      break;  // the threads started do the work; with none the run does it all
    }
  }
}

TranspilePrefetcher::~TranspilePrefetcher() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

size_t TranspilePrefetcher::next_waiting() const {
  const size_t end = std::min(window_, slots_.size());
  for (size_t place = 0; place < end; ++place) {
    if (slots_[place].state == State::waiting) return place;
  }
  return slots_.size();
}

void TranspilePrefetcher::work() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    size_t place = slots_.size();
    changed_.wait(lock, [&] { return stopping_ || (place = next_waiting()) < slots_.size(); });
    if (stopping_) return;
    slots_[place].state = State::running;
    const size_t index = first_ + place;
    lock.unlock();

    std::unique_ptr<PrefetchedFile> result;
    try {
      std::optional<PrefetchedFile> file = step_(paths_[index]);
      if (file) result = std::make_unique<PrefetchedFile>(std::move(*file));
    } catch (...) {
      // Out of memory, most likely: the run does the file itself, and meets
      // the failure there as a run without threads would.
      result.reset();
    }

    lock.lock();
    if (index >= first_) {  // not dropped meanwhile
      Slot& slot = slots_[index - first_];
      slot.state = result ? State::done : State::failed;
      slot.result = std::move(result);
    }
    changed_.notify_all();
  }
}

std::optional<PrefetchedFile> TranspilePrefetcher::take(const std::string& path, PrefetchForm form) {
  if (form != form_) return std::nullopt;
  std::unique_lock<std::mutex> lock(mutex_);
  size_t place = 0;
  while (place < slots_.size() && paths_[first_ + place] != path) ++place;
  if (place == slots_.size()) return std::nullopt;
  // The files before it will not be taken: their results go, and the window
  // moves past them.
  slots_.erase(slots_.begin(), slots_.begin() + static_cast<std::ptrdiff_t>(place));
  first_ += place;
  changed_.wait(lock, [&] { return slots_.front().state != State::running; });
  // A file no thread has started is left to the run rather than waited for.
  std::unique_ptr<PrefetchedFile> result = std::move(slots_.front().result);
  slots_.pop_front();
  ++first_;
  lock.unlock();
  changed_.notify_all();
  if (!result) return std::nullopt;
  return std::move(*result);
}
