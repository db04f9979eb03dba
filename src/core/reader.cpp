#include "core/reader.h"

#include <cstdio>
#include <filesystem>
#include <new>
#include <system_error>

#include "core/console.h"

namespace {

bool ends_with(const std::string& text, const char* suffix) {
  return text.ends_with(suffix);
}

// A folder opens as a stream on POSIX but not on Windows; refuse it on both so
// that a folder named like a source file is reported, not read.
std::ifstream open_regular_file(const std::string& path) {
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) return std::ifstream();
  return std::ifstream(path, std::ios::binary);
}

enum class ReadFailure { none, cannot_open, empty, too_large, no_memory };

// The whole file with CR LF pairs read as LF into `text`, or why not.
ReadFailure read_text(const std::string& path, std::string& text) {
  std::ifstream stream = open_regular_file(path);
  if (!stream.is_open()) return ReadFailure::cannot_open;
  stream.seekg(0, std::ios::end);
  const std::streamoff size = stream.tellg();
  stream.seekg(0, std::ios::beg);
  // A size that cannot be determined (a folder, a pipe) reads as empty.
  if (size <= 0) return ReadFailure::empty;
  if (size > kMaxSourceBytes) return ReadFailure::too_large;
  try {
    text.resize(static_cast<size_t>(size));
  } catch (const std::bad_alloc&) {
    return ReadFailure::no_memory;
  }
  stream.read(text.data(), size);
  text.resize(static_cast<size_t>(stream.gcount()));

  // Both builds read the way a Windows text-mode stream does: a CR LF pair
  // arrives as one LF, so the text ends up shorter than the file.
  size_t out = 0;
  for (size_t in = 0; in < text.size(); ++in) {
    if (text[in] == '\r' && in + 1 < text.size() && text[in + 1] == '\n') continue;
    text[out++] = text[in];
  }
  text.resize(out);
  return ReadFailure::none;
}

}  // namespace

bool has_js_name(const std::string& path) {
  return !(path.size() > 5 && ends_with(path, ".js.js")) && path.size() > 2 && ends_with(path, ".js");
}

int is_js_file(const std::string& path) {
  if (path.size() > 5 && ends_with(path, ".js.js")) {
    std::printf(CLR_RED "\n[ERROR] Filename contains multiple .js extensions (.js.js & .js)\n" CLR_RESET);
    return 0;
  }
  if (!has_js_name(path)) {
    std::printf(CLR_RED "[ERROR] File '%s' is not a valid JS file.\n" CLR_RESET, path.c_str());
    return 0;
  }
  return 1;
}

void print_js_file_opened(const std::string& path) {
  std::printf(CLR_GREEN "\n[OK] File '%s' is valid and exists.\n" CLR_RESET, path.c_str());
  std::printf(CLR_GREEN "[OK] Read ready for analysis.\n" CLR_RESET);
}

std::ifstream open_js_file(const std::string& path) {
  std::ifstream stream = open_regular_file(path);
  if (!stream.is_open()) {
    std::printf(CLR_RED "\n[ERROR] File '%s' does not exist or cannot be opened.\n" CLR_RESET, path.c_str());
    return stream;
  }
  print_js_file_opened(path);
  return stream;
}

std::optional<std::string> read_js_content(const std::string& path) {
  std::string text;
  switch (read_text(path, text)) {
    case ReadFailure::none:
      return text;
    case ReadFailure::cannot_open:
      std::printf(CLR_RED "[ERROR] Unable to read '%s'\n" CLR_RESET, path.c_str());
      break;
    case ReadFailure::empty:
      std::printf(CLR_RED "[ERROR] File '%s' is empty (0 bytes).\n" CLR_RESET, path.c_str());
      break;
    case ReadFailure::too_large:
      std::printf(CLR_RED "[ERROR] File '%s' exceeds maximum allowed size (50 MB).\n" CLR_RESET, path.c_str());
      break;
    case ReadFailure::no_memory:
      std::printf(CLR_RED "[ERROR] Memory allocation failed for '%s'\n" CLR_RESET, path.c_str());
      break;
  }
  return std::nullopt;
}

std::optional<std::string> read_js_source_quietly(const std::string& path) {
  if (!has_js_name(path) || !open_regular_file(path).is_open()) return std::nullopt;
  std::string text;
  if (read_text(path, text) != ReadFailure::none) return std::nullopt;
  return text;
}
