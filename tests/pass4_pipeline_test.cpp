// Passes 4 and 5 at their place in the pipeline: after the declaration scan,
// the structure capture and pass 3, on JavaScript as written.

#include <gtest/gtest.h>

#include <string>

#include "analysis/analyzer.h"
#include "pipeline/run.h"
#include "test_support.h"

namespace {

using kvx_test::analyze_js;

struct VarCase {
  const char* source;
  const char* name;
  int kind;
  int element_kind;
  int key_kind;
  int value_kind;
};

TEST(Pass4Pipeline, VariableTypesAfterPass5) {
  const VarCase cases[] = {
      {"async function main(url) { const res = await fetch(url); }", "res", TYPE_RESPONSE, 0, 0, 0},
      {"const s = fs.createReadStream('in.txt');", "s", TYPE_READSTREAM, 0, 0, 0},
      {"const seen = new Set();\nseen.add(42);", "seen", TYPE_SET, TYPE_NUMBER, 0, 0},
      {"const m = new Map();\nm.set('a', 1);", "m", TYPE_MAP, 0, TYPE_STRING, TYPE_NUMBER},
      {"let label = 5;\nlabel.trim();", "label", TYPE_STRING, 0, 0, 0},
      // `input ?? 'anon'` right after `=` is typed by pass 3 already; behind a
      // property the fallback is left to pass 4.
      {"const name = opts.input ?? 'anon';", "name", TYPE_STRING, 0, 0, 0},
      {"const job = (async () => { await tick(); })();", "job", TYPE_PROMISE, 0, 0, 0},
      {"let line = '';\nfor await (const line of rl) {}", "line", TYPE_STRING, 0, 0, 0},
  };
  for (const VarCase& c : cases) {
    SCOPED_TRACE(c.source);
    AnalysisResult result = analyze_js(c.source, 5);
    const VarInfo* var = find_var(result, c.name);
    ASSERT_NE(var, nullptr);
    EXPECT_EQ(var->type.kind, c.kind);
    EXPECT_EQ(var->type.element_kind, c.element_kind);
    EXPECT_EQ(var->type.key_kind, c.key_kind);
    EXPECT_EQ(var->type.value_kind, c.value_kind);
  }
}

TEST(Pass4Pipeline, ArraysArrowsParametersAndReturnedObjects) {
  AnalysisResult result = analyze_js(
      "const results = [];\n"
      "const p = fetch(u);\n"
      "results.push(p);\n"
      "const remove = (k) => cache.delete(k);\n"
      "function f(name, n) { for (let i = 0; i < n; i++) {} return name.trim(); }\n"
      "function build() { const cfg = { a: 1, b: 'x' }; return cfg; }\n",
      5);
  ASSERT_NE(find_array(result, "results"), nullptr);
  EXPECT_EQ(find_array(result, "results")->element_kind, TYPE_PROMISE);
  ASSERT_NE(find_arrow(result, "remove"), nullptr);
  EXPECT_EQ(find_arrow(result, "remove")->return_type.kind, TYPE_BOOLEAN);

  const FuncInfo* f = find_func(result, "f");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(f->param_types.size(), 2u);
  EXPECT_EQ(f->param_types[0].kind, TYPE_STRING);
  EXPECT_EQ(f->param_types[1].kind, TYPE_NUMBER);

  const FuncInfo* build = find_func(result, "build");
  ASSERT_NE(build, nullptr);
  EXPECT_EQ(build->return_type.kind, TYPE_OBJECT);
  ASSERT_EQ(build->return_type.fields.size(), 2u);
  EXPECT_EQ(build->return_type.fields[0].name, "a");
  EXPECT_EQ(build->return_type.fields[0].kind, TYPE_NUMBER);
  EXPECT_EQ(build->return_type.fields[1].name, "b");
  EXPECT_EQ(build->return_type.fields[1].kind, TYPE_STRING);
}

TEST(Pass4Pipeline, TaskObjectsReachTheLoopVariable) {
  AnalysisResult result = analyze_js(
      "const tasks = [];\n"
      "tasks.push({ id: 1, url: u });\n"
      "for (const t of tasks) { get(t.url); }\n",
      5);
  ASSERT_EQ(result.array_objects.size(), 1u);
  const ObjectInfo* t = find_object(result, "t");
  ASSERT_NE(t, nullptr);
  ASSERT_EQ(t->field_count(), 2);
  EXPECT_EQ((*t->fields)[0].name, "id");
  EXPECT_EQ((*t->fields)[1].name, "url");
}

TEST(Pass4Pipeline, TheRunPrintsTheTraceOnlyUnderTheVerboseSwitch) {
  kvx_test::ScopedWorkDir dir;
  const std::int32_t saved = g_kvx_verbose;
  std::string quiet;
  std::string loud;
  g_kvx_verbose = 0;
  kvx_test::transpile_js("const res = await fetch(url);\n", &quiet);
  g_kvx_verbose = 1;
  kvx_test::transpile_js("const res = await fetch(url);\n", &loud);
  g_kvx_verbose = saved;
  EXPECT_EQ(quiet.find("[ANALYZER4]"), std::string::npos) << quiet;
  EXPECT_NE(loud.find("\x1b[0;32m[ANALYZER4] FETCH DETECTE : res\n\x1b[0m"), std::string::npos) << loud;
}

}  // namespace
