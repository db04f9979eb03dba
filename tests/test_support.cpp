#include "test_support.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

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
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

std::vector<int> token_kinds(std::string_view source) {
  std::vector<int> kinds;
  for (const Token& token : tokenize(source).items) kinds.push_back(token.kind);
  return kinds;
}

std::string token_kind_names(std::string_view source) {
  std::string names;
  for (const Token& token : tokenize(source).items) {
    if (!names.empty()) names += ' ';
    names += ::token_kind_name(token.kind);
  }
  return names;
}

namespace {

struct KindWord {
  TypeKind kind;
  const char* text;
};

// Kinds alone; each text names exactly one kind.
constexpr KindWord kKindWords[] = {
    {TYPE_NONE, "any"},         {TYPE_NUMBER, "number"},       {TYPE_STRING, "string"},
    {TYPE_BOOLEAN, "boolean"},  {TYPE_UNION, "never"},         {TYPE_VOID, "void"},
    {TYPE_OBJECT, "object"},    {TYPE_ARRAY, "any[]"},         {TYPE_UNKNOWN, "unknown"},
    {TYPE_RESPONSE, "Response"}, {TYPE_READSTREAM, "ReadStream"}, {TYPE_INTERFACE, "Interface"},
    {TYPE_SET, "Set<any>"},     {TYPE_PROMISE, "Promise<void>"}, {TYPE_MAP, "Map<any, any>"},
    {TYPE_NAMED, "NamedType"},  // a named type without its text
};

[[noreturn]] void bad_text(std::string_view text, size_t pos) {
  throw std::invalid_argument("bad type text at " + std::to_string(pos) + ": " + std::string(text));
}

// A recursive-descent reader of the notation above.
struct TypeTextReader {
  std::string_view text;
  size_t pos = 0;

  bool at_end() const { return pos >= text.size(); }
  void skip_spaces() {
    while (!at_end() && text[pos] == ' ') ++pos;
  }
  bool take(std::string_view word) {
    skip_spaces();
    if (text.substr(pos).starts_with(word)) {
      pos += word.size();
      return true;
    }
    return false;
  }
  void expect(std::string_view word) {
    if (!take(word)) bad_text(text, pos);
  }

  // A name: letters, digits, _ $ # . ! ?
  std::string name() {
    skip_spaces();
    const size_t start = pos;
    while (!at_end() && (std::isalnum(static_cast<unsigned char>(text[pos])) || text[pos] == '_' ||
                         text[pos] == '$' || text[pos] == '#' || text[pos] == '.' ||
                         ((text[pos] == '!' || text[pos] == '?') && pos == start))) {
      ++pos;
    }
    if (pos == start) bad_text(text, pos);
    return std::string(text.substr(start, pos - start));
  }

  // A kind alone: one of kKindWords, longest first so that "any[]" wins over "any".
  TypeKind kind() {
    skip_spaces();
    const KindWord* best = nullptr;
    for (const KindWord& word : kKindWords) {
      const std::string_view candidate = word.text;
      if (text.substr(pos).starts_with(candidate) && (best == nullptr || candidate.size() > std::strlen(best->text))) {
        best = &word;
      }
    }
    if (best == nullptr) bad_text(text, pos);
    pos += std::strlen(best->text);
    return best->kind;
  }

  // One type: a union of members, or a single non-union type.
  TypeInfo type() {
    skip_spaces();
    TypeInfo single;
    if (take("(")) {
      // "(number)" a union of one member; "(number | string)[]" an array of them.
      single.kind = TYPE_UNION;
      do {
        if (single.member_count == kMaxUnionMembers) bad_text(text, pos);
        single.members[static_cast<size_t>(single.member_count++)] = kind();
      } while (take("|"));
      expect(")");
      if (take("[]")) {
        single.kind = TYPE_ARRAY;
        single.element_kind = TYPE_UNION;
      } else if (single.member_count != 1) {
        bad_text(text, pos);
      }
      return single;
    }
    const size_t start = pos;
    single = non_union();
    skip_spaces();
    if (!text.substr(pos).starts_with("|")) return single;
    // A union: the members are kinds alone; read again from the start.
    pos = start;
    TypeInfo type;
    type.kind = TYPE_UNION;
    do {
      if (type.member_count == kMaxUnionMembers) bad_text(text, pos);
      type.members[static_cast<size_t>(type.member_count++)] = kind();
    } while (take("|"));
    return type;
  }

