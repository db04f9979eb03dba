#include "tsx/tsx_engine.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <optional>

#include "core/console.h"
#include "core/filesystem.h"
#include "core/workspace_log.h"

namespace {

constexpr std::string_view kWeakAnnotation = ": any";
constexpr std::string_view kTightAnnotation = ": unknown";

bool is_word_byte(char c) {
  const unsigned char b = static_cast<unsigned char>(c);
  return std::isalnum(b) != 0 || c == '_' || c == '$' || b >= 0x80;
}

// After these words a `/` starts a regular expression, not a division.
bool word_before_expression(std::string_view word) {
  for (std::string_view keyword : {"return", "typeof", "case", "do", "else", "in", "of", "new", "delete",
                                   "void", "throw", "instanceof", "yield", "await"}) {
    if (word == keyword) return true;
  }
  return false;
}

// The end of the regular expression whose opening `/` is at `open`: the index
// just past its closing `/` and flags, or npos when the line ends first (then
// the `/` was a division).
size_t regex_end(std::string_view text, size_t open) {
  bool in_class = false;
  for (size_t i = open + 1; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\n' || c == '\r') return std::string_view::npos;
    if (c == '\\') {
      ++i;
    } else if (c == '[') {
      in_class = true;
    } else if (c == ']') {
      in_class = false;
    } else if (c == '/' && !in_class) {
      ++i;
      while (i < text.size() && is_word_byte(text[i])) ++i;
      return i;
    }
  }
  return std::string_view::npos;
}

}  // namespace

std::vector<bool> tsx_code_bytes(std::string_view text) {
  std::vector<bool> code(text.size(), true);
  // What the last code token was, to tell a regular expression from a
  // division: an operand (name, number, closing bracket) is followed by a
  // division.
  bool after_operand = false;
  std::string_view last_word;
  long braces = 0;
  std::vector<long> template_braces;  // brace depth at each open `${`
  auto skip = [&](size_t from, size_t to) {
    for (size_t k = from; k < to && k < text.size(); ++k) code[k] = false;
  };
  // Scans a template's text from `i` (just past its backquote or a `}` that
  // closes a placeholder) up to its end or its next `${`; returns the index
  // to go on from.
  auto template_text = [&](size_t i) {
    size_t k = i;
    while (k < text.size()) {
      if (text[k] == '\\') {
        k += 2;
      } else if (text[k] == '`') {
        skip(i, k + 1);
        after_operand = true;
        return k + 1;
      } else if (text[k] == '$' && k + 1 < text.size() && text[k + 1] == '{') {
        skip(i, k);
        template_braces.push_back(braces);
        ++braces;
        after_operand = false;
        return k + 2;
      } else {
        ++k;
      }
    }
    skip(i, text.size());
    return text.size();
  };

  size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    const char next = i + 1 < text.size() ? text[i + 1] : '\0';
    if (c == '/' && next == '/') {
      size_t end = text.find('\n', i);
      if (end == std::string_view::npos) end = text.size();
      skip(i, end);
      i = end;
      continue;
    }
    if (c == '/' && next == '*') {
      size_t end = text.find("*/", i + 2);
      end = end == std::string_view::npos ? text.size() : end + 2;
      skip(i, end);
      i = end;
      continue;
    }
    if (c == '\'' || c == '"') {
      size_t k = i + 1;
      while (k < text.size() && text[k] != c && text[k] != '\n') k += text[k] == '\\' ? 2 : 1;
      k = std::min(k + 1, text.size());
      skip(i, k);
      i = k;
      after_operand = true;
      continue;
    }
    if (c == '`') {
      code[i] = false;
      i = template_text(i + 1);
      continue;
    }
    if (c == '/') {
      const bool regex = !after_operand || word_before_expression(last_word);
      const size_t end = regex ? regex_end(text, i) : std::string_view::npos;
      if (end != std::string_view::npos) {
        skip(i, end);
        i = end;
        after_operand = true;
        last_word = {};
        continue;
      }
    }
    if (is_word_byte(c)) {
      size_t k = i;
      while (k < text.size() && is_word_byte(text[k])) ++k;
      last_word = text.substr(i, k - i);
      after_operand = true;
      i = k;
      continue;
    }
    if (std::isspace(static_cast<unsigned char>(c)) == 0) {
      last_word = {};
      after_operand = c == ')' || c == ']';
      if (c == '{') ++braces;
      if (c == '}') {
        --braces;
        if (!template_braces.empty() && braces == template_braces.back()) {
          template_braces.pop_back();
          i = template_text(i + 1);
          continue;
        }
      }
    }
    ++i;
  }
  return code;
}

std::string get_stem_name(const std::string& path) {
  // Built in a 512-byte name buffer.
  constexpr size_t kStemBuffer = 512;
  return file_stem(path, kStemBuffer - 1);
}

