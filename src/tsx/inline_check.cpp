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
  std::optional<std::string> js;  // from a session's emit, for kvx to write
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
CompilerSession* compiler_session_of(CompilerSessionSlot& slot) {
  if (!slot.tried) {
    slot.tried = true;
    slot.session = compiler_session_start(file_exists(kNodeTypesFile));
  }
  if (slot.session && !compiler_session_connect(*slot.session)) slot.session.reset();
  if (!slot.session || slot.session->broken) return nullptr;
  return &*slot.session;
}

void compiler_session_launch_early(CompilerSessionSlot& slot) {
  if (slot.tried) return;
  slot.tried = true;
  slot.session = compiler_session_launch(file_exists(kNodeTypesFile));
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


namespace {

// How the check compiles: through the run's compiler session when there is
// one, else one compiler process per compile, writing the text to disk
// first. The session is given the text in memory; the generated file is
// written once, when the check is done.
struct Checker {
  CompilerSession* session = nullptr;
  std::string input_path;
  bool mirrored = false;
  // Without a session, compile with a compiler process each; else a broken
  // session ends the file's check (the run then checks it on its own).
  bool fallback = true;
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

// Status -1 when nothing could compile it.
Compile compile_text(Checker& checker, const std::string& text, bool emit) {
  if (hand_over(checker, text)) {
    const std::optional<SessionCompile> answer = compiler_session_check(*checker.session, checker.input_path, emit);
    if (answer) {
      Compile result;
      result.status = answer->status;
      result.output = answer->output;
      result.errors = parse_compiler_errors(result.output, checker.input_path);
      result.js = answer->js;
      return result;
    }
  }
  checker.session = nullptr;  // broken: the rest of the file compiles as without one
  Compile result;
  if (!checker.fallback || !write_text(checker.input_path, text)) {
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

// The compiles of one file's check, one at a time: the source's own errors
// (as the module it becomes), the inline text, the rounds of dropping, the
// fallbacks, the final emit.
enum class Step { baseline, first, round, enclosing, halving, confirm, no_fields, fields, final_emit, done };

struct FileCheck {
  Checker checker;
  std::string source;
  InlineOutput output;
  // With a session the source's own errors come first: they cost one check
  // and feed the summary, and the text checked last is then the annotated
  // one, which the final emit often finds unchanged. Without one, the first
  // compile also emits (a file that needs no change is compiled once), and
  // only a file with errors pays a compile for the source's.
  bool baseline_first = true;
  // With several files and a session that can, the sources are checked in
  // the session's second thread while the annotated texts are: collected at
  // the first step's end.
  bool baseline_aside = false;
  std::string baseline_text;
  std::string first_text;
  std::vector<bool> keep;
  std::vector<bool> trial;  // the fallback under check
  std::vector<bool> best_keep;
  Compile baseline;
  Compile first;
  Compile result;
  bool checked = false;
  bool settled = false;
  size_t best_added = 0;
  size_t best_errors = 0;
  int round = 0;
  int enclosing_round = 0;
  // The halving: the annotations one of which adds errors, the half of them
  // taken out in the text under check, and the compiles left for it.
  std::vector<size_t> suspects;
  size_t half = 0;
  int budget = 0;
  Step step = Step::done;
  std::string text;  // the text the step compiles
  bool failed = false;  // nothing could compile it
};

// The errors a compile of `chosen` has that the source lacks: kvx's.
size_t added_by(const FileCheck& file, const std::vector<bool>& chosen, const Compile& compiled) {
  return errors_not_in_source(file.source, file.output.insertions, chosen, compiled.errors, file.baseline.errors).size();
}

void to_final(FileCheck& file) {
  const std::string final_text = apply_insertions(file.source, file.output.insertions, file.keep);
  if (file.checker.session == nullptr && !file.baseline_first && final_text == file.first_text) {
    file.result = file.first;  // compiled and emitted already
    file.step = Step::done;
    return;
  }
  file.step = Step::final_emit;
  file.text = final_text;
}

// Without the field declarations' help, or with them alone.
void after_no_fields(FileCheck& file) {
  if (!file.settled && file.checked && (file.baseline.errors.size() < file.best_errors || file.best_added > 0)) {
    const std::vector<InlineInsertion>& insertions = file.output.insertions;
    file.trial.assign(insertions.size(), false);
    for (size_t i = 0; i < insertions.size(); ++i) {
      file.trial[i] = file.keep[i] && (insertions[i].kind == INLINE_FIELD || insertions[i].kind == INLINE_MODULE);
    }
    file.keep.assign(insertions.size(), false);
    for (size_t i = 0; i < insertions.size(); ++i) file.keep[i] = insertions[i].kind == INLINE_MODULE;
    if (annotations_kept(file.output, file.trial) > 0) {
      file.step = Step::fields;
      file.text = apply_insertions(file.source, insertions, file.trial);
      return;
    }
  }
  to_final(file);
}

// Never worse than the source as the module it becomes, compared with the
// same flags, and no error of kvx's left: the field declarations alone when
// they do, which mostly remove errors (properties the class never
// declared); else none.
void to_fallbacks(FileCheck& file) {
  file.keep = file.best_keep;
  file.settled = false;
  if (file.checked && (file.baseline.errors.size() < file.best_errors || file.best_added > 0)) {
    // A declared field makes a class's type richer, so an error may stand
    // where an object of another class is assigned in its place, far from
    // any annotation: the annotations without the field declarations first.
    file.trial = file.keep;
    for (size_t i = 0; i < file.output.insertions.size(); ++i) {
      if (file.output.insertions[i].kind == INLINE_FIELD) file.trial[i] = false;
    }
    if (file.trial != file.keep && annotations_kept(file.output, file.trial) > 0) {
      file.step = Step::no_fields;
      file.text = apply_insertions(file.source, file.output.insertions, file.trial);
      return;
    }
  }
  after_no_fields(file);
}

// Keeps the trial when it leaves fewer errors of kvx's (then fewer in all).
bool take_if_better(FileCheck& file, const std::vector<bool>& chosen, const Compile& compiled) {
  const size_t added = added_by(file, chosen, compiled);
  if (added < file.best_added || (added == file.best_added && compiled.errors.size() < file.best_errors)) {
    file.best_keep = chosen;
    file.best_added = added;
    file.best_errors = compiled.errors.size();
    return true;
  }
  return false;
}

// Halving: the suspects' first half taken out when more than one is left,
// else the one left on its own.
void plan_halving(FileCheck& file) {
  if (file.budget <= 0 || file.suspects.empty()) return to_fallbacks(file);
  --file.budget;
  file.trial = file.keep;
  if (file.suspects.size() > 1) {
    file.half = file.suspects.size() / 2;
    for (size_t i = 0; i < file.half; ++i) file.trial[file.suspects[i]] = false;
    file.step = Step::halving;
  } else {
    file.trial[file.suspects[0]] = false;
    file.step = Step::confirm;
  }
  file.text = apply_insertions(file.source, file.output.insertions, file.trial);
}

// Still kvx's errors that no name or place traced: halve the annotations
// left until the one that causes them is found, within a budget of
// compiles, and take it out; again while such errors remain.
void start_halving(FileCheck& file) {
  file.keep = file.best_keep;
  if (!file.checked || file.best_added == 0 || file.budget <= 0) return to_fallbacks(file);
  file.suspects.clear();
  for (size_t i = 0; i < file.output.insertions.size(); ++i) {
    const int kind = file.output.insertions[i].kind;
    if (file.keep[i] && kind != INLINE_MODULE && kind != INLINE_INTERFACES) file.suspects.push_back(i);
  }
  plan_halving(file);
}

// Errors of kvx's that neither the names nor the places trace: the
// annotations of the functions they stand in go, widening to the enclosing
// function when those are gone, rather than every annotation of the file.
void plan_enclosing(FileCheck& file) {
  const std::vector<InlineInsertion>& insertions = file.output.insertions;
  const std::vector<CompilerError> caused =
      errors_not_in_source(file.source, insertions, file.keep, file.result.errors, file.baseline.errors);
  if (caused.empty() || file.enclosing_round >= kMaxEnclosingRounds ||
      drop_enclosing_insertions(file.source, insertions, file.keep, caused, file.output.function_spans) == 0) {
    file.budget = kMaxHalvingCompiles;
    return start_halving(file);
  }
  ++file.enclosing_round;
  file.step = Step::enclosing;
  file.text = apply_insertions(file.source, insertions, file.keep);
}

void to_enclosing(FileCheck& file) {
  file.keep = file.best_keep;
  if (!file.checked || file.best_added == 0) return to_fallbacks(file);
  // The errors of the best text: the text the session holds when it is that one.
  if (apply_insertions(file.source, file.output.insertions, file.keep) != file.checker.held) {
    file.step = Step::enclosing;
    file.text = apply_insertions(file.source, file.output.insertions, file.keep);
    --file.enclosing_round;  // this compile only measures
    return;
  }
  plan_enclosing(file);
}

// Drops the annotations behind the errors of kvx's in the text just checked
// (which the session still holds) and asks for a check of the rest, while
// rounds are left and such errors remain.
void plan_round(FileCheck& file) {
  if (!file.checked || file.round >= kMaxRounds || file.best_added == 0) return to_enclosing(file);
  const std::vector<InlineInsertion>& insertions = file.output.insertions;
  const std::vector<CompilerError> caused =
      errors_not_in_source(file.source, insertions, file.keep, file.result.errors, file.baseline.errors);
  if (caused.empty()) return to_enclosing(file);
  // The names are traced first, then the places.
  const std::string checked_text = apply_insertions(file.source, insertions, file.keep);
  hand_over(file.checker, checked_text);
  std::vector<int> checked_starts = {0};
  for (size_t i = 0; i < checked_text.size(); ++i) {
    if (checked_text[i] == '\n') checked_starts.push_back(static_cast<int>(i) + 1);
  }
  const DeclarationLookup declaration_of = [&](int at) {
    return declared_name_end(file.checker, checked_starts, at);
  };
  std::vector<bool> traced = file.keep;
  int dropped = drop_traced_insertions(file.source, insertions, traced, caused, declaration_of);
  dropped += drop_rejected_insertions(file.source, insertions, file.keep, caused);
  for (size_t i = 0; i < file.keep.size(); ++i) file.keep[i] = file.keep[i] && traced[i];
  if (dropped == 0) return to_enclosing(file);
  file.step = Step::round;
  file.text = apply_insertions(file.source, insertions, file.keep);
}

void after_first(FileCheck& file) {
  file.checked = !file.result.errors.empty() && annotations_kept(file.output, file.keep) > 0;
  // The best round so far: the fewest errors of kvx's, then the fewest in all.
  file.best_keep = file.keep;
  file.best_added = file.result.errors.empty() ? 0 : added_by(file, file.keep, file.result);
  file.best_errors = file.result.errors.size();
  plan_round(file);
}

void begin(FileCheck& file) {
  file.keep.assign(file.output.insertions.size(), true);
  file.first_text = apply_insertions(file.source, file.output.insertions, file.keep);
  // The source as the module the inline file is (its `export {};` added):
  // what a module's strictness and scope change is the source's, not the
  // annotations' doing.
  std::string module_line;
  for (const InlineInsertion& insertion : file.output.insertions) {
    if (insertion.kind == INLINE_MODULE) module_line = insertion.text;
  }
  file.baseline_text = file.source + module_line;
  file.baseline_first = file.checker.session != nullptr;
  file.step = file.baseline_first ? Step::baseline : Step::first;
  file.text = file.baseline_first ? file.baseline_text : file.first_text;
}

// Takes the compile of the step's text and moves to the next step.
void advance(FileCheck& file, Compile compiled) {
  if (compiled.status < 0) {
    file.failed = true;
    file.result = std::move(compiled);
    file.step = Step::done;
    return;
  }
  switch (file.step) {
    case Step::baseline:
      file.baseline = std::move(compiled);
      if (file.baseline_first) {
        file.step = Step::first;
        file.text = file.first_text;
      } else {
        after_first(file);
      }
      return;
    case Step::first:
      file.result = std::move(compiled);
      file.first = file.result;
      if (file.baseline_aside) {
        file.baseline_aside = false;
        const std::optional<SessionCompile> source =
            file.checker.session == nullptr
                ? std::nullopt
                : compiler_session_source_result(*file.checker.session, file.checker.input_path);
        if (!source && file.checker.session != nullptr && !file.checker.session->broken) {
          // The thread failed: the source is checked here, after the annotated text.
          file.baseline_first = false;
          file.step = Step::baseline;
          file.text = file.baseline_text;
          return;
        }
        if (!source) {
          file.failed = true;
          file.result.status = -1;
          file.step = Step::done;
          return;
        }
        file.baseline.status = source->status;
        file.baseline.output = source->output;
        file.baseline.errors = parse_compiler_errors(source->output, file.checker.input_path);
      }
      if (!file.baseline_first && !file.result.errors.empty()) {
        file.step = Step::baseline;
        file.text = file.baseline_text;
        return;
      }
      after_first(file);
      return;
    case Step::round: {
      file.result = std::move(compiled);
      const size_t added = added_by(file, file.keep, file.result);
      if (added < file.best_added || (added == file.best_added && file.result.errors.size() <= file.best_errors)) {
        file.best_keep = file.keep;
        file.best_added = added;
        file.best_errors = file.result.errors.size();
      }
      ++file.round;
      plan_round(file);
      return;
    }
    case Step::enclosing:
      file.result = std::move(compiled);
      take_if_better(file, file.keep, file.result);
      if (file.best_added == 0) return to_fallbacks(file);
      plan_enclosing(file);
      return;
    case Step::halving:
      if (added_by(file, file.trial, compiled) < file.best_added) {
        file.suspects.resize(file.half);
      } else {
        file.suspects.erase(file.suspects.begin(), file.suspects.begin() + static_cast<std::ptrdiff_t>(file.half));
      }
      plan_halving(file);
      return;
    case Step::confirm:
      if (!take_if_better(file, file.trial, compiled) || file.best_added == 0) return to_fallbacks(file);
      start_halving(file);
      return;
    case Step::no_fields:
      if (compiled.errors.size() <= file.baseline.errors.size() && added_by(file, file.trial, compiled) == 0) {
        file.keep = file.trial;
        file.settled = true;
      }
      after_no_fields(file);
      return;
    case Step::fields:
      if (compiled.errors.size() <= file.baseline.errors.size() && added_by(file, file.trial, compiled) == 0) {
        file.keep = file.trial;
      }
      to_final(file);
      return;
    case Step::final_emit:
      file.result = std::move(compiled);
      file.step = Step::done;
      return;
    case Step::done:
      return;
  }
}

// Runs the checks of `files` side by side: every step hands the session the
// next text of each file still in its check, then checks them all in the one
// program those texts make, so that a round re-checks only what changed. A
// file whose final text is the one just checked is emitted in that program,
// where it is checked already.
void run_checks(std::vector<FileCheck>& files) {
  std::vector<FileCheck*> pending;
  for (FileCheck& file : files) {
    if (file.step != Step::done) pending.push_back(&file);
  }
  // The sources in the session's second program, checked there while the
  // first step checks the annotated texts here: on two cores the sources'
  // errors cost no time of their own.
  CompilerSession* session = pending.empty() ? nullptr : pending.front()->checker.session;
  if (pending.size() >= 2 && session != nullptr && session->workers) {
    bool handed = true;
    for (FileCheck* file : pending) {
      if (file->step != Step::baseline || file->checker.session != session) continue;
      if (!compiler_session_source(*session, file->checker.input_path, file->baseline_text)) {
        handed = false;
        break;
      }
      file->baseline_aside = true;
      file->step = Step::first;
      file->text = file->first_text;
    }
    if (handed) handed = compiler_session_check_sources(*session);
    if (!handed) {
      for (FileCheck* file : pending) file->checker.session = nullptr;  // broken
    }
  }
  while (!pending.empty()) {
    for (FileCheck* file : pending) hand_over(file->checker, file->text);
    for (FileCheck* file : pending) {
      const bool emit = file->step == Step::final_emit || (file->step == Step::first && !file->baseline_first);
      advance(*file, compile_text(file->checker, file->text, emit));
      if (file->step == Step::final_emit && file->checker.session != nullptr && file->checker.held == file->text) {
        advance(*file, compile_text(file->checker, file->text, true));
      }
    }
    std::erase_if(pending, [](const FileCheck* file) { return file->step == Step::done; });
  }
  // A file checked before a file it imports changed is checked again as the
  // run leaves it (the session answers the others from what it has).
  for (FileCheck& file : files) {
    if (file.failed || file.checker.session == nullptr) continue;
    const std::optional<SessionCompile> last = compiler_session_check(*file.checker.session, file.checker.input_path, false);
    if (!last || last->output == file.result.output) continue;
    file.result.output = last->output;
    file.result.errors = parse_compiler_errors(last->output, file.checker.input_path);
    file.result.status = last->status == 0 ? 0 : file.result.js ? 2 : 1;
  }
}

FileCheck file_check(const std::string& generated, bool mirrored, std::string source, InlineOutput output,
                     CompilerSession* session) {
  FileCheck file;
  file.checker.session = session;
  file.checker.input_path = generated;
  file.checker.mirrored = mirrored;
  file.source = std::move(source);
  file.output = std::move(output);
  begin(file);
  return file;
}

InlineCheckOutcome outcome_of(FileCheck& file) {
  InlineCheckOutcome outcome;
  outcome.source = std::move(file.source);
  outcome.inline_text = std::move(file.output.text);
  outcome.keep = std::move(file.keep);
  outcome.baseline_errors = static_cast<int>(file.baseline.errors.size());
  outcome.status = file.result.status;
  outcome.output = std::move(file.result.output);
  outcome.errors = static_cast<int>(file.result.errors.size());
  outcome.added = outcome.errors == 0 ? 0
                                      : static_cast<int>(errors_not_in_source(outcome.source, file.output.insertions,
                                                                              outcome.keep, file.result.errors,
                                                                              file.baseline.errors)
                                                             .size());
  outcome.js = std::move(file.result.js);
  outcome.session = file.checker.session != nullptr;
  return outcome;
}

}  // namespace


void inline_check_ahead(CompilerSessionSlot& slot, std::vector<InlineCheckInput> inputs) {
  CompilerSession* session = compiler_session_of(slot);
  if (session == nullptr || inputs.empty()) return;
  std::vector<FileCheck> files;
  files.reserve(inputs.size());
  for (InlineCheckInput& input : inputs) {
    files.push_back(file_check(input.generated, input.mirrored, std::move(input.source), std::move(input.output), session));
    files.back().checker.fallback = false;
  }
  inputs.clear();
  run_checks(files);
  for (FileCheck& file : files) {
    if (file.failed) continue;
    const std::string generated = file.checker.input_path;
    slot.outcomes[generated] = outcome_of(file);
  }
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
  const OutputPath target = options.output_of(path);
  const std::string input_path = target.ts();
  // The run checked the file ahead with the others when it is the same file.
  std::optional<InlineCheckOutcome> outcome;
  if (const auto found = slot.outcomes.find(input_path); found != slot.outcomes.end()) {
    if (found->second.source == source && found->second.inline_text == output.text) outcome = std::move(found->second);
    slot.outcomes.erase(found);
  }
  CompilerSession* session = outcome ? nullptr : compiler_session_of(slot);
  if (!outcome && session == nullptr && !tsc_tools_ready()) return 1;
  std::error_code ignored;
  std::filesystem::create_directory("dist", ignored);

  std::printf(CLR_CYAN "[TSC] Compiling inline %s -> %s...\n" CLR_RESET, input_path.c_str(), target.js().c_str());
  if (!outcome) {
    std::vector<FileCheck> files;
    files.push_back(file_check(input_path, target.mirrored, source, output, session));
    run_checks(files);
    outcome = outcome_of(files.front());
    outcome->source = source;
  }
  const std::vector<bool>& keep = outcome->keep;
  // The final text on disk, and its JavaScript when the session compiled it.
  if (!write_text(input_path, apply_insertions(source, output.insertions, keep))) return 1;
  if (outcome->js) {
    std::filesystem::create_directories(std::filesystem::path(target.js()).parent_path(), ignored);
    if (!write_text(target.js(), *outcome->js)) return 1;
  }

  const int kept = annotations_kept(output, keep);
  std::printf(CLR_CYAN "[INLINE] Annotations: %d written, %d kept, %d dropped.\n" CLR_RESET, output.annotations,
              kept, output.annotations - kept);
  std::fputs(outcome->output.c_str(), stdout);
  // Whose errors remain: those the source has when copied unchanged are its
  // own; only the rest are kvx's.
  const int remaining = outcome->errors;
  const int added = outcome->added;
  const int status = outcome->status;
  if (options.summary != nullptr) {
    InlineRunSummary& summary = *options.summary;
    ++summary.files;
    summary.written += output.annotations;
    summary.kept += kept;
    summary.errors_before += outcome->baseline_errors;
    summary.errors_after += remaining;
    summary.errors_added += added;
    if (status == 0) ++summary.clean;
    summary.session = summary.session || outcome->session;
    summary.files_checked.push_back({path, input_path, output.annotations, kept, outcome->baseline_errors, remaining,
                                     added, status == 0 || status == 2});
  }
  if (status == 0) {
    std::printf(CLR_GREEN "[OK] Final JS built: %s\n" CLR_RESET, target.js().c_str());
    return 0;
  }
  // Emitted (status 2) with only the source's own errors left: the output is
  // what the source gives, and kvx made nothing worse.
  if (status == 2 && added == 0 && remaining > 0) {
    std::printf(CLR_YELLOW "[WARNING] Final JS built: %s with %d compiler error(s), all the source's own "
                           "(kvx's annotations add none).\n" CLR_RESET,
                target.js().c_str(), remaining);
    return 0;
  }
  std::printf(CLR_RED "[ERROR] tsc compilation failed (exit code %d).\n" CLR_RESET, status);
  if (remaining > 0) {
    std::printf(CLR_RED "[ERROR] %d compiler error(s): %d added by kvx's annotations, %d the source's own.\n" CLR_RESET,
                remaining, added, remaining - added);
  }
  cli_error_log("tsc compilation failed");
  return 1;
}
