// Token walks shared by the declaration scan, the structure capture and the
// later passes: bracket matching, statement and expression boundaries,
// parameter lists, nested bodies and their returns. Explicit stacks and
// bracket jumps, never recursion, so nesting depth costs neither stack nor
// rescans.
#include "analysis/syntax.h"

#include <algorithm>
#include <initializer_list>
#include <unordered_map>
#include <unordered_set>

#include "core/text.h"

namespace {

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
      return !is_one_of(token.text, {"typeof", "new", "await"});
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

}  // namespace

int after_group(const std::vector<int>& match, int open, int count) {
  const int close = match[static_cast<size_t>(open)];
  return close < 0 ? count : close + 1;
}

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

std::string_view source_view(std::string_view source, int start, int end) {
  const size_t size = source.size();
  const size_t from = std::min(static_cast<size_t>(std::max(start, 0)), size);
  const size_t to = std::min(static_cast<size_t>(std::max(end, 0)), size);
  return to > from ? source.substr(from, to - from) : std::string_view();
}

std::string source_text(std::string_view source, int start, int end) {
  return std::string(source_view(source, start, end));
}

std::vector<ShapeField> object_pattern_keys(const TokenList& tokens, const std::vector<int>& match,
                                            int open, int limit) {
  std::vector<ShapeField> keys;
  const int close = parameter_group_close(tokens, match, open, limit);
  for (const auto& [first, end] : elements_between(tokens, match, open, close)) {
    if (first >= end || at(tokens, first).kind != TK_IDENTIFIER) continue;
    ShapeField key{std::string(at(tokens, first).text), TYPE_NONE};
    const int next = kind_at(tokens, first + 1);
    if (first + 1 < end && next == TK_ASSIGN) {
      key.kind = static_cast<TypeKind>(literal_kind_of_range(tokens, first + 2, end));
    } else if (first + 1 < end && next == TK_COLON) {
      // `a: b = 1` takes the default of the renamed binding.
      if (first + 3 < end && at(tokens, first + 2).kind == TK_IDENTIFIER && at(tokens, first + 3).kind == TK_ASSIGN) {
        key.kind = static_cast<TypeKind>(literal_kind_of_range(tokens, first + 4, end));
      }
    } else if (first + 1 < end) {
      continue;
    }
    keys.push_back(std::move(key));
  }
  return keys;
}

namespace {

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
                               : source_text(source, tokens.start(open), tokens.end(close));
    return close;
  }
  param.type.kind = TYPE_ARRAY;
  if (!for_signature) {
    param.name = source_text(source, tokens.start(open), tokens.end(close));
    return close;
  }
  std::vector<std::string> names;
  std::vector<std::pair<int, int>> elements = elements_between(tokens, match, open, stop);
  while (!elements.empty() && elements.back().first >= elements.back().second) elements.pop_back();
  for (const auto& [first, element_end] : elements) {
    const bool bare = first < element_end && at(tokens, first).kind == TK_IDENTIFIER &&
                      (first + 1 == element_end || at(tokens, first + 1).kind == TK_ASSIGN);
    names.push_back(bare ? std::string(at(tokens, first).text) : std::string());
  }
  param.name = joined(names, "[", "]");
  return close;
}

}  // namespace

// ---------------------------------------------------------------------------
// Token helpers

TokenPositions positions_of_kind(const TokenList& tokens, int kind) {
  TokenPositions index;
  index.count = tokens.count();
  for (int i = 0; i < index.count; ++i) {
    if (at(tokens, i).kind == kind) index.positions.push_back(i);
  }
  return index;
}

TokenPositions line_last_positions(const TokenList& tokens) {
  TokenPositions index;
  index.count = tokens.count();
  for (int i = 0; i < index.count; ++i) {
    if (i + 1 == index.count || at(tokens, i + 1).line != at(tokens, i).line) index.positions.push_back(i);
  }
  return index;
}

int next_at(const TokenPositions& index, int from) {
  const auto found = std::lower_bound(index.positions.begin(), index.positions.end(), std::max(from, 0));
  return found == index.positions.end() ? index.count : *found;
}

int last_at(const TokenPositions& index, int from) {
  const auto found = std::upper_bound(index.positions.begin(), index.positions.end(), from);
  return found == index.positions.begin() ? -1 : *(found - 1);
}

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
        if (is_one_of(token.text, {"typeof", "await", "new"})) {
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
        param.name = "..." + std::string(target.text);
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
        param.type.kind = static_cast<TypeKind>(literal_kind_of_range(tokens, first + 2, end));
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
        param.default_text = source_text(source, tokens.start(default_at + 1), tokens.end(end - 1));
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
  if (token.kind == TK_IDENTIFIER) {  // method shorthand
    // `for await (...) {` is a loop: its block is no body of a method `await`.
    if (token.text == "await" && kind_at(tokens, index - 1) == TK_FOR) return -1;
    return body_after(index + 1);
  }
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

std::vector<bool> function_body_tokens(const TokenList& tokens, const std::vector<int>& match) {
  const int count = tokens.count();
  // +1 where a body's inside starts, -1 at its closing brace; a body may be
  // counted twice (`function f() {` is also `f() {`), which the sum allows.
  // Bodies are far fewer than tokens: the changes are listed, not spread
  // over an array of the list's length.
  std::vector<std::pair<int, int>> change;  // position, change
  for (int k = 0; k < count; ++k) {
    const int body = nested_body_open(tokens, match, k, true);
    if (body < 0 || match[static_cast<size_t>(body)] < 0) continue;
    change.emplace_back(body + 1, 1);
    change.emplace_back(match[static_cast<size_t>(body)], -1);
  }
  std::sort(change.begin(), change.end());
  std::vector<bool> inside(static_cast<size_t>(count));
  int depth = 0;
  size_t next = 0;
  for (int k = 0; k < count; ++k) {
    for (; next < change.size() && change[next].first == k; ++next) depth += change[next].second;
    inside[static_cast<size_t>(k)] = depth > 0;
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

