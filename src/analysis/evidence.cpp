#include "analysis/evidence.h"

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "analysis/syntax.h"
#include "analysis/token_helpers.h"
#include "core/text.h"

// ---------------------------------------------------------------------------
// Types

EvidenceType EvidenceType::of(std::string member) {
  EvidenceType type;
  type.state = State::known;
  type.members.push_back(std::move(member));
  return type;
}

namespace {

constexpr size_t kMaxMembers = 3;
// The positions a call with a spread argument fills with unknown types.
constexpr size_t kMaxSpreadPositions = 64;
// How deep one question may lead into others (a result needing a parameter
// needing a call's argument...) and how deep an expression is read: past
// them the type stays open, so no input can exhaust a thread's stack.
constexpr int kLazyDepth = 48;
constexpr int kParseDepth = 96;

int member_rank(std::string_view member) {
  if (member == "number") return 0;
  if (member == "string") return 1;
  if (member == "boolean") return 2;
  return 3;
}

EvidenceType open_type() { return {}; }

EvidenceType nullish_type() {
  EvidenceType type;
  type.state = EvidenceType::State::nullish;
  return type;
}

// Splits `a | b` at its top level (not inside `<...>` or `(...)`).
std::vector<std::string> split_union(std::string_view text) {
  std::vector<std::string> members;
  int depth = 0;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '<' || c == '(' || c == '{' || c == '[') ++depth;
    if (c == '>' || c == ')' || c == '}' || c == ']') --depth;
    if (c == '|' && depth == 0) {
      std::string_view part = text.substr(start, i - start);
      while (!part.empty() && part.front() == ' ') part.remove_prefix(1);
      while (!part.empty() && part.back() == ' ') part.remove_suffix(1);
      members.emplace_back(part);
      start = i + 1;
    }
  }
  std::string_view part = text.substr(start);
  while (!part.empty() && part.front() == ' ') part.remove_prefix(1);
  while (!part.empty() && part.back() == ' ') part.remove_suffix(1);
  members.emplace_back(part);
  return members;
}

EvidenceType type_from_text(std::string_view text) {
  if (text.empty()) return open_type();
  EvidenceType type;
  type.state = EvidenceType::State::known;
  type.members = split_union(text);
  return type;
}

}  // namespace

EvidenceType join_types(const EvidenceType& a, const EvidenceType& b) {
  if (a.state == EvidenceType::State::open || b.state == EvidenceType::State::open) return open_type();
  if (a.state == EvidenceType::State::nullish) return b;
  if (b.state == EvidenceType::State::nullish) return a;
  EvidenceType out = a;
  // Two kinds of array for one value: it is a list whose elements vary.
  const auto is_array = [](const std::string& member) { return member.ends_with("[]"); };
  for (const std::string& x : a.members) {
    for (const std::string& y : b.members) {
      if (is_array(x) && is_array(y) && x != y) return open_type();
    }
  }
  for (const std::string& member : b.members) {
    if (std::find(out.members.begin(), out.members.end(), member) == out.members.end()) out.members.push_back(member);
  }
  if (out.members.size() > kMaxMembers) return open_type();
  std::stable_sort(out.members.begin(), out.members.end(),
                   [](const std::string& x, const std::string& y) { return member_rank(x) < member_rank(y); });
  return out;
}

std::string render_evidence_type(const EvidenceType& type) {
  if (!type.known()) return {};
  std::string out;
  for (const std::string& member : type.members) {
    if (!out.empty()) out += " | ";
    out += member;
  }
  return out;
}

namespace {

std::string array_of(const EvidenceType& element) {
  const std::string text = render_evidence_type(element);
  if (text.empty()) return {};
  return element.members.size() > 1 ? "(" + text + ")[]" : text + "[]";
}

// ---------------------------------------------------------------------------
// Word tables

bool in_list(std::string_view word, std::initializer_list<std::string_view> list) {
  return std::find(list.begin(), list.end(), word) != list.end();
}

// Methods that exist on strings alone among the built-in values, so that a
// parameter they are called on is a string.
bool string_only_method(std::string_view name) {
  return in_list(name, {"toUpperCase", "toLowerCase", "toLocaleUpperCase", "toLocaleLowerCase", "trim", "trimStart",
                        "trimEnd", "trimLeft", "trimRight", "padStart", "padEnd", "charAt", "charCodeAt",
                        "codePointAt", "startsWith", "endsWith", "localeCompare", "normalize", "repeat", "substring",
                        "substr", "split", "match", "matchAll", "replace", "replaceAll", "search"});
}

bool number_only_method(std::string_view name) { return in_list(name, {"toFixed", "toPrecision", "toExponential"}); }

// The result of a well-known method, whatever its receiver; open for the
// names that several built-ins share with different results.
EvidenceType known_method_result(std::string_view name) {
  if (in_list(name, {"toUpperCase", "toLowerCase", "toLocaleUpperCase", "toLocaleLowerCase", "trim", "trimStart",
                     "trimEnd", "trimLeft", "trimRight", "padStart", "padEnd", "charAt", "repeat", "normalize",
                     "substring", "substr", "toFixed", "toPrecision", "toExponential", "toISOString", "toUTCString",
                     "toDateString", "toTimeString", "toLocaleDateString", "toLocaleTimeString", "join", "replace",
                     "replaceAll", "toString"})) {
    return EvidenceType::of("string");
  }
  if (in_list(name, {"indexOf", "lastIndexOf", "charCodeAt", "codePointAt", "localeCompare", "search", "getTime",
                     "getFullYear", "getMonth", "getDate", "getDay", "getHours", "getMinutes", "getSeconds",
                     "getMilliseconds", "getTimezoneOffset", "getUTCFullYear", "getUTCMonth", "getUTCDate",
                     "getUTCDay", "getUTCHours", "getUTCMinutes", "getUTCSeconds", "getUTCMilliseconds",
                     "findIndex", "findLastIndex"})) {
    return EvidenceType::of("number");
  }
  if (in_list(name, {"includes", "startsWith", "endsWith", "test", "every", "some", "hasOwnProperty",
                     "isPrototypeOf", "propertyIsEnumerable"})) {
    return EvidenceType::of("boolean");
  }
  // What Node's file status objects (`fs.Stats`, `fs.Dirent`) answer.
  if (in_list(name, {"isFile", "isDirectory", "isSymbolicLink", "isFIFO", "isSocket", "isBlockDevice",
                     "isCharacterDevice"})) {
    return EvidenceType::of("boolean");
  }
  if (name == "split") return EvidenceType::of("string[]");
  return open_type();
}

// The typed arrays, whose instances the compiler knows by the class's name
// (the buffer they view defaults).
bool typed_array_class(std::string_view name) {
  return in_list(name, {"Uint8Array", "Uint8ClampedArray", "Uint16Array", "Uint32Array", "Int8Array", "Int16Array",
                        "Int32Array", "Float32Array", "Float64Array", "BigInt64Array", "BigUint64Array"});
}

// Static members of the built-in objects (the name must not be bound in the
// file).
EvidenceType global_member_result(std::string_view object, std::string_view name) {
  if (object == "Math") return EvidenceType::of("number");
  if (typed_array_class(object) && in_list(name, {"of", "from"})) return EvidenceType::of(std::string(object));
  if (object == "Buffer" && in_list(name, {"from", "alloc", "allocUnsafe", "allocUnsafeSlow", "concat"})) {
    return EvidenceType::of("Buffer");
  }
  if (object == "JSON" && name == "stringify") return EvidenceType::of("string");
  if (object == "Object" && in_list(name, {"keys", "getOwnPropertyNames"})) return EvidenceType::of("string[]");
  if (object == "Object" && in_list(name, {"is", "isFrozen", "isSealed", "isExtensible"})) {
    return EvidenceType::of("boolean");
  }
  if (object == "Number" && in_list(name, {"isInteger", "isFinite", "isNaN", "isSafeInteger"})) {
    return EvidenceType::of("boolean");
  }
  if (object == "Number" && in_list(name, {"parseInt", "parseFloat"})) return EvidenceType::of("number");
  if (object == "String" && in_list(name, {"fromCharCode", "fromCodePoint", "raw"})) return EvidenceType::of("string");
  if (object == "Array" && name == "isArray") return EvidenceType::of("boolean");
  if (object == "Date" && in_list(name, {"now", "parse", "UTC"})) return EvidenceType::of("number");
  return open_type();
}

EvidenceType global_function_result(std::string_view name) {
  if (in_list(name, {"String", "encodeURIComponent", "decodeURIComponent", "encodeURI", "decodeURI", "escape",
                     "unescape"})) {
    return EvidenceType::of("string");
  }
  if (in_list(name, {"Number", "parseInt", "parseFloat"})) return EvidenceType::of("number");
  if (in_list(name, {"Boolean", "isNaN", "isFinite"})) return EvidenceType::of("boolean");
  return open_type();
}

// Node's modules whose functions give a known type.
EvidenceType module_member_result(std::string_view module, std::string_view name) {
  if (module == "path" || module == "node:path") {
    if (in_list(name, {"join", "resolve", "basename", "dirname", "extname", "relative", "normalize", "format",
                       "toNamespacedPath"})) {
      return EvidenceType::of("string");
    }
    if (name == "isAbsolute") return EvidenceType::of("boolean");
  }
  if ((module == "fs" || module == "node:fs") && name == "existsSync") return EvidenceType::of("boolean");
  if ((module == "util" || module == "node:util") && in_list(name, {"format", "inspect"})) {
    return EvidenceType::of("string");
  }
  if ((module == "os" || module == "node:os") &&
      in_list(name, {"platform", "type", "hostname", "tmpdir", "homedir", "arch", "release", "endianness"})) {
    return EvidenceType::of("string");
  }
  return open_type();
}

// Constructors of the language and Node whose instances the compiler knows
// by that name.
// Whether every name in a type text is one any file can write: the
// primitives and the global classes. A class of one file means nothing in
// another that does not import it.
bool portable_type_text(std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    if (!is_ascii_identifier_byte(text[i])) {
      ++i;
      continue;
    }
    size_t end = i;
    while (end < text.size() && is_ascii_identifier_byte(text[end])) ++end;
    const std::string_view word = text.substr(i, end - i);
    if (!in_list(word, {"number", "string", "boolean", "bigint", "symbol", "void", "undefined", "null", "Promise",
                        "Date", "RegExp", "Error", "TypeError", "RangeError", "SyntaxError", "ReferenceError",
                        "EvalError", "URIError", "URL", "URLSearchParams", "ArrayBuffer", "Buffer"}) &&
        !typed_array_class(word)) {
      return false;
    }
    i = end;
  }
  return true;
}

EvidenceType portable(const EvidenceType& type) {
  if (!type.known()) return type;
  for (const std::string& member : type.members) {
    if (!portable_type_text(member)) return open_type();
  }
  return type;
}

bool builtin_class(std::string_view name) {
  return in_list(name, {"Date", "RegExp", "Error", "TypeError", "RangeError", "SyntaxError", "ReferenceError",
                        "EvalError", "URIError", "URL", "URLSearchParams", "ArrayBuffer"}) ||
         typed_array_class(name);
}


// ---------------------------------------------------------------------------
// The engine

enum class BindingKind : unsigned char { variable, param, function, klass, other };

struct Write {
  int first = 0;
  int end = 0;
  enum class Op : unsigned char { assign, plus, numeric, logical, open } op = Op::assign;
};

struct Binding {
  int scope = -1;
  std::string_view name;
  BindingKind kind = BindingKind::variable;
  int function_id = -1;  // the function a parameter belongs to, or the declared function
  int param_index = -1;
  int class_id = -1;
  int declarations = 0;
  bool open = false;  // written in a way the evidence does not follow
  bool initialized = false;
  int declaration = -1;  // name token of the first declaration
  bool in_for_head = false;
  std::vector<Write> writes;
  std::vector<int> uses;  // parameters: every reference
  // Variables: the `(` of each `name.push(...)`, and whether the name is used
  // any way that may put other elements in (passed on, assigned, written by
  // index, another mutating method).
  std::vector<int> pushes;
  bool escapes = false;
  // Memo.
  int state = 0;  // 0 not yet, 1 in progress, 2 done
  EvidenceType type;
};

struct KeyHash {
  size_t operator()(const std::pair<int, std::string_view>& key) const {
    return std::hash<std::string_view>{}(key.second) * 31u + static_cast<size_t>(key.first + 1);
  }
};

struct Value {
  Value() = default;
  Value(EvidenceType t) : type(std::move(t)) {}  // NOLINT: a value is first of all its type

  EvidenceType type;
  int function_id = -1;    // a function of the file, to call
  int class_id = -1;       // a class of the file, to construct or read statics of
  std::string_view global; // an unbound built-in name (`Math`, `String`...)
  std::string_view module; // a binding of `require('path')` and the like
  std::string_view member; // the property this value was read as
  int instance_of = -1;    // `this` of a class or constructor function of the file
  const ExportedFunction* imported = nullptr;  // a function another module of the run exports
};

struct FunctionMemo {
  int params_state = 0;
  std::vector<EvidenceType> param_types;  // for expression typing (defaults included)
  int result_state = 0;
  EvidenceType result;  // what a call gives (a Promise for an async function)
};

struct Engine {
  std::string_view source;
  const TokenList& tokens;
  const std::vector<int>& match;
  FileEvidence out;
  std::vector<int> scope_of;  // the innermost function around each token, -1 at the top level
  std::vector<Binding> bindings;
  std::unordered_map<std::pair<int, std::string_view>, int, KeyHash> binding_index;
  std::unordered_map<std::string_view, int> binding_names;  // how many bindings share a name
  std::unordered_map<int, int> function_by_head;            // first token of a function value -> function
  std::unordered_map<int, int> class_by_body;
  std::unordered_set<int> declaration_names;
  std::unordered_set<int> method_names;
  std::vector<std::vector<int>> calls;  // per function: the `(` of each call of it in the file
  // `exports.NAME` bound once to a function of the file: NAME -> the function.
  std::unordered_map<std::string_view, int> exported_functions;
  std::vector<FunctionMemo> memo;
  std::vector<std::unordered_map<std::string, std::vector<Write>>> field_writes;  // per class
  // Per class: the name token of every `this.field` reference, by field.
  std::vector<std::unordered_map<std::string_view, std::vector<int>>> field_refs;
  std::vector<std::string> top_classes;  // nameable class names, for JSDoc
  std::vector<std::unordered_map<std::string, std::string>> jsdoc_params;
  std::vector<std::unordered_set<std::string>> jsdoc_optional;
  std::vector<std::string> jsdoc_results;
  std::vector<char> has_jsdoc;
  int depth = 0;

  // What the other modules of the run export, and the names bound to them:
  // binding -> (specifier, exported name; `*` for the whole module).
  const ModuleResolver* modules = nullptr;
  const IncomingCalls* incoming_calls = nullptr;
  std::unordered_map<int, std::pair<std::string_view, std::string_view>> imports;
  // The functions this file exports, by exported name, and per function the
  // calls the other files of the run make of it.
  std::vector<std::pair<std::string_view, int>> export_list;
  std::unordered_map<int, const std::vector<std::vector<EvidenceType>>*> incoming;

  Engine(std::string_view s, const TokenList& t, const std::vector<int>& m, const ProjectView* project)
      : source(s), tokens(t), match(m) {
    if (project != nullptr) {
      if (project->modules) modules = &project->modules;
      incoming_calls = project->incoming;
    }
  }

  int count() const { return tokens.count(); }
  TokenKind kind(int i) const { return kind_at(tokens, i); }
  std::string_view text(int i) const { return text_at(tokens, i); }
  bool word(int i, std::string_view w) const {
    return (kind(i) == TK_IDENTIFIER || kind(i) == TK_RESERVED) && text(i) == w;
  }
  int partner(int i) const { return i >= 0 && i < count() ? match[static_cast<size_t>(i)] : -1; }
  int line(int i) const { return in_bounds(tokens, i) ? at(tokens, i).line : -1; }
  bool is_template(int i) const {
    return kind(i) == TK_STRING && source[static_cast<size_t>(tokens.start(i))] == '`';
  }
  int scope(int i) const { return i >= 0 && i < count() ? scope_of[static_cast<size_t>(i)] : -1; }

  // Where the expression from `first` ends: a `,` `;` or closer of its level,
  // a `:` with no `?` open, or a line break that ends the statement.
  int expression_end(int first) const {
    int pending = 0;
    for (int i = first; i < count(); ++i) {
      const int k = kind(i);
      if (k == TK_COMMA || k == TK_SEMICOLON || is_closer(k)) return i;
      if (k == TK_QUESTION) ++pending;
      if (k == TK_COLON) {
        if (pending == 0) return i;
        --pending;
      }
      if (i > first && is_line_break_boundary(tokens, i)) return i;
      if (is_opener(k)) {
        const int end = partner(i);
        if (end < i) return count();
        i = end;
      }
    }
    return count();
  }

  // ----- Functions and classes ---------------------------------------------

  void find_classes() {
    for (int i = 0; i < count(); ++i) {
      if (kind(i) != TK_CLASS || kind(i - 1) == TK_DOT) continue;
      int open = -1;
      for (int j = i + 1; j < count(); ++j) {
        const int k = kind(j);
        if (k == TK_LBRACE) {
          open = partner(j) > j ? j : -1;
          break;
        }
        if (k == TK_LPAREN || k == TK_LBRACKET) {
          if (partner(j) < j) break;
          j = partner(j);
          continue;
        }
        if (k == TK_SEMICOLON || is_closer(k)) break;
      }
      if (open < 0) continue;
      EvidenceClass cls;
      cls.keyword = i;
      cls.body_open = open;
      cls.body_close = partner(open);
      if (kind(i + 1) == TK_IDENTIFIER) cls.name = std::string(text(i + 1));
      class_by_body.emplace(open, static_cast<int>(out.classes.size()));
      out.classes.push_back(std::move(cls));
    }
  }

  // A method's name; `if (...) {` and the like are statements.
  bool member_name_token(int i) const {
    if (kind(i) == TK_ASYNC) return true;
    if (kind(i) == TK_RESERVED && in_list(text(i), {"if", "while", "catch", "with", "function"})) return false;
    return is_member_name(tokens, i);
  }

