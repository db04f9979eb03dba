// Structure capture: array-method results, classes, import and export
// statements and function bodies.
#include "analysis/analyzeR2.h"

#include <algorithm>
#include <initializer_list>
#include <unordered_map>
#include <unordered_set>

#include "analysis/syntax.h"
#include "core/text.h"

// ---------------------------------------------------------------------------
// Array-method results

// KEYWORD NAME = RECEIVER . METHOD (   -> NAME typed by METHOD (map, filter, reduce, find, some, every)
void detect_array_callbacks(const TokenList& tokens, AnalysisResult& result) {
  const int count = tokens.count();
  // The first variable of each name, as find_var gives it, without a walk of
  // the list per call; this rule adds and renames no variable.
  const FirstByName first_var(result.vars);
  for (int i = 0; i < count - 6; ++i) {
    if (!is_declaration_keyword(at(tokens, i).kind) || at(tokens, i + 1).kind != TK_IDENTIFIER ||
        at(tokens, i + 2).kind != TK_ASSIGN || at(tokens, i + 3).kind != TK_IDENTIFIER ||
        at(tokens, i + 4).kind != TK_DOT || at(tokens, i + 5).kind != TK_IDENTIFIER ||
        at(tokens, i + 6).kind != TK_LPAREN) {
      continue;
    }
    VarInfo* var = first_var.find(at(tokens, i + 1).text);
    if (var == nullptr) continue;
    TypeInfo& type = var->type;
    const std::string_view method = at(tokens, i + 5).text;
    if (method == "map") {
      type.kind = TYPE_ARRAY;
      type.element_kind = TYPE_STRING;
    } else if (method == "filter") {
      type.kind = TYPE_ARRAY;
      type.element_kind = TYPE_NUMBER;
    } else if (method == "reduce") {
      type.kind = TYPE_NUMBER;
    } else if (method == "find") {
      type.kind = TYPE_UNION;
      type.members[0] = TYPE_NUMBER;
      type.members[1] = TYPE_VOID;
      type.member_count = 2;
    } else if (method == "some" || method == "every") {
      type.kind = TYPE_BOOLEAN;
    }
  }
}

// ---------------------------------------------------------------------------
// Classes

