// Structure capture: array-method results, classes, import and export
// statements and function bodies, plus the bracket-matching token walks that
// the declaration scan shares.
#include "analysis/analyzeR2.h"

#include <algorithm>
#include <initializer_list>
#include <unordered_map>
#include <unordered_set>

namespace {

const Token& at(const TokenList& tokens, int index) { return tokens.items[static_cast<size_t>(index)]; }

bool is_opener(int kind) { return kind == TK_LPAREN || kind == TK_LBRACE || kind == TK_LBRACKET; }
bool is_closer(int kind) { return kind == TK_RPAREN || kind == TK_RBRACE || kind == TK_RBRACKET; }

int bracket_slot(int kind) {
  switch (kind) {
    case TK_LPAREN:
    case TK_RPAREN:
      return 0;
    case TK_LBRACE:
    case TK_RBRACE:
      return 1;
    case TK_LBRACKET:
    case TK_RBRACKET:
      return 2;
    default:
      return -1;
  }
}


bool in_words(std::string_view text, std::initializer_list<std::string_view> words) {
  return std::find(words.begin(), words.end(), text) != words.end();
}

// A token after which a value may end (and a statement with it).
bool ends_value(const Token& token) {
  switch (token.kind) {
    case TK_IDENTIFIER:
    case TK_NUMBER:
    case TK_STRING:
    case TK_REGEX:
    case TK_RPAREN:
    case TK_RBRACKET:
    case TK_RBRACE:
    case TK_INCREMENT:
      return !in_words(token.text, {"typeof", "new", "await"});
    case TK_RESERVED:
      return token.text == "null" || token.text == "super";
    default:
      return false;
  }
}

// A token that cannot continue an expression from the line before.
bool starts_statement(const Token& token) {
  switch (token.kind) {
    case TK_LET:
    case TK_CONST:
    case TK_VAR:
    case TK_RETURN:
    case TK_FOR:
    case TK_SWITCH:
    case TK_IDENTIFIER:
    case TK_NUMBER:
    case TK_STRING:
    case TK_CLASS:
    case TK_IMPORT:
    case TK_EXPORT:
    case TK_ASYNC:
    case TK_NOT:
    case TK_TILDE:
    case TK_INCREMENT:
    case TK_LBRACE:
      return true;
    case TK_RESERVED:
      return token.text != "in" && token.text != "instanceof";
    default:
      return false;
  }
}

// Index just past the bracketed group opening at `open` (the end of the list
// when it never closes).
int after_group(const std::vector<int>& match, int open, int count) {
  const int close = match[static_cast<size_t>(open)];
  return close < 0 ? count : close + 1;
}

}  // namespace

int literal_kind_of_range(const TokenList& tokens, int first, int end) {
  if (end - first == 1) return infer_literal_type(&at(tokens, first));
  if (end - first == 2 && (at(tokens, first).kind == TK_MINUS || at(tokens, first).kind == TK_PLUS) &&
      at(tokens, first + 1).kind == TK_NUMBER && !at(tokens, first + 1).text.ends_with('n')) {
    return TYPE_NUMBER;
  }
  return TYPE_NONE;
}

namespace {

// The comma-separated elements between `open` and `close` (exclusive).
std::vector<std::pair<int, int>> elements_between(const TokenList& tokens, const std::vector<int>& match,
                                                  int open, int close) {
  const int count = tokens.count();
  std::vector<std::pair<int, int>> elements;
  int first = open + 1;
  int k = open + 1;
  while (k < close) {
    const int kind = at(tokens, k).kind;
    if (kind == TK_COMMA) {
      elements.emplace_back(first, k);
      first = ++k;
    } else if (is_opener(kind)) {
      k = std::min(after_group(match, k, count), close);
    } else {
      ++k;
    }
  }
  if (first < close || !elements.empty()) elements.emplace_back(first, close);
  return elements;
}

// A token that cannot stand inside a parameter list outside its own brackets:
// it starts the next statement or declaration.
bool ends_parameter_text(const Token& token) {
  switch (token.kind) {
    case TK_SEMICOLON:
    case TK_LET:
    case TK_CONST:
    case TK_VAR:
    case TK_RETURN:
    case TK_CLASS:
    case TK_IMPORT:
    case TK_EXPORT:
      return true;
    case TK_RESERVED:
      return token.text == "function";
    default:
      return false;
  }
}

}  // namespace

