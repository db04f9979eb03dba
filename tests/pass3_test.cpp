// Pass-3 sub-passes, each on real tokens and a hand-made result, so that a
// rule is seen on its own. Type notation: see pass3_fixture.h.
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <initializer_list>

#include "analysis/analyzeR3.h"
#include "pass3_fixture.h"
#include "reference/pass3_reference.h"
#include "test_support.h"

namespace {

using pass3_test::Fixture;

using SubPass = std::function<void(const TokenList&, const FileIndex&, AnalysisResult&)>;

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
    pass(fixture.tokens, fixture.index, fixture.result);
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
  pass(fixture.tokens, fixture.index, fixture.result);
  EXPECT_EQ(fixture.result.funcs[0].return_type.kind, kind);
  EXPECT_EQ(fixture.result.funcs[0].return_type.member_count, member_count);
}

// ---------------------------------------------------------------------------
// analyze_return_objects

TEST(ReturnObjects, ObjectLiteralReturnCollectsEveryKeyFlat) {
  check(analyze_return_objects, {
      {"function f() { return { id: 1, name: 'a', ok: flag, nested: { x: 2 } }; }", "flag: boolean", "f",
       "flag: boolean", "f: { id: number; name: string; ok: boolean; nested: object; x: number }"},
      // an identifier value with no variable of that name is 0
      {"function f() { return { ok: flag }; }", "", "f", "", "f: { ok: any }"},
      // an identifier value wins over the operator after it
      {"function f() { return { a: x > y, b: n + 1 }; }", "", "f", "", "f: { a: any; b: any }"},
      // equality and < > make a boolean, <= does not; arithmetic a number
      {"function f() { return { a: null === x, b: null > 1, c: null <= 2, d: null * 3 }; }", "",
       "f", "", "f: { a: boolean; b: boolean; c: any; d: number }"},
      {"function f() { return { e: {}, g: [1], h: -1 }; }", "", "f", "", "f: { e: object; g: any; h: any }"},
      {"function f() { return {}; }", "", "f", "", "f: object"},
      // the walk ends at the literal's closing brace
      {"function f() { return { a: { b: 1 }, c: 2 }; } const z = { q: 1 };", "", "f", "",
       "f: { a: object; b: number; c: number }"},
      // a return of no function's own code types none
      {"return { a: 1, b: 'x' };", "", "f", "", "f: any"},
  });
}

TEST(ReturnObjects, ConditionalObjectReturn) {
  check(analyze_return_objects, {
      // the first `:` is the key's colon: `{` pairs with 1
      {"function f() { return ok ? { a: 1 } : null; }", "", "f", "", "f: object | number"},
      {"function f() { return ok ? {} : 'none'; }", "", "f", "", "f: object | string"},
      {"function f() { return ok ? 'x' : {}; }", "", "f", "", "f: object | string"},
      {"function f() { return ok ? null : {}; }", "", "f", "", "f: (object)"},
      {"function f() { return ok ? {} : {}; }", "", "f", "", "f: object"},
      {"function f() { return ok ? 1 : 2; }", "", "f", "", "f: any"},
      // the last `?` before the colon
      {"function f() { return a ? b ? {} : 1 : 2; }", "", "f", "", "f: object | number"},
      // the search ends with the returned expression
      {"function f() { return x; } const y = c ? {} : 1;", "", "f", "", "f: any"},
      {"function f() { return x; } function g() { return c ? {} : 1; }", "", "f g", "", "f: any, g: object | number"},
      // a colon with nothing after it, or none at all, fails
      {"return ok ? {} :", "", "f", "", "f: any"},
      {"function f() { return ok ? {} ; }", "", "f", "", "f: any"},
  });
}

TEST(ReturnObjects, FillsOnlyOpenTypesOfGatedFunctionsFromTheirOwnReturns) {
  check(analyze_return_objects, {
      {"function f() { return { a: 1 }; }", "", "f: string", "", "f: string"},
      {"function f() { return { a: 1 }; }", "", "f: void", "", "f: { a: number }"},
      {"function f() { return { a: 1 }; }", "", "f: (number)", "", "f: (number)"},
      // each gated function takes the first matching return of its own code
      {"function f() { return 1; } function g() { return { a: 1 }; } function h() { return { b: 2 }; }",
       "", "f g !h ?k", "", "f: any, g: { a: number }, h: any, k: any"},
      {"function f() { return c ? {} : 'x'; } function g() { return { a: 1 }; }", "", "f g", "",
       "f: object | string, g: { a: number }"},
      // a nested function's return is its own
      {"function f(list) { return list.map(function (x) { return { a: 1 }; }); }", "", "f", "", "f: any"},
      {"function f() { if (x) return { a: 1 }; return { b: 'x' }; }", "", "f", "", "f: { a: number }"},
  });
}

TEST(ReturnObjects, OnlyReturnsOfAFunctionsOwnCodeCount) {
  check(analyze_return_objects, {
      {"function f() { return {} }", "", "f", "", "f: object"},
      {"return {};", "", "f", "", "f: any"},
  });
}