  // An object literal's `{` (not a block): what stands before it puts it in
  // an expression.
  bool object_literal_open(int open) const {
    const int k = kind(open - 1);
    return k == TK_ASSIGN || k == TK_LPAREN || k == TK_COMMA || k == TK_COLON || k == TK_RETURN ||
           k == TK_LBRACKET || k == TK_QUESTION || k == TK_AND || k == TK_OR || k == TK_NULLISH;
  }

  void find_functions() {
    std::vector<int> openers;
    std::vector<EvidenceFunction>& functions = out.functions;
    for (int i = 0; i < count(); ++i) {
      const int k = kind(i);
      if (is_closer(k)) {
        while (!openers.empty() && partner(openers.back()) != i && partner(openers.back()) < i) openers.pop_back();
        if (!openers.empty() && partner(openers.back()) == i) openers.pop_back();
      }
      // function [*] [NAME] ( ... ) { ... }
      if (k == TK_RESERVED && text(i) == "function" && kind(i - 1) != TK_DOT) {
        int at_ = i + 1;
        EvidenceFunction f;
        f.head = kind(i - 1) == TK_ASYNC && line(i - 1) == line(i) ? i - 1 : i;
        f.is_async = f.head != i;
        if (kind(at_) == TK_STAR) {
          f.is_generator = true;
          ++at_;
        }
        if (kind(at_) == TK_IDENTIFIER) {
          f.name = std::string(text(at_));
          ++at_;
        }
        const int close = partner(at_);
        if (kind(at_) == TK_LPAREN && close > at_ && kind(close + 1) == TK_LBRACE && partner(close + 1) > close + 1) {
          f.params_open = at_;
          f.params_close = close;
          f.body_open = close + 1;
          f.body_end = partner(close + 1);
          functions.push_back(std::move(f));
        }
      } else if (k == TK_ARROW) {
        EvidenceFunction f;
        f.is_arrow = true;
        int first = -1;
        if (kind(i - 1) == TK_RPAREN && partner(i - 1) >= 0 && partner(i - 1) < i - 1) {
          f.params_open = partner(i - 1);
          f.params_close = i - 1;
          first = f.params_open;
        } else if (kind(i - 1) == TK_IDENTIFIER) {
          f.params_close = i - 1;
          first = i - 1;
        }
        if (first < 0) continue;
        f.head = first;
        if (kind(first - 1) == TK_ASYNC && line(first - 1) == line(first)) {
          f.head = first - 1;
          f.is_async = true;
        }
        if (kind(i + 1) == TK_LBRACE && partner(i + 1) > i + 1) {
          f.body_open = i + 1;
          f.body_end = partner(i + 1);
        } else {
          f.body_open = i + 1;
          f.body_end = expression_end(i + 1);
          if (f.body_end <= f.body_open) continue;
        }
        functions.push_back(std::move(f));
      } else if (k == TK_LPAREN && i > 0 && member_name_token(i - 1) && partner(i) > i &&
                 kind(partner(i) + 1) == TK_LBRACE && partner(partner(i) + 1) > partner(i) + 1 &&
                 !openers.empty() && kind(openers.back()) == TK_LBRACE) {
        const int open = openers.back();
        const auto cls = class_by_body.find(open);
        const bool in_class = cls != class_by_body.end();
        if (!in_class && !object_literal_open(open)) goto push;
        // `case 1: { switch (x) {`: a block after a label looks like an
        // object literal; a statement keyword there names no method.
        if (!in_class && kind(i - 1) != TK_IDENTIFIER && kind(i - 1) != TK_RESERVED) goto push;
        {
          const int name = i - 1;
          EvidenceFunction f;
          f.is_method = true;
          f.class_id = in_class ? cls->second : -1;
          f.name = std::string(text(name));
          f.params_open = i;
          f.params_close = partner(i);
          f.body_open = f.params_close + 1;
          f.body_end = partner(f.body_open);
          int head = name;
          bool is_static = false;
          for (int guard = 0; guard < 4; ++guard) {
            const int before = head - 1;
            if (kind(before) == TK_STAR) {
              f.is_generator = true;
            } else if (kind(before) == TK_ASYNC && line(before) == line(head)) {
              f.is_async = true;
            } else if ((word(before, "get") || word(before, "set")) && line(before) == line(head)) {
              (text(before) == "get" ? f.is_getter : f.is_setter) = true;
            } else if (in_class && word(before, "static")) {
              is_static = true;
            } else {
              break;
            }
            head = before;
          }
          const int before = kind(head - 1);
          if (before != TK_LBRACE && before != TK_COMMA && before != TK_SEMICOLON && before != TK_RBRACE &&
              !(in_class && line(head - 1) != line(head))) {
            goto push;
          }
          if (!in_class && before != TK_LBRACE && before != TK_COMMA) goto push;
          f.head = head;
          f.is_constructor = in_class && !is_static && f.name == "constructor";
          if (is_static) f.name = "static " + f.name;
          method_names.insert(name);
          functions.push_back(std::move(f));
        }
      }
    push:
      if (is_opener(k) && partner(i) > i) openers.push_back(i);
    }
    std::stable_sort(functions.begin(), functions.end(),
                     [](const EvidenceFunction& a, const EvidenceFunction& b) { return a.head < b.head; });
    for (size_t f = 0; f < functions.size(); ++f) function_by_head.emplace(functions[f].head, static_cast<int>(f));
  }

  int extent_end(const EvidenceFunction& f) const { return f.body_end; }

  // Parents and the scope of every token, in one sweep.
  void build_scopes() {
    scope_of.assign(static_cast<size_t>(count()), -1);
    std::vector<int> stack;
    size_t next = 0;
    for (int i = 0; i < count(); ++i) {
      while (!stack.empty() && extent_end(out.functions[static_cast<size_t>(stack.back())]) < i) stack.pop_back();
      while (next < out.functions.size() && out.functions[next].head == i) {
        EvidenceFunction& f = out.functions[next];
        f.parent = stack.empty() ? -1 : stack.back();
        stack.push_back(static_cast<int>(next));
        ++next;
      }
      // A function's own name and the parameters belong to it; a method's
      // name and modifiers to the enclosing scope.
      scope_of[static_cast<size_t>(i)] = stack.empty() ? -1 : stack.back();
    }
    memo.resize(out.functions.size());
    calls.resize(out.functions.size());
    jsdoc_params.resize(out.functions.size());
    jsdoc_optional.resize(out.functions.size());
    jsdoc_results.resize(out.functions.size());
    has_jsdoc.assign(out.functions.size(), 0);
    field_writes.resize(out.classes.size());
    field_refs.resize(out.classes.size());
  }

  int parent_scope(int s) const { return s < 0 ? -1 : out.functions[static_cast<size_t>(s)].parent; }

  // ----- Bindings ----------------------------------------------------------

  int declare(int scope_id, int name_token, BindingKind kind_, bool open) {
    const std::string_view name = text(name_token);
    auto [found, added] = binding_index.try_emplace({scope_id, name}, static_cast<int>(bindings.size()));
    if (added) {
      Binding b;
      b.scope = scope_id;
      b.name = name;
      b.kind = kind_;
      b.declaration = name_token;
      bindings.push_back(std::move(b));
      ++binding_names[name];
    }
    Binding& b = bindings[static_cast<size_t>(found->second)];
    ++b.declarations;
    if (!added && (b.kind != kind_ || kind_ != BindingKind::variable)) b.open = true;
    if (!added && b.kind == BindingKind::variable) b.open = true;  // two declarations: which one is meant is unclear
    if (open) b.open = true;
    declaration_names.insert(name_token);
    return found->second;
  }

  int resolve(int token) const {
    const std::string_view name = text(token);
    for (int s = scope(token);; s = parent_scope(s)) {
      const auto found = binding_index.find({s, name});
      if (found != binding_index.end()) return found->second;
      if (s < 0) return -1;
    }
  }

  // The identifiers a destructuring pattern [open, close] binds or assigns.
  template <typename Each>
  void pattern_names(int open, int close, Each each) const {
    for (int i = open + 1; i < close; ++i) {
      if (kind(i) != TK_IDENTIFIER) continue;
      const int before = kind(i - 1);
      const int after = kind(i + 1);
      if ((before == TK_LBRACE || before == TK_COMMA || before == TK_LBRACKET || before == TK_COLON ||
           before == TK_SPREAD) &&
          (after == TK_COMMA || after == TK_RBRACE || after == TK_RBRACKET || after == TK_ASSIGN)) {
        each(i);
      }
    }
  }

  void declare_params(int f_id) {
    EvidenceFunction& f = out.functions[static_cast<size_t>(f_id)];
    if (f.params_open < 0) {  // x => ...
      EvidenceParam p{f.params_close, f.params_close + 1, f.params_close, {}};
      f.params.push_back(p);
      const int b = declare(f_id, f.params_close, BindingKind::param, false);
      bindings[static_cast<size_t>(b)].function_id = f_id;
      bindings[static_cast<size_t>(b)].param_index = 0;
      return;
    }
    const auto elements = group_elements(tokens, match, f.params_open);
    for (size_t p = 0; p < elements.size(); ++p) {
      const auto [first, last] = elements[p];
      if (first >= last) continue;
      EvidenceParam param{first, last, -1, {}};
      if (kind(first) == TK_IDENTIFIER && (last == first + 1 || kind(first + 1) == TK_ASSIGN)) {
        param.name = first;
        const int b = declare(f_id, first, BindingKind::param, false);
        bindings[static_cast<size_t>(b)].function_id = f_id;
        bindings[static_cast<size_t>(b)].param_index = static_cast<int>(p);
        bindings[static_cast<size_t>(b)].initialized = last > first + 1;
      } else if (kind(first) == TK_SPREAD && kind(first + 1) == TK_IDENTIFIER) {
        param.name = first + 1;
        declare(f_id, first + 1, BindingKind::other, true);
      } else if (is_opener(kind(first)) && partner(first) > first) {
        pattern_names(first, partner(first), [&](int t) { declare(f_id, t, BindingKind::other, true); });
      }
      f.params.push_back(param);
    }
  }

  void declare_everything() {
    for (size_t f = 0; f < out.functions.size(); ++f) {
      const EvidenceFunction& fn = out.functions[f];
      declare_params(static_cast<int>(f));
      if (fn.is_method || fn.is_arrow) continue;
      const int keyword = word(fn.head, "function") ? fn.head : fn.head + 1;
      int name = keyword + 1;
      if (kind(name) == TK_STAR) ++name;
      if (kind(name) != TK_IDENTIFIER) continue;
      const bool declaration = in_statement_position(tokens, keyword) || kind(keyword - 1) == TK_EXPORT ||
                               word(keyword - 1, "default");
      const int b = declare(declaration ? fn.parent : static_cast<int>(f), name, BindingKind::function, false);
      bindings[static_cast<size_t>(b)].function_id = static_cast<int>(f);
    }
    for (size_t c = 0; c < out.classes.size(); ++c) {
      const EvidenceClass& cls = out.classes[c];
      if (cls.name.empty()) continue;
      const int name = cls.keyword + 1;
      if (in_statement_position(tokens, cls.keyword) || kind(cls.keyword - 1) == TK_EXPORT ||
          word(cls.keyword - 1, "default")) {
        const int b = declare(scope(cls.keyword), name, BindingKind::klass, false);
        bindings[static_cast<size_t>(b)].class_id = static_cast<int>(c);
      }
    }
    for (int i = 0; i < count(); ++i) {
      const int k = kind(i);
      if (word(i, "catch") && kind(i + 1) == TK_LPAREN) {
        const int close = partner(i + 1);
        for (int t = i + 2; t < close; ++t) {
          if (kind(t) == TK_IDENTIFIER) declare(scope(t), t, BindingKind::other, true);
        }
        continue;
      }
      if (k == TK_IMPORT && kind(i + 1) != TK_LPAREN && kind(i + 1) != TK_DOT) {
        for (int t = i + 1; t < count() && kind(t) != TK_SEMICOLON && kind(t) != TK_STRING; ++t) {
          if (kind(t) == TK_IDENTIFIER && text(t) != "as" && text(t) != "from" && kind(t + 1) != TK_IDENTIFIER) {
            declare(-1, t, BindingKind::other, true);
          }
        }
        continue;
      }
      if (!is_declaration_keyword(k) || kind(i - 1) == TK_DOT) continue;
      const bool for_head = kind(i - 1) == TK_LPAREN && kind(i - 2) == TK_FOR;
      const bool for_await_head = kind(i - 1) == TK_LPAREN && word(i - 2, "await") && kind(i - 3) == TK_FOR;
      int at_ = i + 1;
      for (;;) {
        if (kind(at_) == TK_IDENTIFIER) {
          const bool iterated = (for_head || for_await_head) && (word(at_ + 1, "of") || word(at_ + 1, "in"));
          const int b = declare(scope(at_), at_, BindingKind::variable, iterated);
          Binding& binding = bindings[static_cast<size_t>(b)];
          binding.in_for_head = binding.in_for_head || for_head || for_await_head;
          int end = at_ + 1;
          if (kind(at_ + 1) == TK_ASSIGN) {
            end = expression_end(at_ + 2);
            binding.initialized = true;
            binding.writes.push_back({at_ + 2, end, Write::Op::assign});
          }
          at_ = end;
        } else if ((kind(at_) == TK_LBRACE || kind(at_) == TK_LBRACKET) && partner(at_) > at_) {
          pattern_names(at_, partner(at_), [&](int t) { declare(scope(t), t, BindingKind::variable, true); });
          at_ = partner(at_) + 1;
          if (kind(at_) == TK_ASSIGN) at_ = expression_end(at_ + 1);
        } else {
          break;
        }
        if (kind(at_) != TK_COMMA) break;
        ++at_;
      }
    }
    for (const Binding& b : bindings) {
      if (b.kind == BindingKind::klass && b.scope == -1 && binding_names[b.name] == 1 &&
          !builtin_class(b.name)) {
        top_classes.emplace_back(b.name);
      }
    }
  }

  // The class whose `this` the token at `i` sees, or -1.
  int this_class(int i) const {
    for (int s = scope(i); s >= 0; s = parent_scope(s)) {
      const EvidenceFunction& f = out.functions[static_cast<size_t>(s)];
      if (f.is_arrow) continue;
      return f.is_method ? f.class_id : function_pseudo[static_cast<size_t>(s)];
    }
    return -1;
  }

  // Constructor functions (`function P() { this.x = 1; }`, `P.prototype.m =
  // function () {...}`): their `this` has fields like a class's, under ids
  // past the classes'. No type of theirs is ever written by name.
  std::vector<int> function_pseudo;
  std::unordered_map<std::string, int> pseudo_by_name;

  int pseudo_class(std::string_view name) {
    const int id = static_cast<int>(out.classes.size() + pseudo_by_name.size());
    auto [found, added] = pseudo_by_name.try_emplace(std::string(name), id);
    if (added) {
      field_writes.emplace_back();
      field_refs.emplace_back();
    }
    return found->second;
  }

  void find_pseudo_classes() {
    function_pseudo.assign(out.functions.size(), -1);
    for (size_t f = 0; f < out.functions.size(); ++f) {
      const EvidenceFunction& fn = out.functions[f];
      if (fn.is_arrow || fn.is_method) continue;
      const int h = fn.head;
      if (kind(h - 1) == TK_ASSIGN && kind(h - 2) == TK_IDENTIFIER && kind(h - 3) == TK_DOT &&
          word(h - 4, "prototype") && kind(h - 5) == TK_DOT && kind(h - 6) == TK_IDENTIFIER) {
        function_pseudo[f] = pseudo_class(text(h - 6));
        // A method by name, as a class's: `this.m(...)` and `x.m(...)` reach it.
        const std::string key = std::to_string(function_pseudo[f]) + "/" + std::string(text(h - 2));
        auto [found, added] = method_index.try_emplace(key, static_cast<int>(f));
        if (!added) found->second = -1;
      } else if (!fn.name.empty() && constructor_function(static_cast<int>(f))) {
        function_pseudo[f] = pseudo_class(fn.name);
      }
    }
  }

  // Methods by class and name, filled once.
  std::unordered_map<std::string, int> method_index;
  int find_method(int class_id, std::string_view name) const {
    const auto found = method_index.find(std::to_string(class_id) + "/" + std::string(name));
    return found == method_index.end() ? -1 : found->second;
  }

  void index_methods() {
    for (size_t f = 0; f < out.functions.size(); ++f) {
      const EvidenceFunction& fn = out.functions[f];
      if (!fn.is_method || fn.class_id < 0 || fn.is_setter) continue;
      const std::string key = std::to_string(fn.class_id) + "/" + fn.name;
      auto [found, added] = method_index.try_emplace(key, static_cast<int>(f));
      if (!added) found->second = -1;  // two members of one name: a getter and a method, overloads of a kind
    }
  }

