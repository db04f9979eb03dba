// Fake `node` and `npx` scripts put first on PATH for the lifetime of the
// object, so the compile step can be driven without the real tools.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace kvx_test {

class FakeTools {
 public:
  FakeTools() {
    std::random_device random;
    for (;;) {
      dir_ = std::filesystem::temp_directory_path() /
             ("kvx-fake-tools-" + std::to_string(random()) + std::to_string(random()));
      if (std::filesystem::create_directory(dir_)) break;
    }
    const std::string d = dir_.string();
    write_script("node",
                 "#!/bin/sh\n"
                 "if [ -f '" + d + "/node_missing' ]; then exit 1; fi\n"
                 "echo v20.0.0-fake\n");
    // "npx tsc -v" answers the probe; every other call is taken as the
    // compiler run: its arguments are recorded one per line.
    write_script("npx",
                 "#!/bin/sh\n"
                 "if [ \"$1\" = tsc ] && [ \"$2\" = -v ]; then\n"
                 "  if [ -f '" + d + "/tsc_missing' ]; then exit 1; fi\n"
                 "  echo 'Version 0.0.0-fake'; exit 0\n"
                 "fi\n"
                 ": > '" + d + "/npx_args'\n"
                 "for a in \"$@\"; do printf '%s\\n' \"$a\" >> '" + d + "/npx_args'; done\n"
                 "echo fake-compiler-output\n"
                 "status=0\n"
                 "if [ -f '" + d + "/npx_status' ]; then status=$(cat '" + d + "/npx_status'); fi\n"
                 "exit $status\n");
    const char* path = std::getenv("PATH");
    had_path_ = path != nullptr;
    if (had_path_) old_path_ = path;
    ::setenv("PATH", (d + ":" + old_path_).c_str(), 1);
  }

  ~FakeTools() {
    if (had_path_) {
      ::setenv("PATH", old_path_.c_str(), 1);
    } else {
      ::unsetenv("PATH");
    }
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  FakeTools(const FakeTools&) = delete;
  FakeTools& operator=(const FakeTools&) = delete;

  void node_missing() { touch("node_missing", ""); }
  void tsc_missing() { touch("tsc_missing", ""); }
  void compiler_exits_with(int status) { touch("npx_status", std::to_string(status) + "\n"); }

  // The arguments of the compiler run, or nothing when it did not run.
  std::vector<std::string> compiler_args() const {
    std::vector<std::string> args;
    std::ifstream in(dir_ / "npx_args");
    std::string line;
    while (std::getline(in, line)) args.push_back(line);
    return args;
  }
  bool compiler_ran() const { return std::filesystem::exists(dir_ / "npx_args"); }

 private:
  void touch(const std::string& name, const std::string& content) {
    std::ofstream(dir_ / name) << content;
  }
  void write_script(const std::string& name, const std::string& text) {
    touch(name, text);
    std::filesystem::permissions(dir_ / name, std::filesystem::perms::owner_all |
                                                  std::filesystem::perms::group_read |
                                                  std::filesystem::perms::group_exec);
  }

  std::filesystem::path dir_;
  std::string old_path_;
  bool had_path_ = false;
};

}  // namespace kvx_test
