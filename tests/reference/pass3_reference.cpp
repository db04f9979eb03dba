#include "pass3_reference.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "analysis/syntax.h"

namespace pass3_reference {

namespace {

// Capacity of the name table of one array destructuring; names past it are
// ignored.
constexpr int kMaxDestructuredNames = 16;

// token_at, kind_at and is_kind: the bounds-checked helpers of
// analysis/token_helpers.h (null, TK_NONE and false outside the list).

bool is_arithmetic(int kind) { return kind >= TK_PLUS && kind <= TK_SLASH; }
bool is_equality(int kind) { return kind == TK_EQUAL || kind == TK_NOT_EQUAL; }
bool is_logical(int kind) { return kind == TK_AND || kind == TK_OR; }
// == != < > <= >=
bool is_comparison(int kind) {
  return is_equality(kind) || (kind >= TK_LESS && kind <= TK_GREATER_EQUAL);
}
// == != < >  (the set without <= and >=)
bool is_short_comparison(int kind) {
  return is_equality(kind) || kind == TK_LESS || kind == TK_GREATER;
}

bool is_gated(const FuncInfo& func) { return func.flow_enabled != 0 && func.body.has_value(); }
bool is_open(const TypeInfo& type) { return type.kind == TYPE_NONE || type.kind == TYPE_VOID; }

// The literal type of a token; 0 past the end of the list.
int literal_kind(const TokenList& tokens, int index) { return infer_literal_type(token_at(tokens, index)); }

// The literal type of the token, or else the kind of the variable it names.
int value_kind(AnalysisResult& result, const Token* token) {
  const int literal = infer_literal_type(token);
  if (literal != TYPE_NONE || token == nullptr || token->kind != TK_IDENTIFIER) return literal;
  const VarInfo* var = find_var(result, token->text);
  return var == nullptr ? TYPE_NONE : var->type.kind;
}

// The kind of the first field named `name` of an object-typed variable.
int field_kind(const VarInfo& var, std::string_view name) {
  if (var.type.kind != TYPE_OBJECT || var.type.fields.empty()) return TYPE_NONE;
  for (const TypeField& field : var.type.fields) {
    if (field.name == name) return field.kind;
  }
  return TYPE_NONE;
}

int clamped_member_count(const TypeInfo& type) {
  return std::clamp(type.member_count, 0, kMaxUnionMembers);
}

// Replaces the members of a type with the non-zero kinds among `kinds`, in
// order (the kinds are never more than four).
void rebuild_members(TypeInfo& type, std::initializer_list<int> kinds) {
  type.members = {};
  type.member_count = 0;
  for (int kind : kinds) {
    if (kind != TYPE_NONE && type.member_count < kMaxUnionMembers) {
      type.members[static_cast<size_t>(type.member_count++)] = kind;
    }
  }
}

// The two-kind rule: one kind when both agree, otherwise a union of the
// non-zero ones (possibly with a single member or none).
void set_from_two_kinds(TypeInfo& type, int a, int b) {
  if (a == b && a != TYPE_NONE) {
    type.kind = static_cast<TypeKind>(a);
    return;
  }
  type.kind = TYPE_UNION;
  rebuild_members(type, {a, b});
}

// A union of exactly two members, whatever the type held before.
void set_pair_union(TypeInfo& type, int first, int second) {
  type.kind = TYPE_UNION;
  type.members = {};
  type.members[0] = first;
  type.members[1] = second;
  type.member_count = 2;
}

void append_var(AnalysisResult& result, const std::string& name, int kind) {
  VarInfo var;
  var.name = name;
  var.type.kind = static_cast<TypeKind>(kind);
  result.vars.push_back(std::move(var));
}

// The last variable of that name (one rule looks from the end).
const VarInfo* find_last_var(const AnalysisResult& result, std::string_view name) {
  for (auto it = result.vars.rbegin(); it != result.vars.rend(); ++it) {
    if (it->name == name) return &*it;
  }
  return nullptr;
}

struct Conditional {
  int question;  // the last `?` before the colon
  int colon;     // the first `:` from the start
};

// Walks forward from `from`, remembering every `?`, up to the first `:`.
// Fails without a `?` before that colon, without a colon, or when the colon is
// the last token. It is not bounded by statements or brackets.
std::optional<Conditional> conditional_search(const TokenList& tokens, int from) {
  int question = -1;
  for (int k = std::max(from, 0); k < tokens.count(); ++k) {
    const int kind = tokens.items[static_cast<size_t>(k)].kind;
    if (kind == TK_QUESTION) question = k;
    if (kind == TK_COLON) {
      if (question < 0 || k + 1 >= tokens.count()) return std::nullopt;
      return Conditional{question, k};
    }
  }
  return std::nullopt;
}

// Index of the first token inside a function's body; -1 when the region holds
// no token.
int body_first_index(const FuncInfo& func, const TokenList& tokens) {
  if (func.body_first_token < 0 || func.body_end_token <= func.body_first_token ||
      func.body_first_token >= tokens.count()) {
    return -1;
  }
  return func.body_first_token;
}

// The `return` tokens of the function's own code: its body region without
// the functions, arrows, methods and classes nested in it.
std::vector<int> own_returns_of(const FuncInfo& func, const TokenList& tokens) {
  const int first = body_first_index(func, tokens);
  if (first < 0) return {};
  return own_returns(tokens, match_brackets(tokens), first, std::min(func.body_end_token, tokens.count()));
}

// The first function (in list order) whose own code holds the `return` at
// `r`; -1 for none.
int owner_index(const AnalysisResult& result, const TokenList& tokens, int r) {
  for (size_t f = 0; f < result.funcs.size(); ++f) {
    const std::vector<int> own = own_returns_of(result.funcs[f], tokens);
    if (std::find(own.begin(), own.end(), r) != own.end()) return static_cast<int>(f);
  }
  return -1;
}

// The conditional search from a `return` at `r`, which must end inside the
// returned expression.
std::optional<Conditional> returned_conditional(const TokenList& tokens, int r) {
  const auto found = conditional_search(tokens, r);
  if (!found || found->colon >= scan_expression(tokens, match_brackets(tokens), r + 1, false).end) {
    return std::nullopt;
  }
  return found;
}

}  // namespace

// ---------------------------------------------------------------------------
// Driver and symbol table

void analyzer3_run(const TokenList& tokens, AnalysisResult& result) {
  // warning: order matters. Fill-only rules let an earlier sub-pass win,
  // overwriting rules let a later one win.
  pass3_reference::analyze_return_objects(tokens, result);
  pass3_reference::analyze_destructuring(tokens, result);
  pass3_reference::pass0_detect_logic_vars(tokens, result);
  pass3_reference::analyze_optional_chain(tokens, result);
  pass3_reference::analyze_nullish(tokens, result);
  pass3_reference::analyze_logical_ops(tokens, result);
  pass3_reference::analyze_ternary(tokens, result);
  pass3_reference::analyze_reassignments(tokens, result);
  pass3_reference::analyze_complex_returns(tokens, result);
  pass3_reference::analyze_switch(tokens, result);
  pass3_reference::analyze_advanced_arrays(tokens, result);
  pass3_reference::finalize_return_types(tokens, result);
  pass3_reference::analyze_any_killer(tokens, result);
  SymbolTable table;
  pass3_reference::build_symbol_table(result, table);  // the snapshot comes after the any-killer
  pass3_reference::analyze_advanced(table, tokens, result);
  pass3_reference::simplify_unions(result);
}

void build_symbol_table(const AnalysisResult& result, SymbolTable& table) {
  table.entries.clear();
  table.entries.reserve(result.vars.size());
  for (const VarInfo& var : result.vars) table.entries.push_back(SymbolEntry{var.name, var.type});
}

int lookup_type(const SymbolTable& table, std::string_view name) {
  for (const SymbolEntry& entry : table.entries) {
    if (entry.name == name) return entry.type.kind;
  }
  return TYPE_NONE;
}

// ---------------------------------------------------------------------------
// Destructuring, logic operands, declaration initialisers

// const [ NAME , NAME ... ] = SOURCE   -> each NAME appended as number | string | boolean
// when the last variable named SOURCE is an array or a union.
void analyze_destructuring(const TokenList& tokens, AnalysisResult& result) {
  const int count = tokens.count();
  for (int i = 0; i < count - 5; ++i) {
    if (!is_kind(tokens, i, TK_CONST) || !is_kind(tokens, i + 1, TK_LBRACKET)) continue;

    std::vector<std::string> names;
    int k = i + 2;
    for (; k < count && tokens.items[static_cast<size_t>(k)].kind != TK_RBRACKET; ++k) {
      const Token& token = tokens.items[static_cast<size_t>(k)];
      if (token.kind == TK_IDENTIFIER && static_cast<int>(names.size()) < kMaxDestructuredNames) {
        names.emplace_back(token.text);
      }
    }
    // The `=` between `]` and the source is not checked.
    const Token* source = (k < count) ? token_at(tokens, k + 2) : nullptr;
    if (source == nullptr) continue;

    const VarInfo* source_var = find_last_var(result, source->text);
    const int source_kind = source_var == nullptr ? TYPE_NONE : source_var->type.kind;
    if (source_kind != TYPE_ARRAY && source_kind != TYPE_UNION) continue;

    for (const std::string& name : names) {
      VarInfo var;
      var.name = name;
      var.type.kind = TYPE_UNION;
      var.type.members = {TYPE_NUMBER, TYPE_STRING, TYPE_BOOLEAN, TYPE_NONE};
      var.type.member_count = 3;
      result.vars.push_back(std::move(var));
    }
  }
}

// NAME ?   NAME &&   NAME ||   -> undeclared NAME appended as boolean
// NAME ??                       -> undeclared NAME appended as number | none
void pass0_detect_logic_vars(const TokenList& tokens, AnalysisResult& result) {
  // undefined, NaN and Infinity are global constants: declaring one of them
  // would break the output, and `x === undefined || y` is everywhere.
  static constexpr std::string_view kNeverVariables[] = {
      "true", "false", "console", "log", "typeof", "case", "default", "this",
      "undefined", "NaN", "Infinity"};
  const int count = tokens.count();
  for (int i = 0; i < count - 2; ++i) {
    const Token& token = tokens.items[static_cast<size_t>(i)];
    if (token.kind != TK_IDENTIFIER) continue;
    if (i >= 1 && tokens.items[static_cast<size_t>(i - 1)].kind == TK_DOT) continue;
    if (find_var(result, token.text) != nullptr) continue;
    if (i >= 1 && is_declaration_keyword(tokens.items[static_cast<size_t>(i - 1)].kind)) continue;
    if (std::find(std::begin(kNeverVariables), std::end(kNeverVariables), token.text) !=
        std::end(kNeverVariables)) {
      continue;
    }
    if (find_func(result, token.text) != nullptr) continue;

    const int next = tokens.items[static_cast<size_t>(i + 1)].kind;
    if (next == TK_QUESTION || is_logical(next)) {
      append_var(result, std::string(token.text), TYPE_BOOLEAN);
    } else if (next == TK_NULLISH) {
      append_var(result, std::string(token.text), TYPE_UNION);
      TypeInfo& type = result.vars.back().type;
      type.members[0] = TYPE_NUMBER;
      type.members[1] = TYPE_NONE;
      type.member_count = 2;
    }
  }
}

// decl NAME = COND ? X ... : Y     -> NAME X's kind, or X | Y
// decl NAME = O ?. F [?. G]       -> NAME the kind of field F (or nested G) of object O
// decl NAME = A (|| && ??) R      -> NAME R's kind
// Only for still-untyped variables; kinds resolve through the symbol table.
void analyze_advanced(const SymbolTable& table, const TokenList& tokens, AnalysisResult& result) {
  const int count = tokens.count();
  const auto resolved_kind = [&](const Token* token) {
    const int literal = infer_literal_type(token);
    if (literal != TYPE_NONE || token == nullptr || token->kind != TK_IDENTIFIER) return literal;
    return pass3_reference::lookup_type(table, token->text);
  };

  for (size_t v = 0; v < result.vars.size(); ++v) {
    if (result.vars[v].type.kind != TYPE_NONE) continue;
    // A copy: the record is only written through result.vars[v].
    const std::string name = result.vars[v].name;

    for (int j = 0; j < count - 6; ++j) {
      if (!is_declaration_keyword(kind_at(tokens, j)) || !is_kind(tokens, j + 1, TK_IDENTIFIER) ||
          tokens.items[static_cast<size_t>(j + 1)].text != name || !is_kind(tokens, j + 2, TK_ASSIGN)) {
        continue;
      }
      const Token& value = tokens.items[static_cast<size_t>(j + 3)];
      const int op = kind_at(tokens, j + 4);
      TypeInfo& type = result.vars[v].type;

      if (op == TK_QUESTION) {
        int colon = -1;
        for (int k = j + 6; k < count; ++k) {
          if (tokens.items[static_cast<size_t>(k)].kind == TK_COLON) {
            colon = k;
            break;
          }
        }
        if (colon >= 0 && colon + 1 < count) {
          const int kx = resolved_kind(token_at(tokens, j + 5));
          const int ky = resolved_kind(token_at(tokens, colon + 1));
          if (kx != TYPE_NONE && ky != TYPE_NONE) {
            if (kx == ky) {
              type.kind = static_cast<TypeKind>(kx);
            } else {
              set_pair_union(type, kx, ky);
            }
          }
        }
        break;
      }

      if (value.kind == TK_IDENTIFIER && op == TK_OPTIONAL_CHAIN) {
        const std::string field_name(tokens.items[static_cast<size_t>(j + 5)].text);
        const Token* nested_name =
            is_kind(tokens, j + 6, TK_OPTIONAL_CHAIN) ? token_at(tokens, j + 7) : nullptr;
        // Every object and field of those names counts; the last match decides.
        for (const ObjectInfo& object : result.objects) {
          if (object.name != value.text) continue;
          for (const ObjectField& field : *object.fields) {
            if (field.name != field_name) continue;
            if (field.kind != TYPE_OBJECT) {
              type.kind = field.kind;
            } else if (nested_name != nullptr) {
              for (const ObjectField& nested : field.nested_fields) {
                if (nested.name == nested_name->text) type.kind = nested.kind;
              }
            }
          }
        }
        break;
      }

      if (is_logical(op) || op == TK_NULLISH) {
        const int right = resolved_kind(token_at(tokens, j + 5));
        if (right != TYPE_NONE) type.kind = static_cast<TypeKind>(right);
        break;
      }
      // No rule applies to this declaration: look for a later one.
    }
  }
}

// ---------------------------------------------------------------------------
// Expression refinements

// X = Y ?. F       -> X becomes the union (kind of field F in Y) | 5, overwriting
// return Y ?. F    -> the return type of the function holding it likewise
void analyze_optional_chain(const TokenList& tokens, AnalysisResult& result) {
  const int count = tokens.count();
  for (int i = 0; i < count - 4; ++i) {
    const auto kind = [&](int offset) { return tokens.items[static_cast<size_t>(i + offset)].kind; };
    const auto text = [&](int offset) -> std::string_view {
      return tokens.items[static_cast<size_t>(i + offset)].text;
    };

    if (kind(0) == TK_IDENTIFIER && kind(1) == TK_ASSIGN && kind(2) == TK_IDENTIFIER &&
        kind(3) == TK_OPTIONAL_CHAIN && kind(4) == TK_IDENTIFIER) {
      const VarInfo* object = find_var(result, text(2));
      VarInfo* target = find_var(result, text(0));
      if (object != nullptr && target != nullptr) {
        const int k = field_kind(*object, text(4));
        if (k != TYPE_NONE) set_pair_union(target->type, k, TYPE_VOID);
      }
    }

    // The target is the function whose own code holds the return.
    if (kind(0) == TK_RETURN && kind(1) == TK_IDENTIFIER && kind(2) == TK_OPTIONAL_CHAIN &&
        kind(3) == TK_IDENTIFIER && owner_index(result, tokens, i) >= 0) {
      const VarInfo* object = find_var(result, text(1));
      if (object != nullptr) {
        const int k = field_kind(*object, text(3));
        const int owner = owner_index(result, tokens, i);
        if (k != TYPE_NONE) set_pair_union(result.funcs[static_cast<size_t>(owner)].return_type, k, TYPE_VOID);
      }
    }
  }
}

// X = Y ?? V       -> X from (Y's kind, V's kind) by the two-kind rule, overwriting
// return Y ?? V    -> the return type of the function holding it likewise
void analyze_nullish(const TokenList& tokens, AnalysisResult& result) {
  const int count = tokens.count();
  for (int i = 0; i < count - 4; ++i) {
    const auto kind = [&](int offset) { return tokens.items[static_cast<size_t>(i + offset)].kind; };
    const auto text = [&](int offset) -> std::string_view {
      return tokens.items[static_cast<size_t>(i + offset)].text;
    };
    const auto var_kind = [&](std::string_view name) {
      const VarInfo* var = find_var(result, name);
      return var == nullptr ? TYPE_NONE : var->type.kind;
    };

    if (kind(0) == TK_IDENTIFIER && kind(1) == TK_ASSIGN && kind(2) == TK_IDENTIFIER &&
        kind(3) == TK_NULLISH) {
      const int a = var_kind(text(2));
      const int b = value_kind(result, token_at(tokens, i + 4));
      VarInfo* target = find_var(result, text(0));
      if (target != nullptr && (a != TYPE_NONE || b != TYPE_NONE)) set_from_two_kinds(target->type, a, b);
    }

    if (kind(0) == TK_RETURN && kind(1) == TK_IDENTIFIER && kind(2) == TK_NULLISH &&
        owner_index(result, tokens, i) >= 0) {
      const int a = var_kind(text(1));
      const int b = value_kind(result, token_at(tokens, i + 3));
      const int owner = owner_index(result, tokens, i);
      if (a != TYPE_NONE || b != TYPE_NONE) {
        set_from_two_kinds(result.funcs[static_cast<size_t>(owner)].return_type, a, b);
      }
    }
  }
}

// X = Y || V   X = Y && V   -> X from (Y's kind, V's kind) by the two-kind rule, overwriting
void analyze_logical_ops(const TokenList& tokens, AnalysisResult& result) {
  const int count = tokens.count();
  for (int i = 0; i < count - 4; ++i) {
    const Token& x = tokens.items[static_cast<size_t>(i)];
    const Token& y = tokens.items[static_cast<size_t>(i + 2)];
    if (x.kind != TK_IDENTIFIER || !is_kind(tokens, i + 1, TK_ASSIGN) || y.kind != TK_IDENTIFIER ||
        !is_logical(kind_at(tokens, i + 3))) {
      continue;
    }
    const VarInfo* left = find_var(result, y.text);
    const int a = left == nullptr ? TYPE_NONE : left->type.kind;
    const int b = value_kind(result, token_at(tokens, i + 4));
    VarInfo* target = find_var(result, x.text);
    if (target != nullptr && (a != TYPE_NONE || b != TYPE_NONE)) set_from_two_kinds(target->type, a, b);
  }
}

// return ... ? A ... : B   -> the open return type of the gated function whose own
//                             return it is, from (A, B) by the two-kind rule
// X = ... ? A ... : B      -> X likewise, once per gated function
// The whole file is scanned once per gated function.
void analyze_ternary(const TokenList& tokens, AnalysisResult& result) {
  const int count = tokens.count();
  for (size_t f = 0; f < result.funcs.size(); ++f) {
    if (!is_gated(result.funcs[f])) continue;
    for (int j = 0; j < count - 4; ++j) {
      const Token& token = tokens.items[static_cast<size_t>(j)];
      TypeInfo& return_type = result.funcs[f].return_type;

      if (token.kind == TK_RETURN && is_open(return_type)) {
        if (owner_index(result, tokens, j) != static_cast<int>(f)) continue;  // not its own return
        if (const auto found = returned_conditional(tokens, j)) {
          const int a = value_kind(result, token_at(tokens, found->question + 1));
          const int b = value_kind(result, token_at(tokens, found->colon + 1));
          if (a != TYPE_NONE || b != TYPE_NONE) set_from_two_kinds(return_type, a, b);
        }
      } else if (token.kind == TK_IDENTIFIER && is_kind(tokens, j + 1, TK_ASSIGN)) {
        const auto found = conditional_search(tokens, j);
        if (!found) continue;
        VarInfo* target = find_var(result, token.text);
        if (target == nullptr) continue;
        const int a = value_kind(result, token_at(tokens, found->question + 1));
        const int b = value_kind(result, token_at(tokens, found->colon + 1));
        if (a != TYPE_NONE || b != TYPE_NONE) set_from_two_kinds(target->type, a, b);
      }
    }
  }
}

// switch ... { case LITERAL ... return VALUE     -> open return kind = VALUE's literal kind,
//                                                   for the function whose own return it is
// switch ... { default ... return VALUE          -> likewise
// The whole file's switches are examined once per gated function; only a
// `return` of its own code writes its type.
void analyze_switch(const TokenList& tokens, AnalysisResult& result) {
  const int count = tokens.count();
  for (size_t f = 0; f < result.funcs.size(); ++f) {
    if (!is_gated(result.funcs[f])) continue;
    TypeInfo& return_type = result.funcs[f].return_type;
    // Both rules only fill an open type, so the walk may end once it is set.
    for (int j = 0; j < count && is_open(return_type); ++j) {
      if (tokens.items[static_cast<size_t>(j)].kind != TK_SWITCH || j + 2 >= count) continue;

      int k = j;
      while (k < count && tokens.items[static_cast<size_t>(k)].kind != TK_LBRACE) ++k;
      if (k >= count) continue;
      // l: the `}` that closes the block, or the end of the list.
      int l = count;
      int depth = 0;
      for (int q = k; q < count; ++q) {
        const int kind = tokens.items[static_cast<size_t>(q)].kind;
        if (kind == TK_LBRACE) ++depth;
        if (kind == TK_RBRACE && --depth == 0) {
          l = q;
          break;
        }
      }

      for (int p = k; p <= l && p < count; ++p) {
        const Token& token = tokens.items[static_cast<size_t>(p)];
        if (token.kind != TK_IDENTIFIER) continue;

        if (token.text == "case" && is_open(return_type) && literal_kind(tokens, p + 1) != TYPE_NONE) {
          // From the label on; the next identifier (another label, a call)
          // ends the case without a type.
          for (int q = p + 1; q < l && q < count; ++q) {
            const Token& t = tokens.items[static_cast<size_t>(q)];
            if (t.kind == TK_IDENTIFIER || t.text == "case" || t.kind == TK_RBRACE) break;
            if (t.kind == TK_RETURN && q + 1 < count) {
              const int kind = literal_kind(tokens, q + 1);
              if (kind != TYPE_NONE && is_open(return_type) && owner_index(result, tokens, q) == static_cast<int>(f)) {
                return_type.kind = static_cast<TypeKind>(kind);
              }
              break;
            }
          }
        } else if (token.text == "default" && is_open(return_type)) {
          for (int q = p; q < l && q < count; ++q) {
            const Token& t = tokens.items[static_cast<size_t>(q)];
            if (t.kind == TK_RBRACE) break;
            if (t.kind == TK_RETURN && q + 1 < count) {
              const int kind = literal_kind(tokens, q + 1);
              if (kind != TYPE_NONE && owner_index(result, tokens, q) == static_cast<int>(f)) {
                return_type.kind = static_cast<TypeKind>(kind);
              }
              break;
            }
          }
        }
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Assignment and return refinements

// return { KEY : V , ... }        -> open return type: object with every key, nested ones too
// return ... ? A ... : B          -> open return type: object when A or B is `{`
// The function's own returns are walked, once per gated function.
void analyze_return_objects(const TokenList& tokens, AnalysisResult& result) {
  const int count = tokens.count();
  for (size_t f = 0; f < result.funcs.size(); ++f) {
    if (!is_gated(result.funcs[f])) continue;
    TypeInfo& return_type = result.funcs[f].return_type;
    // Both rules only fill an open type, so the walk may end once it is set.
    for (const int j : own_returns_of(result.funcs[f], tokens)) {
      if (j >= count - 3 || !is_open(return_type)) break;

      if (is_kind(tokens, j + 1, TK_LBRACE) && is_open(return_type)) {
        std::vector<TypeField> fields;
        int depth = 0;
        for (int k = j + 1; k < count; ++k) {
          const Token& key = tokens.items[static_cast<size_t>(k)];
          if (key.kind == TK_LBRACE) ++depth;
          if (key.kind == TK_RBRACE) --depth;
          if (key.kind == TK_IDENTIFIER && is_kind(tokens, k + 1, TK_COLON) && k + 2 < count) {
            const Token& value = tokens.items[static_cast<size_t>(k + 2)];
            const int after = kind_at(tokens, k + 3);
            int kind = infer_literal_type(&value);
            if (kind == TYPE_NONE) {
              if (value.kind == TK_IDENTIFIER) {
                const VarInfo* var = find_var(result, value.text);
                kind = var == nullptr ? TYPE_NONE : var->type.kind;
              } else if (is_short_comparison(after)) {
                kind = TYPE_BOOLEAN;
              } else if (is_arithmetic(after)) {
                kind = TYPE_NUMBER;
              } else if (value.kind == TK_LBRACE) {
                kind = TYPE_OBJECT;
              }
            }
            fields.push_back(TypeField{std::string(key.text), static_cast<TypeKind>(kind)});
          }
          if (depth == 0) break;
        }
        return_type.kind = TYPE_OBJECT;
        return_type.fields = std::move(fields);
      }

      // The first `:` may be a key's colon inside an object branch:
      // `return ok ? { a: 1 } : null` pairs `{` with 1.
      if (is_open(return_type)) {
        const auto found = returned_conditional(tokens, j);
        if (!found) continue;
        const Token& a = tokens.items[static_cast<size_t>(found->question + 1)];
        const Token& b = tokens.items[static_cast<size_t>(found->colon + 1)];
        const bool a_object = a.kind == TK_LBRACE;
        const bool b_object = b.kind == TK_LBRACE;
        if (a_object && b_object) {
          return_type.kind = TYPE_OBJECT;
          return_type.fields.clear();
        } else if (a_object || b_object) {
          return_type.kind = TYPE_UNION;
          rebuild_members(return_type, {TYPE_OBJECT, infer_literal_type(a_object ? &b : &a)});
        }
      }
    }
  }
}

// X = VALUE [op]   (not after a declaration keyword)   -> merge VALUE's kind into X
void analyze_reassignments(const TokenList& tokens, AnalysisResult& result) {
  const int count = tokens.count();
  for (int i = 0; i < count - 2; ++i) {
    const Token& x = tokens.items[static_cast<size_t>(i)];
    if (x.kind != TK_IDENTIFIER || !is_kind(tokens, i + 1, TK_ASSIGN)) continue;
    if (i > 0 && is_declaration_keyword(tokens.items[static_cast<size_t>(i - 1)].kind)) continue;
    VarInfo* var = find_var(result, x.text);
    if (var == nullptr) continue;

    int t = value_kind(result, token_at(tokens, i + 2));
    const int after = kind_at(tokens, i + 3);
    if (is_comparison(after)) {
      t = TYPE_BOOLEAN;
    } else if (is_arithmetic(after)) {
      t = TYPE_NUMBER;
    }
    // add_union_type ignores 0, as the rule does.
    add_union_type(var->type, t);
  }
}

// return !X | return A cmp B | return LITERAL | return VAR | return (..) op LIT | return .. ? A : B
// -> the first such return of the function's own code types an open return type
void analyze_complex_returns(const TokenList& tokens, AnalysisResult& result) {
  const int count = tokens.count();
  for (FuncInfo& func : result.funcs) {
    if (!is_gated(func)) continue;
    TypeInfo& return_type = func.return_type;
    for (const int r : own_returns_of(func, tokens)) {
      if (!is_open(return_type)) break;
      if (r + 1 >= count) continue;
      const Token& x = tokens.items[static_cast<size_t>(r + 1)];
      const int after = kind_at(tokens, r + 2);
      const int literal = infer_literal_type(&x);

      if (x.kind == TK_NOT) {
        return_type.kind = TYPE_BOOLEAN;
      } else if (is_comparison(after)) {
        return_type.kind = TYPE_BOOLEAN;
      } else if (literal != TYPE_NONE) {
        return_type.kind = static_cast<TypeKind>(literal);
      } else if (x.kind == TK_IDENTIFIER) {
        const VarInfo* var = find_var(result, x.text);
        if (var != nullptr && var->type.kind != TYPE_NONE) return_type.kind = var->type.kind;
      } else if (r + 3 < count && (is_logical(after) || after == TK_NULLISH)) {
        return_type.kind = TYPE_UNION;
        rebuild_members(return_type, {literal_kind(tokens, r + 3)});
      } else if (const auto found = returned_conditional(tokens, r)) {
        const int a = literal_kind(tokens, found->question + 1);
        const int b = literal_kind(tokens, found->colon + 1);
        if (a == b && a != TYPE_NONE) {
          return_type.kind = static_cast<TypeKind>(a);
        } else {
          return_type.kind = TYPE_UNION;
          rebuild_members(return_type, {a, b});
        }
      }
    }
  }
}

// X = S . M ( ... => E [op]   -> untyped X from the array method M and E's kind
void analyze_advanced_arrays(const TokenList& tokens, AnalysisResult& result) {
  const int count = tokens.count();
  for (int i = 0; i < count - 6; ++i) {
    const auto kind = [&](int offset) { return tokens.items[static_cast<size_t>(i + offset)].kind; };
    if (kind(0) != TK_IDENTIFIER || kind(1) != TK_ASSIGN || kind(2) != TK_IDENTIFIER ||
        kind(3) != TK_DOT || kind(4) != TK_IDENTIFIER || kind(5) != TK_LPAREN) {
      continue;
    }
    VarInfo* target = find_var(result, tokens.items[static_cast<size_t>(i)].text);
    if (target == nullptr || !is_open(target->type)) continue;
    const VarInfo* source = find_var(result, tokens.items[static_cast<size_t>(i + 2)].text);
    if (source == nullptr) continue;

    int arrow = i + 5;
    while (arrow < count && tokens.items[static_cast<size_t>(arrow)].kind != TK_ARROW) ++arrow;
    if (arrow >= count) continue;
    int t = value_kind(result, token_at(tokens, arrow + 1));
    const int after = kind_at(tokens, arrow + 2);
    if (is_short_comparison(after)) {
      t = TYPE_BOOLEAN;
    } else if (is_arithmetic(after)) {
      t = TYPE_NUMBER;
    }
    if (t == TYPE_NONE) continue;

    TypeInfo& type = target->type;
    const std::string method(tokens.items[static_cast<size_t>(i + 4)].text);
    if (method == "map") {
      type.kind = TYPE_ARRAY;
      type.element_kind = t;
    } else if (method == "filter") {
      if (source->type.kind == TYPE_ARRAY) {
        type.kind = TYPE_ARRAY;
        type.element_kind = source->type.element_kind;
      }
    } else if (method == "reduce") {
      type.kind = static_cast<TypeKind>(t);
    } else if (method == "find") {
      if (source->type.kind == TYPE_ARRAY && source->type.element_kind != TYPE_NONE) {
        set_pair_union(type, source->type.element_kind, TYPE_VOID);
      }
    } else if (method == "some" || method == "every") {
      type.kind = TYPE_BOOLEAN;
    }
  }
}

// no `return VALUE` in the body region   -> open return type becomes void
void finalize_return_types(const TokenList& tokens, AnalysisResult& result) {
  const int count = tokens.count();
  for (FuncInfo& func : result.funcs) {
    if (!is_gated(func) || !is_open(func.return_type)) continue;
    bool returns_value = false;
    // The function's own returns: a nested callback's value is not its own.
    for (const int index : own_returns_of(func, tokens)) {
      if (index >= count - 1) continue;
      const int next = tokens.items[static_cast<size_t>(index + 1)].kind;
      if (next != TK_SEMICOLON && next != TK_RBRACE) {
        returns_value = true;
        break;
      }
    }
    if (!returns_value) {
      func.return_type.kind = TYPE_VOID;
      func.return_type.member_count = 0;
    }
  }
}

// decl V = LITERAL | IDENT | X arith | ! .. | X (< > =) ..   -> untyped V from its first declaration
void analyze_any_killer(const TokenList& tokens, AnalysisResult& result) {
  const int count = tokens.count();
  for (size_t v = 0; v < result.vars.size(); ++v) {
    if (result.vars[v].type.kind != TYPE_NONE) continue;
    for (int j = 0; j < count - 3; ++j) {
      if (!is_declaration_keyword(kind_at(tokens, j)) || !is_kind(tokens, j + 1, TK_IDENTIFIER) ||
          tokens.items[static_cast<size_t>(j + 1)].text != result.vars[v].name) {
        continue;
      }
      if (!is_kind(tokens, j + 2, TK_ASSIGN)) break;  // `let v;` ends the search

      const Token& value = tokens.items[static_cast<size_t>(j + 3)];
      const int after = kind_at(tokens, j + 4);
      const int literal = infer_literal_type(&value);
      // One chain on the value: an identifier that names no variable sets
      // nothing and is not tried as an operand of the later bullets.
      if (literal != TYPE_NONE) {
        result.vars[v].type.kind = static_cast<TypeKind>(literal);
      } else if (value.kind == TK_IDENTIFIER) {
        const VarInfo* other = find_var(result, value.text);
        if (other != nullptr) result.vars[v].type.kind = other->type.kind;
      } else if (is_arithmetic(after)) {
        result.vars[v].type.kind = TYPE_NUMBER;
      } else if (value.kind == TK_NOT || after == TK_LESS || after == TK_GREATER || after == TK_ASSIGN) {
        result.vars[v].type.kind = TYPE_BOOLEAN;
      }
      break;
    }
  }
}

// union members of every variable   -> distinct, first-occurrence order; one left collapses
void simplify_unions(AnalysisResult& result) {
  for (VarInfo& var : result.vars) {
    TypeInfo& type = var.type;
    if (type.kind != TYPE_UNION) continue;
    std::array<int, kMaxUnionMembers> distinct{};
    int kept = 0;
    const int member_count = clamped_member_count(type);
    for (int m = 0; m < member_count; ++m) {
      const int member = type.members[static_cast<size_t>(m)];
      const auto end = distinct.begin() + kept;
      if (std::find(distinct.begin(), end, member) == end) distinct[static_cast<size_t>(kept++)] = member;
    }
    type.members = distinct;
    type.member_count = kept;
    if (kept == 1) type.kind = static_cast<TypeKind>(distinct[0]);
  }
}

}  // namespace pass3_reference
