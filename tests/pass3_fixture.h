// Fixtures for the pass-3 tests: a token list from real source text and an
// analysis result written by hand in a compact notation, so that one rule can
// be watched in isolation.
//
// Type notation, used both to build and to describe types:
//   "2"            kind 2
//   "4[1,0]"       union with the members 1 and 0 ("4[]" has none)
//   "7<1>"         array (or Set, 12<..>) with element kind 1
//   "6{a:1,b:2}"   object with fields ("6" has none)
#pragma once

#include <cctype>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/analyzer.h"
#include "core/tokenizer.h"

namespace pass3_test {

inline int read_int(std::string_view text, size_t& pos) {
  size_t end = pos;
  while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end]))) ++end;
  if (end == pos) throw std::invalid_argument("bad type notation: " + std::string(text));
  const int value = std::stoi(std::string(text.substr(pos, end - pos)));
  pos = end;
  return value;
}

inline TypeInfo parse_type(std::string_view text) {
  TypeInfo type;
  size_t pos = 0;
  type.kind = read_int(text, pos);
  if (pos >= text.size()) return type;
  const char open = text[pos++];
  if (open == '[') {
    while (pos < text.size() && text[pos] != ']') {
      type.members[static_cast<size_t>(type.member_count++)] = read_int(text, pos);
      if (text[pos] == ',') ++pos;
    }
  } else if (open == '<') {
    type.element_kind = read_int(text, pos);
  } else if (open == '{') {
    while (pos < text.size() && text[pos] != '}') {
      const size_t colon = text.find(':', pos);
      TypeField field{std::string(text.substr(pos, colon - pos)), 0};
      pos = colon + 1;
      field.kind = read_int(text, pos);
      type.fields.push_back(field);
      if (text[pos] == ',') ++pos;
    }
  }
  return type;
}

inline std::string describe(const TypeInfo& type) {
  std::string text = std::to_string(type.kind);
  if (type.kind == TYPE_UNION) {
    text += '[';
    for (int m = 0; m < type.member_count; ++m) {
      if (m > 0) text += ',';
      text += std::to_string(type.members[static_cast<size_t>(m)]);
    }
    text += ']';
  } else if (type.kind == TYPE_ARRAY || type.kind == TYPE_SET) {
    text += '<' + std::to_string(type.element_kind) + '>';
  } else if (type.kind == TYPE_OBJECT && !type.fields.empty()) {
    text += '{';
    for (size_t f = 0; f < type.fields.size(); ++f) {
      if (f > 0) text += ',';
      text += type.fields[f].name + ':' + std::to_string(type.fields[f].kind);
    }
    text += '}';
  }
  return text;
}

// "name:type name:type", the given type of every record in list order.
template <typename Record>
std::string describe_records(const std::vector<Record>& records, TypeInfo Record::*type) {
  std::string text;
  for (const Record& record : records) {
    if (!text.empty()) text += ' ';
    text += record.name + ':' + describe(record.*type);
  }
  return text;
}

// Every variable's type, every function's return type.
inline std::string describe_vars(const AnalysisResult& result) { return describe_records(result.vars, &VarInfo::type); }
inline std::string describe_funcs(const AnalysisResult& result) {
  return describe_records(result.funcs, &FuncInfo::return_type);
}

inline std::vector<std::string> words(std::string_view text) {
  std::vector<std::string> out;
  std::istringstream in{std::string(text)};
  for (std::string word; in >> word;) out.push_back(word);
  return out;
}

// Source text, its tokens and a hand-made result.
//   vars:  "name:type ..."          (type defaults to 0)
//   funcs: "name[=type] ..."        a gated function whose body is the one of
//          `function name(...) {...}` in the source (present but without a
//          token region when the source has no such function);
//          "!name" has a body but flow_enabled 0, "?name" flow_enabled 1 but no body.
struct Fixture {
  std::string source;
  TokenList tokens;
  AnalysisResult result;

  Fixture(std::string_view text, std::string_view vars = "", std::string_view funcs = "")
      : source(text), tokens(tokenize(source)) {
    for (const std::string& word : words(vars)) {
      const size_t colon = word.find(':');
      VarInfo var;
      var.name = word.substr(0, colon);
      if (colon != std::string::npos) var.type = parse_type(word.substr(colon + 1));
      result.vars.push_back(var);
    }
    for (std::string word : words(funcs)) {
      FuncInfo func;
      func.flow_enabled = 1;
      bool has_body = true;
      if (word[0] == '!') func.flow_enabled = 0;
      if (word[0] == '?') has_body = false;
      if (word[0] == '!' || word[0] == '?') word.erase(0, 1);
      const size_t equals = word.find('=');
      func.name = word.substr(0, equals);
      if (equals != std::string::npos) func.return_type = parse_type(word.substr(equals + 1));
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
          func.body_start = tokens.items[static_cast<size_t>(open)].end;
          func.body_end = tokens.items[static_cast<size_t>(close)].start;
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