namespace {

// The type of a field's value: its expression kind, or for an array literal
// an array of the elements' common literal kind (0 when they differ).
TypeInfo field_value_type(const TokenList& tokens, const std::vector<int>& match, int start, int& end) {
  const ExpressionScan value = scan_expression(tokens, match, start, true);
  end = value.end;
  TypeInfo type;
  type.kind = static_cast<TypeKind>(value.kind);
  if (value.top_tokens == 1 && kind_at(tokens, start) == TK_LBRACKET) {
    type.kind = TYPE_ARRAY;
    bool first = true;
    for (const auto& [element, element_end] : group_elements(tokens, match, start)) {
      if (element >= element_end) continue;
      const int kind = literal_kind_of_range(tokens, element, element_end);
      if (first || kind != type.element_kind) type.element_kind = first ? kind : TYPE_NONE;
      first = false;
    }
  }
  return type;
}

// The position of each field name of the class being collected.
using FieldIndex = std::unordered_map<std::string, int>;

// A private `#name` keeps its `#`: it is another member than a public `name`
// of the same class. The class pass records it without the `#` and with its
// private flag.
void add_class_field(ClassInfo& record, FieldIndex& index, std::string name, TypeInfo type) {
  if (name.empty() || name == "#") return;
  const auto [found, added] = index.try_emplace(name, record.field_count());
  if (!added) {
    add_union_type(record.field_types[static_cast<size_t>(found->second)], type.kind);
    return;
  }
  record.field_names.push_back(std::move(name));
  record.field_types.push_back(std::move(type));
}

// this . NAME = VALUE   inside the constructor body [first, end)   -> field NAME
// Functions, methods and classes nested in the constructor have a `this` of
// their own and are passed over; arrow functions share the constructor's.
void collect_constructor_fields(ClassInfo& record, FieldIndex& fields, const TokenList& tokens,
                                const std::vector<int>& match, int first, int end) {
  int k = first;
  while (k < end) {
    const int body = nested_body_open(tokens, match, k, false);
    if (body >= 0) {
      k = after_group(match, body, end);
      continue;
    }
    if (is_word(at(tokens, k), "this") && k + 3 < end && at(tokens, k + 1).kind == TK_DOT &&
        at(tokens, k + 2).kind == TK_IDENTIFIER && at(tokens, k + 3).kind == TK_ASSIGN &&
        (k == 0 || (at(tokens, k - 1).kind != TK_DOT && at(tokens, k - 1).kind != TK_OPTIONAL_CHAIN))) {
      int value_end = 0;
      add_class_field(record, fields, std::string(at(tokens, k + 2).text), field_value_type(tokens, match, k + 4, value_end));
      k += 4;
      continue;
    }
    ++k;
  }
}

// The members of the class body [first, end): class fields (`NAME;`,
// `NAME = VALUE;`, with `static` or a `#name`), and the constructor's
// parameters and `this.NAME = VALUE` assignments. Methods are left to the
// class passes.
void collect_class_members(ClassInfo& record, const TokenList& tokens, const std::vector<int>& match,
                           std::string_view source, int first, int end) {
  FieldIndex fields;
  int p = first;
  while (p < end) {
    const Token& token = at(tokens, p);
    if (token.kind == TK_SEMICOLON) {
      ++p;
      continue;
    }
    if (is_word(token, "static") && kind_at(tokens, p + 1) == TK_LBRACE) {  // static initialisation block
      p = after_group(match, p + 1, end);
      continue;
    }
    // Modifiers: a modifier word is followed by the member's name, not by
    // `(`, `=` or the end of the member.
    bool accessor = false;
    while (p + 1 < end) {
      const Token& word = at(tokens, p);
      const int next = at(tokens, p + 1).kind;
      const bool modifier =
          word.kind == TK_STAR ||
          ((word.kind == TK_ASYNC || is_word(word, "static") || is_word(word, "get") || is_word(word, "set") ||
            is_word(word, "accessor")) &&
           next != TK_LPAREN && next != TK_ASSIGN && next != TK_SEMICOLON && next != TK_RBRACE &&
           at(tokens, p + 1).line == word.line);
      if (!modifier) break;
      if (is_word(word, "get") || is_word(word, "set")) accessor = true;
      ++p;
    }
    if (p >= end) break;
    const Token& name = at(tokens, p);
    int q = p + 1;
    if (name.kind == TK_LBRACKET) q = after_group(match, p, end);  // computed name
    const int next = kind_at(tokens, q);
    const bool named = name.kind == TK_IDENTIFIER || name.kind == TK_RESERVED || name.kind == TK_ASYNC;
    if (next == TK_LPAREN && q < end) {
      const int close = match[static_cast<size_t>(q)];
      if (close < 0) break;
      if (name.kind == TK_IDENTIFIER && name.text == "constructor" && !accessor) {
        std::vector<ParamInfo> params = parse_params(tokens, match, source, q, true);
        const std::vector<int> optional = optional_parameters(params);
        record.ctor_param_optional.insert(record.ctor_param_optional.end(), optional.begin(), optional.end());
        for (ParamInfo& param : params) {
          record.ctor_param_names.push_back(std::move(param.name));
          record.ctor_param_types.push_back(std::move(param.type));
        }
        if (kind_at(tokens, close + 1) == TK_LBRACE) {
          const int body_end = match[static_cast<size_t>(close + 1)] < 0 ? end : match[static_cast<size_t>(close + 1)];
          collect_constructor_fields(record, fields, tokens, match, close + 2, std::min(body_end, end));
        }
      }
      p = close + 1;
      if (kind_at(tokens, p) == TK_LBRACE && p < end) p = after_group(match, p, end);
      continue;
    }
    if (next == TK_ASSIGN && q < end) {
      int value_end = 0;
      TypeInfo type = field_value_type(tokens, match, q + 1, value_end);
      if (named && !accessor) add_class_field(record, fields, std::string(name.text), std::move(type));
      p = std::max(value_end, q + 1);
      continue;
    }
    if (named && !accessor && (q >= end || next == TK_SEMICOLON || next == TK_RBRACE || is_line_break_boundary(tokens, q))) {
      add_class_field(record, fields, std::string(name.text), TypeInfo{});
    }
    p = std::max(q, p + 1);
  }
}

}  // namespace

