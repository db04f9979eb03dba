// The generated TypeScript parses, declares nothing twice and keeps the
// program's code: module statements, nested functions, locals, generators,
// empty bodies and the module line.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "analysis/analyzer.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using kvx_test::analyze_js;
using kvx_test::ScopedWorkDir;
using kvx_test::transpile_js;

size_t occurrences(const std::string& text, const std::string& part) {
  size_t found = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++found;
  return found;
}

// ---------------------------------------------------------------------------
// Import and export statements: the top level only, each ended by its grammar

TEST(ModuleStatements, OnlyTopLevelStatementsAreCapturedEachWhereItsGrammarEnds) {
  struct Case {
    const char* source;
    std::vector<std::string> imports;
    std::vector<std::string> exports;
  } cases[] = {
      // Keys, properties, import.meta and dynamic imports are no statements.
      {"var kw = { import: 1, export: 2 };\nx.import(1); y?.export;", {}, {}},
      {"function g() { return import.meta.url; }\nasync function h() { return import('./m.js'); }\n"
       "import.meta.url;\nif (a) { import('./x.js') }",
       {},
       {}},
      {"function f() { export const x = 1; }\nclass C { export() {} import() {} }", {}, {}},
      // Without `;` a statement ends after its module string, not at a later `;`.
      {"import a from 'a'\nfunction f() { return a; }\nconst z = 1;", {"import a from 'a'"}, {}},
      {"import 'side'\nimport * as ns from \"ns\"\nimport d, { e as f } from 'g'\nimport from from 'from'",
       {"import 'side'", "import * as ns from \"ns\"", "import d, { e as f } from 'g'", "import from from 'from'"},
       {}},
      {"import j from './j.json' with { type: 'json' }\nlet q;\nimport k from 'k' assert { type: 'json' };",
       {"import j from './j.json' with { type: 'json' }", "import k from 'k' assert { type: 'json' };"},
       {}},
      {"import {\n  a,\n  b\n} from 'c'\nfoo();", {"import {\n  a,\n  b\n} from 'c'"}, {}},
      {"import a from 'a';import b from 'b';function f() { return 1; }", {"import a from 'a';", "import b from 'b';"}, {}},
      // An unclosed construct ends with its line (or its first `;` there).
      {"import { a, b\nconst x = 1;\nfunction f() {}", {"import { a, b"}, {}},
      {"import a = 1; foo();\nbar();", {"import a = 1;"}, {}},
      {"export { a, b as c }\nfoo()", {}, {"export { a, b as c }"}},
      {"export * from 'm'\n(function () {})()", {}, {"export * from 'm'"}},
      {"export * as ns from 'm';\nexport { x } from './x' with { type: 'json' };",
       {},
       {"export * as ns from 'm';", "export { x } from './x' with { type: 'json' };"}},
      {"export const a = 1, b = 2\nexport default a", {}, {"export const a = 1, b = 2", "export default a"}},
      {"export const c = import.meta.url\nexport default import('m')\nfoo()", {},
       {"export const c = import.meta.url", "export default import('m')"}},
      {"export function f(o = {}) {\n  return o;\n}\nexport class K extends mix({}) { m() {} }\nlet t",
       {},
       {"export function f(o = {}) {\n  return o;\n}", "export class K extends mix({}) { m() {} }"}},
      {"export function open() { a;\nlet x = 1;", {}, {"export function open() { a;"}},
  };
  for (const Case& c : cases) {
    const AnalysisResult result = analyze_js(c.source, 2);
    EXPECT_EQ(result.imports, c.imports) << c.source;
    EXPECT_EQ(result.exports, c.exports) << c.source;
  }
}

// ---------------------------------------------------------------------------
// The whole pipeline: what the written file holds

struct Expect {
  std::string text;
  size_t times;  // how often the file holds it (0: never)
};

struct OutputCase {
  const char* what;
  const char* source;
  std::vector<Expect> expects;
};

