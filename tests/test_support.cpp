#include "test_support.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

#include "pipeline/run.h"
#include "pipeline/transpile.h"

namespace kvx_test {

ScopedWorkDir::ScopedWorkDir() : previous_(std::filesystem::current_path()) {
  std::random_device random;
  for (;;) {
    path_ = std::filesystem::temp_directory_path() /
            ("kvx-test-" + std::to_string(random()) + std::to_string(random()));
    if (std::filesystem::create_directory(path_)) break;
  }
  std::filesystem::current_path(path_);
}

ScopedWorkDir::~ScopedWorkDir() {
  std::error_code error;
  std::filesystem::current_path(previous_, error);
  std::filesystem::remove_all(path_, error);
}

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void write_file(const std::filesystem::path& path, std::string_view content) {
  std::ofstream out(path, std::ios::binary);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

std::vector<int> token_kinds(std::string_view source) {
  std::vector<int> kinds;
  for (const Token& token : tokenize(source).items) kinds.push_back(token.kind);
  return kinds;
}

VarInfo var_record(const std::string& name, int kind, const std::string& interface_name) {
  VarInfo var;
  var.name = name;
  var.type.kind = kind;
  var.type.interface_name = interface_name;
  return var;
}

FuncInfo func_record(const std::string& name, const std::vector<std::string>& params,
                     std::optional<std::string> body) {
  FuncInfo func;
  func.name = name;
  func.param_names = params;
  func.param_types.resize(params.size());
  func.body = std::move(body);
  return func;
}

ObjectInfo object_record(const std::string& name, const std::vector<std::string>& fields) {
  ObjectInfo object;
  object.name = name;
  for (const std::string& field : fields) object.fields->emplace_back(field, TYPE_STRING);
  return object;
}

AnalysisResult analyze_js(std::string_view source, int last_pass) {
  const TokenList tokens = tokenize(source);
  return analyze_source(tokens, source, last_pass);
}

std::string transpile_js(std::string_view source, std::string* console, const std::string& name) {
  write_file(name, source);
  testing::internal::CaptureStdout();
  const int status = run_transpile_single_file(name);
  const std::string printed = testing::internal::GetCapturedStdout();
  if (console != nullptr) *console = printed;
  if (status != 0) return "";
  std::string stem = name.substr(name.find_last_of("/\\") == std::string::npos
                                     ? 0
                                     : name.find_last_of("/\\") + 1);
  if (stem.size() > 3 && stem.ends_with(".js")) stem.resize(stem.size() - 3);
  return read_file("generated/" + stem + ".ts");
}

std::string shell_quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

int run_shell(const std::string& command, std::string* output, const std::string& stdin_text) {
  const std::filesystem::path input_file =
      std::filesystem::temp_directory_path() / ("kvx-stdin-" + std::to_string(::getpid()));
  write_file(input_file, stdin_text);
  const std::string redirected = command + " < " + shell_quote(input_file.string()) + " 2>&1";

  std::string printed;
  int status = -1;
  if (std::FILE* pipe = ::popen(redirected.c_str(), "r")) {
    char buffer[4096];
    size_t read = 0;
    while ((read = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) printed.append(buffer, read);
    status = ::pclose(pipe);
  }
  std::filesystem::remove(input_file);
  if (output != nullptr) *output = printed;
  return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int run_kvx(const std::vector<std::string>& args, std::string* output, const std::string& stdin_text) {
  std::string command = shell_quote(KVX_BINARY_PATH);
  for (const std::string& arg : args) command += " " + shell_quote(arg);
  return run_shell(command, output, stdin_text);
}

}  // namespace kvx_test
