// Pass-3 sub-passes, each on real tokens and a hand-made result, so that a
// rule is seen on its own. Type notation: see pass3_fixture.h.
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <initializer_list>

#include "analysis/analyzeR3.h"
#include "pass3_fixture.h"
#include "test_support.h"

namespace {

using pass3_test::Fixture;

using SubPass = std::function<void(const TokenList&, AnalysisResult&)>;

struct Case {
  const char* source;
  const char* vars;       // variables before the sub-pass
  const char* funcs;      // functions before the sub-pass
  const char* want_vars;  // every variable afterwards
  const char* want_funcs; // every function's return type afterwards
};

void check(const SubPass& pass, std::initializer_list<Case> cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    Fixture fixture(c.source, c.vars, c.funcs);
    pass(fixture.tokens, fixture.result);
    EXPECT_EQ(fixture.vars(), c.want_vars);
    EXPECT_EQ(fixture.funcs(), c.want_funcs);
  }
}

// `pass` on `source` writes `kind` into the return type of the first function
// of `funcs`, whose members are set beforehand, and leaves the members alone.
void check_writes_only_the_kind(const SubPass& pass, const char* source, const char* funcs,
                                const std::array<int, kMaxUnionMembers>& members, int member_count, int kind) {
  SCOPED_TRACE(source);
  Fixture fixture(source, "", funcs);
  fixture.result.funcs[0].return_type.members = members;
  fixture.result.funcs[0].return_type.member_count = member_count;
  pass(fixture.tokens, fixture.result);
  EXPECT_EQ(fixture.result.funcs[0].return_type.kind, kind);
  EXPECT_EQ(fixture.result.funcs[0].return_type.member_count, member_count);
}

// ---------------------------------------------------------------------------
// analyze_return_objects

TEST(ReturnObjects, ObjectLiteralReturnCollectsEveryKeyFlat) {
  check(analyze_return_objects, {
      {"function f() { return { id: 1, name: 'a', ok: flag, nested: { x: 2 } }; }", "flag:3", "f",
       "flag:3", "f:6{id:1,name:2,ok:3,nested:6,x:1}"},
      // an identifier value with no variable of that name is 0
      {"function f() { return { ok: flag }; }", "", "f", "", "f:6{ok:0}"},
      // an identifier value wins over the operator after it
      {"function f() { return { a: x > y, b: n + 1 }; }", "", "f", "", "f:6{a:0,b:0}"},
      // equality and < > make a boolean, <= does not; arithmetic a number
      {"function f() { return { a: null === x, b: null > 1, c: null <= 2, d: null * 3 }; }", "",
       "f", "", "f:6{a:3,b:3,c:0,d:1}"},
      {"function f() { return { e: {}, g: [1], h: -1 }; }", "", "f", "", "f:6{e:6,g:0,h:0}"},
      {"function f() { return {}; }", "", "f", "", "f:6"},
      // the walk ends at the literal's closing brace
      {"function f() { return { a: { b: 1 }, c: 2 }; } const z = { q: 1 };", "", "f", "",
       "f:6{a:6,b:1,c:1}"},
      // an unterminated literal runs to the end of the list
      {"return { a: 1, b: 'x'", "", "f", "", "f:6{a:1,b:2}"},
  });
}

TEST(ReturnObjects, ConditionalObjectReturn) {
  check(analyze_return_objects, {
      // the first `:` is the key's colon: `{` pairs with 1
      {"function f() { return ok ? { a: 1 } : null; }", "", "f", "", "f:4[6,1]"},
      {"function f() { return ok ? {} : 'none'; }", "", "f", "", "f:4[6,2]"},
      {"function f() { return ok ? 'x' : {}; }", "", "f", "", "f:4[6,2]"},
      {"function f() { return ok ? null : {}; }", "", "f", "", "f:4[6]"},
      {"function f() { return ok ? {} : {}; }", "", "f", "", "f:6"},
      {"function f() { return ok ? 1 : 2; }", "", "f", "", "f:0"},
      // the last `?` before the colon
      {"function f() { return a ? b ? {} : 1 : 2; }", "", "f", "", "f:4[6,1]"},
      // the search is not bounded by the statement
      {"function f() { return x; } const y = c ? {} : 1;", "", "f", "", "f:4[6,1]"},
      // a colon with nothing after it, or none at all, fails
      {"return ok ? {} :", "", "f", "", "f:0"},
      {"function f() { return ok ? {} ; }", "", "f", "", "f:0"},
  });
}

TEST(ReturnObjects, FillsOnlyOpenTypesOfGatedFunctionsFromTheFirstReturnOfTheFile) {
  check(analyze_return_objects, {
      {"function f() { return { a: 1 }; }", "", "f=2", "", "f:2"},
      {"function f() { return { a: 1 }; }", "", "f=5", "", "f:6{a:1}"},
      {"function f() { return { a: 1 }; }", "", "f=4[1]", "", "f:4[1]"},
      // every gated function takes the first matching return of the file
      {"function f() { return 1; } function g() { return { a: 1 }; } function h() { return { b: 2 }; }",
       "", "f g !h ?k", "", "f:6{a:1} g:6{a:1} h:0 k:0"},
      // an earlier open conditional return wins over a later object
      {"function f() { return c ? {} : 'x'; } function g() { return { a: 1 }; }", "", "f g", "",
       "f:4[6,2] g:4[6,2]"},
  });
}