int tsx_validate_syntax(std::string_view text) {
  long braces = 0;
  long parens = 0;
  char quote = 0;  // the character that opened the current string, or 0
  bool line_comment = false;

  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (line_comment) {
      if (c == '\n') line_comment = false;
      continue;
    }
    if (quote != 0) {
      if (c == '\\' && i + 1 < text.size()) {
        ++i;  // the escaped character cannot close the string
      } else if (c == quote) {
        quote = 0;
      }
      continue;
    }
    if (c == '/' && i + 1 < text.size() && text[i + 1] == '/') {
      line_comment = true;
      ++i;
      continue;
    }
    switch (c) {
      case '"':
      case '\'':
      case '`':
        quote = c;
        break;
      case '{':
        ++braces;
        break;
      case '}':
        --braces;
        break;
      case '(':
        ++parens;
        break;
      case ')':
        --parens;
        break;
      default:
        break;
    }
  }
  return braces == 0 && parens == 0 ? 1 : 0;
}

std::string tsx_harden_line(std::string_view line) {
  if (line.find("catch (") != std::string_view::npos || line.find("catch(") != std::string_view::npos) {
    return std::string(line);
  }
  std::string out;
  out.reserve(line.size());
  size_t pos = 0;
  for (;;) {
    const size_t found = line.find(kWeakAnnotation, pos);
    if (found == std::string_view::npos) break;
    out.append(line.substr(pos, found - pos));
    out.append(kTightAnnotation);
    pos = found + kWeakAnnotation.size();
  }
  out.append(line.substr(pos));
  return out;
}

namespace {

// One line of the generated text hardened where it is code; `start` is the
// line's offset in the text that `code` describes.
std::string harden_code_of_line(std::string_view line, const std::vector<bool>& code, size_t start) {
  // The catch rule looks at the whole line, as for a plain line.
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
    if (is_code) {
      out += tsx_harden_line(part);
    } else {
      out += part;
    }
    from = to;
  }
  return out;
}

}  // namespace

int tsx_enhance_and_secure_ts(const std::string& path) {
  const std::string ts_path = "generated/" + get_stem_name(path) + ".ts";
  std::printf(CLR_CYAN "[TSX] Hardening %s...\n" CLR_RESET, ts_path.c_str());

  const std::optional<std::string> text = read_file_text(ts_path, true);
  if (!text) {
    std::printf(CLR_RED "[ERROR] TSX engine cannot read '%s'.\n" CLR_RESET, ts_path.c_str());
    cli_error_log("TSX engine: cannot read " + ts_path);
    return 1;
  }

  // `: any` inside a string, template or regular expression or a comment is
  // the program's text, not an annotation: only the code around it is
  // hardened.
  const std::vector<bool> code = tsx_code_bytes(*text);

  // Lines are split at '\n' only, so a "\r\n" file keeps its line ends byte
  // for byte.
  std::string hardened;
  hardened.reserve(text->size() + text->size() / 4);
  long tightened = 0;
  size_t start = 0;
  while (start <= text->size()) {
    size_t end = text->find('\n', start);
    const bool last = end == std::string::npos;
    if (last) end = text->size();
    const std::string_view line(text->data() + start, end - start);
    const std::string out = harden_code_of_line(line, code, start);
    tightened += static_cast<long>((out.size() - line.size()) /
                                   (kTightAnnotation.size() - kWeakAnnotation.size()));
    hardened += out;
    if (last) break;
    hardened += '\n';
    start = end + 1;
  }

  // The count includes braces inside regular expressions and block comments,
  // which copied function bodies often hold: an imbalance is worth a warning,
  // but the compiler is the judge.
  if (tsx_validate_syntax(hardened) == 0) {
    std::printf(CLR_YELLOW "[WARNING] Unbalanced braces or parentheses in %s; handing it to tsc "
                           "anyway.\n" CLR_RESET,
                ts_path.c_str());
    cli_error_log("TSX engine: unbalanced braces or parentheses in " + ts_path);
  }

  // Written beside the file and renamed over it (bytes kept as they are): the
  // file holds either the generated or the hardened text, never half of one.
  std::string reason;
  if (hardened != *text && !replace_file_text(ts_path, hardened, reason, true)) {
    std::printf(CLR_RED "[ERROR] TSX engine cannot write '%s' (%s).\n" CLR_RESET, ts_path.c_str(),
                reason.c_str());
    cli_error_log("TSX engine: cannot write " + ts_path);
    return 1;
  }

  std::printf(CLR_GREEN "[OK] TSX hardening done: %ld annotation(s) tightened to unknown.\n" CLR_RESET,
              tightened);
  return 0;
}
