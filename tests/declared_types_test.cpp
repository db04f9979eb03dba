// The declarations form states types that are true of the program: a result
// comes from its own function's returns, a method that hands back a value is
// never void, every member and top-level name is declared where it belongs,
// and every type name written is declared in the file or a global type.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using kvx_test::ScopedWorkDir;
using kvx_test::transpile_js;

size_t occurrences(const std::string& text, const std::string& part) {
  size_t found = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++found;
  return found;
}

struct Expect {
  std::string text;
  size_t times;  // how often the file holds it (0: never)
};

struct DeclarationCase {
  const char* what;
  const char* source;
  std::vector<Expect> expects;
};

// A class with the methods of the report: values of no known kind, `this`,
// the class itself, generators, keywords as names and static accessors.
constexpr const char* kCache =
    "class Cache {\n"
    "  constructor(size) { this.size = size; this.map = new Map(); }\n"
    "  get(k) { return this.map.get(k); }\n"
    "  static create() { return new Cache(10); }\n"
    "  set(k, v) { this.map.set(k, v); return this; }\n"
    "  *keys() { yield* this.map.keys(); }\n"
    "  async *stream() { yield 1; }\n"
    "  async load() { return this.size; }\n"
    "  count() { return 1; }\n"
    "  label(n) { if (n) return 'one'; return 2; }\n"
    "  either(n) { if (n) return 1; return this.size; }\n"
    "  mapped() { return [1].map(function () { return 'x'; }); }\n"
    "  clear() { this.map.clear(); return; }\n"
    "  delete(k) { return this.map.delete(k); }\n"
    "  default() { return 1; }\n"
    "  new() {}\n"
    "  in(x) {}\n"
    "  import(x) {}\n"
    "  static get isDebug() { return false; }\n"
    "  get total() { return 3; }\n"
    "  static set level(v) { this.l = v; }\n"
    "  static *ids() { yield 1; }\n"
    "  resize(newSize) { if (!(newSize && newSize > 0)) { return; } this.size = newSize; }\n"
    "}\n"
    "module.exports = Cache;\n";

