#include "analysis/token_helpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/tokenizer.h"

namespace {

// Every helper answers "nothing" outside the list, on both sides and on an
// empty list, and reads the token inside it.
TEST(TokenHelpers, OutsideTheListMatchesNothing) {
  const TokenList tokens = tokenize("let x = \"y\";");  // let x = "y" ;
  const TokenList empty;
  struct Case {
    const TokenList* list;
    int index;
    TokenKind kind;
    std::string_view text;
  } cases[] = {
      {&tokens, -1, TK_NONE, ""},        {&tokens, 5, TK_NONE, ""},
      {&tokens, 1000000, TK_NONE, ""},   {&empty, 0, TK_NONE, ""},
      {&tokens, 0, TK_LET, "let"},       {&tokens, 1, TK_IDENTIFIER, "x"},
      {&tokens, 3, TK_STRING, "y"},      {&tokens, 4, TK_SEMICOLON, ";"},
  };
  for (const Case& c : cases) {
    const TokenList& list = *c.list;
    const bool inside = c.kind != TK_NONE;
    EXPECT_EQ(in_bounds(list, c.index), inside) << c.index;
    EXPECT_EQ(kind_at(list, c.index), c.kind) << c.index;
    EXPECT_EQ(token_at(list, c.index) != nullptr, inside) << c.index;
    EXPECT_EQ(text_at(list, c.index), c.text) << c.index;
    EXPECT_EQ(is_kind(list, c.index, c.kind), inside) << c.index;
    EXPECT_EQ(text_is(list, c.index, c.text), inside) << c.index;
    // The "none" kind and the empty text never match a real token either.
    EXPECT_FALSE(is_kind(list, c.index, TK_NONE)) << c.index;
  }
}

TEST(TokenHelpers, WordTestsTellKindsApart) {
  const TokenList tokens = tokenize("if x \"x\" const in .const");
  struct Case {
    int index;
    std::string_view word;
    bool identifier;  // is_identifier
    bool word_test;   // is_word (identifier or reserved word)
    bool declaration;
  } cases[] = {
      {0, "if", false, true, false},        // reserved word
      {1, "x", true, true, false},          // identifier
      {2, "x", false, false, false},        // a string spelled x is no word
      {3, "const", false, false, true},     // keyword with a kind of its own
      {4, "in", false, true, false},
      {6, "const", true, true, false},      // after a dot: a property name
      {7, "x", false, false, false},        // past the end
  };
  for (const Case& c : cases) {
    EXPECT_EQ(is_identifier(tokens, c.index, c.word), c.identifier) << c.index;
    const Token* token = token_at(tokens, c.index);
    EXPECT_EQ(token != nullptr && is_word(*token, c.word), c.word_test) << c.index;
    EXPECT_EQ(is_declaration_at(tokens, c.index), c.declaration) << c.index;
  }
}

struct Record {
  std::string name;
  int value = 0;
};

TEST(FirstByName, FindsTheFirstRecordOfEachName) {
  std::vector<Record> records = {{"a", 1}, {"b", 2}, {"a", 3}, {"", 4}, {"b", 5}};
  const FirstByName index(records);
  struct Case {
    std::string_view name;
    int position;
    int value;
  } cases[] = {{"a", 0, 1}, {"b", 1, 2}, {"", 3, 4}, {"c", -1, 0}, {"ab", -1, 0}};
  for (const Case& c : cases) {
    EXPECT_EQ(index.position(c.name), c.position) << c.name;
    Record* found = index.find(c.name);
    ASSERT_EQ(found != nullptr, c.position >= 0) << c.name;
    if (found != nullptr) {
      EXPECT_EQ(found->value, c.value) << c.name;
    }
  }
  // The records found are the list's own: a write through the index lands in it.
  index.find("b")->value = 20;
  EXPECT_EQ(records[1].value, 20);
  EXPECT_EQ(records[4].value, 5);
}

TEST(FirstByName, ReadsAConstListAndAnEmptyOne) {
  const std::vector<Record> records = {{"x", 7}, {"x", 8}};
  const FirstByName index(records);
  const Record* found = index.find(std::string("x"));
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found, &records[0]);
  const std::vector<Record> none;
  EXPECT_EQ(FirstByName(none).find("x"), nullptr);
}