std::vector<std::pair<int, int>> group_elements(const TokenList& tokens, const std::vector<int>& match,
                                                int open) {
  const int close = match[static_cast<size_t>(open)] < 0 ? tokens.count() : match[static_cast<size_t>(open)];
  return elements_between(tokens, match, open, close);
}

int parameter_group_close(const TokenList& tokens, const std::vector<int>& match, int open, int limit) {
  limit = std::min(limit, tokens.count());
  const int partner = match[static_cast<size_t>(open)];
  if (partner >= 0) return std::min(partner, limit);
  // Never closed: the group ends with its line, or earlier where a new
  // statement or declaration starts, so that a broken list cannot swallow
  // the rest of the file.
  const int line = at(tokens, open).line;
  int k = open + 1;
  while (k < limit && at(tokens, k).line == line && !ends_parameter_text(at(tokens, k))) {
    const int kind = at(tokens, k).kind;
    k = is_opener(kind) && match[static_cast<size_t>(k)] >= 0 ? match[static_cast<size_t>(k)] + 1 : k + 1;
  }
  return std::min(k, limit);
}

namespace {

std::string source_text(std::string_view source, int start, int end) {
  const size_t size = source.size();
  const size_t from = std::min(static_cast<size_t>(std::max(start, 0)), size);
  const size_t to = std::min(static_cast<size_t>(std::max(end, 0)), size);
  return to > from ? std::string(source.substr(from, to - from)) : std::string();
}

// The keys of the object pattern `{ ... }` opening at `open`: `a`, `a = 1`,
// `a: b`, `a: b = 1`. Rest elements and computed or quoted keys are left out.
std::vector<ShapeField> object_pattern_keys(const TokenList& tokens, const std::vector<int>& match,
                                            int open, int limit) {
  std::vector<ShapeField> keys;
  const int close = parameter_group_close(tokens, match, open, limit);
  for (const auto& [first, end] : elements_between(tokens, match, open, close)) {
    if (first >= end || at(tokens, first).kind != TK_IDENTIFIER) continue;
    ShapeField key{at(tokens, first).text, TYPE_NONE};
    const int next = kind_at(tokens, first + 1);
    if (first + 1 < end && next == TK_ASSIGN) {
      key.kind = literal_kind_of_range(tokens, first + 2, end);
    } else if (first + 1 < end && next == TK_COLON) {
      // `a: b = 1` takes the default of the renamed binding.
      if (first + 3 < end && at(tokens, first + 2).kind == TK_IDENTIFIER && at(tokens, first + 3).kind == TK_ASSIGN) {
        key.kind = literal_kind_of_range(tokens, first + 4, end);
      }
    } else if (first + 1 < end) {
      continue;
    }
    keys.push_back(std::move(key));
  }
  return keys;
}

std::string joined(const std::vector<std::string>& names, std::string_view open, std::string_view close) {
  std::string text(open);
  for (size_t n = 0; n < names.size(); ++n) {
    if (n > 0) text += ", ";
    text += names[n];
  }
  text += close;
  return text;
}

// A destructuring pattern as a parameter: its name and type. Returns the
// index of the pattern's last token.
int describe_pattern(ParamInfo& param, const TokenList& tokens, const std::vector<int>& match,
                     std::string_view source, int open, int end, bool for_signature) {
  const int stop = parameter_group_close(tokens, match, open, end);
  const int close = match[static_cast<size_t>(open)] < 0 ? std::max(stop - 1, open) : stop;
  if (at(tokens, open).kind == TK_LBRACE) {
    param.keys = object_pattern_keys(tokens, match, open, end);
    param.type.kind = TYPE_OBJECT;
    std::vector<std::string> names;
    for (const ShapeField& key : param.keys) {
      param.type.fields.push_back(TypeField{key.name, key.kind});
      names.push_back(key.name);
    }
    param.name = for_signature ? (names.empty() ? std::string("{}") : joined(names, "{ ", " }"))
                               : source_text(source, at(tokens, open).start, at(tokens, close).end);
    return close;
  }
  param.type.kind = TYPE_ARRAY;
  if (!for_signature) {
    param.name = source_text(source, at(tokens, open).start, at(tokens, close).end);
    return close;
  }
  std::vector<std::string> names;
  std::vector<std::pair<int, int>> elements = elements_between(tokens, match, open, stop);
  while (!elements.empty() && elements.back().first >= elements.back().second) elements.pop_back();
  for (const auto& [first, element_end] : elements) {
    const bool bare = first < element_end && at(tokens, first).kind == TK_IDENTIFIER &&
                      (first + 1 == element_end || at(tokens, first + 1).kind == TK_ASSIGN);
    names.push_back(bare ? at(tokens, first).text : std::string());
  }
  param.name = joined(names, "[", "]");
  return close;
}

}  // namespace

