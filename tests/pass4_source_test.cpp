// Passes 4 and 5 on JavaScript as written, through the real tokenizer: the
// detectors must meet the token runs that real sources produce.

#include <gtest/gtest.h>

#include <string>

#include "analysis/analyzeR4.h"
#include "analysis/analyzeR5.h"
#include "pass4_fixture.h"

namespace {

using namespace pass4_test;

// A variable record, untyped, for every `const|let|var NAME` of the tokens:
// what the detectors expect the declaration scan to have left.
AnalysisResult declared_vars(const TokenList& tokens) {
  AnalysisResult result;
  for (int i = 0; i + 1 < tokens.count(); ++i) {
    const int kind = tokens.items[i].kind;
    if ((kind == TK_LET || kind == TK_CONST || kind == TK_VAR) && tokens.items[i + 1].kind == TK_IDENTIFIER) {
      add_var(result, std::string(tokens.items[i + 1].text));
    }
  }
  return result;
}

struct SourceCase {
  const char* source;
  const char* name;
  int expected;
};

TEST(Pass4Source, VariableKindsAfterPasses4And5) {
  const SourceCase cases[] = {
      {"const res = await fetch(url);", "res", TYPE_RESPONSE},
      {"const p = fetch(url);", "p", TYPE_PROMISE},
      {"const s = fs.createReadStream(f);", "s", TYPE_READSTREAM},
      {"const s = createReadStream(f);", "s", TYPE_READSTREAM},
      {"const rl = readline.createInterface({ input: process.stdin });", "rl", TYPE_NAMED},
      {"const seen = new Set();", "seen", TYPE_SET},
      {"const cache = new Map();", "cache", TYPE_MAP},
      {"const all = await Promise.all(jobs);", "all", TYPE_ARRAY},
      {"let first = await Promise.all(a); first = await Promise.race(b);", "first", TYPE_NONE},
      {"const job = (async () => { await tick(); })();", "job", TYPE_PROMISE},
      {"const job = (async () => { await tick(); });", "job", TYPE_NONE},
      {"const port = cfg?.port ?? 8080;", "port", TYPE_UNKNOWN},
      {"const name = input ?? 'anon';", "name", TYPE_STRING},
      {"const n = input ?? count;", "n", TYPE_NONE},
      {"const v = a\n  ?? 1;", "v", TYPE_NONE},
      {"const v = a ??\n  1;", "v", TYPE_NUMBER},
      {"let label = 5; label.trim();", "label", TYPE_STRING},
      {"let label = 5; label.slice(1);", "label", TYPE_NONE},
      {"const body = await fetch(u); const text = body.trim();", "body", TYPE_STRING},
      {"let line = 0; for await (const line of rl) { console.log(line); }", "line", TYPE_STRING},
      {"let line = 0; for await (const row of rl) {}", "line", TYPE_NONE},
      {"for await (const row of rl) {} let line = 0;", "line", TYPE_STRING},  // within 20 tokens
  };
  for (const SourceCase& c : cases) {
    SCOPED_TRACE(c.source);
    const TokenList tokens = tokenize(c.source);
    AnalysisResult result = declared_vars(tokens);
    ASSERT_NE(find_var(result, c.name), nullptr);
    analyzer4_run(result, tokens);
    analyzer5_run(result, tokens);
    EXPECT_EQ(find_var(result, c.name)->type.kind, c.expected);
  }
}

TEST(Pass4Source, MapAndSetContents) {
  struct Case {
    const char* source;
    int key, value, element;
  } cases[] = {
      {"const m = new Map(); m.set('a', 1);", TYPE_STRING, TYPE_NUMBER, TYPE_NONE},
      {"const m = new Map(); m.set('a');", TYPE_STRING, TYPE_NONE, TYPE_NONE},
      {"const m = new Map(); let k; let v; m.set(k, v);", TYPE_NONE, TYPE_NONE, TYPE_NONE},
      {"const m = new Map(); m.set(key.id, 1);", TYPE_NONE, TYPE_NONE, TYPE_NONE},
      {"const m = new Set(); m.add(42);", TYPE_NONE, TYPE_NONE, TYPE_NUMBER},
      {"const m = new Set(); m.add(42); m.add('x');", TYPE_NONE, TYPE_NONE, TYPE_STRING},
      {"const m = []; m.add(42); m.set(1, 2);", TYPE_NONE, TYPE_NONE, TYPE_NONE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    const TokenList tokens = tokenize(c.source);
    AnalysisResult result = declared_vars(tokens);
    analyzer4_run(result, tokens);
    analyzer5_run(result, tokens);
    const TypeInfo& type = find_var(result, "m")->type;
    EXPECT_EQ(type.key_kind, c.key);
    EXPECT_EQ(type.value_kind, c.value);
    EXPECT_EQ(type.element_kind, c.element);
  }
}

TEST(Pass4Source, ArrowsParametersAndArrays) {
  const TokenList tokens = tokenize(
      "const results = [];\n"
      "const p = fetch(u);\n"
      "results.push(p);\n"
      "const remove = (k) => cache.delete(k);\n"
      "const later = (k) =>\n  cache.has(k);\n"
      "function f(name, id, n, dir) {\n"
      "  fs.mkdir(dir, cb);\n"
      "  for (let i = 0; i < n; i++) {}\n"
      "  log(`${width}`);\n"
      "  return name.trim();\n"
      "}\n");
  AnalysisResult result = declared_vars(tokens);
  add_array(result, "results");
  add_arrow(result, "remove");
  add_arrow(result, "later");
  add_func(result, "f", {"name", "id", "n", "dir"});
  traced(false, [&](const Pass4Trace& trace) { analyzer4_run(result, tokens, trace); });
  EXPECT_EQ(find_array(result, "results")->element_kind, TYPE_PROMISE);
  EXPECT_EQ(find_arrow(result, "remove")->return_type.kind, TYPE_BOOLEAN);
  EXPECT_EQ(find_arrow(result, "later")->return_type.kind, TYPE_NONE);
  const FuncInfo& f = result.funcs[0];
  EXPECT_EQ(f.param_types[0].kind, TYPE_STRING);
  EXPECT_EQ(f.param_types[1].kind, TYPE_STRING) << "the letters id inside ${width}";
  EXPECT_EQ(f.param_types[2].kind, TYPE_NUMBER);
  EXPECT_EQ(f.param_types[3].kind, TYPE_STRING);
}

TEST(Pass4Source, TaskObjectsFlowIntoForOfLoops) {
  const TokenList tokens = tokenize(
      "const tasks = [];\n"
      "tasks.push({ id: 1, url: u, retries: 0 });\n"
      "for (const t of tasks) { run(t.url); }\n");
  AnalysisResult result = declared_vars(tokens);
  const std::string out = traced(true, [&](const Pass4Trace& trace) { analyzer4_run(result, tokens, trace); });
  ASSERT_EQ(result.array_objects.size(), 1u);
  ASSERT_NE(find_object(result, "t"), nullptr);
  EXPECT_EQ(find_object(result, "t")->field_count(), 2);
  EXPECT_NE(out.find(cyan("[ANALYZER4] FIELD : retries")), std::string::npos);
}

}  // namespace
