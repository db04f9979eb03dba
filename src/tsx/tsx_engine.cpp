#include "tsx/tsx_engine.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "cli/cli_system.h"
#include "core/console.h"
#include "core/filesystem.h"

namespace {

// The same 512-byte name buffer the compile step uses, so both find one file.
constexpr size_t kStemBufferSize = 512;

constexpr std::string_view kWeakAnnotation = ": any";
constexpr std::string_view kTightAnnotation = ": unknown";

std::optional<std::string> read_whole_file(const std::string& path) {
  std::error_code ignored;
  if (std::filesystem::is_directory(path, ignored)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in.is_open()) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return text.str();
}

}  // namespace

std::string get_stem_name(const std::string& path, size_t size) {
  if (size == 0) return {};
  const size_t slash = path.rfind('/');
  const size_t backslash = path.rfind('\\');
  size_t name_start = 0;
  if (slash != std::string::npos) name_start = slash + 1;
  if (backslash != std::string::npos && backslash + 1 > name_start) name_start = backslash + 1;

  std::string stem = path.substr(name_start, size - 1);
  if (stem.size() >= 4 && stem.ends_with(".js")) stem.resize(stem.size() - 3);
  return stem;
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

std::string tsx_harden_line(std::string_view line, size_t size) {
  std::string out;
  if (size == 0) return out;
  const size_t room = size - 1;

  if (line.find("catch (") != std::string_view::npos ||
      line.find("catch(") != std::string_view::npos) {
    out.assign(line.substr(0, room));
    return out;
  }

  size_t pos = 0;
  while (pos < line.size() && out.size() < room) {
    const size_t found = line.find(kWeakAnnotation, pos);
    const size_t stretch_end = found == std::string_view::npos ? line.size() : found;
    out.append(line.substr(pos, std::min(stretch_end - pos, room - out.size())));
    if (found == std::string_view::npos) break;
    // A replacement goes in whole or not at all; the text after it still
    // fills the room that is left.
    if (room - out.size() >= kTightAnnotation.size()) out.append(kTightAnnotation);
    pos = found + kWeakAnnotation.size();
  }
  return out;
}

int tsx_enhance_and_secure_ts(const std::string& path) {
  const std::string ts_path = "generated/" + get_stem_name(path, kStemBufferSize) + ".ts";
  std::printf(CLR_CYAN "[TSX] Hardening %s...\n" CLR_RESET, ts_path.c_str());

  const std::optional<std::string> text = read_whole_file(ts_path);
  if (!text) {
    std::printf(CLR_RED "[ERROR] TSX engine cannot read '%s'.\n" CLR_RESET, ts_path.c_str());
    cli_error_log("TSX engine: cannot read " + ts_path);
    return 1;
  }

  // Lines are split at '\n' only, so a "\r\n" file keeps its line ends byte
  // for byte. Each line gets room for every ": any" to grow into ": unknown",
  // so nothing is ever cut.
  std::string hardened;
  hardened.reserve(text->size() + text->size() / 4);
  long tightened = 0;
  size_t start = 0;
  while (start <= text->size()) {
    size_t end = text->find('\n', start);
    const bool last = end == std::string::npos;
    if (last) end = text->size();
    const std::string_view line(text->data() + start, end - start);
    const std::string out = tsx_harden_line(line, line.size() * 2 + 1);
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
