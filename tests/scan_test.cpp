// Declaration scan: the literal object-literal reader and what analyze_tokens
// puts in each list.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "analysis/analyzer.h"
#include "analysis/file_index.h"
#include "core/tokenizer.h"
#include "reference/literal_twins.h"
#include "test_support.h"

namespace {

// Fields as in a TypeScript object type: "a: number; b: { c: string }".
std::string fields_text(const FieldList& fields) {
  std::string text;
  for (const ObjectField& field : fields) {
    if (!text.empty()) text += "; ";
    if (field.kind != TYPE_OBJECT) {
      text += field.name + ": " + kvx_test::kind_text(field.kind);
      continue;
    }
    const std::string inner = fields_text(field.nested_fields);
    text += field.name + (inner.empty() ? ": {}" : ": { " + inner + " }");
  }
  return text;
}

// The type as TypeScript text; union members left on a type that is neither
// a union nor an array show as an intersection: "number & (string | boolean)".
std::string type_text(const TypeInfo& type) {
  std::string text = kvx_test::type_text(type);
  if (type.member_count > 0 && type.kind != TYPE_UNION && type.kind != TYPE_ARRAY) {
    TypeInfo members;
    members.kind = TYPE_UNION;
    members.members = type.members;
    members.member_count = type.member_count;
    text += " & (" + kvx_test::type_text(members) + ")";
  }
  return text;
}

std::string params_text(const std::vector<std::string>& names, const std::vector<TypeInfo>& types) {
  std::string text = "(";
  for (size_t n = 0; n < names.size(); ++n) {
    if (n > 0) text += ", ";
    text += names[n] + ": " + type_text(types[n]);
  }
  return text + ')';
}

template <typename Record, typename Describe>
std::string list_text(const std::vector<Record>& records, Describe describe) {
  std::string text;
  for (const Record& record : records) {
    if (!text.empty()) text += ", ";
    text += describe(record);
  }
  return text;
}

std::string vars_text(const AnalysisResult& result) {
  return list_text(result.vars, [](const VarInfo& v) {
    return std::string(v.is_const == 1 ? "const " : "let ") + v.name + ": " + type_text(v.type);
  });
}

std::string funcs_text(const AnalysisResult& result) {
  return list_text(result.funcs, [](const FuncInfo& f) {
    return std::string(f.is_async != 0 ? "async " : "") + f.name + params_text(f.param_names, f.param_types) +
           ": " + type_text(f.return_type);
  });
}

std::string objects_text(const AnalysisResult& result) {
  return list_text(result.objects, [](const ObjectInfo& o) {
    const std::string fields = fields_text(*o.fields);
    return o.name + (fields.empty() ? ": {}" : ": { " + fields + " }");
  });
}

std::string arrays_text(const AnalysisResult& result) {
  return list_text(result.arrays, [](const ArrayInfo& a) {
    TypeInfo array;
    array.kind = TYPE_ARRAY;
    array.element_kind = a.element_kind;
    array.members = a.members;
    array.member_count = a.member_count;
    return a.name + ": " + type_text(array);
  });
}

std::string arrows_text(const AnalysisResult& result) {
  return list_text(result.arrows, [](const ArrowInfo& a) {
    return a.name + params_text(a.param_names, a.param_types) + ": " + type_text(a.return_type) +
           (a.is_promise != 0 ? " promise" : "") + (a.is_generic != 0 ? " generic" : "");
  });
}

AnalysisResult scan(const std::string& source) {
  const TokenList tokens = tokenize(source);
  return analyze_tokens(tokens, index_file(tokens), source);
}

// ---------------------------------------------------------------------------
// parse_object

TEST(ParseObject, ReadsIdentifierKeysWithTheQuirksOfItsLevelLessWalk) {
  struct Case {
    const char* literal;
    const char* fields;
    int stop;  // index where reading stopped, counted from the `{`
  } cases[] = {
      {"{ host: 'h', port: 8080, tls: { on: true } }", "host: string; port: number; tls: { on: boolean }", 16},
      {"{ 'x': 1 }", "", 4},
      {"{ a: x ? y : z }", "a: any; y: any", 8},
      {"{}", "", 1},
      // Keys inside an array value land at this level and its `}` ends the read.
      {"{ list: [{ a: 1 }], b: 2 }", "list: any; a: number", 8},
      {"{ f: function () { return { z: 1 }; }, g: 2 }", "f: any; z: number", 12},
      {"{ a: { b: { c: 'x' } }, d: true }", "a: { b: { c: string } }; d: boolean", 16},
      {"{ t: `x${y}`, f: false, n: -1, v: True, s: null }", "t: string; f: boolean; n: any; v: any; s: any", 21},
      {"{ [k]: 1, ...rest, m() { return 1; } }", "", 17},
      // Unterminated: everything read so far, at every level.
      {"{ a: 1, b: { c: 2", "a: number; b: { c: number }", 11},
      // A key needs a value token after its colon.
      {"{ a: 1, b:", "a: number", 7},
      {"{ a:", "", 3},
  };
  for (const Case& c : cases) {
    const TokenList tokens = tokenize(c.literal);
    FieldList fields;
    int index = 0;
    reference::parse_object(fields, tokens, index);
    EXPECT_EQ(fields_text(fields), c.fields) << c.literal;
    EXPECT_EQ(index, c.stop) << c.literal;
  }
}

TEST(ParseObject, StartsAtTheBraceItIsGiven) {
  const TokenList tokens = tokenize("const o = { a: 1 }, p = { b: 'x' };");
  FieldList fields;
  int index = 11;  // the second `{`
  reference::parse_object(fields, tokens, index);
  EXPECT_EQ(fields_text(fields), "b: string");
  EXPECT_EQ(index, 15);
}

TEST(ParseObject, KeepsAHundredThousandNestedLiteralsWithoutRecursing) {
  const int depth = 100000;
  std::string source;
  for (int n = 0; n < depth; ++n) source += "{ a: ";
  source += "1";
  for (int n = 0; n < depth; ++n) source += " }";
  const TokenList tokens = tokenize(source);
  FieldList fields;
  int index = 0;
  reference::parse_object(fields, tokens, index);
  EXPECT_EQ(index, tokens.count() - 1);

  int levels = 0;
  const FieldList* level = &fields;
  while (level->size() == 1 && (*level)[0].kind == TYPE_OBJECT) {
    ++levels;
    level = &(*level)[0].nested_fields;
  }
  EXPECT_EQ(levels, depth - 1);
  ASSERT_EQ(level->size(), 1U);
  EXPECT_EQ((*level)[0].kind, TYPE_NUMBER);
}

// ---------------------------------------------------------------------------
// analyze_tokens: what each list receives

struct ScanCase {
  const char* source;
  const char* vars;
  const char* funcs;
  const char* objects;
  const char* arrays;
  const char* arrows;
};

void expect_scan(const ScanCase& c) {
  const AnalysisResult result = scan(c.source);
  EXPECT_EQ(vars_text(result), c.vars) << c.source;
  EXPECT_EQ(funcs_text(result), c.funcs) << c.source;
  EXPECT_EQ(objects_text(result), c.objects) << c.source;
  EXPECT_EQ(arrays_text(result), c.arrays) << c.source;
  EXPECT_EQ(arrows_text(result), c.arrows) << c.source;
  EXPECT_TRUE(result.classes.empty() && result.imports.empty() && result.exports.empty() &&
              result.interfaces.empty() && result.array_objects.empty())
      << c.source;
}

TEST(DeclarationScan, VariablesKeepKindZeroForTheFormsThePassesType) {
  const ScanCase cases[] = {
      {"const cfg = { host: 'h', port: 8080, tls: { on: true } };", "const cfg: any", "",
       "cfg: { host: string; port: number; tls: { on: boolean } }", "", ""},
      {"let count;\ncount = 0;", "let count: any", "", "", "", ""},
      {"var a = 1, b = 'x', c = () => 5;", "let a: any, let b: any", "", "", "", "c(): number"},
      {"const s = 'x', n = 42, t = `a${b}`, f = true;", "const s: any, const n: any, const t: any, const f: any", "", "", "",
       ""},
      {"const a = x, b = c ? 1 : 2, d = f(x), e = new Map(), g = await h, i = x || y, j = x ?? 1, k = o?.p, "
       "l = !x, m = (x);",
       "const a: any, const b: any, const d: any, const e: any, const g: any, const i: any, const j: any, const k: any, const l: any, "
       "const m: any",
       "", "", "", ""},
      {"const o = {}, p = { 'x': 1 };", "const o: any, const p: any", "", "o: {}, p: {}", "", ""},
  };
  for (const ScanCase& c : cases) expect_scan(c);
}

TEST(DeclarationScan, VariablesTakeTheKindTheirOperatorsProve) {
  const ScanCase cases[] = {
      {"const cmp = a === b, lt = i < n, num = x * 2, neg = -1, cat = 'a' + b, ty = typeof v, "
       "inst = e instanceof Error, sum = 1 + 2, len = s.length - 1, has = 'k' in o;",
       "const cmp: boolean, const lt: boolean, const num: number, const neg: number, const cat: string, const ty: string, const inst: boolean, const sum: number, "
       "const len: number, const has: boolean",
       "", "", "", ""},
      // Unproven: `+` of unknowns, bigints, mixed `+` and `-`, a comparison under `|`.
      {"let p = a + b, big = 2n * x, mix = 'x' + a - b, bit = a === b | 0, q = a > b ? 1 : 2;",
       "let p: any, let big: any, let mix: any, let bit: any, let q: any", "", "", "", ""},
      // An operator without a left operand is not JavaScript the scan can read (JSX).
      {"const el = <div>{x}</div>;\nconst App = () => <App />;", "const el: any", "", "", "", "App(): any"},
  };
  for (const ScanCase& c : cases) expect_scan(c);
}

TEST(DeclarationScan, ArrayLiteralsGiveTheirElementKindsInOrderOfFirstAppearance) {
  const ScanCase cases[] = {
      {"const xs = [1, 2, 3], ys = [1, 'a', true, null, x], zs = [], ws = [-1, 2], hs = [1, , 2,];",
       "const xs: number[], const ys: (number | string | boolean | any)[], const zs: any[], const ws: number[], const hs: number[]", "", "",
       "xs: number[], ys: (number | string | boolean | any)[], zs: any[], ws: number[], hs: number[]", ""},
      // Only a literal that is the whole initializer counts.
      {"const s = [1, 2].join(','), o = { a: 1 }.a;", "const s: any, const o: any", "", "", "", ""},
      // A line break does not end `[1]` before `[2]`: both are one expression.
      {"let b = [1]\n[0].toString()", "let b: any", "", "", "", ""},
  };
  for (const ScanCase& c : cases) expect_scan(c);
}

TEST(DeclarationScan, DestructuringAndLoopVariables) {
  const ScanCase cases[] = {
      {"const [a, b] = xs;\nconst { c, d: e } = o, f = 1;\nfor (const [k, v] of m) {}", "const f: any", "", "", "",
       ""},
      {"for (const item of items) {}\nfor (let i = 0, n = xs.length; i < n; i++) {}\nfor (var k in o) {}\n"
       "for await (const line of rl) {}",
       "const item: any, let i: any, let n: any, let k: any, const line: any", "", "", "", ""},
  };
  for (const ScanCase& c : cases) expect_scan(c);
}

TEST(DeclarationScan, FunctionDeclarationsWithTheirParameters) {
  const ScanCase cases[] = {
      {"function add(a, b = 2, c = -1, d = 'x' + y) { return a + b; }\n"
       "async function load(url, { retries = 3, timeout }, [x, y], ...rest) {}",
       "",
       "add(a: any, b: number, c: number, d: any): any, async load(url: any, { retries = 3, timeout }: "
       "{ retries: number; timeout: any }, [x, y]: any[], ...rest: any[]): any",
       "", "", ""},
      // Function expressions are not declarations.
      {"const f = function named(x) { return 1; };\n(function iife() {})();\nobj.m = function g() {};\n"
       "run(function cb() {});\nconst h = cond ? function a() {} : null;",
       "const h: any", "", "", "", "f(x: any): number"},
      {"export function a() {}\nexport default function b() {}\nfunction outer() { function inner() {} }\n"
       "if (x) { function c() {} } else function d() {}\nlet y = 1\nfunction e() {}",
       "let y: any", "a(): any, b(): any, outer(): any, inner(): any, c(): any, d(): any, e(): any", "", "", ""},
      // A generator declaration is a function (written `function*` with its
      // body); a generator expression is a value like any function expression.
      {"function* gen(a) { yield a; }\nconst g2 = function* () {};", "", "gen(a: any): any", "", "", "g2(): any"},
  };
  for (const ScanCase& c : cases) expect_scan(c);
}

TEST(DeclarationScan, ArrowBindingsAndTheirGenericAndPromiseForms) {
  const ScanCase cases[] = {
      {"const id = x => x;\nconst pick = (a, b) => a || b;\nconst max = (a, b) => a > b ? a : b;\n"
       "const pickFlag = (flag = true, a) => flag && a;",
       "", "", "", "",
       "id(x: any): any generic, pick(a: any, b: any): any generic, max(a: any, b: any): any generic, pickFlag(flag: boolean, a: any): any generic"},
      // Not generic: the body computes something, a parameter is a pattern or
      // rest, there are more than four, or only a boolean would be typed.
      {"const sum = (a, b) => a + b;\nconst first = ([a]) => a;\nconst all = (...xs) => xs;\n"
       "const five = (a, b, c, d, e) => a;\nconst flag = (f = false) => f;\nconst call = (a) => a();",
       "", "", "", "",
       "sum(a: any, b: any): any, first([a]: any[]): any, all(...xs: any[]): any, five(a: any, b: any, c: any, d: any, e: any): any, flag(f: boolean): any, "
       "call(a: any): any"},
      {"const one = () => 1;\nconst big = n => n > 10;\nconst label = (n) => `#${n}`;\nconst not = x => !x;\n"
       "const later = async () => 1;\nconst fn = function () {};",
       "", "", "", "", "one(): number, big(n: any): boolean, label(n: any): string, not(x: any): boolean, later(): any, fn(): void"},
      {"const v = () => { console.log(1); };\nconst lit = (x) => { if (x) return 1; return 'a'; };\n"
       "const mixed = (x) => { if (x) return 1; return x; };\nconst bare = (x) => { if (x) return 1; return; };\n"
       "const cb = () => { list.map(function () { return 'x'; }); };",
       "", "", "", "", "v(): void, lit(x: any): number | string, mixed(x: any): any, bare(x: any): any, cb(): void"},
      // A promise-valued name is declared as a promise; it keeps its variable
      // record for the passes. An exported one is left to its export statement.
      {"const job = (async () => { await x; })();\nconst p = new Promise((r) => r(1));\n"
       "export const q = new Promise((r) => r(1));\nconst s = (() => 1)();",
       "const job: any, const p: any, const q: any, const s: any", "", "", "", "job(): any promise, p(): any promise"},
      // Parentheses around a function value do not change it.
      {"const w = (x => x);\nconst job = (async () => { await x; });\nconst fx = ((function () { return 1; }));\n"
       "const notOne = (x => x)(1), half = (x => x) + 1;",
       "const notOne: any, const half: any", "", "", "", "w(x: any): any generic, job(): any, fx(): number"},
      // The parameter list of a type signature has no default values.
      {"const draw = ({ x = 1, y: yy }, [a, [b]], ...{ length }) => x;", "", "", "", "",
       "draw({ x, y }: { x: number; y: any }, [a, ]: any[], ...{ length }: any[]): any"},
  };
  for (const ScanCase& c : cases) expect_scan(c);
}

TEST(DeclarationScan, RecordsStandInSourceOrderWhereverTheDeclarationsStand) {
  const ScanCase cases[] = {
      {"function f() { const inner = { a: 1 }; let [x] = y; }\nlet a = () => { let b = 1; }, c = 2;\n"
       "class K { m() { var d = [true]; } }",
       "const inner: any, let b: any, let c: any, let d: boolean[]", "f(): any", "inner: { a: number }", "d: boolean[]", "a(): void"},
      // A line break ends a declaration that has no semicolon; a `(` on the
      // next line continues it as a call.
      {"const a = x\nconst b = { k: 1 }\nfunction f() {}\nconst c = function () {}\n(g)\nconst d = () => 1\nd()",
       "const a: any, const b: any, const c: any", "f(): any", "b: { k: number }", "", "d(): number"},
  };
  for (const ScanCase& c : cases) expect_scan(c);
}

TEST(DeclarationScan, ObjectLiteralsReadAcrossNestedDeclarationsMatchParseObject) {
  // The scan reads object literals last first and reuses a later literal's
  // reading; the fields must be those of parse_object itself.
  const char* sources[] = {
      "const a = { k: [function () { const b = { m: 1, n: { o: 'x' } }; }], z: 2 };",
      "const a = { [k]: function () { const b = { [k]: function () { const c = { q: true }; } }; } };",
      "const a = { x: { y: () => { const b = {}; } } }, c = { d: 1 };",
      "const a = { k: 1, f() { let b = { m: 2 }; } }\nconst c = { n: a ? b : { p: 3 } };",
      "const a = { k: function () { const b = { c: 1",
      "let a = { k: x => { var b = { l: { m: 1 } }; var c = { n: 2 }; } };",
  };
  for (const char* source : sources) {
    const TokenList tokens = tokenize(source);
    const AnalysisResult result = analyze_tokens(tokens, index_file(tokens), source);
    // The k-th object record belongs to the k-th `NAME = {` of a declaration.
    size_t record = 0;
    for (int i = 1; i + 2 < tokens.count(); ++i) {
      const Token& name = tokens.items[static_cast<size_t>(i)];
      const int before = tokens.items[static_cast<size_t>(i - 1)].kind;
      if (name.kind != TK_IDENTIFIER || tokens.items[static_cast<size_t>(i + 1)].kind != TK_ASSIGN ||
          tokens.items[static_cast<size_t>(i + 2)].kind != TK_LBRACE ||
          (before != TK_CONST && before != TK_LET && before != TK_VAR && before != TK_COMMA)) {
        continue;
      }
      ASSERT_LT(record, result.objects.size()) << source;
      FieldList expected;
      int index = i + 2;
      reference::parse_object(expected, tokens, index);
      EXPECT_EQ(result.objects[record].name, name.text) << source;
      EXPECT_EQ(fields_text(*result.objects[record].fields), fields_text(expected)) << source << " " << name.text;
      ++record;
    }
    EXPECT_EQ(record, result.objects.size()) << source;
  }
}

// ---------------------------------------------------------------------------
// Bad input

TEST(DeclarationScan, SurvivesDeepNestingOfEveryKind) {
  const int depth = 100000;
  auto repeat = [](const std::string& text, int times) {
    std::string out;
    out.reserve(text.size() * static_cast<size_t>(times));
    for (int n = 0; n < times; ++n) out += text;
    return out;
  };
  {
    const std::string source = "const o = " + repeat("{ a: ", depth) + "1" + repeat(" }", depth) + ";";
    const AnalysisResult result = kvx_test::analyze_js(source, 2);
    ASSERT_EQ(result.objects.size(), 1U);
    ASSERT_EQ(result.objects[0].fields->size(), 1U);
    EXPECT_EQ(result.vars.size(), 1U);
  }
  for (const std::string& source :
       {repeat("{", depth), repeat("}", depth), repeat("(", depth), repeat("[", depth) + repeat("]", depth),
        "const a = " + repeat("[", depth) + repeat("]", depth) + ";",
        "const f = " + repeat("() => ", depth) + "1;", repeat("({ a: ", depth) + repeat("})", depth),
        repeat("function f(a) { ", 20000)}) {
    const AnalysisResult result = kvx_test::analyze_js(source, 2);
    EXPECT_LE(result.vars.size(), 1U);
  }
  // Each literal here reads the keys of every later one; what the literals
  // take over from one another stays within a bound linear in the file.
  const std::string chain = repeat("const x = { k: () => { ", 5000);
  const AnalysisResult result = kvx_test::analyze_js(chain, 2);
  ASSERT_EQ(result.objects.size(), 5000U);
  size_t fields = 0;
  for (const ObjectInfo& object : result.objects) fields += object.fields->size();
  EXPECT_LE(fields, 9U * tokenize(chain).items.size() + 4096U);
  // The last literals, read first, keep every key parse_object gives them.
  EXPECT_EQ(result.objects.back().fields->size(), 1U);
  EXPECT_EQ(result.objects[4900].fields->size(), 100U);
  EXPECT_LT(result.objects.front().fields->size(), 5000U);
}

TEST(DeclarationScan, SurvivesUnterminatedAndMalformedInput) {
  const std::string nul_source("const a = 1;\0const b = 2;", 25);
  struct Case {
    std::string source;
    const char* vars;
    const char* funcs;
    const char* arrows;
  } cases[] = {
      {"const s = 'abc", "const s: any", "", ""},
      {"const t = `abc ${x", "const t: any", "", ""},
      {"const c = 1; /* never closed const d = 2;", "const c: any", "", ""},
      {"const e = \\;", "const e: any", "", ""},
      {nul_source, "const a: any, const b: any", "", ""},
      {"const u = '\xff\xfe'; let \xc3\xa9t\xc3\xa9 = 1;", "const u: any, let \xc3\xa9t\xc3\xa9: any", "", ""},
      {"function f(a, b", "", "f(a: any, b: any): any", ""},
      {"function g(a) { return 1;", "", "g(a: any): any", ""},
      {"const h = (a, b", "const h: any", "", ""},
      {"const k = (a) => { return 1;", "", "", "k(a: any): number"},
      {"const o = { a: 1", "const o: any", "", ""},
      {"let l = [1, 2", "let l: number[]", "", ""},
      {"const x = y ?", "const x: any", "", ""},
      {"const", "", "", ""},
      {"let a =", "let a: any", "", ""},
      {"function", "", "", ""},
      {"const m = async", "const m: any", "", ""},
      {"}}} const n = 1 )))", "const n: any", "", ""},
  };
  for (const Case& c : cases) {
    const AnalysisResult result = kvx_test::analyze_js(c.source, 2);
    EXPECT_EQ(vars_text(result), c.vars) << c.source;
    EXPECT_EQ(funcs_text(result), c.funcs) << c.source;
    EXPECT_EQ(arrows_text(result), c.arrows) << c.source;
  }
}

// The method lists of the type model: each name is in exactly one list, the
// comparison is exact, and names of other methods are in none.
TEST(TypeModel, MethodListsAreExactAndDisjoint) {
  const struct {
    std::vector<const char*> names;
    int string_method, number_method, array_method;
  } lists[] = {
      {{"toUpperCase", "toLowerCase", "trim", "slice", "substring", "substr", "replace", "replaceAll", "concat",
        "padStart", "padEnd", "charAt", "charCodeAt", "includes", "startsWith", "endsWith", "toString"},
       1, 0, 0},
      {{"valueOf", "toFixed", "toPrecision", "toExponential", "toLocaleString"}, 0, 1, 0},
      {{"map", "filter", "find", "reduce", "some", "every", "join", "push", "pop", "shift", "unshift"}, 0, 0, 1},
      {{"", "Trim", "trim ", "toupperCase", "forEach", "length", "indexOf", "split", "sort", "mapx", "ma"}, 0, 0, 0},
  };
  for (const auto& list : lists) {
    for (const char* name : list.names) {
      EXPECT_EQ(is_string_method(name), list.string_method) << name;
      EXPECT_EQ(is_number_method(name), list.number_method) << name;
      EXPECT_EQ(is_array_method(name), list.array_method) << name;
    }
  }
}

}  // namespace