// ---------------------------------------------------------------------------
// analyze_destructuring

TEST(Destructuring, ConstArrayPatternFromArrayOrUnion) {
  check(analyze_destructuring, {
      {"const [first, second] = items;", "items: number[]", "",
       "items: number[], first: number | string | boolean, second: number | string | boolean", ""},
      {"const [a, , b] = items;", "items: number | string", "", "items: number | string, a: number | string | boolean, b: number | string | boolean", ""},
      {"const [a] = items;", "items: number", "", "items: number", ""},
      {"const [a] = items;", "", "", "", ""},
      {"const [a] = items;", "items: any", "", "items: any", ""},
      {"let [a] = items;", "items: number[]", "", "items: number[]", ""},
      {"var [a] = items;", "items: number[]", "", "items: number[]", ""},
      // existing variables of the same name are not consulted
      {"const [a] = items;", "a: number, items: number[]", "", "a: number, items: number[], a: number | string | boolean", ""},
      // the source's last variable counts
      {"const [a] = items;", "items: number, items: number[]", "", "items: number, items: number[], a: number | string | boolean", ""},
      {"const [a] = items;", "items: number[], items: number", "", "items: number[], items: number", ""},
      // a name appended by one pattern is the last variable of that name for the next
      {"const [a] = items; const [b] = a;", "a: number, items: number[]", "",
       "a: number, items: number[], a: number | string | boolean, b: number | string | boolean", ""},
      // the pattern ends at the first `]`; the source is two tokens after it
      {"const [[x, y], z] = pair;", "pair: number[], z: string[]", "",
       "pair: number[], z: string[], x: number | string | boolean, y: number | string | boolean", ""},
      // the `=` is not checked
      {"const [a] + items;", "items: number[]", "", "items: number[], a: number | string | boolean", ""},
  });
}

TEST(Destructuring, BoundsAndNameTableCapacity) {
  check(analyze_destructuring, {
      {"const [a] = items", "items: number[]", "", "items: number[], a: number | string | boolean", ""},
      {"const [a] =", "items: number[]", "", "items: number[]", ""},
      {"const [a, b, c", "c: number[]", "", "c: number[]", ""},
  });

  std::string pattern;
  std::string expected = "items: number[]";
  for (int n = 0; n < 20; ++n) {
    pattern += (n > 0 ? ", n" : "n") + std::to_string(n);
    if (n < 16) expected += ", n" + std::to_string(n) + ": number | string | boolean";
  }
  Fixture fixture("const [" + pattern + "] = items;", "items: number[]");
  analyze_destructuring(fixture.tokens, fixture.index, fixture.result);
  EXPECT_EQ(fixture.vars(), expected);
}

// ---------------------------------------------------------------------------
// pass0_detect_logic_vars

TEST(LogicVars, UndeclaredOperandBeforeALogicOperator) {
  check(pass0_detect_logic_vars, {
      {"if (ready && go) {}", "", "", "ready: boolean", ""},
      {"x || y || z;", "", "", "x: boolean, y: boolean", ""},
      {"const v = flag ? 1 : 2;", "", "", "flag: boolean", ""},
      {"const v = limit ?? 10;", "", "", "limit: number | any", ""},
      // appended once: later occurrences find the variable
      {"a && b; a ?? c; a || d;", "", "", "a: boolean", ""},
      {"a ?? b; a && c;", "", "", "a: number | any", ""},
      {"obj.flag ? a : b;", "", "", "", ""},
      {"a && b;", "a: number", "", "a: number", ""},
      {"a && b;", "", "!a", "", "a: any"},
      {"let a || b;", "", "", "", ""},
      {"x === y || z;", "", "", "y: boolean", ""},
      {"f(a) && b;", "", "", "", ""},
  });
}

TEST(LogicVars, SkipsWordsThatAreNeverVariables) {
  for (const char* word : {"true", "false", "console", "log", "typeof", "case", "default", "this",
                           "undefined", "NaN", "Infinity"}) {
    SCOPED_TRACE(word);
    for (const char* op : {" || x;", " && x;", " ? x : y;", " ?? x;"}) {
      Fixture fixture(std::string(word) + op);
      pass0_detect_logic_vars(fixture.tokens, fixture.index, fixture.result);
      EXPECT_EQ(fixture.vars(), "");
    }
  }
  // The idiom that made declaring global constants break the output.
  Fixture fixture("if (x === undefined || isNaN(y) || y === NaN || z < Infinity) {}");
  pass0_detect_logic_vars(fixture.tokens, fixture.index, fixture.result);
  EXPECT_EQ(fixture.vars(), "");
}

TEST(LogicVars, ScanStopsTwoTokensBeforeTheEnd) {
  check(pass0_detect_logic_vars, {
      {"a ?", "", "", "", ""},
      {"a ? b", "", "", "a: boolean", ""},
      {"x; a ??", "", "", "", ""},
      {"x; a ?? 1", "", "", "a: number | any", ""},
  });
}