// ---------------------------------------------------------------------------
// Token helpers

std::vector<int> match_brackets(const TokenList& tokens) {
  const int count = tokens.count();
  std::vector<int> match(static_cast<size_t>(count), -1);
  std::vector<int> open;
  int open_of_slot[3] = {0, 0, 0};
  for (int i = 0; i < count; ++i) {
    const int kind = at(tokens, i).kind;
    const int slot = bracket_slot(kind);
    if (slot < 0) continue;
    if (is_opener(kind)) {
      open.push_back(i);
      ++open_of_slot[slot];
      continue;
    }
    if (open_of_slot[slot] == 0) continue;  // stray closer
    for (;;) {
      const int j = open.back();
      open.pop_back();
      const int open_slot = bracket_slot(at(tokens, j).kind);
      --open_of_slot[open_slot];
      if (open_slot == slot) {
        match[static_cast<size_t>(i)] = j;
        match[static_cast<size_t>(j)] = i;
        break;
      }
    }
  }
  return match;
}

bool is_line_break_boundary(const TokenList& tokens, int index) {
  if (index <= 0 || index >= tokens.count()) return false;
  const Token& before = at(tokens, index - 1);
  const Token& token = at(tokens, index);
  // `function ()` with its `{` on the next line is still one function.
  if (before.kind == TK_RPAREN && token.kind == TK_LBRACE) return false;
  return token.line > before.line && ends_value(before) && starts_statement(token);
}

bool ends_expression(const TokenList& tokens, int index) {
  if (index >= tokens.count()) return true;
  const int kind = at(tokens, index).kind;
  return kind == TK_COMMA || kind == TK_SEMICOLON || is_closer(kind) || is_line_break_boundary(tokens, index);
}

int function_declaration_name(const TokenList& tokens, int index) {
  const int count = tokens.count();
  if (index < 0 || index + 2 >= count) return -1;
  const Token& keyword = at(tokens, index);
  if (keyword.kind != TK_RESERVED || keyword.text != "function") return -1;
  const int name = at(tokens, index + 1).kind == TK_STAR ? index + 2 : index + 1;
  if (kind_at(tokens, name) != TK_IDENTIFIER || kind_at(tokens, name + 1) != TK_LPAREN) return -1;
  return in_statement_position(tokens, index) ? name : -1;
}

bool is_function_declaration(const TokenList& tokens, int index) {
  return function_declaration_name(tokens, index) >= 0;
}

bool in_statement_position(const TokenList& tokens, int index) {
  if (index < 0 || index >= tokens.count()) return false;
  const Token& keyword = at(tokens, index);
  int before = index - 1;
  if (before >= 0 && at(tokens, before).kind == TK_ASYNC && at(tokens, before).line == keyword.line) --before;
  if (before < 0) return true;
  const Token& previous = at(tokens, before);
  switch (previous.kind) {
    case TK_SEMICOLON:
    case TK_LBRACE:
    case TK_RBRACE:
    case TK_RPAREN:
    case TK_EXPORT:
      return true;
    default:
      break;
  }
  if (is_word(previous, "else") || is_word(previous, "do")) return true;
  if (is_word(previous, "default") && before > 0 && at(tokens, before - 1).kind == TK_EXPORT) return true;
  // A statement that ended at a line break without a semicolon.
  return previous.line < keyword.line && ends_value(previous);
}

