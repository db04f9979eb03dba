#include "pipeline/source_messages.h"

#include <cstdio>

#include "core/console.h"

namespace {

// The message of a failure that is not the name's nor the open's.
void print_read_failure(const std::string& path, SourceFailure failure) {
  switch (failure) {
    case SourceFailure::unreadable:
      std::printf(CLR_RED "[ERROR] Unable to read '%s'\n" CLR_RESET, path.c_str());
      break;
    case SourceFailure::empty:
      std::printf(CLR_RED "[ERROR] File '%s' is empty (0 bytes).\n" CLR_RESET, path.c_str());
      break;
    case SourceFailure::too_large:
      std::printf(CLR_RED "[ERROR] File '%s' exceeds maximum allowed size (50 MB).\n" CLR_RESET, path.c_str());
      break;
    case SourceFailure::no_memory:
      std::printf(CLR_RED "[ERROR] Memory allocation failed for '%s'\n" CLR_RESET, path.c_str());
      break;
    default:
      break;
  }
}

// The message of a refused name.
void print_name_failure(const std::string& path, SourceFailure failure) {
  if (failure == SourceFailure::multiple_extensions) {
    std::printf(CLR_RED "\n[ERROR] Filename contains multiple .js extensions (.js.js & .js)\n" CLR_RESET);
  } else if (failure == SourceFailure::not_js_name) {
    std::printf(CLR_RED "[ERROR] File '%s' is not a valid JS file.\n" CLR_RESET, path.c_str());
  }
}

}  // namespace

void print_js_file_opened(const std::string& path) {
  std::printf(CLR_GREEN "\n[OK] File '%s' is valid and exists.\n" CLR_RESET, path.c_str());
  std::printf(CLR_GREEN "[OK] Read ready for analysis.\n" CLR_RESET);
}

void print_source_checks(const std::string& path, SourceFailure failure) {
  if (is_name_failure(failure)) {
    print_name_failure(path, failure);
    return;
  }
  if (failure == SourceFailure::cannot_open) {
    std::printf(CLR_RED "\n[ERROR] File '%s' does not exist or cannot be opened.\n" CLR_RESET, path.c_str());
    return;
  }
  print_js_file_opened(path);
  print_read_failure(path, failure);
}

int is_js_file(const std::string& path) {
  const SourceFailure failure = check_js_name(path);
  print_name_failure(path, failure);
  return failure == SourceFailure::none ? 1 : 0;
}
