#include "tsx/inline_check.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "core/console.h"
#include "core/filesystem.h"
#include "core/workspace_log.h"
#include "pipeline/run.h"
#include "platform/tool_probe.h"
#include "tsx/tsc_compiler.h"
#include "tsx/tsx_engine.h"

namespace {

constexpr int kRecompiles = 2;
constexpr const char* kNodeTypesFile = "node_modules/@types/node/index.d.ts";

bool parse_number(std::string_view text, size_t& pos, int& value) {
  const size_t start = pos;
  value = 0;
  while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && pos - start < 9) {
    value = value * 10 + (text[pos] - '0');
    ++pos;
  }
  return pos > start;
}

bool is_word_byte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '$';
}

// The word at `at` in `text`, and the one before it when a `.` joins them
// (`names.length` gives "length" and "names").
std::vector<std::string> words_at(std::string_view text, int at) {
  std::vector<std::string> words;
  if (at < 0 || at >= static_cast<int>(text.size())) return words;
  size_t end = static_cast<size_t>(at);
  while (end < text.size() && is_word_byte(text[end])) ++end;
  size_t start = static_cast<size_t>(at);
  while (start > 0 && is_word_byte(text[start - 1])) --start;
  if (end == start) return words;
  words.emplace_back(text.substr(start, end - start));
  if (start >= 2 && text[start - 1] == '.') {
    size_t before = start - 1;
    // `f(x).name`: the called function's result is the suspect.
    if (text[before - 1] == ')') {
      int depth = 0;
      while (before > 0) {
        --before;
        if (text[before] == ')') ++depth;
        if (text[before] == '(' && --depth == 0) break;
        if (text[before] == '\n') return words;
      }
    }
    const size_t word_end = before;
    while (before > 0 && is_word_byte(text[before - 1])) --before;
    if (before < word_end) words.emplace_back(text.substr(before, word_end - before));
  }
  return words;
}

bool file_exists(const char* path) {
  std::error_code ignored;
  return std::filesystem::is_regular_file(path, ignored);
}

struct Compile {
  int status = 0;
  std::string output;
  std::vector<CompilerError> errors;
};

Compile compile(const std::string& input_path, bool emit) {
  PlatformCommand command = tsc_build_command(input_path, file_exists(kNodeTypesFile));
  if (!emit) {
    command.command_line += " --noEmit";
    command.argv.emplace_back("--noEmit");
  }
  Compile result;
  std::fflush(stdout);
  result.status = platform_run_read(command, result.output);
  result.errors = parse_compiler_errors(result.output, input_path);
  return result;
}

bool write_text(const std::string& path, std::string_view text) {
  std::string reason;
  if (replace_file_text(path, text, reason, true)) return true;
  print_write_failure(path, reason);
  return false;
}

}  // namespace

std::vector<CompilerError> parse_compiler_errors(std::string_view output, std::string_view file) {
  std::vector<CompilerError> errors;
  size_t pos = 0;
  while (pos < output.size()) {
    size_t end = output.find('\n', pos);
    if (end == std::string_view::npos) end = output.size();
    const std::string_view line = output.substr(pos, end - pos);
    pos = end + 1;
    if (!line.starts_with(file) || line.size() <= file.size() || line[file.size()] != '(') continue;
    size_t at = file.size() + 1;
    CompilerError error;
    if (!parse_number(line, at, error.line) || at >= line.size() || line[at] != ',') continue;
    ++at;
    if (!parse_number(line, at, error.column) || line.substr(at, 10) != "): error T") continue;
    errors.push_back(error);
  }
  return errors;
}

