// Token and name helpers shared by every analysis stage and the emitter.
//
// One contract for all of them: an index outside the token list is not an
// error, it simply matches nothing. kind_at() gives TK_NONE there, text_at()
// gives "", and every test (is_kind, is_identifier, text_is, ...) answers false.
// Each rule keeps its own scan bound; these helpers only make a look one or
// two tokens past that bound harmless.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/tokenizer.h"

// ---------------------------------------------------------------------------
// Tokens

inline bool in_bounds(const TokenList& tokens, int index) { return index >= 0 && index < tokens.count(); }

// The token at an index the caller's own scan bound keeps inside the list
// (unchecked: for the hot loops of the scan and the capture).
inline const Token& at(const TokenList& tokens, int index) { return tokens.items[static_cast<std::size_t>(index)]; }

inline bool is_opener(int kind) { return kind == TK_LPAREN || kind == TK_LBRACE || kind == TK_LBRACKET; }
inline bool is_closer(int kind) { return kind == TK_RPAREN || kind == TK_RBRACE || kind == TK_RBRACKET; }

// The token at `index`; null outside the list.
inline const Token* token_at(const TokenList& tokens, int index) {
  return in_bounds(tokens, index) ? &tokens.items[static_cast<std::size_t>(index)] : nullptr;
}

// The kind of the token at `index`; TK_NONE outside the list.
inline TokenKind kind_at(const TokenList& tokens, int index) {
  return in_bounds(tokens, index) ? static_cast<TokenKind>(tokens.items[static_cast<std::size_t>(index)].kind)
                                : TK_NONE;
}

// False outside the list, whatever `kind` is (TK_NONE included).
inline bool is_kind(const TokenList& tokens, int index, TokenKind kind) {
  return in_bounds(tokens, index) && tokens.items[static_cast<std::size_t>(index)].kind == kind;
}

// The text of the token at `index`; "" outside the list.
inline std::string_view text_at(const TokenList& tokens, int index) {
  return in_bounds(tokens, index) ? std::string_view(tokens.items[static_cast<std::size_t>(index)].text)
                                : std::string_view();
}

// The token at `index` has the text `word`, whatever its kind (a string
// literal "x" has the text x too).
inline bool text_is(const TokenList& tokens, int index, std::string_view word) {
  return in_bounds(tokens, index) && tokens.items[static_cast<std::size_t>(index)].text == word;
}

// The token at `index` is the identifier `word` (a reserved word or keyword
// spelled `word` is not).
inline bool is_identifier(const TokenList& tokens, int index, std::string_view word) {
  return is_kind(tokens, index, TK_IDENTIFIER) && tokens.items[static_cast<std::size_t>(index)].text == word;
}

// The token is an identifier or a reserved word spelled `word` (never a
// string, never a keyword with a kind of its own).
inline bool is_word(const Token& token, std::string_view word) {
  return (token.kind == TK_IDENTIFIER || token.kind == TK_RESERVED) && token.text == word;
}

// Words a class member may be named by besides identifiers: `delete(k) {}`
// and `import() {}` are methods as much as `get(k) {}`.
inline bool is_member_name(const TokenList& tokens, int index) {
  switch (kind_at(tokens, index)) {
    case TK_IDENTIFIER: case TK_RESERVED: case TK_LET: case TK_CONST: case TK_VAR: case TK_RETURN: case TK_FOR:
    case TK_SWITCH: case TK_CLASS: case TK_EXTENDS: case TK_IMPORT: case TK_EXPORT:
      return true;
    default:
      return false;
  }
}

// The token at `index` is `let`, `const` or `var`.
inline bool is_declaration_at(const TokenList& tokens, int index) {
  return in_bounds(tokens, index) && is_declaration_keyword(tokens.items[static_cast<std::size_t>(index)].kind);
}

// ---------------------------------------------------------------------------
// Names

// Hash of names that lets a table keyed by std::string be searched with a
// std::string_view, without building a string for each lookup.
struct NameHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view name) const noexcept { return std::hash<std::string_view>{}(name); }
};

// A table from names it owns to V, searched with any string-like key.
template <typename V>
using NameMap = std::unordered_map<std::string, V, NameHash, std::equal_to<>>;

// A table whose keys view names held elsewhere (the records of a list): the
// owner must keep those strings unchanged while the table is in use.
template <typename V>
using NameViewMap = std::unordered_map<std::string_view, V, NameHash, std::equal_to<>>;

// A set of names it owns, searched with any string-like key.
using NameSet = std::unordered_set<std::string, NameHash, std::equal_to<>>;

// The first record of each name in a list, which is what a first-match search
// of the list (find_var, find_class, ...) returns, gathered once so that a
// rule applied at many tokens does not rescan the list each time.
// The keys view the records' own names: the list must not grow, shrink or
// rename a record while the index is in use. Record may be const, for an
// index over a list that is only read.
template <typename Record>
class FirstByName {
 public:
  using List = std::vector<std::remove_const_t<Record>>;
  using ListRef = std::conditional_t<std::is_const_v<Record>, const List&, List&>;

  explicit FirstByName(ListRef list) : list_(&list) {
    positions_.reserve(list.size());
    for (std::size_t r = 0; r < list.size(); ++r) positions_.try_emplace(list[r].name, static_cast<int>(r));
  }

  // Position of the first record named `name` in the list; -1 when none.
  int position(std::string_view name) const {
    const auto found = positions_.find(name);
    return found == positions_.end() ? -1 : found->second;
  }

  // The first record named `name`; null when none.
  Record* find(std::string_view name) const {
    const int at = position(name);
    return at < 0 ? nullptr : &(*list_)[static_cast<std::size_t>(at)];
  }

 private:
  std::conditional_t<std::is_const_v<Record>, const List*, List*> list_;
  NameViewMap<int> positions_;
};

template <typename Record>
FirstByName(std::vector<Record>&) -> FirstByName<Record>;
template <typename Record>
FirstByName(const std::vector<Record>&) -> FirstByName<const Record>;
