// Time and peak memory of `kvx w` must grow linearly with the input: for each
// pattern of tests/scaling_patterns.cpp the input at 4n may take at most 6
// times the processor time and the peak memory (beyond a tiny run's) of the
// input at n, and at most 128 bytes of memory per input byte. Ratios, not
// times: the machine's speed and load cancel out. The child's processor time
// is measured, not the wall clock, and the best of three runs counts.
//
//   kvx_scaling_bench [--kvx PATH] [--runs N] [NAME_PART...]
//
// Prints one line per pattern and exits with 1 when a ratio is over its bound.
// Run it alone on the machine: work beside it skews the pairs it compares.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "scaling_patterns.h"

namespace {

namespace fs = std::filesystem;
using kvx_scaling::ScalingPattern;

constexpr double kMaxGrowth = 6.0;           // for 4 times the input
constexpr double kMemoryPerInputByte = 128;  // peak memory beyond a tiny run's

struct Measure {
  int status = -1;
  double seconds = 0;     // processor time, user and system
  double peak_bytes = 0;  // maximum resident set
};

// Runs `kvx w input.js` in `folder`; the console goes to console.txt.
Measure run_kvx(const std::string& kvx, const fs::path& folder) {
  Measure measure;
  const pid_t child = fork();
  if (child == 0) {
    if (chdir(folder.c_str()) != 0) _exit(127);
    const int console = open("console.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (console < 0) _exit(127);
    dup2(console, 1);
    dup2(console, 2);
    execl(kvx.c_str(), kvx.c_str(), "w", "input.js", static_cast<char*>(nullptr));
    _exit(127);
  }
  if (child < 0) return measure;
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) != child) return measure;
  measure.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  measure.seconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                    static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  measure.peak_bytes = static_cast<double>(usage.ru_maxrss) * 1024.0;
  return measure;
}

// Runs the input file `input` in a fresh folder under `root`.
Measure measure_once(const std::string& kvx, const fs::path& root, const fs::path& input) {
  const fs::path folder = root / "run";
  fs::remove_all(folder);
  fs::create_directories(folder);
  fs::copy_file(input, folder / "input.js");
  const Measure measure = run_kvx(kvx, folder);
  fs::remove_all(folder);
  return measure;
}

// The best of `runs` runs of each input. The runs of the two inputs
// alternate, so that both meet the same load on the machine.
std::pair<Measure, Measure> measure_pair(const std::string& kvx, const fs::path& root, const fs::path& small,
                                         const fs::path& large, int runs) {
  std::pair<Measure, Measure> best;
  for (int attempt = 0; attempt < runs; ++attempt) {
    const Measure a = measure_once(kvx, root, small);
    const Measure b = measure_once(kvx, root, large);
    if (attempt == 0) {
      best = {a, b};
      continue;
    }
    best.first.seconds = std::min(best.first.seconds, a.seconds);
    best.first.peak_bytes = std::min(best.first.peak_bytes, a.peak_bytes);
    best.second.seconds = std::min(best.second.seconds, b.seconds);
    best.second.peak_bytes = std::min(best.second.peak_bytes, b.peak_bytes);
  }
  return best;
}

// Writes `source` to `path`; its size.
size_t write_input(const fs::path& path, const std::string& source) {
  std::ofstream(path, std::ios::binary) << source;
  return source.size();
}

// A forked child starts with this process's resident memory, which counts in
// its peak until it runs kvx: the inputs live in files, and the memory that
// built them goes back to the system before a run is measured.
void release_free_memory() {
#ifdef __GLIBC__
  malloc_trim(0);
#endif
}

bool selected(const ScalingPattern& pattern, const std::vector<std::string_view>& parts) {
  if (parts.empty()) return true;
  return std::any_of(parts.begin(), parts.end(),
                     [&](std::string_view part) { return std::string_view(pattern.name).find(part) != std::string_view::npos; });
}

}  // namespace

int main(int argc, char** argv) {
  std::string kvx = KVX_BINARY_PATH;
  int runs = 3;
  std::vector<std::string_view> parts;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--kvx" && i + 1 < argc) {
      kvx = fs::absolute(argv[++i]).string();
    } else if (arg == "--runs" && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--help" || arg == "-h") {
      std::printf("usage: %s [--kvx PATH] [--runs N] [NAME_PART...]\n", argv[0]);
      return 0;
    } else {
      parts.push_back(arg);
    }
  }

  const fs::path root = fs::temp_directory_path() / ("kvx-scaling-" + std::to_string(getpid()));
  fs::create_directories(root);
  // What a run costs with nearly no input: the program and its libraries.
  write_input(root / "tiny.js", "let a = 1;\n");
  const double baseline_peak = measure_once(kvx, root, root / "tiny.js").peak_bytes;

  std::printf("%-36s %9s %9s %8s %8s %6s %8s %8s %6s %6s\n", "pattern", "bytes n", "bytes 4n", "cpu n", "cpu 4n",
              "time", "peak n", "peak 4n", "mem", "B/B");
  int over = 0;
  int measured = 0;
  for (const ScalingPattern& pattern : kvx_scaling::scaling_patterns()) {
    if (!selected(pattern, parts)) continue;
    if (*pattern.not_yet_linear != '\0') {
      std::printf("%-36s not yet linear: %s\n", pattern.name, pattern.not_yet_linear);
      continue;
    }
    const fs::path small = root / "small.js";
    const fs::path large = root / "large.js";
    const size_t small_size = write_input(small, pattern.generate(pattern.n));
    const size_t large_size = write_input(large, pattern.generate(4 * pattern.n));
    release_free_memory();
    auto [at_n, at_4n] = measure_pair(kvx, root, small, large, runs);
    // A burst of load on a shared machine can still stretch one series: a
    // time ratio over the limit is measured once more before it counts.
    if (at_4n.seconds > kMaxGrowth * at_n.seconds) std::tie(at_n, at_4n) = measure_pair(kvx, root, small, large, runs);
    ++measured;

    const double time_ratio = at_4n.seconds / std::max(at_n.seconds, 1e-3);
    const double small_extra = std::max(at_n.peak_bytes - baseline_peak, 1e6);
    const double large_extra = at_4n.peak_bytes - baseline_peak;
    const double memory_ratio = large_extra / small_extra;
    const double per_byte = large_extra / static_cast<double>(large_size);
    std::string problems;
    if (at_n.status == -1 || at_4n.status == -1) problems += " did-not-finish";
    if (at_n.status != at_4n.status) problems += " exit-status";
    if (at_4n.seconds > kMaxGrowth * at_n.seconds) problems += " time";
    if (large_extra > kMaxGrowth * small_extra) problems += " memory";
    if (large_extra > kMemoryPerInputByte * static_cast<double>(large_size)) problems += " memory-per-byte";
    if (!problems.empty()) ++over;
    std::printf("%-36s %9zu %9zu %8.3f %8.3f %6.2f %8.1f %8.1f %6.2f %6.1f%s%s\n", pattern.name, small_size,
                large_size, at_n.seconds, at_4n.seconds, time_ratio, at_n.peak_bytes / 1e6, at_4n.peak_bytes / 1e6,
                memory_ratio, per_byte, problems.empty() ? "" : "  OVER:", problems.c_str());
    std::fflush(stdout);
  }
  fs::remove_all(root);
  std::printf("%d patterns measured, %d over a bound (time and memory at 4n at most %.0fx those at n, "
              "at most %.0f bytes of memory per input byte)\n",
              measured, over, kMaxGrowth, kMemoryPerInputByte);
  return over == 0 ? 0 : 1;
}