// ---------------------------------------------------------------------------
// analyze_advanced (with the symbol table built from the variables)

void run_advanced(const TokenList& tokens, const FileIndex& index, AnalysisResult& result) {
  SymbolTable table;
  build_symbol_table(result, table);
  analyze_advanced(table, tokens, index, result);
}

TEST(Advanced, ConditionalInitialiser) {
  check(run_advanced, {
      {"let a = cond ? 1 : 'x';", "a", "", "a: number | string", ""},
      {"let a = cond ? 1 : 2;", "a", "", "a: number", ""},
      {"let a = cond ? n : m;", "a, n: string, m: string", "", "a: string, n: string, m: string", ""},
      {"let a = cond ? n : m;", "a, n: string, m: any", "", "a: any, n: string, m: any", ""},
      {"let a = cond ? n : 'x';", "a", "", "a: any", ""},
      // X is the token right after `?`; Y follows the first `:` from there
      {"let a = cond ? f(1) : 'x';", "a", "", "a: any", ""},
      {"let a = cond ? 1 : { k: 'x' };", "a", "", "a: any", ""},
      // no colon: the declaration ends the search anyway
      {"let a = cond ? 1; let a = 2 || 2;", "a", "", "a: any", ""},
      // the colon is searched past the statement
      {"let a = cond ? 1; let b = c ? 'x' : 2;", "a", "", "a: number", ""},
      {"let v; let v = cond ? 1 : 2;", "v", "", "v: number", ""},
      {"let a = cond ? 1 : 'x';", "a: boolean", "", "a: boolean", ""},
  });
}