// class NAME [extends BASE] { ... }   -> one ClassInfo with its fields and constructor parameters
namespace {

// A `class` after one of these tokens is an expression (`x = class Name {}`,
// `f(class Name {})`): its name is seen only inside its own body.
bool is_class_expression(const TokenList& tokens, int keyword) {
  switch (kind_at(tokens, keyword - 1)) {
    case TK_ASSIGN:
    case TK_COMPOUND_ASSIGN:
    case TK_LPAREN:
    case TK_LBRACKET:
    case TK_COMMA:
    case TK_COLON:
    case TK_QUESTION:
    case TK_ARROW:
    case TK_RETURN:
    case TK_AND:
    case TK_OR:
    case TK_NULLISH:
    case TK_NOT:
    case TK_SPREAD:
      return true;
    default:
      return false;
  }
}

}  // namespace

void detect_classes(AnalysisResult& result, const TokenList& tokens, const FileIndex& index,
                    std::string_view source) {
  const int count = tokens.count();
  const std::vector<int>& match = index.match;
  const std::vector<bool>& in_function = index.in_function;
  for (int j = 0; j + 1 < count; ++j) {
    if (at(tokens, j).kind != TK_CLASS || at(tokens, j + 1).kind != TK_IDENTIFIER) continue;
    ClassInfo record;
    record.name = at(tokens, j + 1).text;
    record.is_local = in_function[static_cast<size_t>(j)] || is_class_expression(tokens, j) ? 1 : 0;
    if (j + 3 < count && at(tokens, j + 2).kind == TK_EXTENDS && at(tokens, j + 3).kind == TK_IDENTIFIER) {
      record.base_name = at(tokens, j + 3).text;
    }
    const int body = nested_body_open(tokens, match, j, false);
    if (body >= 0) {
      const int close = match[static_cast<size_t>(body)] < 0 ? count : match[static_cast<size_t>(body)];
      collect_class_members(record, tokens, match, source, body + 1, close);
    }
    result.classes.push_back(std::move(record));
  }
}

// ---------------------------------------------------------------------------
// Import and export statements

namespace {

// What the statement ends of the module's top level are found with.
struct ModuleStatements {
  const TokenList& tokens;
  const std::vector<int>& match;
  const TokenPositions& line_last;   // the last token of each line
  const TokenPositions& semicolons;

  ModuleStatements(const TokenList& list, const FileIndex& index)
      : tokens(list), match(index.match), line_last(index.line_last), semicolons(index.semicolons) {}

  // The last token on the line of the token at `index`.
  int line_last_of(int index) const { return next_at(line_last, index); }

  int count() const { return tokens.count(); }
  int partner(int index) const { return match[static_cast<size_t>(index)]; }

  // A statement whose grammar does not close ends at the first `;` of its
  // line, or else with the line.
  int line_end(int index) const {
    return std::min(next_at(semicolons, index), line_last_of(index));
  }

