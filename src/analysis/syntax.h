// Token walks shared by the declaration scan, the structure capture and the
// later passes. They walk the token list with explicit stacks and bracket
// jumps, never by recursion, so nesting depth costs neither stack nor rescans.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "analysis/analyzer.h"
#include "analysis/token_helpers.h"

// For each of ( [ { ) ] } the index of its partner; -1 for an unmatched bracket
// and for every other token. A stray closer is ignored; a closer that skips
// open brackets of another kind leaves those unmatched.
std::vector<int> match_brackets(const TokenList& tokens);

// The positions of some tokens (those of one kind, the last of each line), in
// order. "The first such token at or after i" is a binary search in them: one
// number per such token rather than one per token of the file, which a bundle
// of a million tokens would feel in its peak memory.
struct TokenPositions {
  std::vector<int> positions;
  int count = 0;  // the token count, what a search past the last one gives
};

// The stages read these lists from the file index, which builds them in one
// sweep; this literal twin stays for the test that checks the index by it.
TokenPositions positions_of_kind(const TokenList& tokens, int kind);
// The last token of each line.
TokenPositions line_last_positions(const TokenList& tokens);
// The first position >= `from`; the token count when there is none.
int next_at(const TokenPositions& index, int from);
// The last position <= `from`; -1 when there is none.
int last_at(const TokenPositions& index, int from);

// A line break before token `index` ends the statement before it: the previous
// token ends a value and this one cannot continue an expression.
bool is_line_break_boundary(const TokenList& tokens, int index);

// Token `index` ends the expression running before it: `,` `;` a closing
// bracket, a statement-ending line break, or the end of the list.
bool ends_expression(const TokenList& tokens, int index);

// The construct starting at `index` (after an optional `async`) stands where a
// statement starts, not inside an expression.
bool in_statement_position(const TokenList& tokens, int index);

// `function NAME (` or the generator `function * NAME (` at `index` in a
// statement position (not a function expression, which stands after `=`,
// `(`, `,`, `:`, `return` and the like): the index of NAME, or -1. The scan
// records these as functions and the capture finds their bodies by the same
// test, so both see the same declarations in the same order.
int function_declaration_name(const TokenList& tokens, int index);

// One expression from `start`: `end` is the index of the token that ends it
// (ends_expression, or a `:` with no open `?`), `top_tokens` the number of its
// tokens outside brackets (a bracketed group counts as one), `kind` what the
// expression yields when its operators prove it: a comparison gives boolean,
// arithmetic number, `+` with a string literal string, `typeof x` string.
// Conditionals, logical and `??` operators, optional chains and assignments
// give 0. With `literal_kinds`, a lone literal gives its kind and `!x` boolean;
// without it they give 0 (the flow passes type variables from those forms).
struct ExpressionScan {
  int kind = 0;
  int end = 0;
  int top_tokens = 0;
};
ExpressionScan scan_expression(const TokenList& tokens, const std::vector<int>& match, int start,
                               bool literal_kinds);

// The comma-separated elements between the bracket at `open` and its partner,
// as [first, end) token ranges; empty ones (array holes) are kept.
std::vector<std::pair<int, int>> group_elements(const TokenList& tokens, const std::vector<int>& match,
                                                int open);

// The end of the bracketed group at `open`, at most `limit`: its partner, or
// for a group that never closes the first token past it, the group ending
// with its line or where a new statement or declaration starts.
int parameter_group_close(const TokenList& tokens, const std::vector<int>& match, int open, int limit);

// The kind of a value written as the tokens [first, end): a single literal or
// a signed number; 0 for anything longer.
int literal_kind_of_range(const TokenList& tokens, int first, int end);

// One parameter of a parameter list, as the records keep it.
struct ParamInfo {
  std::string name;
  TypeInfo type;
  std::vector<ShapeField> keys;  // the keys of an object pattern
  bool plain = false;            // a plain name (not a pattern, not a rest parameter)
  bool has_default = false;      // written with `= VALUE`
  std::string default_text;      // VALUE as written in the source (needs the source)
};

// The parameters between the `(` at `open` and its partner. A default value
// that is a single literal gives the parameter its kind; `...rest` keeps its
// dots in the name and is an array; a destructuring pattern is named by its
// source text (`for_signature` false: the name binds the body's locals) or by
// its bare names (`for_signature` true: a type signature, where defaults are
// not allowed), an object pattern being an object of its keys and an array
// pattern an array. A list that never closes ends with its line.
std::vector<ParamInfo> parse_params(const TokenList& tokens, const std::vector<int>& match,
                                    std::string_view source, int open, bool for_signature);

// For each parameter, 1 when a call may leave it out: it has a default value,
// and so has every later parameter but a rest one (a signature allows no
// required parameter after an optional one).
std::vector<int> optional_parameters(const std::vector<ParamInfo>& params);

// When a nested function, method or class body starts at token `index`
// (`function`, `NAME ( ... ) {`, `class`, or with `arrows` an `=> {`), the
// index of that body's `{`; otherwise -1.
int nested_body_open(const TokenList& tokens, const std::vector<int>& match, int index, bool arrows);

// For each token, whether it stands inside the body of a function, arrow,
// method or class (between the body's braces): a declaration there is a
// local of that body, not a name of the module's top level.
std::vector<bool> function_body_tokens(const TokenList& tokens, const std::vector<int>& match);

// The `return` tokens in [first, end) that belong to the code itself, not to
// a function, method or class nested in it.
std::vector<int> own_returns(const TokenList& tokens, const std::vector<int>& match, int first, int end);

// Index just past the bracketed group opening at `open` (the end of the list
// when it never closes).
int after_group(const std::vector<int>& match, int open, int count);

// The source bytes [start, end), clamped to the source; empty when the range
// is empty.
std::string source_text(std::string_view source, int start, int end);
// The same extent as a view of `source`.
std::string_view source_view(std::string_view source, int start, int end);

// The keys of the object pattern `{ ... }` opening at `open`: `a`, `a = 1`,
// `a: b`, `a: b = 1`. Rest elements and computed or quoted keys are left out.
std::vector<ShapeField> object_pattern_keys(const TokenList& tokens, const std::vector<int>& match,
                                            int open, int limit);
