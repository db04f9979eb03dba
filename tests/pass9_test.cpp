#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "analysis/analyzeR8.h"
#include "analysis/analyzeR9.h"
#include "core/tokenizer.h"
#include "class_fixture.h"
#include "test_support.h"

namespace {

using class_test::class_after;
using class_test::class_record;
using class_test::describe_fields;
using class_test::FlagArrays;
using kvx_test::var_record;

// ---------------------------------------------------------------------------
// Modern built-ins

struct NamedTypeCase {
  const char* source;
  int kind;               // the kind of `v` afterwards (it starts as a string)
  const char* type_name;  // and its type text
};

// Runs `rule` on the case's source with one variable `v` of type string and
// element kind number; the rule must leave the element kind alone.
void check_retyping(class_test::ClassRule rule, const NamedTypeCase& c) {
  const TokenList tokens = tokenize(c.source);
  AnalysisResult result;
  result.vars.push_back(var_record("v", TYPE_STRING));
  result.vars[0].type.element_kind = TYPE_NUMBER;
  rule(result, tokens);
  EXPECT_EQ(result.vars[0].type.kind, c.kind) << c.source;
  EXPECT_EQ(result.vars[0].type.type_name, c.type_name) << c.source;
  EXPECT_EQ(result.vars[0].type.element_kind, TYPE_NUMBER) << c.source;
}

TEST(ModernBuiltins, TypesDeclarationsOfTheListedClasses) {
  const NamedTypeCase cases[] = {
      {"const v = new URL(s);", TYPE_NAMED, "URL"},
      {"let v = new URLSearchParams(q);", TYPE_NAMED, "URLSearchParams"},
      {"var v = new Error('x');", TYPE_NAMED, "Error"},
      {"const v = new TypeError('x');", TYPE_NAMED, "TypeError"},
      {"const v = new RangeError('x');", TYPE_NAMED, "RangeError"},
      {"const v = new AbortController();", TYPE_NAMED, "AbortController"},
      {"const v = new WeakMap();", TYPE_NAMED, "WeakMap"},
      {"const v = new WeakSet", TYPE_NAMED, "WeakSet"},
      {"const v = new Map();", TYPE_STRING, ""},
      {"const v = new Date();", TYPE_STRING, ""},  // pass 8's list, not this one
      {"const v = new SyntaxError('x');", TYPE_STRING, ""},
      {"const v = new url(s);", TYPE_STRING, ""},
      {"const v = await new URL(s);", TYPE_STRING, ""},
      {"v = new URL(s);", TYPE_STRING, ""},
  };
  for (const NamedTypeCase& c : cases) check_retyping(detect_modern_builtins, c);
}

// ---------------------------------------------------------------------------
// Getters

struct GetterCase {
  const char* body;  // inside `class Box { ... }`
  std::vector<std::string> fields;
};

TEST(ClassGetters, AddsAReadonlyFieldPerGetter) {
  const GetterCase cases[] = {
      {"get size() { return 3; }", {"readonly size: number"}},
      {"get label() { return this.name; }", {"readonly label: unknown"}},
      {"get flag() { if (x) return true; return 'no'; }", {"readonly flag: boolean | string"}},
      {"get empty() { }", {"readonly empty: unknown"}},
      {"get deep() { const f = () => { return 1; }; { return `t`; } }", {"readonly deep: number | string"}},
      {"static get version() { return \"1\"; }", {"static readonly version: string"}},
      {"get(key) { return 1; }", {}},
      {"get value(x) { return 1; }", {}},
      {"get 'quoted'() { return 1; }", {}},
      {"get #hidden() { return 1; }", {"readonly #hidden: number"}},
      {"get a() { return 1; } get b() { return 'b'; }", {"readonly a: number", "readonly b: string"}},
      // Only members count: a `get` inside a method body is not one.
      {"run() { get x() { return 1; } }", {}},
      {"run() { return obj.get(); }", {}},
  };
  for (const GetterCase& c : cases) {
    const std::string source = std::string("class Box { ") + c.body + " }";
    EXPECT_EQ(describe_fields(class_after(detect_class_getters, source, "Box"), FlagArrays::kInStep), c.fields)
        << source;
  }
}

TEST(ClassGetters, AppendsAfterTheExistingFieldsWithoutMerging) {
  const TokenList tokens =
      tokenize("class Box { size = 1; get size() { return 3; } } class Other { }");
  AnalysisResult result;
  result.classes.push_back(class_record("Box", {"size", "hidden"}, {TYPE_STRING, TYPE_STRING}));
  result.classes[0].field_private = {0, 1};
  result.classes[0].field_static = {1, 0};
  result.classes[0].field_readonly = {1, 1};  // stale: allocated afresh
  result.classes.push_back(class_record("Other"));
  result.classes[1].field_readonly = {1};
  detect_class_getters(result, tokens, index_file(tokens));
  EXPECT_EQ(describe_fields(result.classes[0], FlagArrays::kInStep),
            (std::vector<std::string>{"static size: string", "private hidden: string", "readonly size: number"}));
  EXPECT_TRUE(result.classes[1].field_readonly.empty());
}

TEST(ClassGetters, UnfinishedSourcesStopSafely) {
  const GetterCase cases[] = {
      {"get size() { return 3;", {"readonly size: number"}},
      {"get size() { return", {"readonly size: unknown"}},
      {"get size() {", {"readonly size: unknown"}},
      {"get size()", {}},
      {"get size(", {}},
      {"get", {}},
  };
  for (const GetterCase& c : cases) {
    const std::string source = std::string("class Box { ") + c.body;
    EXPECT_EQ(describe_fields(class_after(detect_class_getters, source, "Box"), FlagArrays::kInStep), c.fields)
        << source;
  }
}

// ---------------------------------------------------------------------------
// JSON and promises

TEST(JsonAndPromises, RetypesParsedAndSettledDeclarations) {
  const NamedTypeCase cases[] = {
      {"const v = JSON.parse(text);", TYPE_NONE, ""},
      {"const v = await JSON.parse(text);", TYPE_NONE, ""},
      {"let v = JSON.parse(", TYPE_NONE, ""},  // the `(` may be the last token
      {"x; let v = JSON.parse", TYPE_STRING, ""},
      {"const v = await Promise.allSettled(tasks);", TYPE_NAMED, "PromiseSettledResult<any>[]"},
      {"var v = Promise.allSettled(tasks);", TYPE_NAMED, "PromiseSettledResult<any>[]"},
      {"const v = JSON.stringify(x);", TYPE_STRING, ""},
      {"const v = Promise.all(tasks);", TYPE_STRING, ""},
      {"const v = json.parse(text);", TYPE_STRING, ""},
      {"const v = JSON.parse;", TYPE_STRING, ""},
      {"const v = window.JSON.parse(text);", TYPE_STRING, ""},
      {"v = JSON.parse(text);", TYPE_STRING, ""},
      {"const v = await await JSON.parse(text);", TYPE_STRING, ""},
      // With `await` the call needs one token more: `(` must still be a token.
      {"const v = await JSON.parse", TYPE_STRING, ""},
  };
  for (const NamedTypeCase& c : cases) check_retyping(detect_json_and_promises, c);
}

// ---------------------------------------------------------------------------
// The pass as a whole

TEST(Analyzer9, GettersJoinTheFieldsOfPass8) {
  const TokenList tokens = tokenize(
      "const link = new URL(base);\n"
      "const data = JSON.parse(raw);\n"
      "class Box extends Shape {\n"
      "  static count = 0;\n"
      "  #id = 'b';\n"
      "  get size() { return 3; }\n"
      "  static get version() { return '1'; }\n"
      "}\n");
  AnalysisResult result;
  result.vars.push_back(var_record("link"));
  result.vars.push_back(var_record("data", TYPE_OBJECT));
  result.classes.push_back(class_record("Box"));
  analyzer8_run(result, tokens, index_file(tokens));
  analyzer9_run(result, tokens, index_file(tokens));
  EXPECT_EQ(result.vars[0].type.kind, TYPE_NAMED);
  EXPECT_EQ(result.vars[0].type.type_name, "URL");
  EXPECT_EQ(result.vars[1].type.kind, TYPE_NONE);
  const ClassInfo& cls = result.classes[0];
  EXPECT_EQ(describe_fields(cls, FlagArrays::kInStep),
            (std::vector<std::string>{"static count: number", "private id: string", "readonly size: number",
                                      "static readonly version: string"}));
  // Pass 8 recorded the accessors as methods too; the emitter leaves them out.
  ASSERT_EQ(cls.methods.size(), 2u);
  EXPECT_EQ(cls.methods[0].name, "size");
  EXPECT_EQ(cls.methods[1].name, "version");
}

// ---------------------------------------------------------------------------
// Through the whole pipeline

TEST(Pass9Pipeline, WritesBuiltinsGettersAndSettledResults) {
  kvx_test::ScopedWorkDir dir;
  const std::string ts = kvx_test::transpile_js(
      "const link = new URL('http://x');\n"
      "const failure = new TypeError('bad');\n"
      "const ctrl = new AbortController();\n"
      "const cfg = JSON.parse('{}');\n"
      "const text = JSON.stringify(cfg);\n"
      "const results = await Promise.allSettled([]);\n"
      "class Box {\n"
      "  constructor(w) { this.w = w; }\n"
      "  get size() { return 3; }\n"
      "  get flag() { if (this.w) return true; return 'no'; }\n"
      "  static get version() { return '1'; }\n"
      "  area() { return 1; }\n"
      "}\n");
  EXPECT_THAT(ts, testing::HasSubstr("declare const link: URL;\n"));
  EXPECT_THAT(ts, testing::HasSubstr("declare const failure: TypeError;\n"));
  EXPECT_THAT(ts, testing::HasSubstr("declare const ctrl: AbortController;\n"));
  EXPECT_THAT(ts, testing::HasSubstr("declare const cfg: unknown;\n"));
  EXPECT_THAT(ts, testing::HasSubstr("declare const results: PromiseSettledResult<any>[];\n"));
  EXPECT_THAT(ts, testing::HasSubstr("    readonly size: number;\n"));
  EXPECT_THAT(ts, testing::HasSubstr("    readonly flag: boolean | string;\n"));
  EXPECT_THAT(ts, testing::HasSubstr("    static readonly version: string;\n"));
  EXPECT_THAT(ts, testing::HasSubstr("    area(): number;\n"));
  // The accessors are not written a second time as methods.
  EXPECT_THAT(ts, testing::Not(testing::HasSubstr("size()")));
  EXPECT_THAT(ts, testing::Not(testing::HasSubstr("flag()")));
  EXPECT_THAT(ts, testing::Not(testing::HasSubstr("version()")));
}

TEST(Pass9Pipeline, JsonParseDropsWhatEarlierPassesInferred) {
  AnalysisResult result = kvx_test::analyze_js(
      "let data = 'seed';\n"
      "let data2 = await JSON.parse(data);\n"
      "const list = JSON.parse(raw);\n",
      9);
  const VarInfo* data2 = find_var(result, "data2");
  ASSERT_NE(data2, nullptr);
  EXPECT_EQ(data2->type.kind, TYPE_NONE);
  const VarInfo* list = find_var(result, "list");
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->type.kind, TYPE_NONE);
}

}  // namespace
