#include "cli/cli_system.h"

#include <array>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "core/console.h"
#include "core/filesystem.h"

namespace {

// The stats file's five counters, in file order.
using Counters = std::array<int, 5>;

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// Reads the counters the way scanf reads "total=%d\na=%d\nw=%d\ng=%d\nauto=%d\n":
// each key must match literally, a line feed of the format skips any white
// space (none included), a number is an optional sign and at least one
// digit; the scan stops at the first mismatch and the counters it did not
// reach stay 0. Numbers beyond the int range are clamped.
Counters scan_counters(std::string_view text) {
  static constexpr std::string_view kKeys[] = {"total=", "a=", "w=", "g=", "auto="};
  Counters counters{};
  size_t pos = 0;
  for (size_t i = 0; i < counters.size(); ++i) {
    if (i > 0) {
      while (pos < text.size() && is_space(text[pos])) ++pos;
    }
    if (!text.substr(pos).starts_with(kKeys[i])) return counters;
    pos += kKeys[i].size();
    while (pos < text.size() && is_space(text[pos])) ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) negative = text[pos++] == '-';
    const size_t digits = pos;
    long long value = 0;
    for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
      if (value <= INT_MAX) value = value * 10 + (text[pos] - '0');
    }
    if (pos == digits) return counters;
    if (negative) value = -value;
    counters[i] = value > INT_MAX ? INT_MAX : value < INT_MIN ? INT_MIN : static_cast<int>(value);
  }
  return counters;
}

Counters read_counters() {
  const std::optional<std::string> text = read_file_text(KVX_STATS_PATH);
  return text ? scan_counters(*text) : Counters{};
}

void bump(int& counter) {
  if (counter < INT_MAX) ++counter;
}

}  // namespace

// ---------------------------------------------------------------------------
// Error log display

void cli_errors_show() {
  // Entries are shown in pieces of a 256-character line buffer.
  constexpr int kErrorPieceBuffer = 256;
  workspace_show_log(KVX_ERRORS_PATH, CLR_CYAN "\n=== KVX Error History ===\n" CLR_RESET, "  (No errors logged)",
               kErrorPieceBuffer);
}

// ---------------------------------------------------------------------------
// Environment checks

int cli_check_dir_writable(const std::string& folder) {
  // The test file's path is formatted into a 256-byte buffer.
  constexpr size_t kWriteTestBuffer = 256;
  const std::string path = (folder + "/.kvx_write_test.tmp").substr(0, kWriteTestBuffer - 1);
  if (!open_file(path, "w")) return 0;
  std::remove(path.c_str());
  return 1;
}

int cli_check_in_path() {
  const char* path = std::getenv("PATH");
  if (path == nullptr) return 0;
  const std::string_view entries(path);
  return entries.find("KORVEX") != std::string_view::npos || entries.find("korvex") != std::string_view::npos ||
                 entries.find("kvx") != std::string_view::npos
             ? 1
             : 0;
}

// ---------------------------------------------------------------------------
// Statistics

void cli_stats_record(const std::string& mode) {
  ensure_kvx_dir();
  Counters counters = read_counters();
  bump(counters[0]);
  // Any other word (a hand-edited mode.txt) runs as mode w but is counted in
  // the total only, so the per-mode counters stay true to their names.
  if (mode == "a") bump(counters[1]);
  if (mode == "w") bump(counters[2]);
  if (mode == "g") bump(counters[3]);
  if (mode == "auto") bump(counters[4]);
  const std::string text = "total=" + std::to_string(counters[0]) + "\na=" + std::to_string(counters[1]) +
                           "\nw=" + std::to_string(counters[2]) + "\ng=" + std::to_string(counters[3]) +
                           "\nauto=" + std::to_string(counters[4]) + "\n";
  workspace_replace_text_file(KVX_STATS_PATH, text);
}

void cli_stats_show() {
  const Counters counters = read_counters();
  std::printf(CLR_CYAN "\n=== KORVEX Usage Statistics ===\n\n" CLR_RESET);
  std::printf("  Files transpiled      : %d\n", counters[0]);
  std::printf("  Mode A executions     : %d\n", counters[1]);
  std::printf("  Mode W executions     : %d\n", counters[2]);
  std::printf("  Mode G executions     : %d\n", counters[3]);
  std::printf("  Mode AUTO executions  : %d\n\n", counters[4]);
}