TEST(ReturnObjects, ScanStopsThreeTokensBeforeTheEnd) {
  check(analyze_return_objects, {
      {"return {};", "", "f", "", "f:6"},
      {"return {}", "", "f", "", "f:0"},
  });
}

// ---------------------------------------------------------------------------
// analyze_destructuring

TEST(Destructuring, ConstArrayPatternFromArrayOrUnion) {
  check(analyze_destructuring, {
      {"const [first, second] = items;", "items:7<1>", "",
       "items:7<1> first:4[1,2,3] second:4[1,2,3]", ""},
      {"const [a, , b] = items;", "items:4[1,2]", "", "items:4[1,2] a:4[1,2,3] b:4[1,2,3]", ""},
      {"const [a] = items;", "items:1", "", "items:1", ""},
      {"const [a] = items;", "", "", "", ""},
      {"const [a] = items;", "items:0", "", "items:0", ""},
      {"let [a] = items;", "items:7<1>", "", "items:7<1>", ""},
      {"var [a] = items;", "items:7<1>", "", "items:7<1>", ""},
      // existing variables of the same name are not consulted
      {"const [a] = items;", "a:1 items:7<1>", "", "a:1 items:7<1> a:4[1,2,3]", ""},
      // the source's last variable counts
      {"const [a] = items;", "items:1 items:7<1>", "", "items:1 items:7<1> a:4[1,2,3]", ""},
      {"const [a] = items;", "items:7<1> items:1", "", "items:7<1> items:1", ""},
      // a name appended by one pattern is the last variable of that name for the next
      {"const [a] = items; const [b] = a;", "a:1 items:7<1>", "",
       "a:1 items:7<1> a:4[1,2,3] b:4[1,2,3]", ""},
      // the pattern ends at the first `]`; the source is two tokens after it
      {"const [[x, y], z] = pair;", "pair:7<1> z:7<2>", "",
       "pair:7<1> z:7<2> x:4[1,2,3] y:4[1,2,3]", ""},
      // the `=` is not checked
      {"const [a] + items;", "items:7<1>", "", "items:7<1> a:4[1,2,3]", ""},
  });
}

TEST(Destructuring, BoundsAndNameTableCapacity) {
  check(analyze_destructuring, {
      {"const [a] = items", "items:7<1>", "", "items:7<1> a:4[1,2,3]", ""},
      {"const [a] =", "items:7<1>", "", "items:7<1>", ""},
      {"const [a, b, c", "c:7<1>", "", "c:7<1>", ""},
  });

  std::string pattern;
  std::string expected = "items:7<1>";
  for (int n = 0; n < 20; ++n) {
    pattern += (n > 0 ? ", n" : "n") + std::to_string(n);
    if (n < 16) expected += " n" + std::to_string(n) + ":4[1,2,3]";
  }
  Fixture fixture("const [" + pattern + "] = items;", "items:7<1>");
  analyze_destructuring(fixture.tokens, fixture.result);
  EXPECT_EQ(fixture.vars(), expected);
}

// ---------------------------------------------------------------------------
// pass0_detect_logic_vars

TEST(LogicVars, UndeclaredOperandBeforeALogicOperator) {
  check(pass0_detect_logic_vars, {
      {"if (ready && go) {}", "", "", "ready:3", ""},
      {"x || y || z;", "", "", "x:3 y:3", ""},
      {"const v = flag ? 1 : 2;", "", "", "flag:3", ""},
      {"const v = limit ?? 10;", "", "", "limit:4[1,0]", ""},
      // appended once: later occurrences find the variable
      {"a && b; a ?? c; a || d;", "", "", "a:3", ""},
      {"a ?? b; a && c;", "", "", "a:4[1,0]", ""},
      {"obj.flag ? a : b;", "", "", "", ""},
      {"a && b;", "a:1", "", "a:1", ""},
      {"a && b;", "", "!a", "", "a:0"},
      {"let a || b;", "", "", "", ""},
      {"x === y || z;", "", "", "y:3", ""},
      {"f(a) && b;", "", "", "", ""},
  });
}

TEST(LogicVars, SkipsWordsThatAreNeverVariables) {
  for (const char* word : {"true", "false", "console", "log", "typeof", "case", "default", "this",
                           "undefined", "NaN", "Infinity"}) {
    SCOPED_TRACE(word);
    for (const char* op : {" || x;", " && x;", " ? x : y;", " ?? x;"}) {
      Fixture fixture(std::string(word) + op);
      pass0_detect_logic_vars(fixture.tokens, fixture.result);
      EXPECT_EQ(fixture.vars(), "");
    }
  }
  // The idiom that made declaring global constants break the output.
  Fixture fixture("if (x === undefined || isNaN(y) || y === NaN || z < Infinity) {}");
  pass0_detect_logic_vars(fixture.tokens, fixture.result);
  EXPECT_EQ(fixture.vars(), "");
}

TEST(LogicVars, ScanStopsTwoTokensBeforeTheEnd) {
  check(pass0_detect_logic_vars, {
      {"a ?", "", "", "", ""},
      {"a ? b", "", "", "a:3", ""},
      {"x; a ??", "", "", "", ""},
      {"x; a ?? 1", "", "", "a:4[1,0]", ""},
  });
}

