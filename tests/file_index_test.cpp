// The file index: what it gives is what each stage computed for itself before,
// most of all where two pairings of the braces disagree on unbalanced input.
#include "analysis/file_index.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "analysis/syntax.h"
#include "core/tokenizer.h"
#include "random_program.h"

namespace {

// For each `{`, the `}` that closes it when braces are counted alone (a `}`
// closes the innermost open `{`, a stray `}` is ignored); the token count for
// one that never closes. The depth counter the class walks and the switch
// rule were written with.
std::vector<int> depth_counter_partners(const TokenList& tokens) {
  const int count = tokens.count();
  std::vector<int> close(static_cast<size_t>(count), count);
  std::vector<int> open;
  for (int k = 0; k < count; ++k) {
    const int kind = tokens.items[static_cast<size_t>(k)].kind;
    if (kind == TK_LBRACE) {
      open.push_back(k);
    } else if (kind == TK_RBRACE && !open.empty()) {
      close[static_cast<size_t>(open.back())] = k;
      open.pop_back();
    }
  }
  return close;
}

TEST(FileIndex, BracePartnersFollowTheDepthCounterWhereTheBracketPairingDiffers) {
  struct Case {
    const char* source;
    bool pairings_differ;  // the bracket pairing gives some `{` another partner
  } cases[] = {
      {"function f() { if (a) { b(); } }", false},
      {"class A { m() { return [1, { x: 2 }]; } }", false},
      {"( { ) }", true},                  // the `)` leaves the `{` unmatched; the `}` is stray to it
      {"{ [ { ] }", true},
      {"{ ( }", false},                   // both pair the braces, the `(` stays open
      {"{ { }", false},                   // the outer `{` never closes, by either rule
      {"} { ] { ) } }", false},
      {"{ a ( [ } ) ] } {", false},       // the `}` skips the open `(` and `[` alike
      {"{ ( { ) }", true},                // the `)` leaves the inner `{` open; the `}` closes it
      {"", false},
  };
  for (const Case& c : cases) {
    const TokenList tokens = tokenize(c.source);
    const FileIndex index = index_file(tokens);
    const std::vector<int> expected = depth_counter_partners(tokens);
    EXPECT_EQ(index.match, match_brackets(tokens)) << c.source;
    bool differ = false;
    for (int k = 0; k < tokens.count(); ++k) {
      if (tokens.items[static_cast<size_t>(k)].kind != TK_LBRACE) continue;
      const int close = expected[static_cast<size_t>(k)];
      EXPECT_EQ(index.brace_close(k), close) << c.source << " at " << k;
      EXPECT_EQ(index.brace_after(k), close < tokens.count() ? close + 1 : tokens.count()) << c.source << " at " << k;
      const int partner = index.match[static_cast<size_t>(k)];
      differ = differ || (partner < 0 ? tokens.count() : partner) != close;
    }
    EXPECT_EQ(differ, c.pairings_differ) << c.source;
  }
}

TEST(FileIndex, ReturnedKindsGatherEveryDepthInOrderOfFirstAppearance) {
  // { return 1 ; { return 'a' ; } return 1 ; { return true } } {
  const TokenList tokens = tokenize("{ return 1; { return 'a'; } return 1; { return true } } { return 2");
  const FileIndex index = index_file(tokens);
  EXPECT_EQ(index.returned_kinds(0), (std::vector<int>{TYPE_NUMBER, TYPE_STRING, TYPE_BOOLEAN}));
  EXPECT_EQ(index.returned_kinds(4), (std::vector<int>{TYPE_STRING}));
  const int last_open = tokens.count() - 3;
  ASSERT_EQ(tokens.items[static_cast<size_t>(last_open)].kind, TK_LBRACE);
  EXPECT_EQ(index.returned_kinds(last_open), (std::vector<int>{TYPE_NUMBER}));  // never closed
  EXPECT_TRUE(index.returned_kinds(1).empty());  // not a brace
}

// The mask counts a body found twice (`function f() {` is also `f() {`) once,
// nests, and leaves out a body that never closes.
TEST(FileIndex, InFunctionMarksTheTokensBetweenTheBracesOfABody) {
  const std::string source =
      "function f() { a; function g() { b; } c; } d; const h = () => { e; }; class K { m() { f2; } } "
      "function open() { z";
  const TokenList tokens = tokenize(source);
  const FileIndex index = index_file(tokens);
  std::string inside;
  for (int k = 0; k < tokens.count(); ++k) {
    const Token& token = tokens.items[static_cast<size_t>(k)];
    if (token.kind == TK_IDENTIFIER && token.text.size() <= 2 && index.in_function[static_cast<size_t>(k)]) {
      inside += std::string(token.text.view()) + " ";
    }
  }
  EXPECT_EQ(inside, "a g b c e m f2 ");
  EXPECT_EQ(index.in_function, function_body_tokens(tokens, index.match));
}

TEST(FileIndex, PositionListsHoldEveryTokenOfTheirKind) {
  const TokenList tokens = tokenize("let a = b ? { c: [1] } : d;\nconst e = (x) => x;\n[f] ; g");
  const FileIndex index = index_file(tokens);
  const struct {
    const TokenPositions& positions;
    int kind;
  } lists[] = {{index.semicolons, TK_SEMICOLON}, {index.colons, TK_COLON},       {index.questions, TK_QUESTION},
               {index.arrows, TK_ARROW},         {index.left_braces, TK_LBRACE}, {index.right_brackets, TK_RBRACKET}};
  for (const auto& list : lists) {
    const TokenPositions expected = positions_of_kind(tokens, list.kind);
    EXPECT_EQ(list.positions.positions, expected.positions) << token_kind_name(list.kind);
    EXPECT_EQ(list.positions.count, tokens.count());
  }
  EXPECT_EQ(index.line_last.positions, line_last_positions(tokens).positions);
}

// The own returns of any range and the body starts, read from the index,
// are those of the plain token walks, on nested, unclosed and random code.
TEST(FileIndex, OwnReturnsAndBodyStartsMatchThePlainWalks) {
  std::vector<std::string> sources = {
      "function f() { return 1; function g() { return 2; } return () => { return 3; }; }",
      "class A { m() { return this; } get x() { return 1 } } return; const h = x => { return x };",
      "function open() { return 1; function inner() { return 2; return",
      "for await (x of y) { return 1; } a(b) { return c(d) { return 1; } }",
      "return (function () { return [1, { a() { return 2; } }]; })(); return",
  };
  for (uint32_t seed = 1; seed <= 40; ++seed) sources.push_back(kvx_test::program_text(kvx_test::random_program(seed)));
  for (const std::string& source : sources) {
    const TokenList tokens = tokenize(source);
    const FileIndex index = index_file(tokens);
    const int count = tokens.count();
    const int step = std::max(1, count / 60);  // every range of a short source, a sample of a long one
    for (int first = 0; first <= count; first += step) {
      for (int end = first; end <= count + 1; end += step) {
        ASSERT_EQ(index.own_returns(first, end), own_returns(tokens, index.match, first, end))
            << source << "\n[" << first << ", " << end << ")";
      }
    }
    for (const bool arrows : {false, true}) {
      size_t cursor = 0;
      for (int k = 0; k < count; ++k) {
        ASSERT_EQ(index.nested_body_open(tokens, k, arrows, cursor), nested_body_open(tokens, index.match, k, arrows))
            << source << "\nat " << k;
      }
    }
  }
}

// Two identifier tokens share a name id exactly when they are spelled alike,
// other tokens have none, and id_of finds each spelling's id (and none for
// a spelling no identifier has, a keyword's included). Many names make the
// table grow several times; near-alike spellings (prefixes, one byte apart
// at any of the eight-byte words) must not meet. With more names than two
// bytes number (70,000), the ids widen and all of this still holds.
TEST(FileIndex, NameIdsAreEqualExactlyForEqualSpellings) {
  for (const int count : {3000, 70000}) {
    SCOPED_TRACE(count);
    std::string source = "a ab abc a.ab let x = ab; const é = 'a'; if (abcdefgh_1 < abcdefgh_2) abcdefgh_1;";
    for (int n = 0; n < count; ++n) {
      source += " v" + std::to_string(n) + " longer_name_of_some_length_" + std::to_string(n % 97) + "_x";
    }
    for (uint32_t seed = 1; seed <= 10; ++seed) source += "\n" + kvx_test::program_text(kvx_test::random_program(seed));
    const TokenList tokens = tokenize(source);
    const FileIndex index = index_file(tokens);
    ASSERT_EQ(index.name_id.size(), tokens.items.size());
    std::map<std::string, int> id_of_spelling;
    for (size_t k = 0; k < tokens.items.size(); ++k) {
      const Token& token = tokens.items[k];
      const int id = index.name_id[k];
      if (token.kind != TK_IDENTIFIER) {
        EXPECT_EQ(id, -1) << token.text;
        continue;
      }
      ASSERT_GE(id, 0) << token.text;
      ASSERT_LT(id, index.name_count());
      EXPECT_EQ(index.names[static_cast<size_t>(id)], token.text.view());
      const auto [known, added] = id_of_spelling.try_emplace(std::string(token.text.view()), id);
      EXPECT_EQ(known->second, id) << token.text;
    }
    EXPECT_EQ(static_cast<int>(id_of_spelling.size()), index.name_count());
    for (const auto& [spelling, id] : id_of_spelling) EXPECT_EQ(index.id_of(spelling), id) << spelling;
    for (const std::string& absent : {std::string(), std::string("abcd"), std::string("abcdefgh_3"),
                                      "v" + std::to_string(count), std::string("let"), std::string("const"),
                                      std::string("longer_name_of_some_length_97_x")}) {
      EXPECT_EQ(index.id_of(absent), -1) << absent;
    }
  }
}

}  // namespace