ExpressionScan scan_expression(const TokenList& tokens, const std::vector<int>& match, int start,
                               bool literal_kinds) {
  const int count = tokens.count();
  ExpressionScan scan;
  bool weak = false;  // an operator whose result the scan cannot tell
  bool comparison = false, bitwise = false, arith = false, binary_plus = false, unary_numeric = false;
  bool string_operand = false, bigint = false, bang_first = false, typeof_first = false;
  int operands = 0, number_operands = 0, open_questions = 0;
  bool operand_open = false;  // inside an operand (a value and its member, call and index continuations)
  int operand_literal = 0;    // literal kind of the open operand while it is a lone literal
  bool after_dot = false;

  auto close_operand = [&]() {
    if (!operand_open) return;
    if (operand_literal == TYPE_STRING) string_operand = true;
    if (operand_literal == TYPE_NUMBER) ++number_operands;
    operand_open = false;
  };
  // A binary operator needs an operand before it; without one (JSX such as
  // `<div>`, or broken input) the scan cannot tell what the expression is.
  auto binary = [&](bool& flag) {
    if (!operand_open) weak = true;
    close_operand();
    flag = true;
  };
  auto value = [&](int literal) {
    if (operand_open) {
      operand_literal = 0;  // a continuation of the operand
      return;
    }
    operand_open = true;
    ++operands;
    operand_literal = literal;
  };

  int i = start;
  while (i < count) {
    if (i > start && is_line_break_boundary(tokens, i)) break;
    const Token& token = at(tokens, i);
    const int kind = token.kind;
    if (kind == TK_COMMA || kind == TK_SEMICOLON || is_closer(kind)) break;
    if (kind == TK_COLON) {
      if (open_questions == 0) break;
      --open_questions;
    }
    ++scan.top_tokens;
    const bool first = scan.top_tokens == 1;
    if (is_opener(kind)) {
      value(0);
      after_dot = false;
      i = after_group(match, i, count);
      continue;
    }
    if (after_dot && (kind == TK_IDENTIFIER || kind == TK_RESERVED)) {
      after_dot = false;
      value(0);
      ++i;
      continue;
    }
    after_dot = false;
    switch (kind) {
      case TK_IDENTIFIER:
        if (in_words(token.text, {"typeof", "await", "new"})) {
          close_operand();
          if (first && token.text == "typeof") typeof_first = true;
        } else {
          value(infer_literal_type(&token));
        }
        break;
      case TK_NUMBER:
        if (token.text.ends_with('n')) bigint = true;
        value(TYPE_NUMBER);
        break;
      case TK_STRING:
        value(TYPE_STRING);
        break;
      case TK_REGEX:
        value(0);
        break;
      case TK_RESERVED:
        if (token.text == "in" || token.text == "instanceof") {
          binary(comparison);
        } else if (token.text == "null" || token.text == "super") {
          value(0);
        } else {
          close_operand();  // void, delete, yield, function and the like
          if (token.text == "function") weak = true;
        }
        break;
      case TK_DOT:
      case TK_OPTIONAL_CHAIN:
        if (kind == TK_OPTIONAL_CHAIN) weak = true;
        operand_literal = 0;
        after_dot = true;
        break;
      case TK_INCREMENT:
        unary_numeric = true;
        operand_literal = 0;
        break;
      case TK_PLUS:
      case TK_MINUS:
        if (operand_open) {
          close_operand();
          (kind == TK_PLUS ? binary_plus : arith) = true;
        } else {
          unary_numeric = true;
        }
        break;
      case TK_STAR:
      case TK_SLASH:
      case TK_PERCENT:
      case TK_EXPONENT:
        binary(arith);
        break;
      case TK_BITWISE:
        binary(bitwise);
        break;
      case TK_TILDE:
        unary_numeric = true;
        break;
      case TK_NOT:
        if (first) bang_first = true;
        break;
      case TK_EQUAL:
      case TK_NOT_EQUAL:
      case TK_LESS:
      case TK_GREATER:
      case TK_LESS_EQUAL:
      case TK_GREATER_EQUAL:
        binary(comparison);
        break;
      case TK_QUESTION:
        ++open_questions;
        close_operand();
        weak = true;
        break;
      case TK_COLON:
        close_operand();
        break;
      default:  // = op= => && || ?? ... class async and anything unexpected
        close_operand();
        weak = true;
        break;
    }
    ++i;
  }
  close_operand();
  scan.end = i;

  if (weak) return scan;
  if (comparison) {
    scan.kind = bitwise ? TYPE_NONE : TYPE_BOOLEAN;
  } else if (bitwise || arith || unary_numeric) {
    scan.kind = bigint || binary_plus ? TYPE_NONE : TYPE_NUMBER;
  } else if (binary_plus) {
    if (string_operand) {
      scan.kind = TYPE_STRING;
    } else if (number_operands == operands && !bigint) {
      scan.kind = TYPE_NUMBER;
    }
  } else if (typeof_first) {
    scan.kind = TYPE_STRING;
  } else if (literal_kinds && scan.top_tokens == 1) {
    scan.kind = infer_literal_type(&at(tokens, start));
  } else if (literal_kinds && bang_first) {
    scan.kind = TYPE_BOOLEAN;
  }
  return scan;
}

