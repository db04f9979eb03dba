// Source reader: the name check and the whole-file read that guard the
// entrance of the pipeline. They print nothing: each returns why a source is
// refused, and the front end words it (pipeline/source_messages.h).
#pragma once

#include <cstdint>
#include <string>

inline constexpr std::int64_t kMaxSourceBytes = 52428800;  // 50 x 1,048,576

// Why a source is refused, in the order the checks run; none when it is read.
enum class SourceFailure : std::uint8_t {
  none,
  multiple_extensions,  // the name ends in ".js.js"
  not_js_name,          // the name does not end in ".js", or is too short
  cannot_open,          // missing, a folder, or not readable
  unreadable,           // opened, but reading it failed
  empty,                // no bytes, or a size that cannot be determined
  too_large,            // more than kMaxSourceBytes
  no_memory,            // no memory for its text
};

// Whether the failure is one of the name check.
inline bool is_name_failure(SourceFailure failure) {
  return failure == SourceFailure::multiple_extensions || failure == SourceFailure::not_js_name;
}

// The name check: exact, case-sensitive suffix tests on the whole path. A
// path of exactly ".js" passes.
SourceFailure check_js_name(const std::string& path);

// A source's text, or why there is none.
struct SourceRead {
  SourceFailure failure = SourceFailure::none;
  std::string text;  // the whole file with CR LF pairs read as LF
};

// The name check, then the file opened once and read whole.
SourceRead read_js_source(const std::string& path);
