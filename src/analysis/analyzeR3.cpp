// Analysis pass 3: flow refinement. Sixteen sub-passes, each a fixed token-run
// matcher over the whole list, refine variable and function return types in
// place. Every scan bound (i < count - n) and every fill-only versus overwrite
// choice below is behaviour: later passes and the output depend on it.
//
// The rules read as walks with linear lookups by name, and several of them walk
// the whole file once per function. Files of a few MB are normal, so lookups go
// through name indexes and forward searches through precomputed next-token
// tables, and a per-function walk whose outcome is the same for every function
// is made once. Each shortcut keeps the first-match order and the result of the
// plain walk; tests/pass3_reference_test.cpp holds the plain walks and checks
// the two against each other.
#include "analysis/analyzeR3.h"

#include "analysis/syntax.h"
#include "analysis/token_helpers.h"

#include <algorithm>
#include <array>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace {

// Capacity of the name table of one array destructuring; names past it are
// ignored.
constexpr int kMaxDestructuredNames = 16;

// ---------------------------------------------------------------------------
// Tokens

const Token& token(const TokenList& tokens, int index) { return tokens.items[static_cast<size_t>(index)]; }

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

// The literal type of a token; 0 past the end of the list.
int literal_kind(const TokenList& tokens, int index) { return infer_literal_type(token_at(tokens, index)); }

struct Conditional {
  int question;  // the last `?` before the colon
  int colon;     // the first `:` from the start
};

struct ConditionalIndex {
  int count = 0;
  const TokenPositions& colons;
  const TokenPositions& questions;
};

ConditionalIndex index_conditionals(const FileIndex& file) {
  return ConditionalIndex{file.count, file.colons, file.questions};
}

// The conditional search: walking forward from `from`, remember every `?` and
// stop at the first `:`. Fails without a `?` before that colon, without a
// colon, or when the colon is the last token. It is not bounded by statements
// or brackets.
std::optional<Conditional> conditional_search(const ConditionalIndex& index, int from) {
  const int colon = next_at(index.colons, from);
  if (colon >= index.count || colon + 1 >= index.count) return std::nullopt;
  const int question = last_at(index.questions, colon);
  if (question < std::max(from, 0)) return std::nullopt;
  return Conditional{question, colon};
}

// ---------------------------------------------------------------------------
// Names

int position_of(const NameMap<int>& map, std::string_view name) {
  const auto found = map.find(name);
  return found == map.end() ? -1 : found->second;
}

// The variable named N is the first record of vars with that name. The index
// follows the variables appended to the list (by this lookup or otherwise):
// no sub-pass removes or renames a variable.
struct VarLookup {
  std::vector<VarInfo>& vars;
  NameMap<int> first;
  size_t indexed = 0;  // the records indexed so far
  // The same by the file's name id, for a token of the file: the sub-passes
  // look a name up at a great many tokens, and a vector read by the token's
  // id spares hashing its text each time.
  const TokenList& tokens;
  const FileIndex& file;
  std::vector<int> first_by_id;

  VarLookup(AnalysisResult& result, const TokenList& file_tokens, const FileIndex& index)
      : vars(result.vars), tokens(file_tokens), file(index),
        first_by_id(static_cast<size_t>(index.name_count()), -1) {
    first.reserve(vars.size());
    catch_up();
  }

  void catch_up() {
    for (; indexed < vars.size(); ++indexed) {
      if (!first.try_emplace(vars[indexed].name, static_cast<int>(indexed)).second) continue;
      const int id = file.id_of(vars[indexed].name);
      if (id >= 0) first_by_id[static_cast<size_t>(id)] = static_cast<int>(indexed);
    }
  }

  VarInfo* find(std::string_view name) {
    catch_up();
    const int position = position_of(first, name);
    return position < 0 ? nullptr : &vars[static_cast<size_t>(position)];
  }

  // The variable named by a token of the file's list.
  VarInfo* find(const Token& token) {
    const Token* items = tokens.items.data();
    const bool in_list = &token >= items && &token < items + tokens.items.size();
    const int id = in_list ? file.name_id[static_cast<size_t>(&token - items)] : -1;
    if (id < 0) return find(token.text.view());
    catch_up();
    const int position = first_by_id[static_cast<size_t>(id)];
    return position < 0 ? nullptr : &vars[static_cast<size_t>(position)];
  }

  int kind_of(std::string_view name) {
    const VarInfo* var = find(name);
    return var == nullptr ? TYPE_NONE : var->type.kind;
  }
  int kind_of(const Token& token) {
    const VarInfo* var = find(token);
    return var == nullptr ? TYPE_NONE : var->type.kind;
  }

  // A variable created by this pass: zero-filled, is_const 0, at the end.
  VarInfo& append(std::string_view name, int kind) {
    VarInfo var;
    var.name = name;
    var.type.kind = static_cast<TypeKind>(kind);
    vars.push_back(std::move(var));
    catch_up();
    return vars.back();
  }
};

// The literal type of the token, or else the kind of the variable it names.
int value_kind(VarLookup& lookup, const Token* value) {
  const int literal = infer_literal_type(value);
  if (literal != TYPE_NONE || value == nullptr || value->kind != TK_IDENTIFIER) return literal;
  return lookup.kind_of(*value);
}

// ---------------------------------------------------------------------------
// Types

bool is_gated(const FuncInfo& func) { return func.flow_enabled != 0 && func.body.has_value(); }
bool is_open(const TypeInfo& type) { return type.kind == TYPE_NONE || type.kind == TYPE_VOID; }

bool any_open_gated(const AnalysisResult& result) {
  return std::any_of(result.funcs.begin(), result.funcs.end(),
                     [](const FuncInfo& func) { return is_gated(func) && is_open(func.return_type); });
}