  // Writes, uses and calls, in one walk over the references.
  void collect_references() {
    for (int i = 0; i < count(); ++i) {
      const int k = kind(i);
      // Destructuring assignment: the names it writes are no longer followed.
      if (k == TK_ASSIGN && (kind(i - 1) == TK_RBRACKET || kind(i - 1) == TK_RBRACE) && partner(i - 1) >= 0) {
        const int open = partner(i - 1);
        const int before = kind(open - 1);
        if (before != TK_IDENTIFIER && before != TK_RPAREN && before != TK_RBRACKET && before != TK_STRING) {
          pattern_names(open, i - 1, [&](int t) {
            const int b = resolve(t);
            if (b >= 0) bindings[static_cast<size_t>(b)].open = true;
          });
        }
        continue;
      }
      if (k == TK_IDENTIFIER && text(i) == "this" && kind(i + 1) == TK_DOT && kind(i + 2) == TK_IDENTIFIER) {
        const int c = this_class(i);
        if (c < 0) continue;
        const std::string field(text(i + 2));
        field_refs[static_cast<size_t>(c)][text(i + 2)].push_back(i + 2);
        const int after = kind(i + 3);
        if (after == TK_ASSIGN) {
          field_writes[static_cast<size_t>(c)][field].push_back({i + 4, expression_end(i + 4), Write::Op::assign});
        } else if (after == TK_COMPOUND_ASSIGN) {
          const std::string_view op = text(i + 3);
          const Write::Op kind_ = op == "+=" ? Write::Op::plus
                                  : (op == "?\?=" || op == "||=" || op == "&&=") ? Write::Op::logical
                                                                              : Write::Op::numeric;
          field_writes[static_cast<size_t>(c)][field].push_back({i + 4, expression_end(i + 4), kind_});
        } else if (after == TK_INCREMENT || kind(i - 1) == TK_INCREMENT) {
          field_writes[static_cast<size_t>(c)][field].push_back({i, i, Write::Op::numeric});
        } else if (after == TK_LPAREN) {
          const int m = find_method(c, field);
          if (m >= 0) calls[static_cast<size_t>(m)].push_back(i + 3);
        }
        continue;
      }
      if (k != TK_IDENTIFIER || declaration_names.count(i) != 0 || method_names.count(i) != 0) continue;
      const int before = kind(i - 1);
      if (before == TK_DOT || before == TK_OPTIONAL_CHAIN) continue;
      if (kind(i + 1) == TK_COLON) {
        // An object key, not a reference (`a ? b : c` keeps its `b`).
        int open = i - 1;
        if (before == TK_COMMA || before == TK_LBRACE) {
          continue;
        }
        (void)open;
      }
      const int b = resolve(i);
      if (b < 0) continue;
      Binding& binding = bindings[static_cast<size_t>(b)];
      if (binding.kind == BindingKind::param) binding.uses.push_back(i);
      if (binding.kind == BindingKind::variable && !binding.escapes) note_array_use(binding, i);
      const int after = kind(i + 1);
      if (after == TK_ASSIGN) {
        binding.writes.push_back({i + 2, expression_end(i + 2), Write::Op::assign});
      } else if (after == TK_COMPOUND_ASSIGN) {
        const std::string_view op = text(i + 1);
        const Write::Op kind_ = op == "+=" ? Write::Op::plus
                                : (op == "?\?=" || op == "||=" || op == "&&=") ? Write::Op::logical
                                                                            : Write::Op::numeric;
        binding.writes.push_back({i + 2, expression_end(i + 2), kind_});
      } else if (after == TK_INCREMENT || before == TK_INCREMENT) {
        binding.writes.push_back({i, i, Write::Op::numeric});
      } else if ((word(i + 1, "of") || word(i + 1, "in")) && before == TK_LPAREN && kind(i - 2) == TK_FOR) {
        binding.open = true;
      }
      if (after == TK_LPAREN) {
        const int f = callee_function(b);
        if (f >= 0) calls[static_cast<size_t>(f)].push_back(i + 1);
      }
      if (word(i - 1, "new") && binding.kind == BindingKind::klass && after == TK_LPAREN) {
        const int ctor = find_method(binding.class_id, "constructor");
        if (ctor >= 0) calls[static_cast<size_t>(ctor)].push_back(i + 1);
      }
    }
  }

  // How the reference at i uses a variable that may be an array being
  // filled: `a.push(x)` is recorded, reads that cannot add elements are
  // fine, anything else makes the elements unknown.
  void note_array_use(Binding& binding, int i) {
    if (i == binding.declaration) return;
    const int before = kind(i - 1);
    const int after = kind(i + 1);
    if (after == TK_DOT && kind(i + 2) == TK_IDENTIFIER) {
      const std::string_view member = text(i + 2);
      if (member == "push" && kind(i + 3) == TK_LPAREN && partner(i + 3) > i + 3) {
        binding.pushes.push_back(i + 3);
        return;
      }
      if (member == "length" && kind(i + 3) != TK_ASSIGN && kind(i + 3) != TK_COMPOUND_ASSIGN) return;
      if (kind(i + 3) == TK_LPAREN &&
          in_list(member, {"join", "indexOf", "lastIndexOf", "includes", "slice", "map", "filter", "forEach", "some",
                           "every", "find", "findIndex", "reduce", "concat", "at", "entries", "keys", "values"})) {
        return;
      }
    } else if (after == TK_LBRACKET && partner(i + 1) > i + 1) {
      const int next = kind(partner(i + 1) + 1);
      if (next != TK_ASSIGN && next != TK_COMPOUND_ASSIGN && next != TK_INCREMENT && next != TK_DOT &&
          next != TK_LBRACKET) {
        return;
      }
    } else if (before == TK_RETURN && ends_expression(tokens, i + 1)) {
      return;
    } else if (word(i - 1, "of") && kind(i + 1) == TK_RPAREN) {
      return;
    } else if (after == TK_ASSIGN) {
      return;  // a write: followed as one
    }
    binding.escapes = true;
  }

  // The type of an array a variable starts empty and only fills through
  // `push` of known elements (`const out = []; out.push(String(x))`).
  EvidenceType pushed_array_type(const Binding& binding) {
    if (binding.open || binding.escapes || binding.pushes.empty() || binding.writes.size() != 1) return open_type();
    const Write& w = binding.writes[0];
    if (w.op != Write::Op::assign || kind(w.first) != TK_LBRACKET || w.end != w.first + 2 ||
        kind(w.first + 1) != TK_RBRACKET) {
      return open_type();
    }
    EvidenceType element = nullish_type();
    for (const int open : binding.pushes) {
      for (const auto& [first, last] : group_elements(tokens, match, open)) {
        if (first >= last || kind(first) == TK_SPREAD) return open_type();
        const EvidenceType e = expression_type(first, last);
        if (!e.known()) return open_type();
        element = join_types(element, e);
      }
    }
    if (!element.known() || element.members.size() != 1) return open_type();
    return EvidenceType::of(array_of(element));
  }

  // Whether `exports` at i is CommonJS's own object, not a name of the file.
  bool module_exports_at(int i) const {
    return word(i, "exports") && kind(i - 1) != TK_DOT && kind(i - 1) != TK_OPTIONAL_CHAIN && resolve(i) < 0;
  }

  // The functions a CommonJS file exports by name (`exports.f = f`,
  // `exports.f = function ...`), each assigned once apart from the
  // `exports.f = void 0` a compiler writes first, and the calls of them
  // through `exports.f(...)` or `(0, exports.f)(...)`, the form compiled
  // TypeScript calls its own exports in.
  void find_exported_functions() {
    std::unordered_map<std::string_view, int> found;
    std::unordered_set<std::string_view> spoiled;
    for (int i = 0; i + 4 < count(); ++i) {
      if (!module_exports_at(i) || kind(i + 1) != TK_DOT || kind(i + 2) != TK_IDENTIFIER) continue;
      const std::string_view name = text(i + 2);
      if (kind(i + 3) != TK_ASSIGN) {
        // Written some other way (`exports.f += ...`, `exports.f.x = ...` is fine).
        if (kind(i + 3) == TK_COMPOUND_ASSIGN) spoiled.insert(name);
        continue;
      }
      const int value = i + 4;
      if (word(value, "void") && kind(value + 1) == TK_NUMBER) continue;
      if (module_exports_at(value) && kind(value + 1) == TK_DOT && kind(value + 3) == TK_ASSIGN) continue;
      const int end = expression_end(value);
      int f = -1;
      const auto head = function_by_head.find(value);
      if (head != function_by_head.end() && extent_end(out.functions[static_cast<size_t>(head->second)]) + 1 >= end) {
        f = head->second;
      } else if (kind(value) == TK_IDENTIFIER && end == value + 1) {
        const int b = resolve(value);
        if (b >= 0) f = callee_function(b);
      } else {
        f = factory_made(value, end);  // `exports.escapeUTF8 = getEscaper(map)`
      }
      if (f < 0 || found.count(name) != 0) {
        spoiled.insert(name);
        continue;
      }
      found[name] = f;
    }
    for (const auto& [name, f] : found) {
      if (spoiled.count(name) == 0) exported_functions[name] = f;
    }
    if (exported_functions.empty()) return;
    for (int i = 0; i + 3 < count(); ++i) {
      const int open = exported_call_open(i);
      if (open < 0) continue;
      const int f = exported_call_target(open);
      if (f >= 0) calls[static_cast<size_t>(f)].push_back(open);
    }
  }

  // The `(` of a call through `exports` that starts at token i, or -1.
  int exported_call_open(int i) const {
    if (module_exports_at(i) && kind(i + 1) == TK_DOT && kind(i + 2) == TK_IDENTIFIER && kind(i + 3) == TK_LPAREN &&
        kind(i - 1) != TK_COMMA) {
      return i + 3;
    }
    if (kind(i) == TK_LPAREN && kind(i + 1) == TK_NUMBER && kind(i + 2) == TK_COMMA && module_exports_at(i + 3) &&
        kind(i + 4) == TK_DOT && kind(i + 5) == TK_IDENTIFIER && kind(i + 6) == TK_RPAREN && kind(i + 7) == TK_LPAREN) {
      return i + 7;
    }
    return -1;
  }

  // The object and member tokens of a call `o.f(...)` or `(0, o.f)(...)`
  // (the form compiled TypeScript calls another module's function in) whose
  // `(` is at `open`; {-1, -1} for any other call.
  std::pair<int, int> member_callee(int open) const {
    if (open >= 3 && kind(open - 1) == TK_IDENTIFIER && kind(open - 2) == TK_DOT &&
        kind(open - 3) == TK_IDENTIFIER && kind(open - 4) != TK_DOT && kind(open - 4) != TK_OPTIONAL_CHAIN) {
      return {open - 3, open - 1};
    }
    if (open >= 7 && kind(open - 1) == TK_RPAREN && kind(open - 7) == TK_LPAREN && kind(open - 6) == TK_NUMBER &&
        kind(open - 5) == TK_COMMA && kind(open - 4) == TK_IDENTIFIER && kind(open - 3) == TK_DOT &&
        kind(open - 2) == TK_IDENTIFIER) {
      return {open - 4, open - 2};
    }
    return {-1, -1};
  }

  // The exported function a call with its `(` at `open` calls, or -1.
  int exported_call_target(int open) const {
    if (exported_functions.empty()) return -1;
    const auto [object, name] = member_callee(open);
    if (object < 0 || !module_exports_at(object)) return -1;
    const auto found = exported_functions.find(text(name));
    return found == exported_functions.end() ? -1 : found->second;
  }

  // A type another module gave, unless this file shadows a global it names.
  EvidenceType usable_here(const EvidenceType& type) const {
    if (!type.known()) return type;
    for (const std::string& member : type.members) {
      size_t i = 0;
      while (i < member.size()) {
        size_t end = i;
        while (end < member.size() && is_ascii_identifier_byte(member[end])) ++end;
        if (end > i && !global_type_usable(std::string_view(member).substr(i, end - i))) return open_type();
        i = end + 1;
      }
    }
    return type;
  }

  // Whether `name` is a class the module `specifier` of the run exports (ES).
  bool exported_class(std::string_view specifier, std::string_view name) const {
    if (modules == nullptr || !specifier.starts_with('.')) return false;
    const ModuleExports* exports = (*modules)(specifier);
    return exports != nullptr &&
           std::find(exports->classes.begin(), exports->classes.end(), name) != exports->classes.end();
  }

  // The function `name` of the module `specifier` of the run, or null.
  const ExportedFunction* exported_function(std::string_view specifier, std::string_view name) const {
    if (modules == nullptr || !specifier.starts_with('.')) return nullptr;
    const ModuleExports* exports = (*modules)(specifier);
    if (exports == nullptr) return nullptr;
    const auto found = exports->functions.find(std::string(name));
    return found == exports->functions.end() ? nullptr : &found->second;
  }

  // The type of the value `name` the module `specifier` of the run exports,
  // open when it exports none.
  EvidenceType exported_value(std::string_view specifier, std::string_view name) const {
    if (modules == nullptr || !specifier.starts_with('.')) return open_type();
    const ModuleExports* exports = (*modules)(specifier);
    if (exports == nullptr) return open_type();
    const auto found = exports->values.find(std::string(name));
    return found == exports->values.end() ? open_type() : usable_here(found->second);
  }

  // Whether binding b comes from an `import` (a type there), not a
  // destructured `require` (a value only).
  bool import_is_es(int b) const { return bindings[static_cast<size_t>(b)].kind == BindingKind::other; }

  // The names bound to what a relative module exports: `import a, { b as c }
  // from './m'`, `import * as m from './m'`, `const { b, d: e } = require('./m')`.
  // (`const m = require('./m')` needs nothing here: its value names the module.)
  void find_imports() {
    const auto bind = [&](int local, std::string_view specifier, std::string_view name) {
      const int b = resolve(local);
      if (b >= 0 && bindings[static_cast<size_t>(b)].declarations == 1) imports[b] = {specifier, name};
    };
    for (int i = 0; i < count(); ++i) {
      if (kind(i) == TK_IMPORT && kind(i + 1) != TK_LPAREN && kind(i + 1) != TK_DOT) {
        int end = i + 1;
        while (end < count() && kind(end) != TK_STRING && kind(end) != TK_SEMICOLON) ++end;
        if (kind(end) != TK_STRING || !word(end - 1, "from")) continue;
        const std::string_view specifier = text(end);
        bool braces = false;
        for (int t = i + 1; t < end - 1; ++t) {
          if (kind(t) == TK_LBRACE) braces = true;
          if (kind(t) == TK_RBRACE) braces = false;
          if (kind(t) != TK_IDENTIFIER || word(t, "as") || word(t, "type") || kind(t + 1) == TK_IDENTIFIER) continue;
          if (word(t - 1, "as")) {
            bind(t, specifier, kind(t - 2) == TK_STAR ? std::string_view("*") : text(t - 2));
          } else {
            bind(t, specifier, braces ? text(t) : std::string_view("default"));
          }
        }
        continue;
      }
      // `{ ... } = require('./m')` after a declaration keyword.
      if (kind(i) == TK_RBRACE && kind(i + 1) == TK_ASSIGN && word(i + 2, "require") && kind(i + 3) == TK_LPAREN &&
          kind(i + 4) == TK_STRING && kind(i + 5) == TK_RPAREN && partner(i) >= 0 &&
          is_declaration_keyword(kind(partner(i) - 1))) {
        const std::string_view specifier = text(i + 4);
        for (const auto& [first, last] : group_elements(tokens, match, partner(i))) {
          if (last == first + 1 && kind(first) == TK_IDENTIFIER) bind(first, specifier, text(first));
          if (last == first + 3 && kind(first) == TK_IDENTIFIER && kind(first + 1) == TK_COLON &&
              kind(first + 2) == TK_IDENTIFIER) {
            bind(first + 2, specifier, text(first));
          }
        }
      }
    }
  }

  // The module (`./m`) a binding holds: `const m = require('./m')`; empty otherwise.
  std::string_view required_module(int b) const {
    const Binding& binding = bindings[static_cast<size_t>(b)];
    if (binding.kind != BindingKind::variable || binding.open || binding.writes.size() != 1) return {};
    const Write& w = binding.writes[0];
    if (w.op != Write::Op::assign || !word(w.first, "require") || kind(w.first + 1) != TK_LPAREN ||
        kind(w.first + 2) != TK_STRING || kind(w.first + 3) != TK_RPAREN || w.first + 4 != w.end) {
      return {};
    }
    const std::string_view specifier = text(w.first + 2);
    return specifier.starts_with('.') ? specifier : std::string_view();
  }

  // The relative module and exported name a call with its `(` at `open`
  // reaches: `f(...)` of an imported name, `m.f(...)` and `(0, m.f)(...)` of
  // a required or imported module, `m(...)` of a required one (`default`).
  std::optional<std::pair<std::string_view, std::string_view>> import_target(int open) const {
    if (open < 1) return std::nullopt;
    const auto [object, name] = member_callee(open);
    if (object < 0 && kind(open - 1) == TK_IDENTIFIER && kind(open - 2) != TK_DOT) {
      const int b = resolve(open - 1);
      if (b < 0) return std::nullopt;
      const auto found = imports.find(b);
      if (found != imports.end()) {
        if (found->second.second == "*") return std::nullopt;
        return found->second;
      }
      const std::string_view specifier = required_module(b);
      if (specifier.empty()) return std::nullopt;
      return std::make_pair(specifier, std::string_view("default"));
    }
    if (object < 0) return std::nullopt;
    const int b = resolve(object);
    if (b < 0) return std::nullopt;
    const auto found = imports.find(b);
    if (found != imports.end()) {
      if (found->second.second != "*") return std::nullopt;
      return std::make_pair(found->second.first, text(name));
    }
    const std::string_view specifier = required_module(b);
    if (specifier.empty()) return std::nullopt;
    return std::make_pair(specifier, text(name));
  }

  // The imported function a call with its `(` at `open` calls, or null.
  const ExportedFunction* imported_call_target(int open) const {
    if (modules == nullptr) return nullptr;
    const auto target = import_target(open);
    return target ? exported_function(target->first, target->second) : nullptr;
  }

  // The calls of the relative modules' functions, with their argument
  // types, for the files they call into.
  void collect_outgoing_calls() {
    for (int open = 1; open < count(); ++open) {
      if (kind(open) != TK_LPAREN) continue;
      const auto target = import_target(open);
      if (!target) continue;
      OutgoingCall call;
      call.specifier = std::string(target->first);
      call.name = std::string(target->second);
      for (const auto& [first, last] : group_elements(tokens, match, open)) {
        if (first < last && kind(first) == TK_SPREAD) {
          // Past a spread no position is known, nor whether any is left out.
          call.args.resize(std::max<size_t>(call.args.size(), kMaxSpreadPositions));
          break;
        }
        call.args.push_back(first < last ? expression_type(first, last) : open_type());
      }
      out.outgoing.push_back(std::move(call));
    }
  }