TEST(Advanced, OptionalChainInitialiserReadsObjectRecords) {
  struct ObjectCase {
    const char* source;
    const char* want;
  };
  const ObjectCase cases[] = {
      {"let p = cfg?.server?.port;", "p: number"},
      {"let p = cfg?.server.port;", "p: any"},
      {"let p = cfg?.host;", "p: string"},
      {"let p = cfg?.missing; let p = a || 1;", "p: any"},
      {"let p = other?.host;", "p: any"},
      {"let p = cfg?.server?.nothing;", "p: any"},
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
    run_advanced(fixture.tokens, fixture.index, fixture.result);
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
  run_advanced(fixture.tokens, fixture.index, fixture.result);
  EXPECT_EQ(fixture.vars(), "p: string");
}

TEST(Advanced, LogicalInitialiserTakesTheRightOperand) {
  check(run_advanced, {
      {"let v = x ?? 'none';", "v, x: number", "", "v: string, x: number", ""},
      {"let v = x || 5;", "v", "", "v: number", ""},
      {"let v = x && true;", "v", "", "v: boolean", ""},
      {"let v = x || y;", "v, y: string", "", "v: string, y: string", ""},
      {"let v = 'a' || y;", "v", "", "v: any", ""},
      {"let v = 'a' || 1;", "v", "", "v: number", ""},
      // a declaration no rule applies to is passed over
      {"let v = 1; let v = a || 2;", "v", "", "v: number", ""},
      {"let v = 'a' ?. b; let v = a || 2;", "v", "", "v: number", ""},
      // the operator is the token right after the value
      {"let v = f(x) || 1;", "v", "", "v: any", ""},
  });
}

TEST(Advanced, SymbolTableIsASnapshot) {
  // a is typed during the walk; the lookup for b still sees the old 0.
  check(run_advanced, {
      {"let a = c ? 1 : 1; let b = c ? a : a;", "a b", "", "a: number, b: any", ""},
  });
}

TEST(Advanced, ScanStopsSixTokensBeforeTheEnd) {
  check(run_advanced, {
      {"let v = a || 5", "v", "", "v: any", ""},
      {"let v = a || 5;", "v", "", "v: number", ""},
  });
}

TEST(SymbolTable, LookupTakesTheFirstEntry) {
  Fixture fixture("", "a: number, b: string, a: boolean");
  SymbolTable table;
  table.entries.push_back(SymbolEntry{"stale", TypeInfo{}});
  build_symbol_table(fixture.result, table);
  ASSERT_EQ(table.entries.size(), 3u);
  EXPECT_EQ(pass3_reference::lookup_type(table, "a"), 1);
  EXPECT_EQ(pass3_reference::lookup_type(table, "b"), 2);
  EXPECT_EQ(pass3_reference::lookup_type(table, "stale"), 0);
  EXPECT_EQ(pass3_reference::lookup_type(table, "A"), 0);
}

// ---------------------------------------------------------------------------
// analyze_optional_chain

TEST(OptionalChain, AssignmentFromAnObjectField) {
  check(analyze_optional_chain, {
      {"const port = cfg?.port;", "cfg: { port: number }, port", "", "cfg: { port: number }, port: number | void", ""},
      // overwrites whatever the target held
      {"port = cfg?.port;", "cfg: { port: number }, port: string", "", "cfg: { port: number }, port: number | void", ""},
      {"port = cfg?.port;", "cfg: number, port", "", "cfg: number, port: any", ""},
      {"port = cfg?.port;", "cfg: { host: string }, port", "", "cfg: { host: string }, port: any", ""},
      {"port = cfg?.port;", "cfg: { port: any }, port", "", "cfg: { port: any }, port: any", ""},
      {"port = cfg?.port;", "cfg: { port: string; port: number }, port", "", "cfg: { port: string; port: number }, port: string | void", ""},
      {"port = cfg?.port;", "cfg: { port: number }", "", "cfg: { port: number }", ""},
      {"port = cfg?.port;", "port", "", "port: any", ""},
      {"port = cfg?.['port'];", "cfg: { port: number }, port", "", "cfg: { port: number }, port: any", ""},
  });
}

TEST(OptionalChain, ReturnTypesTheFunctionHoldingIt) {
  check(analyze_optional_chain, {
      {"function a() { return user?.name; } function b() {}", "user: { name: string }", "a b", "user: { name: string }",
       "a: string | void, b: any"},
      // neither gating nor an open type is required
      {"function a() { return user?.name; }", "user: { name: string }", "!a: number, b", "user: { name: string }",
       "a: string | void, b: any"},
      {"function a() { return user?.name; }", "user: { name: string }", "", "user: { name: string }", ""},
      {"function a() { return user?.age; }", "user: { name: string }", "a", "user: { name: string }", "a: any"},
      // a return of no function's own code types none
      {"return user?.name;", "user: { name: string }", "a", "user: { name: string }", "a: any"},
      {"function a() { return [1].map(function () { return user?.name; }); }", "user: { name: string }", "a",
       "user: { name: string }", "a: any"},
  });
}

// ---------------------------------------------------------------------------
// analyze_nullish and analyze_logical_ops

TEST(Nullish, AssignmentByTheTwoKindRule) {
  check(analyze_nullish, {
      {"x = a ?? 'none';", "a: number, x", "", "a: number, x: number | string", ""},
      {"x = a ?? 'none';", "a: string, x", "", "a: string, x: string", ""},
      {"x = a ?? b;", "a, b, x: boolean", "", "a: any, b: any, x: boolean", ""},
      {"x = a ?? b;", "a: number, b: string, x", "", "a: number, b: string, x: number | string", ""},
      {"x = a ?? 5;", "x", "", "x: (number)", ""},
      {"const x = a ?? 5;", "x: string", "", "x: (number)", ""},
      // members are rebuilt; equal kinds change the kind only
      {"x = a ?? 'n';", "a, x: number | string | boolean", "", "a: any, x: (string)", ""},
      {"x = a ?? 1;", "a: number, x: string", "", "a: number, x: number", ""},
      {"x = a ?? 'none';", "a: number", "", "a: number", ""},
      {"x = a || 'none';", "a: number, x", "", "a: number, x: any", ""},
  });
}

TEST(Nullish, ReturnTypesTheFunctionHoldingIt) {
  check(analyze_nullish, {
      {"function f() { return a ?? 0; } function g() {}", "a: string", "f, g: boolean", "a: string", "f: string | number, g: boolean"},
      {"function f() { return a ?? b; }", "a b", "f", "a: any, b: any", "f: any"},
      {"function f() { return a ?? 0; }", "", "", "", ""},
      {"return a ?? 0", "", "f", "", "f: any"},
      {"return a ?? 0;", "", "f", "", "f: any"},
      {"function f() { return a ?? 0 }", "", "f", "", "f: (number)"},
  });
}

TEST(LogicalOps, AssignmentByTheTwoKindRule) {
  check(analyze_logical_ops, {
      {"x = a || 0;", "a x", "", "a: any, x: (number)", ""},
      {"x = a && b;", "a: string, b: string, x", "", "a: string, b: string, x: string", ""},
      {"x = a || b;", "a: string, b: string, x", "", "a: string, b: string, x: string", ""},
      {"x = a || b;", "a: number, b: boolean, x: string", "", "a: number, b: boolean, x: number | boolean", ""},
      {"x = a && b;", "x: string", "", "x: string", ""},
      {"x = a || 'y';", "", "", "", ""},
      {"x = 'a' || 1;", "x", "", "x: any", ""},
      {"x = a ?? 1;", "x", "", "x: any", ""},
      {"x = a || 1", "x", "", "x: (number)", ""},
  });
}

// ---------------------------------------------------------------------------
// analyze_ternary

TEST(Ternary, ConditionalReturnTypesItsOwnFunction) {
  check(analyze_ternary, {
      {"function f() { return ok ? 'yes' : 'no'; }", "", "f, g, g5: void, g1: number, !h, ?k", "",
       "f: string, g: any, g5: void, g1: number, h: any, k: any"},
      {"function f() { return ok ? 'yes' : 'no'; } function g() { return o.v; }", "", "f g", "", "f: string, g: any"},
      {"function f() { return o.v; } const m = c ? 'a' : 'b';", "", "f", "", "f: any"},
      {"function f() { return ok ? 1 : 'one'; }", "", "f", "", "f: number | string"},
      {"function f() { return ok ? x : 'one'; }", "x: boolean", "f", "x: boolean", "f: boolean | string"},
      // a return whose branches give nothing leaves the type open
      {"function f() { return ok ? x : y; } function g() { return c ? 1 : 1; }", "", "f g", "", "f: any, g: number"},
      {"function f() { if (a) return ok ? x : y; return c ? 1 : 1; }", "", "f", "", "f: number"},
      // the last `?` before the first `:`
      {"function f() { return a ? b ? 1 : 'x' : 2; }", "", "f", "", "f: number | string"},
      // two operands of kind 5 leave the type open for the next return
      {"function f() { return c ? v : v; } function g() { return c ? 1 : 1; }", "v: void", "f g h", "v: void",
       "f: void, g: number, h: any"},
      {"function f() { return 1; }", "", "f", "", "f: any"},
      {"return ok ? 1 :", "", "f", "", "f: any"},
  });
}

TEST(Ternary, AssignmentIsRefinedOncePerGatedFunction) {
  check(analyze_ternary, {
      {"label = ok ? x : 'one';", "x label", "f", "x: any, label: (string)", "f: any"},
      {"let label = ok ? 1 : 1;", "label: string", "f", "label: number", "f: any"},
      {"label = ok ? 1 : 2;", "label", "", "label: any", ""},
      {"label = ok ? 1 : 2;", "label", "!f ?g", "label: any", "f: any, g: any"},
      // applied again for each gated function, reading its own earlier result
      {"n = ok ? n : 1;", "n", "f", "n: (number)", "f: any"},
      {"n = ok ? n : 1;", "n", "f g", "n: never | number", "f: any, g: any"},
      // the search runs past the statement to the first colon
      {"x = 5; y = c ? 'a' : 'b';", "x y", "f", "x: string, y: string", "f: any"},
      {"x = { a: 1 };", "x", "f", "x: any", "f: any"},
      {"x === c ? 1 : 2;", "x", "f", "x: any", "f: any"},
  });
}

// ---------------------------------------------------------------------------
// analyze_switch

TEST(Switch, CaseAndDefaultReturns) {
  check(analyze_switch, {
      {"function f(k) { switch (k) { case 'a': return 1; default: return 'z'; } }", "", "f g ?h !i",
       "", "f: number, g: any, h: any, i: any"},
      // only a return of the function's own code types it
      {"function f(k) { switch (k) { case 1: return 'a'; } } function g() { return o.v; }", "", "f g", "",
       "f: string, g: any"},
      {"function f(k) { return [1].map(function () { switch (k) { default: return 'z'; } }); }", "", "f", "",
       "f: any"},
      {"function f(k) { switch (k) { default: return 'z'; } }", "", "f", "", "f: string"},
      {"function f(k) { switch (k) { default: log(); return 'z'; } }", "", "f", "", "f: string"},
      {"function f(k) { switch (k) { case 'a': log(); return 1; } }", "", "f", "", "f: any"},
      {"function f(k) { switch (k) { case v: return 1; } }", "", "f", "", "f: any"},
      {"function f(k) { switch (k) { default: return; } }", "", "f", "", "f: any"},
      {"function f(k) { switch (k) { case 1: return x; case 2: return true; } }", "", "f", "", "f: boolean"},
      // the label `true` is an identifier and ends its own case
      {"function f(k) { switch (k) { case true: return 1; } }", "", "f", "", "f: any"},
      // a token spelled case ends the scan, a string included
      {"function f(k) { switch (k) { case 'case': return 1; } }", "", "f", "", "f: any"},
      {"function f(k) { switch (k) { case 'x': 'case'; return 1; } }", "", "f", "", "f: any"},
      {"function f(k) { switch (k) { case 'a': {} return 1; } }", "", "f", "", "f: any"},
      {"function f(k) { switch (k) { case 'a': { return 1; } } }", "", "f", "", "f: number"},
      {"function f(k) { switch (k) { case 'a': foo(); case 'b': return 'b'; } }", "", "f", "", "f: string"},
      {"function f(k) { switch (k) { case 'a': return; case 'b': return 'b'; } }", "", "f", "", "f: string"},
      {"function f(k) { switch (k) { case 'a': return 1; } }", "", "f: string, g: void, h: (number)", "",
       "f: string, g: void, h: (number)"},
      {"function f(k) { switch (k) { case 'a': return 1; } }", "", "f: void", "", "f: number"},
  });
}

TEST(Switch, BlockBoundsAndTheEndOfTheList) {
  check(analyze_switch, {
      // a return of no function's own code types none
      {"switch (k) { case 1: return 'a';", "", "f", "", "f: any"},
      {"switch (k) { case 1: return", "", "f", "", "f: any"},
      {"switch (k)", "", "f", "", "f: any"},
      {"switch (", "", "f", "", "f: any"},
      {"switch k", "", "f", "", "f: any"},
      // the block ends at its own closing brace
      {"function f(k) { switch (k) { case 1: x; } default: return 'z'; }", "", "f", "", "f: any"},
      {"function f(k) { switch (k) { case 1: if (x) { y(); } default: return 'z'; } }", "", "f", "", "f: string"},
      // members stay as they were, only the kind is written
      {"function f(k) { switch (k) { default: return 1; } }", "", "f: void", "", "f: number"},
  });
  check_writes_only_the_kind(analyze_switch, "function f(k) { switch (k) { default: return 1; } }", "f",
                             {2, 3, 0, 0}, 2, 1);
}

// ---------------------------------------------------------------------------
// analyze_reassignments

TEST(Reassignments, MergeLikeAddUnionType) {
  check(analyze_reassignments, {
      {"let count; count = 0;", "count", "", "count: number", ""},
      {"let count; count = 0; count = 'x'; count = 1;", "count", "", "count: number | string", ""},
      {"v = 1; v = 's'; v = true; v = o; v = arr;", "v, o: object, arr: number[]", "", "v: number | string | boolean | object, o: object, arr: number[]", ""},
      {"x = a > b;", "x", "", "x: boolean", ""},
      {"x = 1 == 2;", "x", "", "x: boolean", ""},
      {"x = a <= b; x = c !== d;", "x", "", "x: boolean", ""},
      {"x = a + 1;", "x", "", "x: number", ""},
      {"x = 'a' + 'b';", "x", "", "x: number", ""},
      {"x = y;", "x, y: string", "", "x: string, y: string", ""},
      {"x = y;", "x", "", "x: any", ""},
      {"x = null;", "x", "", "x: any", ""},
      {"x = 1;", "", "", "", ""},
      {"let total = 0; const t = 'a'; var u = true;", "total t u", "", "total: any, t: any, u: any", ""},
      // a property assignment is not told apart
      {"obj.x = 'a';", "x", "", "x: string", ""},
      {"x = 2", "x", "", "x: number", ""},
      {"x = ", "x", "", "x: any", ""},
  });
}

// ---------------------------------------------------------------------------
// analyze_complex_returns

TEST(ComplexReturns, FirstTypedReturnFromTheBody) {
  check(analyze_complex_returns, {
      {"function f() { return !done; }", "", "f", "", "f: boolean"},
      {"function f() { return a === b; }", "", "f", "", "f: boolean"},
      {"function f() { return a >= b; }", "", "f", "", "f: boolean"},
      {"function f() { return 1 < 2; }", "", "f", "", "f: boolean"},
      {"function f() { return !a ? 1 : 2; }", "", "f", "", "f: boolean"},
      {"function f() { return 42; }", "", "f", "", "f: number"},
      {"function f() { return `t${x}`; }", "", "f", "", "f: string"},
      {"function f() { return name; }", "name: string", "f", "name: string", "f: string"},
      {"function f() { return name; return 'x'; }", "name", "f", "name: any", "f: string"},
      // an identifier never falls through to the conditional search
      {"function f() { return x ? 1 : 2; }", "", "f", "", "f: any"},
      {"function f() { return (x) ? 1 : 'a'; }", "", "f", "", "f: number | string"},
      {"function f() { return (x) ? y : z; }", "", "f", "", "f: never"},
      {"function f() { return (x) ? 1 : 1; }", "", "f", "", "f: number"},
      {"function f() { return null || 5; }", "", "f", "", "f: (number)"},
      {"function f() { return null ?? x; }", "", "f", "", "f: never"},
      {"function f() { return null && 'x'; }", "", "f", "", "f: (string)"},
      {"function f() { return [a]; }", "", "f", "", "f: any"},
      {"function f() { return 1; return 'a'; }", "", "f", "", "f: number"},
      // a variable of kind 5 leaves the type open and the walk goes on
      {"function f() { return v; }", "v: void", "f", "v: void", "f: void"},
      {"function f() { return v; return w; return 'a'; }", "v: void, w: void", "f", "v: void, w: void", "f: string"},
  });
}

TEST(ComplexReturns, OnlyTheFunctionsOwnReturnsCount) {
  check(analyze_complex_returns, {
      {"function f() { } function g() { return 1; }", "", "f !g", "", "f: any, g: any"},
      {"function g() { return 1; } function f() { x; }", "", "!g f", "", "g: any, f: any"},
      {"function g() { return 1; } function f() {}", "", "!g f", "", "g: any, f: any"},
      {"function f(o) { return o.v; } function g() { return 1; }", "", "f g", "", "f: any, g: number"},
      {"function f(l) { return l.map(function (x) { return 'a'; }); }", "", "f", "", "f: any"},
      {"function f(l) { l.map((x) => { return 'a'; }); return 1; }", "", "f", "", "f: number"},
      // a return of no function's own code types none
      {"return 'x';", "", "f", "", "f: any"},
      {"function f() {} return", "", "f", "", "f: any"},
      {"function f() { return 1; }", "", "f: string, g: void, !h, ?k", "", "f: string, g: void, h: any, k: any"},
  });
  // Only the kind is written by a literal return.
  check_writes_only_the_kind(analyze_complex_returns, "function f() { return 1; }", "f: void", {2, 0, 0, 0}, 1, 1);
}

// ---------------------------------------------------------------------------
// analyze_advanced_arrays

TEST(AdvancedArrays, ArrayMethodResults) {
  check(analyze_advanced_arrays, {
      {"doubled = nums.map(n => n * 2);", "doubled nums", "", "doubled: number[], nums: any", ""},
      {"names = nums.map(n => 'x');", "names nums", "", "names: string[], nums: any", ""},
      {"names = nums.map(n => n);", "names, nums, n: boolean", "", "names: boolean[], nums: any, n: boolean", ""},
      {"hasTen = nums.some(n => n === 10);", "hasTen nums", "", "hasTen: boolean, nums: any", ""},
      {"all = nums.every(n => 1);", "all nums", "", "all: boolean, nums: any", ""},
      {"evens = nums.filter(n => n > 1);", "evens, nums: number[]", "", "evens: number[], nums: number[]", ""},
      {"evens = nums.filter(n => n > 1);", "evens, nums: string", "", "evens: any, nums: string", ""},
      {"total = nums.reduce((a, b) => a + b, 0);", "total nums", "", "total: number, nums: any", ""},
      {"total = nums.reduce((a, b) => 'x', 0);", "total nums", "", "total: string, nums: any", ""},
      {"first = nums.find(n => n === 1);", "first, nums: number[]", "", "first: number | void, nums: number[]", ""},
      {"first = nums.find(n => n === 1);", "first, nums: any[]", "", "first: any, nums: any[]", ""},
      {"first = nums.find(n => n === 1);", "first, nums: string", "", "first: any, nums: string", ""},
      {"x = nums.forEach(n => n * 2);", "x nums", "", "x: any, nums: any", ""},
      // t must be non-zero, whatever the method
      {"x = nums.map(n => foo(n));", "x nums", "", "x: any, nums: any", ""},
      {"x = nums.some(n => n <= 1);", "x nums", "", "x: any, nums: any", ""},
      {"x = nums.map(n => n);", "x nums", "", "x: any, nums: any", ""},
  });
}

TEST(AdvancedArrays, FillsOnlyUntypedTargetsOfKnownSources) {
  check(analyze_advanced_arrays, {
      {"x = nums.map(n => 1);", "x: string, nums", "", "x: string, nums: any", ""},
      {"x = nums.map(n => 1);", "x: void, nums", "", "x: number[], nums: any", ""},
      {"x = nums.map(n => 1);", "x", "", "x: any", ""},
      {"x = nums.map(n => 1);", "nums", "", "nums: any", ""},
      {"const x = nums.map(n => 1);", "x nums", "", "x: number[], nums: any", ""},
      // the arrow may stand anywhere after the call
      {"x = nums.map(fn); y = (a) => 'q';", "x nums", "", "x: string[], nums: any", ""},
      {"x = nums.map(fn);", "x nums", "", "x: any, nums: any", ""},
      {"x = nums.map(n =>", "x nums", "", "x: any, nums: any", ""},
      {"x = nums.map(", "x nums", "", "x: any, nums: any", ""},
  });
}

// ---------------------------------------------------------------------------
// finalize_return_types

TEST(FinalizeReturnTypes, NoValueReturnInTheBodyMakesVoid) {
  check(finalize_return_types, {
      {"function f() { if (a) return; run(); return; }", "", "f", "", "f: void"},
      {"function f() { if (a) return }", "", "f", "", "f: void"},
      {"function f() { run(); }", "", "f", "", "f: void"},
      {"function f() { return x; }", "", "f", "", "f: any"},
      // a value return of another function does not count
      {"function f() {} function g() { return 1; }", "", "f g", "", "f: void, g: any"},
      {"function g() { return 1; } function f() {}", "", "g f", "", "g: any, f: void"},
      // a nested function's or callback's return is not the function's own
      {"function f() { function g() { return 1; } }", "", "f", "", "f: void"},
      {"function f(l) { l.forEach((x) => { return x; }); }", "", "f", "", "f: void"},
      {"function f(l) { l.forEach(function (x) { return x; }); return l; }", "", "f", "", "f: any"},
      {"function f() {}", "", "f: string, g: (number), !h, ?k", "", "f: string, g: (number), h: any, k: any"},
      {"return 1;", "", "f", "", "f: void"},
  });
  Fixture fixture("function f() { return; }", "", "f: void");
  fixture.result.funcs[0].return_type.member_count = 2;
  finalize_return_types(fixture.tokens, fixture.index, fixture.result);
  EXPECT_EQ(fixture.result.funcs[0].return_type.member_count, 0);
}

// ---------------------------------------------------------------------------
// analyze_any_killer

TEST(AnyKiller, UntypedVariableFromItsFirstDeclaration) {
  check(analyze_any_killer, {
      {"let v = 1;", "v", "", "v: number", ""},
      {"const v = 'a';", "v", "", "v: string", ""},
      {"var v = false;", "v", "", "v: boolean", ""},
      {"let v = !flag;", "v", "", "v: boolean", ""},
      {"let v = other;", "v, other: string", "", "v: string, other: string", ""},
      {"let v = other;", "v, other: number | string", "", "v: never, other: number | string", ""},
      {"let v = other;", "v", "", "v: any", ""},
      // an identifier is never an operand of the later bullets
      {"let v = a < b;", "v", "", "v: any", ""},
      {"let v = a + 1;", "v", "", "v: any", ""},
      {"let v = a < b;", "v, a: number", "", "v: number, a: number", ""},
      {"let v = null < x;", "v", "", "v: boolean", ""},
      {"let v = null > x;", "v", "", "v: boolean", ""},
      {"let v = null <= x;", "v", "", "v: any", ""},
      {"let v = null = x;", "v", "", "v: boolean", ""},
      {"let v = null - 1;", "v", "", "v: number", ""},
      {"let v = -1;", "v", "", "v: any", ""},
      {"let v = [1];", "v", "", "v: any", ""},
  });
}

TEST(AnyKiller, OnlyTheFirstDeclarationCounts) {
  check(analyze_any_killer, {
      {"let v; let v = 1;", "v", "", "v: any", ""},
      {"let v = x; let v = 1;", "v", "", "v: any", ""},
      {"v = 1; let v = 'a';", "v", "", "v: string", ""},
      {"let v = 1;", "v: string", "", "v: string", ""},
      {"let v = 1", "v", "", "v: number", ""},
      {"let v =", "v", "", "v: any", ""},
      // variables are visited in list order and see earlier results
      {"let a = 1; let b = a;", "b a", "", "b: any, a: number", ""},
      {"let a = 1; let b = a;", "a b", "", "a: number, b: number", ""},
  });
}

// ---------------------------------------------------------------------------
// simplify_unions

TEST(SimplifyUnions, DistinctMembersAndCollapse) {
  check([](const TokenList&, const FileIndex&, AnalysisResult& result) { simplify_unions(result); },
        {
            {"", "a: string | string | string, b: number | any, c: never, d: number | string | number | string, e: boolean | boolean, f: number[], g: any | any", "k: string | string",
             "a: string, b: number | any, c: never, d: number | string, e: boolean, f: number[], g: any", "k: string | string"},
        });
  Fixture fixture("", "a: string | string | string");
  simplify_unions(fixture.result);
  EXPECT_EQ(fixture.result.vars[0].type.kind, TYPE_STRING);
  EXPECT_EQ(fixture.result.vars[0].type.member_count, 1);
  EXPECT_EQ(fixture.result.vars[0].type.members[0], 2);
}

}  // namespace

