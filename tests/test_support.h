// Shared helpers of the test suite.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
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
// Writes `content` to `path`, creating its folders.
void write_file(const std::filesystem::path& path, std::string_view content);

// The kind codes of the tokens of a source text.
std::vector<int> token_kinds(std::string_view source);
// The same as their names, space-separated: "const identifier = number ;".
std::string token_kind_names(std::string_view source);

// Types written as TypeScript text, so that a test reads as the output would:
//   "any"                        nothing inferred yet
//   "number" "string" "boolean" "void" "unknown" "Response" "ReadStream"
//   "Promise<void>" "object"     kinds without further detail
//   "number[]" "Set<string>"     arrays and sets with their element kind
//   "(number | string)[]"        an array of union elements with their members
//   "Map<string, number>"        maps with their key and value kinds
//   "number | string"            a union of those members, in order
//   "(number)" "never"           a union of one member, of none
//   "{ a: number; b: object }"   an object with fields
//   "Interface"                  an interface type (described by its name when
//                                it has one)
//   any other name               a named type ("fs.Stats"; "NamedType" when it
//                                has no text)
// Members, elements and fields are kinds alone: an array member is "any[]",
// a union member or element of kind union is "never".
std::string type_text(const TypeInfo& type);
TypeInfo parse_type_text(std::string_view text);
// The text of a kind alone, and back.
std::string kind_text(int kind);
TypeKind kind_of_text(std::string_view text);
// A type from its text, for records written by hand: ts("number | string").
inline TypeInfo ts(std::string_view text) { return parse_type_text(text); }

// Records as "name: type", joined by ", ":
//   "count: number, f: { id: number } | string"
// and back: parse_named_types gives the names with their types; a name
// without ": type" has "any" (nothing inferred). A name may start with ! or ?
// (kept in the name).
std::string describe_named_types(const std::vector<std::pair<std::string, TypeInfo>>& records);
std::vector<std::pair<std::string, TypeInfo>> parse_named_types(std::string_view text);

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

// The pinned compiler's output on `files` (paths separated by spaces) with
// `flags`, Node's types from .ci/tools, nothing emitted.
std::string pinned_tsc_output(const std::string& flags, const std::string& files);

// Runs the built kvx binary with arguments in the current working directory;
// returns its exit status and fills `output` with standard output and error.
// `stdin_text` is fed to its standard input.
int run_kvx(const std::vector<std::string>& args, std::string* output = nullptr,
            const std::string& stdin_text = "");

}  // namespace kvx_test