  // After the module string at `string`: a `with { ... }` clause (or `assert
  // { ... }` on the string's line) and a `;`.
  int module_string_end(int string) const {
    int last = string;
    const int word = string + 1;
    if (word + 1 < count() && at(tokens, word + 1).kind == TK_LBRACE && partner(word + 1) >= 0 &&
        (is_word(at(tokens, word), "with") ||
         (is_word(at(tokens, word), "assert") && at(tokens, word).line == at(tokens, string).line))) {
      last = partner(word + 1);
    }
    if (kind_at(tokens, last + 1) == TK_SEMICOLON) ++last;
    return last;
  }
};

// Calls `statement(i)` for each token of `keyword_kind` at the module's top
// level, which returns the statement's last token; the walk goes on after it.
// Bracketed groups are passed over whole, so an object key `import`, a
// dynamic `import(...)` in a function or an `export` in a block is never
// taken for a statement; nor is a property `x.import`.
template <typename Statement>
void for_each_top_level(const ModuleStatements& module, int keyword_kind, Statement statement) {
  const TokenList& tokens = module.tokens;
  const int count = module.count();
  int i = 0;
  while (i < count) {
    const int kind = at(tokens, i).kind;
    if (is_opener(kind) && module.partner(i) >= 0) {
      i = module.partner(i) + 1;
      continue;
    }
    const int before = kind_at(tokens, i - 1);
    if (kind != keyword_kind || before == TK_DOT || before == TK_OPTIONAL_CHAIN) {
      ++i;
      continue;
    }
    i = std::max(statement(i), i) + 1;
  }
}

bool any_token_of(const TokenList& tokens, int kind) {
  return std::any_of(tokens.items.begin(), tokens.items.end(), [kind](const Token& token) { return token.kind == kind; });
}

// import 'm'  |  import CLAUSE from 'm'   where CLAUSE holds names, `*`, `as`,
// `,` and one `{ ... }` list; then the module string's end. -1 when the tokens
// after `import` make no such statement (`import(...)` and `import.meta`
// included).
int import_statement_last(const ModuleStatements& module, int keyword) {
  const TokenList& tokens = module.tokens;
  int j = keyword + 1;
  if (kind_at(tokens, j) == TK_STRING) return module.module_string_end(j);
  for (; j < module.count(); ++j) {
    const Token& token = at(tokens, j);
    if (j > keyword + 1 && is_word(token, "from") && kind_at(tokens, j + 1) == TK_STRING) {
      return module.module_string_end(j + 1);
    }
    if (token.kind == TK_LBRACE) {
      if (module.partner(j) < 0) return -1;
      j = module.partner(j);
      continue;
    }
    if (token.kind != TK_IDENTIFIER && token.kind != TK_ASYNC && token.kind != TK_STAR && token.kind != TK_COMMA) {
      return -1;
    }
  }
  return -1;
}

// export * [as NAME] from 'm'  |  export { ... } [from 'm']   -> the last token;
// -1 when the tokens make no such statement.
int export_list_last(const ModuleStatements& module, int keyword) {
  const TokenList& tokens = module.tokens;
  const int first = keyword + 1;
  int k = first + 1;
  if (at(tokens, first).kind == TK_LBRACE) {
    if (module.partner(first) < 0) return -1;
    k = module.partner(first) + 1;
  } else if (k + 1 < module.count() && is_word(at(tokens, k), "as")) {
    k += 2;
  }
  if (k + 1 < module.count() && is_word(at(tokens, k), "from") && at(tokens, k + 1).kind == TK_STRING) {
    return module.module_string_end(k + 1);
  }
  if (at(tokens, first).kind != TK_LBRACE) return -1;
  return kind_at(tokens, k) == TK_SEMICOLON ? k : k - 1;
}

// The last token of the export statement at `keyword`. A list (`export {
// ... }`, `export * from`) ends where its grammar ends; a function or class
// declaration with its body's closing brace; anything else at the first `;`
// outside brackets, or where a line break starts a new statement. Taken up to
// the first `;` of all, `export function f() { a; b; }` would be cut inside
// its body and the output would no longer parse.
int export_statement_last(const ModuleStatements& module, int keyword) {
  const TokenList& tokens = module.tokens;
  const int count = module.count();
  int j = keyword + 1;
  if (j >= count) return keyword;
  if (at(tokens, j).kind == TK_STAR || at(tokens, j).kind == TK_LBRACE) {
    const int last = export_list_last(module, keyword);
    return last >= 0 ? last : module.line_end(keyword);
  }
  if (is_word(at(tokens, j), "default")) ++j;
  if (j < count && at(tokens, j).kind == TK_ASYNC) ++j;
  const bool declaration =
      j < count && (at(tokens, j).kind == TK_CLASS ||
                    (at(tokens, j).kind == TK_RESERVED && at(tokens, j).text == "function"));
  for (int k = keyword + 1; k < count; ++k) {
    const Token& token = at(tokens, k);
    // The next statement of the module starts.
    if (token.kind == TK_EXPORT) return k - 1;
    if (token.kind == TK_IMPORT && kind_at(tokens, k + 1) != TK_LPAREN && kind_at(tokens, k + 1) != TK_DOT) {
      return k - 1;  // `import(...)` and `import.meta` are expressions of this statement
    }
    if (!declaration && is_line_break_boundary(tokens, k) && !is_word(token, "from") && !is_word(token, "as")) {
      return k - 1;
    }
    if (token.kind == TK_SEMICOLON) return k;
    if (is_closer(token.kind)) return k - 1;  // a stray closer
    if (is_opener(token.kind)) {
      if (module.partner(k) < 0) return module.line_last_of(k);  // never closes
      if (declaration && token.kind == TK_LBRACE) return module.partner(k);
      k = module.partner(k);
    }
  }
  return count - 1;
}

}  // namespace