int drop_rejected_insertions(std::string_view source, const std::vector<InlineInsertion>& insertions,
                             std::vector<bool>& keep, const std::vector<CompilerError>& errors) {
  if (keep.size() != insertions.size()) keep.assign(insertions.size(), true);
  const std::string text = apply_insertions(source, insertions, keep);
  const std::vector<int> offsets = insertion_output_offsets(insertions, keep);
  std::vector<int> line_starts = {0};
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n') line_starts.push_back(static_cast<int>(i) + 1);
  }
  auto line_of = [&line_starts](int offset) {
    return static_cast<int>(std::upper_bound(line_starts.begin(), line_starts.end(), offset) - line_starts.begin());
  };
  std::vector<bool> drop(insertions.size(), false);
  for (const CompilerError& error : errors) {
    if (error.line < 1 || error.line > static_cast<int>(line_starts.size())) continue;
    const int at = line_starts[static_cast<size_t>(error.line - 1)] + error.column - 1;
    std::vector<size_t> on_line;
    std::vector<size_t> holding;
    for (size_t i = 0; i < insertions.size(); ++i) {
      if (offsets[i] < 0) continue;
      const int first = line_of(offsets[i]);
      const int last = line_of(offsets[i] + std::max(static_cast<int>(insertions[i].text.size()) - 1, 0));
      if (error.line < first || error.line > last) continue;
      on_line.push_back(i);
      if (at >= offsets[i] && at < offsets[i] + static_cast<int>(insertions[i].text.size())) holding.push_back(i);
    }
    for (const size_t i : holding.empty() ? on_line : holding) drop[i] = true;
    // An error away from any annotation may still come from one: a name
    // typed too narrowly fails where it is used. The annotation of the name
    // the error points at goes.
    if (on_line.empty()) {
      for (const std::string& word : words_at(text, at)) {
        for (size_t i = 0; i < insertions.size(); ++i) {
          if (offsets[i] >= 0 && insertions[i].name == word) drop[i] = true;
        }
        // A `return` the result type rejects: the nearest result annotation
        // before it is its function's (or an enclosing one's).
        if (word == "return") {
          for (size_t i = insertions.size(); i-- > 0;) {
            if (offsets[i] >= 0 && offsets[i] < at && insertions[i].kind == INLINE_RESULT) {
              drop[i] = true;
              break;
            }
          }
        }
      }
    }
  }
  int dropped = 0;
  for (size_t i = 0; i < insertions.size(); ++i) {
    if (drop[i] && keep[i]) {
      keep[i] = false;
      ++dropped;
    }
  }
  return dropped;
}

int tsx_run_inline_pipeline(const std::string& path) {
  std::printf(CLR_CYAN "\n=== KORVEX AUTO PIPELINE (JS -> inline TS -> TSC -> JS) ===\n\n" CLR_RESET);
  std::string source;
  InlineOutput output;
  if (run_transpile_inline(path, source, output) != 0) return 1;

  if (!cli_check_tool_version("node -v")) {
    cli_print_missing_node_error();
    return 1;
  }
  if (!cli_check_tool_version("npx tsc -v")) {
    cli_print_missing_tsc_error();
    return 1;
  }
  const std::string stem = get_stem_name(path);
  const std::string input_path = "generated/" + stem + ".ts";
  std::error_code ignored;
  std::filesystem::create_directory("dist", ignored);

  auto annotations_kept = [&output](const std::vector<bool>& keep) {
    int kept = 0;
    for (size_t i = 0; i < output.insertions.size(); ++i) {
      if (keep[i] && output.insertions[i].kind != INLINE_INTERFACES) ++kept;
    }
    return kept;
  };

  std::printf(CLR_CYAN "[TSC] Compiling inline %s -> dist/%s.js...\n" CLR_RESET, input_path.c_str(), stem.c_str());
  std::vector<bool> keep(output.insertions.size(), true);
  Compile result = compile(input_path, true);
  for (int round = 0; round < kRecompiles && !result.errors.empty(); ++round) {
    if (drop_rejected_insertions(source, output.insertions, keep, result.errors) == 0) break;
    if (!write_text(input_path, apply_insertions(source, output.insertions, keep))) return 1;
    result = compile(input_path, true);
  }
  // Never worse than the source as it is: compared with the same flags,
  // and the source itself when the annotations still cost errors.
  if (!result.errors.empty() && annotations_kept(keep) > 0) {
    if (!write_text(input_path, source)) return 1;
    const Compile baseline = compile(input_path, false);
    if (baseline.errors.size() < result.errors.size()) {
      // Fewer annotations first: the field declarations alone, which mostly
      // remove errors (properties the class never declared); then none.
      std::vector<bool> fields(output.insertions.size(), false);
      for (size_t i = 0; i < output.insertions.size(); ++i) {
        fields[i] = keep[i] && output.insertions[i].kind == INLINE_FIELD;
      }
      Compile fewer;
      if (annotations_kept(fields) > 0) {
        if (!write_text(input_path, apply_insertions(source, output.insertions, fields))) return 1;
        fewer = compile(input_path, true);
      }
      if (annotations_kept(fields) > 0 && fewer.errors.size() <= baseline.errors.size()) {
        keep = fields;
        result = fewer;
      } else {
        keep.assign(output.insertions.size(), false);
        if (!write_text(input_path, source)) return 1;
        result = compile(input_path, true);
      }
    } else if (!write_text(input_path, apply_insertions(source, output.insertions, keep))) {
      return 1;
    }
  }
  const int kept = annotations_kept(keep);
  std::printf(CLR_CYAN "[INLINE] Annotations: %d written, %d kept, %d dropped.\n" CLR_RESET, output.annotations,
              kept, output.annotations - kept);
  std::fputs(result.output.c_str(), stdout);
  if (result.status == 0) {
    std::printf(CLR_GREEN "[OK] Final JS built: dist/%s.js\n" CLR_RESET, stem.c_str());
    return 0;
  }
  std::printf(CLR_RED "[ERROR] tsc compilation failed (exit code %d).\n" CLR_RESET, result.status);
  cli_error_log("tsc compilation failed");
  return 1;
}
