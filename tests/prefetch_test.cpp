// The prefetcher of `go`: each file's result reaches the run under its own
// path, files the run passed over are dropped, a failing thread leaves its
// file to the run, the threads stay within their window, and a replayed
// record gives the observer what the run itself would have given it.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "pipeline/prefetch.h"
#include "pipeline/transpile.h"
#include "test_support.h"

namespace {

using kvx_test::ScopedWorkDir;
using kvx_test::write_file;

constexpr PrefetchForm kTyped{};

std::vector<std::string> numbered_paths(int count) {
  std::vector<std::string> paths;
  for (int i = 0; i < count; ++i) paths.push_back("f" + std::to_string(i) + ".js");
  return paths;
}

// A step whose result names the file it was made for.
PrefetchStep naming_step() {
  return [](const std::string& path) -> std::optional<PrefetchedFile> {
    PrefetchedFile file;
    file.typescript = "for " + path;
    return file;
  };
}

TEST(Prefetch, EachFileGetsItsOwnResultWhateverThreadMadeIt) {
  for (const int threads : {1, 2, 4, 16}) {
    SCOPED_TRACE(std::to_string(threads) + " threads");
    const std::vector<std::string> paths = numbered_paths(200);
    std::atomic<size_t> started{0};
    const PrefetchStep step = [&](const std::string& path) -> std::optional<PrefetchedFile> {
      ++started;
      return naming_step()(path);
    };
    TranspilePrefetcher prefetcher(paths, kTyped, threads, 2, step);
    EXPECT_EQ(prefetcher.threads(), threads);
    for (size_t i = 0; i < paths.size(); ++i) {
      // Files start in list order: once i + 1 have started, file i is made
      // or being made, and take() waits for it rather than leave it to the
      // run.
      while (started.load() < i + 1) std::this_thread::yield();
      const std::optional<PrefetchedFile> file = prefetcher.take(paths[i], kTyped);
      ASSERT_TRUE(file) << paths[i];
      EXPECT_EQ(file->typescript, "for " + paths[i]);
    }
  }
}

TEST(Prefetch, WithoutThreadsEveryFileIsTheRuns) {
  const std::vector<std::string> paths = numbered_paths(5);
  TranspilePrefetcher prefetcher(paths, kTyped, 0, 2, naming_step());
  EXPECT_EQ(prefetcher.threads(), 0);
  for (const std::string& path : paths) EXPECT_FALSE(prefetcher.take(path, kTyped)) << path;
}

// The run asks in an order the list did not foresee: only a file still to
// come, in the form prefetched, is answered; those before it are dropped.
TEST(Prefetch, FilesPassedOverAreDroppedAndOthersMissWithoutHarm) {
  std::atomic<int> made{0};
  const PrefetchStep step = [&](const std::string& path) -> std::optional<PrefetchedFile> {
    ++made;
    return naming_step()(path);
  };
  TranspilePrefetcher prefetcher({"a.js", "b.js", "c.js", "d.js", "a.js"}, kTyped, 2, 4, step);
  // Every file is within the window: wait until all have been made, so
  // that each answer below is a result rather than a file not yet started.
  while (made.load() < 5) std::this_thread::yield();

  EXPECT_FALSE(prefetcher.take("a.js", PrefetchForm{true, false})) << "another form";
  EXPECT_FALSE(prefetcher.take("a.js", PrefetchForm{false, true})) << "another trace setting";
  EXPECT_FALSE(prefetcher.take("elsewhere.js", kTyped));
  std::optional<PrefetchedFile> file = prefetcher.take("a.js", kTyped);
  ASSERT_TRUE(file);
  EXPECT_EQ(file->typescript, "for a.js");
  file = prefetcher.take("c.js", kTyped);  // b.js passed over
  ASSERT_TRUE(file);
  EXPECT_EQ(file->typescript, "for c.js");
  EXPECT_FALSE(prefetcher.take("b.js", kTyped)) << "dropped";
  file = prefetcher.take("a.js", kTyped);  // the second a.js; d.js passed over
  ASSERT_TRUE(file);
  EXPECT_FALSE(prefetcher.take("d.js", kTyped));
  EXPECT_FALSE(prefetcher.take("a.js", kTyped)) << "taken twice already";
}

// A thread still on a file the run passed over finishes it into nothing: its
// result must not land on a file still to come.
TEST(Prefetch, AFilePassedOverWhileItsThreadIsOnItIsDropped) {
  std::atomic<bool> release{false};
  std::atomic<int> made{0};
  const PrefetchStep step = [&](const std::string& path) -> std::optional<PrefetchedFile> {
    while (path == "b.js" && !release.load()) std::this_thread::yield();
    std::optional<PrefetchedFile> file = naming_step()(path);
    ++made;
    return file;
  };
  TranspilePrefetcher prefetcher({"a.js", "b.js", "c.js", "d.js", "e.js"}, kTyped, 2, 4, step);
  while (made.load() < 3) std::this_thread::yield();  // a, c, d; b held
  ASSERT_TRUE(prefetcher.take("a.js", kTyped));
  std::optional<PrefetchedFile> file = prefetcher.take("c.js", kTyped);
  ASSERT_TRUE(file);
  EXPECT_EQ(file->typescript, "for c.js");
  release = true;
  while (made.load() < 5) std::this_thread::yield();
  for (const char* path : {"d.js", "e.js"}) {
    file = prefetcher.take(path, kTyped);
    ASSERT_TRUE(file) << path;
    EXPECT_EQ(file->typescript, std::string("for ") + path);
  }
}

TEST(Prefetch, AThrowingStepLeavesItsFileToTheRunAndTheOthersGoOn) {
  std::atomic<int> made{0};
  const PrefetchStep step = [&](const std::string& path) -> std::optional<PrefetchedFile> {
    ++made;
    if (path == "big.js") throw std::bad_alloc();
    if (path == "odd.js") throw 42;
    if (path == "empty.js") return std::nullopt;
    return naming_step()(path);
  };
  const std::vector<std::string> paths = {"a.js", "big.js", "odd.js", "empty.js", "b.js", "c.js"};
  TranspilePrefetcher prefetcher(paths, kTyped, 2, 3, step);
  while (made.load() < 6) std::this_thread::yield();
  for (const std::string& path : paths) {
    const std::optional<PrefetchedFile> file = prefetcher.take(path, kTyped);
    if (path == "big.js" || path == "odd.js" || path == "empty.js") {
      EXPECT_FALSE(file) << path;
    } else {
      ASSERT_TRUE(file) << path;
      EXPECT_EQ(file->typescript, "for " + path);
    }
  }
}

// Results hold whole outputs: no thread may start a file more than the
// window beyond the next one the run takes.
TEST(Prefetch, ThreadsStayWithinTheirWindow) {
  constexpr int kThreads = 3;
  constexpr size_t kAhead = 2;
  constexpr size_t kWindow = kThreads * kAhead;
  const std::vector<std::string> paths = numbered_paths(60);
  std::atomic<size_t> next_taken{0};
  std::atomic<size_t> started{0};
  std::atomic<size_t> beyond{0};
  const PrefetchStep step = [&](const std::string& path) -> std::optional<PrefetchedFile> {
    const size_t index = std::stoul(path.substr(1));
    if (index >= next_taken.load() + kWindow) ++beyond;
    ++started;
    return naming_step()(path);
  };
  TranspilePrefetcher prefetcher(paths, kTyped, kThreads, kAhead, step);
  while (started.load() < kWindow) std::this_thread::yield();
  for (int i = 0; i < 1000; ++i) std::this_thread::yield();
  EXPECT_EQ(started.load(), kWindow) << "files started before the run took any";
  for (size_t i = 0; i < paths.size(); ++i) {
    next_taken = i + 1;  // take() moves the window past file i
    const std::optional<PrefetchedFile> file = prefetcher.take(paths[i], kTyped);
    if (file) {
      EXPECT_EQ(file->typescript, "for " + paths[i]);
    }
  }
  EXPECT_EQ(beyond.load(), 0u);
}

// The observer a front end prints with sees the same calls, in the same
// order, whether the pipeline ran under it or was recorded and replayed.
TEST(Prefetch, AReplayedRecordGivesTheObserverWhatTheRunGave) {
  const std::string source =
      "const seen = new Set();\nseen.add('x');\nconst m = new Map();\nm.set('k', 1);\n"
      "async function load(url) { const r = await fetch(url); return r.json(); }\n"
      "const user = { name: 'a', age: 3 };\nconsole.log(user?.name ?? 'none');\n";
  for (const bool trace : {false, true}) {
    SCOPED_TRACE(trace ? "with the trace" : "without the trace");
    std::string seen;
    TranspileObserver log;
    log.tokenized = [&](int tokens) { seen += "tokens " + std::to_string(tokens) + "\n"; };
    log.structure_captured = [&](int vars, int funcs) {
      seen += "structure " + std::to_string(vars) + " " + std::to_string(funcs) + "\n";
    };
    log.bodies_captured = [&] { seen += "bodies\n"; };
    log.pass4_trace = [&](std::string_view line) { seen += "trace " + std::string(line); };
    if (!trace) log.pass4_trace = nullptr;

    const std::string direct_text = transpile_to_typescript(source, log);
    const std::string direct = seen;
    seen.clear();
    std::vector<ObserverCall> calls;
    EXPECT_EQ(transpile_to_typescript(source, recording_observer(calls, trace)), direct_text);
    replay_observer_calls(calls, log);
    EXPECT_EQ(seen, direct);
    EXPECT_EQ(direct.find("trace ") != std::string::npos, trace) << direct;
  }
}

// The real step: a file that passes the reader's checks comes back as the
// pipeline makes it, in both forms; any file whose read would print an
// error is left to the run, which prints it.
TEST(Prefetch, TheTranspileStepReadsOnlyWhatTheRunWouldRead) {
  ScopedWorkDir dir;
  const std::string source = "const n = 5;\r\nfunction twice(x) { return x * 2; }\r\nexport default twice;\r\n";
  const std::string read_as = "const n = 5;\nfunction twice(x) { return x * 2; }\nexport default twice;\n";
  write_file("app.js", source);
  write_file("empty.js", "");
  write_file("app.js.js", source);
  write_file("app.ts", source);
  std::filesystem::create_directory("folder.js");

  const std::optional<PrefetchedFile> typed = transpile_step(kTyped)("app.js");
  ASSERT_TRUE(typed);
  EXPECT_EQ(typed->typescript, transpile_to_typescript(read_as));
  const std::optional<PrefetchedFile> in_place = transpile_step(PrefetchForm{true, false})("app.js");
  ASSERT_TRUE(in_place);
  EXPECT_EQ(in_place->inline_output.text, transpile_inline(read_as).text);
  EXPECT_TRUE(in_place->typescript.empty());

  testing::internal::CaptureStdout();
  for (const char* path : {"empty.js", "app.js.js", "app.ts", "folder.js", "missing.js"}) {
    EXPECT_FALSE(transpile_step(kTyped)(path)) << path;
  }
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << "the step prints nothing";
}

}  // namespace