std::vector<ParamInfo> parse_params(const TokenList& tokens, const std::vector<int>& match,
                                    std::string_view source, int open, bool for_signature) {
  const int count = tokens.count();
  std::vector<ParamInfo> params;
  if (open < 0 || open >= count || at(tokens, open).kind != TK_LPAREN) return params;
  const int close = parameter_group_close(tokens, match, open, count);
  for (const auto& [first, end] : elements_between(tokens, match, open, close)) {
    if (first >= end) continue;
    const Token& head = at(tokens, first);
    ParamInfo param;
    int default_at = -1;  // the `=` before a default value
    if (head.kind == TK_SPREAD) {
      // `...rest`: the dots stay in the name so the written parameter is
      // still a rest parameter, and its type is an array.
      if (first + 1 >= end) continue;
      const Token& target = at(tokens, first + 1);
      if (target.kind == TK_IDENTIFIER) {
        param.name = "..." + target.text;
      } else if (target.kind == TK_LBRACE || target.kind == TK_LBRACKET) {
        ParamInfo pattern;
        describe_pattern(pattern, tokens, match, source, first + 1, end, for_signature);
        param.name = "..." + pattern.name;
      } else {
        continue;
      }
      param.type.kind = TYPE_ARRAY;
    } else if (head.kind == TK_IDENTIFIER || head.kind == TK_ASYNC) {
      param.name = head.text;
      param.plain = true;
      if (first + 1 < end && at(tokens, first + 1).kind == TK_ASSIGN) {
        param.type.kind = literal_kind_of_range(tokens, first + 2, end);
        default_at = first + 1;
      }
    } else if (head.kind == TK_LBRACE || head.kind == TK_LBRACKET) {
      const int last = describe_pattern(param, tokens, match, source, first, end, for_signature);
      if (last + 1 < end && at(tokens, last + 1).kind == TK_ASSIGN) default_at = last + 1;
    } else {
      continue;
    }
    if (default_at >= 0) {
      param.has_default = true;
      if (default_at + 1 < end) {
        param.default_text = source_text(source, at(tokens, default_at + 1).start, at(tokens, end - 1).end);
      }
    }
    params.push_back(std::move(param));
  }
  return params;
}

std::vector<int> optional_parameters(const std::vector<ParamInfo>& params) {
  std::vector<int> optional(params.size(), 0);
  bool later_required = false;
  for (size_t p = params.size(); p-- > 0;) {
    const bool rest = params[p].name.starts_with("...");
    if (params[p].has_default && !later_required) optional[p] = 1;
    if (!params[p].has_default && !rest) later_required = true;
  }
  return optional;
}

int nested_body_open(const TokenList& tokens, const std::vector<int>& match, int index, bool arrows) {
  const int count = tokens.count();
  const Token& token = at(tokens, index);
  // The `{` after the parameter group opening at `paren`, when there is one.
  auto body_after = [&](int paren) {
    if (kind_at(tokens, paren) != TK_LPAREN || match[static_cast<size_t>(paren)] < 0) return -1;
    const int brace = match[static_cast<size_t>(paren)] + 1;
    return kind_at(tokens, brace) == TK_LBRACE ? brace : -1;
  };
  if (token.kind == TK_RESERVED && token.text == "function") {
    int j = index + 1;
    if (kind_at(tokens, j) == TK_STAR) ++j;
    if (kind_at(tokens, j) == TK_IDENTIFIER) ++j;
    return body_after(j);
  }
  if (arrows && token.kind == TK_ARROW) return kind_at(tokens, index + 1) == TK_LBRACE ? index + 1 : -1;
  if (token.kind == TK_IDENTIFIER) return body_after(index + 1);  // method shorthand
  if (token.kind == TK_CLASS) {
    for (int j = index + 1; j < count;) {
      const int kind = at(tokens, j).kind;
      if (kind == TK_LBRACE) return j;
      if (kind == TK_SEMICOLON || is_closer(kind)) return -1;
      j = is_opener(kind) ? after_group(match, j, count) : j + 1;
    }
  }
  return -1;
}

