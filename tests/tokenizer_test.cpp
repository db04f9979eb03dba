#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/tokenizer.h"
#include "test_support.h"

namespace {

using kvx_test::token_kinds;

std::vector<std::string> token_texts(std::string_view source) {
  std::vector<std::string> texts;
  for (const Token& token : tokenize(source).items) texts.emplace_back(token.text);
  return texts;
}

struct KindCase {
  const char* source;
  const char* kinds;  // the kind names, space-separated
};

TEST(Tokenizer, KindSequences) {
  const KindCase cases[] = {
      {"", ""},
      {"  \n\t  \n", ""},
      {"const x = a?.b;", "const identifier = identifier ?. identifier ;"},
      {"let t = cond ? 'a' : \"b\";", "let identifier = identifier ? string : string ;"},
      {"var v;", "var identifier ;"},
      {"this.#count = 0", "identifier . identifier = number"},
      {"`a ${id} b`", "string"},
      {"x ?? y", "identifier ?? identifier"},
      {"a === b == c !== d != e", "identifier ==/=== identifier ==/=== identifier !=/!== identifier !=/!== identifier"},
      {"a < b > c <= d >= e", "identifier < identifier > identifier <= identifier >= identifier"},
      {"a + b - c * d / e", "identifier + identifier - identifier * identifier / identifier"},
      {"a && b || !c", "identifier && identifier || ! identifier"},
      {"(a) => { [b]; }", "( identifier ) => { [ identifier ] ; }"},
      {"for await (const x of xs)", "for identifier ( const identifier identifier identifier )"},
      {"switch (k) { case 1: return 2; default: }", "switch ( identifier ) { identifier number : return number ; identifier : }"},
      {"class A extends B {}", "class identifier extends identifier { }"},
      {"import x from 'y'; export default x;", "import identifier identifier string ; export identifier identifier ;"},
      {"async function f() {}", "async reserved word identifier ( ) { }"},
      // Words the analysis relies on seeing as identifiers.
      {"new await typeof this true false case default static get constructor require console",
       "identifier identifier identifier identifier identifier identifier identifier identifier identifier identifier identifier identifier identifier"},
      // Reserved words get their own code, except as property names.
      {"x == null || y", "identifier ==/=== reserved word || identifier"},
      {"cache.delete(k); p?.catch(e)", "identifier . identifier ( identifier ) ; identifier ?. identifier ( identifier )"},
      {"if (a in b) {} else while (c) do {}", "reserved word ( identifier reserved word identifier ) { } reserved word reserved word ( identifier ) reserved word { }"},
      {"it.return(x); o.class; o.for", "identifier . identifier ( identifier ) ; identifier . identifier ; identifier . identifier"},
      // Comments produce nothing.
      {"a // b c\nd /* e\nf */ g", "identifier identifier identifier"},
      // Operators that no rule tests still come out as single tokens.
      {"a += 1; b++; c ?" "?= d; e ** f; g >>> h; ...i", "identifier op= number ; identifier ++/-- ; identifier op= identifier ; identifier ** identifier ; identifier bitwise/shift identifier ; ... identifier"},
      // `?.` followed by a digit is a conditional with a decimal number.
      {"a?.5:b", "identifier ? number : identifier"},
  };
  for (const KindCase& c : cases) {
    EXPECT_EQ(kvx_test::token_kind_names(c.source), c.kinds) << c.source;
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
  EXPECT_EQ(list.start(3), 8);
  EXPECT_EQ(list.end(3), 11);  // one past the closing quote
  EXPECT_EQ(list.end(4), 12);
  EXPECT_EQ(list.start(7), 20);  // the template's backquote
  EXPECT_EQ(list.end(7), 25);
  EXPECT_EQ(list.items[0].line, 1);
  EXPECT_EQ(list.items[5].line, 3);  // b
  EXPECT_EQ(list.items[7].line, 3);  // the template starts on line 3
  EXPECT_EQ(list.items[9].line, 4);  // c, after the template's line break
}

TEST(Tokenizer, SourceBytesBetweenStartAndEndAreTheToken) {
  const std::string source = "import fs from 'fs';\nconst r = /a/g; x?.y >>>= 1;";
  const TokenList list = tokenize(source);
  for (int i = 0; i < list.count(); ++i) {
    const Token& token = list.items[static_cast<size_t>(i)];
    const std::string spelled = source.substr(list.start(i), list.end(i) - list.start(i));
    if (token.kind == TK_STRING) {
      EXPECT_EQ(spelled, "'" + std::string(token.text) + "'");
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
    for (int i = 0; i < list.count(); ++i) {
      EXPECT_LE(list.start(i), list.end(i));
      EXPECT_LE(static_cast<size_t>(list.end(i)), input.size());
    }
  }
  const std::string braces(100000, '{');
  EXPECT_EQ(tokenize(braces).count(), 100000);
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
