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

// One name id per token, -1 for the tokens that are not identifiers: two
// bytes a token while the file has fewer than 65535 names, as nearly every
// file has (the index is held for the whole analysis, beside the tokens);
// four once a name passes that.
class NameIds {
 public:
  void assign(std::size_t count) {
    narrow_.assign(count, kNone);
    wide_.clear();
  }
  void set(std::size_t k, int id) {
    if (wide_.empty() && id >= kNone) widen();
    if (wide_.empty()) {
      narrow_[k] = static_cast<std::uint16_t>(id);
    } else {
      wide_[k] = id;
    }
  }
  int operator[](std::size_t k) const {
    if (!wide_.empty()) return wide_[k];
    return narrow_[k] == kNone ? -1 : narrow_[k];
  }
  std::size_t size() const { return wide_.empty() ? narrow_.size() : wide_.size(); }

 private:
  static constexpr std::uint16_t kNone = 0xFFFF;
  void widen() {
    wide_.resize(narrow_.size());
    for (std::size_t k = 0; k < narrow_.size(); ++k) wide_[k] = narrow_[k] == kNone ? -1 : narrow_[k];
    std::vector<std::uint16_t>().swap(narrow_);
  }
  std::vector<std::uint16_t> narrow_;
  std::vector<int> wide_;
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
  NameIds name_id;
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