std::vector<char> function_body_tokens(const TokenList& tokens, const std::vector<int>& match) {
  const int count = tokens.count();
  // +1 where a body's inside starts, -1 at its closing brace; a body may be
  // counted twice (`function f() {` is also `f() {`), which the sum allows.
  std::vector<int> change(static_cast<size_t>(count) + 1, 0);
  for (int k = 0; k < count; ++k) {
    const int body = nested_body_open(tokens, match, k, true);
    if (body < 0 || match[static_cast<size_t>(body)] < 0) continue;
    ++change[static_cast<size_t>(body) + 1];
    --change[static_cast<size_t>(match[static_cast<size_t>(body)])];
  }
  std::vector<char> inside(static_cast<size_t>(count), 0);
  int depth = 0;
  for (int k = 0; k < count; ++k) {
    depth += change[static_cast<size_t>(k)];
    inside[static_cast<size_t>(k)] = depth > 0 ? 1 : 0;
  }
  return inside;
}

std::vector<int> own_returns(const TokenList& tokens, const std::vector<int>& match, int first, int end) {
  std::vector<int> returns;
  end = std::min(end, tokens.count());
  int k = std::max(first, 0);
  while (k < end) {
    const int body = nested_body_open(tokens, match, k, true);
    if (body >= 0) {
      k = after_group(match, body, end);
      continue;
    }
    if (at(tokens, k).kind == TK_RETURN) returns.push_back(k);
    ++k;
  }
  return returns;
}

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
    const std::string& method = at(tokens, i + 5).text;
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
  type.kind = value.kind;
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
      add_class_field(record, fields, at(tokens, k + 2).text, field_value_type(tokens, match, k + 4, value_end));
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
      if (named && !accessor) add_class_field(record, fields, name.text, std::move(type));
      p = std::max(value_end, q + 1);
      continue;
    }
    if (named && !accessor && (q >= end || next == TK_SEMICOLON || next == TK_RBRACE || is_line_break_boundary(tokens, q))) {
      add_class_field(record, fields, name.text, TypeInfo{});
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

void detect_classes(AnalysisResult& result, const TokenList& tokens, std::string_view source) {
  const int count = tokens.count();
  const std::vector<int> match = match_brackets(tokens);
  const std::vector<char> in_function = function_body_tokens(tokens, match);
  for (int j = 0; j + 1 < count; ++j) {
    if (at(tokens, j).kind != TK_CLASS || at(tokens, j + 1).kind != TK_IDENTIFIER) continue;
    ClassInfo record;
    record.name = at(tokens, j + 1).text;
    record.is_local = in_function[static_cast<size_t>(j)] != 0 || is_class_expression(tokens, j) ? 1 : 0;
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
  std::vector<int> match;
  std::vector<int> line_last;       // per token: the last token on its line
  std::vector<int> next_semicolon;  // per token: the first `;` at or after it (count when none)

  explicit ModuleStatements(const TokenList& list)
      : tokens(list),
        match(match_brackets(list)),
        line_last(static_cast<size_t>(list.count())),
        next_semicolon(static_cast<size_t>(list.count())) {
    const int count = list.count();
    for (int k = count - 1; k >= 0; --k) {
      const bool line_ends = k + 1 == count || at(list, k + 1).line != at(list, k).line;
      line_last[static_cast<size_t>(k)] = line_ends ? k : line_last[static_cast<size_t>(k) + 1];
      const bool semicolon = at(list, k).kind == TK_SEMICOLON;
      next_semicolon[static_cast<size_t>(k)] =
          semicolon ? k : (k + 1 == count ? count : next_semicolon[static_cast<size_t>(k) + 1]);
    }
  }

  int count() const { return tokens.count(); }
  int partner(int index) const { return match[static_cast<size_t>(index)]; }

  // A statement whose grammar does not close ends at the first `;` of its
  // line, or else with the line.
  int line_end(int index) const {
    return std::min(next_semicolon[static_cast<size_t>(index)], line_last[static_cast<size_t>(index)]);
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
      if (module.partner(k) < 0) return module.line_last[static_cast<size_t>(k)];  // never closes
      if (declaration && token.kind == TK_LBRACE) return module.partner(k);
      k = module.partner(k);
    }
  }
  return count - 1;
}

}  // namespace

