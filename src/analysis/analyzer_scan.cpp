// Declaration scan: the first analysis stage. One walk over the tokens records
// the declared variables, functions, object and array literals and the names
// bound to function values, in source order.
#include <functional>
#include <queue>
#include <unordered_map>

#include "analysis/syntax.h"
#include "analysis/analyzer.h"
#include "analysis/file_index.h"

// ---------------------------------------------------------------------------
// Declaration scan

namespace {

// A copy of a field tree, made with a work list rather than recursion.
FieldList copy_fields(const FieldList& from) {
  FieldList copy;
  std::vector<std::pair<const FieldList*, FieldList*>> pending{{&from, &copy}};
  while (!pending.empty()) {
    const auto [source, target] = pending.back();
    pending.pop_back();
    target->reserve(source->size());
    for (const ObjectField& field : *source) target->emplace_back(field.name, field.kind);
    for (size_t n = 0; n < source->size(); ++n) {
      if (!(*source)[n].nested_fields.empty()) pending.emplace_back(&(*source)[n].nested_fields, &(*target)[n].nested_fields);
    }
  }
  return copy;
}

// The object literals of the declarations, read once the walk is done.
// A literal is read on past nested declarations (`const a = { f() { const
// b = { ... } } }` reads b's keys into a), so literal after literal may read
// the same tokens again. Reading the last literal first and remembering where
// each one started and stopped lets an earlier literal that reaches a later
// one's first token take that literal's fields and jump to its stop: from the
// same token the reading is the same. The fields are exactly those of each
// literal read on its own,
// with one bound: literals nested in one another's function values with no
// `}` between them (`const a = { k: () => { const b = { k: () => { ...`) would
// each hold the keys of all the later ones, a number of fields that grows with
// the square of the file. Keys taken over from later literals are therefore
// copied only while the copies stay within a budget linear in the token
// count; past it a literal keeps the keys it reads itself. Real code, where a
// closing brace soon ends such a reading, stays far below the budget.
class ObjectLiteralReader {
 public:
  explicit ObjectLiteralReader(const TokenList& tokens)
      : tokens_(tokens),
        copy_budget_(8 * static_cast<size_t>(tokens.count()) + 4096) {}

  void add(size_t object, int open) { literals_.push_back({object, open}); }

  void read_all(std::vector<ObjectInfo>& objects) {
    read_from_.reserve(literals_.size());
    for (auto literal = literals_.rbegin(); literal != literals_.rend(); ++literal) {
      int index = literal->open;
      size_t size = 0;
      FieldList fields = read(index, objects, size);
      *objects[literal->object].fields = std::move(fields);
      if (literal->open + 1 < tokens_.count()) {
        read_from_[literal->open + 1] = stops_.size();
        stops_.push_back({literal->object, index, size});
      }
    }
  }

 private:
  struct Literal {
    size_t object;
    int open;
  };
  struct Stop {
    size_t object;
    int index;
    size_t size;  // fields at every level
  };

  // { KEY : VALUE , ... }   -> one field per identifier-colon pair at this
  // level; a `{` value is a nested literal (kind 6), any other value takes
  // its literal kind. Brackets, parentheses and blocks are not tracked, so
  // the first `}` met ends the literal even when it closes such a construct.
  // Literals already read are jumped over; `size` counts the fields at every
  // level.
  FieldList read(int& index, const std::vector<ObjectInfo>& objects, size_t& size) {
    struct Open {
      FieldList fields;
      std::string key;
    };
    const int count = tokens_.count();
    std::vector<Open> open(1);
    ++index;
    for (;;) {
      const auto read_before = read_from_.find(index);
      if (read_before != read_from_.end()) {
        const Stop& stop = stops_[read_before->second];
        if (stop.size <= copy_budget_) {
          copy_budget_ -= stop.size;
          size += stop.size;
          for (ObjectField& field : copy_fields(*objects[stop.object].fields)) {
            open.back().fields.push_back(std::move(field));
          }
        }
        index = stop.index;
      }
      if (index >= count || at(tokens_, index).kind == TK_RBRACE) {
        if (open.size() == 1) break;
        Open done = std::move(open.back());
        open.pop_back();
        ObjectField field(std::move(done.key), TYPE_OBJECT);
        field.nested_fields = std::move(done.fields);
        open.back().fields.push_back(std::move(field));
        ++size;
        ++index;
        continue;
      }
      const Token& token = at(tokens_, index);
      if (token.kind == TK_IDENTIFIER && index + 2 < count && at(tokens_, index + 1).kind == TK_COLON) {
        const Token& value = at(tokens_, index + 2);
        if (value.kind == TK_LBRACE) {
          open.push_back(Open{{}, std::string(token.text)});
          index += 3;
          continue;
        }
        open.back().fields.emplace_back(std::string(token.text), infer_literal_type(&value));
        ++size;
      }
      ++index;
    }
    if (index > count) index = count;
    return std::move(open.back().fields);
  }

