// Small text tests that every stage shares: the bytes of a name, and a word
// among a few. Where a stage reads names by another rule on purpose, the
// rule is one of those below and this header says why.
#pragma once

#include <algorithm>
#include <initializer_list>
#include <iterator>
#include <string_view>

// The bytes of a JavaScript identifier, as the tokenizer reads them: ASCII
// letters, `_`, `$`, and every byte of a multi-byte UTF-8 sequence, so that
// names in any script stay whole; digits after the first byte. The emitter
// (import bindings, exported names), the narrowing rewriter and the
// hardening of the generated file read names by the same rule.
constexpr bool is_identifier_start_byte(char c) {
  const auto b = static_cast<unsigned char>(c);
  return (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || b == '_' || b == '$' || b >= 0x80;
}
constexpr bool is_digit_byte(char c) { return c >= '0' && c <= '9'; }
constexpr bool is_identifier_byte(char c) { return is_identifier_start_byte(c) || is_digit_byte(c); }

// The rules that differ on purpose:
// - The narrowing rewriter counts `#` as part of a word (`x` in `#x` is not
//   the variable x): is_identifier_byte(c) || c == '#'.
// - ASCII only: the inline emitter writes a name bare only when it is a
//   plain ASCII identifier (any other name is quoted, which is always
//   valid), and the inline check reads the words of the compiler's
//   messages, which quote names in ASCII. Letters, digits, `_` and `$`.
// - Pass 4's returned-object rule reads the name after `return ` without
//   `$` (is_ascii_identifier_byte(c) && c != '$'): a name with `$` is cut
//   there, which the output depends on.
constexpr bool is_ascii_identifier_byte(char c) {
  const auto b = static_cast<unsigned char>(c);
  return b < 0x80 && is_identifier_byte(c);
}
// A whole plain ASCII identifier: not empty, no digit first.
constexpr bool is_ascii_identifier(std::string_view name) {
  if (name.empty() || is_digit_byte(name.front())) return false;
  return std::all_of(name.begin(), name.end(), is_ascii_identifier_byte);
}

// Whether `word` is one of `words`, compared exactly.
constexpr bool is_one_of(std::string_view word, std::initializer_list<std::string_view> words) {
  return std::find(words.begin(), words.end(), word) != words.end();
}
template <typename Words>
constexpr bool is_one_of(std::string_view word, const Words& words) {
  return std::find(std::begin(words), std::end(words), word) != std::end(words);
}