  // The functions this file exports (`exports.f`, `module.exports = f`,
  // `export function f`, `export const f = ...`, `export default function`),
  // and the calls other files of the run make of them.
  void find_export_list() {
    for (const auto& [name, f] : exported_functions) export_list.emplace_back(name, f);
    for (int i = 0; i + 2 < count(); ++i) {
      if (kind(i) == TK_EXPORT && resolve_export_function(i + 1) >= 0) {
        const int f = resolve_export_function(i + 1);
        if (word(i + 1, "default")) {
          export_list.emplace_back("default", f);
        } else if (!out.functions[static_cast<size_t>(f)].name.empty()) {
          export_list.emplace_back(out.functions[static_cast<size_t>(f)].name, f);
        }
      }
      if (kind(i) == TK_EXPORT && is_declaration_keyword(kind(i + 1)) && kind(i + 2) == TK_IDENTIFIER &&
          kind(i + 3) == TK_ASSIGN) {
        const int b = resolve(i + 2);
        const int f = b >= 0 ? callee_function(b) : -1;
        if (f >= 0) export_list.emplace_back(text(i + 2), f);
      }
      if (word(i, "module") && kind(i + 1) == TK_DOT && word(i + 2, "exports") && kind(i + 3) == TK_ASSIGN &&
          kind(i - 1) != TK_DOT && resolve(i) < 0) {
        const int value = i + 4;
        const int end = expression_end(value);
        const auto head = function_by_head.find(value);
        if (head != function_by_head.end() && extent_end(out.functions[static_cast<size_t>(head->second)]) + 1 >= end) {
          export_list.emplace_back("default", head->second);
        } else if (kind(value) == TK_IDENTIFIER && end == value + 1) {
          const int b = resolve(value);
          const int f = b >= 0 ? callee_function(b) : -1;
          if (f >= 0) export_list.emplace_back("default", f);
        } else if (kind(value) == TK_LBRACE && partner(value) + 1 == end) {
          // `module.exports = { f, g: h, k: function () {} }`
          for (const auto& [first, last] : group_elements(tokens, match, value)) {
            if (kind(first) != TK_IDENTIFIER) continue;
            int f = -1;
            if (last == first + 1) {
              const int b = resolve(first);
              f = b >= 0 ? callee_function(b) : -1;
            } else if (kind(first + 1) == TK_COLON && last == first + 3 && kind(first + 2) == TK_IDENTIFIER) {
              const int b = resolve(first + 2);
              f = b >= 0 ? callee_function(b) : -1;
            } else if (kind(first + 1) == TK_COLON) {
              const auto fn = function_by_head.find(first + 2);
              if (fn != function_by_head.end() && extent_end(out.functions[static_cast<size_t>(fn->second)]) + 1 >= last) {
                f = fn->second;
              }
            }
            if (f >= 0) export_list.emplace_back(text(first), f);
          }
        }
      }
    }
    if (incoming_calls == nullptr) return;
    for (const auto& [name, f] : export_list) {
      const auto found = incoming_calls->find(std::string(name));
      if (found != incoming_calls->end()) incoming[f] = &found->second;
    }
  }

  // What this file exports, for the files of the run that require it.
  void collect_exports() {
    for (const auto& [name, f] : export_list) {
      ExportedFunction exported;
      for (const EvidenceType& param : param_types(f)) exported.params.push_back(portable(param));
      exported.result = portable(function_result(f));
      out.exports.functions.emplace(std::string(name), std::move(exported));
    }
    collect_exported_values();
    // ES classes: an importer names them by its own binding.
    for (size_t c = 0; c < out.classes.size(); ++c) {
      const EvidenceClass& cls = out.classes[c];
      if (cls.keyword < 1 || cls.name.empty()) continue;
      if (kind(cls.keyword - 1) == TK_EXPORT) out.exports.classes.push_back(cls.name);
      if (word(cls.keyword - 1, "default") && kind(cls.keyword - 2) == TK_EXPORT) out.exports.classes.push_back("default");
    }
  }

  // The values of a known type the file exports under a name: `exports.X =
  // v` (past the `exports.X = void 0` a compiler writes first) and `export
  // const X = v`, each assigned once and not a function.
  void collect_exported_values() {
    std::unordered_map<std::string_view, std::pair<int, int>> found;  // name -> value's first token, end
    std::unordered_set<std::string_view> spoiled;
    const auto note = [&](std::string_view name, int value) {
      if (found.count(name) != 0) spoiled.insert(name);
      found[name] = {value, expression_end(value)};
    };
    for (int i = 0; i + 4 < count(); ++i) {
      if (module_exports_at(i) && kind(i + 1) == TK_DOT && kind(i + 2) == TK_IDENTIFIER) {
        const std::string_view name = text(i + 2);
        if (kind(i + 3) != TK_ASSIGN) {
          if (kind(i + 3) == TK_COMPOUND_ASSIGN || kind(i + 3) == TK_INCREMENT) spoiled.insert(name);
          continue;
        }
        const int value = i + 4;
        if (word(value, "void") && kind(value + 1) == TK_NUMBER) continue;
        if (module_exports_at(value) && kind(value + 1) == TK_DOT && kind(value + 3) == TK_ASSIGN) continue;
        note(name, value);
      } else if (kind(i) == TK_EXPORT && is_declaration_keyword(kind(i + 1)) && kind(i + 2) == TK_IDENTIFIER &&
                 kind(i + 3) == TK_ASSIGN) {
        note(text(i + 2), i + 4);
        // A `let` the module may change later: its exported value is not one type.
        if (word(i + 1, "let") || word(i + 1, "var")) {
          const int b = resolve(i + 2);
          if (b < 0 || bindings[static_cast<size_t>(b)].writes.size() != 1) spoiled.insert(text(i + 2));
        }
      }
    }
    for (const auto& [name, where] : found) {
      if (spoiled.count(name) != 0 || out.exports.functions.count(std::string(name)) != 0) continue;
      if (function_by_head.count(where.first) != 0) continue;
      const EvidenceType type = portable(expression_type(where.first, where.second));
      if (type.known()) out.exports.values.emplace(std::string(name), type);
    }
  }

  // The function an `export` declares at token `head` (`function f`,
  // `async function f`, `default function`), or -1.
  int resolve_export_function(int head) const {
    if (word(head, "default")) ++head;
    const auto found = function_by_head.find(head);
    if (found == function_by_head.end()) return -1;
    const EvidenceFunction& f = out.functions[static_cast<size_t>(found->second)];
    return f.is_arrow || f.is_method ? -1 : found->second;
  }

  // The function a binding calls: a declared function, or a variable whose
  // only value is a function.
  int callee_function(int b) const {
    const Binding& binding = bindings[static_cast<size_t>(b)];
    if (binding.kind == BindingKind::function) return binding.function_id;
    if (binding.kind != BindingKind::variable || binding.open || binding.writes.size() != 1) return -1;
    const Write& write = binding.writes[0];
    if (write.op != Write::Op::assign) return -1;
    const int f = function_spanning(write.first, write.end);
    return f >= 0 ? f : factory_made(write.first, write.end);
  }

  // `getDecoder(tree)` spanning [first, end): the function the factory of
  // the file returns, or -1.
  int factory_made(int first, int end) const {
    if (kind(first) != TK_IDENTIFIER || kind(first - 1) == TK_DOT || kind(first + 1) != TK_LPAREN ||
        partner(first + 1) + 1 != end) {
      return -1;
    }
    const int factory = resolve(first);
    if (factory < 0 || bindings[static_cast<size_t>(factory)].kind != BindingKind::function) return -1;
    return returned_function(bindings[static_cast<size_t>(factory)].function_id);
  }

  // The function whose value spans the tokens [first, end), or -1.
  int function_spanning(int first, int end) const {
    const auto found = function_by_head.find(first);
    if (found == function_by_head.end()) return -1;
    return extent_end(out.functions[static_cast<size_t>(found->second)]) + 1 >= end ? found->second : -1;
  }

  // The function expression a plain function of the file returns, when its
  // one `return` gives one (`function getEscaper(map) { return function
  // escape(s) {...}; }`), or -1. Each call makes a closure of that same code,
  // so calls of what it made are calls of it.
  int returned_function(int f) const {
    // Found once per factory: every call site of what it made asks.
    if (returned_memo.empty()) returned_memo.assign(out.functions.size(), -2);
    int& memoed = returned_memo[static_cast<size_t>(f)];
    if (memoed != -2) return memoed;
    memoed = -1;
    const EvidenceFunction& fn = out.functions[static_cast<size_t>(f)];
    if (fn.is_async || fn.is_generator || fn.body_open < 0) return memoed;
    if (fn.is_arrow && kind(fn.body_open) != TK_LBRACE) return memoed = function_spanning(fn.body_open, fn.body_end);
    const std::vector<int> returns = own_returns(tokens, match, fn.body_open + 1, fn.body_end);
    if (returns.size() != 1) return memoed;
    const int value = returns[0] + 1;
    return memoed = function_spanning(value, expression_end(value));
  }
  mutable std::vector<int> returned_memo;  // per function: -2 not yet asked

  // ----- JSDoc --------------------------------------------------------------

  void read_jsdoc() {
    for (size_t f = 0; f < out.functions.size(); ++f) {
      const EvidenceFunction& fn = out.functions[f];
      int t = fn.head;
      for (int guard = 0; guard < 12; ++guard) {
        const int k = kind(t);
        if (is_declaration_keyword(k) || k == TK_EXPORT) break;
        const int p = t - 1;
        const int pk = kind(p);
        const bool joins = pk == TK_ASSIGN || pk == TK_COLON || pk == TK_DOT || pk == TK_IDENTIFIER ||
                           is_declaration_keyword(pk) || pk == TK_EXPORT || word(p, "default") ||
                           (pk == TK_STRING && kind(t) == TK_COLON);
        if (!joins || (pk == TK_IDENTIFIER && k == TK_IDENTIFIER)) break;
        // A name ending the line before (`exports.parse = parse` without a
        // semicolon) ends that statement; it does not lead into this one.
        if (pk == TK_IDENTIFIER && line(p) != line(t)) break;
        t = p;
      }
      const int gap_start = t > 0 ? tokens.end(t - 1) : 0;
      const int gap_end = tokens.start(t);
      if (gap_end <= gap_start) continue;
      const std::string_view gap = source.substr(static_cast<size_t>(gap_start), static_cast<size_t>(gap_end - gap_start));
      const size_t open = gap.rfind("/**");
      if (open == std::string_view::npos) continue;
      const size_t close = gap.find("*/", open + 3);
      if (close == std::string_view::npos) continue;
      bool blank_after = true;
      for (size_t c = close + 2; c < gap.size(); ++c) {
        if (gap[c] != ' ' && gap[c] != '\t' && gap[c] != '\n' && gap[c] != '\r') blank_after = false;
      }
      if (!blank_after) continue;
      parse_jsdoc(static_cast<int>(f), gap.substr(open + 3, close - open - 3));
    }
  }

  // One `@param {T} options.name` line: a property of an options object.
  struct JsdocProperty {
    std::string name;
    std::string type;
    bool optional = false;
  };

  void parse_jsdoc(int f, std::string_view doc) {
    const size_t fi = static_cast<size_t>(f);
    // The options objects: `@param {Object} options` followed by one line per
    // property. Kept aside until the whole comment is read.
    std::vector<std::pair<std::string, std::vector<JsdocProperty>>> objects;
    std::unordered_set<std::string> broken_objects;
    size_t pos = 0;
    while ((pos = doc.find('@', pos)) != std::string_view::npos) {
      size_t tag_end = pos + 1;
      while (tag_end < doc.size() && std::isalpha(static_cast<unsigned char>(doc[tag_end]))) ++tag_end;
      const std::string_view tag = doc.substr(pos + 1, tag_end - pos - 1);
      pos = tag_end;
      const bool param = tag == "param" || tag == "arg" || tag == "argument";
      // `@type {T}` on a getter states what it gives.
      const bool result = tag == "returns" || tag == "return" || (tag == "type" && out.functions[fi].is_getter);
      if (!param && !result) continue;
      size_t at_ = tag_end;
      while (at_ < doc.size() && (doc[at_] == ' ' || doc[at_] == '\t')) ++at_;
      if (at_ >= doc.size() || doc[at_] != '{') continue;
      int braces = 0;
      size_t end = at_;
      for (; end < doc.size(); ++end) {
        if (doc[end] == '{') ++braces;
        if (doc[end] == '}' && --braces == 0) break;
      }
      if (end >= doc.size()) return;
      const std::string_view type = doc.substr(at_ + 1, end - at_ - 1);
      has_jsdoc[fi] = 1;
      if (result) {
        jsdoc_results[fi] = jsdoc_type_text(type, top_classes);
        if (jsdoc_results[fi].empty()) jsdoc_results[fi] = "?";
        pos = end;
        continue;
      }
      size_t name = end + 1;
      while (name < doc.size() && (doc[name] == ' ' || doc[name] == '\t')) ++name;
      bool optional = false;
      if (name < doc.size() && doc[name] == '[') {
        optional = true;
        ++name;
      }
      // Some projects quote the name in backticks (`@param {String} \`input\``).
      const bool quoted = name < doc.size() && doc[name] == '`';
      if (quoted) ++name;
      size_t name_end = name;
      while (name_end < doc.size() && (std::isalnum(static_cast<unsigned char>(doc[name_end])) ||
                                       doc[name_end] == '_' || doc[name_end] == '$' || doc[name_end] == '.')) {
        ++name_end;
      }
      if (quoted && (name_end >= doc.size() || doc[name_end] != '`')) {
        pos = end;
        continue;
      }
      const std::string key(doc.substr(name, name_end - name));
      pos = end;
      if (key.empty()) continue;
      const size_t dot = key.find('.');
      if (dot != std::string::npos) {
        const std::string base = key.substr(0, dot);
        const std::string property = key.substr(dot + 1);
        auto object = std::find_if(objects.begin(), objects.end(), [&](const auto& o) { return o.first == base; });
        if (object == objects.end()) {
          broken_objects.insert(base);  // a property of a parameter not stated first
          continue;
        }
        std::string property_type = jsdoc_property_type(type);
        if (property.empty() || property.find('.') != std::string::npos || property_type.empty() ||
            std::any_of(object->second.begin(), object->second.end(),
                        [&](const JsdocProperty& p) { return p.name == property; })) {
          broken_objects.insert(base);
          continue;
        }
        object->second.push_back({property, std::move(property_type), optional});
        continue;
      }
      if (optional) jsdoc_optional[fi].insert(key);
      std::string text_ = jsdoc_type_text(type, top_classes);
      if (text_.empty() && (type == "Object" || type == "object")) objects.emplace_back(key, std::vector<JsdocProperty>{});
      jsdoc_params[fi][key] = text_.empty() ? "?" : text_;
    }
    // An options object whose every property is stated becomes an object type.
    for (const auto& [base, properties] : objects) {
      if (properties.empty() || broken_objects.count(base) != 0) continue;
      std::string text_ = "{ ";
      for (const JsdocProperty& property : properties) {
        text_ += property.name + (property.optional ? "?: " : ": ") + property.type + "; ";
      }
      text_ += "}";
      jsdoc_params[fi][base] = text_;
    }
  }

  // The type of one property line. A property of any value (`*`, `Object`)
  // would need `any`, which this form never writes: the object stays bare.
  std::string jsdoc_property_type(std::string_view type) const { return jsdoc_type_text(type, top_classes); }

  // ----- Evaluation ---------------------------------------------------------

  bool unbound(int token) const { return resolve(token) < 0; }

  bool nameable_class(int c) const {
    if (c < 0 || c >= static_cast<int>(out.classes.size())) return false;
    const std::string& name = out.classes[static_cast<size_t>(c)].name;
    if (name.empty()) return false;
    return std::find(top_classes.begin(), top_classes.end(), name) != top_classes.end() &&
           scope(out.classes[static_cast<size_t>(c)].keyword) == -1;
  }

  bool global_type_usable(std::string_view name) const {
    const auto found = binding_names.find(name);
    return found == binding_names.end();
  }

  EvidenceType class_instance(int c) const {
    return nameable_class(c) ? EvidenceType::of(out.classes[static_cast<size_t>(c)].name) : open_type();
  }

  int class_named(std::string_view name) const {
    for (size_t c = 0; c < out.classes.size(); ++c) {
      if (out.classes[c].name == name && nameable_class(static_cast<int>(c))) return static_cast<int>(c);
    }
    return -1;
  }

  EvidenceType unwrap_promise(const EvidenceType& type) const {
    if (type.known() && type.members.size() == 1 && type.members[0].starts_with("Promise<") &&
        type.members[0].ends_with(">")) {
      const std::string& m = type.members[0];
      return type_from_text(std::string_view(m).substr(8, m.size() - 9));
    }
    return type;
  }

  struct Guard {
    int& depth;
    explicit Guard(int& d) : depth(d) { ++depth; }
    ~Guard() { --depth; }
  };

  EvidenceType expression_type(int first, int end) {
    if (first >= end || depth > kParseDepth) return open_type();
    Guard guard(depth);
    int i = first;
    Value value = parse_sequence(i, end);
    if (i != end) return open_type();  // something this reader does not follow
    return value.type;
  }

  Value parse_sequence(int& i, int end) {
    Value value = parse_assign(i, end);
    while (i < end && kind(i) == TK_COMMA) {
      ++i;
      value = parse_assign(i, end);
    }
    return value;
  }

  // Skips an arrow function starting at `i` (its parameters at `i`).
  bool skip_arrow(int& i, int end) {
    int at_ = i;
    if (kind(at_) == TK_ASYNC && (kind(at_ + 1) == TK_IDENTIFIER || kind(at_ + 1) == TK_LPAREN) &&
        line(at_ + 1) == line(at_)) {
      ++at_;
    }
    int arrow = -1;
    if (kind(at_) == TK_IDENTIFIER && kind(at_ + 1) == TK_ARROW) arrow = at_ + 1;
    if (kind(at_) == TK_LPAREN && partner(at_) > at_ && kind(partner(at_) + 1) == TK_ARROW) arrow = partner(at_) + 1;
    if (arrow < 0 || arrow >= end) return false;
    const auto found = function_by_head.find(i);
    if (found == function_by_head.end()) {
      i = end;
      return true;
    }
    i = std::min(extent_end(out.functions[static_cast<size_t>(found->second)]) +
                     (kind(arrow + 1) == TK_LBRACE ? 1 : 0),
                 end);
    return true;
  }

