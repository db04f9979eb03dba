#include "cli/cli_parallel.h"

#include <algorithm>
#include <cstdlib>
#include <new>
#include <utility>

#include "platform/platform.h"

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

std::unique_ptr<TranspilePrefetcher> cli_parallel_prefetcher(const std::string& mode, const RunOptions& options,
                                                             const std::function<std::vector<std::string>()>& list_files) {
  if (mode == "g" || mode == "auto") return nullptr;
  const int jobs = cli_parallel_jobs();
  if (jobs <= 1) return nullptr;
  try {
    std::vector<std::string> files = list_files();
    if (files.size() < 2) return nullptr;
    const PrefetchForm form{options.inline_form, g_kvx_verbose != 0, options.modules};
    auto prefetcher = std::make_unique<TranspilePrefetcher>(std::move(files), form, jobs);
    if (prefetcher->threads() == 0) return nullptr;
    return prefetcher;
  } catch (const std::bad_alloc&) {
    return nullptr;  // the files then run without it
  }
}
