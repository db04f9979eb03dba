#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include <string>
#include <vector>

#include "analysis/analyzeR10.h"
#include "analysis/analyzeR8.h"
#include "analysis/class_walk.h"
#include "analysis/analyzeR9.h"
#include "core/tokenizer.h"
#include "class_fixture.h"
#include "test_support.h"

namespace {

using class_test::class_after;
using class_test::class_record;
using class_test::describe_fields;
using class_test::FlagArrays;
using kvx_test::type_text;
using kvx_test::var_record;

// "static async load(url): boolean | string"
std::vector<std::string> describe_methods(const ClassInfo& cls) {
  std::vector<std::string> methods;
  for (const MethodInfo& method : cls.methods) {
    std::string text;
    if (method.is_static) text += "static ";
    if (method.is_async) text += "async ";
    text += method.name + "(";
    for (size_t p = 0; p < method.param_names.size(); ++p) {
      if (p > 0) text += ", ";
      text += method.param_names[p];
    }
    text += "): " + type_text(method.return_type);
    EXPECT_TRUE(method.param_types.empty()) << "parameter types belong to pass 10: " << text;
    methods.push_back(text);
  }
  return methods;
}

// ---------------------------------------------------------------------------
// Built-in objects

struct BuiltinCase {
  const char* source;
  int kind;               // the kind of `d` afterwards
  const char* type_name;  // and its type text
};

TEST(BuiltinObjects, TypesDeclarationsOfNewDateAndRegExp) {
  const BuiltinCase cases[] = {
      {"const d = new Date();", TYPE_NAMED, "Date"},
      {"let d = new RegExp('a+');", TYPE_NAMED, "RegExp"},
      {"var d = new Date", TYPE_NAMED, "Date"},  // the class name may be the last token
      {"const d = new Map();", TYPE_NONE, ""},
      {"const d = new URL(s);", TYPE_NONE, ""},  // pass 9's list, not this one
      {"const d = await new Date();", TYPE_NONE, ""},
      {"d = new Date();", TYPE_NONE, ""},
      {"const d = new date();", TYPE_NONE, ""},
      {"const d = Date();", TYPE_NONE, ""},
      {"const d = new Date.UTC();", TYPE_NAMED, "Date"},  // only the word after new counts
      {"const d = new 'Date'();", TYPE_NONE, ""},
  };
  for (const BuiltinCase& c : cases) {
    const TokenList tokens = tokenize(c.source);
    AnalysisResult result;
    result.vars.push_back(var_record("d"));
    detect_builtin_objects(result, tokens);
    EXPECT_EQ(result.vars[0].type.kind, c.kind) << c.source;
    EXPECT_EQ(result.vars[0].type.type_name, c.type_name) << c.source;
  }
}

TEST(BuiltinObjects, WritesOnlyKindAndNameOfTheFirstVariable) {
  const TokenList tokens = tokenize("const d = new Date(); const other = new RegExp('x');");
  AnalysisResult result;
  result.vars.push_back(var_record("d"));
  result.vars[0].type.kind = TYPE_ARRAY;
  result.vars[0].type.element_kind = TYPE_STRING;
  result.vars[0].type.interface_name = "Kept";
  result.vars.push_back(var_record("d"));
  detect_builtin_objects(result, tokens);
  EXPECT_EQ(result.vars[0].type.kind, TYPE_NAMED);
  EXPECT_EQ(result.vars[0].type.type_name, "Date");
  EXPECT_EQ(result.vars[0].type.element_kind, TYPE_STRING);
  EXPECT_EQ(result.vars[0].type.interface_name, "Kept");
  EXPECT_EQ(result.vars[1].type.kind, TYPE_NONE);  // shadowed by the first `d`
  // `other` has no record: nothing to write, nothing added.
  EXPECT_EQ(result.vars.size(), 2u);
}

// ---------------------------------------------------------------------------
// Class inheritance

struct InheritanceCase {
  const char* source;
  std::vector<const char*> expected;  // base of A, B in that order; "" for none
};

TEST(ClassInheritance, RecordsTheWordAfterExtendsAndClearsTheRest) {
  const InheritanceCase cases[] = {
      {"class A extends Animal { } class B { }", {"Animal", ""}},
      {"class A extends lib.Base { }", {"lib", ""}},
      {"class B extends A { } class A extends B { }", {"B", "A"}},
      {"class A extends B", {"B", ""}},  // the base may be the last token
      {"class A extends (mix(B)) { }", {"", ""}},
      {"const A = class extends B { };", {"", ""}},
      {"class C extends A { }", {"", ""}},  // C has no record
      {"class A extends X { } class A extends Y { }", {"Y", ""}},  // the later one wins
  };
  for (const InheritanceCase& c : cases) {
    const TokenList tokens = tokenize(c.source);
    AnalysisResult result;
    result.classes.push_back(class_record("A"));
    result.classes.push_back(class_record("B"));
    result.classes[0].base_name = "Stale";
    result.classes[1].base_name = "Stale";
    detect_class_inheritance(result, tokens);
    for (size_t k = 0; k < 2; ++k) {
      const std::string expected = c.expected[k];
      if (expected.empty()) {
        EXPECT_FALSE(result.classes[k].base_name.has_value()) << c.source << " class " << k;
      } else {
        EXPECT_EQ(result.classes[k].base_name.value_or("(none)"), expected) << c.source;
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Class body walk

TEST(ClassBodyWalk, VisitsTheTokensAtDepthOneOfEachNamedClass) {
  struct Case {
    const char* source;
    std::vector<std::string> visited;  // "Class:token"
  } cases[] = {
      // A `}` that closes a member's block is itself at depth one.
      {"class A extends B { x = 1; m() { y } }",
       {"A:x", "A:=", "A:1", "A:;", "A:m", "A:(", "A:)", "A:}"}},
      // A nested class is walked with its outer class and again on its own.
      {"class A { f() { return class B { z } } }",
       {"A:f", "A:(", "A:)", "A:}", "B:z"}},
      // Unnamed or unknown classes are not walked.
      {"const K = class { a }; class C { b } class A { c }", {"A:c"}},
      {"class A", {}},
      {"class A extends B", {}},
      {"class A {", {}},
      {"class A { x", {"A:x"}},
      {"class A {}", {}},
      {"class A { a } class A { b }", {"A:a", "A:b"}},
  };
  for (const auto& c : cases) {
    const TokenList tokens = tokenize(c.source);
    AnalysisResult result;
    result.classes.push_back(class_record("A"));
    result.classes.push_back(class_record("B"));
    std::vector<std::string> visited;
    walk_class_bodies(result, tokens, index_file(tokens), [&](ClassInfo& cls, int l) {
      visited.push_back(cls.name + ":" + std::string(tokens.items[l].text));
      return l + 1;
    });
    EXPECT_EQ(visited, c.visited) << c.source;
  }
}

TEST(ClassBodyWalk, ResumesWhereTheMemberTestSays) {
  const TokenList tokens = tokenize("class A { a b c d e }");
  AnalysisResult result;
  result.classes.push_back(class_record("A"));
  std::vector<std::string> visited;
  walk_class_bodies(result, tokens, index_file(tokens), [&](ClassInfo&, int l) {
    visited.emplace_back(tokens.items[l].text);
    if (tokens.items[l].text == "a") return l + 3;  // skip b and c
    if (tokens.items[l].text == "d") return l;      // no progress: taken as the next token
    return l + 1;
  });
  EXPECT_EQ(visited, (std::vector<std::string>{"a", "d", "e"}));
}

// ---------------------------------------------------------------------------
// Static and private fields

struct ModifierCase {
  const char* body;  // inside `class A { ... }`
  std::vector<std::string> fields;
};

TEST(ClassModifiers, RecordsStaticAndPrivateFieldsWithTheirLiteralKinds) {
  const ModifierCase cases[] = {
      {"static count = 0;", {"static count: number"}},
      {"#secret = 'x';", {"private secret: string"}},
      {"static #id = 1;", {"private static id: number"}},
      {"#cache = new Map();", {"private cache: unknown"}},
      {"static ready = true; static tpl = `a${b}`;", {"static ready: boolean", "static tpl: string"}},
      {"static neg = -1;", {"static neg: unknown"}},
      {"label = 'a';", {}},
      {"static helper() { return 1; }", {}},
      {"#check() { return 1; }", {}},
      {"static #x;", {}},
      {"static;", {}},
      // Only depth one counts: assignments inside methods are not members.
      {"run() { static_ = 1; this.#n = 2; }", {}},
      {"static a = 1; static b = 2; #c = 3;", {"static a: number", "static b: number", "private c: number"}},
  };
  for (const ModifierCase& c : cases) {
    const std::string source = std::string("class A { ") + c.body + " }";
    EXPECT_EQ(describe_fields(class_after(detect_class_modifiers, source, "A"), FlagArrays::kAbsentOrInStep),
              c.fields)
        << source;
  }
}

TEST(ClassModifiers, UpdatesACapturedFieldInPlace) {
  struct Case {
    const char* captured;  // name as the structure capture recorded it
    const char* body;
    std::vector<std::string> fields;
  } cases[] = {
      {"#secret", "#secret = 'x';", {"a: number", "private secret: string", "z: number"}},
      {"secret", "#secret = 'x';", {"a: number", "private secret: string", "z: number"}},
      {"secret", "static secret = 5;", {"a: number", "static secret: number", "z: number"}},
      {"#secret", "static #secret = 5;", {"a: number", "private static secret: number", "z: number"}},
      // `secret` as written matches neither `#secret` nor its stored name.
      {"#secret", "static secret = 5;", {"a: number", "#secret: string[]", "z: number", "static secret: number"}},
      // A later member of the same name updates the same field again.
      {"secret", "#secret = 'x'; static secret = 1;", {"a: number", "static secret: number", "z: number"}},
  };
  for (const auto& c : cases) {
    const std::string source = std::string("class A { ") + c.body + " }";
    const TokenList tokens = tokenize(source);
    AnalysisResult result;
    result.classes.push_back(class_record("A", {"a", c.captured, "z"}, {1, TYPE_ARRAY, 1}));
    result.classes[0].field_types[1].element_kind = TYPE_STRING;
    detect_class_modifiers(result, tokens, index_file(tokens));
    EXPECT_EQ(describe_fields(result.classes[0], FlagArrays::kAbsentOrInStep), c.fields) << source;
    // An updated field starts from an empty type: nothing of the old one remains.
    const bool updated = result.classes[0].field_names[1] == "secret";
    EXPECT_EQ(result.classes[0].field_types[1].element_kind, updated ? TYPE_NONE : TYPE_STRING)
        << source;
  }
}

TEST(ClassModifiers, AllocatesFreshFlagArraysPerClass) {
  const TokenList tokens = tokenize("class A { x = 1; } class B { }");
  AnalysisResult result;
  result.classes.push_back(class_record("A", {"x", "y"}, {TYPE_NUMBER, TYPE_STRING}));
  result.classes[0].field_private = {1, 1, 1, 1};  // stale, of the wrong size
  result.classes[0].field_static = {1};
  result.classes.push_back(class_record("B"));
  result.classes[1].field_private = {1};
  detect_class_modifiers(result, tokens, index_file(tokens));
  EXPECT_EQ(result.classes[0].field_private, (std::vector<int>{0, 0}));
  EXPECT_EQ(result.classes[0].field_static, (std::vector<int>{0, 0}));
  EXPECT_TRUE(result.classes[1].field_private.empty());
  EXPECT_TRUE(result.classes[1].field_static.empty());
}

TEST(ClassModifiers, AppendedFieldsKeepAPresentReadonlyArrayInStep) {
  const TokenList tokens = tokenize("class A { static n = 1; }");
  AnalysisResult result;
  result.classes.push_back(class_record("A", {"x"}, {TYPE_STRING}));
  result.classes[0].field_readonly = {1};
  detect_class_modifiers(result, tokens, index_file(tokens));
  EXPECT_EQ(result.classes[0].field_readonly, (std::vector<int>{1, 0}));
  EXPECT_EQ(describe_fields(result.classes[0], FlagArrays::kAbsentOrInStep),
            (std::vector<std::string>{"readonly x: string", "static n: number"}));
}

TEST(ClassModifiers, StopsSafelyAtTheEndOfTheList) {
  const char* sources[] = {"class A { static", "class A { static #x", "class A { static #x =",
                           "class A { #x =", "class A { static x = 1"};
  for (const char* source : sources) {
    const size_t expected = std::string(source).ends_with("1") ? 1u : 0u;
    EXPECT_EQ(class_after(detect_class_modifiers, source, "A").field_names.size(), expected) << source;
  }
}

// ---------------------------------------------------------------------------
// Class methods

struct MethodCase {
  const char* body;  // inside `class A { ... }`
  std::vector<std::string> methods;
};

TEST(ClassMethods, RebuildsTheMethodListFromTheBody) {
  const MethodCase cases[] = {
      {"async load(url) { if (!url) return false; return \"x\"; }",
       {"async load(url): boolean | string"}},
      // A value of no known kind leaves the result open; `this` and a new
      // instance of the class give the class.
      {"static create() { return new Foo(); }", {"static create(): any"}},
      {"static create() { return new A(10); }", {"static create(): A"}},
      {"set(k, v) { this.m.set(k, v); return this; }", {"set(k, v): A"}},
      {"get(k) { return this.m.get(k); }", {"get(k): any"}},
      {"m() { if (a) return 1; return this; }", {"m(): any"}},
      {"m() { return 'a' + b; }", {"m(): any"}},
      {"m() { return\n 1; }", {"m(): void"}},  // the line break ends the return
      {"static async make(a, b) { return 1; }", {"static async make(a, b): number"}},
      {"constructor(a, b) { this.a = a; }", {}},
      {"sum(a = 1, b) { return a + b; }", {"sum(a, b): any"}},
      // The declared parameters only: a default value adds none, a pattern
      // is one parameter, and so is a rest parameter.
      {"f(a = b) { }", {"f(a): void"}},
      {"g({ x, y }, [z]) { }", {"g({ x, y }, [z]): void"}},
      {"h(x = true, y = this.y, z = typeof w, ...rest) { }", {"h(x, y, z, ...rest): void"}},
      {"k(a = new X(), b = new.target, c = f(1, 2)) { return 'k'; }", {"k(a, b, c): string"}},
      {"#check() { return 0; }", {"#check(): number"}},
      {"handler = () => { return 1; };", {}},
      {"count = 0; run() { }", {"run(): void"}},
      // An accessor is recorded under its own name, without parameters.
      {"get size() { return 3; }", {"size(): number"}},
      {"get(key) { return 'v'; }", {"get(key): string"}},
      // The method's own returns at every depth, without those of nested
      // functions; no value returned gives 5.
      {"m() { const f = () => { return 1; }; if (x) { return 'a'; } return 'b'; }", {"m(): string"}},
      {"m() { const f = () => { return 1; }; if (x) { return 'a'; } return y; }", {"m(): any"}},
      {"m() { [1].forEach(function () { return 1; }); }", {"m(): void"}},
      {"m() { return; }", {"m(): void"}},
      {"m() { return 1; return 2; return true; }", {"m(): number | boolean"}},
      {"m() { return 1; return 'a'; return true; return `t`; return 2.5; }", {"m(): number | string | boolean"}},
      // Calls inside a method body are not members; the next member is.
      {"a() { b(); c() { } } d() { }", {"a(): void", "d(): void"}},
      {"a() { } b() { }", {"a(): void", "b(): void"}},
      // Parameter list without a body: nothing is recorded.
      {"a(x); b(y) { }", {"b(y): void"}},
      {"async () { }", {}},
      {"static static() { }", {"static static(): void"}},
      // Keywords name methods as well.
      {"delete(k) { return 1; } default() { } new() { } in(x) { } import(x) { }",
       {"delete(k): number", "default(): void", "new(): void", "in(x): void", "import(x): void"}},
      {"static delete(k) { } async return() { }", {"static delete(k): void", "async return(): void"}},
      // Generators return their generator, never a promise.
      {"*keys() { yield 1; }", {"keys(): Generator"}},
      {"static *ids() { return 1; }", {"static ids(): Generator"}},
      {"async *stream() { yield 1; } static async *all() { }", {"stream(): AsyncGenerator", "static all(): AsyncGenerator"}},
      // A static accessor is static.
      {"static get isDebug() { return false; } static set level(v) { } set mode(v) { }",
       {"static isDebug(): boolean", "static level(v): void", "mode(v): void"}},
  };
  for (const MethodCase& c : cases) {
    const std::string source = std::string("class A { ") + c.body + " }";
    EXPECT_EQ(describe_methods(class_after(detect_class_methods, source, "A")), c.methods) << source;
  }
}

TEST(ClassMethods, ReservedWordsNeverStartAMethod) {
  // `if`, `while`, `for` and `switch` come as keywords; the member test also
  // refuses them by name, so they are not methods whatever their code.
  const TokenList tokens =
      tokenize("class A { if (a) { } while (b) { } for (c) { } switch (d) { } ok() { } }");
  AnalysisResult result;
  result.classes.push_back(class_record("A"));
  detect_class_methods(result, tokens, index_file(tokens));
  EXPECT_EQ(describe_methods(result.classes[0]), (std::vector<std::string>{"ok(): void"}));

  TokenList words = tokenize("class A { x() { } }");
  for (const char* name : {"constructor", "if", "for", "while", "switch"}) {
    words.items[3].text = TokenText(name);  // same token run, the name as an identifier
    AnalysisResult named;
    named.classes.push_back(class_record("A"));
    detect_class_methods(named, words, index_file(words));
    EXPECT_TRUE(named.classes[0].methods.empty()) << name;
  }
}

TEST(ClassMethods, ResetsEveryClassAndFeedsTheFirstRecordOfAName) {
  const TokenList tokens = tokenize("class A { a() { } } class A { b() { } } class C { c() { } }");
  AnalysisResult result;
  result.classes.push_back(class_record("A"));
  result.classes.push_back(class_record("A"));
  result.classes.push_back(class_record("B"));
  for (ClassInfo& cls : result.classes) {
    MethodInfo stale;
    stale.name = "stale";
    cls.methods.push_back(stale);
  }
  detect_class_methods(result, tokens, index_file(tokens));
  EXPECT_EQ(describe_methods(result.classes[0]), (std::vector<std::string>{"a(): void", "b(): void"}));
  EXPECT_TRUE(result.classes[1].methods.empty());
  EXPECT_TRUE(result.classes[2].methods.empty());
}

TEST(ClassMethods, ANestedClassGetsItsOwnMethods) {
  const TokenList tokens =
      tokenize("class Outer { make() { return class Inner { run() { return 1; } }; } }");
  AnalysisResult result;
  result.classes.push_back(class_record("Outer"));
  result.classes.push_back(class_record("Inner"));
  detect_class_methods(result, tokens, index_file(tokens));
  EXPECT_EQ(describe_methods(result.classes[0]), (std::vector<std::string>{"make(): any"}));
  EXPECT_EQ(describe_methods(result.classes[1]), (std::vector<std::string>{"run(): number"}));
}

TEST(ClassMethods, UnfinishedSourcesStopSafely) {
  const MethodCase cases[] = {
      {"m() { return 1;", {"m(): number"}},  // body never closes: recorded all the same
      {"m() { return", {"m(): void"}},
      {"m()", {}},
      {"m(a, b", {}},
      {"static", {}},
      {"static async", {}},
      {"m(", {}},
  };
  for (const MethodCase& c : cases) {
    const std::string source = std::string("class A { ") + c.body;
    EXPECT_EQ(describe_methods(class_after(detect_class_methods, source, "A")), c.methods) << source;
  }
}

// ---------------------------------------------------------------------------
// The pass as a whole

TEST(Analyzer8, FillsBaseFieldsAndMethodsOfOneClass) {
  const TokenList tokens = tokenize(
      "const started = new Date();\n"
      "class Counter extends Base {\n"
      "  static instances = 0;\n"
      "  #count = 0;\n"
      "  label = 'c';\n"
      "  constructor(start) { super(); this.#count = start; }\n"
      "  get value() { return this.#count; }\n"
      "  static async create(n = 1) { return true; }\n"
      "  #bump(step) { if (step) return 1; return 'none'; }\n"
      "}\n");
  AnalysisResult result;
  result.vars.push_back(var_record("started"));
  result.classes.push_back(class_record("Counter", {"label", "#count"}, {TYPE_STRING, TYPE_NUMBER}));
  analyzer8_run(result, tokens, index_file(tokens));

  EXPECT_EQ(result.vars[0].type.kind, TYPE_NAMED);
  EXPECT_EQ(result.vars[0].type.type_name, "Date");
  const ClassInfo& cls = result.classes[0];
  EXPECT_EQ(cls.base_name.value_or(""), "Base");
  EXPECT_EQ(describe_fields(cls, FlagArrays::kAbsentOrInStep),
            (std::vector<std::string>{"label: string", "private count: number", "static instances: number"}));
  EXPECT_EQ(describe_methods(cls),
            (std::vector<std::string>{"value(): any", "static async create(n): boolean",
                                      "#bump(step): number | string"}));
}

TEST(Analyzer8, ClassTokenAmongTheLastTwoGetsNothing) {
  const TokenList tokens = tokenize("x; class A");
  AnalysisResult result;
  result.classes.push_back(class_record("A"));
  analyzer8_run(result, tokens, index_file(tokens));
  EXPECT_FALSE(result.classes[0].base_name.has_value());
  EXPECT_TRUE(result.classes[0].methods.empty());
  EXPECT_TRUE(result.classes[0].field_names.empty());
}

// Every rule reads a fixed run of tokens ahead; cutting the source anywhere
// must never make one read past the last token (the sanitizer build checks).
TEST(ClassPasses, EveryPrefixOfASourceIsSafe) {
  const std::string source =
      "const d = new Date(); let u = await new URL(s); const j = await JSON.parse(t);\n"
      "const R = await Promise.allSettled(ps); const E = { A: 1 };\n"
      "class A extends B { static #n = 1; static s = 'x'; #p = true; f = 2;\n"
      "  static async m(a = 1, { b }, c = 'z') { if (a) return 1; return 'r'; }\n"
      "  get g() { return true; } get(k) { return k; } constructor(q) { }\n"
      "  w() { return class B { x() { return 2; } }; } }\n"
      "a.m(1, d, 'q'); m(a = 2, b); x.w(); o.g(E, -1, u)";
  const TokenList all = tokenize(source);
  for (int cut = 0; cut <= all.count(); ++cut) {
    TokenList tokens;
    tokens.base = all.base;
    tokens.items.assign(all.items.begin(), all.items.begin() + cut);
    AnalysisResult result;
    for (const char* name : {"A", "B"}) result.classes.push_back(class_record(name, {"#p", "f"}, {3, 1}));
    for (const char* name : {"d", "u", "j", "R", "E", "a"}) result.vars.push_back(var_record(name));
    ObjectInfo enumeration;
    enumeration.name = "E";
    enumeration.fields->emplace_back("A", TYPE_NUMBER);
    result.objects.push_back(std::move(enumeration));
    analyzer8_run(result, tokens, index_file(tokens));
    analyzer9_run(result, tokens, index_file(tokens));
    analyzer10_run(result, tokens, index_file(tokens));
    for (const ClassInfo& cls : result.classes) {
      describe_fields(cls, FlagArrays::kAbsentOrInStep);  // checks that the flag arrays stay in step
      for (const MethodInfo& method : cls.methods) {
        EXPECT_EQ(method.param_types.size(), method.param_names.size()) << cut;
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Through the whole pipeline

constexpr const char* kDogSource =
    "const started = new Date();\n"
    "class Animal { }\n"
    "class Dog extends Animal {\n"
    "  static count = 0;\n"
    "  #secret = 'x';\n"
    "  constructor(name) { super(); this.name = name; }\n"
    "  async load(url) { if (!url) return false; return \"x\"; }\n"
    "  static create() { return new Dog('a'); }\n"
    "  #check() { return 1; }\n"
    "  handler = () => { return 2; };\n"
    "}\n";

TEST(Pass8Pipeline, FillsTheCapturedClasses) {
  AnalysisResult result = kvx_test::analyze_js(kDogSource, 8);
  const VarInfo* started = find_var(result, "started");
  ASSERT_NE(started, nullptr);
  EXPECT_EQ(started->type.kind, TYPE_NAMED);
  EXPECT_EQ(started->type.type_name, "Date");

  const ClassInfo* animal = find_class(result, "Animal");
  ASSERT_NE(animal, nullptr);
  EXPECT_FALSE(animal->base_name.has_value());
  EXPECT_TRUE(animal->methods.empty());

  const ClassInfo* dog = find_class(result, "Dog");
  ASSERT_NE(dog, nullptr);
  EXPECT_EQ(dog->base_name.value_or(""), "Animal");
  const std::vector<std::string> fields = describe_fields(*dog, FlagArrays::kAbsentOrInStep);
  EXPECT_NE(std::find(fields.begin(), fields.end(), "static count: number"), fields.end());
  EXPECT_NE(std::find(fields.begin(), fields.end(), "private secret: string"), fields.end());
  EXPECT_EQ(std::count_if(fields.begin(), fields.end(),
                          [](const std::string& f) { return f.find("secret") != std::string::npos; }),
            1);
  EXPECT_EQ(describe_methods(*dog),
            (std::vector<std::string>{"async load(url): boolean | string", "static create(): Dog", "#check(): number"}));
}

TEST(Pass8Pipeline, WritesTheClassBlock) {
  kvx_test::ScopedWorkDir dir;
  const std::string ts = kvx_test::transpile_js(kDogSource);
  EXPECT_THAT(ts, testing::HasSubstr("declare const started: Date;\n"));
  EXPECT_THAT(ts, testing::HasSubstr("\ndeclare class Animal {\n    constructor();\n}\n"));
  EXPECT_THAT(ts, testing::HasSubstr("\ndeclare class Dog extends Animal {\n"));
  EXPECT_THAT(ts, testing::HasSubstr("    static count: number;\n"));
  EXPECT_THAT(ts, testing::HasSubstr("    private secret: string;\n"));
  EXPECT_THAT(ts, testing::HasSubstr("    load(url: unknown): Promise<boolean | string>;\n"));
  EXPECT_THAT(ts, testing::HasSubstr("    static create(): Dog;\n"));
  EXPECT_THAT(ts, testing::HasSubstr("    #check(): number;\n"));
  EXPECT_THAT(ts, testing::Not(testing::HasSubstr("handler(")));
}

}  // namespace
