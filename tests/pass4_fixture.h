// Fixtures of the pass-4 and pass-5 tests: token lists written as spaced-out
// source, hand-made analysis records, and a sink that collects the trace.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "analysis/analyzeR4.h"
#include "analysis/analyzer.h"
#include "core/tokenizer.h"

namespace pass4_test {

// Tokens of a source whose tokens are separated by blanks ("x = a ?. b ;").
// A line break starts a new source line. Quoted words ('a', "a", `a`) are
// string tokens without their quotes; words starting with a digit are
// numbers; known keywords and operators take their codes; every other word
// is an identifier. The rules under test only see kinds, texts and lines, so
// this pins them down without depending on the tokenizer's own choices.
// The tokens view `source`, as the tokenizer's do.
inline TokenList toks(std::string_view source) {
  static const std::pair<const char*, int> kFixed[] = {
      {"let", TK_LET},          {"const", TK_CONST},   {"var", TK_VAR},       {"return", TK_RETURN},
      {"for", TK_FOR},          {"switch", TK_SWITCH}, {"class", TK_CLASS},   {"extends", TK_EXTENDS},
      {"import", TK_IMPORT},    {"export", TK_EXPORT}, {"async", TK_ASYNC},   {"=", TK_ASSIGN},
      {"+", TK_PLUS},           {"-", TK_MINUS},       {"*", TK_STAR},        {"/", TK_SLASH},
      {"??", TK_NULLISH},       {"==", TK_EQUAL},      {"===", TK_EQUAL},     {"!=", TK_NOT_EQUAL},
      {"!==", TK_NOT_EQUAL},    {"<", TK_LESS},        {">", TK_GREATER},     {"<=", TK_LESS_EQUAL},
      {">=", TK_GREATER_EQUAL}, {"&&", TK_AND},        {"||", TK_OR},         {"(", TK_LPAREN},
      {")", TK_RPAREN},         {"{", TK_LBRACE},      {"}", TK_RBRACE},      {"[", TK_LBRACKET},
      {"]", TK_RBRACKET},       {";", TK_SEMICOLON},   {",", TK_COMMA},       {".", TK_DOT},
      {":", TK_COLON},          {"=>", TK_ARROW},      {"?", TK_QUESTION},    {"!", TK_NOT},
      {"?.", TK_OPTIONAL_CHAIN}, {"++", TK_INCREMENT},
  };
  TokenList list;
  list.base = source.data();
  int line = 1;
  size_t pos = 0;
  while (pos < source.size()) {
    const char c = source[pos];
    if (c == '\n') {
      ++line;
      ++pos;
      continue;
    }
    if (c == ' ' || c == '\t') {
      ++pos;
      continue;
    }
    const size_t start = pos;
    while (pos < source.size() && source[pos] != ' ' && source[pos] != '\t' && source[pos] != '\n') ++pos;
    std::string_view word = source.substr(start, pos - start);
    int kind = TK_IDENTIFIER;
    if ((word[0] == '\'' || word[0] == '"' || word[0] == '`') && word.size() >= 2) {
      kind = TK_STRING;
      word = word.substr(1, word.size() - 2);
    } else if (std::isdigit(static_cast<unsigned char>(word[0]))) {
      kind = TK_NUMBER;
    } else {
      for (const auto& [text, code] : kFixed) {
        if (word == text) kind = code;
      }
    }
    list.items.push_back(make_token(kind, source, word, line, static_cast<int>(start), static_cast<int>(pos)));
  }
  return list;
}
template <typename Text>
  requires std::same_as<std::remove_cvref_t<Text>, std::string> && (!std::is_lvalue_reference_v<Text>)
TokenList toks(Text&& source) = delete;

inline VarInfo& add_var(AnalysisResult& result, const std::string& name, int kind = TYPE_NONE) {
  VarInfo var;
  var.name = name;
  var.type.kind = static_cast<TypeKind>(kind);
  result.vars.push_back(std::move(var));
  return result.vars.back();
}

inline FuncInfo& add_func(AnalysisResult& result, const std::string& name,
                          std::initializer_list<std::string> params = {}) {
  FuncInfo func;
  func.name = name;
  for (const std::string& param : params) {
    func.param_names.push_back(param);
    func.param_types.emplace_back();
  }
  result.funcs.push_back(std::move(func));
  return result.funcs.back();
}

inline ArrayInfo& add_array(AnalysisResult& result, const std::string& name, int element_kind = TYPE_NONE) {
  ArrayInfo array;
  array.name = name;
  array.element_kind = element_kind;
  result.arrays.push_back(std::move(array));
  return result.arrays.back();
}

inline ArrowInfo& add_arrow(AnalysisResult& result, const std::string& name, int return_kind = TYPE_NONE) {
  ArrowInfo arrow;
  arrow.name = name;
  arrow.return_type.kind = static_cast<TypeKind>(return_kind);
  result.arrows.push_back(std::move(arrow));
  return result.arrows.back();
}

inline ObjectInfo& add_object(AnalysisResult& result, const std::string& name,
                              std::initializer_list<std::pair<const char*, int>> fields) {
  ObjectInfo object;
  object.name = name;
  for (const auto& [field, kind] : fields) object.fields->emplace_back(field, kind);
  result.objects.push_back(std::move(object));
  return result.objects.back();
}

// The trace that `run` sends to the sink it is given, joined. With `traced`
// false it is given an empty sink, and anything sent would be lost: the
// result is then always "", and the test checks what was found instead.
template <typename Run>
std::string traced(bool traced, Run run) {
  std::string text;
  const Pass4Trace sink = [&text](std::string_view line) { text += line; };
  run(traced ? sink : Pass4Trace{});
  return text;
}

// What `run` writes to standard output; the analysis itself never prints, and
// the tests that say so use this.
template <typename Run>
std::string stdout_of(Run run) {
  testing::internal::CaptureStdout();
  run();
  return testing::internal::GetCapturedStdout();
}

// Green and cyan trace lines, as the pass writes them.
inline std::string green(const std::string& text) { return "\x1b[0;32m" + text + "\n\x1b[0m"; }
inline std::string cyan(const std::string& text) { return "\x1b[0;36m" + text + "\n\x1b[0m"; }
inline std::string yellow(const std::string& text) { return "\x1b[0;33m" + text + "\n\x1b[0m"; }

// The printed text cut into lines, each kept with its trailing reset.
inline std::vector<std::string> trace_lines(const std::string& out) {
  std::vector<std::string> lines;
  const std::string separator = "\n\x1b[0m";
  size_t pos = 0;
  while (pos < out.size()) {
    const size_t end = out.find(separator, pos);
    if (end == std::string::npos) {
      lines.push_back(out.substr(pos));
      break;
    }
    lines.push_back(out.substr(pos, end + separator.size() - pos));
    pos = end + separator.size();
  }
  return lines;
}

}  // namespace pass4_test