  Value parse_assign(int& i, int end) {
    if (i >= end) return {};
    if (skip_arrow(i, end)) {
      Value v;
      const auto found = function_by_head.find(i);
      (void)found;
      return v;
    }
    if (word(i, "yield")) {
      ++i;
      if (kind(i) == TK_STAR) ++i;
      if (i < end && !ends_expression(tokens, i)) parse_assign(i, end);
      return {};
    }
    Value value = parse_conditional(i, end);
    if (i < end && kind(i) == TK_ASSIGN) {
      ++i;
      return parse_assign(i, end);
    }
    if (i < end && kind(i) == TK_COMPOUND_ASSIGN) {
      const std::string_view op = text(i);
      ++i;
      Value rhs = parse_assign(i, end);
      if (op == "+=") return {};
      if (op == "?\?=" || op == "||=" || op == "&&=") return {};
      return Value{EvidenceType::of("number")};
    }
    return value;
  }

  Value parse_conditional(int& i, int end) {
    Value condition = parse_binary(i, end, 0);
    if (i < end && kind(i) == TK_QUESTION) {
      ++i;
      Value yes = parse_assign(i, end);
      if (i >= end || kind(i) != TK_COLON) {
        i = end + 1;
        return {};
      }
      ++i;
      Value no = parse_assign(i, end);
      return Value{join_types(yes.type, no.type)};
    }
    return condition;
  }

  // Binary precedence of the token at `i`; 0 when it is not a binary operator.
  int precedence(int i) const {
    switch (kind(i)) {
      case TK_NULLISH: return 1;
      case TK_OR: return 2;
      case TK_AND: return 3;
      case TK_BITWISE: {
        const std::string_view op = text(i);
        if (op == "|") return 4;
        if (op == "^") return 5;
        if (op == "&") return 6;
        return 9;  // shifts
      }
      case TK_EQUAL: case TK_NOT_EQUAL: return 7;
      case TK_LESS: case TK_GREATER: case TK_LESS_EQUAL: case TK_GREATER_EQUAL: return 8;
      case TK_RESERVED: return (text(i) == "instanceof" || text(i) == "in") ? 8 : 0;
      case TK_PLUS: case TK_MINUS: return 10;
      case TK_STAR: case TK_SLASH: case TK_PERCENT: return 11;
      case TK_EXPONENT: return 12;
      default: return 0;
    }
  }

  Value parse_binary(int& i, int end, int min_precedence) {
    Value left = parse_unary(i, end);
    for (;;) {
      if (i >= end) return left;
      const int p = precedence(i);
      if (p == 0 || p <= min_precedence) return left;
      const int op = i;
      ++i;
      Value right = parse_binary(i, end, p == 12 ? p - 1 : p);
      left = Value{binary_type(op, p, left.type, right.type)};
    }
  }

  EvidenceType binary_type(int op, int p, const EvidenceType& l, const EvidenceType& r) const {
    const int k = kind(op);
    if (p == 7 || p == 8) return EvidenceType::of("boolean");
    if (k == TK_NULLISH || k == TK_OR) return join_types(l, r);
    if (k == TK_AND) {
      if (l.known() && r.known() && l.members.size() == 1 && r.members == l.members &&
          member_rank(l.members[0]) < 3) {
        return l;
      }
      return open_type();
    }
    if (k == TK_PLUS) {
      if (l.is("string") || r.is("string")) return EvidenceType::of("string");
      if (l.is("number") && r.is("number")) return EvidenceType::of("number");
      return open_type();
    }
    return EvidenceType::of("number");
  }

  Value parse_unary(int& i, int end) {
    if (i >= end) return {};
    const int k = kind(i);
    if (k == TK_NOT) {
      ++i;
      parse_unary(i, end);
      return Value{EvidenceType::of("boolean")};
    }
    if (k == TK_MINUS || k == TK_PLUS || k == TK_TILDE) {
      ++i;
      Value operand = parse_unary(i, end);
      if (operand.type.is("bigint")) return {};
      return Value{EvidenceType::of("number")};
    }
    if (k == TK_INCREMENT) {
      ++i;
      parse_unary(i, end);
      return Value{EvidenceType::of("number")};
    }
    if (word(i, "typeof")) {
      ++i;
      parse_unary(i, end);
      return Value{EvidenceType::of("string")};
    }
    if (word(i, "void")) {
      ++i;
      parse_unary(i, end);
      return Value{nullish_type()};
    }
    if (word(i, "delete")) {
      ++i;
      parse_unary(i, end);
      return Value{EvidenceType::of("boolean")};
    }
    if (word(i, "await") && i + 1 < end && !ends_expression(tokens, i + 1)) {
      ++i;
      Value operand = parse_unary(i, end);
      return Value{unwrap_promise(operand.type)};
    }
    return parse_postfix(i, end);
  }

  Value parse_new(int& i, int end) {
    ++i;  // new
    if (i >= end) return {};
    Value callee;
    if (kind(i) == TK_IDENTIFIER && kind(i + 1) != TK_DOT) {
      const int b = resolve(i);
      if (b >= 0) {
        const Binding& binding = bindings[static_cast<size_t>(b)];
        if (binding.kind == BindingKind::klass) callee.type = class_instance(binding.class_id);
        // A class an ES import brings from a module of the run: the name it is imported as.
        const auto import_ = imports.find(b);
        if (import_ != imports.end() && import_->second.second != "*" &&
            exported_class(import_->second.first, import_->second.second) && import_is_es(b)) {
          callee.type = EvidenceType::of(std::string(text(i)));
        }
      } else if (builtin_class(text(i)) && global_type_usable(text(i))) {
        callee.type = EvidenceType::of(std::string(text(i)));
      }
      ++i;
    } else {
      // `new a.B()`, `new (f())()`: read the callee, its type stays open.
      int guard = 0;
      while (i < end && guard++ < 64) {
        const int k = kind(i);
        if (k == TK_IDENTIFIER || k == TK_RESERVED || k == TK_DOT) {
          ++i;
        } else if (k == TK_LPAREN && (kind(i - 1) == TK_RPAREN || kind(i - 1) == TK_IDENTIFIER) && guard > 1) {
          break;
        } else if (is_opener(k) && partner(i) > i) {
          i = partner(i) + 1;
        } else {
          break;
        }
      }
    }
    if (i < end && kind(i) == TK_LPAREN && partner(i) > i) i = partner(i) + 1;
    return Value{callee.type};
  }

  Value parse_primary(int& i, int end) {
    const int k = kind(i);
    const std::string_view t = text(i);
    switch (k) {
      case TK_NUMBER:
        ++i;
        if (t.ends_with('n') && !t.starts_with("0x") && !t.starts_with("0X")) return Value{EvidenceType::of("bigint")};
        return Value{EvidenceType::of("number")};
      case TK_STRING:
        ++i;
        return Value{EvidenceType::of("string")};
      case TK_REGEX:
        ++i;
        return Value{global_type_usable("RegExp") ? EvidenceType::of("RegExp") : open_type()};
      case TK_LPAREN: {
        const int close = partner(i);
        if (close < i || close >= end) {
          i = end + 1;
          return {};
        }
        Value inner;
        // `(0, exports.f)`: the exported function itself.
        if (close == i + 6 && kind(close + 1) == TK_LPAREN) {
          inner.function_id = exported_call_target(close + 1);
          if (inner.function_id < 0) inner.imported = imported_call_target(close + 1);
          // `(0, path_1.resolve)`: a function of a package module.
          const auto [object, member] = member_callee(close + 1);
          if (inner.function_id < 0 && inner.imported == nullptr && object >= 0 && kind(object - 1) == TK_COMMA) {
            const int b = resolve(object);
            if (b >= 0 && bindings[static_cast<size_t>(b)].kind == BindingKind::variable) {
              const Value held = binding_value(b);
              if (!held.module.empty() && !held.module.starts_with('.')) {
                inner.module = held.module;
                inner.member = text(member);
                i = close + 1;
                return inner;
              }
            }
          }
        }
        if (inner.function_id < 0 && inner.imported == nullptr) inner.type = expression_type(i + 1, close);
        i = close + 1;
        return inner;
      }
      case TK_LBRACKET: {
        const int close = partner(i);
        if (close < i || close >= end) {
          i = end + 1;
          return {};
        }
        EvidenceType element = nullish_type();
        bool any = false;
        for (const auto& [first, last] : group_elements(tokens, match, i)) {
          if (first >= last) continue;
          if (kind(first) == TK_SPREAD) {
            element = open_type();
            break;
          }
          any = true;
          EvidenceType e = expression_type(first, last);
          if (!e.known()) {
            element = open_type();
            break;
          }
          element = join_types(element, e);
        }
        i = close + 1;
        // An array of mixed elements is a tuple or a list that will hold
        // more kinds: its literal proves no element type.
        if (!any || !element.known() || element.members.size() != 1) return {};
        return Value{EvidenceType::of(array_of(element))};
      }
      case TK_LBRACE: {
        const int close = partner(i);
        i = close > i && close < end ? close + 1 : end + 1;
        return {};
      }
      case TK_CLASS: {
        for (const EvidenceClass& cls : out.classes) {
          if (cls.keyword == i) {
            i = cls.body_close + 1;
            return {};
          }
        }
        i = end + 1;
        return {};
      }
      case TK_ASYNC:
      case TK_RESERVED:
        if (t == "function" || k == TK_ASYNC) {
          const auto found = function_by_head.find(i);
          if (found == function_by_head.end()) {
            i = end + 1;
            return {};
          }
          Value v;
          v.function_id = found->second;
          i = extent_end(out.functions[static_cast<size_t>(found->second)]) + 1;
          return v;
        }
        if (t == "null") {
          ++i;
          return Value{nullish_type()};
        }
        if (t == "super") {
          ++i;
          return {};
        }
        i = end + 1;
        return {};
      case TK_IDENTIFIER: {
        if (t == "new") return parse_new(i, end);
        ++i;
        if (t == "true" || t == "false") return Value{EvidenceType::of("boolean")};
        if (t == "this") {
          Value v;
          v.instance_of = this_class(i - 1);
          v.type = class_instance(v.instance_of);
          return v;
        }
        const int b = resolve(i - 1);
        if (b < 0) {
          if (t == "undefined") return Value{nullish_type()};
          if (t == "NaN" || t == "Infinity") return Value{EvidenceType::of("number")};
          Value v;
          v.global = t;
          return v;
        }
        return binding_value(b);
      }
      default:
        i = end + 1;
        return {};
    }
  }

  Value binding_value(int b) {
    Binding& binding = bindings[static_cast<size_t>(b)];
    Value v;
    if (!imports.empty()) {
      const auto import_ = imports.find(b);
      if (import_ != imports.end()) {
        if (import_->second.second == "*") {
          v.module = import_->second.first;
        } else {
          v.imported = exported_function(import_->second.first, import_->second.second);
          if (v.imported == nullptr) v.type = exported_value(import_->second.first, import_->second.second);
        }
        return v;
      }
    }
    switch (binding.kind) {
      case BindingKind::function:
        v.function_id = binding.function_id;
        return v;
      case BindingKind::klass:
        v.class_id = binding.class_id;
        return v;
      case BindingKind::param: {
        const auto& types = param_types(binding.function_id);
        if (binding.param_index >= 0 && static_cast<size_t>(binding.param_index) < types.size()) {
          v.type = types[static_cast<size_t>(binding.param_index)];
        }
        return v;
      }
      case BindingKind::other:
        return v;
      case BindingKind::variable:
        break;
    }
    if (!binding.open && binding.writes.size() == 1 && binding.writes[0].op == Write::Op::assign) {
      const Write& w = binding.writes[0];
      const int f = callee_function(b);
      if (f >= 0) {
        v.function_id = f;
        return v;
      }
      if (word(w.first, "require") && kind(w.first + 1) == TK_LPAREN && kind(w.first + 2) == TK_STRING &&
          kind(w.first + 3) == TK_RPAREN && w.first + 4 == w.end) {
        v.module = text(w.first + 2);
        return v;
      }
    }
    v.type = variable_type(b);
    if (!v.type.known()) v.instance_of = constructed_pseudo(b);
    return v;
  }

  EvidenceType variable_type(int b) {
    Binding& binding = bindings[static_cast<size_t>(b)];
    if (binding.state == 2) return binding.type;
    if (binding.state == 1) return round > 0 ? previous_bindings[static_cast<size_t>(b)] : open_type();
    if (depth > kLazyDepth) return open_type();
    binding.state = 1;
    Guard guard(depth);
    const std::vector<Write> writes = binding.writes;
    EvidenceType type = binding.open ? open_type() : writes_type(writes, nullish_type());
    if (!type.known() && !binding.pushes.empty()) type = pushed_array_type(bindings[static_cast<size_t>(b)]);
    bindings[static_cast<size_t>(b)].type = type;
    bindings[static_cast<size_t>(b)].state = 2;
    return type;
  }

  // The type of a name from all that is assigned to it; `start` is what is
  // known before (nullish: nothing).
  EvidenceType writes_type(const std::vector<Write>& writes, EvidenceType type) {
    if (writes.empty()) return open_type();
    bool plus_number = false;
    bool plus_other = false;
    for (const Write& w : writes) {
      switch (w.op) {
        case Write::Op::assign:
        case Write::Op::logical:
          type = join_types(type, expression_type(w.first, w.end));
          break;
        case Write::Op::numeric:
          type = join_types(type, EvidenceType::of("number"));
          break;
        case Write::Op::plus: {
          const EvidenceType rhs = expression_type(w.first, w.end);
          if (rhs.is("string")) {
            type = join_types(type, rhs);
          } else if (rhs.is("number")) {
            plus_number = true;  // keeps a number a number and a string a string
          } else {
            plus_other = true;  // keeps a string a string, and only that
          }
          break;
        }
        case Write::Op::open:
          return open_type();
      }
      if (type.state == EvidenceType::State::open) return type;
    }
    if (plus_other && !type.is("string")) return open_type();
    if (plus_number && type.state == EvidenceType::State::nullish) return EvidenceType::of("number");
    if (type.state != EvidenceType::State::known) return open_type();
    return type;
  }

  Value parse_postfix(int& i, int end) {
    Value value = parse_primary(i, end);
    int guard = 0;
    while (i < end && guard++ < 4096) {
      const int k = kind(i);
      if (k == TK_DOT) {
        const int name = i + 1;
        if (name >= end) {
          i = end + 1;
          return {};
        }
        const std::string_view member = text(name);
        i = name + 1;
        if (value.global == "exports" && value.member.empty() && exported_functions.count(member) != 0) {
          Value next;
          next.function_id = exported_functions[member];
          value = next;
          continue;
        }
        if (value.member.empty() && value.module.starts_with('.')) {  // a function or value of a module of the run
          Value next;
          next.imported = exported_function(value.module, member);
          if (next.imported == nullptr && !(i < end && kind(i) == TK_LPAREN)) {
            next.type = exported_value(value.module, member);
          }
          value = next;
          continue;
        }
        if (i < end && kind(i) == TK_LPAREN) {
          const int close = partner(i);
          if (close < i || close >= end) {
            i = end + 1;
            return {};
          }
          Value result;
          result.type = method_call_type(value, member, i);
          i = close + 1;
          value = result;
          continue;
        }
        Value next;
        next.member = member;
        next.type = member == "length" ? EvidenceType::of("number") : property_type(value, member);
        if (value.class_id >= 0) {
          next.function_id = static_method(value.class_id, member);
        } else if (value.type.known() && value.type.members.size() == 1) {
          const int c = class_named(value.type.members[0]);
          const int m = c >= 0 ? find_method(c, member) : -1;
          if (m >= 0 && !out.functions[static_cast<size_t>(m)].is_getter) next.function_id = m;
        }
        if (value.member.empty()) {  // `Math.max`, `path.join` keep their object
          next.global = value.global;
          next.module = value.module;
        }
        value = next;
        continue;
      }
      if (k == TK_OPTIONAL_CHAIN) {
        ++i;
        if (i < end && is_opener(kind(i)) && partner(i) > i) {
          i = partner(i) + 1;
        } else {
          ++i;
        }
        value = {};
        continue;
      }
      if (k == TK_LBRACKET) {
        const int close = partner(i);
        if (close < i || close >= end) {
          i = end + 1;
          return {};
        }
        EvidenceType element;
        if (value.type.is("string")) {
          element = EvidenceType::of("string");
        } else if (value.type.known() && value.type.members.size() == 1 && value.type.members[0].ends_with("[]")) {
          const std::string& m = value.type.members[0];
          std::string_view inner = std::string_view(m).substr(0, m.size() - 2);
          if (inner.starts_with('(') && inner.ends_with(')')) inner = inner.substr(1, inner.size() - 2);
          element = type_from_text(inner);
        }
        value = Value{element};
        i = close + 1;
        continue;
      }
      if (k == TK_LPAREN) {
        const int close = partner(i);
        if (close < i || close >= end) {
          i = end + 1;
          return {};
        }
        value = Value{call_type(value, i, close)};
        i = close + 1;
        continue;
      }
      if (k == TK_INCREMENT && line(i) == line(i - 1)) {
        ++i;
        value = Value{EvidenceType::of("number")};
        continue;
      }
      if (k == TK_STRING && is_template(i)) {  // a tagged template
        ++i;
        value = {};
        continue;
      }
      break;
    }
    return value;
  }

  int static_method(int c, std::string_view name) const {
    return find_method(c, "static " + std::string(name));
  }

  EvidenceType property_type(const Value& receiver, std::string_view member) {
    int c = receiver.instance_of;
    if (c < 0 && receiver.type.known() && receiver.type.members.size() == 1) c = class_named(receiver.type.members[0]);
    if (c < 0) return open_type();
    const int getter = find_method(c, member);
    if (getter >= 0 && out.functions[static_cast<size_t>(getter)].is_getter) return function_result(getter);
    if (getter >= 0) return open_type();
    return field_type(c, std::string(member));
  }

  std::unordered_map<std::string, EvidenceType> field_memo;
  std::unordered_set<std::string> field_busy;

  EvidenceType field_type(int c, const std::string& name) {
    const std::string key = std::to_string(c) + "/" + name;
    const auto memoed = field_memo.find(key);
    if (memoed != field_memo.end()) return memoed->second;
    if (!field_busy.insert(key).second) {
      const auto previous = previous_fields.find(key);
      return previous != previous_fields.end() ? previous->second : open_type();
    }
    const auto& writes = field_writes[static_cast<size_t>(c)];
    const auto found = writes.find(name);
    EvidenceType type = found == writes.end() ? open_type() : writes_type(found->second, nullish_type());
    field_busy.erase(key);
    field_memo.emplace(key, type);
    return type;
  }