// ---------------------------------------------------------------------------
// analyze_advanced (with the symbol table built from the variables)

void run_advanced(const TokenList& tokens, AnalysisResult& result) {
  SymbolTable table;
  build_symbol_table(result, table);
  analyze_advanced(table, tokens, result);
}

TEST(Advanced, ConditionalInitialiser) {
  check(run_advanced, {
      {"let a = cond ? 1 : 'x';", "a", "", "a:4[1,2]", ""},
      {"let a = cond ? 1 : 2;", "a", "", "a:1", ""},
      {"let a = cond ? n : m;", "a n:2 m:2", "", "a:2 n:2 m:2", ""},
      {"let a = cond ? n : m;", "a n:2 m:0", "", "a:0 n:2 m:0", ""},
      {"let a = cond ? n : 'x';", "a", "", "a:0", ""},
      // X is the token right after `?`; Y follows the first `:` from there
      {"let a = cond ? f(1) : 'x';", "a", "", "a:0", ""},
      {"let a = cond ? 1 : { k: 'x' };", "a", "", "a:0", ""},
      // no colon: the declaration ends the search anyway
      {"let a = cond ? 1; let a = 2 || 2;", "a", "", "a:0", ""},
      // the colon is searched past the statement
      {"let a = cond ? 1; let b = c ? 'x' : 2;", "a", "", "a:1", ""},
      {"let v; let v = cond ? 1 : 2;", "v", "", "v:1", ""},
      {"let a = cond ? 1 : 'x';", "a:3", "", "a:3", ""},
  });
}

TEST(Advanced, OptionalChainInitialiserReadsObjectRecords) {
  struct ObjectCase {
    const char* source;
    const char* want;
  };
  const ObjectCase cases[] = {
      {"let p = cfg?.server?.port;", "p:1"},
      {"let p = cfg?.server.port;", "p:0"},
      {"let p = cfg?.host;", "p:2"},
      {"let p = cfg?.missing; let p = a || 1;", "p:0"},
      {"let p = other?.host;", "p:0"},
      {"let p = cfg?.server?.nothing;", "p:0"},
  };
  for (const ObjectCase& c : cases) {
    SCOPED_TRACE(c.source);
    Fixture fixture(c.source, "p");
    ObjectInfo cfg;
    cfg.name = "cfg";
    cfg.fields->emplace_back("host", TYPE_STRING);
    ObjectField server("server", TYPE_OBJECT);
    server.nested_fields.emplace_back("port", TYPE_NUMBER);
    cfg.fields->push_back(std::move(server));
    fixture.result.objects.push_back(std::move(cfg));
    run_advanced(fixture.tokens, fixture.result);
    EXPECT_EQ(fixture.vars(), c.want);
  }
}

TEST(Advanced, OptionalChainLastMatchingFieldDecides) {
  Fixture fixture("let p = cfg?.port;", "p");
  for (int kind : {TYPE_NUMBER, TYPE_STRING}) {
    ObjectInfo cfg;
    cfg.name = "cfg";
    cfg.fields->emplace_back("port", kind);
    fixture.result.objects.push_back(std::move(cfg));
  }
  ObjectInfo other;
  other.name = "other";
  other.fields->emplace_back("port", TYPE_BOOLEAN);
  fixture.result.objects.push_back(std::move(other));
  run_advanced(fixture.tokens, fixture.result);
  EXPECT_EQ(fixture.vars(), "p:2");
}

TEST(Advanced, LogicalInitialiserTakesTheRightOperand) {
  check(run_advanced, {
      {"let v = x ?? 'none';", "v x:1", "", "v:2 x:1", ""},
      {"let v = x || 5;", "v", "", "v:1", ""},
      {"let v = x && true;", "v", "", "v:3", ""},
      {"let v = x || y;", "v y:2", "", "v:2 y:2", ""},
      {"let v = 'a' || y;", "v", "", "v:0", ""},
      {"let v = 'a' || 1;", "v", "", "v:1", ""},
      // a declaration no rule applies to is passed over
      {"let v = 1; let v = a || 2;", "v", "", "v:1", ""},
      {"let v = 'a' ?. b; let v = a || 2;", "v", "", "v:1", ""},
      // the operator is the token right after the value
      {"let v = f(x) || 1;", "v", "", "v:0", ""},
  });
}

TEST(Advanced, SymbolTableIsASnapshot) {
  // a is typed during the walk; the lookup for b still sees the old 0.
  check(run_advanced, {
      {"let a = c ? 1 : 1; let b = c ? a : a;", "a b", "", "a:1 b:0", ""},
  });
}

TEST(Advanced, ScanStopsSixTokensBeforeTheEnd) {
  check(run_advanced, {
      {"let v = a || 5", "v", "", "v:0", ""},
      {"let v = a || 5;", "v", "", "v:1", ""},
  });
}

