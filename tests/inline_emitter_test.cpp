// The inline form: insertions only, concrete types only, valid TypeScript,
// and the compiler check that takes rejected annotations out again.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "pipeline/transpile.h"
#include "generator/inline_emitter.h"
#include "random_program.h"
#include "test_support.h"
#include "tsx/inline_check.h"

namespace {

namespace fs = std::filesystem;
using kvx_test::read_file;
using kvx_test::run_shell;
using kvx_test::shell_quote;
using kvx_test::write_file;

const fs::path kSourceDir = KVX_SOURCE_DIR;
const fs::path kTypeScript = kSourceDir / ".ci/tools/node_modules/typescript/lib/typescript.js";
const fs::path kChecker = kSourceDir / "bench/corpus_check.js";

InlineOutput inline_of(const std::string& source) {
  const TokenList tokens = tokenize(source);
  testing::internal::CaptureStdout();
  const AnalysisResult result = analyze_source(tokens, source, kLastPass);
  testing::internal::GetCapturedStdout();
  return emit_inline(source, tokens, result);
}

// The source back from the output: every insertion cut out again at the
// place where it ended up.
std::string remove_insertions(const InlineOutput& output) {
  std::string text = output.text;
  const std::vector<int> offsets = insertion_output_offsets(output.insertions);
  for (size_t i = output.insertions.size(); i-- > 0;) {
    const std::string& inserted = output.insertions[i].text;
    if (text.compare(static_cast<size_t>(offsets[i]), inserted.size(), inserted) != 0) return "<insertion moved>";
    text.erase(static_cast<size_t>(offsets[i]), inserted.size());
  }
  return text;
}

// Every source the removal and parse checks run over: the examples, random
// programs, and the large real files when installed.
struct Sample {
  std::string name;
  std::string text;
};

std::vector<Sample> samples() {
  std::vector<Sample> list;
  for (const auto& entry : fs::directory_iterator(kSourceDir / "examples")) {
    if (entry.path().extension() == ".js") list.push_back({entry.path().filename().string(), read_file(entry.path())});
  }
  for (uint32_t seed = 1; seed <= 150; ++seed) {
    list.push_back({"random_" + std::to_string(seed) + ".js", kvx_test::program_text(kvx_test::random_program(seed))});
  }
  if (fs::exists(kTypeScript)) list.push_back({"typescript.js", read_file(kTypeScript)});
  const fs::path corpus = kSourceDir / ".ci/corpus/node_modules";
  std::ifstream manifest(kSourceDir / "bench/corpus_files.txt");
  std::string line;
  while (std::getline(manifest, line)) {
    std::istringstream words(line);
    std::string package;
    std::string file;
    if (!(words >> package >> file) || package.starts_with("#")) continue;
    const fs::path path = corpus / package.substr(0, package.rfind('@')) / file;
    if (fs::exists(path)) list.push_back({package + "/" + file, read_file(path)});
  }
  return list;
}

// Each case is a mistake seen on real code, or a type the code proves that
// was left out: the whole output is given, so a type too many fails as
// surely as a type missing.
TEST(InlineEmitter, WritesOnlyWhatTheCodeProves) {
  struct Case {
    const char* what;
    const char* source;
    const char* expected;
  };
  const Case cases[] = {
      {"initialised variables repeat nothing the compiler infers", "const a = 1;\nlet s = 'x';\nvar ok = true;\n",
       "const a = 1;\nlet s = 'x';\nvar ok = true;\nexport {};\n"},
      {"a variable declared bare takes what is assigned", "let label;\nlabel = 'x';\n",
       "let label: string;\nlabel = 'x';\nexport {};\n"},
      {"string and number methods type parameters and results",
       "function label(s, n) { return s.trim() + n.toFixed(1); }\n",
       "function label(s: string, n: number): string { return s.trim() + n.toFixed(1); }\nexport {};\n"},
      {"a function without return is void", "function log(m) { console.log(m); }\n",
       "function log(m): void { console.log(m); }\nexport {};\n"},
      {"a body that only throws is not void", "function fail(m) { throw new Error(m); }\n",
       "function fail(m) { throw new Error(m); }\nexport {};\n"},
      {"the condition of a conditional is no value",
       "function pick(buf, bytes) { return buf ? bytes : stringify(bytes); }\n",
       "function pick(buf, bytes) { return buf ? bytes : stringify(bytes); }\nexport {};\n"},
      {"a property in arithmetic says nothing of its object", "function next(state) { return state.msecs + 1; }\n",
       "function next(state) { return state.msecs + 1; }\nexport {};\n"},
      {"options read through ?. and ?? stay open",
       "function fmt(options) { return options?.locale; }\nfunction sep(options) { return options.delimiter ?? ' '; }\n",
       "function fmt(options) { return options?.locale; }\nfunction sep(options) { return options.delimiter ?? ' '; }\n"
       "export {};\n"},
      {"a guarded read is no boolean", "function name(func) { const n = func && func.name; return n; }\n",
       "function name(func) { const n = func && func.name; return n; }\nexport {};\n"},
      {"the value of a test is its branches", "function sign(x) { return x > 0 ? 'up' : 'down'; }\n",
       "function sign(x: number): string { return x > 0 ? 'up' : 'down'; }\nexport {};\n"},
      {"calls in the file type parameters, a mixed call a union",
       "function area(w, h) { return w * h; }\narea(2, 3);\nfunction show(v) { console.log(v); }\nshow(1);\nshow('a');\n",
       "function area(w: number, h: number): number { return w * h; }\narea(2, 3);\n"
       "function show(v: number | string): void { console.log(v); }\nshow(1);\nshow('a');\nexport {};\n"},
      {"function expressions are typed like declarations",
       "var up = function (s) { return s.toUpperCase(); };\nexports.twice = function (n) { return n * 2; };\n",
       "var up = function (s: string): string { return s.toUpperCase(); };\n"
       "exports.twice = function (n: number): number { return n * 2; };\nexport {};\n"},
      {"JSDoc types are taken as written",
       "/**\n * @param {string} name\n * @returns {boolean}\n */\nfunction has(name) { return lookup(name); }\n",
       "/**\n * @param {string} name\n * @returns {boolean}\n */\nfunction has(name: string): boolean { return lookup(name); }\n"
       "export {};\n"},
      {"a JSDoc type that cannot be written leaves the parameter bare",
       "/** @param {Object} opts */\nfunction run(opts) { return opts.x; }\n",
       "/** @param {Object} opts */\nfunction run(opts) { return opts.x; }\nexport {};\n"},
      {"a JSDoc optional parameter stays optional",
       "/**\n * @param {string} [name]\n * @param {number} [n]\n */\nfunction hi(name, n) { }\nhi();\n",
       "/**\n * @param {string} [name]\n * @param {number} [n]\n */\nfunction hi(name?: string, n?: number): void { }\nhi();\n"
       "export {};\n"},
      {"the string a regular expression tests; a bare placeholder says nothing",
       "const NAME = /^[a-z]+$/;\nfunction check(name) { if (!NAME.test(name)) throw new Error(`bad ${name}`); }\n",
       "const NAME = /^[a-z]+$/;\nfunction check(name: string): void { if (!NAME.test(name)) throw new Error(`bad ${name}`); }\n"
       "export {};\n"},
      {"a placeholder that uses the name otherwise hides it",
       "function f(o) { o.trim(); return `${o.length + o.x}`; }\n",
       "function f(o): string { o.trim(); return `${o.length + o.x}`; }\nexport {};\n"},
      {"an optional parameter before a bare one stays required",
       "/**\n * @param {number} [wait]\n * @param {Object} [options]\n */\nfunction d(wait, options) { }\n",
       "/**\n * @param {number} [wait]\n * @param {Object} [options]\n */\nfunction d(wait: number, options): void { }\n"
       "export {};\n"},
      {"JSDoc the body contradicts is not taken",
       "/** @param {boolean} mask */\nfunction deep(mask) { return mask & 1; }\n",
       "/** @param {boolean} mask */\nfunction deep(mask): number { return mask & 1; }\nexport {};\n"},
      {"a block after a case label holds statements, not methods",
       "function run(k) {\n  switch (k) {\n    default: {\n      switch (k) { case 1: break; }\n      for (const x of []) {}\n    }\n  }\n}\n",
       "function run(k): void {\n  switch (k) {\n    default: {\n      switch (k) { case 1: break; }\n      for (const x of []) {}\n    }\n  }\n}\n"
       "export {};\n"},
      {"an options object documented property by property",
       "/**\n * @param {Object} opts\n * @param {Boolean} [opts.fin=false] last\n * @param {Number} opts.code\n"
       " * @param {string|Buffer} [opts.data]\n */\nfunction send(opts) { }\n",
       "/**\n * @param {Object} opts\n * @param {Boolean} [opts.fin=false] last\n * @param {Number} opts.code\n"
       " * @param {string|Buffer} [opts.data]\n */\n"
       "function send(opts: { fin?: boolean; code: number; data?: string | Buffer; }): void { }\nexport {};\n"},
      {"an options object with a property the form cannot write stays bare",
       "/**\n * @param {Object} opts\n * @param {Duplex} opts.socket\n * @param {Object} b\n * @param {*} b.x\n */\n"
       "function send(opts, b) { }\n",
       "/**\n * @param {Object} opts\n * @param {Duplex} opts.socket\n * @param {Object} b\n * @param {*} b.x\n */\n"
       "function send(opts, b): void { }\nexport {};\n"},
      {"a union in parentheses keeps them before []; backticked names; Node's Buffer; no Function",
       "/**\n * @param {String} `input`\n * @param {Function} cb\n * @return {(Buffer|string)[]}\n */\n"
       "function frame(input, cb) { return lookup(input, cb); }\n",
       "/**\n * @param {String} `input`\n * @param {Function} cb\n * @return {(Buffer|string)[]}\n */\n"
       "function frame(input: string, cb): (Buffer | string)[] { return lookup(input, cb); }\nexport {};\n"},
      {"JSDoc the code contradicts: called, constructed, reassigned, or given another kind by the calls",
       "/**\n * @param {boolean} pred\n * @param {string} C\n * @param {string[]} orders\n * @param {boolean} deep\n */\n"
       "function f(pred, C, orders, deep) { pred(1); new C(); orders = [orders]; }\nf(a, b, c, 1 & 2);\n",
       "/**\n * @param {boolean} pred\n * @param {string} C\n * @param {string[]} orders\n * @param {boolean} deep\n */\n"
       "function f(pred, C, orders, deep): void { pred(1); new C(); orders = [orders]; }\nf(a, b, c, 1 & 2);\nexport {};\n"},
      {"calls through exports reach the exported function",
       "function show(v) { console.log(v); }\nexports.show = void 0;\nexports.show = show;\n"
       "function label() { return 'a'; }\nexports.label = label;\n"
       "function run() { (0, exports.show)('x'); return exports.label(); }\n",
       "function show(v: string): void { console.log(v); }\nexports.show = void 0;\nexports.show = show;\n"
       "function label(): string { return 'a'; }\nexports.label = label;\n"
       "function run(): string { (0, exports.show)('x'); return exports.label(); }\nexport {};\n"},
      {"an export assigned twice is not followed",
       "function show(v) { console.log(v); }\nexports.show = show;\nexports.show = other;\nexports.show('x');\n",
       "function show(v): void { console.log(v); }\nexports.show = show;\nexports.show = other;\nexports.show('x');\n"
       "export {};\n"},
      {"a union with Function is not written; what parseFloat converts stays open",
       "/** @param {String|Function} sel */\nfunction pick(sel) { return find(sel); }\n"
       "function numeric(obj) { return !isNaN(obj - parseFloat(obj)); }\nfunction n(s) { return parseInt(s, 10); }\n",
       "/** @param {String|Function} sel */\nfunction pick(sel) { return find(sel); }\n"
       "function numeric(obj): boolean { return !isNaN(obj - parseFloat(obj)); }\n"
       "function n(s): number { return parseInt(s, 10); }\nexport {};\n"},
      {"JSDoc object and Symbol stay bare: the code reads properties and joins strings the compiler refuses there",
       "/**\n * @param {object} [opts]\n * @param {(String|Symbol)} event\n */\n"
       "function on(opts, event) { return opts.x + event; }\n",
       "/**\n * @param {object} [opts]\n * @param {(String|Symbol)} event\n */\n"
       "function on(opts, event) { return opts.x + event; }\nexport {};\n"},
      {"a position a method takes is a number, against what the calls pass",
       "function cut(s, n) { return s.slice(n); }\nfunction keep(v, flag) { return [v].slice(flag); }\n"
       "keep(1, true);\n",
       "function cut(s, n: number) { return s.slice(n); }\n"
       "function keep(v: number, flag): number[] { return [v].slice(flag); }\nkeep(1, true);\nexport {};\n"},
      {"a value stored into an array element, or the source of an array filled with other kinds, stays bare",
       "function rel(flag) { var a = ['s', 1]; a[2] = flag; return a; }\nrel(true);\n"
       "function fmt(f) { var parts = f.match(/x/g); parts[0] = g; return parts; }\n",
       "function rel(flag) { var a = ['s', 1]; a[2] = flag; return a; }\nrel(true);\n"
       "function fmt(f) { var parts = f.match(/x/g); parts[0] = g; return parts; }\nexport {};\n"},
      {"compared with a number variable, a number",
       "function get(n) { let i = 0; for (; i < n; i++) {} return i; }\n"
       "function near(k, list) { var limit = 5; return list.at(0) > limit || limit >= k; }\n"
       "function fits(s, list) { return s > list.length; }\n",
       "function get(n: number): number { let i = 0; for (; i < n; i++) {} return i; }\n"
       "function near(k: number, list): boolean { var limit = 5; return list.at(0) > limit || limit >= k; }\n"
       "function fits(s: number, list): boolean { return s > list.length; }\nexport {};\n"},
      {"compared for equality with a variable declared with a literal: that kind, against the others",
       "function nth(first) { var diff = false; if (first === 1) {} diff = diff === first || diff % first; }\n"
       "function same(k) { let name = ''; if (k == 2) {} return name !== k; }\n"
       "function is(v) { var seen = 0; return seen === v; }\n",
       "function nth(first): void { var diff = false; if (first === 1) {} diff = diff === first || diff % first; }\n"
       "function same(k): boolean { let name = ''; if (k == 2) {} return name !== k; }\n"
       "function is(v: number): boolean { var seen = 0; return seen === v; }\nexport {};\n"},
      {"typed arrays and Buffers: constructed, built by of/from/alloc, copied by slice",
       "const pool = new Uint8Array(256);\nfunction take() { return pool.slice(0, 16); }\n"
       "function bytes(v) { return Uint8Array.of(v >>> 8, v & 0xff); }\n"
       "function blank(n) { const b = Buffer.alloc(n); b[0] = 1; return b.subarray(1); }\n"
       "function mapped(b) { return Buffer.from(b).map(x => x); }\n",
       "const pool = new Uint8Array(256);\nfunction take(): Uint8Array { return pool.slice(0, 16); }\n"
       "function bytes(v: number): Uint8Array { return Uint8Array.of(v >>> 8, v & 0xff); }\n"
       "function blank(n: number): Buffer { const b = Buffer.alloc(n); b[0] = 1; return b.subarray(1); }\n"
       "function mapped(b) { return Buffer.from(b).map(x => x); }\nexport {};\n"},
      {"a package function called as (0, m.f)(...); what a file status answers",
       "const path_1 = require('path');\nconst fs_1 = require('fs');\n"
       "const norm = (p) => { p = (0, path_1.resolve)(p); return p; };\n"
       "const isDir = (p) => (0, fs_1.statSync)(p).isDirectory() && true;\n",
       "const path_1 = require('path');\nconst fs_1 = require('fs');\n"
       "const norm = (p: string): string => { p = (0, path_1.resolve)(p); return p; };\n"
       "const isDir = (p): boolean => (0, fs_1.statSync)(p).isDirectory() && true;\nexport {};\n"},
      {"an array filled only by push of known elements; one passed on, written by index or mixed stays open",
       "function names(list) { const out = []; for (const x of list) out.push(String(x)); return out; }\n"
       "function twice(n) { const r = []; for (let i = 0; i < n; i++) r.push(i * 2); return r; }\n"
       "function passed() { const out = []; out.push('a'); fill(out); return out; }\n"
       "function indexed() { const out = []; out.push('a'); out[1] = 2; return out; }\n"
       "function mixed() { const out = []; out.push('a'); out.push(1); return out; }\n",
       "function names(list): string[] { const out = []; for (const x of list) out.push(String(x)); return out; }\n"
       "function twice(n: number): number[] { const r = []; for (let i = 0; i < n; i++) r.push(i * 2); return r; }\n"
       "function passed() { const out = []; out.push('a'); fill(out); return out; }\n"
       "function indexed() { const out = []; out.push('a'); out[1] = 2; return out; }\n"
       "function mixed() { const out = []; out.push('a'); out.push(1); return out; }\nexport {};\n"},
      {"map over a known array gives an array of what the callback returns",
       "function trimmed(s) { return s.split(',').map((p) => p.trim()); }\n"
       "function keys(o) { return Object.keys(o).map(function (k) { return k.length; }); }\n"
       "function same(s) { return s.split(',').map((p) => p); }\nfunction other(list) { return list.map((p) => p.trim()); }\n",
       "function trimmed(s: string): string[] { return s.split(',').map((p) => p.trim()); }\n"
       "function keys(o): number[] { return Object.keys(o).map(function (k) { return k.length; }); }\n"
       "function same(s: string) { return s.split(',').map((p) => p); }\nfunction other(list) { return list.map((p) => p.trim()); }\n"
       "export {};\n"},
      {"an argument of Math, String.fromCharCode, JSON.parse or path's functions; not of a shadowing name",
       "const path = require('path');\nfunction big(a, b) { return Math.max(a, b) > 1; }\n"
       "function chr(c) { return String.fromCharCode(c); }\nfunction read(t) { return JSON.parse(t); }\n"
       "function under(dir, name) { return path.join(dir, name); }\n"
       "function local(x) { const Math = lib; return Math.max(x); }\n",
       "const path = require('path');\nfunction big(a: number, b: number): boolean { return Math.max(a, b) > 1; }\n"
       "function chr(c: number): string { return String.fromCharCode(c); }\nfunction read(t: string) { return JSON.parse(t); }\n"
       "function under(dir: string, name: string): string { return path.join(dir, name); }\n"
       "function local(x) { const Math = lib; return Math.max(x); }\nexport {};\n"},
      {"what a known string or list is searched for has its kind; concat takes anything",
       "const MODES = ['fast', 'slow'];\nfunction valid(m) { return MODES.includes(m); }\n"
       "function pre(p) { const base = '/usr/lib'; return base.startsWith(p); }\n"
       "function lit(c) { return 'abc'.indexOf(c) >= 0; }\nfunction msg(w) { if (w <= 0) return 'x'.concat(w); }\n",
       "const MODES = ['fast', 'slow'];\nfunction valid(m: string): boolean { return MODES.includes(m); }\n"
       "function pre(p: string): boolean { const base = '/usr/lib'; return base.startsWith(p); }\n"
       "function lit(c: string): boolean { return 'abc'.indexOf(c) >= 0; }\n"
       "function msg(w: number): string { if (w <= 0) return 'x'.concat(w); }\nexport {};\n"},
      {"a string grown with += stays a string whatever is added; a number only with numbers",
       "function join(parts) { var out = ''; for (const p of parts) out += p; return out; }\n"
       "function sum(xs) { let t = 0; for (const x of xs) t += x; return t; }\n",
       "function join(parts): string { var out = ''; for (const p of parts) out += p; return out; }\n"
       "function sum(xs) { let t = 0; for (const x of xs) t += x; return t; }\nexport {};\n"},
      {"what a factory returns is what the variable it made calls",
       "function getEscaper(map) { return function escape(data) { return data.trim() + map.x; }; }\n"
       "var esc = getEscaper(m);\nfunction run(s) { return esc(s); }\n"
       "function make() { if (a) return f; return function () { return 1; }; }\nvar g = make();\n"
       "function other() { return g(); }\n",
       "function getEscaper(map) { return function escape(data: string): string { return data.trim() + map.x; }; }\n"
       "var esc = getEscaper(m);\nfunction run(s: string): string { return esc(s); }\n"
       "function make() { if (a) return f; return function (): number { return 1; }; }\nvar g = make();\n"
       "function other() { return g(); }\nexport {};\n"},
      {"an export a factory made is called through exports",
       "function getE(map) { return function (d) { return d; }; }\nexports.e = getE(m);\n(0, exports.e)('x');\n",
       "function getE(map) { return function (d: string): string { return d; }; }\nexports.e = getE(m);\n"
       "(0, exports.e)('x');\nexport {};\n"},
      {"JSDoc of a declaration after a statement without semicolon",
       "exports.parse = parse\n\n/**\n * @return {string}\n */\n\nfunction format (obj) {\n  return obj.type\n}\n",
       "exports.parse = parse\n\n/**\n * @return {string}\n */\n\nfunction format (obj): string {\n  return obj.type\n}\n"
       "export {};\n"},
      {"a parameter stored into a field is typed by the class's uses of the field",
       "class Counter {\n  constructor(start, name, x) { this.count = start; this.name = name; this.x = x; }\n"
       "  set(v) { this.count = v; }\n  down(n) { this.count -= n; return this.count <= 0; }\n"
       "  label() { return this.name.toUpperCase(); }\n  y() { return this.x.y; }\n}\n"
       "function Sem(v) { this._value = v; }\nSem.prototype.get = function () { return this._value; };\n"
       "Sem.prototype.low = function () { return this._value < 1; };\n",
       "class Counter {\n  declare count: number;\n  declare name: string;\n  declare x;\n"
       "  constructor(start: number, name: string, x) { this.count = start; this.name = name; this.x = x; }\n"
       "  set(v: number): void { this.count = v; }\n  down(n: number): boolean { this.count -= n; return this.count <= 0; }\n"
       "  label(): string { return this.name.toUpperCase(); }\n  y() { return this.x.y; }\n}\n"
       "function Sem(v: number) { this._value = v; }\nSem.prototype.get = function (): number { return this._value; };\n"
       "Sem.prototype.low = function (): boolean { return this._value < 1; };\nexport {};\n"},
      {"an argument of a method of the file, on this, an instance, or one of a constructor function",
       "var Dec = (function () {\n  function Dec(t) { this.t = t; }\n"
       "  Dec.prototype.write = function (str, at) { return str.charCodeAt(at); };\n  return Dec;\n}());\n"
       "function use(s) { var d = new Dec(1); return d.write(s, 0); }\n"
       "class K { w(x) { return x.trim(); } run(y) { return this.w(y); } }\n"
       "function viaK(z) { const k = new K(); return k.w(z); }\n",
       "var Dec = (function () {\n  function Dec(t) { this.t = t; }\n"
       "  Dec.prototype.write = function (str: string, at: number): number { return str.charCodeAt(at); };\n"
       "  return Dec;\n}());\nfunction use(s: string): number { var d = new Dec(1); return d.write(s, 0); }\n"
       "class K { w(x: string): string { return x.trim(); } run(y: string): string { return this.w(y); } }\n"
       "function viaK(z: string): string { const k = new K(); return k.w(z); }\nexport {};\n"},
      {"where a search starts, a buffer's size and a timer's delay are numbers; not under a name of the file",
       "function from(s, i) { return s.indexOf('x', i); }\nfunction has(list, v, at) { return list.includes(v, at); }\n"
       "function blank(n) { return Buffer.alloc(n); }\nfunction later(f, ms) { setTimeout(f, ms); }\n"
       "function mine(f, ms) { const setTimeout = g; setTimeout(f, ms); }\n",
       "function from(s, i: number): number { return s.indexOf('x', i); }\n"
       "function has(list, v, at: number): boolean { return list.includes(v, at); }\n"
       "function blank(n: number): Buffer { return Buffer.alloc(n); }\nfunction later(f, ms: number): void { setTimeout(f, ms); }\n"
       "function mine(f, ms): void { const setTimeout = g; setTimeout(f, ms); }\nexport {};\n"},
      {"a getter's @type is its result",
       "class E {\n  /** @type {Number} */\n  get code() { return this._c; }\n}\n",
       "class E {\n  /** @type {Number} */\n  get code(): number { return this._c; }\n}\nexport {};\n"},
      {"a JSDoc result the returns contradict is not taken",
       "/** @returns {string} */\nfunction n() { return 5; }\n",
       "/** @returns {string} */\nfunction n() { return 5; }\nexport {};\n"},
      {"a getter without a value is left to the compiler", "class A { get x() { } }\n",
       "class A { get x() { } }\nexport {};\n"},
      {"mixed array literals prove no element type",
       "function pick(n) { let a; a = n > 1 && ['M']; a = a || ['MM', n]; return a; }\n",
       "function pick(n: number) { let a; a = n > 1 && ['M']; a = a || ['MM', n]; return a; }\nexport {};\n"},
      {"async results are promises", "async function load() { return 5; }\n",
       "async function load(): Promise<number> { return 5; }\nexport {};\n"},
      {"callbacks take their types from the callee", "[1, 2].map((n) => n * 2);\n",
       "[1, 2].map((n) => n * 2);\nexport {};\n"},
      {"an arrow bound to a name", "const twice = (n) => n * 2;\ntwice(3);\n",
       "const twice = (n: number): number => n * 2;\ntwice(3);\nexport {};\n"},
      {"a name declared twice is left alone", "function f() { let t; t = 1; }\nfunction g() { let t; t = 'a'; }\n",
       "function f(): void { let t: number; t = 1; }\nfunction g(): void { let t: string; t = 'a'; }\nexport {};\n"},
      {"unknown values write nothing", "const m = require('m');\nconst v = m.load();\n",
       "const m = require('m');\nconst v = m.load();\nexport {};\n"},
      {"a module stays as it is", "import fs from 'fs';\nexport function size(p) { return fs.statSync(p).size; }\n",
       "import fs from 'fs';\nexport function size(p) { return fs.statSync(p).size; }\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(inline_of(c.source).text, c.expected) << c.what;
  }
}

TEST(InlineEmitter, TypesClassesFromTheirOwnCode) {
  const std::string source =
      "class Cache {\n"
      "  constructor(size) { this.size = size; this.map = new Map(); this.hits = 0; }\n"
      "  get(k) { this.hits++; return this.map.get(k); }\n"
      "  static create() { return new Cache(10); }\n"
      "  set(k, v) { this.map.set(k, v); return this; }\n"
      "  get count() { return this.hits; }\n"
      "  delete(k) { return this.map.delete(k); }\n"
      "}\n"
      "Cache.shared = Cache.create();\n";
  const std::string expected =
      "class Cache {\n"
      "  declare size: number;\n"
      "  declare map;\n"
      "  declare hits: number;\n"
      "  declare static shared;\n"
      "  constructor(size: number) { this.size = size; this.map = new Map(); this.hits = 0; }\n"
      "  get(k) { this.hits++; return this.map.get(k); }\n"
      "  static create(): Cache { return new Cache(10); }\n"
      "  set(k, v): Cache { this.map.set(k, v); return this; }\n"
      "  get count(): number { return this.hits; }\n"
      "  delete(k) { return this.map.delete(k); }\n"
      "}\n"
      "Cache.shared = Cache.create();\n"
      "export {};\n";
  const InlineOutput output = inline_of(source);
  EXPECT_EQ(output.text, expected);
  EXPECT_EQ(remove_insertions(output), source);
}

// A module's code runs in strict mode: a file that visibly relies on sloppy
// mode stays a script, and says why.
TEST(InlineEmitter, KeepsSloppyFilesScripts) {
  struct Case {
    const char* what;
    const char* source;
    bool script;
  };
  const Case cases[] = {
      {"with", "with (Math) { console.log(PI); }\n", true},
      {"arguments.callee", "function f() { return arguments.callee; }\n", true},
      {"legacy octal", "var mode = 0755;\n", true},
      {"octal escape", "var s = '\\101';\n", true},
      {"delete of a name", "var x = 1;\ndelete x;\n", true},
      {"this at the top", "(function (root) { root.x = 1; })(this);\n", true},
      {"this of a plain call", "function g() { return this.name; }\ng();\n", true},
      {"this of a method", "var o = { f() { return this.x; } };\n", false},
      {"this of a constructor", "function P() { this.x = 1; }\nnew P();\n", false},
      {"plain code", "var n = 0x10;\nvar s = 'a\\\\101';\n", false},
  };
  for (const Case& c : cases) {
    const InlineOutput output = inline_of(c.source);
    EXPECT_EQ(!output.script_reason.empty(), c.script) << c.what << ": " << output.script_reason;
    EXPECT_EQ(output.text.ends_with("export {};\n"), !c.script) << c.what;
  }
}

TEST(InlineEmitter, SingleParameterArrowGetsParentheses) {
  const std::string source = "const inc = x => x + 1;\ninc(2);\n";
  const InlineOutput output = inline_of(source);
  EXPECT_EQ(output.text, "const inc = (x: number): number => x + 1;\ninc(2);\nexport {};\n");
  EXPECT_EQ(remove_insertions(output), source);
}

// The function spans the check looks in lie inside the source, also for
// bodies the file never closes.
TEST(InlineEmitter, FunctionSpansStayInsideTheSource) {
  for (const std::string source : {"const x = { k: () => { ", "function f() {", "class A { m() { return 1; ",
                                   "function g(a) { return a; }\n"}) {
    const InlineOutput output = inline_of(source);
    for (const auto& [first, last] : output.function_spans) {
      EXPECT_LE(0, first) << source;
      EXPECT_LE(first, last) << source;
      EXPECT_LE(last, static_cast<int>(source.size())) << source;
    }
  }
}

// Removal gives the source back byte for byte, and nothing vague is written.
TEST(InlineEmitter, InsertionsAreAllThatChanges) {
  const std::regex vague("\\b(any|unknown)\\b");
  size_t annotated = 0;
  for (const Sample& sample : samples()) {
    const InlineOutput output = inline_of(sample.text);
    ASSERT_EQ(output.text, apply_insertions(sample.text, output.insertions)) << sample.name;
    ASSERT_TRUE(remove_insertions(output) == sample.text) << sample.name;
    for (size_t i = 1; i < output.insertions.size(); ++i) {
      ASSERT_LE(output.insertions[i - 1].offset, output.insertions[i].offset) << sample.name;
    }
    int interface_blocks = 0;
    for (const InlineInsertion& insertion : output.insertions) {
      if (insertion.kind == INLINE_INTERFACES) {
        ++interface_blocks;
        continue;
      }
      EXPECT_FALSE(std::regex_search(insertion.text, vague)) << sample.name << ": " << insertion.text;
      // Only field declarations and the module line stand on lines of their own.
      if (insertion.kind != INLINE_FIELD && insertion.kind != INLINE_MODULE) {
        EXPECT_EQ(insertion.text.find('\n'), std::string::npos) << sample.name << ": " << insertion.text;
      }
    }
    EXPECT_LE(interface_blocks, 1) << sample.name;
    annotated += output.insertions.size();
  }
  EXPECT_GT(annotated, 100u) << "the samples should get many annotations";
}

// The compiler's parser finds no error in any output, and the checker no
// name declared twice.
TEST(InlineEmitter, OutputParsesAsTypeScript) {
  std::string node_version;
  if (run_shell("node -v", &node_version) != 0) GTEST_SKIP() << "Node.js is not on PATH";
  if (!fs::exists(kTypeScript)) GTEST_SKIP() << "TypeScript is missing: run .ci/install-node-tools.sh";
  kvx_test::ScopedWorkDir work;
  std::string list;
  int number = 0;
  for (const Sample& sample : samples()) {
    // The checker needs minutes for the largest files: their parse alone is
    // checked, and the random programs and smaller real files get the full check.
    const std::string file = "f" + std::to_string(number++) + ".ts";
    write_file(file, inline_of(sample.text).text);
    write_file("base_" + file, sample.text);
    list += sample.name + "\t" + file + "\t" + (sample.text.size() > 40000 ? "parse" : "full") + "\n";
  }
  write_file("list.tsv", list);
  write_file("check.js", R"(
const fs = require('fs');
const path = require('path');
const check = require(process.argv[2]);
const options = check.compilerOptions();
const host = check.makeHost(options);
for (const line of fs.readFileSync('list.tsv', 'utf8').split('\n')) {
  if (!line) continue;
  const [name, file, depth] = line.split('\t');
  const full = path.resolve(file);
  const text = fs.readFileSync(file, 'utf8');
  // The source's own parse errors (a regular expression the compiler reads
  // differently) are not the insertions' doing.
  const parse = check.syntaxErrors(full, text);
  const sourceParse = check.syntaxErrors(path.resolve('base_' + file), fs.readFileSync('base_' + file, 'utf8'));
  if (parse.length > sourceParse.length) for (const d of parse) console.log(`${name} parse ${check.describe(d)}`);
  if (depth !== 'full') continue;
  // A script's own clashes with the library's globals are the source's:
  // only duplicates beyond those of the source copied unchanged count.
  const duplicates = (fileName, source) => check.compileErrors(host, options, fileName, source)
      .filter((d) => check.DUPLICATE_CODES.has(d.code) && d.file && d.file.fileName === fileName);
  const base = path.resolve('base_' + file);
  const own = duplicates(full, text);
  const before = duplicates(base, fs.readFileSync('base_' + file, 'utf8')).length;
  if (own.length > before) {
    for (const d of own) console.log(`${name} duplicate (${own.length} against ${before}) ${check.describe(d)}`);
  }
}
)");
  std::string output;
  EXPECT_EQ(run_shell("node check.js " + shell_quote(kChecker.string()), &output), 0) << output;
  EXPECT_EQ(output, "");
}

TEST(InlineCheck, ReadsCompilerErrorsOfTheFileOnly) {
  const std::string output =
      "generated/a.ts(3,7): error TS2322: Type 'string' is not assignable to type 'number'.\n"
      "generated/a.ts(12,1): error TS2304: Cannot find name 'x'.\n"
      "generated/other.ts(1,1): error TS2304: Cannot find name 'y'.\n"
      "generated/a.ts(5,2): message with no error\n"
      "  generated/a.ts(9,9): error TS1005: indented, a continuation\n";
  const std::vector<CompilerError> errors = parse_compiler_errors(output, "generated/a.ts");
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_EQ(errors[0].line, 3);
  EXPECT_EQ(errors[0].column, 7);
  EXPECT_EQ(errors[1].line, 12);
}

TEST(InlineCheck, DropsTheAnnotationsTheErrorsPointAt) {
  const std::string source = "let a = f(), b = 2;\nconst c = 1;\nuse(c.size);\n";
  const std::vector<InlineInsertion> insertions = {
      {5, ": number", INLINE_VARIABLE, "a", "", -1},
      {14, ": number", INLINE_VARIABLE, "b", "", -1},
      {26, ": number", INLINE_VARIABLE, "c", "", -1},
  };
  // Output: "let a: number = f(), b: number = 2;\nconst c: number = 1;\nuse(c.size);\n"
  struct Case {
    const char* what;
    std::vector<CompilerError> errors;
    std::vector<bool> kept;
  };
  const Case cases[] = {
      {"the error's column holds one annotation", {{1, 8}}, {false, true, true}},
      {"a column outside any annotation drops the whole line", {{1, 17}}, {false, false, true}},
      {"an error where a name is used drops that name's annotation", {{3, 7}}, {true, true, false}},
      {"a line past the end drops nothing", {{40, 1}}, {true, true, true}},
  };
  for (const Case& c : cases) {
    std::vector<bool> keep(insertions.size(), true);
    drop_rejected_insertions(source, insertions, keep, c.errors);
    EXPECT_EQ(keep, c.kept) << c.what;
  }
}

TEST(InlineCheck, DropsTheAnnotationsOfTheFunctionAnErrorStandsIn) {
  // Output: "function f(a: number) {\n  function g() {\n    x();\n  }\n}\nlet v: string = y();\n"
  const std::string source = "function f(a) {\n  function g() {\n    x();\n  }\n}\nlet v = y();\n";
  const std::vector<InlineInsertion> insertions = {
      {12, ": number", INLINE_PARAMETER, "a", "f", 0},
      {53, ": string", INLINE_VARIABLE, "v", "", -1},
  };
  const std::vector<std::pair<int, int>> spans = {{0, 47}, {18, 45}};
  struct Case {
    const char* what;
    CompilerError error;
    std::vector<bool> kept;
  };
  const Case cases[] = {
      {"an inner function without annotations widens to the enclosing one", {3, 5}, {false, true}},
      {"outside every function, the error's line", {6, 17}, {true, false}},
      {"inside an insertion, nothing", {1, 15}, {true, true}},
  };
  for (const Case& c : cases) {
    std::vector<bool> keep(insertions.size(), true);
    drop_enclosing_insertions(source, insertions, keep, {c.error}, spans);
    EXPECT_EQ(keep, c.kept) << c.what;
  }
  // A wrapper around the whole module holds every annotation: not taken out.
  std::string wrapped = "(function () {\n";
  std::vector<InlineInsertion> many;
  for (int i = 0; i < 13; ++i) {
    wrapped += "var v" + std::to_string(i % 10) + std::string(1, static_cast<char>('a' + i)) + " = 1;\n";
    many.push_back({static_cast<int>(wrapped.size()) - 6, ": number", INLINE_VARIABLE, "v", "", -1});
  }
  wrapped += "x();\n})();\n";
  std::vector<bool> keep(many.size(), true);
  EXPECT_EQ(drop_enclosing_insertions(wrapped, many, keep, {{15 + 0, 1}},
                                      {{0, static_cast<int>(wrapped.size()) - 4}}),
            0);
  EXPECT_EQ(keep, std::vector<bool>(many.size(), true));
}

TEST(InlineCheck, OnlyErrorsTheSourceLacksCount) {
  // Output: "const a: number = 1;\nfoo(a);\n"; the source has the error at foo.
  const std::string source = "const a = 1;\nfoo(a);\n";
  const std::vector<InlineInsertion> insertions = {{7, ": number", INLINE_VARIABLE, "a", "", -1}};
  const std::vector<bool> keep(1, true);
  const std::vector<CompilerError> source_errors = {{2, 1, 2304}};
  const std::vector<CompilerError> errors = {{2, 1, 2304}, {1, 9, 2322}, {2, 5, 2345}};
  const std::vector<CompilerError> fresh = errors_not_in_source(source, insertions, keep, errors, source_errors);
  ASSERT_EQ(fresh.size(), 2u);
  EXPECT_EQ(fresh[0].code, 2322);
  EXPECT_EQ(fresh[1].code, 2345);
}

TEST(InlineCheck, TracesArgumentsAndLiteralsToTheirAnnotations) {
  // Output: "function f(a: string, b: number) {}\nvar o: Box = {\n  n: 1\n};\nf(x, [1,\n  y]);\n"
  const std::string source = "function f(a, b) {}\nvar o = {\n  n: 1\n};\nf(x, [1,\n  y]);\n";
  const std::vector<InlineInsertion> insertions = {
      {12, ": string", INLINE_PARAMETER, "a", "f", 0},
      {15, ": number", INLINE_PARAMETER, "b", "f", 1},
      {25, ": Box", INLINE_VARIABLE, "o", "", -1},
  };
  struct Case {
    const char* what;
    CompilerError error;
    std::vector<bool> kept;
  };
  const Case cases[] = {
      {"an argument drops the callee's parameter at its position", {5, 3, 2345}, {false, true, true}},
      {"an element of an array argument leads to that position too", {6, 3, 2322}, {true, false, true}},
      {"a property of an object literal drops the variable's annotation", {3, 3, 2353}, {true, true, false}},
  };
  for (const Case& c : cases) {
    std::vector<bool> keep(insertions.size(), true);
    drop_rejected_insertions(source, insertions, keep, {c.error});
    EXPECT_EQ(keep, c.kept) << c.what;
  }
}

TEST(InlineCheck, TracesAnErrorBackToTheResultAnnotation) {
  // Output: "function f(): number {\n  return g();\n}\nfunction h(): string { return ''; }\nuse(h(1).size);\n"
  const std::string source = "function f() {\n  return g();\n}\nfunction h() { return ''; }\nuse(h(1).size);\n";
  const std::vector<InlineInsertion> insertions = {
      {12, ": number", INLINE_RESULT, "f", "", -1},
      {43, ": string", INLINE_RESULT, "h", "", -1},
  };
  struct Case {
    const char* what;
    CompilerError error;
    std::vector<bool> kept;
  };
  const Case cases[] = {
      {"an error at `return` drops its function's result", {2, 3}, {false, true}},
      {"an error at `.size` of a call drops the called function's result", {5, 10}, {true, false}},
  };
  for (const Case& c : cases) {
    std::vector<bool> keep(insertions.size(), true);
    drop_rejected_insertions(source, insertions, keep, {c.error});
    EXPECT_EQ(keep, c.kept) << c.what;
  }
}

}  // namespace