// The kind of the first field named `name` of an object-typed variable.
int field_kind(const VarInfo& var, std::string_view name) {
  if (var.type.kind != TYPE_OBJECT || var.type.fields.empty()) return TYPE_NONE;
  for (const TypeField& field : var.type.fields) {
    if (field.name == name) return field.kind;
  }
  return TYPE_NONE;
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

// Index of the first token inside a function's body; -1 when the region holds
// no token.
int body_first_index(const FuncInfo& func, const TokenList& tokens) {
  if (func.body_first_token < 0 || func.body_end_token <= func.body_first_token ||
      func.body_first_token >= tokens.count()) {
    return -1;
  }
  return func.body_first_token;
}

// The `return` tokens of each function's own code, in order: those of its
// body region but not of a function, arrow, method or class nested in it. A
// function's result comes from these alone, never from another function's.
struct OwnReturns {
  std::vector<std::vector<int>> of_func;  // per function of funcs
  // (return token, its function), by token, each token once with the first
  // function to own it.
  std::vector<std::pair<int, int>> owner;

  // The function whose own code holds the `return` at `r`; -1 for none.
  int owner_of(int r) const {
    const auto found = std::lower_bound(owner.begin(), owner.end(), std::make_pair(r, -1));
    return found == owner.end() || found->first != r ? -1 : found->second;
  }
};

OwnReturns own_returns_of_functions(const TokenList& tokens, const AnalysisResult& result,
                                    const FileIndex& index) {
  OwnReturns own;
  own.of_func.resize(result.funcs.size());
  for (size_t f = 0; f < result.funcs.size(); ++f) {
    const FuncInfo& func = result.funcs[f];
    const int first = body_first_index(func, tokens);
    if (first < 0) continue;
    own.of_func[f] = index.own_returns(first, std::min(func.body_end_token, tokens.count()));
    for (const int r : own.of_func[f]) own.owner.emplace_back(r, static_cast<int>(f));
  }
  // Sorted by token and then function, the first of each token is its owner.
  std::sort(own.owner.begin(), own.owner.end());
  own.owner.erase(std::unique(own.owner.begin(), own.owner.end(),
                              [](const auto& a, const auto& b) { return a.first == b.first; }),
                  own.owner.end());
  return own;
}

// The function whose own code holds the `return` at `r`; null for none.
FuncInfo* owner_of(const OwnReturns& own, AnalysisResult& result, int r) {
  const int f = own.owner_of(r);
  return f < 0 ? nullptr : &result.funcs[static_cast<size_t>(f)];
}

// What the sub-passes of one run of the pass share: the variable lookup, and
// each function's own returns, which depend only on the tokens and the body
// regions of the capture (no sub-pass moves a region or adds a function).
// Run alone, a sub-pass builds its own.
struct Pass3Shared {
  VarLookup vars;
  std::optional<OwnReturns> own;

  Pass3Shared(AnalysisResult& result, const TokenList& tokens, const FileIndex& index) : vars(result, tokens, index) {}

  const OwnReturns& own_returns(const TokenList& tokens, const AnalysisResult& result, const FileIndex& index) {
    if (!own) own = own_returns_of_functions(tokens, result, index);
    return *own;
  }
};

// The conditional of the value a `return` at `r` hands back: the search must
// end inside that value's expression, not in code after it.
std::optional<Conditional> returned_conditional(const TokenList& tokens, const std::vector<int>& match,
                                                const ConditionalIndex& conditionals, int r) {
  const auto found = conditional_search(conditionals, r);
  if (!found || found->colon >= scan_expression(tokens, match, r + 1, false).end) return std::nullopt;
  return found;
}

}  // namespace

// ---------------------------------------------------------------------------
// Driver and symbol table

namespace {

void run_return_objects(const TokenList& tokens, const FileIndex& index, AnalysisResult& result,
                        Pass3Shared& shared);
void run_pass0_detect_logic_vars(const TokenList& tokens, const FileIndex& index, AnalysisResult& result,
                                 Pass3Shared& shared);
void run_optional_chain(const TokenList& tokens, const FileIndex& index, AnalysisResult& result,
                        Pass3Shared& shared);
void run_nullish(const TokenList& tokens, const FileIndex& index, AnalysisResult& result,
                 Pass3Shared& shared);
void run_logical_ops(const TokenList& tokens, const FileIndex& index, AnalysisResult& /*result*/,
                     Pass3Shared& shared);
void run_ternary(const TokenList& tokens, const FileIndex& index, AnalysisResult& result,
                 Pass3Shared& shared);
void run_reassignments(const TokenList& tokens, const FileIndex& index, AnalysisResult& /*result*/,
                       Pass3Shared& shared);
void run_complex_returns(const TokenList& tokens, const FileIndex& index, AnalysisResult& result,
                         Pass3Shared& shared);
void run_switch(const TokenList& tokens, const FileIndex& index, AnalysisResult& result,
                Pass3Shared& shared);
void run_advanced_arrays(const TokenList& tokens, const FileIndex& index, AnalysisResult& /*result*/,
                         Pass3Shared& shared);
void run_finalize_return_types(const TokenList& tokens, const FileIndex& index, AnalysisResult& result,
                               Pass3Shared& shared);
void run_any_killer(const TokenList& tokens, const FileIndex& index, AnalysisResult& result,
                    Pass3Shared& shared);
// The kind of a name in the symbol table; 0 for a name it lacks.
using TableKind = std::function<int(std::string_view name)>;
void run_advanced(const TableKind& table_kind, const TokenList& tokens, const FileIndex& index,
                  AnalysisResult& result);

}  // namespace

void analyzer3_run(const TokenList& tokens, const FileIndex& index, AnalysisResult& result) {
  Pass3Shared shared(result, tokens, index);
  // warning: order matters. Fill-only rules let an earlier sub-pass win,
  // overwriting rules let a later one win.
  run_return_objects(tokens, index, result, shared);
  analyze_destructuring(tokens, index, result);
  run_pass0_detect_logic_vars(tokens, index, result, shared);
  run_optional_chain(tokens, index, result, shared);
  run_nullish(tokens, index, result, shared);
  run_logical_ops(tokens, index, result, shared);
  run_ternary(tokens, index, result, shared);
  run_reassignments(tokens, index, result, shared);
  run_complex_returns(tokens, index, result, shared);
  run_switch(tokens, index, result, shared);
  run_advanced_arrays(tokens, index, result, shared);
  run_finalize_return_types(tokens, index, result, shared);
  run_any_killer(tokens, index, result, shared);
  // The symbol table is a snapshot of the variables after the any-killer, of
  // which the rule reads the kind of each name's first entry alone: the
  // driver keeps the kinds, not a copy of every type, and finds a name's
  // first entry with the lookup the sub-passes share.
  std::vector<int> snapshot;
  snapshot.reserve(result.vars.size());
  for (const VarInfo& var : result.vars) snapshot.push_back(var.type.kind);
  const auto table_kind = [&](std::string_view name) {
    const VarInfo* var = shared.vars.find(name);
    return var == nullptr ? TYPE_NONE : snapshot[static_cast<size_t>(var - result.vars.data())];
  };
  run_advanced(table_kind, tokens, index, result);
  simplify_unions(result);
}

void build_symbol_table(const AnalysisResult& result, SymbolTable& table) {
  table.entries.clear();
  table.entries.reserve(result.vars.size());
  for (const VarInfo& var : result.vars) table.entries.push_back(SymbolEntry{var.name, var.type});
}

// ---------------------------------------------------------------------------
// Destructuring, logic operands, declaration initialisers