const std::vector<DeclarationCase>& declaration_cases() {
  static const std::vector<DeclarationCase> cases = {
      // A function's result comes from its own returns only.
      {"a returned object does not type the functions after it",
       "function parseURL(input) { return { protocol: 'http', host: input, auth: '' }; }\n"
       "function isRelative(input) { return input.startsWith('./'); }\n"
       "function joinURL(a, b) { return a + '/' + b; }\n",
       {{"function parseURL(input: unknown): { protocol: string; host: any; auth: string } {", 1},
        {"protocol: string", 1},
        {"function isRelative(input: unknown): unknown {", 1},
        {"function joinURL(a: unknown, b: unknown): unknown {", 1}}},
      {"a returned conditional does not type the functions after it",
       "function pick(x) { return x ? 'yes' : 'no'; }\nfunction later(o) { return String(o); }\n",
       {{"function pick(x: unknown): string {", 1}, {"function later(o: unknown): unknown {", 1}}},
      {"a switch's returns type only their function",
       "function name(k) { switch (k) { case 1: return 'one'; default: return 'many'; } }\n"
       "function later(o) { return String(o); }\n",
       {{"function name(k: unknown): string {", 1}, {"function later(o: unknown): unknown {", 1}}},
      {"a `??` return types the function holding it, not the last one",
       "function first(cfg) { return cfg ?? 'none'; }\nfunction last(o) { return String(o); }\n",
       {{"function first(cfg: unknown): string {", 1}, {"function last(o: unknown): unknown {", 1}}},
      {"a literal returned after a function does not type it",
       "function read(o) { return String(o); }\nfunction answer() { return 42; }\n",
       {{"function read(o: unknown): unknown {", 1}, {"function answer(): number {", 1}}},
      {"the returns of a nested callback are not the function's",
       "function outer(list) { return list.map(function (x) { return 'a'; }); }\n",
       {{"function outer(list: unknown): unknown {", 1}}},
      {"a conditional after the return's expression is not the return's",
       "function plain(o) { return String(o); }\nconst mode = Math.random() > 0.5 ? 'a' : 'b';\n",
       {{"function plain(o: unknown): unknown {", 1}}},

      // Methods: void only without a value returned.
      {"methods returning values",
       kCache,
       {{"    get(k: unknown): unknown;\n", 1},
        {"    static create(): Cache;\n", 1},
        {"    set(k: unknown, v: unknown): Cache;\n", 1},
        {"    keys(): Generator;\n", 1},
        {"    stream(): AsyncGenerator;\n", 1},
        {"    static ids(): Generator;\n", 1},
        {"    load(): Promise<unknown>;\n", 1},
        {"    count(): number;\n", 1},
        {"    label(n: unknown): string | number;\n", 1},
        {"    either(n: unknown): unknown;\n", 1},
        {"    mapped(): unknown;\n", 1},
        {"    clear(): void;\n", 1},
        {"): void;\n", 6}}},  // clear, new, in, import, level, resize
      {"methods named by keywords",
       kCache,
       {{"    delete(k: unknown): unknown;\n", 1},
        {"    default(): number;\n", 1},
        {"    new(): void;\n", 1},
        {"    in(x: unknown): void;\n", 1},
        {"    import(x: unknown): void;\n", 1}}},
      {"static accessors are static members",
       kCache,
       {{"    static readonly isDebug: boolean;\n", 1},
        {"    readonly total: number;\n", 1},
        {"    static level(v: unknown): void;\n", 1},
        {"isDebug(", 0}}},

      // Names that bodies declare stay there.
      {"a method's parameter is not a top-level variable",
       kCache,
       {{"declare let newSize", 0}, {"    resize(newSize: unknown): void;\n", 1}}},
      {"a function's parameter and local are not, an undeclared operand is",
       "function run(flag) { let busy = false; if (flag || ready || busy) console.log(1); }\n"
       "const wrap = (opt) => opt && other;\n",
       {{"declare let flag", 0}, {"declare let busy", 0}, {"declare let opt", 0},
        {"declare let ready: boolean;\n", 1}}},
      {"a destructured local stays in its function",
       "const pair = [1, 'a'];\nfunction f() { const [a, b] = pair; return a; }\n",
       {{"declare let a", 0}, {"declare let b", 0}}},

      // Type names: declared in the file or global.
      {"an interface argument gives the parameter the interface's name",
       "class Store { save(u) {} stamp(d) {} }\nconst user = { name: 'a' };\nconst when = new Date();\n"
       "const s = new Store();\ns.save(user);\ns.stamp(when);\n",
       {{"    save(u: User): void;\n", 1}, {"    stamp(d: Date): void;\n", 1}, {"Interface", 0}}},

      {"a Node module's type is reached through the module",
       "const readline = require('readline');\nconst rl = readline.createInterface({ input: process.stdin });\n"
       "const fs = require('fs');\nconst st = fs.statSync('x');\nconst http = require('http');\n"
       "function handle(req, res) { res.end(req.url); }\nhttp.createServer(handle);\n",
       {{"declare const rl: import('readline').Interface;\n", 1}, {"declare const st: import('fs').Stats;\n", 1},
        {"function handle(req: import('http').IncomingMessage, res: import('http').ServerResponse): void {", 1}}},

      // Names that go missing.
      {"a top-level for await loop is no method body",
       "const rl = require('readline').createInterface({ input: process.stdin });\n"
       "for await (const line of rl) { var seen = line.length; }\n"
       "async function main() { for await (const l of rl) { var inner = l; } }\n",
       {{"declare let seen: ", 1}, {"declare let inner", 0}}},
      {"a class of a function or a class expression hides no top-level variable",
       "var Bar = 1;\nexports.Bar = class Bar {};\nfunction mk() { class Foo {} return Foo; }\nconst Foo = 2;\n"
       "class Top {}\nvar Top2 = Top;\n",
       {{"declare let Bar: number;\n", 1}, {"declare const Foo: number;\n", 1}, {"declare class Bar", 0},
        {"declare class Top {", 1}}},

      // Generators.
      {"a generator call gives a generator",
       "function* gen() { yield 1; }\nconst it = gen();\nasync function* agen() { yield 1; }\n"
       "const ait = agen();\nfunction plain() { console.log(1); }\nconst nothing = plain();\n",
       {{"declare const it: Generator;\n", 1}, {"declare const ait: AsyncGenerator;\n", 1},
        {"declare const nothing: void;\n", 1}}},

      // Object records of names that differ in case.
      {"records of two variables of one interface name are both written",
       "const user = { a: 1 };\nconst User = { b: 'x' };\n",
       {{"interface User {\n    a: number;\n}\n", 1}, {"interface User {\n    b: string;\n}\n", 1},
        {"declare const user: User;\n", 1}, {"declare const User: User;\n", 1}}},
      {"a property the earlier block declares is left out of the later one",
       "const item = { id: 1, tag: 'a' };\nconst Item = { id: 'x', size: 2 };\nconst ITEM2 = 0;\n",
       {{"interface Item {\n    id: number;\n    tag: string;\n}\n", 1},
        {"interface Item {\n    size: number;\n}\n", 1}, {"    id: string;", 0}}},
      {"identical records of two variables are written once",
       "const point = { x: 1 };\nconst Point = { x: 2 };\n",
       {{"interface Point {", 1}}},
      {"literals of one variable name in two methods still give one interface",
       "class Z {\n  a(p) { const ctx = { path: [] }; return this.f(ctx); }\n"
       "  b(p) { const ctx = { issues: 1 }; return this.f(ctx); }\n}\n",
       {{"interface Ctx {", 1}}},
  };
  return cases;
}

TEST(DeclaredTypes, EachCaseHoldsWhatItMust) {
  ScopedWorkDir dir;
  for (const DeclarationCase& c : declaration_cases()) {
    const std::string ts = transpile_js(c.source);
    ASSERT_FALSE(ts.empty()) << c.what;
    for (const Expect& expect : c.expects) {
      EXPECT_EQ(occurrences(ts, expect.text), expect.times) << c.what << ": \"" << expect.text << "\" in\n" << ts;
    }
  }
}

// The same outputs through the TypeScript compiler: every name a copied body
// uses is declared (no TS2304), every type name written exists, and no
// declaration repeats or contradicts another.
TEST(DeclaredTypes, TheCompilerFindsEveryNameAndNoConflict) {
  const fs::path tsc = fs::path(KVX_SOURCE_DIR) / ".ci/tools/node_modules/.bin/tsc";
  ASSERT_TRUE(fs::exists(tsc)) << "run .ci/install-node-tools.sh";
  ScopedWorkDir dir;
  std::string files;
  int n = 0;
  for (const DeclarationCase& c : declaration_cases()) {
    const std::string name = "case" + std::to_string(n++) + ".js";
    ASSERT_FALSE(transpile_js(c.source, nullptr, name).empty()) << c.what;
    files += " generated/" + name.substr(0, name.size() - 3) + ".ts";
  }
  const std::string output =
      kvx_test::pinned_tsc_output("--target ES2020 --module es2022 --moduleResolution node --strict false", files);
  for (const char* code :
       {"error TS1", "TS2304", "TS2552", "TS2503", "TS2300", "TS2393", "TS2451", "TS2717", "TS2749"}) {
    EXPECT_EQ(output.find(code), std::string::npos) << code << " in\n" << output;
  }
}

}  // namespace