// import CLAUSE from 'm' ;   (top level only)   -> the statement's source text in imports
void detect_imports(AnalysisResult& result, const TokenList& tokens, std::string_view source) {
  if (!any_token_of(tokens, TK_IMPORT)) return;
  const ModuleStatements module(tokens);
  for_each_top_level(module, TK_IMPORT, [&](int keyword) {
    // A dynamic `import(...)` or `import.meta` is an expression, not a declaration.
    const int next = kind_at(tokens, keyword + 1);
    if (next == TK_LPAREN || next == TK_DOT) return keyword;
    int last = import_statement_last(module, keyword);
    if (last < 0) last = module.line_end(keyword);
    result.imports.push_back(source_text(source, at(tokens, keyword).start, at(tokens, last).end));
    return last;
  });
}

// export ... ;   (top level only)   -> the whole statement's source text in exports
void detect_exports(AnalysisResult& result, const TokenList& tokens, std::string_view source) {
  if (!any_token_of(tokens, TK_EXPORT)) return;
  const ModuleStatements module(tokens);
  for_each_top_level(module, TK_EXPORT, [&](int keyword) {
    const int last = export_statement_last(module, keyword);
    result.exports.push_back(source_text(source, at(tokens, keyword).start, at(tokens, last).end));
    return last;
  });
}

// ---------------------------------------------------------------------------
// Function bodies

void add_return_type(FuncInfo& function, int kind) {
  TypeInfo& type = function.return_type;
  if (type.kind == TYPE_NONE) {
    type.kind = kind;
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
    const std::string& method = at(tokens, after + 1).text;
    if (in_words(method, kShapeStringMethods)) return TYPE_STRING;
    if (in_words(method, kShapeNumberMethods)) return TYPE_NUMBER;
    if (in_words(method, kShapeArrayMethods)) return TYPE_ARRAY;
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

  void record(std::string_view parameter, const std::string& field, int kind) {
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
        shape.fields[n].kind = kind;
      } else {
        shape.fields[n].kind = TYPE_NONE;
        conflicts.insert(key);
      }
      return;
    }
    if (static_cast<int>(shape.fields.size()) < kMaxShapeFields) shape.fields.push_back(ShapeField{field, kind});
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
void capture_function_bodies(AnalysisResult& result, const TokenList& tokens, std::string_view source) {
  const int count = tokens.count();
  const std::vector<int> match = match_brackets(tokens);

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

  // A body inside another function's body is a second copy of the same
  // text. Functions nested a thousand levels deep would hold a number of
  // copies that grows with the square of the file, so nested bodies are
  // copied only while they stay within a budget linear in the source size;
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
    const int body_start = at(tokens, open).end;
    const int body_end = std::max(at(tokens, close).start, body_start);
    // Records are in source order, so the bodies around this one are the
    // captured ones that have not ended yet.
    while (!enclosing_ends.empty() && enclosing_ends.back() <= body_start) enclosing_ends.pop_back();
    const size_t size = static_cast<size_t>(body_end - body_start);
    const bool copied = enclosing_ends.empty() || size <= nested_budget;
    if (!enclosing_ends.empty() && copied) nested_budget -= size;
    enclosing_ends.push_back(body_end);
    if (copied) {
      function.body = source_text(source, body_start, body_end);
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
    for (const int r : own_returns(tokens, match, open + 1, close)) {
      if (r + 1 >= close || at(tokens, r + 1).line != at(tokens, r).line) continue;
      const int kind = infer_literal_type(&at(tokens, r + 1));
      if (kind != TYPE_NONE) add_return_type(function, kind);
    }
  }
  record_param_shapes(result, tokens, match);
}