TEST(SymbolTable, LookupTakesTheFirstEntry) {
  Fixture fixture("", "a:1 b:2 a:3");
  SymbolTable table;
  table.entries.push_back(SymbolEntry{"stale", TypeInfo{}});
  build_symbol_table(fixture.result, table);
  ASSERT_EQ(table.entries.size(), 3u);
  EXPECT_EQ(lookup_type(table, "a"), 1);
  EXPECT_EQ(lookup_type(table, "b"), 2);
  EXPECT_EQ(lookup_type(table, "stale"), 0);
  EXPECT_EQ(lookup_type(table, "A"), 0);
}

// ---------------------------------------------------------------------------
// analyze_optional_chain

TEST(OptionalChain, AssignmentFromAnObjectField) {
  check(analyze_optional_chain, {
      {"const port = cfg?.port;", "cfg:6{port:1} port", "", "cfg:6{port:1} port:4[1,5]", ""},
      // overwrites whatever the target held
      {"port = cfg?.port;", "cfg:6{port:1} port:2", "", "cfg:6{port:1} port:4[1,5]", ""},
      {"port = cfg?.port;", "cfg:1 port", "", "cfg:1 port:0", ""},
      {"port = cfg?.port;", "cfg:6{host:2} port", "", "cfg:6{host:2} port:0", ""},
      {"port = cfg?.port;", "cfg:6{port:0} port", "", "cfg:6{port:0} port:0", ""},
      {"port = cfg?.port;", "cfg:6{port:2,port:1} port", "", "cfg:6{port:2,port:1} port:4[2,5]", ""},
      {"port = cfg?.port;", "cfg:6{port:1}", "", "cfg:6{port:1}", ""},
      {"port = cfg?.port;", "port", "", "port:0", ""},
      {"port = cfg?.['port'];", "cfg:6{port:1} port", "", "cfg:6{port:1} port:0", ""},
  });
}

TEST(OptionalChain, ReturnTypesTheLastFunctionOfTheList) {
  check(analyze_optional_chain, {
      {"function a() { return user?.name; } function b() {}", "user:6{name:2}", "a b", "user:6{name:2}",
       "a:0 b:4[2,5]"},
      // neither gating nor an open type is required
      {"function a() { return user?.name; }", "user:6{name:2}", "a !b=1", "user:6{name:2}",
       "a:0 b:4[2,5]"},
      {"function a() { return user?.name; }", "user:6{name:2}", "", "user:6{name:2}", ""},
      {"function a() { return user?.age; }", "user:6{name:2}", "a", "user:6{name:2}", "a:0"},
      // the bound i < count - 4 leaves out a return among the last four tokens
      {"return user?.name", "user:6{name:2}", "a", "user:6{name:2}", "a:0"},
      {"return user?.name;", "user:6{name:2}", "a", "user:6{name:2}", "a:4[2,5]"},
  });
}

// ---------------------------------------------------------------------------
// analyze_nullish and analyze_logical_ops

TEST(Nullish, AssignmentByTheTwoKindRule) {
  check(analyze_nullish, {
      {"x = a ?? 'none';", "a:1 x", "", "a:1 x:4[1,2]", ""},
      {"x = a ?? 'none';", "a:2 x", "", "a:2 x:2", ""},
      {"x = a ?? b;", "a b x:3", "", "a:0 b:0 x:3", ""},
      {"x = a ?? b;", "a:1 b:2 x", "", "a:1 b:2 x:4[1,2]", ""},
      {"x = a ?? 5;", "x", "", "x:4[1]", ""},
      {"const x = a ?? 5;", "x:2", "", "x:4[1]", ""},
      // members are rebuilt; equal kinds change the kind only
      {"x = a ?? 'n';", "a x:4[1,2,3]", "", "a:0 x:4[2]", ""},
      {"x = a ?? 1;", "a:1 x:2", "", "a:1 x:1", ""},
      {"x = a ?? 'none';", "a:1", "", "a:1", ""},
      {"x = a || 'none';", "a:1 x", "", "a:1 x:0", ""},
  });
}

TEST(Nullish, ReturnTypesTheLastFunctionOfTheList) {
  check(analyze_nullish, {
      {"function f() { return a ?? 0; } function g() {}", "a:2", "f g=3", "a:2", "f:0 g:4[2,1]"},
      {"function f() { return a ?? b; }", "a b", "f", "a:0 b:0", "f:0"},
      {"function f() { return a ?? 0; }", "", "", "", ""},
      {"return a ?? 0", "", "f", "", "f:0"},
      {"return a ?? 0;", "", "f", "", "f:4[1]"},
  });
}

TEST(LogicalOps, AssignmentByTheTwoKindRule) {
  check(analyze_logical_ops, {
      {"x = a || 0;", "a x", "", "a:0 x:4[1]", ""},
      {"x = a && b;", "a:2 b:2 x", "", "a:2 b:2 x:2", ""},
      {"x = a || b;", "a:2 b:2 x", "", "a:2 b:2 x:2", ""},
      {"x = a || b;", "a:1 b:3 x:2", "", "a:1 b:3 x:4[1,3]", ""},
      {"x = a && b;", "x:2", "", "x:2", ""},
      {"x = a || 'y';", "", "", "", ""},
      {"x = 'a' || 1;", "x", "", "x:0", ""},
      {"x = a ?? 1;", "x", "", "x:0", ""},
      {"x = a || 1", "x", "", "x:4[1]", ""},
  });
}

// ---------------------------------------------------------------------------
// analyze_ternary

