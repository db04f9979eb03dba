// Pass 4: the runtime-library detectors (fetch, streams, readline, Set, Map,
// Promise.all/race, promises pushed into arrays, .delete/.has arrows, async
// immediately-invoked functions).

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "analysis/analyzeR4.h"
#include "analysis/usage_detectors.h"
#include "generator/generator.h"
#include "pass4_fixture.h"

namespace {

using namespace pass4_test;

// The rows of the detector table that `detector` runs; they stand together.
std::vector<UsageRow> rows_of(std::string_view detector) {
  std::vector<UsageRow> rows;
  for (const UsageRow& row : kUsageRows) {
    if (row.detector == detector) rows.push_back(row);
  }
  return rows;
}

// The green trace line a row sends for the variable `name`.
std::string trace_of(const UsageRow& row, const std::string& name) { return green(std::string(row.trace) + name); }

struct AssignmentCase {
  const char* label;
  const char* detector;  // a detector of the table
  const char* source;
  int expected_kind;     // kind of the first variable "x" afterwards (it starts at kStart)
  bool traced;           // whether the detector reports x
};

constexpr int kStart = TYPE_UNION;  // a kind no detector writes, so any change shows

TEST(Pass4Assignments, TypeTheAssignedVariableAndTraceIt) {
  const AssignmentCase cases[] = {
      {"await fetch", "detect_fetch_calls", "const x = await fetch ( url ) ;", TYPE_RESPONSE,
       true},
      {"fetch without await", "detect_fetch_calls", "const x = fetch ( url ) ;", TYPE_PROMISE, true},
      {"plain assignment", "detect_fetch_calls", "x = fetch ( url ) ;", TYPE_PROMISE, true},
      {"await fetch needs a token after fetch", "detect_fetch_calls", "x = await fetch", kStart, false},
      {"await fetch with one token after", "detect_fetch_calls", "x = await fetch (", TYPE_RESPONSE,
       true},
      {"fetch as the last token", "detect_fetch_calls", "x = fetch", kStart, false},
      {"fetch with one token after", "detect_fetch_calls", "x = fetch ;", TYPE_PROMISE, true},
      {"fetch as a string is no call", "detect_fetch_calls", "x = 'fetch' ( url ) ;", kStart, false},
      {"not an assignment", "detect_fetch_calls", "x ( fetch ( url ) ) ;", kStart, false},
      {"a string target", "detect_fetch_calls", "'x' = fetch ( url ) ;", kStart, false},

      {"fs.createReadStream", "detect_read_stream", "const x = fs . createReadStream ( f ) ;", TYPE_READSTREAM,
       true},
      {"bare createReadStream", "detect_read_stream", "const x = createReadStream ( f ) ;", TYPE_READSTREAM,
       true},
      {"fs form as the last tokens", "detect_read_stream", "x = fs . createReadStream", TYPE_READSTREAM,
       true},
      {"bare form as the last token", "detect_read_stream", "x = createReadStream", kStart, false},
      {"another module", "detect_read_stream", "x = fsp . createReadStream ( f ) ;", kStart, false},

      {"readline.createInterface", "detect_readline_interface",
       "const x = readline . createInterface ( { input } ) ;", TYPE_NAMED, true},
      {"readline with one token after", "detect_readline_interface", "x = readline . createInterface (",
       TYPE_NAMED, true},
      {"readline as the last tokens", "detect_readline_interface", "x = readline . createInterface", kStart,
       false},

      {"new Set", "detect_set_usage", "const x = new Set ( ) ;", TYPE_SET, true},
      {"new Set with one token after", "detect_set_usage", "x = new Set (", TYPE_SET, true},
      {"new Set as the last tokens", "detect_set_usage", "x = new Set", kStart, false},
      {"new WeakSet", "detect_set_usage", "x = new WeakSet ( ) ;", kStart, false},

      {"new Map", "detect_map_usage", "const x = new Map ( ) ;", TYPE_MAP, true},
      {"new Map with one token after", "detect_map_usage", "x = new Map (", TYPE_MAP, true},
      {"new Map as the last tokens", "detect_map_usage", "x = new Map", kStart, false},

      {"Promise.all", "detect_promise_all", "const x = await Promise . all ( jobs ) ;", TYPE_ARRAY,
       true},
      {"Promise.all compares texts only", "detect_promise_all", "x = 'await' 'Promise' . 'all' ( jobs ) ;",
       TYPE_ARRAY, true},
      {"Promise.all with one token after", "detect_promise_all", "x = await Promise . all (", TYPE_ARRAY,
       true},
      {"Promise.all as the last tokens", "detect_promise_all", "x = await Promise . all", kStart, false},
      {"Promise.all without await", "detect_promise_all", "x = Promise . all ( jobs ) ;", kStart, false},

      {"Promise.race", "detect_promise_race", "const x = await Promise . race ( jobs ) ;", TYPE_NONE,
       true},
      {"Promise.race as the last tokens", "detect_promise_race", "x = await Promise . race", kStart, false},
      {"Promise.allSettled is neither", "detect_promise_all", "x = await Promise . allSettled ( j ) ;", kStart,
       false},
  };
  for (const AssignmentCase& c : cases) {
    SCOPED_TRACE(c.label);
    const std::vector<UsageRow> rows = rows_of(c.detector);
    ASSERT_FALSE(rows.empty());
    for (const bool with_trace : {false, true}) {
      AnalysisResult result;
      add_var(result, "x", kStart);
      add_var(result, "x", kStart);
      const TokenList tokens = toks(c.source);
      const std::string out =
          traced(with_trace, [&](const Pass4Trace& trace) { run_usage_detector(c.detector, result, tokens, trace); });
      EXPECT_EQ(result.vars[0].type.kind, c.expected_kind);
      EXPECT_EQ(result.vars[1].type.kind, kStart) << "only the first variable of the name is typed";
      // The rows of one detector share their trace text.
      const std::string expected = with_trace && c.traced ? trace_of(rows.front(), "x") : "";
      EXPECT_EQ(out, expected) << "with trace " << with_trace;
    }
  }
}

// Every row of the table, from its own data: `x = <words>` followed by just
// enough tokens for the row's reach is typed and reported; one token fewer
// and the row does not see it.
TEST(Pass4Assignments, EachTableRowMatchesFromItsReachOn) {
  for (const UsageRow& row : kUsageRows) {
    std::string words;
    int word_count = 0;
    for (std::string_view word : row.words) {
      if (word.empty()) break;
      words += " " + std::string(word);
      ++word_count;
    }
    SCOPED_TRACE(std::string(row.detector) + ":" + words);
    // x is token 0: the row needs token `reach` to exist.
    const int filler = row.reach + 1 - (2 + word_count);
    ASSERT_GE(filler, 0);
    for (int missing : {0, 1}) {
      if (filler - missing < 0) continue;
      std::string source = "x =" + words;
      for (int f = 0; f < filler - missing; ++f) source += " (";
      const TokenList tokens = toks(source);
      AnalysisResult result;
      VarInfo& x = add_var(result, "x", TYPE_UNION);
      x.type.element_kind = TYPE_STRING;
      const std::string out =
          traced(true, [&](const Pass4Trace& trace) { run_usage_detector(row.detector, result, tokens, trace); });
      const TypeInfo& type = result.vars[0].type;
      if (missing == 1) {
        EXPECT_EQ(out, "") << source;
        EXPECT_EQ(type.kind, TYPE_UNION) << source;
        continue;
      }
      EXPECT_EQ(out, trace_of(row, "x")) << source;
      EXPECT_EQ(type.kind, row.type) << source;
      EXPECT_EQ(type.type_name, row.type_name) << source;
      EXPECT_EQ(type.element_kind, row.clears_element_kind ? TYPE_NONE : TYPE_STRING) << source;
    }
  }
}

// The driver runs every row: the types the table promises, in TypeScript terms.
TEST(Pass4Assignments, TheDriverRunsEveryRowOfTheTable) {
  struct Case {
    const char* source;
    const char* type;
  } cases[] = {
      {"x = fs . createReadStream ( f ) ;", "ReadStream"},
      {"x = readline . createInterface ( o ) ;", "import('readline').Interface"},
      {"x = await fetch ( u ) ;", "Response"},
      {"x = fetch ( u ) ;", "Promise<void>"},
      {"x = new Set ( ) ;", "Set<any>"},
      {"x = new Map ( ) ;", "Map<any, any>"},
      {"x = await Promise . all ( j ) ;", "any[]"},
  };
  for (const Case& c : cases) {
    const TokenList tokens = toks(c.source);
    AnalysisResult result;
    add_var(result, "x");
    analyzer4_run(result, tokens);
    EXPECT_EQ(type_to_string(result.vars[0].type), c.type) << c.source;
  }
}

TEST(Pass4Assignments, WithoutAVariableOfTheNameNothingIsPrinted) {

  const TokenList tokens = toks(
      "a = fetch ( u ) ; b = createReadStream ( f ) ; c = readline . createInterface ( o ) ;\n"
      "d = new Set ( ) ; e = new Map ( ) ; f = await Promise . all ( j ) ; g = await Promise . race ( j ) ;");
  AnalysisResult result;
  add_var(result, "other", TYPE_NUMBER);
  for (const UsageRow& row : kUsageRows) {
    EXPECT_EQ(traced(true, [&](const Pass4Trace& trace) { run_usage_detector(row.detector, result, tokens, trace); }),
              "");
  }
  EXPECT_EQ(result.vars[0].type.kind, TYPE_NUMBER);
}

TEST(Pass4Assignments, WriteOnlyTheKindAndTheStatedField) {
  const TokenList tokens = toks(
      "rl = readline . createInterface ( o ) ; s = new Set ( ) ; m = new Map ( ) ;\n"
      "all = await Promise . all ( j ) ; first = await Promise . race ( j ) ;");
  AnalysisResult result;
  for (const char* name : {"rl", "s", "m", "all", "first"}) {
    VarInfo& var = add_var(result, name, TYPE_ARRAY);
    var.type.element_kind = TYPE_STRING;
    var.type.key_kind = TYPE_NUMBER;
    var.type.value_kind = TYPE_BOOLEAN;
  }
  analyzer4_run(result, tokens);

  const VarInfo& rl = *find_var(result, "rl");
  EXPECT_EQ(rl.type.kind, TYPE_NAMED);
  EXPECT_EQ(rl.type.type_name, "readline.Interface");
  const VarInfo& set = *find_var(result, "s");
  EXPECT_EQ(set.type.kind, TYPE_SET);
  EXPECT_EQ(set.type.element_kind, TYPE_STRING) << "left for pass 5";
  const VarInfo& map = *find_var(result, "m");
  EXPECT_EQ(map.type.kind, TYPE_MAP);
  EXPECT_EQ(map.type.key_kind, TYPE_NUMBER);
  EXPECT_EQ(map.type.value_kind, TYPE_BOOLEAN);
  const VarInfo& all = *find_var(result, "all");
  EXPECT_EQ(all.type.kind, TYPE_ARRAY);
  EXPECT_EQ(all.type.element_kind, TYPE_NONE);
  const VarInfo& first = *find_var(result, "first");
  EXPECT_EQ(first.type.kind, TYPE_NONE);
  EXPECT_EQ(first.type.element_kind, TYPE_STRING);
}

TEST(Pass4Assignments, EveryMatchInTheFileIsApplied) {
  // A later assignment of the same name overwrites the earlier kind.
  const TokenList tokens = toks("let x = fetch ( a ) ;\nx = await fetch ( b ) ;");
  AnalysisResult result;
  add_var(result, "x");
  const std::string out = traced(true, [&](const Pass4Trace& trace) { detect_fetch_calls(result, tokens, trace); });
  EXPECT_EQ(result.vars[0].type.kind, TYPE_RESPONSE);
  EXPECT_EQ(out, green("[ANALYZER4] FETCH DETECTE : x") + green("[ANALYZER4] FETCH DETECTE : x"));
}

// ---------------------------------------------------------------------------

struct PushCase {
  const char* label;
  const char* source;
  int pushed_kind;        // kind of the second variable p (the first is a string)
  bool has_array;         // an array record "results" exists
  int expected_element;   // element kind of "results" afterwards
  bool traced;
};

TEST(Pass4ResultsPromises, PromisesPushedIntoAnArrayMakeAPromiseArray) {
  const PushCase cases[] = {
      {"promise pushed", "results . push ( p ) ;", TYPE_PROMISE, true, TYPE_PROMISE, true},
      {"string pushed", "results . push ( p ) ;", TYPE_STRING, true, TYPE_NUMBER, false},
      {"no array record: traced, nothing to type", "results . push ( p ) ;", TYPE_PROMISE, false, 0, true},
      {"push as the last five tokens", "results . push ( p", TYPE_PROMISE, true, TYPE_PROMISE, true},
      {"push compared by text", "results . 'push' ( p ) ;", TYPE_PROMISE, true, TYPE_PROMISE, true},
      {"a literal pushed", "results . push ( 'p' ) ;", TYPE_PROMISE, true, TYPE_NUMBER, false},
      {"unshift", "results . unshift ( p ) ;", TYPE_PROMISE, true, TYPE_NUMBER, false},
  };
  for (const PushCase& c : cases) {
    SCOPED_TRACE(c.label);
    AnalysisResult result;
    add_var(result, "p", TYPE_STRING);
    add_var(result, "p", c.pushed_kind);  // any variable of the name counts, not only the first
    if (c.has_array) {
      ArrayInfo& array = add_array(result, "results", TYPE_NUMBER);
      array.members = {1, 2, 0, 0};
      array.member_count = 2;
      add_array(result, "results", TYPE_NUMBER);
    } else {
      add_array(result, "other", TYPE_NUMBER);
    }
    const TokenList tokens = toks(c.source);
    const std::string out = traced(true, [&](const Pass4Trace& trace) { detect_results_promises(result, tokens, trace); });
    EXPECT_EQ(out, c.traced ? green("[ANALYZER4] ARRAY BINDING results -> Promise[]") : "");
    if (c.has_array) {
      EXPECT_EQ(result.arrays[0].element_kind, c.expected_element);
      EXPECT_EQ(result.arrays[0].member_count, 2) << "other fields stay";
      EXPECT_EQ(result.arrays[1].element_kind, TYPE_NUMBER) << "only the first array of the name";
    } else {
      EXPECT_EQ(result.arrays[0].element_kind, TYPE_NUMBER) << "another array is left alone";
    }
  }
}

TEST(Pass4ResultsPromises, SeesThePromisesThatTheFetchDetectorTyped) {
  const TokenList tokens = toks(
      "const results = [ ] ;\nconst p = fetch ( u ) ;\nresults . push ( p ) ;\n"
      "const q = ( async ( ) => { } ) ( ) ;\nlater . push ( q ) ;");
  AnalysisResult result;
  add_var(result, "results");
  add_var(result, "p");
  add_var(result, "q");
  add_array(result, "results");
  add_array(result, "later");
  analyzer4_run(result, tokens);
  EXPECT_EQ(result.arrays[0].element_kind, TYPE_PROMISE);
  // The async IIFE detector runs after the push detector.
  EXPECT_EQ(find_var(result, "q")->type.kind, TYPE_PROMISE);
  EXPECT_EQ(result.arrays[1].element_kind, TYPE_NONE);
}

// ---------------------------------------------------------------------------

struct ArrowCase {
  const char* label;
  const char* source;
  int expected_return;
};

TEST(Pass4DeleteReturnType, DeleteOrHasOnTheArrowsLineMakesItBoolean) {
  const ArrowCase cases[] = {
      {".delete", "const remove = ( k ) => cache . delete ( k ) ;", TYPE_BOOLEAN},
      {".has", "const remove = ( k ) => cache . has ( k ) ;", TYPE_BOOLEAN},
      {".delete on the next line", "const remove = ( k ) =>\ncache . delete ( k ) ;", TYPE_NUMBER},
      {"the walk crosses ; on the same line", "remove = 1 ; cache . has ( k ) ;", TYPE_BOOLEAN},
      {"only the first `remove =` counts", "remove = 1 ;\nremove = ( k ) => c . has ( k ) ;", TYPE_NUMBER},
      {"a string has is no method", "remove = ( k ) => c . 'has' ( k ) ;", TYPE_NUMBER},
      {"`.has` two tokens before the end", "remove = c . has (", TYPE_BOOLEAN},
      {"`.has` as the last tokens", "remove = c . has", TYPE_NUMBER},
      {"no assignment of the name", "other = ( k ) => c . has ( k ) ;", TYPE_NUMBER},
      {"`remove =` in the last four tokens", "x ; remove = c", TYPE_NUMBER},
  };
  for (const ArrowCase& c : cases) {
    SCOPED_TRACE(c.label);
    AnalysisResult result;
    add_arrow(result, "remove", TYPE_NUMBER);
    const TokenList tokens = toks(c.source);
    const std::string out = traced(true, [&](const Pass4Trace& trace) { detect_delete_return_type(result, tokens, trace); });
    EXPECT_EQ(result.arrows[0].return_type.kind, c.expected_return);
    EXPECT_EQ(out, c.expected_return == TYPE_BOOLEAN ? green("[ANALYZER4] remove -> BOOLEAN (.delete/.has)") : "");
  }
}

TEST(Pass4DeleteReturnType, EachArrowIsExaminedOnceInListOrder) {
  const TokenList tokens = toks("const a = ( k ) => s . has ( k ) . delete ;\nconst b = ( k ) => m . delete ( k ) ;");
  AnalysisResult result;
  add_arrow(result, "b");
  add_arrow(result, "a");
  const std::string out = traced(true, [&](const Pass4Trace& trace) { detect_delete_return_type(result, tokens, trace); });
  EXPECT_EQ(result.arrows[0].return_type.kind, TYPE_BOOLEAN);
  EXPECT_EQ(result.arrows[1].return_type.kind, TYPE_BOOLEAN);
  EXPECT_EQ(out, green("[ANALYZER4] b -> BOOLEAN (.delete/.has)") + green("[ANALYZER4] a -> BOOLEAN (.delete/.has)"));
}

// ---------------------------------------------------------------------------

TEST(Pass4AsyncIife, AnInvokedAsyncFunctionExpressionIsAPromise) {
  const ArrowCase cases[] = {
      {"invoked", "const job = ( async ( ) => { } ) ( ) ;", TYPE_PROMISE},
      {"not invoked", "const job = ( async ( ) => { } ) ;", TYPE_NUMBER},
      {"nested parentheses", "const job = ( async ( a , ( b ) ) => { f ( ( 1 ) ) ; } ) ( ) ;", TYPE_PROMISE},
      {"never closed", "const job = ( async ( ) => { f ( ) ; }", TYPE_NUMBER},
      {"closed by the last token", "const job = ( async ( ) => 1 )", TYPE_NUMBER},
      {"six tokens", "job = ( async ) (", TYPE_PROMISE},
      {"five tokens", "job = ( async )", TYPE_NUMBER},
      {"async as an identifier-like string", "job = ( 'async' ) ( ) ;", TYPE_NUMBER},
      {"no parenthesis before async", "job = async ( ) => { } ;", TYPE_NUMBER},
  };
  for (const ArrowCase& c : cases) {
    SCOPED_TRACE(c.label);
    AnalysisResult result;
    add_var(result, "job", TYPE_NUMBER);
    const TokenList tokens = toks(c.source);
    const std::string out = traced(true, [&](const Pass4Trace& trace) { detect_async_iife(result, tokens, trace); });
    EXPECT_EQ(result.vars[0].type.kind, c.expected_return);
    EXPECT_EQ(out, c.expected_return == TYPE_PROMISE ? green("[ANALYZER4] job -> Promise<unknown> (Async IIFE)") : "");
  }
}

}  // namespace