// import CLAUSE from 'm' ;   (top level only)   -> the statement's source text in imports
void detect_imports(AnalysisResult& result, const TokenList& tokens, const FileIndex& index,
                    std::string_view source) {
  if (!any_token_of(tokens, TK_IMPORT)) return;
  const ModuleStatements module(tokens, index);
  for_each_top_level(module, TK_IMPORT, [&](int keyword) {
    // A dynamic `import(...)` or `import.meta` is an expression, not a declaration.
    const int next = kind_at(tokens, keyword + 1);
    if (next == TK_LPAREN || next == TK_DOT) return keyword;
    int last = import_statement_last(module, keyword);
    if (last < 0) last = module.line_end(keyword);
    result.imports.push_back(source_text(source, tokens.start(keyword), tokens.end(last)));
    return last;
  });
}

// export ... ;   (top level only)   -> the whole statement's source text in exports
void detect_exports(AnalysisResult& result, const TokenList& tokens, const FileIndex& index,
                    std::string_view source) {
  if (!any_token_of(tokens, TK_EXPORT)) return;
  const ModuleStatements module(tokens, index);
  for_each_top_level(module, TK_EXPORT, [&](int keyword) {
    const int last = export_statement_last(module, keyword);
    result.exports.push_back(source_text(source, tokens.start(keyword), tokens.end(last)));
    return last;
  });
}

// ---------------------------------------------------------------------------
// Function bodies

void add_return_type(FuncInfo& function, int kind) {
  TypeInfo& type = function.return_type;
  if (type.kind == TYPE_NONE) {
    type.kind = static_cast<TypeKind>(kind);
    return;
  }
  if (type.kind != TYPE_UNION) {
    type.members[0] = type.kind;
    type.member_count = 1;
    type.kind = TYPE_UNION;
  }
  for (int n = 0; n < type.member_count; ++n) {
    if (type.members[static_cast<size_t>(n)] == kind) return;
  }
  if (type.member_count < kMaxUnionMembers) type.members[static_cast<size_t>(type.member_count++)] = kind;
}

namespace {

const std::initializer_list<std::string_view> kShapeStringMethods = {
    "toUpperCase", "toLowerCase", "trim",     "trimStart", "trimEnd", "substring", "substr",
    "replace",     "replaceAll",  "padStart", "padEnd",    "charAt",  "charCodeAt", "startsWith",
    "endsWith",    "split",       "localeCompare"};
const std::initializer_list<std::string_view> kShapeNumberMethods = {"toFixed", "toPrecision", "toExponential"};
const std::initializer_list<std::string_view> kShapeArrayMethods = {
    "map", "filter", "find", "findIndex", "reduce", "some", "every", "join", "push", "pop", "shift", "unshift"};

// What the tokens around the property read `PARAM . NAME` at [read, read + 2]
// tell about NAME's kind: a string, number or array method called on it, a
// comparison, arithmetic, or `+` with a string literal. 0 when they tell nothing.
int property_kind_from_use(const TokenList& tokens, int read) {
  const int after = read + 3;
  const int next = kind_at(tokens, after);
  if (next == TK_DOT && kind_at(tokens, after + 1) == TK_IDENTIFIER && kind_at(tokens, after + 2) == TK_LPAREN) {
    const std::string_view method = at(tokens, after + 1).text;
    if (is_one_of(method, kShapeStringMethods)) return TYPE_STRING;
    if (is_one_of(method, kShapeNumberMethods)) return TYPE_NUMBER;
    if (is_one_of(method, kShapeArrayMethods)) return TYPE_ARRAY;
    return TYPE_NONE;
  }
  auto numeric_operator = [](int kind) {
    return kind == TK_MINUS || kind == TK_STAR || kind == TK_SLASH || kind == TK_PERCENT || kind == TK_EXPONENT ||
           kind == TK_LESS || kind == TK_GREATER || kind == TK_LESS_EQUAL || kind == TK_GREATER_EQUAL;
  };
  auto literal_kind = [&](int index) {
    return index >= 0 && index < tokens.count() ? infer_literal_type(&at(tokens, index)) : TYPE_NONE;
  };
  if (numeric_operator(next)) return TYPE_NUMBER;
  if (next == TK_EQUAL || next == TK_NOT_EQUAL) return literal_kind(after + 1);
  if (next == TK_PLUS && kind_at(tokens, after + 1) == TK_STRING) return TYPE_STRING;
  const int previous = kind_at(tokens, read - 1);
  if (numeric_operator(previous)) return TYPE_NUMBER;
  if (previous == TK_EQUAL || previous == TK_NOT_EQUAL) return literal_kind(read - 2);
  return TYPE_NONE;
}

// The parameters of the captured functions that are in scope while the
// tokens are walked once: a name maps to the innermost function that has a
// parameter of that name, and the parameter's position.
struct ShapeRecorder {
  AnalysisResult& result;
  std::unordered_map<std::string_view, std::vector<std::pair<int, int>>> scope;
  // Fields whose reads disagree on the kind; they stay at 0.
  std::unordered_set<long long> conflicts;