TEST(Ternary, ConditionalReturnTypesEveryOpenGatedFunction) {
  check(analyze_ternary, {
      {"function f() { return ok ? 'yes' : 'no'; }", "", "f g g5=5 g1=1 !h ?k", "",
       "f:2 g:2 g5:2 g1:1 h:0 k:0"},
      {"function f() { return ok ? 1 : 'one'; }", "", "f", "", "f:4[1,2]"},
      {"function f() { return ok ? x : 'one'; }", "x:3", "f", "x:3", "f:4[3,2]"},
      // a return whose branches give nothing leaves the type open for a later one
      {"function f() { return ok ? x : y; } function g() { return c ? 1 : 1; }", "", "f", "", "f:1"},
      // the last `?` before the first `:`
      {"function f() { return a ? b ? 1 : 'x' : 2; }", "", "f", "", "f:4[1,2]"},
      // two operands of kind 5 leave the type open for the next return
      {"function f() { return c ? v : v; } function g() { return c ? 1 : 1; }", "v:5", "f g h", "v:5",
       "f:1 g:1 h:1"},
      {"function f() { return 1; }", "", "f", "", "f:0"},
      {"return ok ? 1 :", "", "f", "", "f:0"},
  });
}

TEST(Ternary, AssignmentIsRefinedOncePerGatedFunction) {
  check(analyze_ternary, {
      {"label = ok ? x : 'one';", "x label", "f", "x:0 label:4[2]", "f:0"},
      {"let label = ok ? 1 : 1;", "label:2", "f", "label:1", "f:0"},
      {"label = ok ? 1 : 2;", "label", "", "label:0", ""},
      {"label = ok ? 1 : 2;", "label", "!f ?g", "label:0", "f:0 g:0"},
      // applied again for each gated function, reading its own earlier result
      {"n = ok ? n : 1;", "n", "f", "n:4[1]", "f:0"},
      {"n = ok ? n : 1;", "n", "f g", "n:4[4,1]", "f:0 g:0"},
      // the search runs past the statement to the first colon
      {"x = 5; y = c ? 'a' : 'b';", "x y", "f", "x:2 y:2", "f:0"},
      {"x = { a: 1 };", "x", "f", "x:0", "f:0"},
      {"x === c ? 1 : 2;", "x", "f", "x:0", "f:0"},
  });
}

// ---------------------------------------------------------------------------
// analyze_switch

TEST(Switch, CaseAndDefaultReturns) {
  check(analyze_switch, {
      {"function f(k) { switch (k) { case 'a': return 1; default: return 'z'; } }", "", "f g ?h !i",
       "", "f:1 g:1 h:0 i:0"},
      {"function f(k) { switch (k) { default: return 'z'; } }", "", "f", "", "f:2"},
      {"function f(k) { switch (k) { default: log(); return 'z'; } }", "", "f", "", "f:2"},
      {"function f(k) { switch (k) { case 'a': log(); return 1; } }", "", "f", "", "f:0"},
      {"function f(k) { switch (k) { case v: return 1; } }", "", "f", "", "f:0"},
      {"function f(k) { switch (k) { default: return; } }", "", "f", "", "f:0"},
      {"function f(k) { switch (k) { case 1: return x; case 2: return true; } }", "", "f", "", "f:3"},
      // the label `true` is an identifier and ends its own case
      {"function f(k) { switch (k) { case true: return 1; } }", "", "f", "", "f:0"},
      // a token spelled case ends the scan, a string included
      {"function f(k) { switch (k) { case 'case': return 1; } }", "", "f", "", "f:0"},
      {"function f(k) { switch (k) { case 'x': 'case'; return 1; } }", "", "f", "", "f:0"},
      {"function f(k) { switch (k) { case 'a': {} return 1; } }", "", "f", "", "f:0"},
      {"function f(k) { switch (k) { case 'a': { return 1; } } }", "", "f", "", "f:1"},
      {"function f(k) { switch (k) { case 'a': foo(); case 'b': return 'b'; } }", "", "f", "", "f:2"},
      {"function f(k) { switch (k) { case 'a': return; case 'b': return 'b'; } }", "", "f", "", "f:2"},
      {"function f(k) { switch (k) { case 'a': return 1; } }", "", "f=2 g=5 h=4[1]", "",
       "f:2 g:1 h:4[1]"},
  });
}

TEST(Switch, BlockBoundsAndTheEndOfTheList) {
  check(analyze_switch, {
      {"switch (k) { case 1: return 'a';", "", "f", "", "f:2"},
      {"switch (k) { case 1: return 'a'", "", "f", "", "f:2"},
      {"switch (k) { case 1: return", "", "f", "", "f:0"},
      {"switch (k)", "", "f", "", "f:0"},
      {"switch (", "", "f", "", "f:0"},
      {"switch k", "", "f", "", "f:0"},
      // the block ends at its own closing brace
      {"switch (k) { case 1: x; } default: return 'z';", "", "f", "", "f:0"},
      {"switch (k) { case 1: if (x) { y(); } default: return 'z'; }", "", "f", "", "f:2"},
      // members stay as they were, only the kind is written
      {"switch (k) { default: return 1; }", "", "f=5", "", "f:1"},
  });
  check_writes_only_the_kind(analyze_switch, "switch (k) { default: return 1; }", "f", {2, 3, 0, 0}, 2, 1);
}