const std::vector<OutputCase>& output_cases() {
  static const std::vector<OutputCase> cases = {
      {"object keys named import and export",
       "var kw = { import: 1, export: 2 };\nfunction read() { return kw.import + kw.export; }\n",
       {{"import: 1", 0}, {"export: 2", 0}, {"declare let kw", 1}}},
      {"a dynamic import stays in its function",
       "async function load() { const m = await import('node:path'); return m; }\n",
       {{"import('node:path')", 1}, {"\nimport", 0}}},
      {"an import without `;` before a function",
       "import path from 'node:path'\nfunction base(p) { return path.basename(p); }\nconst z = 1;\n",
       {{"import path from 'node:path'\n", 1}, {"function base(p: ", 1}, {"const z = 1", 0}, {"declare const z: number;", 1}}},
      {"nested helpers stay inside their parents",
       "function one() { function helper() { return 1; } return helper(); }\n"
       "function two(x) { function helper() { return x; } return helper(); }\n",
       {{"function helper() {", 2}, {"\nfunction helper", 0}, {"function one(", 1}, {"function two(", 1}}},
      {"six levels of nesting write the innermost body once",
       "function a() { function b() { function c() { function d() { function e() { function f() {\n"
       "  return 'deep';\n} return f(); } return e(); } return d(); } return c(); } return b(); }\n",
       {{"return 'deep';", 1}, {"\nfunction f", 0}, {"\nfunction a(", 1}}},
      {"a function declared in a function expression or method stays there",
       "var run = function () { function step() { return 1; } return step(); };\n"
       "const o = { m() { function inner() { return 2; } return inner(); } };\n",
       {{"function step", 0}, {"function inner", 0}, {"declare const run", 1}}},
      {"locals of a function expression",
       "var a = function () { var h = 1; return h; }; function h() {}\n",
       {{"declare let h", 0}, {"function h(", 1}}},
      {"locals of function expressions, arrows, methods and class bodies",
       "var b = function () { const cb = 1; return cb; };\nvar c = () => { const cb = 2; return cb; };\n"
       "const o = { m() { const k = 1; return k; } };\n"
       "class C { run() { let r = 2; return r; } static { var s = 3; } }\n",
       {{"declare const cb", 0}, {"declare const k", 0}, {"declare let r", 0}, {"declare let s", 0}}},
      {"a top-level variable named like a local arrow",
       "var a = function () { const cb = () => 1; return cb; };\nconst cb = 5;\n",
       {{"declare const cb:", 1}, {"declare const cb: (", 0}}},
      {"a script's names become a module's",
       "var name = 'x';\nclass Range {}\nfunction parent() { return 1; }\n"
       "(function () { var undefined; return undefined; })();\n",
       {{"\nexport {};\n", 1}, {"declare let undefined", 0}}},
      {"a file with imports is a module already",
       "import fs from 'node:fs';\nvar name = 1;\n",
       {{"export {};", 0}}},
      {"generators keep their code",
       "export function* gen() { yield 1; }\nasync function* agen(n) { yield n; }\n",
       {{"function* gen() {\n     yield 1; \n}", 1}, {"async function* agen(n: unknown) {\n", 1},
        {"declare const gen", 0}, {"export { gen };", 1}}},
      {"an empty body stays empty",
       "function noop() {}\nfunction blank() {  }\nfunction broken() {\n",
       {{"function noop(): void {\n}\n", 1}, {"function blank(): void {\n      \n}\n", 1},
        {"throw new Error(\"Not implemented\")", 1}}},
      {"later declarators of an exported list",
       "export var c = 1, d = 2;\nexport const lowOrder = {}, casual = () => 1;\n",
       {{"declare let d", 0}, {"declare const casual", 0}, {"declare let c", 0}}},
      {"a name bound twice to function values",
       "if (a) { var g = () => 1; } else { var g = (x) => 2; }\n"
       "var f = function (a) { return a; };\nvar f = function (b) { return b; };\n",
       {{"declare const g", 1}, {"declare const f", 1}}},
      {"a function declared twice, and a variable of a function's name",
       "function dup(a) { return a; }\nfunction dup(b) { return 'last'; }\nvar x = 1;\nfunction x() {}\n"
       "var y = () => 1;\nfunction y() {}\n",
       {{"function dup(", 1}, {"return 'last';", 1}, {"declare let x", 0}, {"declare const y", 0}}},
      {"names that imports and classes declare are no variables",
       "import K from 'node:os';\nimport * as ns from 'node:fs';\nimport { a, b as c } from 'node:path';\n"
       "class C {}\nif (K && ns && a && c && z) {}\n"
       "function f(o) { if (!(o.c instanceof C && o.x)) return 1; return 2; }\n",
       {{"declare let K", 0}, {"declare let ns", 0}, {"declare let a:", 0}, {"declare let c", 0},
        {"declare let C", 0}}},
      {"object literals of one name in two methods give one interface",
       "class Z {\n  a(p) { const ctx = { common: { async: true }, path: [] }; return this.f(ctx); }\n"
       "  b(p) { const ctx = { common: { issues: 1 }, path: 'x' }; return this.f(ctx); }\n}\n",
       {{"interface Ctx {", 1}}},
      {"classes of functions and class expressions bind no top-level name",
       "import index from 'node:fs';\nfunction a() { class Foo {} return Foo; }\n"
       "function* b(h) { switch (h) { case 1: class index {} } }\n"
       "exports.Bar = class Bar {};\nconst Bar = 1;\nclass Top {}\n",
       {{"declare class Foo", 0}, {"declare class index", 0}, {"declare class Bar", 0}, {"declare class Top", 1},
        {"class Foo {}", 1}}},
      {"an export statement holding a dynamic import",
       "export const loader = import('node:url');\nexport default import('node:path');\n",
       {{"= import('node:url');", 1}, {"export default import('node:path');", 1}}},
  };
  return cases;
}

