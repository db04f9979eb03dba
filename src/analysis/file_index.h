// The index of one file's tokens: what several stages ask of the token list
// (bracket and brace partners, statement ends, the tokens inside function
// bodies, the positions of a few kinds), built once right after the tokenizer
// and handed to every stage that needs it. A bundle of a million tokens would
// otherwise be walked, and its per-token arrays filled, again by each stage.
// The index views nothing: it stays valid while the token list it was built
// from is unchanged.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <utility>
#include <vector>

#include "analysis/syntax.h"

// A slot of the name table: an id and the hash of its spelling; id -1 when free.
struct NameSlot {
  std::uint32_t hash = 0;
  int id = -1;
};

struct FileIndex {
  int count = 0;  // the token count

  // For each of ( [ { ) ] } the index of its partner (match_brackets).
  std::vector<int> match;

  // Where a nested function, arrow, method or class body starts
  // (nested_body_open with arrows): the token and the body's `{`, in order;
  // and the `return` tokens. Far fewer than the tokens, so a walk over a
  // body's own returns visits them alone.
  std::vector<std::pair<int, int>> body_starts;
  TokenPositions returns;

  // For each token, whether it stands inside a function, arrow, method or
  // class body (function_body_tokens).
  std::vector<bool> in_function;  // one bit per token

  // Statement ends: the last token of each line, and the semicolons.
  TokenPositions line_last;
  TokenPositions semicolons;

  // The positions of a few kinds that rules search forward or back for.
  TokenPositions colons;
  TokenPositions questions;
  TokenPositions arrows;
  TokenPositions left_braces;
  TokenPositions right_brackets;

  // Braces paired by braces alone, the way a depth counter walks them: a `}`
  // closes the innermost open `{` whatever other brackets stand between
  // them. The class walks and the switch rule count depth that way, and on
  // unbalanced input (`( { ) }`, `{ [ { ] }`) that pairs braces differently
  // from `match`, which lets a closer skip open brackets of another kind and
  // ignores a stray one. Both pairings are behaviour; both are kept, each
  // computed once. The two agree on almost every brace of real code, so only
  // the braces where they differ are stored.

  // Index of the `}` that closes the `{` at `open` by that rule; the end of
  // the list when none does.
  int brace_close(int open) const;
  // Index just past it; the end of the list when none does.
  int brace_after(int open) const;
  // The literal kinds of the tokens after every `return` inside the brace
  // group at `open`, at any depth, each once, in order of first appearance.
  const std::vector<int>& returned_kinds(int open) const;

  // own_returns(tokens, match, first, end) from the lists above.
  std::vector<int> own_returns(int first, int end) const;
  // nested_body_open(tokens, match, index, arrows) when index only grows
  // from call to call: `cursor` (start at 0) follows the body starts.
  int nested_body_open(const TokenList& tokens, int index, bool arrows, size_t& cursor) const;

  // The spelling of each identifier token as a number: tokens spelled alike
  // share an id, ids count from 0 in order of first use, every other token
  // has -1. A rule that looks a name up at many tokens keys its table by id
  // (a vector indexed by it), so that each token's text is hashed once per
  // file here instead of once per lookup in every stage.
  std::vector<int> name_id;
  std::vector<std::string_view> names;  // the spelling of each id; views the source
  int name_count() const { return static_cast<int>(names.size()); }
  // The id of the identifiers spelled `name`; -1 when no identifier is.
  int id_of(std::string_view name) const;
  // The ids by hash of their spelling, open addressing; a power of two at
  // least twice the name count.
  std::vector<NameSlot> name_slots;

  // Where the brace rule's partner differs from `match`: -1 for a `{` that
  // it leaves open.
  std::unordered_map<int, int> brace_partner_differs;
  std::unordered_map<int, std::vector<int>> brace_returned_kinds;
};

// The index of a token list, in a few linear walks.
FileIndex index_file(const TokenList& tokens);