  EvidenceType method_call_type(const Value& receiver, std::string_view member, int open) {
    if (!receiver.global.empty() && receiver.type.state == EvidenceType::State::open && receiver.member.empty()) {
      if (receiver.global == "Promise" && member == "resolve" && global_type_usable("Promise")) {
        const auto args = group_elements(tokens, match, open);
        if (args.empty()) return EvidenceType::of("Promise<void>");
        const EvidenceType inner = expression_type(args[0].first, args[0].second);
        const std::string text_ = render_evidence_type(unwrap_promise(inner));
        return text_.empty() ? open_type() : EvidenceType::of("Promise<" + text_ + ">");
      }
      if (global_type_usable(receiver.global)) return global_member_result(receiver.global, member);
      return open_type();
    }
    if (!receiver.module.empty() && receiver.member.empty()) return module_member_result(receiver.module, member);
    if (receiver.class_id >= 0) {
      const int m = static_method(receiver.class_id, member);
      return m >= 0 ? function_result(m) : open_type();
    }
    if (receiver.instance_of >= 0 && receiver.type.state == EvidenceType::State::open) {
      const int m = find_method(receiver.instance_of, member);
      return m >= 0 && !out.functions[static_cast<size_t>(m)].is_getter ? function_result(m) : open_type();
    }
    if ((member == "call" || member == "apply") && receiver.function_id >= 0) {
      return function_result(receiver.function_id);
    }
    if (member == "call" || member == "apply") {
      if (in_list(receiver.member, {"hasOwnProperty", "propertyIsEnumerable", "isPrototypeOf"})) {
        return EvidenceType::of("boolean");
      }
      if (receiver.member == "toString") return EvidenceType::of("string");
      return open_type();
    }
    if (receiver.type.known() && receiver.type.members.size() == 1) {
      const std::string& r = receiver.type.members[0];
      const int c = class_named(r);
      if (c >= 0) {
        const int m = find_method(c, member);
        if (m >= 0) return out.functions[static_cast<size_t>(m)].is_getter ? open_type() : function_result(m);
        return open_type();  // a method the class inherits or gets elsewhere
      }
      if (r == "string" && in_list(member, {"slice", "concat", "at"})) return EvidenceType::of("string");
      if (r.ends_with("[]") && in_list(member, {"slice", "concat", "filter", "sort", "reverse", "splice"})) {
        return receiver.type;
      }
      // `list.map(x => ...)`: an array of what the callback gives.
      if (r.ends_with("[]") && member == "map") {
        const auto args = group_elements(tokens, match, open);
        if (args.empty()) return open_type();
        const auto callback = function_by_head.find(args[0].first);
        if (callback == function_by_head.end() ||
            extent_end(out.functions[static_cast<size_t>(callback->second)]) + 1 < args[0].second) {
          return open_type();
        }
        const EvidenceType element = function_result(callback->second);
        if (!element.known() || element.members.size() != 1 || element.members[0] == "void") return open_type();
        return EvidenceType::of(array_of(element));
      }
      // A typed array's copies and views are of its own class.
      if (typed_array_class(r) && in_list(member, {"slice", "subarray", "map", "filter", "fill", "reverse", "sort"})) {
        return receiver.type;
      }
      // A Buffer maps and filters into a plain Uint8Array.
      if (r == "Buffer" && in_list(member, {"slice", "subarray", "fill", "reverse", "sort"})) return receiver.type;
    }
    return known_method_result(member);
  }

  EvidenceType call_type(const Value& callee, int open, int close) {
    (void)open;
    (void)close;
    if (callee.function_id >= 0) return function_result(callee.function_id);
    if (callee.imported != nullptr) return usable_here(callee.imported->result);
    if (callee.member.empty() && callee.module.starts_with('.')) {  // `require('./f')(...)`
      const ExportedFunction* whole = exported_function(callee.module, "default");
      return whole != nullptr ? usable_here(whole->result) : open_type();
    }
    // `(0, path_1.resolve)(p)`, the form compiled TypeScript calls another
    // module's function in: the member keeps its module.
    if (!callee.member.empty() && !callee.module.empty() && !callee.module.starts_with('.')) {
      return module_member_result(callee.module, callee.member);
    }
    if (!callee.global.empty() && callee.member.empty()) {
      if (callee.global == "Date" && global_type_usable("Date")) return EvidenceType::of("string");
      if (global_type_usable(callee.global)) return global_function_result(callee.global);
    }
    return open_type();
  }

  // ----- Functions: parameters and results ----------------------------------

  const std::vector<EvidenceType>& param_types(int f) {
    FunctionMemo& m = memo[static_cast<size_t>(f)];
    if (m.params_state == 2) return m.param_types;
    const size_t n = out.functions[static_cast<size_t>(f)].params.size();
    if (m.params_state == 1 && round > 0) return previous_params[static_cast<size_t>(f)];
    if (m.params_state == 1 || depth > kLazyDepth) {
      static const std::vector<EvidenceType> none;
      return m.param_types.size() == n ? m.param_types : none;
    }
    Guard guard(depth);
    m.params_state = 1;
    m.param_types.assign(n, open_type());
    std::vector<EvidenceType> types(n);
    std::vector<std::string> written(n);
    for (size_t p = 0; p < n; ++p) {
      infer_param(f, static_cast<int>(p), types[p], written[p]);
    }
    FunctionMemo& again = memo[static_cast<size_t>(f)];
    again.param_types = types;
    again.params_state = 2;
    EvidenceFunction& fn = out.functions[static_cast<size_t>(f)];
    // A parameter written `name?: T` needs every later one optional too: a
    // default value, a rest parameter, or one written optional itself.
    bool later_optional = true;
    for (size_t p = n; p-- > 0;) {
      EvidenceParam& param = fn.params[p];
      param.type = written[p];
      const bool has_default = param.last > param.first + 1 && kind(param.first + 1) == TK_ASSIGN;
      const bool rest = kind(param.first) == TK_SPREAD;
      const bool documented_optional =
          param.name >= 0 && jsdoc_optional[static_cast<size_t>(f)].count(std::string(text(param.name))) != 0;
      param.optional = documented_optional && later_optional && !has_default && !rest && !param.type.empty();
      later_optional = later_optional && (has_default || rest || param.optional);
    }
    return again.param_types;
  }

  // What a parameter's uses in the body say: a primitive each, or `abort`.
  struct Votes {
    std::vector<std::string> kinds;
    bool abort = false;
    void vote(std::string_view kind_) {
      if (std::find(kinds.begin(), kinds.end(), kind_) == kinds.end()) kinds.emplace_back(kind_);
    }
  };

  bool literal_token(int i) const {
    return kind(i) == TK_NUMBER || kind(i) == TK_STRING || word(i, "true") || word(i, "false");
  }
  std::string_view literal_kind(int i) const {
    if (kind(i) == TK_NUMBER) return "number";
    if (kind(i) == TK_STRING) return "string";
    return "boolean";
  }
  bool arithmetic(int k) const {
    return k == TK_MINUS || k == TK_STAR || k == TK_SLASH || k == TK_PERCENT || k == TK_EXPONENT || k == TK_BITWISE;
  }
  bool relational(int k) const {
    return k == TK_LESS || k == TK_GREATER || k == TK_LESS_EQUAL || k == TK_GREATER_EQUAL;
  }

  // Whether the variable declared or assigned at token `name` gets elements
  // written (`name[i] = ...`) in the same function: code that fills what it
  // derived with values of other kinds, which a type would refuse. The
  // writes are gathered once, by function and name.
  bool gets_element_writes(int name) {
    if (kind(name) != TK_IDENTIFIER) return false;
    if (!element_writes_found) {
      element_writes_found = true;
      for (int i = 1; i + 1 < count(); ++i) {
        if (kind(i) != TK_IDENTIFIER || kind(i + 1) != TK_LBRACKET || kind(i - 1) == TK_DOT) continue;
        const int close = partner(i + 1);
        if (close > i && kind(close + 1) == TK_ASSIGN) element_writes.insert({scope(i), text(i)});
      }
    }
    return element_writes.count({scope(name), text(name)}) != 0;
  }
  bool element_writes_found = false;
  std::unordered_set<std::pair<int, std::string_view>, KeyHash> element_writes;

  void classify_use(int u, int b, Votes& votes) { classify_span(u, u, b, votes); }

  // Classifies the operand spanning tokens [s, e]: a name (of binding b), or
  // `this.field` for the uses of a field a parameter is stored into (b -1).
  void classify_span(int s, int e, int b, Votes& votes) {
    const int before = kind(s - 1);
    const int after = kind(e + 1);
    // Stored into a field of its class (`this.count = count`): how the class
    // uses the field speaks of the value too (`this.count -= n`).
    if (s == e && before == TK_ASSIGN && kind(s - 2) == TK_IDENTIFIER && kind(s - 3) == TK_DOT &&
        word(s - 4, "this") && kind(s - 5) != TK_DOT && ends_expression(tokens, e + 1)) {
      const int c = this_class(s - 4);
      if (c < 0) return;
      const Votes& field = field_votes(c, text(s - 2));
      if (field.abort) votes.abort = true;
      for (const std::string& kind_ : field.kinds) votes.vote(kind_);
      return;
    }
    // Stored as an element (`list[2] = p`): the array it joins may hold other
    // kinds, as the code's own literals show it.
    if (before == TK_ASSIGN && kind(s - 2) == TK_RBRACKET && ends_expression(tokens, e + 1)) {
      votes.abort = true;
      return;
    }
    if (after == TK_DOT) {
      const std::string_view member = text(e + 2);
      if (member == "length") return;
      // `var parts = p.match(re)`, then `parts[i] = f`: what p gives is
      // filled with other kinds; a type on p would make that an error.
      if (kind(e + 3) == TK_LPAREN && before == TK_ASSIGN && gets_element_writes(s - 2)) {
        votes.abort = true;
        return;
      }
      if (kind(e + 3) == TK_LPAREN) {
        if (string_only_method(member)) return votes.vote("string");
        if (number_only_method(member)) return votes.vote("number");
        // Methods strings share with arrays, and those every value has, tell
        // neither way.
        if (in_list(member, {"indexOf", "lastIndexOf", "slice", "includes", "concat", "at", "toString",
                             "valueOf", "toLocaleString"})) {
          return;
        }
      }
      votes.abort = true;
      return;
    }
    // An element read (`p[0] << 8`): the operators around it speak of the element.
    if (after == TK_LBRACKET) return;
    if (after == TK_OPTIONAL_CHAIN || after == TK_LPAREN || after == TK_SPREAD) {
      votes.abort = true;
      return;
    }
    if (before == TK_SPREAD || word(s - 1, "typeof") || word(e + 1, "instanceof") || word(s - 1, "in") ||
        word(s - 1, "of") || word(s - 1, "delete")) {
      votes.abort = true;
      return;
    }
    if (arithmetic(after) || before == TK_TILDE || after == TK_INCREMENT || before == TK_INCREMENT ||
        (after == TK_COMPOUND_ASSIGN && text(e + 1) != "+=" && text(e + 1) != "?\?=" && text(e + 1) != "||=" &&
         text(e + 1) != "&&=")) {
      return votes.vote("number");
    }
    if (arithmetic(before) && (before != TK_MINUS || ends_expression_value(s - 2))) return votes.vote("number");
    // What `-=`, `*=`, `<<=`... apply is a number (`+=` may join strings).
    if (before == TK_COMPOUND_ASSIGN && text(s - 1) != "+=" && text(s - 1) != "?\?=" && text(s - 1) != "||=" &&
        text(s - 1) != "&&=" && ends_expression(tokens, e + 1)) {
      return votes.vote("number");
    }
    if (before == TK_MINUS) return votes.vote("number");  // -x
    if (relational(after) && kind(e + 2) == TK_NUMBER) return votes.vote("number");
    if (relational(before) && kind(s - 2) == TK_NUMBER) return votes.vote("number");
    // Compared with a variable known to hold a number (`i < n`): the compiler
    // takes only numbers on the other side.
    if (relational(after) && (lone_number_variable(e + 2, false) || length_read_at(e + 2))) return votes.vote("number");
    if (relational(before) && (lone_number_variable(s - 2, true) || (word(s - 2, "length") && kind(s - 3) == TK_DOT))) {
      return votes.vote("number");
    }
    // Compared for equality with a variable declared with a literal: the
    // compiler gives that variable the literal's kind and refuses a
    // comparison with another (`var diff = false; ... diff === p`).
    if (after == TK_EQUAL || after == TK_NOT_EQUAL) {
      if (const std::string_view k = declared_literal_kind(e + 2, false); !k.empty()) return votes.vote(k);
    }
    if (before == TK_EQUAL || before == TK_NOT_EQUAL) {
      if (const std::string_view k = declared_literal_kind(s - 2, true); !k.empty()) return votes.vote(k);
    }
    if ((after == TK_EQUAL || after == TK_NOT_EQUAL) && literal_token(e + 2) && ends_expression(tokens, e + 3)) {
      return votes.vote(literal_kind(e + 2));
    }
    if ((before == TK_EQUAL || before == TK_NOT_EQUAL) && literal_token(s - 2)) return votes.vote(literal_kind(s - 2));
    if ((after == TK_OR || after == TK_NULLISH) && literal_token(e + 2) && ends_expression(tokens, e + 3)) {
      return votes.vote(literal_kind(e + 2));
    }
    if (after == TK_OR || after == TK_NULLISH) {
      if (kind(e + 2) == TK_LBRACE || kind(e + 2) == TK_LBRACKET) votes.abort = true;
      return;
    }
    if (after == TK_ASSIGN) {
      // `p = p || X` and `p = p ?? X`: X is the default.
      int first = e + 2;
      const int end = expression_end(first);
      if (b >= 0 && kind(first) == TK_IDENTIFIER && text(first) == bindings[static_cast<size_t>(b)].name &&
          (kind(first + 1) == TK_OR || kind(first + 1) == TK_NULLISH)) {
        first += 2;
      }
      const EvidenceType type = expression_type(first, end);
      if (type.known() && type.members.size() == 1 && member_rank(type.members[0]) < 3) {
        return votes.vote(type.members[0]);
      }
      if (type.state != EvidenceType::State::nullish) votes.abort = true;
      return;
    }
    // An argument of a function of the file whose parameter is known.
    if ((before == TK_LPAREN || before == TK_COMMA) && (after == TK_COMMA || after == TK_RPAREN)) {
      int open = s - 1;
      int index = 0;
      while (open >= 0 && kind(open) != TK_LPAREN) {
        if (kind(open) == TK_COMMA) ++index;
        if (is_closer(kind(open)) && partner(open) >= 0) open = partner(open);
        --open;
        if (kind(open) == TK_LBRACKET || kind(open) == TK_LBRACE) return;
      }
      // The position or count a string or array method takes (`s.slice(p)`,
      // `s.padStart(p)`): a number there.
      if (kind(open - 2) == TK_DOT && kind(open - 1) == TK_IDENTIFIER &&
          ((index == 0 && in_list(text(open - 1), {"slice", "substring", "substr", "charAt", "charCodeAt",
                                                    "codePointAt", "splice", "padStart", "padEnd", "repeat"})) ||
           (index == 1 && in_list(text(open - 1), {"slice", "substring", "substr", "splice", "indexOf", "lastIndexOf",
                                                    "includes", "startsWith", "endsWith"})))) {
        return votes.vote("number");
      }
      // `re.test(p)`, `re.exec(p)` on a regular expression: p is the string it reads.
      if (index == 0 && kind(open - 2) == TK_DOT && (word(open - 1, "test") || word(open - 1, "exec"))) {
        const int receiver = open - 3;
        bool regex = kind(receiver) == TK_REGEX;
        if (kind(receiver) == TK_IDENTIFIER && kind(receiver - 1) != TK_DOT) {
          const int r = resolve(receiver);
          regex = r >= 0 && bindings[static_cast<size_t>(r)].kind == BindingKind::variable &&
                  variable_type(r).is("RegExp");
        }
        if (regex) votes.vote("string");
        return;
      }
      if (const std::string_view api = api_parameter_kind(open, index); !api.empty()) return votes.vote(api);
      if (const std::string searched = searched_kind(open, index); !searched.empty()) return votes.vote(searched);
      // A method of a class of the file, on `this` or on a variable holding
      // an instance (`this.write(p)`, `decoder.write(p)`).
      if (const int method = method_callee(open); method >= 0) {
        const auto& types = param_types(method);
        if (static_cast<size_t>(index) >= types.size()) return;
        const EvidenceType& t = types[static_cast<size_t>(index)];
        if (t.known() && t.members.size() == 1 && member_rank(t.members[0]) < 3) votes.vote(t.members[0]);
        return;
      }
      if (const ExportedFunction* imported = imported_call_target(open); imported != nullptr) {
        if (static_cast<size_t>(index) >= imported->params.size()) return;
        const EvidenceType& t = imported->params[static_cast<size_t>(index)];
        if (t.known() && t.members.size() == 1 && member_rank(t.members[0]) < 3) votes.vote(t.members[0]);
        return;
      }
      int f = exported_call_target(open);
      if (f < 0) {
        if (open < 1 || kind(open - 1) != TK_IDENTIFIER || kind(open - 2) == TK_DOT) return;
        if (text(open - 1) == "isArray" || text(open - 1) == "isBuffer") votes.abort = true;
        const int callee = resolve(open - 1);
        // `parseFloat(p)`: the code converts p because it may be a string or
        // a number (the compiler takes only a string there): its type is open.
        if (callee < 0 && index == 0 && (text(open - 1) == "parseFloat" || text(open - 1) == "parseInt")) {
          votes.abort = true;
          return;
        }
        // The delay of a timer.
        if (callee < 0 && index == 1 && (text(open - 1) == "setTimeout" || text(open - 1) == "setInterval")) {
          return votes.vote("number");
        }
        if (callee < 0) return;
        f = callee_function(callee);
        if (f < 0) return;
      }
      const auto& types = param_types(f);
      if (static_cast<size_t>(index) >= types.size()) return;
      const EvidenceType& t = types[static_cast<size_t>(index)];
      if (t.known() && t.members.size() == 1 && member_rank(t.members[0]) < 3) votes.vote(t.members[0]);
    }
  }

