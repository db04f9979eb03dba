#include "tsx/inline_check.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "core/console.h"
#include "core/filesystem.h"
#include "core/text.h"
#include "core/workspace_log.h"
#include "pipeline/run.h"
#include "platform/tool_probe.h"
#include "tsx/compiler_session.h"
#include "tsx/tsc_compiler.h"
#include "tsx/tsx_engine.h"

namespace {

// Rounds of dropping while the annotations still add errors, before kvx
// gives up on them (the field declarations alone, or none, are then written).
constexpr int kMaxRounds = 4;
// Rounds that take out the annotations of the functions the remaining errors
// stand in, each a compile.
constexpr int kMaxEnclosingRounds = 6;
// Compiles spent halving the annotations left to find one that adds errors.
constexpr int kMaxHalvingCompiles = 16;
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

bool is_word_byte(char c) { return is_ascii_identifier_byte(c); }

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

// The word that ends right before `end` (spaces skipped).
std::string word_before(std::string_view text, size_t end) {
  while (end > 0 && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
  size_t start = end;
  while (start > 0 && is_word_byte(text[start - 1])) --start;
  return std::string(text.substr(start, end - start));
}

// The bracket that encloses `at` on its left, at most `reach` bytes back,
// with the commas passed at its level; npos when there is none.
size_t enclosing_open(std::string_view text, size_t at, int& commas) {
  constexpr size_t reach = 4000;
  commas = 0;
  int depth = 0;
  const size_t stop = at > reach ? at - reach : 0;
  for (size_t i = at; i-- > stop;) {
    const char c = text[i];
    if (c == ')' || c == ']' || c == '}') {
      ++depth;
    } else if (c == '(' || c == '[' || c == '{') {
      if (depth == 0) return i;
      --depth;
    } else if (c == ',' && depth == 0) {
      ++commas;
    } else if (c == ';' && depth == 0) {
      return std::string_view::npos;
    }
  }
  return std::string_view::npos;
}

// The last non-blank byte before `end`, or 0.
char byte_before(std::string_view text, size_t end) {
  while (end > 0 && (text[end - 1] == ' ' || text[end - 1] == '\t' || text[end - 1] == '\n' || text[end - 1] == '\r')) --end;
  return end > 0 ? text[end - 1] : '\0';
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

Compile compile(const std::string& input_path, bool emit, bool mirrored) {
  PlatformCommand command = tsc_build_command(input_path, file_exists(kNodeTypesFile), mirrored);
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
    at += 11;
    if (at < line.size() && line[at] == 'S') ++at;
    parse_number(line, at, error.code);
    errors.push_back(error);
  }
  return errors;
}

namespace {

// The most annotations one error may take out with its function.
constexpr size_t kMaxEnclosingDrop = 12;

std::vector<int> line_starts_of(std::string_view text) {
  std::vector<int> starts = {0};
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n') starts.push_back(static_cast<int>(i) + 1);
  }
  return starts;
}

// The source offset of an error of the inline text (the insertions in `keep`
// applied); -1 when it stands inside an insertion or outside the text.
int error_source_offset(const CompilerError& error, const std::vector<int>& text_starts,
                        const std::vector<InlineInsertion>& insertions, const std::vector<int>& offsets) {
  if (error.line < 1 || error.line > static_cast<int>(text_starts.size())) return -1;
  const int at = text_starts[static_cast<size_t>(error.line - 1)] + error.column - 1;
  int shift = 0;
  for (size_t i = 0; i < insertions.size(); ++i) {
    if (offsets[i] < 0) continue;
    const int length = static_cast<int>(insertions[i].text.size());
    if (offsets[i] + length <= at) {
      shift += length;
    } else if (offsets[i] <= at) {
      return -1;
    }
  }
  return at - shift;
}

}  // namespace

int drop_enclosing_insertions(std::string_view source, const std::vector<InlineInsertion>& insertions,
                              std::vector<bool>& keep, const std::vector<CompilerError>& errors,
                              const std::vector<std::pair<int, int>>& function_spans) {
  if (keep.size() != insertions.size()) keep.assign(insertions.size(), true);
  const std::string text = apply_insertions(source, insertions, keep);
  const std::vector<int> offsets = insertion_output_offsets(insertions, keep);
  const std::vector<int> text_starts = line_starts_of(text);
  const std::vector<int> source_starts = line_starts_of(source);
  const auto is_annotation = [&](size_t i) {
    return keep[i] && insertions[i].kind != INLINE_MODULE && insertions[i].kind != INLINE_INTERFACES;
  };
  int dropped = 0;
  for (const CompilerError& error : errors) {
    const int at = error_source_offset(error, text_starts, insertions, offsets);
    if (at < 0) continue;
    // The spans around the error, innermost (shortest) first.
    std::vector<std::pair<int, int>> around;
    for (const auto& span : function_spans) {
      if (span.first <= at && at < span.second) around.push_back(span);
    }
    std::sort(around.begin(), around.end(),
              [](const auto& a, const auto& b) { return a.second - a.first < b.second - b.first; });
    // Outside every function, the error's own line stands for its scope.
    const int line = static_cast<int>(std::upper_bound(source_starts.begin(), source_starts.end(), at) -
                                      source_starts.begin());
    const int line_end = static_cast<size_t>(line) < source_starts.size() ? source_starts[static_cast<size_t>(line)]
                                                                           : static_cast<int>(source.size()) + 1;
    around.emplace_back(source_starts[static_cast<size_t>(line - 1)], line_end);
    for (const auto& [first, last] : around) {
      std::vector<size_t> here;
      for (size_t i = 0; i < insertions.size(); ++i) {
        if (is_annotation(i) && insertions[i].offset >= first && insertions[i].offset < last) here.push_back(i);
      }
      if (here.empty()) continue;
      // A function that holds many (a module wrapper holds them all) is no
      // place to look: that is left to the halving.
      if (here.size() > kMaxEnclosingDrop) break;
      for (const size_t i : here) keep[i] = false;
      dropped += static_cast<int>(here.size());
      break;
    }
  }
  return dropped;
}

std::vector<CompilerError> errors_not_in_source(std::string_view source, const std::vector<InlineInsertion>& insertions,
                                                const std::vector<bool>& keep, const std::vector<CompilerError>& errors,
                                                const std::vector<CompilerError>& source_errors) {
  const std::string text = apply_insertions(source, insertions, keep);
  const std::vector<int> offsets = insertion_output_offsets(insertions, keep);
  const std::vector<int> text_starts = line_starts_of(text);
  const std::vector<int> source_starts = line_starts_of(source);
  // Source errors by place, each matched once.
  std::vector<std::pair<std::pair<int, int>, int>> remaining;
  for (const CompilerError& error : source_errors) remaining.push_back({{error.line, error.column}, error.code});
  std::vector<CompilerError> fresh;
  for (const CompilerError& error : errors) {
    if (error.line < 1 || error.line > static_cast<int>(text_starts.size())) continue;
    const int source_at = error_source_offset(error, text_starts, insertions, offsets);
    if (source_at >= 0) {
      const int line = static_cast<int>(std::upper_bound(source_starts.begin(), source_starts.end(), source_at) -
                                        source_starts.begin());
      const int column = source_at - source_starts[static_cast<size_t>(line - 1)] + 1;
      const auto found = std::find(remaining.begin(), remaining.end(),
                                   std::pair<std::pair<int, int>, int>{{line, column}, error.code});
      if (found != remaining.end()) {
        remaining.erase(found);
        continue;
      }
    }
    fresh.push_back(error);
  }
  return fresh;
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
  auto drop_result_before = [&](int at) {
    for (size_t i = insertions.size(); i-- > 0;) {
      if (offsets[i] >= 0 && offsets[i] < at && insertions[i].kind == INLINE_RESULT) {
        drop[i] = true;
        break;
      }
    }
  };
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
        if (word == "return") drop_result_before(at);
      }
      // In an argument list the called function's parameter is the suspect;
      // in a literal, the name it is assigned to or the result it returns.
      size_t inner = static_cast<size_t>(at);
      for (int level = 0; level < 3; ++level) {
        int commas = 0;
        const size_t open = enclosing_open(text, inner, commas);
        if (open == std::string_view::npos) break;
        if (text[open] == '(') {
          const std::string callee = word_before(text, open);
          if (callee.empty()) break;
          for (size_t i = 0; i < insertions.size(); ++i) {
            if (offsets[i] >= 0 && insertions[i].kind == INLINE_PARAMETER && insertions[i].owner == callee &&
                insertions[i].index == commas) {
              drop[i] = true;
            }
          }
          break;
        }
        const char before = byte_before(text, open);
        if (before == '=') {
          // `name: T = {`: the annotation ends where the name's text does.
          size_t end = open;
          while (end > 0 && text[end - 1] != '=') --end;
          if (end == 0) break;
          size_t name_end = end - 1;
          while (name_end > 0 && (text[name_end - 1] == ' ' || text[name_end - 1] == '\t')) --name_end;
          for (size_t i = 0; i < insertions.size(); ++i) {
            if (offsets[i] >= 0 && offsets[i] + insertions[i].text.size() == name_end) drop[i] = true;
          }
          break;
        }
        if (word_before(text, open) == "return") {
          drop_result_before(static_cast<int>(open));
          break;
        }
        if (before != '(' && before != ',' && before != ':' && before != '[') break;
        inner = open;
      }
    }
  }
  // A single-parameter arrow's `(` and its `: T)` stand or fall together.
  for (size_t i = 0; i + 1 < insertions.size(); ++i) {
    if (insertions[i].kind != INLINE_PARAMETER || insertions[i].text != "(") continue;
    for (size_t j = i + 1; j < insertions.size(); ++j) {
      if (insertions[j].kind == INLINE_PARAMETER && insertions[j].name == insertions[i].name &&
          insertions[j].text.ends_with(")")) {
        if (drop[i] || drop[j]) drop[i] = drop[j] = true;
        break;
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

namespace {

// How the check compiles: through the run's compiler session when there is
// one, else one compiler process per compile, writing the text to disk
// first. The session is given the text in memory; the generated file is
// written once, when the check is done.
struct Checker {
  CompilerSession* session = nullptr;
  std::string input_path;
  bool mirrored = false;
  std::string held;  // the text the session holds for input_path
};

// Hands `text` to the session unless it holds it already; false when the
// session broke (it is then left).
bool hand_over(Checker& checker, const std::string& text) {
  if (checker.session == nullptr) return false;
  if (checker.held == text) return true;
  if (!compiler_session_set(*checker.session, checker.input_path, text)) {
    checker.session = nullptr;
    return false;
  }
  checker.held = text;
  return true;
}

Compile compile_text(Checker& checker, const std::string& text, bool emit) {
  if (hand_over(checker, text)) {
    const std::optional<SessionCompile> answer = compiler_session_check(*checker.session, checker.input_path, emit);
    if (answer) {
      Compile result;
      result.status = answer->status;
      result.output = answer->output;
      result.errors = parse_compiler_errors(result.output, checker.input_path);
      return result;
    }
  }
  checker.session = nullptr;  // broken: the rest of the file compiles as without one
  Compile result;
  if (!write_text(checker.input_path, text)) {
    result.status = -1;
    return result;
  }
  return compile(checker.input_path, emit, checker.mirrored);
}

// The offset right after the name that the name at `at` of the text last
// handed to the session is declared by; nothing when the session cannot say.
std::optional<int> declared_name_end(Checker& checker, const std::vector<int>& line_starts, int at) {
  if (checker.session == nullptr) return std::nullopt;
  const int line = static_cast<int>(std::upper_bound(line_starts.begin(), line_starts.end(), at) - line_starts.begin());
  const int column = at - line_starts[static_cast<size_t>(line - 1)] + 1;
  const auto place = compiler_session_declaration(*checker.session, checker.input_path, line, column);
  if (!place || place->first < 1 || place->first > static_cast<int>(line_starts.size())) return std::nullopt;
  return line_starts[static_cast<size_t>(place->first - 1)] + place->second - 1;
}

int annotations_kept(const InlineOutput& output, const std::vector<bool>& keep) {
  int kept = 0;
  for (size_t i = 0; i < output.insertions.size(); ++i) {
    if (keep[i] && output.insertions[i].kind != INLINE_INTERFACES &&
        output.insertions[i].kind != INLINE_MODULE) {
      ++kept;
    }
  }
  return kept;
}

}  // namespace

CompilerSession* compiler_session_of(CompilerSessionSlot& slot) {
  if (!slot.tried) {
    slot.tried = true;
    slot.session = compiler_session_start(file_exists(kNodeTypesFile));
  }
  if (!slot.session || slot.session->broken) return nullptr;
  return &*slot.session;
}

int drop_traced_insertions(std::string_view source, const std::vector<InlineInsertion>& insertions,
                           std::vector<bool>& keep, const std::vector<CompilerError>& errors,
                           const DeclarationLookup& declaration_of) {
  if (!declaration_of) return 0;
  const std::string text = apply_insertions(source, insertions, keep);
  const std::vector<int> offsets = insertion_output_offsets(insertions, keep);
  std::vector<int> line_starts = {0};
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n') line_starts.push_back(static_cast<int>(i) + 1);
  }
  int dropped = 0;
  for (const CompilerError& error : errors) {
    if (error.line < 1 || error.line > static_cast<int>(line_starts.size())) continue;
    const int at = line_starts[static_cast<size_t>(error.line - 1)] + error.column - 1;
    if (at < 0 || at >= static_cast<int>(text.size()) || !is_word_byte(text[static_cast<size_t>(at)])) continue;
    // The name at the error, then the object before `.name`: the first that
    // leads to an annotation is the suspect.
    std::vector<int> starts = {at};
    int word_start = at;
    while (word_start > 0 && is_word_byte(text[static_cast<size_t>(word_start - 1)])) --word_start;
    if (word_start >= 2 && text[static_cast<size_t>(word_start - 1)] == '.') {
      int before = word_start - 1;
      while (before > 0 && is_word_byte(text[static_cast<size_t>(before - 1)])) --before;
      if (before < word_start - 1) starts.push_back(before);
    }
    for (const int start : starts) {
      const std::optional<int> name_end = declaration_of(start);
      if (!name_end) continue;
      bool found = false;
      for (size_t i = 0; i < insertions.size(); ++i) {
        if (offsets[i] != *name_end || insertions[i].kind == INLINE_RESULT || insertions[i].kind == INLINE_INTERFACES) {
          continue;
        }
        found = true;
        if (keep[i]) {
          keep[i] = false;
          ++dropped;
        }
      }
      if (found) break;
    }
  }
  return dropped;
}

int tsx_run_inline_pipeline(const std::string& path, const RunOptions& options) {
  std::printf(CLR_CYAN "\n=== KORVEX AUTO PIPELINE (JS -> inline TS -> TSC -> JS) ===\n\n" CLR_RESET);
  std::string source;
  InlineOutput output;
  if (run_transpile_inline(path, source, output, options) != 0) return 1;

  // One compiler session for the run (or for this file), started once; the
  // tools are probed as the compile step does only when it cannot be had.
  CompilerSessionSlot own_slot;
  CompilerSessionSlot& slot = options.compiler != nullptr ? *options.compiler : own_slot;
  Checker checker;
  checker.session = compiler_session_of(slot);
  if (checker.session == nullptr && !tsc_tools_ready()) return 1;
  const OutputPath target = options.output_of(path);
  checker.input_path = target.ts();
  checker.mirrored = target.mirrored;
  const std::string& input_path = checker.input_path;
  std::error_code ignored;
  std::filesystem::create_directory("dist", ignored);

  std::printf(CLR_CYAN "[TSC] Compiling inline %s -> %s...\n" CLR_RESET, input_path.c_str(), target.js().c_str());
  std::vector<bool> keep(output.insertions.size(), true);
  // Without a session every compile is a process: the first one also emits,
  // so that a file that needs no change is compiled once.
  const bool emit_first = checker.session == nullptr;
  const std::string first_text = apply_insertions(source, output.insertions, keep);
  // The source's own errors, to tell them from those the annotations cause.
  // With a session they cost one check and feed the summary, and come first:
  // the text checked last is then the annotated one, which the final emit
  // often finds unchanged. Without one, only a file with errors pays a
  // compile for them.
  // The source as the module the inline file is (its `export {};` added):
  // what a module's strictness and scope change is the source's, not the
  // annotations' doing.
  std::string module_line;
  for (const InlineInsertion& insertion : output.insertions) {
    if (insertion.kind == INLINE_MODULE) module_line = insertion.text;
  }
  const std::string baseline_text = source + module_line;
  Compile baseline;
  const bool session_first = checker.session != nullptr;
  if (session_first) baseline = compile_text(checker, baseline_text, false);
  const Compile first = compile_text(checker, first_text, emit_first);
  Compile result = first;
  const bool checked = !result.errors.empty() && annotations_kept(output, keep) > 0;
  if (!session_first && !result.errors.empty()) baseline = compile_text(checker, baseline_text, false);
  // Line starts of the text the session holds, for its answers on names.
  std::vector<int> checked_starts;
  const DeclarationLookup declaration_of = [&](int at) { return declared_name_end(checker, checked_starts, at); };
  // The errors a compile of `chosen` has that the source lacks: kvx's.
  const auto added_by = [&](const std::vector<bool>& chosen, const Compile& compiled) {
    return errors_not_in_source(source, output.insertions, chosen, compiled.errors, baseline.errors).size();
  };
  // The best round so far: the fewest errors of kvx's, then the fewest in all.
  std::vector<bool> best_keep = keep;
  size_t best_added = result.errors.empty() ? 0 : added_by(keep, result);
  size_t best_errors = result.errors.size();
  for (int round = 0; checked && round < kMaxRounds && best_added > 0; ++round) {
    const std::vector<CompilerError> caused =
        errors_not_in_source(source, output.insertions, keep, result.errors, baseline.errors);
    if (caused.empty()) break;
    // The text checked last is the one the session answers about: the names
    // are traced first, then the places.
    const std::string checked_text = apply_insertions(source, output.insertions, keep);
    hand_over(checker, checked_text);
    checked_starts.assign(1, 0);
    for (size_t i = 0; i < checked_text.size(); ++i) {
      if (checked_text[i] == '\n') checked_starts.push_back(static_cast<int>(i) + 1);
    }
    std::vector<bool> traced = keep;
    int dropped = drop_traced_insertions(source, output.insertions, traced, caused, declaration_of);
    dropped += drop_rejected_insertions(source, output.insertions, keep, caused);
    for (size_t i = 0; i < keep.size(); ++i) keep[i] = keep[i] && traced[i];
    if (dropped == 0) break;
    result = compile_text(checker, apply_insertions(source, output.insertions, keep), false);
    const size_t added = added_by(keep, result);
    if (added < best_added || (added == best_added && result.errors.size() <= best_errors)) {
      best_keep = keep;
      best_added = added;
      best_errors = result.errors.size();
    }
  }
  keep = best_keep;
  // Errors of kvx's that neither the names nor the places trace: the
  // annotations of the functions they stand in go, widening to the enclosing
  // function when those are gone, rather than every annotation of the file.
  if (checked && best_added > 0) {
    Compile current = compile_text(checker, apply_insertions(source, output.insertions, keep), false);
    for (int round = 0; round < kMaxEnclosingRounds && best_added > 0; ++round) {
      const std::vector<CompilerError> caused =
          errors_not_in_source(source, output.insertions, keep, current.errors, baseline.errors);
      if (caused.empty()) break;
      if (drop_enclosing_insertions(source, output.insertions, keep, caused, output.function_spans) == 0) break;
      current = compile_text(checker, apply_insertions(source, output.insertions, keep), false);
      const size_t added = added_by(keep, current);
      if (added < best_added || (added == best_added && current.errors.size() <= best_errors)) {
        best_keep = keep;
        best_added = added;
        best_errors = current.errors.size();
      }
    }
    keep = best_keep;
  }
  // Still kvx's errors: halve the annotations left until the one that
  // causes them is found, within a budget of compiles, and take it out.
  if (checked && best_added > 0) {
    int budget = kMaxHalvingCompiles;
    while (best_added > 0 && budget > 0) {
      std::vector<size_t> suspects;
      for (size_t i = 0; i < output.insertions.size(); ++i) {
        if (keep[i] && output.insertions[i].kind != INLINE_MODULE && output.insertions[i].kind != INLINE_INTERFACES) {
          suspects.push_back(i);
        }
      }
      while (suspects.size() > 1 && budget > 0) {
        const std::vector<size_t> half(suspects.begin(), suspects.begin() + static_cast<std::ptrdiff_t>(suspects.size() / 2));
        std::vector<bool> trial = keep;
        for (const size_t i : half) trial[i] = false;
        --budget;
        const Compile tried = compile_text(checker, apply_insertions(source, output.insertions, trial), false);
        if (added_by(trial, tried) < best_added) {
          suspects = half;
        } else {
          suspects.erase(suspects.begin(), suspects.begin() + static_cast<std::ptrdiff_t>(half.size()));
        }
      }
      if (suspects.size() != 1 || budget <= 0) break;
      std::vector<bool> trial = keep;
      trial[suspects[0]] = false;
      --budget;
      const Compile tried = compile_text(checker, apply_insertions(source, output.insertions, trial), false);
      const size_t added = added_by(trial, tried);
      if (added >= best_added) break;
      keep = trial;
      best_keep = keep;
      best_added = added;
      best_errors = tried.errors.size();
    }
    keep = best_keep;
  }
  // Never worse than the source as the module it becomes, compared with the same flags, and
  // no error of kvx's left: the field declarations alone when they do, which
  // mostly remove errors (properties the class never declared); else none.
  bool settled = false;
  if (checked && (baseline.errors.size() < best_errors || best_added > 0)) {
    // A declared field makes a class's type richer, so an error may stand
    // where an object of another class is assigned in its place, far from
    // any annotation: the annotations without the field declarations first.
    std::vector<bool> no_fields = keep;
    for (size_t i = 0; i < output.insertions.size(); ++i) {
      if (output.insertions[i].kind == INLINE_FIELD) no_fields[i] = false;
    }
    if (no_fields != keep && annotations_kept(output, no_fields) > 0) {
      const Compile without = compile_text(checker, apply_insertions(source, output.insertions, no_fields), false);
      if (without.errors.size() <= baseline.errors.size() && added_by(no_fields, without) == 0) {
        keep = no_fields;
        settled = true;
      }
    }
  }
  if (!settled && checked && (baseline.errors.size() < best_errors || best_added > 0)) {
    std::vector<bool> fields(output.insertions.size(), false);
    for (size_t i = 0; i < output.insertions.size(); ++i) {
      fields[i] = keep[i] && (output.insertions[i].kind == INLINE_FIELD || output.insertions[i].kind == INLINE_MODULE);
    }
    keep.assign(output.insertions.size(), false);
    for (size_t i = 0; i < output.insertions.size(); ++i) keep[i] = output.insertions[i].kind == INLINE_MODULE;
    if (annotations_kept(output, fields) > 0) {
      const Compile fewer = compile_text(checker, apply_insertions(source, output.insertions, fields), false);
      if (fewer.errors.size() <= baseline.errors.size() && added_by(fields, fewer) == 0) keep = fields;
    }
  }
  // The final text on disk and compiled into dist/.
  const std::string final_text = apply_insertions(source, output.insertions, keep);
  if (!write_text(input_path, final_text)) return 1;
  const bool compiled_already = emit_first && checker.session == nullptr && final_text == first_text;
  result = compiled_already ? first : compile_text(checker, final_text, true);

  const int kept = annotations_kept(output, keep);
  std::printf(CLR_CYAN "[INLINE] Annotations: %d written, %d kept, %d dropped.\n" CLR_RESET, output.annotations,
              kept, output.annotations - kept);
  std::fputs(result.output.c_str(), stdout);
  // Whose errors remain: those the source has when copied unchanged are its
  // own; only the rest are kvx's.
  const int remaining = static_cast<int>(result.errors.size());
  const int added = remaining == 0 ? 0
                                   : static_cast<int>(errors_not_in_source(source, output.insertions, keep,
                                                                           result.errors, baseline.errors)
                                                          .size());
  if (options.summary != nullptr) {
    InlineRunSummary& summary = *options.summary;
    ++summary.files;
    summary.written += output.annotations;
    summary.kept += kept;
    summary.errors_before += static_cast<int>(baseline.errors.size());
    summary.errors_after += remaining;
    summary.errors_added += added;
    if (result.status == 0) ++summary.clean;
    summary.session = summary.session || checker.session != nullptr;
    summary.files_checked.push_back({path, input_path, output.annotations, kept,
                                     static_cast<int>(baseline.errors.size()), remaining, added,
                                     result.status == 0 || result.status == 2});
  }
  if (result.status == 0) {
    std::printf(CLR_GREEN "[OK] Final JS built: %s\n" CLR_RESET, target.js().c_str());
    return 0;
  }
  // Emitted (status 2) with only the source's own errors left: the output is
  // what the source gives, and kvx made nothing worse.
  if (result.status == 2 && added == 0 && remaining > 0) {
    std::printf(CLR_YELLOW "[WARNING] Final JS built: %s with %d compiler error(s), all the source's own "
                           "(kvx's annotations add none).\n" CLR_RESET,
                target.js().c_str(), remaining);
    return 0;
  }
  std::printf(CLR_RED "[ERROR] tsc compilation failed (exit code %d).\n" CLR_RESET, result.status);
  if (remaining > 0) {
    std::printf(CLR_RED "[ERROR] %d compiler error(s): %d added by kvx's annotations, %d the source's own.\n" CLR_RESET,
                remaining, added, remaining - added);
  }
  cli_error_log("tsc compilation failed");
  return 1;
}
