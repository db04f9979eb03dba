#include "core/reader.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <new>
#include <system_error>

SourceFailure check_js_name(const std::string& path) {
  if (path.size() > 5 && path.ends_with(".js.js")) return SourceFailure::multiple_extensions;
  if (path.size() <= 2 || !path.ends_with(".js")) return SourceFailure::not_js_name;
  return SourceFailure::none;
}

SourceRead read_js_source(const std::string& path) {
  SourceRead read;
  read.failure = check_js_name(path);
  if (read.failure != SourceFailure::none) return read;

  // A folder opens as a stream on POSIX but not on Windows; refuse it on both
  // so that a folder named like a source file is reported, not read.
  std::error_code error;
  std::ifstream stream;
  if (!std::filesystem::is_directory(path, error)) stream.open(path, std::ios::binary);
  if (!stream.is_open()) {
    read.failure = SourceFailure::cannot_open;
    return read;
  }
  stream.seekg(0, std::ios::end);
  const std::streamoff size = stream.tellg();
  stream.seekg(0, std::ios::beg);
  // A size that cannot be determined (a pipe) reads as empty.
  if (size <= 0) {
    read.failure = SourceFailure::empty;
    return read;
  }
  if (size > kMaxSourceBytes) {
    read.failure = SourceFailure::too_large;
    return read;
  }
  std::string& text = read.text;
  try {
    text.resize(static_cast<size_t>(size));
  } catch (const std::bad_alloc&) {
    read.failure = SourceFailure::no_memory;
    return read;
  }
  stream.read(text.data(), size);
  if (stream.bad()) {
    text = {};
    read.failure = SourceFailure::unreadable;
    return read;
  }
  text.resize(static_cast<size_t>(stream.gcount()));

  // Both builds read the way a Windows text-mode stream does: a CR LF pair
  // arrives as one LF, so the text ends up shorter than the file. The bytes
  // before the first CR stay where they are (most files have none).
  size_t out = std::min(text.find('\r'), text.size());
  for (size_t in = out; in < text.size(); ++in) {
    if (text[in] == '\r' && in + 1 < text.size() && text[in + 1] == '\n') continue;
    text[out++] = text[in];
  }
  text.resize(out);
  return read;
}