// ---------------------------------------------------------------------------
// analyzer3_run: the order of the sub-passes

TEST(Analyzer3Run, OrderDecidesBetweenFillingAndOverwritingRules) {
  check(analyzer3_run, {
      // the object rule runs first; the first-return rule finds the type set
      {"function f() { return { a: 1 }; }", "", "f", "", "f: { a: number }"},
      // each function keeps to its own returns: g's conditional does not type f
      {"function f() { return 1; } function g() { return c ? 'a' : 'b'; }", "", "f g", "c: boolean",
       "f: number, g: string"},
      // a plain reassignment types d before the array-method rule looks at it
      {"let d; d = nums.map(n => n * 2);", "d, nums: number[]", "", "d: any[], nums: number[]", ""},
      // the first-return rule runs before the switch rule
      {"function f(k) { switch (k) { case 1: return 'a'; } return 0; }", "", "f", "", "f: string"},
      {"function f() { run(); }", "", "f", "", "f: void"},
      // destructured names come before logic operands; the nullish rule then
      // reads the union appended for limit
      {"if (ready && go) {} const x = limit ?? 10; const [p] = items;", "x, items: number[]", "",
       "x: never | number, items: number[], p: number | string | boolean, ready: boolean, limit: number | any", ""},
      // the symbol table is taken after the any-killer typed n; the
      // any-killer itself leaves v alone (c names no variable)
      {"let n = 'a'; let v = c ? n : n;", "n v", "!c", "n: string, v: string", "c: any"},
      // unions of one distinct member collapse at the end
      {"let x; x = 1;", "x: number | number", "", "x: number", ""},
      {"let x = a || 1;", "x, a: number", "", "x: number, a: number", ""},
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
    tokens.base = all.base;
    tokens.items.assign(all.items.begin(), all.items.begin() + cut);
    AnalysisResult result;
    for (const char* name : {"xs", "x", "y", "w", "d", "v", "p", "q", "done"}) {
      result.vars.push_back(kvx_test::var_record(name));
    }
    result.vars[0].type = pass3_test::parse_type("number[]");
    result.vars[2].type = pass3_test::parse_type("{ port: number }");
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

    analyzer3_run(tokens, index_file(tokens), result);
    for (const VarInfo& var : result.vars) {
      EXPECT_GE(var.type.member_count, 0);
      EXPECT_LE(var.type.member_count, kMaxUnionMembers);
    }
  }
}