// ---------------------------------------------------------------------------
// analyze_reassignments

TEST(Reassignments, MergeLikeAddUnionType) {
  check(analyze_reassignments, {
      {"let count; count = 0;", "count", "", "count:1", ""},
      {"let count; count = 0; count = 'x'; count = 1;", "count", "", "count:4[1,2]", ""},
      {"v = 1; v = 's'; v = true; v = o; v = arr;", "v o:6 arr:7<1>", "", "v:4[1,2,3,6] o:6 arr:7<1>", ""},
      {"x = a > b;", "x", "", "x:3", ""},
      {"x = 1 == 2;", "x", "", "x:3", ""},
      {"x = a <= b; x = c !== d;", "x", "", "x:3", ""},
      {"x = a + 1;", "x", "", "x:1", ""},
      {"x = 'a' + 'b';", "x", "", "x:1", ""},
      {"x = y;", "x y:2", "", "x:2 y:2", ""},
      {"x = y;", "x", "", "x:0", ""},
      {"x = null;", "x", "", "x:0", ""},
      {"x = 1;", "", "", "", ""},
      {"let total = 0; const t = 'a'; var u = true;", "total t u", "", "total:0 t:0 u:0", ""},
      // a property assignment is not told apart
      {"obj.x = 'a';", "x", "", "x:2", ""},
      {"x = 2", "x", "", "x:1", ""},
      {"x = ", "x", "", "x:0", ""},
  });
}

// ---------------------------------------------------------------------------
// analyze_complex_returns

TEST(ComplexReturns, FirstTypedReturnFromTheBody) {
  check(analyze_complex_returns, {
      {"function f() { return !done; }", "", "f", "", "f:3"},
      {"function f() { return a === b; }", "", "f", "", "f:3"},
      {"function f() { return a >= b; }", "", "f", "", "f:3"},
      {"function f() { return 1 < 2; }", "", "f", "", "f:3"},
      {"function f() { return !a ? 1 : 2; }", "", "f", "", "f:3"},
      {"function f() { return 42; }", "", "f", "", "f:1"},
      {"function f() { return `t${x}`; }", "", "f", "", "f:2"},
      {"function f() { return name; }", "name:2", "f", "name:2", "f:2"},
      {"function f() { return name; return 'x'; }", "name", "f", "name:0", "f:2"},
      // an identifier never falls through to the conditional search
      {"function f() { return x ? 1 : 2; }", "", "f", "", "f:0"},
      {"function f() { return (x) ? 1 : 'a'; }", "", "f", "", "f:4[1,2]"},
      {"function f() { return (x) ? y : z; }", "", "f", "", "f:4[]"},
      {"function f() { return (x) ? 1 : 1; }", "", "f", "", "f:1"},
      {"function f() { return null || 5; }", "", "f", "", "f:4[1]"},
      {"function f() { return null ?? x; }", "", "f", "", "f:4[]"},
      {"function f() { return null && 'x'; }", "", "f", "", "f:4[2]"},
      {"function f() { return [a]; }", "", "f", "", "f:0"},
      {"function f() { return 1; return 'a'; }", "", "f", "", "f:1"},
      // a variable of kind 5 leaves the type open and the walk goes on
      {"function f() { return v; }", "v:5", "f", "v:5", "f:5"},
      {"function f() { return v; return w; return 'a'; }", "v:5 w:5", "f", "v:5 w:5", "f:2"},
  });
}

TEST(ComplexReturns, ScanRunsFromTheBodyToTheEndOfTheFile) {
  check(analyze_complex_returns, {
      {"function f() { } function g() { return 1; }", "", "f !g", "", "f:1 g:0"},
      {"function g() { return 1; } function f() { x; }", "", "!g f", "", "g:0 f:0"},
      // an empty body has no token region: the scan starts at the first token
      {"function g() { return 1; } function f() {}", "", "!g f", "", "g:0 f:1"},
      // without a token region the scan starts at the first token
      {"return 'x';", "", "f", "", "f:2"},
      {"function f() {} return", "", "f", "", "f:0"},
      {"function f() { return 1; }", "", "f=2 g=5 !h ?k", "", "f:2 g:1 h:0 k:0"},
  });
  // Only the kind is written by a literal return.
  check_writes_only_the_kind(analyze_complex_returns, "function f() { return 1; }", "f=5", {2, 0, 0, 0}, 1, 1);
}

// ---------------------------------------------------------------------------
// analyze_advanced_arrays

