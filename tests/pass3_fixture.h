// Fixtures for the pass-3 tests: a token list from real source text and an
// analysis result written by hand with types as TypeScript text (see
// kvx_test::type_text), so that one rule can be watched in isolation:
//   "flag: boolean, f: { id: number; ok: boolean }, g: number | string"
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/analyzer.h"
#include "analysis/file_index.h"
#include "core/tokenizer.h"
#include "test_support.h"

namespace pass3_test {

inline TypeInfo parse_type(std::string_view text) { return kvx_test::parse_type_text(text); }
inline std::string describe(const TypeInfo& type) { return kvx_test::type_text(type); }

// "name: type, name: type", the given type of every record in list order.
template <typename Record>
std::string describe_records(const std::vector<Record>& records, TypeInfo Record::*type) {
  std::vector<std::pair<std::string, TypeInfo>> named;
  named.reserve(records.size());
  for (const Record& record : records) named.emplace_back(record.name, record.*type);
  return kvx_test::describe_named_types(named);
}

// Every variable's type, every function's return type.
inline std::string describe_vars(const AnalysisResult& result) { return describe_records(result.vars, &VarInfo::type); }
inline std::string describe_funcs(const AnalysisResult& result) {
  return describe_records(result.funcs, &FuncInfo::return_type);
}

// Source text, its tokens and their index, and a hand-made result.
//   vars:  "name: type, ..."        (type defaults to any: nothing inferred)
//   funcs: "name[: type], ..."      a gated function whose body is the one of
//          `function name(...) {...}` in the source (present but without a
//          token region when the source has no such function);
//          "!name" has a body but flow_enabled 0, "?name" flow_enabled 1 but no body.
struct Fixture {
  std::string source;
  TokenList tokens;
  FileIndex index;
  AnalysisResult result;

  Fixture(std::string_view text, std::string_view vars = "", std::string_view funcs = "")
      : source(text), tokens(tokenize(source)), index(index_file(tokens)) {
    for (auto& [name, type] : kvx_test::parse_named_types(vars)) {
      VarInfo var;
      var.name = name;
      var.type = type;
      result.vars.push_back(var);
    }
    for (auto& [word, type] : kvx_test::parse_named_types(funcs)) {
      FuncInfo func;
      func.flow_enabled = 1;
      bool has_body = true;
      if (word[0] == '!') func.flow_enabled = 0;
      if (word[0] == '?') has_body = false;
      func.name = word[0] == '!' || word[0] == '?' ? word.substr(1) : word;
      func.return_type = type;
      if (has_body) locate_body(func);
      result.funcs.push_back(func);
    }
  }

  // The body of `function NAME (...) {...}`: the text and tokens between the
  // braces, as the structure capture records them.
  void locate_body(FuncInfo& func) const {
    func.body = "";
    const int count = tokens.count();
    for (int i = 1; i + 1 < count; ++i) {
      const Token& name = tokens.items[static_cast<size_t>(i)];
      if (name.text != func.name || tokens.items[static_cast<size_t>(i - 1)].text != "function") continue;
      int open = i;
      while (open < count && tokens.items[static_cast<size_t>(open)].kind != TK_LBRACE) ++open;
      int depth = 0;
      for (int close = open; close < count; ++close) {
        const int kind = tokens.items[static_cast<size_t>(close)].kind;
        if (kind == TK_LBRACE) ++depth;
        if (kind == TK_RBRACE && --depth == 0) {
          func.body_start = tokens.end(open);
          func.body_end = tokens.start(close);
          func.body_first_token = open + 1;
          func.body_end_token = close;
          func.body = source.substr(static_cast<size_t>(func.body_start),
                                    static_cast<size_t>(func.body_end - func.body_start));
          return;
        }
      }
      throw std::invalid_argument("unbalanced body of " + func.name);
    }
  }

  std::string vars() const { return describe_vars(result); }
  std::string funcs() const { return describe_funcs(result); }
};

}  // namespace pass3_test
