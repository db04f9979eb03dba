#include "tsx/tsx_engine.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "core/console.h"
#include "core/filesystem.h"
#include "core/tokenizer.h"
#include "core/workspace_log.h"

namespace {

constexpr std::string_view kWeakAnnotation = ": any";
constexpr std::string_view kTightAnnotation = ": unknown";

}  // namespace

std::vector<bool> tsx_code_bytes(std::string_view text) {
  // What is code is what the tokenizer reads as code, the lexer every other
  // stage reads the program with: the bytes of string, template-text and
  // regular-expression tokens are not code, nor the comments between tokens.
  // A template's `${` and the `}` that closes it are code, like the
  // placeholder between them.
  std::vector<bool> code(text.size(), true);
  auto skip = [&](size_t from, size_t to) {
    for (size_t k = from; k < to && k < text.size(); ++k) code[k] = false;
  };
  // Between two tokens lie only blanks and comments.
  auto skip_comments = [&](size_t from, size_t to) {
    size_t k = from;
    while (k + 1 < to) {
      if (text[k] != '/' || (text[k + 1] != '/' && text[k + 1] != '*')) {
        ++k;
        continue;
      }
      size_t end = text[k + 1] == '/' ? text.find('\n', k) : text.find("*/", k + 2);
      end = end == std::string_view::npos ? to : std::min(to, text[k + 1] == '/' ? end : end + 2);
      skip(k, end);
      k = end;
    }
  };
  const char* base = text.data();
  size_t gap = 0;  // where the last token ended
  // A hashbang line, which the tokenizer skips like a comment.
  const size_t bom = text.starts_with("\xEF\xBB\xBF") ? 3 : 0;
  if (text.substr(bom, 2) == "#!") {
    gap = std::min(text.find('\n', bom), text.size());
    skip(bom, gap);
  }
  tokenize_split_templates(text, [&](const Token& token) {
    const size_t start = static_cast<size_t>(token_start(base, token));
    const size_t end = static_cast<size_t>(token_end(base, token));
    skip_comments(gap, start);
    gap = end;
    if (token.kind == TK_REGEX) {
      skip(start, end);
    } else if (token.kind == TK_STRING) {
      const bool after_placeholder = token.lead == 1 && text[start] == '}';
      const bool before_placeholder = token.trail == 2;  // `${`
      skip(after_placeholder ? start + 1 : start, before_placeholder ? end - 2 : end);
    }
  });
  skip_comments(gap, text.size());
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
  return tsx_harden_file("generated/" + get_stem_name(path) + ".ts");
}

int tsx_harden_file(const std::string& ts_path) {
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