// const [ NAME , NAME ... ] = SOURCE   -> each NAME appended as number | string | boolean
// when the last variable named SOURCE is an array or a union.
void analyze_destructuring(const TokenList& tokens, const FileIndex& index, AnalysisResult& result) {
  const int count = tokens.count();
  // This rule alone looks up the last variable of a name. Most files have no
  // `const [`: the table below is built at the first one.
  NameMap<int> last;
  bool last_built = false;
  const TokenPositions& next_bracket = index.right_brackets;
  // Patterns that share one far `]` (`const [ const [ ... ] = a`) are not
  // each walked to its end: the identifiers up to a `]` are listed once.
  int pattern_close = -1;
  std::vector<int> pattern_identifiers;
  // A pattern inside a body declares locals of that body.
  const std::vector<bool>& in_function = index.in_function;

  for (int i = 0; i < count - 5; ++i) {
    if (!is_kind(tokens, i, TK_CONST) || !is_kind(tokens, i + 1, TK_LBRACKET)) continue;
    if (!last_built) {
      for (size_t v = 0; v < result.vars.size(); ++v) last[result.vars[v].name] = static_cast<int>(v);
      last_built = true;
    }
    // The pattern runs to the first `]`; the source is two tokens after it
    // (the `=` between is not checked).
    const int close = next_at(next_bracket, i + 2);
    const Token* source = close < count ? token_at(tokens, close + 2) : nullptr;
    if (source == nullptr) continue;
    const int source_var = position_of(last, source->text);
    const int source_kind =
        source_var < 0 ? TYPE_NONE : result.vars[static_cast<size_t>(source_var)].type.kind;
    if (source_kind != TYPE_ARRAY && source_kind != TYPE_UNION) continue;

    // The identifiers before that `]`, gathered once per `]`: the patterns
    // that share it start inside the first one's span, so theirs are a
    // suffix of its list.
    if (close != pattern_close) {
      pattern_close = close;
      pattern_identifiers.clear();
      for (int k = i + 2; k < close; ++k) {
        if (is_kind(tokens, k, TK_IDENTIFIER)) pattern_identifiers.push_back(k);
      }
    }
    std::vector<std::string> names;
    for (auto k = std::lower_bound(pattern_identifiers.begin(), pattern_identifiers.end(), i + 2);
         k != pattern_identifiers.end() && static_cast<int>(names.size()) < kMaxDestructuredNames; ++k) {
      names.emplace_back(token(tokens, *k).text);
    }
    for (const std::string& name : names) {
      VarInfo var;
      var.name = name;
      var.type.kind = TYPE_UNION;
      var.type.members = {TYPE_NUMBER, TYPE_STRING, TYPE_BOOLEAN, TYPE_NONE};
      var.type.member_count = 3;
      var.is_local = in_function[static_cast<size_t>(i)] ? 1 : 0;
      result.vars.push_back(std::move(var));
      last[name] = static_cast<int>(result.vars.size()) - 1;
    }
  }
}

namespace {

// The names that functions, arrows, methods and catch clauses declare for
// their bodies: parameters (every name in a parameter list) and `const`,
// `let`, `var` names inside a body. Each is an identifier token, so the set
// is kept by the file's name id: 1 for a bound name.
std::vector<char> body_bound_names(const TokenList& tokens, const FileIndex& index) {
  const int count = tokens.count();
  const std::vector<int>& match = index.match;
  const std::vector<bool>& in_function = index.in_function;
  size_t starts = 0;  // the index's body starts, followed as k grows
  std::vector<char> names(static_cast<size_t>(index.name_count()), 0);
  const auto add = [&](int k) { names[static_cast<size_t>(index.name_id[static_cast<size_t>(k)])] = 1; };
  const auto add_group = [&](int open) {
    if (!is_kind(tokens, open, TK_LPAREN) || match[static_cast<size_t>(open)] < 0) return;
    for (int k = open + 1; k < match[static_cast<size_t>(open)]; ++k) {
      if (token(tokens, k).kind == TK_IDENTIFIER) add(k);
    }
  };
  for (int k = 0; k < count; ++k) {
    const Token& t = token(tokens, k);
    if (t.kind == TK_ARROW) {
      if (is_kind(tokens, k - 1, TK_RPAREN) && match[static_cast<size_t>(k - 1)] >= 0) {
        add_group(match[static_cast<size_t>(k - 1)]);
      } else if (is_kind(tokens, k - 1, TK_IDENTIFIER)) {
        add(k - 1);
      }
    } else if (t.kind == TK_RESERVED && t.text == "catch") {
      add_group(k + 1);
    } else if (is_declaration_keyword(t.kind) && in_function[static_cast<size_t>(k)] &&
               is_kind(tokens, k + 1, TK_IDENTIFIER)) {
      add(k + 1);
    }
    const int body = index.nested_body_open(tokens, k, false, starts);
    if (body > 0 && is_kind(tokens, body - 1, TK_RPAREN) && match[static_cast<size_t>(body - 1)] >= 0) {
      add_group(match[static_cast<size_t>(body - 1)]);
    }
  }
  return names;
}

}  // namespace

namespace {

// NAME ?   NAME &&   NAME ||   -> undeclared NAME appended as boolean
// NAME ??                       -> undeclared NAME appended as number | none
// A name that some function or method declares, used inside a body, is that
// body's own: the appended record is a local, never a top-level declaration.
void run_pass0_detect_logic_vars(const TokenList& tokens, const FileIndex& index, AnalysisResult& result,
                                 Pass3Shared& shared) {
  // undefined, NaN and Infinity are global constants: declaring one of them
  // would break the output, and `x === undefined || y` is everywhere.
  static constexpr std::string_view kNeverVariables[] = {
      "true", "false", "console", "log", "typeof", "case", "default", "this",
      "undefined", "NaN", "Infinity"};
  const int count = tokens.count();
  VarLookup& vars = shared.vars;
  // The names of functions by name id: each name tested is an identifier
  // token's. This sub-pass adds no function.
  std::vector<char> function_names(static_cast<size_t>(index.name_count()), 0);
  for (const FuncInfo& func : result.funcs) {
    const int id = index.id_of(func.name);
    if (id >= 0) function_names[static_cast<size_t>(id)] = 1;
  }
  const std::vector<bool>& in_function = index.in_function;
  const std::vector<char> bound = body_bound_names(tokens, index);
  // The code of functions: their bodies, and the expression of an arrow
  // without braces (`(opt) => opt && other`), which runs to a `,` or `;`, a
  // statement-ending line break or a closing bracket at its own depth. One
  // walk with the depths of the open expressions: nested arrows share it.
  std::vector<bool> in_code(in_function);
  std::vector<int> open_arrows;  // bracket depth of each open arrow expression
  for (int k = 0, depth = 0; k < count; ++k) {
    const int kind = token(tokens, k).kind;
    if (is_closer(kind)) --depth;
    const bool ends = kind == TK_COMMA || kind == TK_SEMICOLON || is_line_break_boundary(tokens, k);
    while (!open_arrows.empty() && (open_arrows.back() > depth || (ends && open_arrows.back() == depth))) {
      open_arrows.pop_back();
    }
    if (!open_arrows.empty()) in_code[static_cast<size_t>(k)] = true;
    if (is_opener(kind)) ++depth;
    if (kind == TK_ARROW && k + 1 < count && token(tokens, k + 1).kind != TK_LBRACE) open_arrows.push_back(depth);
  }
  const auto is_local_use = [&](int i) {
    return in_code[static_cast<size_t>(i)] && bound[static_cast<size_t>(index.name_id[static_cast<size_t>(i)])] != 0;
  };

  for (int i = 0; i < count - 2; ++i) {
    const Token& name = token(tokens, i);
    if (name.kind != TK_IDENTIFIER) continue;
    // The operator after the name first: it is a token's kind, where the
    // tests below look names up, and most names are followed by none.
    const int next = token(tokens, i + 1).kind;
    if (next != TK_QUESTION && !is_logical(next) && next != TK_NULLISH) continue;
    if (i >= 1 && token(tokens, i - 1).kind == TK_DOT) continue;
    if (vars.find(name) != nullptr) continue;
    if (i >= 1 && is_declaration_keyword(token(tokens, i - 1).kind)) continue;
    if (std::find(std::begin(kNeverVariables), std::end(kNeverVariables), name.text) !=
        std::end(kNeverVariables)) {
      continue;
    }
    if (function_names[static_cast<size_t>(index.name_id[static_cast<size_t>(i)])] != 0) continue;

    if (next == TK_QUESTION || is_logical(next)) {
      vars.append(name.text, TYPE_BOOLEAN).is_local = is_local_use(i) ? 1 : 0;
    } else if (next == TK_NULLISH) {
      VarInfo& var = vars.append(name.text, TYPE_UNION);
      var.is_local = is_local_use(i) ? 1 : 0;
      TypeInfo& type = var.type;
      type.members[0] = TYPE_NUMBER;
      type.members[1] = TYPE_NONE;
      type.member_count = 2;
    }
  }
}

}  // namespace

