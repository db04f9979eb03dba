// Pass 4 as a whole: the trace of a small file, line by line, and the same
// file without the verbose switch.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "analysis/analyzeR4.h"
#include "pass4_fixture.h"

namespace {

using namespace pass4_test;

const char* const kSource =
    "const res = await fetch ( url ) ;\n"
    "const seen = new Set ( ) ;\n"
    "const name = input ?? 'anon' ;\n"
    "const v = cfg ?. port ;\n"
    "tasks . push ( { id : 1 } ) ;\n"
    "function f ( p ) { return p . trim ( ) ; }\n"
    "const remove = ( k ) => seen . delete ( k ) ;\n";

AnalysisResult fixture_result() {
  AnalysisResult result;
  add_var(result, "res");
  add_var(result, "seen");
  add_var(result, "name");
  add_var(result, "v");
  add_var(result, "p", TYPE_NUMBER);
  add_func(result, "f", {"p"});
  add_arrow(result, "remove");
  return result;
}

void expect_types(const AnalysisResult& result) {
  EXPECT_EQ(result.vars[0].type.kind, TYPE_RESPONSE);
  EXPECT_EQ(result.vars[1].type.kind, TYPE_SET);
  EXPECT_EQ(result.vars[2].type.kind, TYPE_STRING);
  EXPECT_EQ(result.vars[3].type.kind, TYPE_UNKNOWN);
  EXPECT_EQ(result.vars[4].type.kind, TYPE_STRING);
  EXPECT_EQ(result.funcs[0].param_types[0].kind, TYPE_STRING);
  EXPECT_EQ(result.arrows[0].return_type.kind, TYPE_BOOLEAN);
  ASSERT_EQ(result.array_objects.size(), 1u);
}

TEST(Pass4Trace, PrintsEveryFindingInDetectorOrder) {
  const TokenList tokens = toks(kSource);
  AnalysisResult result = fixture_result();
  const std::string out = traced(true, [&](const Pass4Trace& trace) { analyzer4_run(result, tokens, trace); });

  const std::vector<std::string> expected = {
      "\x1b[0;32m[ANALYZER4] FETCH DETECTE : res\n\x1b[0m",
      "\x1b[0;32m[ANALYZER4] SET DETECTE : seen\n\x1b[0m",
      "\x1b[0;32m[ANALYZER4] PROPERTY : tasks.push\n\x1b[0m",
      "\x1b[0;32m[ANALYZER4] PROPERTY : p.trim\n\x1b[0m",
      "\x1b[0;32m[ANALYZER4] PROPERTY : seen.delete\n\x1b[0m",
      "\x1b[0;32m[ANALYZER4] OPTIONAL CHAINING : v\n\x1b[0m",
      "\x1b[0;32m[ANALYZER4] NULLISH FALLBACK : name\n\x1b[0m",
      "\x1b[0;32m[ANALYZER4] ARRAY PUSH : tasks\n\x1b[0m",
      "\x1b[0;32m[ANALYZER4] TASK OBJECT DETECTE\n\x1b[0m",
      "\x1b[0;32m[ANALYZER4] ARRAY OBJECT ENREGISTRE\n\x1b[0m",
      "\x1b[0;36m[ANALYZER4] FIELD : id\n\x1b[0m",
      "\x1b[0;32m[ANALYZER4] STRING METHOD : p.trim()\n\x1b[0m",
      "\x1b[0;32m[ANALYZER4] p -> STRING\n\x1b[0m",
      "\x1b[0;32m[ANALYZER4] remove -> BOOLEAN (.delete/.has)\n\x1b[0m",
      "\x1b[0;36m[ANALYZER4] PARAMETER INFERENCE START\n\x1b[0m",
      "\x1b[0;32m[ANALYZER4] PARAM p -> STRING (METHOD)\n\x1b[0m",
  };
  const std::vector<std::string> lines = trace_lines(out);
  ASSERT_EQ(lines.size(), expected.size()) << out;
  for (size_t n = 0; n < expected.size(); ++n) EXPECT_EQ(lines[n], expected[n]) << "line " << n + 1;
  expect_types(result);
}

TEST(Pass4Trace, PrintsNothingWithoutTheSwitchButTypesTheSame) {
  const TokenList tokens = toks(kSource);
  AnalysisResult result = fixture_result();
  EXPECT_EQ(traced(false, [&](const Pass4Trace& trace) { analyzer4_run(result, tokens, trace); }), "");
  expect_types(result);
}

TEST(Pass4Trace, AnEmptyTokenListChangesNothing) {
  AnalysisResult result = fixture_result();
  const TokenList empty;
  EXPECT_EQ(traced(true, [&](const Pass4Trace& trace) { analyzer4_run(result, empty, trace); }),
            "\x1b[0;36m[ANALYZER4] PARAMETER INFERENCE START\n\x1b[0m");
  EXPECT_EQ(result.vars[0].type.kind, TYPE_NONE);
  EXPECT_EQ(result.vars[4].type.kind, TYPE_NUMBER);
  EXPECT_TRUE(result.array_objects.empty());
}

}  // namespace
