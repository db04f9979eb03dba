// Structure capture: array-method results, classes, import and export
// statements, function bodies with their return kinds and parameter shapes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "analysis/analyzeR2.h"
#include "analysis/syntax.h"
#include "analysis/analyzer.h"
#include "core/tokenizer.h"
#include "test_support.h"

namespace {

using kvx_test::analyze_js;

using kvx_test::type_text;

// "url: string; retries: number" for one parameter's shape.
std::string shape_text(const ShapeInfo& shape) {
  std::string text;
  for (const ShapeField& field : shape.fields) {
    if (!text.empty()) text += "; ";
    text += field.name + ": " + kvx_test::kind_text(field.kind);
  }
  return text;
}

std::string joined(const std::vector<std::string>& items, const char* separator) {
  std::string text;
  for (const std::string& item : items) {
    if (!text.empty()) text += separator;
    text += item;
  }
  return text;
}

// "Name extends Base { field: type; ... } (ctor params)".
std::string class_text(const ClassInfo& record) {
  std::vector<std::string> fields;
  for (int n = 0; n < record.field_count(); ++n) {
    fields.push_back(record.field_names[static_cast<size_t>(n)] + ": " +
                     type_text(record.field_types[static_cast<size_t>(n)]));
  }
  std::vector<std::string> params;
  for (int n = 0; n < record.ctor_param_count(); ++n) {
    params.push_back(record.ctor_param_names[static_cast<size_t>(n)] + ": " +
                     type_text(record.ctor_param_types[static_cast<size_t>(n)]));
  }
  return record.name + (record.base_name ? " extends " + *record.base_name : std::string()) +
         (fields.empty() ? " {}" : " { " + joined(fields, "; ") + " }") + " (" + joined(params, ", ") + ")";
}

// ---------------------------------------------------------------------------
// detect_array_callbacks

TEST(ArrayCallbacks, TypesTheVariableByTheArrayMethodItHolds) {
  struct Case {
    const char* source;
    const char* name;
    const char* type;
  } cases[] = {
      {"const names = users.map(u => u.name);", "names", "string[]"},
      {"const evens = xs.filter(x => x % 2 === 0);", "evens", "number[]"},
      {"const total = xs.reduce((a, b) => a + b, 0);", "total", "number"},
      {"let found = list.find(x => x.id === 1);", "found", "number | void"},
      {"var any = xs.some(x => x);", "any", "boolean"},
      {"const all = xs.every(x => x);", "all", "boolean"},
      {"const upper = text.toUpperCase();", "upper", "any"},
      {"const joined = parts.join(',');", "joined", "any"},
      // Exactly six tokens after the keyword are enough.
      {"const a = b.map(", "a", "string[]"},
      {"const a = b.map", "a", "any"},
      // Only a declaration counts, and only a single receiver name.
      {"let r; r = xs.map(f);", "r", "any"},
      {"const r = a.b.map(f);", "r", "any"},
  };
  for (const Case& c : cases) {
    AnalysisResult result = analyze_js(c.source, 2);
    const VarInfo* variable = find_var(result, c.name);
    ASSERT_NE(variable, nullptr) << c.source;
    EXPECT_EQ(type_text(variable->type), c.type) << c.source;
  }
}

TEST(ArrayCallbacks, WritesOnlyTheListedFieldsOfTheFirstVariable) {
  const std::string source = "const r = xs.map(f);\nfunction g() { const r = ys.filter(h); }";
  const TokenList tokens = tokenize(source);
  AnalysisResult result = analyze_tokens(tokens, index_file(tokens), source);
  result.vars[0].type.key_kind = TYPE_STRING;
  result.vars[0].type.type_name = "Kept";
  detect_array_callbacks(tokens, result);
  EXPECT_EQ(type_text(result.vars[0].type), "number[]");  // the filter rule, applied to the first `r`
  EXPECT_EQ(result.vars[0].type.key_kind, TYPE_STRING);
  EXPECT_EQ(result.vars[0].type.type_name, "Kept");
  EXPECT_EQ(type_text(result.vars[1].type), "any");
}

// ---------------------------------------------------------------------------
// detect_imports, detect_exports

TEST(ImportsAndExports, CopyEachStatementWhereItsGrammarEnds) {
  struct Case {
    const char* source;
    std::vector<std::string> imports;
    std::vector<std::string> exports;
  } cases[] = {
      {"import fs from 'fs';", {"import fs from 'fs';"}, {}},
      // Only the last ends with `;`: each statement still ends after its module string.
      {"import a from 'a'\nimport b from 'b'\nimport c from 'c';",
       {"import a from 'a'", "import b from 'b'", "import c from 'c';"},
       {}},
      {"import /* why */ x from 'x'; // tail\nexport const limit = 5;\nexport default app;",
       {"import /* why */ x from 'x';"},
       {"export const limit = 5;", "export default app;"}},
      // A dynamic import is an expression, not an import declaration.
      {"const m = await import('./m.js');", {}, {}},
      // With no `;` after it, a statement is copied as far as it runs.
      {"import a from 'a'\nimport {\n  b,\n  c\n} from 'c'\nconst x = 1\nexport default x",
       {"import a from 'a'", "import {\n  b,\n  c\n} from 'c'"},
       {"export default x"}},
      {"export function f() {\n  return 1\n}\nf()", {}, {"export function f() {\n  return 1\n}"}},
      {"export {", {}, {"export {"}},
      {"import", {"import"}, {}},
  };
  for (const Case& c : cases) {
    const AnalysisResult result = analyze_js(c.source, 2);
    EXPECT_EQ(result.imports, c.imports) << c.source;
    EXPECT_EQ(result.exports, c.exports) << c.source;
  }
}

// An export statement is copied whole: a declaration to the end of its body,
// anything else to the first `;` outside brackets. Cut at the first `;` of
// all, these would end inside a body and the output would not parse.
TEST(ImportsAndExports, ExportStatementsAreCopiedWhole) {
  struct Case {
    const char* source;
    std::vector<std::string> exports;
  } cases[] = {
      {"export function add(a, b) { const s = a + b; return s; }\nexport const limit = 5;",
       {"export function add(a, b) { const s = a + b; return s; }", "export const limit = 5;"}},
      {"export default async function run(o = { a: 1 }) { go(); }\nrun();",
       {"export default async function run(o = { a: 1 }) { go(); }"}},
      {"export class Box extends Base { constructor(v) { this.v = v; } }",
       {"export class Box extends Base { constructor(v) { this.v = v; } }"}},
      {"export const twice = (n) => { const d = n * 2; return d; };\nlet x = 1;",
       {"export const twice = (n) => { const d = n * 2; return d; };"}},
      {"export const cfg = { a: 1, b: [1, 2] }\nconst other = 2;", {"export const cfg = { a: 1, b: [1, 2] }"}},
      {"export { a, b as c } from './m';", {"export { a, b as c } from './m';"}},
      {"export function* gen() { yield 1; }", {"export function* gen() { yield 1; }"}},
      {"export function broken() { never closed;", {"export function broken() { never closed;"}},
  };
  for (const Case& c : cases) EXPECT_EQ(analyze_js(c.source, 2).exports, c.exports) << c.source;
}

// ---------------------------------------------------------------------------
// add_return_type

TEST(AddReturnType, MergesLikeAUnionThatKeepsZeroAndRepeats) {
  struct Case {
    std::vector<int> kinds;
    const char* type;
  } cases[] = {
      {{}, "any"},
      {{TYPE_NUMBER}, "number"},
      {{TYPE_NUMBER, TYPE_NUMBER}, "(number)"},
      {{TYPE_NUMBER, TYPE_STRING, TYPE_NUMBER}, "number | string"},
      {{TYPE_NONE}, "any"},
      {{TYPE_NONE, TYPE_STRING}, "string"},
      {{TYPE_NUMBER, TYPE_NONE}, "number | any"},
      {{TYPE_NUMBER, TYPE_STRING, TYPE_BOOLEAN, TYPE_VOID, TYPE_OBJECT}, "number | string | boolean | void"},
  };
  for (const Case& c : cases) {
    FuncInfo function;
    std::string merged;
    for (const int kind : c.kinds) {
      add_return_type(function, kind);
      merged += std::to_string(kind) + ' ';
    }
    EXPECT_EQ(type_text(function.return_type), c.type) << merged;
  }
}

// ---------------------------------------------------------------------------
// capture_function_bodies

TEST(FunctionBodies, CapturesTheExactTextBetweenTheBracesAndItsRegion) {
  struct Case {
    std::string source;
    std::string body;
  } cases[] = {
      {"function f(a) {\n  return a;\n}", "\n  return a;\n"},
      {"async function load() {}", ""},
      // Braces inside strings, templates, comments and regular expressions.
      {"function g() { const s = '}'; const t = `${ { a: 1 }.a } }`; // }\n /* } */ const r = /}/g; return s; }",
       " const s = '}'; const t = `${ { a: 1 }.a } }`; // }\n /* } */ const r = /}/g; return s; "},
      {"x = 1\nfunction h(a, b = { c: 1 }) { if (a) { return { d: b }; } }\nh(1);",
       " if (a) { return { d: b }; } "},
  };
  for (const Case& c : cases) {
    const TokenList tokens = tokenize(c.source);
    const AnalysisResult result = analyze_js(c.source, 2);
    ASSERT_EQ(result.funcs.size(), 1U) << c.source;
    const FuncInfo& function = result.funcs[0];
    EXPECT_EQ(function.body, c.body) << c.source;
    EXPECT_EQ(c.source.substr(static_cast<size_t>(function.body_start),
                              static_cast<size_t>(function.body_end - function.body_start)),
              c.body)
        << c.source;
    EXPECT_EQ(function.flow_enabled, 1) << c.source;
    // The region's tokens are exactly those that start inside the body.
    for (int i = 0; i < tokens.count(); ++i) {
      const int start = tokens.start(i);
      const bool inside = i >= function.body_first_token && i < function.body_end_token;
      EXPECT_EQ(inside, start >= function.body_start && start < function.body_end) << c.source << " token " << i;
    }
  }
}

TEST(FunctionBodies, EachRecordGetsItsOwnDeclaration) {
  const std::string source =
      "run();\nconst o = { run() { return 'method'; } };\nclass K { run() { return 'k'; } }\n"
      "o.run(function run() { return 'expression'; });\n"
      "function run() { return 1; }\nfunction run() { return true; }\n";
  const AnalysisResult result = analyze_js(source, 2);
  ASSERT_EQ(result.funcs.size(), 2U);
  EXPECT_EQ(result.funcs[0].body, " return 1; ");
  EXPECT_EQ(result.funcs[1].body, " return true; ");
  EXPECT_EQ(type_text(result.funcs[0].return_type), "number");
  EXPECT_EQ(type_text(result.funcs[1].return_type), "boolean");
}

TEST(FunctionBodies, MergesTheLiteralKindsOfTheFunctionsOwnReturns) {
  struct Case {
    const char* source;
    const char* type;
  } cases[] = {
      {"function f(x) { if (x) return 1; if (!x) return 'a'; return; }", "number | string"},
      {"function f() { return 1; return 1; }", "(number)"},
      {"function f() { return x; return; }", "any"},
      {"function f() {}", "any"},
      {"function f() { return `t${x}`; }", "string"},
      {"function f() { return false; }", "boolean"},
      // Returns of nested functions, methods, arrows and classes are theirs.
      {"function f() { xs.map(function () { return 'a'; }); xs.map(x => { return 1; }); "
       "const o = { m() { return true; } }; class C { m() { return 2; } } return null; }",
       "any"},
      // A concise arrow holds no `return` of its own; the block around it does.
      {"function f() { const g = () => 1; return 'x'; }", "string"},
      // A line break after `return` ends the statement.
      {"function f() { return\n42; }", "any"},
  };
  for (const Case& c : cases) {
    const AnalysisResult result = analyze_js(c.source, 2);
    ASSERT_EQ(result.funcs.size(), 1U) << c.source;
    EXPECT_EQ(type_text(result.funcs[0].return_type), c.type) << c.source;
    EXPECT_EQ(result.funcs[0].flow_enabled, 1) << c.source;
  }
}

TEST(FunctionBodies, AFunctionWhoseBodyIsNotFoundKeepsANullBody) {
  const std::string sources[] = {"function f(a) { return 1;", "function f(a", "function f(a) return 1;"};
  for (const std::string& source : sources) {
    const AnalysisResult result = analyze_js(source, 2);
    ASSERT_EQ(result.funcs.size(), 1U) << source;
    EXPECT_FALSE(result.funcs[0].body.has_value()) << source;
    EXPECT_EQ(result.funcs[0].flow_enabled, 0) << source;
    EXPECT_EQ(result.funcs[0].body_first_token, -1) << source;
  }
  // A record with no declaration of its name in the tokens.
  const std::string source = "function a() { return 1; }";
  const TokenList tokens = tokenize(source);
  AnalysisResult result = analyze_tokens(tokens, index_file(tokens), source);
  FuncInfo orphan;
  orphan.name = "b";
  orphan.flow_enabled = 1;
  result.funcs.push_back(orphan);
  capture_function_bodies(result, tokens, index_file(tokens), source);
  EXPECT_EQ(result.funcs[0].flow_enabled, 1);
  EXPECT_FALSE(result.funcs[1].body.has_value());
  EXPECT_EQ(result.funcs[1].flow_enabled, 0);
}

TEST(FunctionBodies, ParameterShapesHoldThePropertiesTheBodyReads) {
  struct Case {
    const char* source;
    std::vector<std::string> shapes;  // per parameter
  } cases[] = {
      {"function f(opts, cb, n) { const u = opts.url.trim(); if (opts.retries > 3) {} opts.onDone(); "
       "opts.count = 1; opts.seen++; cb.x; const { mode = 'a', level } = opts; return n * 2; }",
       {"url: string; retries: number; mode: string; level: any", "x: any", ""}},
      {"function f(o) { return o.a - 1 + o.b.toFixed(2) + o.c.map(g) + (o.d === 'x') + (5 < o.e) + o?.f + "
       "o.g + '!'; }",
       {"a: number; b: number; c: any[]; d: string; e: number; f: any; g: string"}},
      // Reads that disagree leave the kind open.
      {"function f(o) { o.v > 1; o.v.trim(); o.v * 2; }", {"v: any"}},
      // A read inside a callback still reads the parameter; a nested
      // function's own parameter of the same name is its own.
      {"function f(o) { xs.forEach(x => o.c); function g(o) { return o.a; } return o.b; }", {"c: any; b: any"}},
      // Destructured parameters expect their keys.
      {"function f({ a, b = 1, c: d }, [e]) { return a; }", {"a: any; b: number; c: any", ""}},
      // Properties of properties and of other names are not the parameter's.
      {"function f(o) { return x.o.y + other.z; }", {""}},
  };
  for (const Case& c : cases) {
    const AnalysisResult result = analyze_js(c.source, 2);
    ASSERT_FALSE(result.funcs.empty()) << c.source;
    const FuncInfo& function = result.funcs[0];
    ASSERT_EQ(function.param_count(), static_cast<int>(c.shapes.size())) << c.source;
    for (size_t j = 0; j < c.shapes.size(); ++j) {
      EXPECT_EQ(shape_text(function.param_shapes[j]), c.shapes[j]) << c.source << " parameter " << j;
    }
  }
  const AnalysisResult nested = analyze_js("function f(o) { function g(o) { return o.a; } return o.b; }", 2);
  ASSERT_EQ(nested.funcs.size(), 2U);
  EXPECT_EQ(shape_text(nested.funcs[1].param_shapes[0]), "a: any");
}

TEST(FunctionBodies, ShapesStopAtSixteenFieldsAndSixteenParameters) {
  std::string reads;
  for (int n = 0; n < 20; ++n) reads += "o.f" + std::to_string(n) + "; ";
  std::string params;
  for (int n = 0; n < 17; ++n) params += (n > 0 ? ", p" : "p") + std::to_string(n);
  const std::string source = "function f(o) { " + reads + "}\nfunction g(" + params + ") { p15.a; p16.b; }";
  const AnalysisResult result = analyze_js(source, 2);
  ASSERT_EQ(result.funcs.size(), 2U);
  ASSERT_EQ(result.funcs[0].param_shapes[0].fields.size(), 16U);
  EXPECT_EQ(result.funcs[0].param_shapes[0].fields[15].name, "f15");
  EXPECT_EQ(shape_text(result.funcs[1].param_shapes[15]), "a: any");
  EXPECT_EQ(result.funcs[1].param_count(), 17);
}

TEST(FunctionBodies, ManyAndDeeplyNestedFunctionsAreEachCaptured) {
  std::string source;
  const int depth = 2000;
  for (int n = 0; n < depth; ++n) source += "function f" + std::to_string(n) + "(o) { o.a" + std::to_string(n) + "; ";
  source += "return 1;";
  for (int n = 0; n < depth; ++n) source += " }";
  const AnalysisResult result = analyze_js(source, 2);
  ASSERT_EQ(result.funcs.size(), static_cast<size_t>(depth));
  EXPECT_EQ(type_text(result.funcs.front().return_type), "any");
  EXPECT_EQ(type_text(result.funcs.back().return_type), "number");
  EXPECT_EQ(shape_text(result.funcs.front().param_shapes[0]), "a0: any");
  EXPECT_EQ(shape_text(result.funcs.back().param_shapes[0]), "a1999: any");
  // Every function has its body region; the body texts, each a copy of part
  // of its parent's, stay within a size linear in the source.
  size_t copied = 0;
  for (const FuncInfo& function : result.funcs) {
    EXPECT_LT(function.body_first_token, function.body_end_token);
    EXPECT_EQ(function.flow_enabled, function.body ? 1 : 0);
    copied += function.body ? function.body->size() : 0;
  }
  EXPECT_TRUE(result.funcs.front().body.has_value());
  EXPECT_LE(copied, 8 * source.size() + (size_t{2} << 20));
}

// ---------------------------------------------------------------------------
// detect_classes

TEST(Classes, OneRecordPerNamedClassWithFieldsAndConstructorParameters) {
  struct Case {
    const char* source;
    std::vector<std::string> classes;
  } cases[] = {
      {"class Dog extends Animal {\n  static count = 0;\n  #secret = 'x';\n  name;\n  handler = () => {};\n"
       "  ok = a > b\n  constructor(name, age = 3, { size }, ...rest) {\n    super();\n    this.name = name;\n"
       "    this.legs = 4;\n    this.tag = 'a' + name;\n    this.count = 'many';\n"
       "    helper(function () { this.no = 1; });\n    run(() => { this.yes = true; });\n  }\n"
       "  get size() { return 3; }\n  set size(v) {}\n  bark() { this.noise = 1; }\n  static create() {}\n}",
       {"Dog extends Animal { count: number | string; #secret: string; name: any; handler: any; ok: boolean; legs: number; tag: string; yes: boolean } "
        "(name: any, age: number, { size }: { size: any }, ...rest: any[])"}},
      {"class Box { items = []; sizes = [1, 2]; mixed = [1, 'a']; constructor() { this.tags = ['a']; } }",
       {"Box { items: any[]; sizes: number[]; mixed: any[]; tags: string[] } ()"}},
      {"class A {}\nclass B extends lib.Base { constructor() {} }",
       {"A {} ()", "B extends lib {} ()"}},
      {"class Outer { m() { class Inner { x = 1; } } }", {"Outer {} ()", "Inner { x: number } ()"}},
      {"const K = class Named { y = 'a'; };\nconst L = class { z = 1; };", {"Named { y: string } ()"}},
      {"class C { ['a'] = 1; 'b' = 2; static { init(); } async *gen() {} static async load() {} get v() { return 1; } "
       "static = 3; get = 4 }",
       {"C { static: number; get: number } ()"}},
      // Unterminated class bodies keep what was read.
      {"class T { constructor(a) { this.a = 1;", {"T { a: number } (a: any)"}},
      {"class U extends", {"U {} ()"}},
      {"class", {}},
  };
  for (const Case& c : cases) {
    const AnalysisResult result = analyze_js(c.source, 2);
    std::vector<std::string> classes;
    for (const ClassInfo& record : result.classes) {
      classes.push_back(class_text(record));
      EXPECT_TRUE(record.methods.empty() && record.field_private.empty() && record.field_static.empty() &&
                  record.field_readonly.empty())
          << c.source;
    }
    EXPECT_EQ(classes, c.classes) << c.source;
  }
}

}  // namespace