  void bind(int function, bool on) {
    const FuncInfo& record = result.funcs[static_cast<size_t>(function)];
    const int limit = std::min(record.param_count(), kMaxParamShapes);
    for (int j = 0; j < limit; ++j) {
      const std::string& name = record.param_names[static_cast<size_t>(j)];
      if (name.empty() || name[0] == '{' || name[0] == '[' || name[0] == '.') continue;
      if (on) {
        scope[name].emplace_back(function, j);
      } else {
        auto found = scope.find(name);
        if (found != scope.end() && !found->second.empty()) found->second.pop_back();
      }
    }
  }

  void record(std::string_view parameter, std::string_view field, int kind) {
    auto found = scope.find(parameter);
    if (found == scope.end() || found->second.empty()) return;
    const auto [function, position] = found->second.back();
    ShapeInfo& shape = result.funcs[static_cast<size_t>(function)].param_shapes[static_cast<size_t>(position)];
    for (size_t n = 0; n < shape.fields.size(); ++n) {
      if (shape.fields[n].name != field) continue;
      const long long key = (static_cast<long long>(function) * kMaxParamShapes + position) * kMaxShapeFields +
                            static_cast<long long>(n);
      if (kind == TYPE_NONE || shape.fields[n].kind == kind || conflicts.count(key) != 0) return;
      if (shape.fields[n].kind == TYPE_NONE) {
        shape.fields[n].kind = static_cast<TypeKind>(kind);
      } else {
        shape.fields[n].kind = TYPE_NONE;
        conflicts.insert(key);
      }
      return;
    }
    if (static_cast<int>(shape.fields.size()) < kMaxShapeFields) shape.fields.push_back(ShapeField{std::string(field), static_cast<TypeKind>(kind)});
  }
};

// PARAM . NAME (not a call, not an assignment target)   -> field NAME in PARAM's shape
// { A, B = 1 } = PARAM                                    -> fields A and B in PARAM's shape
void record_param_shapes(AnalysisResult& result, const TokenList& tokens, const std::vector<int>& match) {
  const int count = tokens.count();
  std::vector<int> order;
  for (size_t n = 0; n < result.funcs.size(); ++n) {
    const FuncInfo& record = result.funcs[n];
    if (record.body_first_token >= 0 && record.body_first_token < record.body_end_token) {
      order.push_back(static_cast<int>(n));
    }
  }
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
    return result.funcs[static_cast<size_t>(a)].body_first_token < result.funcs[static_cast<size_t>(b)].body_first_token;
  });
  ShapeRecorder recorder{result, {}, {}};
  std::vector<int> active;
  size_t next = 0;
  for (int i = 0; i < count; ++i) {
    while (!active.empty() && result.funcs[static_cast<size_t>(active.back())].body_end_token <= i) {
      recorder.bind(active.back(), false);
      active.pop_back();
    }
    while (next < order.size() && result.funcs[static_cast<size_t>(order[next])].body_first_token <= i) {
      const int function = order[next++];
      if (result.funcs[static_cast<size_t>(function)].body_end_token <= i) continue;
      recorder.bind(function, true);
      active.push_back(function);
    }
    if (active.empty()) continue;
    const Token& token = at(tokens, i);
    if (token.kind == TK_IDENTIFIER && i + 2 < count &&
        (at(tokens, i + 1).kind == TK_DOT || at(tokens, i + 1).kind == TK_OPTIONAL_CHAIN) &&
        at(tokens, i + 2).kind == TK_IDENTIFIER) {
      const int before = kind_at(tokens, i - 1);
      const int after = kind_at(tokens, i + 3);
      if (before != TK_DOT && before != TK_OPTIONAL_CHAIN && after != TK_LPAREN && after != TK_ASSIGN &&
          after != TK_COMPOUND_ASSIGN && after != TK_INCREMENT) {
        recorder.record(token.text, at(tokens, i + 2).text, property_kind_from_use(tokens, i));
      }
      continue;
    }
    if (token.kind == TK_ASSIGN && i >= 2 && at(tokens, i - 1).kind == TK_RBRACE && i + 1 < count &&
        at(tokens, i + 1).kind == TK_IDENTIFIER && ends_expression(tokens, i + 2)) {
      const int open = match[static_cast<size_t>(i - 1)];
      if (open >= 1 && is_declaration_keyword(at(tokens, open - 1).kind)) {
        for (const ShapeField& key : object_pattern_keys(tokens, match, open, count)) {
          recorder.record(at(tokens, i + 1).text, key.name, key.kind);
        }
      }
    }
  }
}

}  // namespace

