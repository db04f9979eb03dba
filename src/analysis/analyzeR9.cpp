// Analysis pass 9: modern built-in classes, class getters as read-only
// fields, and the results of JSON and promise calls.
#include "analysis/analyzeR9.h"

#include <array>
#include <string_view>
#include <utility>

#include "analysis/class_walk.h"
#include "analysis/token_helpers.h"

namespace {

constexpr std::array<std::string_view, 8> kModernBuiltinClasses = {
    "URL",        "URLSearchParams", "Error",   "TypeError",
    "RangeError", "AbortController", "WeakMap", "WeakSet"};

constexpr std::string_view kSettledResultsType = "PromiseSettledResult<any>[]";

bool is_modern_builtin(std::string_view name) {
  for (std::string_view candidate : kModernBuiltinClasses) {
    if (candidate == name) return true;
  }
  return false;
}

// Member test of the getter detector at the member-level token l.
int record_class_getter(ClassInfo& cls, const TokenList& tokens, const FileIndex& index, int l) {
  const int count = tokens.count();
  // [static] get NAME ( ) {
  if (!is_identifier(tokens, l, "get") || !(l + 4 < count) ||
      tokens.items[l + 1].kind != TK_IDENTIFIER || tokens.items[l + 2].kind != TK_LPAREN ||
      tokens.items[l + 3].kind != TK_RPAREN || tokens.items[l + 4].kind != TK_LBRACE) {
    return l + 1;
  }

  // return LITERAL anywhere in the body.
  TypeInfo type;
  for (const int returned : index.returned_kinds(l + 4)) add_union_type(type, returned);
  if (type.kind == TYPE_NONE) type.kind = TYPE_UNKNOWN;

  // No check for a field of the same name: the getter is always added. A
  // static getter reads the class, not its instances.
  const int is_static = is_identifier(tokens, l - 1, "static") ? 1 : 0;
  append_class_field(cls, std::string(tokens.items[l + 1].text), std::move(type), 0, is_static, 1);
  return index.brace_after(l + 4);  // just past the getter body's closing `}`, or the end of the list
}

}  // namespace

void analyzer9_run(AnalysisResult& result, const TokenList& tokens, const FileIndex& index) {
  detect_modern_builtins(result, tokens);
  // warning: order matters; pass 8 has already added the static and private
  // fields, so the read-only flags are allocated for them too.
  detect_class_getters(result, tokens, index);
  detect_json_and_promises(result, tokens);
}

// DECL NAME = new URL|URLSearchParams|Error|...  -> NAME TYPE_NAMED after the class
void detect_modern_builtins(AnalysisResult& result, const TokenList& tokens) {
  type_new_builtin_declarations(result, tokens, is_modern_builtin);
}

// [static] get NAME ( ) { BODY }  (class member)
//   -> read-only field NAME typed by the returned literal kinds (or 8), static
//      after `static`
void detect_class_getters(AnalysisResult& result, const TokenList& tokens, const FileIndex& index) {
  for (ClassInfo& cls : result.classes) {
    cls.field_readonly.assign(static_cast<size_t>(cls.field_count()), 0);
  }
  walk_class_bodies(result, tokens, index, [&](ClassInfo& cls, int l) {
    return record_class_getter(cls, tokens, index, l);
  });
}

// DECL NAME = [await] JSON . parse (            -> NAME TYPE_NONE
// DECL NAME = [await] Promise . allSettled (    -> NAME TYPE_NAMED "PromiseSettledResult<any>[]"
void detect_json_and_promises(AnalysisResult& result, const TokenList& tokens) {
  const FirstByName vars(result.vars);
  const int count = tokens.count();
  for (int i = 0; i < count - 6; ++i) {
    if (!is_declaration_at(tokens, i) || tokens.items[i + 1].kind != TK_IDENTIFIER ||
        tokens.items[i + 2].kind != TK_ASSIGN) {
      continue;
    }
    const int p = is_identifier(tokens, i + 3, "await") ? i + 4 : i + 3;
    if (!(p + 3 < count) || tokens.items[p].kind != TK_IDENTIFIER ||
        tokens.items[p + 1].kind != TK_DOT || tokens.items[p + 2].kind != TK_IDENTIFIER ||
        tokens.items[p + 3].kind != TK_LPAREN) {
      continue;
    }
    const std::string_view receiver = tokens.items[p].text;
    const std::string_view method = tokens.items[p + 2].text;
    if (receiver == "JSON" && method == "parse") {
      VarInfo* var = vars.find(tokens.items[i + 1].text);
      if (var != nullptr) var->type.kind = TYPE_NONE;
    } else if (receiver == "Promise" && method == "allSettled") {
      VarInfo* var = vars.find(tokens.items[i + 1].text);
      if (var != nullptr) {
        var->type.kind = TYPE_NAMED;
        var->type.type_name = kSettledResultsType;
      }
    }
  }
}