  // The constructor function whose instance variable b holds (`var decoder =
  // new EntityDecoder(...)`), or -1: such instances have no type to write,
  // but their methods are known.
  int constructed_pseudo(int b) const {
    const Binding& binding = bindings[static_cast<size_t>(b)];
    if (binding.open || binding.writes.size() != 1 || binding.writes[0].op != Write::Op::assign) return -1;
    const int first = binding.writes[0].first;
    if (!word(first, "new") || kind(first + 1) != TK_IDENTIFIER || kind(first + 2) != TK_LPAREN ||
        partner(first + 2) + 1 != binding.writes[0].end) {
      return -1;
    }
    const auto pseudo = pseudo_by_name.find(std::string(text(first + 1)));
    return pseudo == pseudo_by_name.end() ? -1 : pseudo->second;
  }

  // The method of a class of the file that `this.m(...)` or `x.m(...)` (x a
  // variable holding an instance) with its `(` at `open` calls, or -1.
  int method_callee(int open) {
    const auto [object, member] = member_callee(open);
    if (object < 0 || kind(object - 1) == TK_COMMA) return -1;
    int c = -1;
    if (word(object, "this")) {
      c = this_class(object);
    } else {
      const int b = resolve(object);
      if (b < 0 || bindings[static_cast<size_t>(b)].kind != BindingKind::variable) return -1;
      const EvidenceType type = variable_type(b);
      if (type.known() && type.members.size() == 1) c = class_named(type.members[0]);
      if (c < 0) c = constructed_pseudo(b);
    }
    if (c < 0) return -1;
    const int m = find_method(c, text(member));
    return m >= 0 && !out.functions[static_cast<size_t>(m)].is_getter ? m : -1;
  }

  // What the uses of field `name` of class c say of the values stored into
  // it, gathered once per field and round: every parameter stored there
  // asks the same question. A field whose answer is still being gathered
  // (a cycle) says nothing can be known.
  const Votes& field_votes(int c, std::string_view name) {
    const std::string key = std::to_string(c) + "/" + std::string(name);
    const auto memoed = field_vote_memo.find(key);
    if (memoed != field_vote_memo.end()) return memoed->second;
    static const Votes cycle = [] {
      Votes v;
      v.abort = true;
      return v;
    }();
    if (!field_votes_busy.insert(key).second) return cycle;
    Votes votes;
    const auto refs = field_refs[static_cast<size_t>(c)].find(name);
    if (refs != field_refs[static_cast<size_t>(c)].end()) {
      for (const int t : refs->second) {
        // A parameter stored there (`setValue(v) { this.count = v; }`) is
        // typed by these same uses; it adds nothing of its own.
        if (kind(t + 1) == TK_ASSIGN && kind(t + 2) == TK_IDENTIFIER && ends_expression(tokens, t + 3)) {
          const int stored = resolve(t + 2);
          if (stored >= 0 && bindings[static_cast<size_t>(stored)].kind == BindingKind::param) continue;
        }
        classify_span(t - 2, t, -1, votes);
        if (votes.abort) break;
      }
    }
    field_votes_busy.erase(key);
    return field_vote_memo.emplace(key, std::move(votes)).first->second;
  }
  std::unordered_map<std::string, Votes> field_vote_memo;
  std::unordered_set<std::string> field_votes_busy;

  // What `s.startsWith(p)`, `s.indexOf(p)` or `list.includes(p)` takes as
  // the value it looks for, when the receiver is a string literal or a
  // variable of the file known to hold a string or an array of one primitive.
  std::string searched_kind(int open, int index) {
    if (index != 0 || kind(open - 2) != TK_DOT || kind(open - 1) != TK_IDENTIFIER) return {};
    const std::string_view method = text(open - 1);
    const int receiver = open - 3;
    EvidenceType type;
    if (kind(receiver) == TK_STRING && !is_template(receiver)) {
      type = EvidenceType::of("string");
    } else if (kind(receiver) == TK_IDENTIFIER && kind(receiver - 1) != TK_DOT &&
               kind(receiver - 1) != TK_OPTIONAL_CHAIN) {
      const int b = resolve(receiver);
      if (b < 0 || bindings[static_cast<size_t>(b)].kind != BindingKind::variable) return {};
      type = variable_type(b);
    }
    if (!type.known() || type.members.size() != 1) return {};
    const std::string& t = type.members[0];
    // (`concat` is no evidence: compiled template strings pass it anything.)
    if (t == "string" && in_list(method, {"startsWith", "endsWith", "includes", "indexOf", "lastIndexOf",
                                          "localeCompare"})) {
      return "string";
    }
    if (t.ends_with("[]") && in_list(method, {"includes", "indexOf", "lastIndexOf"})) {
      const std::string element = t.substr(0, t.size() - 2);
      if (member_rank(element) < 3) return element;
    }
    return {};
  }

  // What a built-in or Node function called with its `(` at `open` takes as
  // argument `index`, where every overload agrees: numbers for `Math`'s
  // functions and `String.fromCharCode`, strings for `JSON.parse` and for
  // `path`'s functions of paths. Empty for anything else.
  std::string_view api_parameter_kind(int open, int index) {
    const auto [object, member] = member_callee(open);
    if (object < 0) return {};
    const std::string_view name = text(member);
    const int b = resolve(object);
    if (b < 0) {
      if (text(object) == "Math") return "number";
      if (text(object) == "String" && in_list(name, {"fromCharCode", "fromCodePoint"})) return "number";
      if (text(object) == "JSON" && name == "parse" && index == 0) return "string";
      if (text(object) == "Buffer" && in_list(name, {"alloc", "allocUnsafe", "allocUnsafeSlow"}) && index == 0) {
        return "number";
      }
      return {};
    }
    if (bindings[static_cast<size_t>(b)].kind != BindingKind::variable) return {};
    const Value held = binding_value(b);
    if ((held.module == "path" || held.module == "node:path") &&
        in_list(name, {"join", "resolve", "basename", "dirname", "extname", "relative", "normalize", "isAbsolute"})) {
      return "string";
    }
    return {};
  }

  // Whether token t is a variable of the file standing alone as an operand
  // (no member access or call around it) whose type is `number`.
  bool lone_number_variable(int t, bool left) {
    if (kind(t) != TK_IDENTIFIER) return false;
    if (left) {
      if (kind(t - 1) == TK_DOT || kind(t - 1) == TK_OPTIONAL_CHAIN) return false;
    } else if (!ends_expression(tokens, t + 1) && !relational(kind(t + 1)) && kind(t + 1) != TK_RPAREN) {
      return false;
    }
    const int b = resolve(t);
    if (b < 0 || bindings[static_cast<size_t>(b)].kind != BindingKind::variable) return false;
    return variable_type(b).is("number");
  }

  // The kind of the literal a variable standing alone at token t was
  // declared with (`var diff = false`), as the compiler types the variable;
  // empty for anything else.
  std::string_view declared_literal_kind(int t, bool left) {
    if (kind(t) != TK_IDENTIFIER) return {};
    if (left) {
      if (kind(t - 1) == TK_DOT || kind(t - 1) == TK_OPTIONAL_CHAIN) return {};
    } else if (!ends_expression(tokens, t + 1) && kind(t + 1) != TK_RPAREN && kind(t + 1) != TK_AND &&
               kind(t + 1) != TK_OR) {
      return {};
    }
    const int b = resolve(t);
    if (b < 0 || bindings[static_cast<size_t>(b)].kind != BindingKind::variable) return {};
    const int declaration = bindings[static_cast<size_t>(b)].declaration;
    if (declaration < 0 || kind(declaration + 1) != TK_ASSIGN || !literal_token(declaration + 2)) return {};
    if (!ends_expression(tokens, declaration + 3)) return {};
    return literal_kind(declaration + 2);
  }

  // `x.length` or `this.items.length` starting at token t, standing alone.
  bool length_read_at(int t) const {
    int i = t;
    if (kind(i) != TK_IDENTIFIER) return false;
    while (kind(i + 1) == TK_DOT && kind(i + 2) == TK_IDENTIFIER) i += 2;
    return i > t && word(i, "length") && (ends_expression(tokens, i + 1) || kind(i + 1) == TK_RPAREN);
  }

  bool ends_expression_value(int i) const {
    const int k = kind(i);
    return k == TK_IDENTIFIER || k == TK_NUMBER || k == TK_STRING || k == TK_RPAREN || k == TK_RBRACKET;
  }

  // Whether a template literal of the function mentions the name in a
  // placeholder: uses there are not tokens, so they cannot be classified.
  bool named_in_template(int f, std::string_view name) const {
    const EvidenceFunction& fn = out.functions[static_cast<size_t>(f)];
    for (int i = fn.body_open; i <= fn.body_end && i < count(); ++i) {
      if (!is_template(i)) continue;
      const std::string_view t = text(i);
      // Only the placeholders are code: the text around them is the template's own.
      size_t at_ = 0;
      std::vector<std::pair<size_t, size_t>> placeholders;
      for (size_t open = t.find("${"); open != std::string_view::npos; open = t.find("${", open + 2)) {
        int braces = 0;
        size_t close = open + 1;
        for (; close < t.size(); ++close) {
          if (t[close] == '{') ++braces;
          if (t[close] == '}' && --braces == 0) break;
        }
        placeholders.emplace_back(open + 2, close);
      }
      auto in_placeholder = [&placeholders](size_t at) {
        for (const auto& [first, last] : placeholders) {
          if (first <= at && at < last) return true;
        }
        return false;
      };
      while ((at_ = t.find(name, at_)) != std::string_view::npos) {
        const bool start_ok = at_ == 0 || !(std::isalnum(static_cast<unsigned char>(t[at_ - 1])) ||
                                            t[at_ - 1] == '_' || t[at_ - 1] == '$' || t[at_ - 1] == '.');
        const size_t e = at_ + name.size();
        const bool end_ok = e >= t.size() ||
                            !(std::isalnum(static_cast<unsigned char>(t[e])) || t[e] == '_' || t[e] == '$');
        // `${name}` alone turns it into text, whatever it is: that use says nothing.
        const bool bare = at_ >= 2 && t[at_ - 1] == '{' && t[at_ - 2] == '$' && e < t.size() && t[e] == '}';
        if (start_ok && end_ok && !bare && in_placeholder(at_)) return true;
        at_ = e;
      }
    }
    return false;
  }

  // The join of what the calls of function f pass as parameter p; `all_known`
  // tells whether there is a call and every one passes a known type (a call
  // that leaves p out counts as optional, not as unknown).
  EvidenceType passed_types(int f, int p, bool& all_known) {
    EvidenceType passed = nullish_type();
    all_known = !calls[static_cast<size_t>(f)].empty();
    // The calls the other files of the run make of it count as its own.
    if (const auto from_others = incoming.find(f); from_others != incoming.end()) {
      if (calls[static_cast<size_t>(f)].empty()) all_known = true;
      for (const std::vector<EvidenceType>& args : *from_others->second) {
        if (static_cast<size_t>(p) >= args.size()) continue;  // left out: optional
        const EvidenceType& arg = args[static_cast<size_t>(p)];
        if (!arg.known()) {
          all_known = false;
          break;
        }
        passed = join_types(passed, arg);
      }
    }
    for (const int open : calls[static_cast<size_t>(f)]) {
      const auto args = group_elements(tokens, match, open);
      bool spread = false;
      for (size_t a = 0; a < args.size() && a <= static_cast<size_t>(p); ++a) {
        if (args[a].first < args[a].second && kind(args[a].first) == TK_SPREAD) spread = true;
      }
      if (spread) {
        all_known = false;
        break;
      }
      if (static_cast<size_t>(p) >= args.size()) continue;  // left out: optional
      const EvidenceType arg = expression_type(args[static_cast<size_t>(p)].first, args[static_cast<size_t>(p)].second);
      if (!arg.known()) {
        all_known = false;
        break;
      }
      passed = join_types(passed, arg);
    }
    if (!passed.known()) all_known = false;
    return passed;
  }

  // Whether some call of function f passes as parameter p a value of a known
  // type none of whose kinds `states` accepts.
  template <typename Accepts>
  bool passes_none_of(int f, int p, const Accepts& states) {
    const auto refuses = [&](const EvidenceType& arg) {
      return arg.known() && std::none_of(arg.members.begin(), arg.members.end(), states);
    };
    if (const auto from_others = incoming.find(f); from_others != incoming.end()) {
      for (const std::vector<EvidenceType>& args : *from_others->second) {
        if (static_cast<size_t>(p) < args.size() && refuses(args[static_cast<size_t>(p)])) return true;
      }
    }
    for (const int open : calls[static_cast<size_t>(f)]) {
      const auto args = group_elements(tokens, match, open);
      for (size_t a = 0; a < args.size() && a <= static_cast<size_t>(p); ++a) {
        if (args[a].first < args[a].second && kind(args[a].first) == TK_SPREAD) return false;
      }
      if (static_cast<size_t>(p) < args.size() &&
          refuses(expression_type(args[static_cast<size_t>(p)].first, args[static_cast<size_t>(p)].second))) {
        return true;
      }
    }
    return false;
  }

  void infer_param(int f, int p, EvidenceType& type, std::string& written) {
    EvidenceFunction& fn = out.functions[static_cast<size_t>(f)];
    const EvidenceParam& param = fn.params[static_cast<size_t>(p)];
    if (param.name < 0 || kind(param.first) == TK_SPREAD) return;
    const std::string name(text(param.name));
    // JSDoc states the type: it wins, or nothing is written when it names a
    // type this form cannot write.
    const auto found = binding_index.find({f, text(param.name)});
    const int b = found == binding_index.end() ? -1 : found->second;
    const auto& doc = jsdoc_params[static_cast<size_t>(f)];
    const auto documented = doc.find(name);
    if (documented != doc.end()) {
      if (documented->second == "?") return;
      // JSDoc can be stale: where the body uses the parameter as a kind the
      // comment does not name (`@param {boolean} bitmask`, then `bitmask &
      // FLAG`), the two disagree and nothing is written.
      const EvidenceType stated = type_from_text(documented->second);
      const auto states = [&stated](std::string_view member) {
        return std::find(stated.members.begin(), stated.members.end(), member) != stated.members.end();
      };
      if (b >= 0) {
        Votes votes;
        for (const int u : std::vector<int>(bindings[static_cast<size_t>(b)].uses)) {
          classify_use(u, b, votes);
          // Called or constructed: no type this form writes from JSDoc can be.
          if (word(u - 1, "new") || kind(u + 1) == TK_LPAREN) return;
          // Given a value of another type (`orders = [orders]` for `@param {string[]} orders`).
          if (kind(u + 1) == TK_ASSIGN) {
            const EvidenceType assigned = expression_type(u + 2, expression_end(u + 2));
            if (assigned.known() && std::none_of(assigned.members.begin(), assigned.members.end(), states)) return;
          }
        }
        for (const std::string& kind_ : votes.kinds) {
          if (!states(kind_)) return;
        }
      }
      // A call passes a value of none of the stated kinds (`@param {boolean}
      // isDeep` given a bit mask); one of them may be narrowed to the rest.
      if (passes_none_of(f, p, states)) return;
      type = stated;
      written = documented->second;
      return;
    }
    if (b < 0) return;
    const Binding& binding = bindings[static_cast<size_t>(b)];
    if (binding.open || binding.declarations != 1) return;
    // A default value: the compiler infers the type from it; nothing written.
    if (param.last > param.first + 1) {
      type = expression_type(param.first + 2, param.last);
      if (type.known() && (type.members.size() != 1 || member_rank(type.members[0]) >= 3)) type = open_type();
      return;
    }
    if (named_in_template(f, name)) return;
    Votes votes;
    const std::vector<int> uses = binding.uses;
    for (const int u : uses) {
      classify_use(u, b, votes);
      if (votes.abort) return;
    }
    // The calls in the file, and those of the other files of the run.
    bool all_known = false;
    EvidenceType passed = passed_types(f, p, all_known);
    if (!passed.known()) all_known = false;
    if (votes.kinds.size() > 1) return;
    if (votes.kinds.size() == 1) {
      if (all_known && !passed.is(votes.kinds[0])) return;
      type = EvidenceType::of(votes.kinds[0]);
    } else if (all_known) {
      type = passed;
    } else {
      return;
    }
    written = render_evidence_type(type);
  }

  bool body_ends_in_throw(const EvidenceFunction& fn) const {
    if (fn.body_end <= fn.body_open || kind(fn.body_open) != TK_LBRACE) return false;
    // The last statement of the body: walk back from its `}` to the statement start.
    int last = fn.body_end - 1;
    if (last <= fn.body_open) return false;
    if (kind(last) == TK_SEMICOLON) --last;
    int i = last;
    while (i > fn.body_open) {
      const int k = kind(i);
      if (is_closer(k) && partner(i) >= 0 && partner(i) < i) {
        i = partner(i) - 1;
        continue;
      }
      if (k == TK_SEMICOLON || k == TK_LBRACE) break;
      if (k == TK_RBRACE) break;
      // A throw that starts a statement of the body itself, not one under an
      // `if (...)` or `else`.
      if (word(i, "throw")) {
        const int before = i - 1;
        return before == fn.body_open || kind(before) == TK_SEMICOLON || kind(before) == TK_RBRACE;
      }
      --i;
    }
    return false;
  }

  // A plain function used as a constructor: `this.x = ...` in it, or
  // `new F`, or `F.prototype`.
  bool constructor_function(int f) const {
    const EvidenceFunction& fn = out.functions[static_cast<size_t>(f)];
    if (fn.is_arrow || fn.is_method) return false;
    if (!fn.name.empty() && constructed_names.count(fn.name) != 0) return true;
    // A capitalised function that fills `this` is written to be constructed;
    // any other one reading `this` is a method assigned to an object.
    if (fn.name.empty() || !std::isupper(static_cast<unsigned char>(fn.name[0]))) return false;
    for (int i = fn.body_open; i < fn.body_end; ++i) {
      if (word(i, "this") && scope(i) == f) return true;
    }
    return false;
  }
  std::unordered_set<std::string> constructed_names;

