// Pass 4: arrays of task objects, for-of propagation, readline lines and
// functions that return an object variable.

#include <gtest/gtest.h>

#include <vector>

#include "analysis/analyzeR4.h"
#include "pass4_fixture.h"

namespace {

using namespace pass4_test;

void expect_task_shape(const ShapeInfo& shape) {
  EXPECT_EQ(shape.name, "tasks");
  ASSERT_EQ(shape.fields.size(), 2u);
  EXPECT_EQ(shape.fields[0].name, "id");
  EXPECT_EQ(shape.fields[0].kind, TYPE_STRING);
  EXPECT_EQ(shape.fields[1].name, "url");
  EXPECT_EQ(shape.fields[1].kind, TYPE_STRING);
}

const std::string kPush = green("[ANALYZER4] ARRAY PUSH : tasks");
const std::string kObject = green("[ANALYZER4] TASK OBJECT DETECTE");
const std::string kRegistered = green("[ANALYZER4] ARRAY OBJECT ENREGISTRE");
std::string field(const std::string& name) { return cyan("[ANALYZER4] FIELD : " + name); }

struct PushCase {
  const char* label;
  const char* source;
  bool registered;
  std::string trace;
};

TEST(Pass4ArrayObjectPush, RegistersTheFixedTaskShapeOnce) {
  const PushCase cases[] = {
      {"keys reported, fixed shape kept", "tasks . push ( { id : 1 , url : u , retries : 0 } ) ;", true,
       kPush + kObject + kRegistered + field("id") + field("url") + field("retries")},
      {"second push registers nothing", "tasks . push ( { a : 1 } ) ;\ntasks . push ( { b : 2 } ) ;", true,
       kPush + kObject + kRegistered + field("a") + kPush + kObject + field("b")},
      {"another array name", "jobs . push ( { id : 1 } ) ;", false, ""},
      {"the first block after the call counts", "tasks . push ( t ) ; if ( ok ) { x : 1 }", true,
       kPush + kObject + kRegistered + field("x")},
      {"nested literal", "tasks . push ( { a : { b : 1 } , c : 2 } ) ;", true,
       kPush + kObject + kRegistered + field("a") + kObject + field("b") + field("c")},
      {"keys before the first { are passed over", "tasks . push ( k : v , { z : 1 } ) ;", true,
       kPush + kObject + kRegistered + field("z")},
      {"no block after the call", "tasks . push ( t ) ;", false, kPush},
      {"a string key is no field", "tasks . push ( { 'id' : 1 } ) ;", true, kPush + kObject + kRegistered},
      {"five tokens", "tasks . push ( {", true, kPush + kObject + kRegistered},
      {"four tokens", "tasks . push {", false, ""},
      {"unclosed literal ending on a key", "tasks . push ( { a", true, kPush + kObject + kRegistered},
  };
  for (const PushCase& c : cases) {
    SCOPED_TRACE(c.label);
    AnalysisResult result;
    const TokenList tokens = toks(c.source);
    const std::string out = traced(true, [&](const Pass4Trace& trace) { detect_array_object_push(result, tokens, trace); });
    EXPECT_EQ(out, c.trace);
    ASSERT_EQ(result.array_objects.size(), c.registered ? 1u : 0u);
    if (c.registered) expect_task_shape(result.array_objects[0]);
  }
}

TEST(Pass4ArrayObjectPush, AnExistingShapeRecordBlocksRegistration) {
  AnalysisResult result;
  result.array_objects.push_back(ShapeInfo{"other", {}});
  const TokenList tokens = toks("tasks . push ( { id : 1 } ) ;");
  const std::string out = traced(true, [&](const Pass4Trace& trace) { detect_array_object_push(result, tokens, trace); });
  EXPECT_EQ(out, kPush + kObject + field("id"));
  ASSERT_EQ(result.array_objects.size(), 1u);
  EXPECT_EQ(result.array_objects[0].name, "other");
}

struct ForCase {
  const char* label;
  const char* source;
  std::vector<const char*> appended;  // names of the object records appended
};

TEST(Pass4ForOfArrayObjects, LoopVariablesTakeTheTaskShape) {
  const ForCase cases[] = {
      {"for-of", "for ( const t of tasks ) { }", {"t"}},
      {"for-in: the iterated expression is not examined", "for ( const k in obj ) { }", {"k"}},
      {"counting loop", "for ( const i = 0 ; ; ) { }", {"i"}},
      {"each loop appends, same name too", "for ( const t of a ) { }\nfor ( const t of b ) { }", {"t", "t"}},
      {"let is not const", "for ( let t of tasks ) { }", {}},
      {"seven tokens", "for ( const t of tasks )", {"t"}},
      {"six tokens", "for ( const t of tasks", {}},
  };
  for (const ForCase& c : cases) {
    SCOPED_TRACE(c.label);
    AnalysisResult result;
    add_object(result, "t", {{"existing", TYPE_NUMBER}});
    result.array_objects.push_back(ShapeInfo{"other", {{"x", TYPE_NUMBER}}});
    result.array_objects.push_back(ShapeInfo{"tasks", {{"id", TYPE_STRING}, {"url", TYPE_STRING}}});
    result.array_objects.push_back(ShapeInfo{"tasks", {{"late", TYPE_BOOLEAN}}});
    const TokenList tokens = toks(c.source);
    const std::string out = traced(true, [&](const Pass4Trace& trace) { detect_for_of_array_objects(result, tokens, trace); });
    ASSERT_EQ(result.objects.size(), 1 + c.appended.size());
    std::string trace;
    for (size_t n = 0; n < c.appended.size(); ++n) {
      const ObjectInfo& object = result.objects[n + 1];
      EXPECT_EQ(object.name, c.appended[n]);
      EXPECT_EQ(object.readonly, 0);
      ASSERT_EQ(object.field_count(), 2) << "the first shape named tasks";
      EXPECT_EQ((*object.fields)[0].name, "id");
      EXPECT_EQ((*object.fields)[0].kind, TYPE_STRING);
      EXPECT_TRUE((*object.fields)[0].nested_fields.empty());
      EXPECT_EQ((*object.fields)[1].name, "url");
      EXPECT_EQ((*object.fields)[1].kind, TYPE_STRING);
      trace += green(std::string("[ANALYZER4] FOR-OF DETECTE : ") + c.appended[n]) +
               green(std::string("[ANALYZER4] OBJECT PROPAGATE : ") + c.appended[n]);
    }
    EXPECT_EQ(out, trace);
    EXPECT_EQ(result.objects[0].field_count(), 1) << "the existing record stays";
  }
}

TEST(Pass4ForOfArrayObjects, NothingWithoutATaskShape) {
  AnalysisResult result;
  result.array_objects.push_back(ShapeInfo{"jobs", {{"id", TYPE_STRING}}});
  const TokenList tokens = toks("for ( const t of tasks ) { }");
  EXPECT_EQ(traced(true, [&](const Pass4Trace& trace) { detect_for_of_array_objects(result, tokens, trace); }), "");
  EXPECT_TRUE(result.objects.empty());
}

TEST(Pass4ForOfArrayObjects, FollowsAPushOfTheSameFile) {
  const TokenList tokens = toks("tasks . push ( { id : 1 } ) ;\nfor ( const t of tasks ) { }");
  AnalysisResult result;
  analyzer4_run(result, tokens);
  ASSERT_EQ(result.array_objects.size(), 1u);
  ASSERT_NE(find_object(result, "t"), nullptr);
  EXPECT_EQ(find_object(result, "t")->field_count(), 2);
}

struct LineCase {
  const char* label;
  std::string source;
  bool typed;
};

// `for await (` then fillers so that "line" stands `distance` tokens after `for`.
std::string line_at(int distance) {
  std::string source = "for await (";
  for (int n = 3; n < distance; ++n) source += " a";
  return source + " line ) ;";
}

TEST(Pass4ReadlineLines, ForAwaitOverLineMakesEveryLineAString) {
  const LineCase cases[] = {
      {"for await over line", "for await ( const line of rl ) { }", true},
      {"another loop variable", "for await ( const row of rl ) { }", false},
      {"without await", "for ( const line of rl ) { } ; ;", false},
      {"line nineteen tokens after for", line_at(19), true},
      {"line twenty tokens after for", line_at(20), false},
      {"line as a string", "for await ( const 'line' of rl ) { }", false},
      {"nine tokens", "for await ( const line of rl ) {", true},
      {"eight tokens", "for await ( const line of rl )", false},
  };
  for (const LineCase& c : cases) {
    SCOPED_TRACE(c.label);
    AnalysisResult result;
    add_var(result, "line", TYPE_NUMBER);
    add_var(result, "lines", TYPE_NUMBER);
    add_var(result, "line", TYPE_NONE);
    const TokenList tokens = toks(c.source);
    const std::string out = traced(true, [&](const Pass4Trace& trace) { detect_readline_lines(result, tokens, trace); });
    const int expected = c.typed ? TYPE_STRING : -1;
    EXPECT_EQ(result.vars[0].type.kind, c.typed ? expected : TYPE_NUMBER);
    EXPECT_EQ(result.vars[1].type.kind, TYPE_NUMBER);
    EXPECT_EQ(result.vars[2].type.kind, c.typed ? expected : TYPE_NONE);
    const std::string line_trace = green("[ANALYZER4] LINE -> STRING");
    EXPECT_EQ(out, c.typed ? green("[ANALYZER4] READLINE LINE DETECTE : line") + line_trace + line_trace : "");
  }
}

TEST(Pass4ReadlineLines, FoundWithoutVariablesStillReportsTheLoop) {
  AnalysisResult result;
  const TokenList tokens = toks("for await ( const line of rl ) { line ; }");
  EXPECT_EQ(traced(true, [&](const Pass4Trace& trace) { detect_readline_lines(result, tokens, trace); }),
            green("[ANALYZER4] READLINE LINE DETECTE : line"));
}

// ---------------------------------------------------------------------------

struct ReturnCase {
  const char* label;
  const char* body;
  int return_kind;    // before the detector
  bool typed;         // return type becomes the fields of cfg: a (1), b (2), n (6)
};

TEST(Pass4ReturnObjectVariable, TheLastReturnedObjectVariableGivesTheReturnType) {
  const ReturnCase cases[] = {
      {"return cfg", "{ const cfg = { a: 1, b: 'x' }; return cfg; }", TYPE_NONE, true},
      {"void return type", "{ return cfg; }", TYPE_VOID, true},
      {"extra spaces", "{ return  cfg ; }", TYPE_NONE, true},
      {"tab", "{ return \t cfg; }", TYPE_NONE, true},
      {"no space after return", "{ return(cfg); }", TYPE_NONE, false},
      {"tab right after return", "{ return\tcfg; }", TYPE_NONE, false},
      {"a literal is returned last", "{ if (x) return cfg; return 0; }", TYPE_NONE, false},
      {"an earlier return of a literal", "{ if (x) return 0; return cfg; }", TYPE_NONE, true},
      {"a name with no object", "{ return other; }", TYPE_NONE, false},
      {"a name without fields", "{ return empty; }", TYPE_NONE, false},
      {"return type already set", "{ return cfg; }", TYPE_NUMBER, false},
      {"the word inside another", "{ x.myreturn cfg }", TYPE_NONE, true},
      {"nothing after return", "{ return ", TYPE_NONE, false},
      {"a name cut to 63 characters",
       "{ return abcdefghijklmnopqrstuvwxyzabcdefghijklmnopqrstuvwxyzabcdefghijkl_tail; }", TYPE_NONE, true},
  };
  for (const ReturnCase& c : cases) {
    SCOPED_TRACE(c.label);
    AnalysisResult result;
    add_object(result, "empty", {});
    add_object(result, "cfg", {});  // same name without fields: passed over
    ObjectInfo& cfg = add_object(result, "cfg", {{"a", TYPE_NUMBER}, {"b", TYPE_STRING}});
    ObjectField nested("n", TYPE_OBJECT);
    nested.nested_fields.emplace_back("deep", TYPE_NUMBER);
    cfg.fields->push_back(std::move(nested));
    // 63 characters exactly: what a longer returned name is cut to.
    add_object(result, "abcdefghijklmnopqrstuvwxyzabcdefghijklmnopqrstuvwxyzabcdefghijk",
               {{"a", TYPE_NUMBER}, {"b", TYPE_STRING}, {"n", TYPE_OBJECT}});
    FuncInfo& func = add_func(result, "build");
    func.body = c.body;
    func.return_type.kind = static_cast<TypeKind>(c.return_kind);
    func.return_type.element_kind = TYPE_BOOLEAN;
    const std::string out = traced(true, [&](const Pass4Trace& trace) { detect_return_object_variable(result, trace); });
    const FuncInfo& after = result.funcs[0];
    if (!c.typed) {
      EXPECT_EQ(after.return_type.kind, c.return_kind);
      EXPECT_TRUE(after.return_type.fields.empty());
      EXPECT_EQ(out, "");
      continue;
    }
    EXPECT_EQ(after.return_type.kind, TYPE_OBJECT);
    EXPECT_EQ(after.return_type.element_kind, TYPE_BOOLEAN) << "other fields stay";
    ASSERT_EQ(after.return_type.fields.size(), 3u);
    EXPECT_EQ(after.return_type.fields[0].name, "a");
    EXPECT_EQ(after.return_type.fields[0].kind, TYPE_NUMBER);
    EXPECT_EQ(after.return_type.fields[1].name, "b");
    EXPECT_EQ(after.return_type.fields[1].kind, TYPE_STRING);
    EXPECT_EQ(after.return_type.fields[2].name, "n");
    EXPECT_EQ(after.return_type.fields[2].kind, TYPE_OBJECT);
    const std::string returned = std::string(c.label).starts_with("a name cut")
                                     ? "abcdefghijklmnopqrstuvwxyzabcdefghijklmnopqrstuvwxyzabcdefghijk"
                                     : "cfg";
    EXPECT_EQ(out, green("[ANALYZER4] RETURN OBJECT DETECTE : build -> " + returned + " (3 champs)"));
  }
}

TEST(Pass4ReturnObjectVariable, FunctionsWithoutABodyAreLeftAlone) {
  AnalysisResult result;
  add_object(result, "cfg", {{"a", TYPE_NUMBER}});
  add_func(result, "declared");
  FuncInfo& flow_off = add_func(result, "flow_off");
  flow_off.body = "{ return cfg; }";
  flow_off.flow_enabled = 0;
  detect_return_object_variable(result);
  EXPECT_EQ(result.funcs[0].return_type.kind, TYPE_NONE);
  EXPECT_EQ(result.funcs[1].return_type.kind, TYPE_OBJECT) << "flow_enabled is not consulted";
}

}  // namespace
