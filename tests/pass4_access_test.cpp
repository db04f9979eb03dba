// Pass 4: property access, optional chaining, nullish fallbacks and string
// methods.

#include <gtest/gtest.h>

#include "analysis/analyzeR4.h"
#include "pass4_fixture.h"

namespace {

using namespace pass4_test;

TEST(Pass4PropertyAccess, ReportsEveryIdentifierDotIdentifierAndChangesNothing) {
  const TokenList tokens = toks("a . b . c ; x . 'y' ; p . q");
  AnalysisResult result;
  add_var(result, "a");
  const std::string out = traced(true, [&](const Pass4Trace& trace) { detect_property_access(result, tokens, trace); });
  EXPECT_EQ(out, green("[ANALYZER4] PROPERTY : a.b") + green("[ANALYZER4] PROPERTY : b.c") +
                     green("[ANALYZER4] PROPERTY : p.q"));
  EXPECT_EQ(result.vars[0].type.kind, TYPE_NONE);
  EXPECT_EQ(traced(false, [&](const Pass4Trace& trace) { detect_property_access(result, tokens, trace); }), "");
}

struct WalkCase {
  const char* label;
  const char* source;
  int first_kind;     // kinds of the two variables named x before the detector
  int second_kind;
  int expected_first;
  int expected_second;
  bool traced;
};

// Runs `detector` with two variables named x of the case's kinds; a finding
// is traced as "[ANALYZER4] <finding> : x".
void check_walk(void (*detector)(AnalysisResult&, const TokenList&, const Pass4Trace&), const std::string& finding,
                const WalkCase& c) {
  SCOPED_TRACE(c.label);
  AnalysisResult result;
  add_var(result, "x", c.first_kind);
  add_var(result, "x", c.second_kind);
  const TokenList tokens = toks(c.source);
  const std::string out = traced(true, [&](const Pass4Trace& trace) { detector(result, tokens, trace); });
  EXPECT_EQ(result.vars[0].type.kind, c.expected_first);
  EXPECT_EQ(result.vars[1].type.kind, c.expected_second);
  EXPECT_EQ(out, c.traced ? green("[ANALYZER4] " + finding + " : x") : "");
}

TEST(Pass4OptionalChaining, FirstUntypedVariableBecomesUnknown) {
  const WalkCase cases[] = {
      {"on the right-hand side", "const x = obj ?. a ;", TYPE_NONE, TYPE_NONE, TYPE_UNKNOWN, TYPE_NONE, true},
      {"already typed: kept, still traced", "x = obj ?. a ;", TYPE_NUMBER, TYPE_NUMBER, TYPE_NUMBER, TYPE_NUMBER,
       true},
      {"the first untyped one of the name", "x = obj ?. a ;", TYPE_NUMBER, TYPE_NONE, TYPE_NUMBER, TYPE_UNKNOWN,
       true},
      {"two ?. give one finding", "x = a ?. b ?. c ;", TYPE_NONE, TYPE_NONE, TYPE_UNKNOWN, TYPE_NONE, true},
      {"after the ;", "x = a ; b ?. c ;", TYPE_NONE, TYPE_NONE, TYPE_NONE, TYPE_NONE, false},
      {"on the next line", "x = a\n?. c ;", TYPE_NONE, TYPE_NONE, TYPE_NONE, TYPE_NONE, false},
      {"as the last token", "x = a ?.", TYPE_NONE, TYPE_NONE, TYPE_UNKNOWN, TYPE_NONE, true},
      {"right after the =", "x = ?.", TYPE_NONE, TYPE_NONE, TYPE_NONE, TYPE_NONE, false},
      {"on the left only", "a ?. x = b ;", TYPE_NONE, TYPE_NONE, TYPE_NONE, TYPE_NONE, false},
  };
  for (const WalkCase& c : cases) check_walk(detect_optional_chaining, "OPTIONAL CHAINING", c);
}

TEST(Pass4NullishCoalescing, ALiteralFallbackTypesTheFirstUntypedVariable) {
  const WalkCase cases[] = {
      {"string fallback", "const x = input ?? 'anon' ;", TYPE_NONE, TYPE_NONE, TYPE_STRING, TYPE_NONE, true},
      {"number fallback", "x = input ?? 8080 ;", TYPE_NONE, TYPE_NONE, TYPE_NUMBER, TYPE_NONE, true},
      {"boolean fallback", "x = input ?? false ;", TYPE_NONE, TYPE_NONE, TYPE_BOOLEAN, TYPE_NONE, true},
      {"identifier fallback", "x = input ?? count ;", TYPE_NONE, TYPE_NONE, TYPE_NONE, TYPE_NONE, false},
      {"typed: kept, still traced", "x = input ?? 'a' ;", TYPE_NUMBER, TYPE_NUMBER, TYPE_NUMBER, TYPE_NUMBER,
       true},
      {"the first untyped one of the name", "x = input ?? 'a' ;", TYPE_BOOLEAN, TYPE_NONE, TYPE_BOOLEAN,
       TYPE_STRING, true},
      {"?? on the next line", "const x = a\n?? 1 ;", TYPE_NONE, TYPE_NONE, TYPE_NONE, TYPE_NONE, false},
      {"literal on the next line", "const x = a ??\n1 ;", TYPE_NONE, TYPE_NONE, TYPE_NUMBER, TYPE_NONE, true},
      {"only the first ?? counts", "x = a ?? b ?? 1 ;", TYPE_NONE, TYPE_NONE, TYPE_NONE, TYPE_NONE, false},
      {"after the ;", "x = a ; y ?? 1 ;", TYPE_NONE, TYPE_NONE, TYPE_NONE, TYPE_NONE, false},
      {"as the last token", "x = a b ??", TYPE_NONE, TYPE_NONE, TYPE_NONE, TYPE_NONE, false},
      {"five tokens", "x = a ?? 1", TYPE_NONE, TYPE_NONE, TYPE_NUMBER, TYPE_NONE, true},
      {"four tokens", "x = ?? 1", TYPE_NONE, TYPE_NONE, TYPE_NONE, TYPE_NONE, false},
  };
  for (const WalkCase& c : cases) check_walk(detect_nullish_coalescing, "NULLISH FALLBACK", c);
}

TEST(Pass4NullishCoalescing, OptionalChainTakesPrecedenceOverTheFallback) {
  // The optional-chaining detector runs first and settles port as unknown;
  // the fallback only fills an untyped variable.
  const TokenList tokens = toks("const port = cfg ?. port ?? 8080 ;");
  AnalysisResult result;
  add_var(result, "port");
  analyzer4_run(result, tokens);
  EXPECT_EQ(result.vars[0].type.kind, TYPE_UNKNOWN);
}

struct MethodCase {
  const char* source;
  int expected;  // kind of both variables named label (they start at 1)
};

TEST(Pass4StringMethods, FiveMethodsMakeEveryVariableOfTheNameAString) {
  const MethodCase cases[] = {
      {"label . trim ( ) ;", TYPE_STRING},
      {"label . toUpperCase ( ) ;", TYPE_STRING},
      {"label . toLowerCase ( ) ;", TYPE_STRING},
      {"label . substring ( 1 ) ;", TYPE_STRING},
      {"label . charAt ( 0 ) ;", TYPE_STRING},
      {"label . slice ( 1 ) ;", TYPE_NUMBER},
      {"label . split ( ',' ) ;", TYPE_NUMBER},
      {"label . replace ( a , b ) ;", TYPE_NUMBER},
      {"label . 'trim' ( ) ;", TYPE_NUMBER},
      {"label . trim ( )", TYPE_STRING},
      {"label . trim (", TYPE_NUMBER},
  };
  for (const MethodCase& c : cases) {
    SCOPED_TRACE(c.source);
    AnalysisResult result;
    add_var(result, "label", TYPE_NUMBER);
    add_var(result, "other", TYPE_NUMBER);
    add_var(result, "label", TYPE_NUMBER);
    const TokenList tokens = toks(c.source);
    const std::string out = traced(true, [&](const Pass4Trace& trace) { detect_string_methods(result, tokens, trace); });
    EXPECT_EQ(result.vars[0].type.kind, c.expected);
    EXPECT_EQ(result.vars[1].type.kind, TYPE_NUMBER);
    EXPECT_EQ(result.vars[2].type.kind, c.expected);
    if (c.expected == TYPE_STRING) {
      const std::string method(tokens.items[2].text);
      const std::string pair =
          green("[ANALYZER4] STRING METHOD : label." + method + "()") + green("[ANALYZER4] label -> STRING");
      EXPECT_EQ(out, pair + pair) << "two lines per variable of the name";
    } else {
      EXPECT_EQ(out, "");
    }
  }
}

TEST(Pass4StringMethods, OverwritesTheFetchDetectorsKind) {
  const TokenList tokens = toks("const body = await fetch ( u ) ;\nbody . trim ( ) ;");
  AnalysisResult result;
  add_var(result, "body");
  analyzer4_run(result, tokens);
  EXPECT_EQ(result.vars[0].type.kind, TYPE_STRING);
}

}  // namespace