  void find_constructed_names() {
    for (int i = 0; i + 1 < count(); ++i) {
      if (word(i, "new") && kind(i + 1) == TK_IDENTIFIER) constructed_names.emplace(text(i + 1));
      if (kind(i) == TK_IDENTIFIER && kind(i + 1) == TK_DOT && word(i + 2, "prototype")) {
        constructed_names.emplace(text(i));
      }
    }
  }

  // The type a call of the function gives (a Promise for an async one).
  EvidenceType function_result(int f) {
    FunctionMemo& m = memo[static_cast<size_t>(f)];
    if (m.result_state == 2) return m.result;
    if (m.result_state == 1) return round > 0 ? previous_results[static_cast<size_t>(f)] : open_type();
    if (depth > kLazyDepth) return open_type();
    Guard guard(depth);
    m.result_state = 1;
    std::string written;
    const EvidenceType result = infer_result(f, written);
    FunctionMemo& again = memo[static_cast<size_t>(f)];
    again.result = result;
    again.result_state = 2;
    out.functions[static_cast<size_t>(f)].result = written;
    return result;
  }

  EvidenceType infer_result(int f, std::string& written) {
    const EvidenceFunction fn = out.functions[static_cast<size_t>(f)];
    if (fn.is_generator || fn.is_setter || fn.is_constructor) return open_type();
    const std::string doc = jsdoc_results[static_cast<size_t>(f)];
    if (!doc.empty()) {
      if (doc == "?") return open_type();
      if (fn.is_async && !doc.starts_with("Promise<")) return open_type();
      // A stale comment: what the returns show is not among what it states.
      std::string shown;
      body_result(f, fn, shown);
      const EvidenceType stated = type_from_text(doc);
      for (const std::string& member : type_from_text(shown).members) {
        if (std::find(stated.members.begin(), stated.members.end(), member) == stated.members.end()) {
          return open_type();
        }
      }
      written = doc;
      return stated;
    }
    return body_result(f, fn, written);
  }

  // The result the body shows: its returns, or `void`.
  EvidenceType body_result(int f, const EvidenceFunction& fn, std::string& written) {
    if (constructor_function(f)) return open_type();
    EvidenceType value = nullish_type();
    bool valued = false;
    if (fn.is_arrow && kind(fn.body_open) != TK_LBRACE) {
      valued = true;
      const EvidenceType type = expression_type(fn.body_open, fn.body_end);
      if (!type.known()) return open_type();
      value = fn.is_async ? unwrap_promise(type) : type;
    } else {
      for (const int r : own_returns(tokens, match, fn.body_open + 1, fn.body_end)) {
        const int next = r + 1;
        if (next >= fn.body_end || kind(next) == TK_SEMICOLON || kind(next) == TK_RBRACE || line(next) != line(r)) {
          continue;  // a bare return
        }
        valued = true;
        const EvidenceType type = expression_type(next, expression_end(next));
        if (type.state == EvidenceType::State::open) return open_type();
        value = join_types(value, fn.is_async ? unwrap_promise(type) : type);
        if (value.state == EvidenceType::State::open) return open_type();
      }
    }
    std::string text_;
    if (!valued) {
      // A getter is read for a value: one that gives none is left to the compiler.
      if (body_ends_in_throw(fn) || fn.is_getter) return open_type();
      text_ = "void";
    } else {
      if (!value.known()) return open_type();
      text_ = render_evidence_type(value);
    }
    if (fn.is_async) text_ = "Promise<" + text_ + ">";
    written = text_;
    return text_ == "void" ? nullish_type() : type_from_text(text_);
  }

  // ----- Classes, variables, strictness -------------------------------------

  void class_members(EvidenceClass& cls) {
    int i = cls.body_open + 1;
    const int close = cls.body_close;
    std::vector<std::string>& names = cls.member_names;
    while (i < close) {
      if (kind(i) == TK_SEMICOLON) {
        ++i;
        continue;
      }
      bool is_static = false;
      for (int guard = 0; guard < 5; ++guard) {
        const int next = kind(i + 1);
        const bool modifier_follows = next != TK_LPAREN && next != TK_ASSIGN && next != TK_SEMICOLON &&
                                      next != TK_RBRACE && line(i + 1) == line(i);
        if (word(i, "static") && next != TK_LPAREN && next != TK_ASSIGN && next != TK_SEMICOLON) {
          if (next == TK_LBRACE) break;
          is_static = true;
          ++i;
        } else if ((kind(i) == TK_ASYNC || word(i, "get") || word(i, "set")) && modifier_follows) {
          ++i;
        } else if (kind(i) == TK_STAR) {
          ++i;
        } else {
          break;
        }
      }
      (void)is_static;
      const int k = kind(i);
      if (k == TK_LBRACE) {  // static { ... }
        if (partner(i) < i) return;
        i = partner(i) + 1;
        continue;
      }
      if (k == TK_LBRACKET) {
        if (partner(i) < i) return;
        i = partner(i) + 1;
      } else if (member_name_token(i) || k == TK_STRING || k == TK_NUMBER || k == TK_RESERVED) {
        std::string name(text(i));
        names.push_back(name);
        if (name.starts_with('#')) names.push_back(name.substr(1));
        ++i;
      } else {
        return;
      }
      if (kind(i) == TK_LPAREN) {
        const int end_ = partner(i);
        if (end_ < i || kind(end_ + 1) != TK_LBRACE || partner(end_ + 1) < end_ + 1) return;
        i = partner(end_ + 1) + 1;
        continue;
      }
      if (kind(i) == TK_ASSIGN) {
        ++i;
        while (i < close) {
          const int kk = kind(i);
          if (kk == TK_SEMICOLON) break;
          if (is_opener(kk)) {
            if (partner(i) < i) return;
            i = partner(i) + 1;
          } else {
            ++i;
          }
          if (i < close && line(i) != line(i - 1) && ends_expression_value(i - 1) &&
              (kind(i) == TK_IDENTIFIER || kind(i) == TK_STRING || kind(i) == TK_LBRACKET || kind(i) == TK_STAR ||
               kind(i) == TK_ASYNC)) {
            break;
          }
        }
      }
    }
    cls.members_complete = i == close;
  }

  bool plain_field_name(std::string_view name) const {
    if (name.empty()) return false;
    for (size_t i = 0; i < name.size(); ++i) {
      const unsigned char c = static_cast<unsigned char>(name[i]);
      const bool letter = std::isalpha(c) || c == '_' || c == '$';
      if (!letter && !(i > 0 && std::isdigit(c))) return false;
    }
    return true;
  }

  void class_fields() {
    for (size_t c = 0; c < out.classes.size(); ++c) {
      EvidenceClass& cls = out.classes[c];
      class_members(cls);
      if (!cls.members_complete) continue;
      std::unordered_set<std::string> taken(cls.member_names.begin(), cls.member_names.end());
      taken.insert("constructor");
      // Instance properties the methods assign, in the order first written.
      std::vector<std::pair<int, std::string>> order;
      for (const auto& [name, writes] : field_writes[c]) {
        if (!writes.empty()) order.emplace_back(writes.front().first, name);
      }
      std::sort(order.begin(), order.end());
      for (const auto& [first, name] : order) {
        if (!plain_field_name(name) || !taken.insert(name).second) continue;
        EvidenceField field{name, false, {}};
        field.type = render_evidence_type(field_type(static_cast<int>(c), name));
        cls.fields.push_back(std::move(field));
      }
      // Properties the program assigns on the class itself.
      if (!nameable_class(static_cast<int>(c))) continue;
      for (int t = 1; t + 3 < count(); ++t) {
        if (kind(t) != TK_IDENTIFIER || text(t) != cls.name || kind(t - 1) == TK_DOT || kind(t + 1) != TK_DOT ||
            kind(t + 2) != TK_IDENTIFIER || kind(t + 3) != TK_ASSIGN) {
          continue;
        }
        const std::string field(text(t + 2));
        if (in_list(field, {"name", "length", "prototype", "caller", "arguments"})) continue;
        if (!plain_field_name(field) || !taken.insert(field).second) continue;
        cls.fields.push_back({field, true, {}});
      }
    }
  }

  void variables() {
    for (size_t b = 0; b < bindings.size(); ++b) {
      const Binding& binding = bindings[b];
      if (binding.kind != BindingKind::variable || binding.open || binding.declarations != 1 || binding.in_for_head) {
        continue;
      }
      // `let x;` and `let x = null;`: the compiler takes these as `any`.
      bool null_start = false;
      if (binding.initialized) {
        const Write& first = binding.writes.front();
        null_start = first.end == first.first + 1 && (word(first.first, "null") || word(first.first, "undefined"));
        if (!null_start) continue;
      }
      if (binding.writes.size() <= (binding.initialized ? 1u : 0u)) continue;
      const EvidenceType type = variable_type(static_cast<int>(b));
      const std::string text_ = render_evidence_type(type);
      if (!text_.empty()) out.variables.push_back({binding.declaration, text_});
    }
    std::sort(out.variables.begin(), out.variables.end(),
              [](const EvidenceVariable& a, const EvidenceVariable& b) { return a.name < b.name; });
  }

  static bool octal_escape(std::string_view text_) {
    for (size_t i = 0; i + 1 < text_.size(); ++i) {
      if (text_[i] != '\\') continue;
      const char c = text_[i + 1];
      if (c >= '1' && c <= '7') return true;
      if (c == '0' && i + 2 < text_.size() && text_[i + 2] >= '0' && text_[i + 2] <= '9') return true;
      ++i;  // an escaped character, `\\` included
    }
    return false;
  }

  void strictness() {
    int depth_ = 0;
    for (int i = 0; i < count(); ++i) {
      const int k = kind(i);
      if (is_opener(k)) ++depth_;
      if (is_closer(k)) --depth_;
      if ((k == TK_IMPORT && kind(i + 1) != TK_LPAREN && kind(i + 1) != TK_DOT && depth_ == 0) ||
          (k == TK_EXPORT && depth_ == 0)) {
        out.has_module_syntax = true;
      }
      if (!out.script_reason.empty()) continue;
      if (word(i, "with") && kind(i + 1) == TK_LPAREN) {
        out.script_reason = "it uses a `with` statement";
      } else if (word(i, "arguments") && kind(i + 1) == TK_DOT && word(i + 2, "callee")) {
        out.script_reason = "it reads `arguments.callee`";
      } else if (k == TK_NUMBER && text(i).size() > 1 && text(i)[0] == '0' &&
                 std::isdigit(static_cast<unsigned char>(text(i)[1]))) {
        out.script_reason = "it writes a legacy octal number";
      } else if (k == TK_STRING && !is_template(i) && octal_escape(text(i))) {
        out.script_reason = "it writes an octal escape in a string";
      } else if (word(i, "delete") && kind(i + 1) == TK_IDENTIFIER && ends_expression(tokens, i + 2)) {
        out.script_reason = "it deletes a plain name";
      } else if (word(i, "this") && this_owner(i) == -2) {
        out.script_reason = "it reads `this` outside any function";
      } else if (word(i, "this") && this_owner(i) >= 0 && plain_called(this_owner(i))) {
        out.script_reason = "a plain function call reads `this` as the global object";
      }
    }
  }

  // The function whose `this` the token sees: -2 at the top level, -1 in a
  // class body (field initializers), else the function.
  int this_owner(int i) const {
    int s = scope(i);
    for (; s >= 0; s = parent_scope(s)) {
      if (!out.functions[static_cast<size_t>(s)].is_arrow) return s;
    }
    for (const EvidenceClass& cls : out.classes) {
      if (cls.body_open < i && i < cls.body_close) return -1;
    }
    return -2;
  }

  // A function declaration called as `f()` and never as a constructor or a
  // method: its `this` is the global object in sloppy mode.
  bool plain_called(int f) const {
    const EvidenceFunction& fn = out.functions[static_cast<size_t>(f)];
    if (fn.is_method || fn.is_arrow || fn.name.empty() || constructed_names.count(fn.name) != 0) return false;
    if (!word(fn.head, "function") || !in_statement_position(tokens, fn.head)) return false;
    for (const int open : calls[static_cast<size_t>(f)]) {
      if (kind(open - 1) == TK_IDENTIFIER && kind(open - 2) != TK_DOT && !word(open - 2, "new")) {
        // Also used as a value (`obj.m = f`, `f.call(x)`): its `this` may be given.
        for (int i = 0; i + 1 < count(); ++i) {
          if (kind(i) == TK_IDENTIFIER && text(i) == fn.name && kind(i + 1) != TK_LPAREN &&
              declaration_names.count(i) == 0) {
            return false;
          }
        }
        return true;
      }
    }
    return false;
  }

  // Cycles (a function's parameter typed by a call whose argument is a
  // parameter typed by that function...) are cut on the first round: a
  // question already being answered gets no type. The second round answers
  // it with what the first one found, so the order in which the functions
  // stand does not decide what is written.
  int round = 0;
  std::vector<std::vector<EvidenceType>> previous_params;
  std::vector<EvidenceType> previous_results;
  std::vector<EvidenceType> previous_bindings;
  std::unordered_map<std::string, EvidenceType> previous_fields;

  void evaluate_functions() {
    for (size_t f = 0; f < out.functions.size(); ++f) {
      param_types(static_cast<int>(f));
      function_result(static_cast<int>(f));
    }
  }

  void start_second_round() {
    round = 1;
    previous_params.resize(memo.size());
    previous_results.resize(memo.size());
    for (size_t f = 0; f < memo.size(); ++f) {
      previous_params[f] = memo[f].param_types;
      previous_results[f] = memo[f].result;
      memo[f] = FunctionMemo{};
      out.functions[f].result.clear();
      for (EvidenceParam& param : out.functions[f].params) param.type.clear();
    }
    previous_bindings.resize(bindings.size());
    for (size_t b = 0; b < bindings.size(); ++b) {
      previous_bindings[b] = bindings[b].type;
      bindings[b].state = 0;
      bindings[b].type = EvidenceType{};
    }
    previous_fields = std::move(field_memo);
    field_memo.clear();
    field_vote_memo.clear();
  }

  void run() {
    find_classes();
    find_functions();
    build_scopes();
    declare_everything();
    index_methods();
    find_constructed_names();
    find_pseudo_classes();
    collect_references();
    find_exported_functions();
    find_imports();
    find_export_list();
    read_jsdoc();
    evaluate_functions();
    start_second_round();
    evaluate_functions();
    class_fields();
    variables();
    strictness();
    collect_exports();
    collect_outgoing_calls();
  }
};

}  // namespace

FileEvidence infer_evidence(std::string_view source, const TokenList& tokens, const std::vector<int>& match,
                            const ProjectView* project) {
  Engine engine(source, tokens, match, project);
  engine.run();
  return std::move(engine.out);
}

std::string jsdoc_type_text(std::string_view jsdoc, const std::vector<std::string>& classes) {
  std::string_view type = jsdoc;
  while (!type.empty() && type.front() == ' ') type.remove_prefix(1);
  while (!type.empty() && type.back() == ' ') type.remove_suffix(1);
  // Parentheses around the whole type only: `(a|b)[]` keeps its own.
  while (type.size() >= 2 && type.front() == '(' && type.back() == ')') {
    int depth = 0;
    size_t close = 0;
    for (size_t i = 0; i < type.size(); ++i) {
      if (type[i] == '(') ++depth;
      if (type[i] == ')' && --depth == 0) {
        close = i;
        break;
      }
    }
    if (close != type.size() - 1) break;
    type = type.substr(1, type.size() - 2);
    while (!type.empty() && type.front() == ' ') type.remove_prefix(1);
    while (!type.empty() && type.back() == ' ') type.remove_suffix(1);
  }
  while (!type.empty() && (type.front() == '?' || type.front() == '!')) type.remove_prefix(1);
  while (!type.empty() && type.back() == '=') type.remove_suffix(1);
  if (type.empty()) return {};
  std::vector<std::string> members;
  for (std::string member : split_union(type)) {
    std::string_view m = member;
    while (!m.empty() && (m.front() == '?' || m.front() == '!')) m.remove_prefix(1);
    std::string out;
    if (m == "null" || m == "undefined") continue;
    if (m == "string" || m == "String") {
      out = "string";
    } else if (m == "number" || m == "Number") {
      out = "number";
    } else if (m == "boolean" || m == "Boolean") {
      out = "boolean";
    } else if (m == "void") {
      out = "void";
    } else if (in_list(m, {"Date", "RegExp", "Error", "TypeError", "RangeError", "ArrayBuffer", "Uint8Array",
                           "Uint16Array", "Uint32Array", "Int8Array", "Int16Array", "Int32Array", "Float32Array",
                           "Float64Array", "DataView", "Buffer"}) ||
               std::find(classes.begin(), classes.end(), m) != classes.end()) {
      // `Buffer` is Node's: a file documented with it runs under Node, whose types the check loads.
      out = std::string(m);
    } else if (m.ends_with("[]")) {
      const std::string inner = jsdoc_type_text(m.substr(0, m.size() - 2), classes);
      if (inner.empty() || inner == "void") return {};
      out = inner.find('|') != std::string::npos ? "(" + inner + ")[]" : inner + "[]";
    } else if ((m.starts_with("Array.<") || m.starts_with("Array<")) && m.ends_with(">")) {
      const size_t open = m.find('<');
      const std::string inner = jsdoc_type_text(m.substr(open + 1, m.size() - open - 2), classes);
      if (inner.empty() || inner == "void") return {};
      out = inner.find('|') != std::string::npos ? "(" + inner + ")[]" : inner + "[]";
    } else if ((m.starts_with("Promise.<") || m.starts_with("Promise<")) && m.ends_with(">")) {
      const size_t open = m.find('<');
      const std::string inner = jsdoc_type_text(m.substr(open + 1, m.size() - open - 2), classes);
      if (inner.empty()) return {};
      out = "Promise<" + inner + ">";
    } else {
      return {};
    }
    if (std::find(members.begin(), members.end(), out) == members.end()) members.push_back(out);
  }
  if (members.empty() || members.size() > kMaxMembers) return {};
  if (members.size() > 1 && std::find(members.begin(), members.end(), "void") != members.end()) return {};
  std::string text;
  for (const std::string& member : members) {
    if (!text.empty()) text += " | ";
    text += member;
  }
  return text;
}