  const TokenList& tokens_;
  std::vector<Literal> literals_;
  // The token each literal read so far was read from -> its stop. Keyed by
  // token rather than a number per token: a bundle has a million tokens and
  // a few thousand literals.
  std::unordered_map<int, size_t> read_from_;
  std::vector<Stop> stops_;
  size_t copy_budget_;  // fields that may still be copied from one literal into another
};

// A later declarator of a declaration list (`let a = 1, b = 2`), waiting for
// the walk to reach it so that records keep source order.
struct PendingDeclarator {
  int index;
  int keyword;
  bool exported;
  bool operator>(const PendingDeclarator& other) const { return index > other.index; }
};

struct Scan {
  const TokenList& tokens;
  std::string_view source;
  const FileIndex& index;
  const std::vector<int>& match;         // the index's
  const std::vector<bool>& in_function;  // the index's
  AnalysisResult& result;
  std::priority_queue<PendingDeclarator, std::vector<PendingDeclarator>, std::greater<>> pending;
  ObjectLiteralReader literals;

  int count() const { return tokens.count(); }
  int after_group(int open) const {
    const int close = match[static_cast<size_t>(open)];
    return close < 0 ? count() : close + 1;
  }
};

// The return type of a function value with a block body opening at `open`:
// void when none of its own `return`s has a value, the union of their literal
// kinds when all of them return a literal, none otherwise (a value the scan
// cannot type, or a mix of values and bare returns).
TypeInfo block_return_type(const Scan& scan, int open) {
  const int close = scan.match[static_cast<size_t>(open)] < 0 ? scan.count() : scan.match[static_cast<size_t>(open)];
  TypeInfo type;
  int bare = 0;
  int valued = 0;
  for (const int r : scan.index.own_returns(open + 1, close)) {
    if (r + 1 >= close || at(scan.tokens, r + 1).line != at(scan.tokens, r).line ||
        at(scan.tokens, r + 1).kind == TK_SEMICOLON) {
      ++bare;
      continue;
    }
    ++valued;
    const int kind = infer_literal_type(&at(scan.tokens, r + 1));
    if (kind == TYPE_NONE || !ends_expression(scan.tokens, r + 2)) return TypeInfo{};
    add_union_type(type, kind);
  }
  if (valued == 0) {
    type.kind = TYPE_VOID;
    return type;
  }
  return bare == 0 ? type : TypeInfo{};
}

// The tokens [first, end) are only parameter names joined by `||`, `&&`, `??`
// and parentheses, so the value is one of the parameters.
bool only_parameters(const Scan& scan, const std::vector<ParamInfo>& params, int first, int end) {
  bool named = false;
  for (int k = first; k < end; ++k) {
    const Token& token = at(scan.tokens, k);
    // A `(` after a name or `)` is a call, not a grouping.
    const int before = k > first ? at(scan.tokens, k - 1).kind : -1;
    if (token.kind == TK_LPAREN && before != TK_IDENTIFIER && before != TK_RPAREN) continue;
    if (token.kind == TK_OR || token.kind == TK_AND || token.kind == TK_NULLISH || token.kind == TK_RPAREN) continue;
    if (token.kind != TK_IDENTIFIER) return false;
    bool known = false;
    for (const ParamInfo& param : params) known = known || param.name == token.text;
    if (!known) return false;
    named = true;
  }
  return named;
}

// An arrow is written with generic type parameters, `<T, U>(a: T, b: U) => T | U`,
// only when that type is true: its concise body hands back one of its own
// parameters (`x => x`, `(a, b) => a || b`, `(c, a, b) => c ? a : b`), so the
// result is one of the argument types. Every parameter must be a plain name
// (a pattern or rest parameter cannot take a bare type parameter), at most
// four of them (one type parameter each), and at least one must take a type
// parameter (a lone boolean first parameter would give the invalid `<>`).
bool is_generic_arrow(const Scan& scan, const std::vector<ParamInfo>& params, int first, int end) {
  if (params.empty() || params.size() > 4) return false;
  for (const ParamInfo& param : params) {
    if (!param.plain) return false;
  }
  if (params.size() == 1 && params[0].type.kind == TYPE_BOOLEAN) return false;
  int question = -1;
  for (int k = first; k < end && question < 0;) {
    const int kind = at(scan.tokens, k).kind;
    if (kind == TK_QUESTION) question = k;
    k = (kind == TK_LPAREN || kind == TK_LBRACKET || kind == TK_LBRACE) ? scan.after_group(k) : k + 1;
  }
  if (question < 0) return only_parameters(scan, params, first, end);
  // cond ? A : B gives A or B, whatever the condition is.
  int depth = 0;
  for (int k = question + 1; k < end;) {
    const int kind = at(scan.tokens, k).kind;
    if (kind == TK_QUESTION) ++depth;
    if (kind == TK_COLON && depth-- == 0) {
      return only_parameters(scan, params, question + 1, k) && only_parameters(scan, params, k + 1, end);
    }
    k = (kind == TK_LPAREN || kind == TK_LBRACKET || kind == TK_LBRACE) ? scan.after_group(k) : k + 1;
  }
  return false;
}

void set_params(ArrowInfo& arrow, std::vector<ParamInfo>& params) {
  const std::vector<int> optional = optional_parameters(params);
  arrow.param_optional.insert(arrow.param_optional.end(), optional.begin(), optional.end());
  for (ParamInfo& param : params) {
    arrow.param_names.push_back(std::move(param.name));
    arrow.param_types.push_back(std::move(param.type));
  }
}

// The function value `(...) => ...`, `x => ...` or `function [name] (...) {...}`,
// each possibly `async`, starting at `q`: its parameters and return type in
// `arrow`; returns the index just past it, or -1 when none starts at `q`.
int read_function_value(const Scan& scan, int q, ArrowInfo& arrow) {
  const TokenList& tokens = scan.tokens;
  const int count = scan.count();
  bool is_async = false;
  int k = q;
  if (kind_at(tokens, k) == TK_ASYNC && k + 1 < count && at(tokens, k + 1).line == at(tokens, k).line) {
    const Token& next = at(tokens, k + 1);
    const bool function_value =
        (next.kind == TK_RESERVED && next.text == "function") ||
        (next.kind == TK_IDENTIFIER && kind_at(tokens, k + 2) == TK_ARROW) ||
        (next.kind == TK_LPAREN && scan.match[static_cast<size_t>(k + 1)] >= 0 &&
         kind_at(tokens, scan.match[static_cast<size_t>(k + 1)] + 1) == TK_ARROW);
    if (!function_value) return -1;
    is_async = true;
    ++k;
  }
  if (k >= count) return -1;
  const Token& head = at(tokens, k);
  if (head.kind == TK_RESERVED && head.text == "function") {
    int j = k + 1;
    const bool generator = kind_at(tokens, j) == TK_STAR;
    if (generator) ++j;
    if (kind_at(tokens, j) == TK_IDENTIFIER) ++j;
    if (kind_at(tokens, j) != TK_LPAREN || scan.match[static_cast<size_t>(j)] < 0) return -1;
    const int body = scan.match[static_cast<size_t>(j)] + 1;
    if (kind_at(tokens, body) != TK_LBRACE || scan.match[static_cast<size_t>(body)] < 0) return -1;
    std::vector<ParamInfo> params = parse_params(tokens, scan.match, scan.source, j, true);
    set_params(arrow, params);
    // An async function returns a promise and a generator an iterator: left untyped.
    if (!is_async && !generator) arrow.return_type = block_return_type(scan, body);
    return scan.after_group(body);
  }
  std::vector<ParamInfo> params;
  int body = -1;
  if (head.kind == TK_IDENTIFIER && kind_at(tokens, k + 1) == TK_ARROW) {
    ParamInfo param;
    param.name = head.text;
    param.plain = true;
    params.push_back(std::move(param));
    body = k + 2;
  } else if (head.kind == TK_LPAREN && scan.match[static_cast<size_t>(k)] >= 0 &&
             kind_at(tokens, scan.match[static_cast<size_t>(k)] + 1) == TK_ARROW) {
    params = parse_params(tokens, scan.match, scan.source, k, true);
    body = scan.match[static_cast<size_t>(k)] + 2;
  } else {
    return -1;
  }
  int end = count;
  if (body < count && at(tokens, body).kind == TK_LBRACE) {
    end = scan.after_group(body);
    if (!is_async) arrow.return_type = block_return_type(scan, body);
  } else if (body < count) {
    const ExpressionScan value = scan_expression(tokens, scan.match, body, true);
    end = value.end;
    if (!is_async) {
      arrow.return_type.kind = static_cast<TypeKind>(value.kind);
      arrow.is_generic = is_generic_arrow(scan, params, body, value.end) ? 1 : 0;
    }
  }
  set_params(arrow, params);
  return end;
}

// NAME = FUNCTION-VALUE   -> ArrowInfo for NAME (no variable record)
// The function value, possibly in parentheses, must be the whole initializer:
// `function () {}.bind(x)` or an immediately called function is a call.
// Returns the index that ends the initializer, or -1 when it is not a
// function value.
int scan_function_value(Scan& scan, std::string_view name, int q) {
  int wrapped = 0;  // parentheses around the value
  while (kind_at(scan.tokens, q + wrapped) == TK_LPAREN) ++wrapped;
  for (int layers = 0; layers <= wrapped; ++layers) {
    const int start = q + layers;  // `(a) => a` starts at its `(`, `((a) => a)` inside it
    ArrowInfo arrow;
    int end = read_function_value(scan, start, arrow);
    if (end < 0) continue;
    // Each unwrapped `(` must close right after the value.
    bool closed = true;
    for (int n = 0; n < layers && closed; ++n) {
      closed = kind_at(scan.tokens, end) == TK_RPAREN && scan.match[static_cast<size_t>(end)] == start - 1 - n;
      ++end;
    }
    if (!closed || !ends_expression(scan.tokens, end)) return -1;
    arrow.name = name;
    scan.result.arrows.push_back(std::move(arrow));
    return end;
  }
  return -1;
}

// The initializer [q, end) holds a promise: `(async ...)(...)`, an async
// function called on the spot, or `new Promise(...)`.
bool is_promise_value(const Scan& scan, int q, int end) {
  const TokenList& tokens = scan.tokens;
  auto closes_at_end = [&](int paren) {
    return kind_at(tokens, paren) == TK_LPAREN && scan.match[static_cast<size_t>(paren)] >= 0 &&
           scan.match[static_cast<size_t>(paren)] + 1 == end;
  };
  if (kind_at(tokens, q) == TK_LPAREN && kind_at(tokens, q + 1) == TK_ASYNC && scan.match[static_cast<size_t>(q)] >= 0) {
    return closes_at_end(scan.match[static_cast<size_t>(q)] + 1);
  }
  return q + 2 < scan.count() && is_word(at(tokens, q), "new") && is_word(at(tokens, q + 1), "Promise") &&
         closes_at_end(q + 2);
}

// [ E1 , E2 , ... ]   -> the elements' literal kinds in order of first appearance;
// element_kind TYPE_UNION with at most four members when they differ. An element that
// is not a single literal has TYPE_NONE, which counts as a kind of its own.
void array_element_kinds(const Scan& scan, int open, ArrayInfo& array) {
  bool seen = false;
  for (const auto& [first, end] : group_elements(scan.tokens, scan.match, open)) {
    if (first >= end) continue;  // a hole or a trailing comma
    const int kind = literal_kind_of_range(scan.tokens, first, end);
    if (!seen) {
      array.element_kind = kind;
      seen = true;
      continue;
    }
    if (array.element_kind != TYPE_UNION) {
      if (kind == array.element_kind) continue;
      array.members[0] = array.element_kind;
      array.member_count = 1;
      array.element_kind = TYPE_UNION;
    }
    bool member = false;
    for (int n = 0; n < array.member_count; ++n) member = member || array.members[static_cast<size_t>(n)] == kind;
    if (!member && array.member_count < kMaxUnionMembers) array.members[static_cast<size_t>(array.member_count++)] = kind;
  }
}

// NAME = INITIALIZER   -> records for NAME by the initializer's form; returns
// the index of the token that ends the initializer.
int scan_initializer(Scan& scan, int name_index, int q, int keyword, bool exported) {
  const TokenList& tokens = scan.tokens;
  const std::string_view name = at(tokens, name_index).text;
  const int function_end = scan_function_value(scan, name, q);
  if (function_end >= 0) return function_end;

  const ExpressionScan value = scan_expression(tokens, scan.match, q, false);
  VarInfo variable;
  variable.name = name;
  variable.is_const = keyword == TK_CONST ? 1 : 0;
  variable.type.kind = static_cast<TypeKind>(value.kind);
  const bool whole_literal = value.top_tokens == 1 && q < scan.count();
  if (whole_literal && at(tokens, q).kind == TK_LBRACE) {
    // NAME = { ... }   -> ObjectInfo with the literal's fields (read after the walk)
    ObjectInfo object;
    object.name = name;
    scan.literals.add(scan.result.objects.size(), q);
    scan.result.objects.push_back(std::move(object));
  } else if (whole_literal && at(tokens, q).kind == TK_LBRACKET) {
    // NAME = [ ... ]   -> ArrayInfo; the variable is an array of the same elements
    ArrayInfo array;
    array.name = name;
    array_element_kinds(scan, q, array);
    variable.type.kind = TYPE_ARRAY;
    variable.type.element_kind = array.element_kind;
    variable.type.members = array.members;
    variable.type.member_count = array.member_count;
    scan.result.arrays.push_back(std::move(array));
  }
  scan.result.vars.push_back(std::move(variable));

  // A name bound to a promise is declared `Promise<any>` (is_promise), which
  // is what it holds whatever the promise resolves to. Function values never
  // are: calling a name declared as a promise would not compile. An exported
  // binding is left to the export statement, which declares it itself.
  if (!exported && is_promise_value(scan, q, value.end)) {
    ArrowInfo promise;
    promise.name = name;
    promise.is_promise = 1;
    scan.result.arrows.push_back(std::move(promise));
  }
  return value.end;
}

// KEYWORD NAME [= INITIALIZER]  or  KEYWORD PATTERN = INITIALIZER
// A name without initializer (`let count;`, `for (const x of xs)`) is a
// variable of TYPE_NONE; a destructuring pattern creates no record. A `,` after
// the declarator queues the next one.
void scan_declarator_records(Scan& scan, int p, int keyword, bool exported) {
  const TokenList& tokens = scan.tokens;
  const int count = scan.count();
  if (p >= count) return;
  const int kind = at(tokens, p).kind;
  const bool pattern = kind == TK_LBRACE || kind == TK_LBRACKET;
  if (kind != TK_IDENTIFIER && !pattern) return;
  const int after = pattern ? scan.after_group(p) : p + 1;
  int end = after;
  if (after < count && at(tokens, after).kind == TK_ASSIGN) {
    end = pattern ? scan_expression(tokens, scan.match, after + 1, false).end
                  : scan_initializer(scan, p, after + 1, keyword, exported);
  } else if (!pattern) {
    VarInfo variable;
    variable.name = at(tokens, p).text;
    variable.is_const = keyword == TK_CONST ? 1 : 0;
    scan.result.vars.push_back(std::move(variable));
  }
  if (end < count && at(tokens, end).kind == TK_COMMA) scan.pending.push({end + 1, keyword, exported});
}

// The declarator at `p`; the records it adds are locals when it stands in a
// function, arrow, method or class body, and exported with every other
// declarator of an `export` list.
void scan_declarator(Scan& scan, int p, int keyword, bool exported) {
  if (p >= scan.count()) return;
  const size_t first_var = scan.result.vars.size();
  const size_t first_arrow = scan.result.arrows.size();
  scan_declarator_records(scan, p, keyword, exported);
  const int local = scan.in_function[static_cast<size_t>(p)] ? 1 : 0;
  for (size_t n = first_var; n < scan.result.vars.size(); ++n) {
    scan.result.vars[n].is_local = local;
    scan.result.vars[n].is_exported = exported ? 1 : 0;
  }
  for (size_t n = first_arrow; n < scan.result.arrows.size(); ++n) {
    scan.result.arrows[n].is_local = local;
    scan.result.arrows[n].is_exported = exported ? 1 : 0;
  }
}

// [async] function [*] NAME ( PARAMS ) { ... }   -> FuncInfo (body left to the capture)
void scan_function_declaration(Scan& scan, int i) {
  const TokenList& tokens = scan.tokens;
  const int name = function_declaration_name(tokens, i);
  if (name >= 0) {
    FuncInfo function;
    function.name = at(tokens, name).text;
    function.is_async = i > 0 && at(tokens, i - 1).kind == TK_ASYNC && at(tokens, i - 1).line == at(tokens, i).line;
    function.is_generator = name == i + 2 ? 1 : 0;
    function.is_local = scan.in_function[static_cast<size_t>(i)] ? 1 : 0;
    std::vector<ParamInfo> params = parse_params(tokens, scan.match, scan.source, name + 1, false);
    for (size_t j = 0; j < params.size(); ++j) {
      ParamInfo& param = params[j];
      // A destructured parameter expects an object with the pattern's keys.
      if (j < static_cast<size_t>(kMaxParamShapes) && !param.keys.empty()) {
        std::vector<ShapeField>& fields = function.param_shapes[j].fields;
        for (ShapeField& key : param.keys) {
          if (static_cast<int>(fields.size()) < kMaxShapeFields) fields.push_back(std::move(key));
        }
      }
      function.param_names.push_back(std::move(param.name));
      function.param_types.push_back(std::move(param.type));
      function.param_defaults.push_back(std::move(param.default_text));
    }
    scan.result.funcs.push_back(std::move(function));
  }
}

}  // namespace

AnalysisResult analyze_tokens(const TokenList& tokens, const FileIndex& index, std::string_view source) {
  AnalysisResult result;
  Scan scan{tokens, source, index, index.match, index.in_function, result, {}, ObjectLiteralReader(tokens)};
  const int count = tokens.count();
  for (int i = 0; i < count; ++i) {
    while (!scan.pending.empty() && scan.pending.top().index <= i) {
      const PendingDeclarator next = scan.pending.top();
      scan.pending.pop();
      if (next.index == i) scan_declarator(scan, i, next.keyword, next.exported);
    }
    const Token& token = at(tokens, i);
    if (is_declaration_keyword(token.kind)) {
      scan_declarator(scan, i + 1, token.kind, i > 0 && at(tokens, i - 1).kind == TK_EXPORT);
    } else if (token.kind == TK_RESERVED && token.text == "function") {
      scan_function_declaration(scan, i);
    }
  }
  scan.literals.read_all(result.objects);
  return result;
}