TEST(NameTables, AreSearchedWithAnyStringLikeKey) {
  NameMap<int> map;
  map.emplace("alpha", 1);
  const std::string owned = "alpha";
  EXPECT_EQ(map.find(std::string_view(owned).substr(0, 5))->second, 1);
  EXPECT_EQ(map.find(std::string_view("alph")), map.end());
  NameSet set = {"beta"};
  EXPECT_TRUE(set.contains(std::string_view("beta")));
  EXPECT_FALSE(set.contains(std::string_view("bet")));
}

// With templates split, the code of placeholders comes as tokens between the
// runs of template text; the plain tokenizer keeps the template whole.
TEST(TokenizeSplitTemplates, ReadsPlaceholdersAsCode) {
  struct Case {
    std::string_view source;
    std::vector<TokenKind> kinds;
  } cases[] = {
      {"`a${x}b`", {TK_STRING, TK_IDENTIFIER, TK_STRING}},
      {"`${ {a: 1}.a }`", {TK_STRING, TK_LBRACE, TK_IDENTIFIER, TK_COLON, TK_NUMBER, TK_RBRACE, TK_DOT,
                           TK_IDENTIFIER, TK_STRING}},
      {"`${`in${y}`}` / 2", {TK_STRING, TK_STRING, TK_IDENTIFIER, TK_STRING, TK_STRING, TK_SLASH, TK_NUMBER}},
      {"`open ${ const", {TK_STRING, TK_CONST}},
      {"`never closed", {TK_STRING}},
      {"{ } }", {TK_LBRACE, TK_RBRACE, TK_RBRACE}},  // a stray `}` outside any template
  };
  for (const Case& c : cases) {
    TokenList tokens;
    tokens.base = c.source.data();
    tokenize_split_templates(c.source, [&tokens](const Token& token) { tokens.items.push_back(token); });
    std::vector<TokenKind> kinds;
    for (const Token& token : tokens.items) kinds.push_back(static_cast<TokenKind>(token.kind));
    EXPECT_EQ(kinds, c.kinds) << c.source;
    // Tokens cover the source in order, without overlap.
    int end = 0;
    for (int i = 0; i < tokens.count(); ++i) {
      EXPECT_LE(end, tokens.start(i)) << c.source;
      EXPECT_LT(tokens.start(i), tokens.end(i)) << c.source;
      end = tokens.end(i);
    }
    EXPECT_LE(end, static_cast<int>(c.source.size())) << c.source;
  }
  EXPECT_EQ(tokenize("`a${x}b`").count(), 1);
}

// Split on its own, a template literal gives the tokens tokenize_split_templates
// gives for it, and the offset just past its closing backquote.
TEST(TokenizeSplitTemplates, SplitsOneLiteralAndSaysWhereItCloses) {
  struct Case {
    std::string_view source;
    std::size_t closed;
  } cases[] = {
      {"`a${x}b` + y", 8},
      {"`plain` `next`", 7},
      {"`${ {a: 1}.a }`; z", 15},
      {"`${`in${y}`}` / 2", 13},
      {"`${ '}`' }` x", 11},
      {"`${ a = /x }` + 1 /; b", std::string_view::npos},  // the regular expression swallows the backquote
      {"`open ${ x", std::string_view::npos},
      {"x `a`", std::string_view::npos},
  };
  for (const Case& c : cases) {
    std::vector<std::pair<int, int>> alone;
    const std::size_t closed = split_template_literal(c.source, [&](const Token& token) {
      alone.emplace_back(token_start(c.source.data(), token), token_end(c.source.data(), token));
    });
    EXPECT_EQ(closed, c.closed) << c.source;
    std::vector<std::pair<int, int>> whole;
    tokenize_split_templates(c.source, [&](const Token& token) {
      whole.emplace_back(token_start(c.source.data(), token), token_end(c.source.data(), token));
    });
    if (closed == std::string_view::npos) continue;
    ASSERT_FALSE(alone.empty()) << c.source;
    EXPECT_EQ(alone.back().second, static_cast<int>(closed)) << c.source;
    whole.resize(std::min(whole.size(), alone.size()));
    EXPECT_EQ(alone, whole) << c.source;
  }
}

}  // namespace
