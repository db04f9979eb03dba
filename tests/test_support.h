// Shared helpers of the test suite.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/analyzer.h"
#include "core/tokenizer.h"

namespace kvx_test {

// A fresh temporary folder that is the working directory for the lifetime of
// the object; the previous working directory is restored and the folder
// removed afterwards.
class ScopedWorkDir {
 public:
  ScopedWorkDir();
  ~ScopedWorkDir();
  ScopedWorkDir(const ScopedWorkDir&) = delete;
  ScopedWorkDir& operator=(const ScopedWorkDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path previous_;
  std::filesystem::path path_;
};

std::string read_file(const std::filesystem::path& path);
void write_file(const std::filesystem::path& path, std::string_view content);

// The kind codes of the tokens of a source text.
std::vector<int> token_kinds(std::string_view source);

// Analysis records written by hand. A function's parameters start untyped;
// an object's fields are all strings.
VarInfo var_record(const std::string& name, int kind = TYPE_NONE, const std::string& interface_name = "");
FuncInfo func_record(const std::string& name, const std::vector<std::string>& params,
                     std::optional<std::string> body = std::nullopt);
ObjectInfo object_record(const std::string& name, const std::vector<std::string>& fields);

// The analysis result of a source text after the declaration scan, the
// structure capture and the passes 3 to last_pass.
AnalysisResult analyze_js(std::string_view source, int last_pass = 10);

// Runs the whole single-file pipeline on `source` saved as <name> in the
// current working directory and returns generated/<stem>.ts ("" when it was
// not written). `console` receives what the pipeline printed.
std::string transpile_js(std::string_view source, std::string* console = nullptr,
                         const std::string& name = "input.js");

// `text` quoted as one word of a POSIX shell command line.
std::string shell_quote(const std::string& text);

// Runs a POSIX shell command line in the current working directory with
// `stdin_text` on its standard input; returns its exit status (-1 when it did
// not exit normally) and fills `output` with standard output and error.
int run_shell(const std::string& command, std::string* output = nullptr, const std::string& stdin_text = "");

// Runs the built kvx binary with arguments in the current working directory;
// returns its exit status and fills `output` with standard output and error.
// `stdin_text` is fed to its standard input.
int run_kvx(const std::vector<std::string>& args, std::string* output = nullptr,
            const std::string& stdin_text = "");

}  // namespace kvx_test