TEST(AdvancedArrays, ArrayMethodResults) {
  check(analyze_advanced_arrays, {
      {"doubled = nums.map(n => n * 2);", "doubled nums", "", "doubled:7<1> nums:0", ""},
      {"names = nums.map(n => 'x');", "names nums", "", "names:7<2> nums:0", ""},
      {"names = nums.map(n => n);", "names nums n:3", "", "names:7<3> nums:0 n:3", ""},
      {"hasTen = nums.some(n => n === 10);", "hasTen nums", "", "hasTen:3 nums:0", ""},
      {"all = nums.every(n => 1);", "all nums", "", "all:3 nums:0", ""},
      {"evens = nums.filter(n => n > 1);", "evens nums:7<1>", "", "evens:7<1> nums:7<1>", ""},
      {"evens = nums.filter(n => n > 1);", "evens nums:2", "", "evens:0 nums:2", ""},
      {"total = nums.reduce((a, b) => a + b, 0);", "total nums", "", "total:1 nums:0", ""},
      {"total = nums.reduce((a, b) => 'x', 0);", "total nums", "", "total:2 nums:0", ""},
      {"first = nums.find(n => n === 1);", "first nums:7<1>", "", "first:4[1,5] nums:7<1>", ""},
      {"first = nums.find(n => n === 1);", "first nums:7<0>", "", "first:0 nums:7<0>", ""},
      {"first = nums.find(n => n === 1);", "first nums:2", "", "first:0 nums:2", ""},
      {"x = nums.forEach(n => n * 2);", "x nums", "", "x:0 nums:0", ""},
      // t must be non-zero, whatever the method
      {"x = nums.map(n => foo(n));", "x nums", "", "x:0 nums:0", ""},
      {"x = nums.some(n => n <= 1);", "x nums", "", "x:0 nums:0", ""},
      {"x = nums.map(n => n);", "x nums", "", "x:0 nums:0", ""},
  });
}

TEST(AdvancedArrays, FillsOnlyUntypedTargetsOfKnownSources) {
  check(analyze_advanced_arrays, {
      {"x = nums.map(n => 1);", "x:2 nums", "", "x:2 nums:0", ""},
      {"x = nums.map(n => 1);", "x:5 nums", "", "x:7<1> nums:0", ""},
      {"x = nums.map(n => 1);", "x", "", "x:0", ""},
      {"x = nums.map(n => 1);", "nums", "", "nums:0", ""},
      {"const x = nums.map(n => 1);", "x nums", "", "x:7<1> nums:0", ""},
      // the arrow may stand anywhere after the call
      {"x = nums.map(fn); y = (a) => 'q';", "x nums", "", "x:7<2> nums:0", ""},
      {"x = nums.map(fn);", "x nums", "", "x:0 nums:0", ""},
      {"x = nums.map(n =>", "x nums", "", "x:0 nums:0", ""},
      {"x = nums.map(", "x nums", "", "x:0 nums:0", ""},
  });
}

// ---------------------------------------------------------------------------
// finalize_return_types

TEST(FinalizeReturnTypes, NoValueReturnInTheBodyMakesVoid) {
  check(finalize_return_types, {
      {"function f() { if (a) return; run(); return; }", "", "f", "", "f:5"},
      {"function f() { if (a) return }", "", "f", "", "f:5"},
      {"function f() { run(); }", "", "f", "", "f:5"},
      {"function f() { return x; }", "", "f", "", "f:0"},
      // a value return of another function does not count
      {"function f() {} function g() { return 1; }", "", "f g", "", "f:5 g:0"},
      {"function g() { return 1; } function f() {}", "", "g f", "", "g:0 f:5"},
      // a nested function's return lies inside the region
      {"function f() { function g() { return 1; } }", "", "f", "", "f:0"},
      {"function f() {}", "", "f=2 g=4[1] !h ?k", "", "f:2 g:4[1] h:0 k:0"},
      {"return 1;", "", "f", "", "f:5"},
  });
  Fixture fixture("function f() { return; }", "", "f=5");
  fixture.result.funcs[0].return_type.member_count = 2;
  finalize_return_types(fixture.tokens, fixture.result);
  EXPECT_EQ(fixture.result.funcs[0].return_type.member_count, 0);
}

// ---------------------------------------------------------------------------
// analyze_any_killer

TEST(AnyKiller, UntypedVariableFromItsFirstDeclaration) {
  check(analyze_any_killer, {
      {"let v = 1;", "v", "", "v:1", ""},
      {"const v = 'a';", "v", "", "v:2", ""},
      {"var v = false;", "v", "", "v:3", ""},
      {"let v = !flag;", "v", "", "v:3", ""},
      {"let v = other;", "v other:2", "", "v:2 other:2", ""},
      {"let v = other;", "v other:4[1,2]", "", "v:4[] other:4[1,2]", ""},
      {"let v = other;", "v", "", "v:0", ""},
      // an identifier is never an operand of the later bullets
      {"let v = a < b;", "v", "", "v:0", ""},
      {"let v = a + 1;", "v", "", "v:0", ""},
      {"let v = a < b;", "v a:1", "", "v:1 a:1", ""},
      {"let v = null < x;", "v", "", "v:3", ""},
      {"let v = null > x;", "v", "", "v:3", ""},
      {"let v = null <= x;", "v", "", "v:0", ""},
      {"let v = null = x;", "v", "", "v:3", ""},
      {"let v = null - 1;", "v", "", "v:1", ""},
      {"let v = -1;", "v", "", "v:0", ""},
      {"let v = [1];", "v", "", "v:0", ""},
  });
}