  TypeInfo non_union() {
    skip_spaces();
    TypeInfo type;
    if (take("{")) {
      type.kind = TYPE_OBJECT;
      while (!take("}")) {
        TypeField field;
        field.name = name();
        expect(":");
        field.kind = kind();
        type.fields.push_back(field);
        take(";");
      }
      return type;
    }
    if (take("never")) {
      type.kind = TYPE_UNION;
      if (take("[]")) {  // an array of union elements whose members are unknown
        type.kind = TYPE_ARRAY;
        type.element_kind = TYPE_UNION;
      }
      return type;
    }
    if (take("Set<")) {
      type.kind = TYPE_SET;
      type.element_kind = kind();
      expect(">");
      return type;
    }
    if (take("Map<")) {
      type.kind = TYPE_MAP;
      type.key_kind = kind();
      expect(",");
      type.value_kind = kind();
      expect(">");
      return type;
    }
    // A kind word, or an array of one; any other name is a named type.
    const size_t start = pos;
    const KindWord* word = nullptr;
    for (const KindWord& candidate : kKindWords) {
      const std::string_view candidate_text = candidate.text;
      if (candidate.kind == TYPE_ARRAY || candidate.kind == TYPE_UNION) continue;
      if (text.substr(pos).starts_with(candidate_text) &&
          (pos + candidate_text.size() == text.size() ||
           !(std::isalnum(static_cast<unsigned char>(text[pos + candidate_text.size()])) ||
             text[pos + candidate_text.size()] == '.' || text[pos + candidate_text.size()] == '_'))) {
        if (word == nullptr || candidate_text.size() > std::strlen(word->text)) word = &candidate;
      }
    }
    if (word == nullptr) {
      type.kind = TYPE_NAMED;
      type.type_name = name();
      return type;
    }
    pos += std::strlen(word->text);
    if (take("[]")) {
      type.kind = TYPE_ARRAY;
      type.element_kind = word->kind;
      if (take("[]")) bad_text(text, start);
      return type;
    }
    type.kind = word->kind;
    return type;
  }
};

}  // namespace

std::string kind_text(int kind) {
  for (const KindWord& word : kKindWords) {
    if (word.kind == kind) return word.text;
  }
  return "kind " + std::to_string(kind);
}

TypeKind kind_of_text(std::string_view text) {
  TypeTextReader reader{text};
  const TypeKind kind = reader.kind();
  reader.skip_spaces();
  if (!reader.at_end()) bad_text(text, reader.pos);
  return kind;
}

std::string type_text(const TypeInfo& type) {
  switch (type.kind) {
    case TYPE_UNION: {
      if (type.member_count <= 0) return "never";
      if (type.member_count == 1) return "(" + kind_text(type.members[0]) + ")";
      std::string text;
      for (int m = 0; m < type.member_count && m < kMaxUnionMembers; ++m) {
        if (m > 0) text += " | ";
        text += kind_text(type.members[static_cast<size_t>(m)]);
      }
      return text;
    }
    case TYPE_ARRAY: {
      if (type.element_kind != TYPE_UNION || type.member_count <= 0) return kind_text(type.element_kind) + "[]";
      std::string text = "(";
      for (int m = 0; m < type.member_count && m < kMaxUnionMembers; ++m) {
        if (m > 0) text += " | ";
        text += kind_text(type.members[static_cast<size_t>(m)]);
      }
      return text + ")[]";
    }
    case TYPE_SET: return "Set<" + kind_text(type.element_kind) + ">";
    case TYPE_MAP: return "Map<" + kind_text(type.key_kind) + ", " + kind_text(type.value_kind) + ">";
    case TYPE_OBJECT: {
      if (type.fields.empty()) return "object";
      std::string text = "{ ";
      for (size_t f = 0; f < type.fields.size(); ++f) {
        if (f > 0) text += "; ";
        text += type.fields[f].name + ": " + kind_text(type.fields[f].kind);
      }
      return text + " }";
    }
    case TYPE_INTERFACE: return type.interface_name.empty() ? "Interface" : type.interface_name;
    case TYPE_NAMED: return type.type_name.empty() ? "NamedType" : type.type_name;
    default: return kind_text(type.kind);
  }
}

TypeInfo parse_type_text(std::string_view text) {
  TypeTextReader reader{text};
  TypeInfo type = reader.type();
  reader.skip_spaces();
  if (!reader.at_end()) bad_text(text, reader.pos);
  return type;
}

std::string describe_named_types(const std::vector<std::pair<std::string, TypeInfo>>& records) {
  std::string text;
  for (const auto& [name, type] : records) {
    if (!text.empty()) text += ", ";
    text += name + ": " + type_text(type);
  }
  return text;
}

std::vector<std::pair<std::string, TypeInfo>> parse_named_types(std::string_view text) {
  std::vector<std::pair<std::string, TypeInfo>> records;
  TypeTextReader reader{text};
  for (;;) {
    reader.skip_spaces();
    if (reader.at_end()) break;
    std::string name = reader.name();
    TypeInfo type;
    if (reader.take(":")) type = reader.type();
    records.emplace_back(std::move(name), std::move(type));
    reader.take(",");
  }
  return records;
}

VarInfo var_record(const std::string& name, int kind, const std::string& interface_name) {
  VarInfo var;
  var.name = name;
  var.type.kind = static_cast<TypeKind>(kind);
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

std::string pinned_tsc_output(const std::string& flags, const std::string& files) {
  const std::filesystem::path tools = std::filesystem::path(KVX_SOURCE_DIR) / ".ci/tools/node_modules";
  std::string output;
  run_shell(shell_quote((tools / ".bin/tsc").string()) + " --noEmit " + flags +
                " --skipLibCheck --types node --typeRoots " + shell_quote((tools / "@types").string()) + files,
            &output);
  return output;
}

}  // namespace kvx_test
