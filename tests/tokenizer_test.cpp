#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/tokenizer.h"
#include "test_support.h"

namespace {

using kvx_test::token_kinds;

std::vector<std::string> token_texts(std::string_view source) {
  std::vector<std::string> texts;
  for (const Token& token : tokenize(source).items) texts.push_back(token.text);
  return texts;
}

std::string describe(const std::vector<int>& kinds) {
  std::string text;
  for (int kind : kinds) text += std::to_string(kind) + "(" + token_kind_name(kind) + ") ";
  return text;
}

struct KindCase {
  const char* source;
  std::vector<int> kinds;
};

TEST(Tokenizer, KindSequences) {
  const KindCase cases[] = {
      {"", {}},
      {"  \n\t  \n", {}},
      {"const x = a?.b;", {1, 10, 13, 10, 56, 10, 35}},
      {"let t = cond ? 'a' : \"b\";", {0, 10, 13, 10, 42, 12, 40, 12, 35}},
      {"var v;", {2, 10, 35}},
      {"this.#count = 0", {10, 39, 10, 13, 11}},
      {"`a ${id} b`", {12}},
      {"x ?? y", {10, 18, 10}},
      {"a === b == c !== d != e", {10, 19, 10, 19, 10, 20, 10, 20, 10}},
      {"a < b > c <= d >= e", {10, 22, 10, 23, 10, 24, 10, 25, 10}},
      {"a + b - c * d / e", {10, 14, 10, 15, 10, 16, 10, 17, 10}},
      {"a && b || !c", {10, 27, 10, 28, 43, 10}},
      {"(a) => { [b]; }", {29, 10, 30, 41, 31, 33, 10, 34, 35, 32}},
      {"for await (const x of xs)", {7, 10, 29, 1, 10, 10, 10, 30}},
      {"switch (k) { case 1: return 2; default: }", {9, 29, 10, 30, 31, 10, 11, 40, 4, 11, 35, 10, 40, 32}},
      {"class A extends B {}", {46, 10, 50, 10, 31, 32}},
      {"import x from 'y'; export default x;", {52, 10, 10, 12, 35, 53, 10, 10, 35}},
      {"async function f() {}", {57, 45, 10, 29, 30, 31, 32}},
      // Words the analysis relies on seeing as identifiers.
      {"new await typeof this true false case default static get constructor require console",
       {10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10}},
      // Reserved words get their own code, except as property names.
      {"x == null || y", {10, 19, 45, 28, 10}},
      {"cache.delete(k); p?.catch(e)", {10, 39, 10, 29, 10, 30, 35, 10, 56, 10, 29, 10, 30}},
      {"if (a in b) {} else while (c) do {}", {45, 29, 10, 45, 10, 30, 31, 32, 45, 45, 29, 10, 30, 45, 31, 32}},
      {"it.return(x); o.class; o.for", {10, 39, 10, 29, 10, 30, 35, 10, 39, 10, 35, 10, 39, 10}},
      // Comments produce nothing.
      {"a // b c\nd /* e\nf */ g", {10, 10, 10}},
      // Operators that no rule tests still come out as single tokens.
      {"a += 1; b++; c ?" "?= d; e ** f; g >>> h; ...i", {10, 8, 11, 35, 10, 5, 35, 10, 8, 10, 35, 10, 26, 10, 35, 10, 21, 10, 35, 6, 10}},
      // `?.` followed by a digit is a conditional with a decimal number.
      {"a?.5:b", {10, 42, 11, 40, 10}},
  };
  for (const KindCase& c : cases) {
    EXPECT_EQ(token_kinds(c.source), c.kinds) << c.source << "\n got: " << describe(token_kinds(c.source));
  }
}

TEST(Tokenizer, StringsAndTemplatesLoseOnlyTheirDelimiters) {
  EXPECT_EQ(token_texts("'it\\'s' \"q\" ``"), (std::vector<std::string>{"it\\'s", "q", ""}));
  EXPECT_EQ(token_texts("`x ${a} y`"), (std::vector<std::string>{"x ${a} y"}));
  // Nested templates and braces inside placeholders stay inside the token.
  EXPECT_EQ(token_texts("`a ${f({ b: `c ${d}` })} e`;"),
            (std::vector<std::string>{"a ${f({ b: `c ${d}` })} e", ";"}));
  EXPECT_EQ(token_texts("`${'}'}` + 1"), (std::vector<std::string>{"${'}'}", "+", "1"}));
}

TEST(Tokenizer, RegularExpressionsWhereAnExpressionMayStart) {
  struct Case {
    const char* source;
    std::vector<std::string> texts;
  } cases[] = {
      {"x = /a+b/g;", {"x", "=", "/a+b/g", ";"}},
      {"f(/[/]/, 1)", {"f", "(", "/[/]/", ",", "1", ")"}},
      {"return /x\\/y/.test(s)", {"return", "/x\\/y/", ".", "test", "(", "s", ")"}},
      {"a = b / c / d", {"a", "=", "b", "/", "c", "/", "d"}},
      {"a = (b) / 2", {"a", "=", "(", "b", ")", "/", "2"}},
      {"[1] / x / 2", {"[", "1", "]", "/", "x", "/", "2"}},
      {"typeof /x/", {"typeof", "/x/"}},
      // No closing slash on the line: an operator after all.
      {"x = / y\nz", {"x", "=", "/", "y", "z"}},
      // A `/` whose scan failed does not spoil a later `/` on the line that the
      // failed scan passed inside a class, nor the next line.
      {"x = (/[ , /a/g", {"x", "=", "(", "/", "[", ",", "/a/g"}},
      {"x = (/[(/[\ny = /b/", {"x", "=", "(", "/", "[", "(", "/", "[", "y", "=", "/b/"}},
      {"x = (/\\/[/ /c/", {"x", "=", "(", "/", "\\", "/", "[", "/ /c", "/"}},
  };
  for (const Case& c : cases) EXPECT_EQ(token_texts(c.source), c.texts) << c.source;
  EXPECT_EQ(token_kinds("x = /a/;")[2], TK_REGEX);
}

TEST(Tokenizer, NumbersAreSingleTokens) {
  EXPECT_EQ(token_texts("1 1.5 .5 5. 1e10 2.5E-3 1_000_000 0xFF_FF 0o17 0b1010 10n 0x1Fn"),
            (std::vector<std::string>{"1", "1.5", ".5", "5.", "1e10", "2.5E-3", "1_000_000", "0xFF_FF", "0o17",
                                      "0b1010", "10n", "0x1Fn"}));
  for (int kind : token_kinds("1 1.5 .5 1e10 0xFF 10n")) EXPECT_EQ(kind, TK_NUMBER);
}

TEST(Tokenizer, IdentifiersHoldDollarUnderscoreAndNonAsciiLetters) {
  EXPECT_EQ(token_texts("$el _x café 变量 #priv"),
            (std::vector<std::string>{"$el", "_x", "café", "变量", "#priv"}));
}

TEST(Tokenizer, PositionsAndLines) {
  const TokenList list = tokenize("let a = 'x';\n\n  b = `1\n2` + c");
  ASSERT_EQ(list.count(), 10);
  const Token& string_token = list.items[3];
  EXPECT_EQ(string_token.start, 8);
  EXPECT_EQ(string_token.end, 11);  // one past the closing quote
  EXPECT_EQ(list.items[4].end, 12);
  EXPECT_EQ(list.items[0].line, 1);
  EXPECT_EQ(list.items[5].line, 3);  // b
  EXPECT_EQ(list.items[7].line, 3);  // the template starts on line 3
  EXPECT_EQ(list.items[9].line, 4);  // c, after the template's line break
}

TEST(Tokenizer, SourceBytesBetweenStartAndEndAreTheToken) {
  const std::string source = "import fs from 'fs';\nconst r = /a/g; x?.y >>>= 1;";
  for (const Token& token : tokenize(source).items) {
    const std::string spelled = source.substr(token.start, token.end - token.start);
    if (token.kind == TK_STRING) {
      EXPECT_EQ(spelled, "'" + token.text + "'");
    } else {
      EXPECT_EQ(spelled, token.text);
    }
  }
}

TEST(Tokenizer, BadInputNeverCrashesOrHangs) {
  const std::string inputs[] = {
      "'unterminated",
      "\"unterminated\nnext line",
      "`unterminated ${ a + `inner",
      "/* never closed",
      "x = /never closed",
      "\\",
      std::string("a\0b", 3),
      "\xff\xfe\x80 \xc3",
      std::string(100000, '{'),
      std::string(100000, '`'),
      std::string(50000, '$') + std::string(50000, '{'),
      "#",
      "#!/usr/bin/env node\nlet a;",
      "\xEF\xBB\xBFlet a;",
  };
  for (const std::string& input : inputs) {
    const TokenList list = tokenize(input);
    for (const Token& token : list.items) {
      EXPECT_LE(token.start, token.end);
      EXPECT_LE(static_cast<size_t>(token.end), input.size());
    }
  }
  EXPECT_EQ(tokenize(std::string(100000, '{')).count(), 100000);
  EXPECT_EQ(token_kinds("'open\nlet"), (std::vector<int>{TK_STRING, TK_LET}));
  EXPECT_EQ(token_texts("'open\nlet")[0], "open");
  EXPECT_EQ(token_kinds(std::string("a\0b", 3)), (std::vector<int>{TK_IDENTIFIER, TK_IDENTIFIER}));
  EXPECT_EQ(token_kinds("#!/usr/bin/env node\nlet a;"), (std::vector<int>{TK_LET, TK_IDENTIFIER, TK_SEMICOLON}));
  EXPECT_EQ(token_kinds("\xEF\xBB\xBFlet a;"), (std::vector<int>{TK_LET, TK_IDENTIFIER, TK_SEMICOLON}));
}

TEST(Tokenizer, KindNamesForMessages) {
  EXPECT_STREQ(token_kind_name(TK_OPTIONAL_CHAIN), "?.");
  EXPECT_STREQ(token_kind_name(TK_IDENTIFIER), "identifier");
  EXPECT_STREQ(token_kind_name(99), "?");
}

}  // namespace