TEST(AnyKiller, OnlyTheFirstDeclarationCounts) {
  check(analyze_any_killer, {
      {"let v; let v = 1;", "v", "", "v:0", ""},
      {"let v = x; let v = 1;", "v", "", "v:0", ""},
      {"v = 1; let v = 'a';", "v", "", "v:2", ""},
      {"let v = 1;", "v:2", "", "v:2", ""},
      {"let v = 1", "v", "", "v:1", ""},
      {"let v =", "v", "", "v:0", ""},
      // variables are visited in list order and see earlier results
      {"let a = 1; let b = a;", "b a", "", "b:0 a:1", ""},
      {"let a = 1; let b = a;", "a b", "", "a:1 b:1", ""},
  });
}

// ---------------------------------------------------------------------------
// simplify_unions

TEST(SimplifyUnions, DistinctMembersAndCollapse) {
  check([](const TokenList&, AnalysisResult& result) { simplify_unions(result); },
        {
            {"", "a:4[2,2,2] b:4[1,0] c:4[] d:4[1,2,1,2] e:4[3,3] f:7<1> g:4[0,0]", "k=4[2,2]",
             "a:2 b:4[1,0] c:4[] d:4[1,2] e:3 f:7<1> g:0", "k:4[2,2]"},
        });
  Fixture fixture("", "a:4[2,2,2]");
  simplify_unions(fixture.result);
  EXPECT_EQ(fixture.result.vars[0].type.kind, 2);
  EXPECT_EQ(fixture.result.vars[0].type.member_count, 1);
  EXPECT_EQ(fixture.result.vars[0].type.members[0], 2);
}

}  // namespace

// ---------------------------------------------------------------------------
// analyzer3_run: the order of the sub-passes

TEST(Analyzer3Run, OrderDecidesBetweenFillingAndOverwritingRules) {
  check(analyzer3_run, {
      // the object rule runs first; the first-return rule finds the type set
      {"function f() { return { a: 1 }; }", "", "f", "", "f:6{a:1}"},
      // the conditional return of g types f before f's own literal return is seen
      {"function f() { return 1; } function g() { return c ? 'a' : 'b'; }", "", "f g", "c:3",
       "f:2 g:2"},
      // a plain reassignment types d before the array-method rule looks at it
      {"let d; d = nums.map(n => n * 2);", "d nums:7<1>", "", "d:7<0> nums:7<1>", ""},
      // the first-return rule runs before the switch rule
      {"function f(k) { switch (k) { case 1: return 'a'; } return 0; }", "", "f", "", "f:2"},
      {"function f() { run(); }", "", "f", "", "f:5"},
      // destructured names come before logic operands; the nullish rule then
      // reads the union appended for limit
      {"if (ready && go) {} const x = limit ?? 10; const [p] = items;", "x items:7<1>", "",
       "x:4[4,1] items:7<1> p:4[1,2,3] ready:3 limit:4[1,0]", ""},
      // the symbol table is taken after the any-killer typed n; the
      // any-killer itself leaves v alone (c names no variable)
      {"let n = 'a'; let v = c ? n : n;", "n v", "!c", "n:2 v:2", "c:0"},
      // unions of one distinct member collapse at the end
      {"let x; x = 1;", "x:4[1,1]", "", "x:1", ""},
      {"let x = a || 1;", "x a:1", "", "x:1 a:1", ""},
  });
}

TEST(Analyzer3Run, EveryPrefixOfASourceIsSafe) {
  // Cutting a source at every token puts each rule's run against the end of
  // the list; the sanitizer build catches any read past it.
  const std::string source =
      "function f(k) { const [a, b] = xs; if (ready && go ?? z) { return { id: 1, n: a > b, "
      "o: { p: 2 } }; } x = y?.port; x = y ?? 'v'; x = y || 1; w = ok ? { q: 1 } : null; "
      "switch (k) { case 'a': return 1; default: return 'z'; } d = xs.map(n => n * 2); "
      "return !done; } let v = c ? 1 : 'x'; let p = cfg?.server?.port; let q = m && 3;";
  const TokenList all = tokenize(source);
  for (int cut = 0; cut <= all.count(); ++cut) {
    SCOPED_TRACE(cut);
    TokenList tokens;
    tokens.items.assign(all.items.begin(), all.items.begin() + cut);
    AnalysisResult result;
    for (const char* name : {"xs", "x", "y", "w", "d", "v", "p", "q", "done"}) {
      result.vars.push_back(kvx_test::var_record(name));
    }
    result.vars[0].type = pass3_test::parse_type("7<1>");
    result.vars[2].type = pass3_test::parse_type("6{port:1}");
    FuncInfo region;  // a region reaching past the end of the list
    region.name = "f";
    region.body = "";
    region.flow_enabled = 1;
    region.body_first_token = 5;
    region.body_end_token = all.count() + 10;
    FuncInfo none = region;  // a body without a token region
    none.name = "g";
    none.body_first_token = none.body_end_token = -1;
    result.funcs.push_back(region);
    result.funcs.push_back(none);
    ObjectInfo cfg;
    cfg.name = "cfg";
    ObjectField server("server", TYPE_OBJECT);
    server.nested_fields.emplace_back("port", TYPE_NUMBER);
    cfg.fields->push_back(std::move(server));
    result.objects.push_back(std::move(cfg));

    analyzer3_run(tokens, result);
    for (const VarInfo& var : result.vars) {
      EXPECT_GE(var.type.member_count, 0);
      EXPECT_LE(var.type.member_count, kMaxUnionMembers);
    }
  }
}
