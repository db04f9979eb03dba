// Pass 3 at its place in the pipeline: after the declaration scan and the
// structure capture, on JavaScript as written. Type notation: see
// pass3_fixture.h.
#include <gtest/gtest.h>

#include "pass3_fixture.h"
#include "test_support.h"

namespace {

using kvx_test::analyze_js;

struct PipelineCase {
  const char* source;
  const char* vars;   // every variable after the pass
  const char* funcs;  // every function's return type after the pass
};

void check_after(int last_pass, std::initializer_list<PipelineCase> cases) {
  for (const PipelineCase& c : cases) {
    SCOPED_TRACE(c.source);
    const AnalysisResult result = analyze_js(c.source, last_pass);
    EXPECT_EQ(pass3_test::describe_vars(result), c.vars);
    EXPECT_EQ(pass3_test::describe_funcs(result), c.funcs);
  }
}

TEST(Pass3Pipeline, ReturnTypesOfCapturedFunctions) {
  check_after(3, {
      {"function build(id) { const flag = id > 0; return { id: 1, name: 'a', ok: flag, nested: { x: 2 } }; }",
       "flag: boolean", "build: { id: number; name: string; ok: boolean; nested: object; x: number }"},
      {"function run() { console.log('x'); }", "", "run: void"},
      {"function run(a) { if (a) return; }", "", "run: void"},
      // a conditional return types its own function only
      {"function a(ok) { return ok ? 'yes' : 'no'; } function b(n) { if (n) { log(n); } }", "ok: boolean",
       "a: string, b: void"},
      // a parameter is no variable: it is declared as a nullish operand, and
      // the return reads that union
      {"function f(limit) { return limit ?? 10; }", "limit: number | any", "f: never | number"},
      // the switch rule types only the function whose return it reads
      {"function first(k) { switch (k) { case 1: return 'one'; } } function second(x) { return x; }", "",
       "first: string, second: any"},
  });
}

TEST(Pass3Pipeline, VariableTypes) {
  check_after(3, {
      {"let count = null; count = 0; count = 'x';", "count: number | string", ""},
      {"const items = [1, 2]; const [first, second] = items;",
       "items: number[], first: number | string | boolean, second: number | string | boolean", ""},
      // the reassignment rule types doubled before the array-method rule
      {"let doubled = null; const nums = [1, 2]; doubled = nums.map(n => n * 2);",
       "doubled: any[], nums: number[]", ""},
      {"const total = price * qty; let v = !flag; let w = a < b;", "total: number, v: boolean, w: boolean", ""},
      {"const cfg = { server: { port: 8080 }, host: 'h' }; let p = cfg?.server?.port; let h = cfg?.host;",
       "cfg: any, p: number, h: string", ""},
      // c is declared as a boolean operand first, and y then takes its kind
      {"let x = a || 5; let y = c ? 1 : 'one';", "x: boolean | number, y: boolean, a: boolean, c: boolean", ""},
  });
}

TEST(Pass3Pipeline, GlobalConstantsAreNeverDeclared) {
  check_after(3, {
      {"const ready = value === undefined || Number.isNaN(value); const big = n > Infinity || n === NaN;",
       "ready: any, big: any", ""},
      {"if (x === undefined || NaN ?? Infinity ? 1 : 2) {}", "", ""},
  });
  // The output must not declare them either.
  kvx_test::ScopedWorkDir dir;
  const std::string ts = kvx_test::transpile_js("function check(x, y) { if (x === undefined || y) { return 1; } return 2; }\n");
  EXPECT_EQ(ts.find("declare let undefined"), std::string::npos) << ts;
}

TEST(Pass3Pipeline, LaterPassesFillWhatPass3LeftOpen) {
  check_after(10, {
      // pass 3 finds no object cfg and leaves port to the optional-chain detector
      {"const port = cfg?.port ?? 8080;", "port: unknown", ""},
  });
}

}  // namespace
