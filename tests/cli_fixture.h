// Fixtures of the command-line tests: an environment variable set for one
// scope, what a command printed, and workspace files that may be absent.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>

#include "test_support.h"

namespace cli_test {

// Sets an environment variable (removes it for nullopt) for the lifetime of
// the object, then puts the old value back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    set(value);
  }
  ~ScopedEnv() { set(old_); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  void set(const std::optional<std::string>& value) {
    if (value) {
      ::setenv(name_, value->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
    ::tzset();  // so that a change of TZ is seen by the next time conversion
  }
  const char* name_;
  std::optional<std::string> old_;
};

// The content of a file, or nullopt when it does not exist.
inline std::optional<std::string> file_or_none(const std::filesystem::path& path) {
  if (!std::filesystem::exists(path)) return std::nullopt;
  return kvx_test::read_file(path);
}

// Everything `action` prints to standard output.
template <typename Action>
std::string capture(Action action) {
  testing::internal::CaptureStdout();
  action();
  return testing::internal::GetCapturedStdout();
}

}  // namespace cli_test