void pass0_detect_logic_vars(const TokenList& tokens, const FileIndex& index, AnalysisResult& result) {
  Pass3Shared shared(result, tokens, index);
  run_pass0_detect_logic_vars(tokens, index, result, shared);
}

// decl NAME = COND ? X ... : Y     -> NAME X's kind, or X | Y
// decl NAME = O ?. F [?. G]       -> NAME the kind of field F (or nested G) of object O
// decl NAME = A (|| && ??) R      -> NAME R's kind
// Only for still-untyped variables; kinds resolve through the symbol table.
namespace {

void run_advanced(const TableKind& table_kind, const TokenList& tokens, const FileIndex& index,
                  AnalysisResult& result) {
  const int count = tokens.count();
  const auto resolved_kind = [&](const Token* value) {
    const int literal = infer_literal_type(value);
    if (literal != TYPE_NONE || value == nullptr || value->kind != TK_IDENTIFIER) return literal;
    return table_kind(value->text);
  };

  // For each name, the first declaration `decl NAME =` to which a rule
  // applies; whether one applies depends on the tokens alone. Declarations
  // no rule applies to are passed over.
  NameMap<int> declaration;
  for (int j = 0; j < count - 6; ++j) {
    if (!is_declaration_keyword(token(tokens, j).kind) || token(tokens, j + 1).kind != TK_IDENTIFIER ||
        token(tokens, j + 2).kind != TK_ASSIGN) {
      continue;
    }
    const int op = token(tokens, j + 4).kind;
    const bool applies = op == TK_QUESTION ||
                         (token(tokens, j + 3).kind == TK_IDENTIFIER && op == TK_OPTIONAL_CHAIN) ||
                         is_logical(op) || op == TK_NULLISH;
    if (applies) declaration.try_emplace(std::string(token(tokens, j + 1).text), j);
  }
  std::unordered_map<std::string, std::vector<int>, NameHash, std::equal_to<>> objects;
  for (size_t o = 0; o < result.objects.size(); ++o) objects[result.objects[o].name].push_back(static_cast<int>(o));
  const TokenPositions& next_colon = index.colons;

  for (VarInfo& var : result.vars) {
    if (var.type.kind != TYPE_NONE) continue;
    const int j = position_of(declaration, var.name);
    if (j < 0) continue;
    const Token& value = token(tokens, j + 3);
    const int op = token(tokens, j + 4).kind;
    TypeInfo& type = var.type;

    if (op == TK_QUESTION) {
      // X is token j+5; Y follows the first `:` from token j+6 on.
      const int colon = next_at(next_colon, j + 6);
      if (colon + 1 < count) {
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
    } else if (value.kind == TK_IDENTIFIER && op == TK_OPTIONAL_CHAIN) {
      const std::string_view field_name = token(tokens, j + 5).text;
      const Token* nested_name = is_kind(tokens, j + 6, TK_OPTIONAL_CHAIN) ? token_at(tokens, j + 7) : nullptr;
      const auto named = objects.find(value.text);
      if (named == objects.end()) continue;
      // Every object and field of those names counts; the last match decides.
      for (int o : named->second) {
        for (const ObjectField& field : *result.objects[static_cast<size_t>(o)].fields) {
          if (field.name != field_name) continue;
          if (field.kind != TYPE_OBJECT) {
            type.kind = static_cast<TypeKind>(field.kind);
          } else if (nested_name != nullptr) {
            for (const ObjectField& nested : field.nested_fields) {
              if (nested.name == nested_name->text) type.kind = static_cast<TypeKind>(nested.kind);
            }
          }
        }
      }
    } else {
      // A logical operator or `??`: only the right-hand operand counts.
      const int right = resolved_kind(token_at(tokens, j + 5));
      if (right != TYPE_NONE) type.kind = static_cast<TypeKind>(right);
    }
  }
}

}  // namespace

void analyze_advanced(const SymbolTable& table, const TokenList& tokens, const FileIndex& index,
                      AnalysisResult& result) {
  // A name's kind is the one of its first entry.
  NameMap<int> table_kinds;
  for (const SymbolEntry& entry : table.entries) table_kinds.try_emplace(entry.name, entry.type.kind);
  const auto table_kind = [&](std::string_view name) {
    const auto found = table_kinds.find(name);
    return found == table_kinds.end() ? TYPE_NONE : found->second;
  };
  run_advanced(table_kind, tokens, index, result);
}

// ---------------------------------------------------------------------------
// Expression refinements

namespace {

// X = Y ?. F       -> X becomes the union (kind of field F in Y) | 5, overwriting
// return Y ?. F    -> the return type of the function holding it likewise
void run_optional_chain(const TokenList& tokens, const FileIndex& index, AnalysisResult& result,
                        Pass3Shared& shared) {
  const int count = tokens.count();
  VarLookup& vars = shared.vars;
  const OwnReturns& own = shared.own_returns(tokens, result, index);
  for (int i = 0; i < count - 4; ++i) {
    const auto kind = [&](int offset) { return token(tokens, i + offset).kind; };
    const auto at = [&](int offset) -> const Token& { return token(tokens, i + offset); };
    const auto text = [&](int offset) -> std::string_view { return at(offset).text; };

    if (kind(0) == TK_IDENTIFIER && kind(1) == TK_ASSIGN && kind(2) == TK_IDENTIFIER &&
        kind(3) == TK_OPTIONAL_CHAIN && kind(4) == TK_IDENTIFIER) {
      const VarInfo* object = vars.find(at(2));
      VarInfo* target = vars.find(at(0));
      if (object != nullptr && target != nullptr) {
        const int k = field_kind(*object, text(4));
        if (k != TYPE_NONE) set_pair_union(target->type, k, TYPE_VOID);
      }
    }

    // The target is the function whose own code holds the return.
    FuncInfo* owner = kind(0) == TK_RETURN ? owner_of(own, result, i) : nullptr;
    if (owner != nullptr && kind(1) == TK_IDENTIFIER && kind(2) == TK_OPTIONAL_CHAIN &&
        kind(3) == TK_IDENTIFIER) {
      const VarInfo* object = vars.find(at(1));
      if (object != nullptr) {
        const int k = field_kind(*object, text(3));
        if (k != TYPE_NONE) set_pair_union(owner->return_type, k, TYPE_VOID);
      }
    }
  }
}

}  // namespace

void analyze_optional_chain(const TokenList& tokens, const FileIndex& index, AnalysisResult& result) {
  Pass3Shared shared(result, tokens, index);
  run_optional_chain(tokens, index, result, shared);
}

namespace {

// X = Y ?? V       -> X from (Y's kind, V's kind) by the two-kind rule, overwriting
// return Y ?? V    -> the return type of the function holding it likewise
void run_nullish(const TokenList& tokens, const FileIndex& index, AnalysisResult& result,
                 Pass3Shared& shared) {
  const int count = tokens.count();
  VarLookup& vars = shared.vars;
  const OwnReturns& own = shared.own_returns(tokens, result, index);
  for (int i = 0; i < count - 4; ++i) {
    const auto kind = [&](int offset) { return token(tokens, i + offset).kind; };
    const auto at = [&](int offset) -> const Token& { return token(tokens, i + offset); };

    if (kind(0) == TK_IDENTIFIER && kind(1) == TK_ASSIGN && kind(2) == TK_IDENTIFIER &&
        kind(3) == TK_NULLISH) {
      const int a = vars.kind_of(at(2));
      const int b = value_kind(vars, token_at(tokens, i + 4));
      VarInfo* target = vars.find(at(0));
      if (target != nullptr && (a != TYPE_NONE || b != TYPE_NONE)) set_from_two_kinds(target->type, a, b);
    }

    FuncInfo* owner = kind(0) == TK_RETURN ? owner_of(own, result, i) : nullptr;
    if (owner != nullptr && kind(1) == TK_IDENTIFIER && kind(2) == TK_NULLISH) {
      const int a = vars.kind_of(at(1));
      const int b = value_kind(vars, token_at(tokens, i + 3));
      if (a != TYPE_NONE || b != TYPE_NONE) set_from_two_kinds(owner->return_type, a, b);
    }
  }
}

}  // namespace

void analyze_nullish(const TokenList& tokens, const FileIndex& index, AnalysisResult& result) {
  Pass3Shared shared(result, tokens, index);
  run_nullish(tokens, index, result, shared);
}

namespace {

// X = Y || V   X = Y && V   -> X from (Y's kind, V's kind) by the two-kind rule, overwriting
void run_logical_ops(const TokenList& tokens, const FileIndex& /*index*/, AnalysisResult& /*result*/,
                     Pass3Shared& shared) {
  const int count = tokens.count();
  VarLookup& vars = shared.vars;
  for (int i = 0; i < count - 4; ++i) {
    const Token& x = token(tokens, i);
    const Token& y = token(tokens, i + 2);
    if (x.kind != TK_IDENTIFIER || token(tokens, i + 1).kind != TK_ASSIGN || y.kind != TK_IDENTIFIER ||
        !is_logical(token(tokens, i + 3).kind)) {
      continue;
    }
    const int a = vars.kind_of(y);
    const int b = value_kind(vars, token_at(tokens, i + 4));
    VarInfo* target = vars.find(x);
    if (target != nullptr && (a != TYPE_NONE || b != TYPE_NONE)) set_from_two_kinds(target->type, a, b);
  }
}

}  // namespace

void analyze_logical_ops(const TokenList& tokens, const FileIndex& index, AnalysisResult& result) {
  Pass3Shared shared(result, tokens, index);
  run_logical_ops(tokens, index, result, shared);
}

namespace {

// An operand of a conditional: a literal kind, or else the variable it names.
struct Operand {
  int literal = TYPE_NONE;
  int var = -1;
};

Operand operand_at(const TokenList& tokens, int index, VarLookup& vars) {
  Operand operand;
  const Token* value = token_at(tokens, index);
  operand.literal = infer_literal_type(value);
  if (operand.literal == TYPE_NONE && value != nullptr && value->kind == TK_IDENTIFIER) {
    const VarInfo* var = vars.find(*value);
    if (var != nullptr) operand.var = static_cast<int>(var - vars.vars.data());
  }
  return operand;
}

int operand_kind(const Operand& operand, const std::vector<VarInfo>& vars) {
  if (operand.literal != TYPE_NONE) return operand.literal;
  return operand.var < 0 ? TYPE_NONE : vars[static_cast<size_t>(operand.var)].type.kind;
}

// A position where analyze_ternary's walk can write: a `return` or an
// assignment to a variable, with a conditional after it.
struct TernarySite {
  int target;  // the assigned variable; -1 for a return
  Operand a;
  Operand b;
  int owner = -1;  // for a return, the function whose own code holds it
};

// One walk over the sites as the walk for gated function `func` makes it:
// the return rule writes `return_type` from the function's own returns while
// it is open.
void walk_ternary_sites(const std::vector<TernarySite>& sites, std::vector<VarInfo>& vars, int func,
                        TypeInfo& return_type) {
  for (const TernarySite& site : sites) {
    if (site.target < 0 && (site.owner != func || !is_open(return_type))) continue;
    const int a = operand_kind(site.a, vars);
    const int b = operand_kind(site.b, vars);
    if (a == TYPE_NONE && b == TYPE_NONE) continue;
    set_from_two_kinds(site.target < 0 ? return_type : vars[static_cast<size_t>(site.target)].type, a, b);
  }
}

struct UnionState {
  int kind;
  std::array<int, kMaxUnionMembers> members;
  int member_count;
  bool operator==(const UnionState&) const = default;
};

std::vector<UnionState> union_states(const std::vector<VarInfo>& vars, const std::vector<int>& which) {
  std::vector<UnionState> states;
  states.reserve(which.size());
  for (int v : which) {
    const TypeInfo& type = vars[static_cast<size_t>(v)].type;
    states.push_back(UnionState{type.kind, type.members, type.member_count});
  }
  return states;
}

}  // namespace

namespace {

// return ... ? A ... : B   -> the open return type of the gated function whose own
//                             return it is, from (A, B) by the two-kind rule
// X = ... ? A ... : B      -> X likewise, once per gated function
void run_ternary(const TokenList& tokens, const FileIndex& index, AnalysisResult& result,
                 Pass3Shared& shared) {
  // The rule walks the whole file once per gated function. Only the sites
  // below can write, so each walk visits them alone. The variable rule reads
  // what it wrote before; once a whole walk leaves the variables as it found
  // them, every later walk repeats it exactly, and each open return type then
  // takes the writes of its own returns in such a walk.
  const int count = tokens.count();
  const ConditionalIndex conditionals = index_conditionals(index);
  const std::vector<int>& match = index.match;
  const OwnReturns& own = shared.own_returns(tokens, result, index);
  VarLookup& lookup = shared.vars;
  std::vector<TernarySite> sites;
  std::vector<int> targets;
  for (int j = 0; j < count - 4; ++j) {
    const Token& start = token(tokens, j);
    const bool is_return = start.kind == TK_RETURN;
    if (!is_return && (start.kind != TK_IDENTIFIER || token(tokens, j + 1).kind != TK_ASSIGN)) continue;
    int owner = -1;
    if (is_return) {
      owner = own.owner_of(j);
      if (owner < 0) continue;  // no function's own return
    }
    const auto found =
        is_return ? returned_conditional(tokens, match, conditionals, j) : conditional_search(conditionals, j);
    if (!found) continue;
    int target = -1;
    if (!is_return) {
      const VarInfo* var = lookup.find(start);
      if (var == nullptr) continue;
      target = static_cast<int>(var - result.vars.data());
      targets.push_back(target);
    }
    sites.push_back(TernarySite{target, operand_at(tokens, found->question + 1, lookup),
                                operand_at(tokens, found->colon + 1, lookup), owner});
  }
  std::sort(targets.begin(), targets.end());
  targets.erase(std::unique(targets.begin(), targets.end()), targets.end());

  // The return sites of each function, for the walks after the variables settled.
  std::unordered_map<int, std::vector<const TernarySite*>> returns_of;
  for (const TernarySite& site : sites) {
    if (site.target < 0) returns_of[site.owner].push_back(&site);
  }
  bool settled = false;
  for (size_t f = 0; f < result.funcs.size(); ++f) {
    FuncInfo& func = result.funcs[f];
    if (!is_gated(func)) continue;
    if (!settled) {
      const std::vector<UnionState> before = union_states(result.vars, targets);
      walk_ternary_sites(sites, result.vars, static_cast<int>(f), func.return_type);
      settled = union_states(result.vars, targets) == before;
      continue;
    }
    const auto held = returns_of.find(static_cast<int>(f));
    if (held == returns_of.end()) continue;
    for (const TernarySite* site : held->second) {
      if (!is_open(func.return_type)) break;
      const int a = operand_kind(site->a, result.vars);
      const int b = operand_kind(site->b, result.vars);
      if (a != TYPE_NONE || b != TYPE_NONE) set_from_two_kinds(func.return_type, a, b);
    }
  }
}

}  // namespace

void analyze_ternary(const TokenList& tokens, const FileIndex& index, AnalysisResult& result) {
  Pass3Shared shared(result, tokens, index);
  run_ternary(tokens, index, result, shared);
}

namespace {

// switch ... { case LITERAL ... return VALUE     -> open return kind = VALUE's literal kind,
//                                                   for the function whose own return it is
// switch ... { default ... return VALUE          -> likewise
void run_switch(const TokenList& tokens, const FileIndex& index, AnalysisResult& result,
                Pass3Shared& shared) {
  // Only an open return type is written, from a `return` of the function's
  // own code.
  //
  // A case or default scan stops at a `}` at the latest, and a block ends at
  // its closing `}` or at the end of the list, so what a label yields does
  // not depend on the switch that holds it. Each label is read once and a
  // switch asks for the first label inside its block that yields a kind:
  // nested switches and blocks full of labels stay linear.
  if (!any_open_gated(result)) return;
  const int count = tokens.count();

  // Where a case scan stops: an identifier, a "case", a `}`, a `return` with
  // a token after it. A default scan passes identifiers: it stops at a `}` or
  // such a `return` alone. The default stops are few and looked up; a case
  // scan is walked, since it stops at the first identifier: the scans of two
  // labels never share a token.
  const auto ends_block = [&](int q) {
    const Token& t = token(tokens, q);
    return t.kind == TK_RBRACE || (t.kind == TK_RETURN && q + 1 < count);
  };
  TokenPositions default_stops;
  default_stops.count = count;
  for (int q = 0; q < count; ++q) {
    if (ends_block(q)) default_stops.positions.push_back(q);
  }
  const auto case_stop = [&](int from) {
    int q = from;
    while (q < count && !ends_block(q) && token(tokens, q).kind != TK_IDENTIFIER && token(tokens, q).text != "case") {
      ++q;
    }
    return q;
  };
  // The kind a scan ending at `stop` yields: the literal after a `return`.
  const auto yielded = [&](int stop) -> int {
    if (stop >= count || token(tokens, stop).kind != TK_RETURN) return TYPE_NONE;
    return literal_kind(tokens, stop + 1);
  };

  // The labels inside some switch block, from the `{` to its `}` (or the end
  // of the list): where the count of open blocks changes, in order.
  const TokenPositions& next_brace = index.left_braces;
  std::vector<std::pair<int, int>> block_change;  // position, change
  for (int j = 0; j < count; ++j) {
    if (token(tokens, j).kind != TK_SWITCH || j + 2 >= count) continue;
    const int k = next_at(next_brace, j);
    if (k >= count) continue;
    block_change.emplace_back(k, 1);
    // The `}` that brings the depth counted from the `{` back to 0 (braces
    // alone); the end of the list when the braces never balance.
    block_change.emplace_back(index.brace_after(k), -1);
  }
  std::sort(block_change.begin(), block_change.end());

  // Each function takes the kind of the first label, in the order of the
  // switches and of their labels, whose scan ends at one of its own returns;
  // nested switches are inside their parents' blocks, so that order is the
  // order of the labels in the file.
  const OwnReturns& own = shared.own_returns(tokens, result, index);
  int inside = 0;
  size_t change = 0;
  for (int p = 0; p < count; ++p) {
    for (; change < block_change.size() && block_change[change].first == p; ++change) {
      inside += block_change[change].second;
    }
    const Token& word = token(tokens, p);
    if (inside <= 0 || word.kind != TK_IDENTIFIER) continue;
    int stop = count;
    if (word.text == "case" && literal_kind(tokens, p + 1) != TYPE_NONE) {
      // From the label on; the next identifier (another label, a call)
      // ends the case without a type.
      stop = case_stop(p + 1);
    } else if (word.text == "default") {
      stop = next_at(default_stops, p);
    }
    const int kind = yielded(stop);
    if (kind == TYPE_NONE) continue;
    FuncInfo* owner = owner_of(own, result, stop);
    if (owner != nullptr && is_gated(*owner) && is_open(owner->return_type)) {
      owner->return_type.kind = static_cast<TypeKind>(kind);  // the kind only
    }
  }
}

}  // namespace

void analyze_switch(const TokenList& tokens, const FileIndex& index, AnalysisResult& result) {
  Pass3Shared shared(result, tokens, index);
  run_switch(tokens, index, result, shared);
}

// ---------------------------------------------------------------------------
// Assignment and return refinements

namespace {

// What analyze_return_objects writes into an open return type.
struct ObjectReturn {
  bool with_fields = false;         // return { ... }: an object type with these fields
  std::vector<TypeField> fields;
  int union_other = -1;             // one branch `{`: a union of object and this literal kind
};

void apply_object_return(const ObjectReturn& write, TypeInfo& type) {
  if (write.with_fields) {
    type.kind = TYPE_OBJECT;
    type.fields = write.fields;
  } else if (write.union_other < 0) {
    type.kind = TYPE_OBJECT;
    type.fields.clear();
  } else {
    type.kind = TYPE_UNION;
    rebuild_members(type, {TYPE_OBJECT, write.union_other});
  }
}

// What the `return` at `j` writes when it hands back an object literal
// (`return {`) or a conditional with an object branch; nothing otherwise.
std::optional<ObjectReturn> object_return_at(const TokenList& tokens, const std::vector<int>& match,
                                             const ConditionalIndex& conditionals, VarLookup& vars, int j) {
  const int count = tokens.count();
  if (token(tokens, j + 1).kind == TK_LBRACE) {
    ObjectReturn write;
    write.with_fields = true;
    int depth = 0;
    for (int k = j + 1; k < count; ++k) {
      const Token& key = token(tokens, k);
      if (key.kind == TK_LBRACE) ++depth;
      if (key.kind == TK_RBRACE) --depth;
      if (key.kind == TK_IDENTIFIER && is_kind(tokens, k + 1, TK_COLON) && k + 2 < count) {
        const Token& value = token(tokens, k + 2);
        const int after = kind_at(tokens, k + 3);
        int kind = infer_literal_type(&value);
        if (kind == TYPE_NONE) {
          if (value.kind == TK_IDENTIFIER) {
            kind = vars.kind_of(value);
          } else if (is_short_comparison(after)) {
            kind = TYPE_BOOLEAN;
          } else if (is_arithmetic(after)) {
            kind = TYPE_NUMBER;
          } else if (value.kind == TK_LBRACE) {
            kind = TYPE_OBJECT;
          }
        }
        write.fields.push_back(TypeField{std::string(key.text), static_cast<TypeKind>(kind)});
      }
      if (depth == 0) break;
    }
    return write;
  }

  // The first `:` may be a key's colon inside an object branch:
  // `return ok ? { a: 1 } : null` pairs `{` with 1.
  const auto found = returned_conditional(tokens, match, conditionals, j);
  if (!found) return std::nullopt;
  const Token& a = token(tokens, found->question + 1);
  const Token& b = token(tokens, found->colon + 1);
  const bool a_object = a.kind == TK_LBRACE;
  const bool b_object = b.kind == TK_LBRACE;
  if (a_object && b_object) return ObjectReturn{};
  if (a_object || b_object) {
    ObjectReturn write;
    write.union_other = infer_literal_type(a_object ? &b : &a);
    return write;
  }
  return std::nullopt;
}

}  // namespace

namespace {

// return { KEY : V , ... }        -> open return type: object with every key, nested ones too
// return ... ? A ... : B          -> open return type: object when A or B is `{`
void run_return_objects(const TokenList& tokens, const FileIndex& index, AnalysisResult& result,
                        Pass3Shared& shared) {
  // Both rules only fill an open type: each open one takes the first such
  // return of its own code.
  if (!any_open_gated(result)) return;
  const int count = tokens.count();
  const std::vector<int>& match = index.match;
  const ConditionalIndex conditionals = index_conditionals(index);
  const OwnReturns& own = shared.own_returns(tokens, result, index);
  VarLookup& vars = shared.vars;
  for (size_t f = 0; f < result.funcs.size(); ++f) {
    FuncInfo& func = result.funcs[f];
    if (!is_gated(func) || !is_open(func.return_type)) continue;
    for (const int r : own.of_func[f]) {
      if (r >= count - 3) break;
      if (const auto write = object_return_at(tokens, match, conditionals, vars, r)) {
        apply_object_return(*write, func.return_type);
        break;
      }
    }
  }
}

}  // namespace

void analyze_return_objects(const TokenList& tokens, const FileIndex& index, AnalysisResult& result) {
  Pass3Shared shared(result, tokens, index);
  run_return_objects(tokens, index, result, shared);
}

namespace {

// X = VALUE [op]   (not after a declaration keyword)   -> merge VALUE's kind into X
void run_reassignments(const TokenList& tokens, const FileIndex& /*index*/, AnalysisResult& /*result*/,
                       Pass3Shared& shared) {
  const int count = tokens.count();
  VarLookup& vars = shared.vars;
  for (int i = 0; i < count - 2; ++i) {
    const Token& x = token(tokens, i);
    if (x.kind != TK_IDENTIFIER || token(tokens, i + 1).kind != TK_ASSIGN) continue;
    if (i > 0 && is_declaration_keyword(token(tokens, i - 1).kind)) continue;
    VarInfo* var = vars.find(x);
    if (var == nullptr) continue;

    int t = value_kind(vars, token_at(tokens, i + 2));
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

}  // namespace

void analyze_reassignments(const TokenList& tokens, const FileIndex& index, AnalysisResult& result) {
  Pass3Shared shared(result, tokens, index);
  run_reassignments(tokens, index, result, shared);
}

namespace {

// What a `return` writes into an open return type in analyze_complex_returns.
struct ReturnWrite {
  int kind = TYPE_NONE;
  bool rebuild = false;  // a union whose members are rebuilt from these
  int first = TYPE_NONE;
  int second = TYPE_NONE;
};

void apply_return_write(const ReturnWrite& write, TypeInfo& type) {
  type.kind = static_cast<TypeKind>(write.kind);
  if (write.rebuild) rebuild_members(type, {write.first, write.second});
}

std::optional<ReturnWrite> complex_return_write(const TokenList& tokens, const std::vector<int>& match,
                                                const ConditionalIndex& conditionals, VarLookup& vars, int r) {
  const int count = tokens.count();
  const Token& x = token(tokens, r + 1);
  const int after = kind_at(tokens, r + 2);
  const int literal = infer_literal_type(&x);

  if (x.kind == TK_NOT) return ReturnWrite{TYPE_BOOLEAN};
  if (is_comparison(after)) return ReturnWrite{TYPE_BOOLEAN};
  if (literal != TYPE_NONE) return ReturnWrite{literal};
  if (x.kind == TK_IDENTIFIER) {
    const int kind = vars.kind_of(x);
    if (kind == TYPE_NONE) return std::nullopt;
    return ReturnWrite{kind};
  }
  if (r + 3 < count && (is_logical(after) || after == TK_NULLISH)) {
    return ReturnWrite{TYPE_UNION, true, literal_kind(tokens, r + 3), TYPE_NONE};
  }
  const auto found = returned_conditional(tokens, match, conditionals, r);
  if (!found) return std::nullopt;
  const int a = literal_kind(tokens, found->question + 1);
  const int b = literal_kind(tokens, found->colon + 1);
  if (a == b && a != TYPE_NONE) return ReturnWrite{a};
  return ReturnWrite{TYPE_UNION, true, a, b};
}

}  // namespace

namespace {

// return !X | return A cmp B | return LITERAL | return VAR | return (..) op LIT | return .. ? A : B
// -> the first such return of the function's own code types an open return type
void run_complex_returns(const TokenList& tokens, const FileIndex& index, AnalysisResult& result,
                         Pass3Shared& shared) {
  // Every write closes the type except a void variable, after which the walk
  // goes on: the type ends with the first closing write, or void when only
  // void writes were met.
  if (!any_open_gated(result)) return;
  const int count = tokens.count();
  const std::vector<int>& match = index.match;
  const ConditionalIndex conditionals = index_conditionals(index);
  const OwnReturns& own = shared.own_returns(tokens, result, index);
  VarLookup& vars = shared.vars;
  for (size_t f = 0; f < result.funcs.size(); ++f) {
    FuncInfo& func = result.funcs[f];
    if (!is_gated(func) || !is_open(func.return_type)) continue;
    bool void_met = false;
    bool closed = false;
    for (const int r : own.of_func[f]) {
      if (r + 1 >= count) continue;
      const std::optional<ReturnWrite> write = complex_return_write(tokens, match, conditionals, vars, r);
      if (!write) continue;
      if (write->kind == TYPE_VOID) {  // the only write that leaves the type open
        void_met = true;
        continue;
      }
      apply_return_write(*write, func.return_type);
      closed = true;
      break;
    }
    if (!closed && void_met) func.return_type.kind = TYPE_VOID;
  }
}

}  // namespace

void analyze_complex_returns(const TokenList& tokens, const FileIndex& index, AnalysisResult& result) {
  Pass3Shared shared(result, tokens, index);
  run_complex_returns(tokens, index, result, shared);
}

namespace {

// X = S . M ( ... => E [op]   -> untyped X from the array method M and E's kind
void run_advanced_arrays(const TokenList& tokens, const FileIndex& index, AnalysisResult& /*result*/,
                         Pass3Shared& shared) {
  const int count = tokens.count();
  VarLookup& vars = shared.vars;
  const TokenPositions& next_arrow = index.arrows;
  for (int i = 0; i < count - 6; ++i) {
    const auto kind = [&](int offset) { return token(tokens, i + offset).kind; };
    if (kind(0) != TK_IDENTIFIER || kind(1) != TK_ASSIGN || kind(2) != TK_IDENTIFIER ||
        kind(3) != TK_DOT || kind(4) != TK_IDENTIFIER || kind(5) != TK_LPAREN) {
      continue;
    }
    VarInfo* target = vars.find(token(tokens, i));
    if (target == nullptr || !is_open(target->type)) continue;
    const VarInfo* source = vars.find(token(tokens, i + 2));
    if (source == nullptr) continue;

    // The first `=>` from the `(` on, wherever it stands.
    const int arrow = next_at(next_arrow, i + 5);
    if (arrow >= count) continue;
    int t = value_kind(vars, token_at(tokens, arrow + 1));
    const int after = kind_at(tokens, arrow + 2);
    if (is_short_comparison(after)) {
      t = TYPE_BOOLEAN;
    } else if (is_arithmetic(after)) {
      t = TYPE_NUMBER;
    }
    if (t == TYPE_NONE) continue;

    TypeInfo& type = target->type;
    const std::string_view method = token(tokens, i + 4).text;
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

}  // namespace

void analyze_advanced_arrays(const TokenList& tokens, const FileIndex& index, AnalysisResult& result) {
  Pass3Shared shared(result, tokens, index);
  run_advanced_arrays(tokens, index, result, shared);
}

namespace {

// no `return VALUE` of the function's own code   -> open return type becomes void
void run_finalize_return_types(const TokenList& tokens, const FileIndex& index, AnalysisResult& result,
                               Pass3Shared& shared) {
  // A value returned by a function nested in the body (a callback) is not the
  // function's own result.
  if (!any_open_gated(result)) return;
  const int count = tokens.count();
  const OwnReturns& own = shared.own_returns(tokens, result, index);
  for (size_t f = 0; f < result.funcs.size(); ++f) {
    FuncInfo& func = result.funcs[f];
    if (!is_gated(func) || !is_open(func.return_type)) continue;
    const bool returns_value = std::any_of(own.of_func[f].begin(), own.of_func[f].end(), [&](int r) {
      if (r >= count - 1) return false;
      const int next = token(tokens, r + 1).kind;
      return next != TK_SEMICOLON && next != TK_RBRACE;
    });
    if (!returns_value) {
      func.return_type.kind = TYPE_VOID;
      func.return_type.member_count = 0;
    }
  }
}

}  // namespace

void finalize_return_types(const TokenList& tokens, const FileIndex& index, AnalysisResult& result) {
  Pass3Shared shared(result, tokens, index);
  run_finalize_return_types(tokens, index, result, shared);
}

namespace {

// decl V = LITERAL | IDENT | X arith | ! .. | X (< > =) ..   -> untyped V from its first declaration
void run_any_killer(const TokenList& tokens, const FileIndex& /*index*/, AnalysisResult& result,
                    Pass3Shared& shared) {
  const int count = tokens.count();
  NameMap<int> declaration;  // the first `decl NAME` of each name
  for (int j = 0; j < count - 3; ++j) {
    if (is_declaration_keyword(token(tokens, j).kind) && token(tokens, j + 1).kind == TK_IDENTIFIER) {
      declaration.try_emplace(std::string(token(tokens, j + 1).text), j);
    }
  }
  VarLookup& vars = shared.vars;
  for (VarInfo& var : result.vars) {
    if (var.type.kind != TYPE_NONE) continue;
    const int j = position_of(declaration, var.name);
    if (j < 0 || token(tokens, j + 2).kind != TK_ASSIGN) continue;  // `let v;` ends the search

    const Token& value = token(tokens, j + 3);
    const int after = kind_at(tokens, j + 4);
    const int literal = infer_literal_type(&value);
    // One chain on the value: an identifier that names no variable sets
    // nothing and is not tried as an operand of the later bullets.
    if (literal != TYPE_NONE) {
      var.type.kind = static_cast<TypeKind>(literal);
    } else if (value.kind == TK_IDENTIFIER) {
      const VarInfo* other = vars.find(value);
      if (other != nullptr) var.type.kind = other->type.kind;
    } else if (is_arithmetic(after)) {
      var.type.kind = TYPE_NUMBER;
    } else if (value.kind == TK_NOT || after == TK_LESS || after == TK_GREATER || after == TK_ASSIGN) {
      var.type.kind = TYPE_BOOLEAN;
    }
  }
}

}  // namespace

void analyze_any_killer(const TokenList& tokens, const FileIndex& index, AnalysisResult& result) {
  Pass3Shared shared(result, tokens, index);
  run_any_killer(tokens, index, result, shared);
}

// union members of every variable   -> distinct, first-occurrence order; one left collapses
void simplify_unions(AnalysisResult& result) {
  for (VarInfo& var : result.vars) {
    TypeInfo& type = var.type;
    if (type.kind != TYPE_UNION) continue;
    std::array<int, kMaxUnionMembers> distinct{};
    int kept = 0;
    const int member_count = std::clamp(type.member_count, 0, kMaxUnionMembers);
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