TEST(ValidOutput, EachCaseHoldsWhatItMust) {
  ScopedWorkDir dir;
  for (const OutputCase& c : output_cases()) {
    const std::string ts = transpile_js(c.source);
    ASSERT_FALSE(ts.empty()) << c.what;
    for (const Expect& expect : c.expects) {
      EXPECT_EQ(occurrences(ts, expect.text), expect.times)
          << c.what << ": \"" << expect.text << "\" in\n" << ts;
    }
  }
}

// The same outputs through the real TypeScript compiler: each parses and
// declares nothing twice. Errors of other kinds (an unknown module, a type
// the heuristics got wrong) are not what these cases are about.
TEST(ValidOutput, TheTypeScriptCompilerFindsNoSyntaxErrorNorDuplicate) {
  const fs::path tsc = fs::path(KVX_SOURCE_DIR) / ".ci/tools/node_modules/.bin/tsc";
  ASSERT_TRUE(fs::exists(tsc)) << "run .ci/install-node-tools.sh";
  ScopedWorkDir dir;
  std::string files;
  int n = 0;
  for (const OutputCase& c : output_cases()) {
    const std::string name = "case" + std::to_string(n++) + ".js";
    ASSERT_FALSE(transpile_js(c.source, nullptr, name).empty()) << c.what;
    files += " generated/" + name.substr(0, name.size() - 3) + ".ts";
  }
  const std::string output =
      kvx_test::pinned_tsc_output("--target ES2020 --module commonjs --esModuleInterop --strict false", files);
  for (const char* code : {"error TS1", "TS2300", "TS2393", "TS2451", "TS2440", "TS2717"}) {
    EXPECT_EQ(output.find(code), std::string::npos) << code << " in\n" << output;
  }
}

}  // namespace
