// Mirrors the engine's whole-file step for a path it cannot derive. Once the
// engine takes the target path itself, this file goes.
#include "tsx/harden_target.h"

#include <cstdio>
#include <optional>
#include <string_view>
#include <vector>

#include "core/console.h"
#include "core/filesystem.h"
#include "core/workspace_log.h"
#include "tsx/tsx_engine.h"

namespace {

// One line hardened where it is code; `start` is its offset in the text
// `code` describes. A line holding a catch clause is kept whole.
std::string harden_code_of_line(std::string_view line, const std::vector<bool>& code, size_t start) {
  if (line.find("catch (") != std::string_view::npos || line.find("catch(") != std::string_view::npos) {
    return std::string(line);
  }
  std::string out;
  size_t from = 0;
  while (from < line.size()) {
    const bool is_code = code[start + from];
    size_t to = from;
    while (to < line.size() && code[start + to] == is_code) ++to;
    const std::string_view part = line.substr(from, to - from);
    out += is_code ? tsx_harden_line(part) : std::string(part);
    from = to;
  }
  return out;
}

}  // namespace

int tsx_harden_output(const std::string& source_path, const OutputPath& output) {
  if (!output.mirrored) return tsx_enhance_and_secure_ts(source_path);
  const std::string ts_path = output.ts();
  std::printf(CLR_CYAN "[TSX] Hardening %s...\n" CLR_RESET, ts_path.c_str());
  const std::optional<std::string> text = read_file_text(ts_path, true);
  if (!text) {
    std::printf(CLR_RED "[ERROR] TSX engine cannot read '%s'.\n" CLR_RESET, ts_path.c_str());
    cli_error_log("TSX engine: cannot read " + ts_path);
    return 1;
  }
  const std::vector<bool> code = tsx_code_bytes(*text);
  std::string hardened;
  hardened.reserve(text->size() + text->size() / 4);
  size_t start = 0;
  while (start <= text->size()) {
    size_t end = text->find('\n', start);
    const bool last = end == std::string::npos;
    if (last) end = text->size();
    hardened += harden_code_of_line(std::string_view(*text).substr(start, end - start), code, start);
    if (last) break;
    hardened += '\n';
    start = end + 1;
  }
  // ": any" -> ": unknown" adds four bytes each time.
  const long tightened = static_cast<long>((hardened.size() - text->size()) / 4);
  if (tsx_validate_syntax(hardened) == 0) {
    std::printf(CLR_YELLOW "[WARNING] Unbalanced braces or parentheses in %s; handing it to tsc "
                           "anyway.\n" CLR_RESET,
                ts_path.c_str());
    cli_error_log("TSX engine: unbalanced braces or parentheses in " + ts_path);
  }
  std::string reason;
  if (hardened != *text && !replace_file_text(ts_path, hardened, reason, true)) {
    std::printf(CLR_RED "[ERROR] TSX engine cannot write '%s' (%s).\n" CLR_RESET, ts_path.c_str(), reason.c_str());
    cli_error_log("TSX engine: cannot write " + ts_path);
    return 1;
  }
  std::printf(CLR_GREEN "[OK] TSX hardening done: %ld annotation(s) tightened to unknown.\n" CLR_RESET, tightened);
  return 0;
}