// For each function its own declaration `function [*] NAME (...) { BODY }`:
// body text, body region, literal return kinds, flow flag, parameter shapes.
void capture_function_bodies(AnalysisResult& result, const TokenList& tokens, const FileIndex& index,
                             std::string_view source) {
  const int count = tokens.count();
  const std::vector<int>& match = index.match;

  // The declarations of each name in source order, found in one walk, as the
  // index of their NAME token. The k-th record of a name takes the k-th
  // declaration of that name, so two functions that share a name each get
  // their own body.
  std::unordered_map<std::string_view, std::vector<int>> declarations;
  for (int i = 0; i < count; ++i) {
    const int name = function_declaration_name(tokens, i);
    if (name >= 0) declarations[at(tokens, name).text].push_back(name);
  }
  std::unordered_map<std::string_view, size_t> taken;

  // A body inside another function's body is the same text again, which the
  // passes that read body texts read once more. Functions nested a thousand
  // levels deep would have them read an amount of text that grows with the
  // square of the file, so nested bodies get their text only while they stay
  // within a budget linear in the source size;
  // past it a nested function keeps its body region, return kinds and
  // parameter shapes but no body text (its parent's body holds its code, and
  // the output never writes it on its own). Real code stays far below it.
  size_t nested_budget = 4 * source.size() + (size_t{1} << 20);
  std::vector<int> enclosing_ends;  // source ends of the bodies around the current one

  for (FuncInfo& function : result.funcs) {
    function.flow_enabled = 0;
    auto found = declarations.find(function.name);
    if (found == declarations.end()) continue;
    size_t& used = taken[found->first];
    if (used >= found->second.size()) continue;
    const int name = found->second[used++];
    const int close_paren = match[static_cast<size_t>(name + 1)];
    if (close_paren < 0 || kind_at(tokens, close_paren + 1) != TK_LBRACE) continue;
    const int open = close_paren + 1;
    const int close = match[static_cast<size_t>(open)];
    if (close < 0) continue;  // a body that never closes is not captured

    // The body is exactly the source between the braces.
    const int body_start = tokens.end(open);
    const int body_end = std::max(tokens.start(close), body_start);
    // Records are in source order, so the bodies around this one are the
    // captured ones that have not ended yet.
    while (!enclosing_ends.empty() && enclosing_ends.back() <= body_start) enclosing_ends.pop_back();
    const size_t size = static_cast<size_t>(body_end - body_start);
    const bool with_text = enclosing_ends.empty() || size <= nested_budget;
    if (!enclosing_ends.empty() && with_text) nested_budget -= size;
    enclosing_ends.push_back(body_end);
    if (with_text) {
      function.body = BodyText::viewing(source_view(source, body_start, body_end));
      function.flow_enabled = 1;
    }
    function.body_start = body_start;
    function.body_end = body_end;
    function.body_first_token = open + 1;
    function.body_end_token = close;

    // Only the function's own `return` statements count: a `return` inside a
    // callback or nested function returns from that function, not this one.
    // A value on the line after `return` is not returned (the line break ends
    // the statement), and a non-literal value adds nothing.
    for (const int r : index.own_returns(open + 1, close)) {
      if (r + 1 >= close || at(tokens, r + 1).line != at(tokens, r).line) continue;
      const int kind = infer_literal_type(&at(tokens, r + 1));
      if (kind != TYPE_NONE) add_return_type(function, kind);
    }
  }
  record_param_shapes(result, tokens, match);
}
