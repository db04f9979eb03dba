// Pass 5: key, value and element kinds of Maps and Sets from their .set and
// .add calls.

#include <gtest/gtest.h>

#include "analysis/analyzeR5.h"
#include "pass4_fixture.h"
#include "reference/literal_twins.h"

namespace {

using namespace pass4_test;

TEST(Pass5ResolveTokenType, LiteralsVariablesThenArrows) {
  AnalysisResult result;
  add_var(result, "untyped", TYPE_NONE);
  add_var(result, "count", TYPE_NUMBER);
  add_var(result, "count", TYPE_STRING);
  add_arrow(result, "untyped", TYPE_BOOLEAN);  // shadowed by the variable, even of kind 0
  add_arrow(result, "check", TYPE_BOOLEAN);
  add_arrow(result, "check", TYPE_STRING);
  add_arrow(result, "check2", TYPE_NONE);
  add_var(result, "let", TYPE_NUMBER);  // only identifiers are looked up by name
  add_var(result, "(", TYPE_NUMBER);
  struct Case {
    const char* source;
    int expected;
  } cases[] = {
      {"42", TYPE_NUMBER}, {"'s'", TYPE_STRING}, {"true", TYPE_BOOLEAN}, {"false", TYPE_BOOLEAN},
      {"(", TYPE_NONE},    {"count", TYPE_NUMBER}, {"untyped", TYPE_NONE}, {"check", TYPE_BOOLEAN},
      {"check2", TYPE_NONE}, {"missing", TYPE_NONE}, {"let", TYPE_NONE},
  };
  for (const auto& c : cases) {
    const TokenList tokens = toks(c.source);
    ASSERT_EQ(tokens.count(), 1) << c.source;
    EXPECT_EQ(reference::resolve_token_type(result, &tokens.items[0]), c.expected) << c.source;
  }
  EXPECT_EQ(reference::resolve_token_type(result, nullptr), TYPE_NONE);
}

struct CollectionCase {
  const char* label;
  const char* source;
  int kind;  // kind of the variable c before the pass
  int key, value, element;
};

TEST(Pass5CollectionsUsage, SetAndAddCallsFillTheCollectionKinds) {
  // key, value and element kinds all start as a named type so that "unchanged" shows.
  constexpr int K = TYPE_NAMED;
  const CollectionCase cases[] = {
      {"map set", "c . set ( 'a' , 1 ) ;", TYPE_MAP, TYPE_STRING, TYPE_NUMBER, K},
      {"set add", "c . add ( 42 ) ;", TYPE_SET, K, K, TYPE_NUMBER},
      {"the last add decides", "c . add ( 42 ) ; c . add ( 'x' ) ;", TYPE_SET, K, K, TYPE_STRING},
      {"an unresolvable add keeps the earlier kind", "c . add ( 42 ) ; c . add ( u ) ;", TYPE_SET, K, K,
       TYPE_NUMBER},
      {"untyped variables change nothing", "c . set ( u , u ) ;", TYPE_MAP, K, K, K},
      {"an arrow's return kind", "c . set ( count , check ) ;", TYPE_MAP, TYPE_NUMBER, TYPE_BOOLEAN, K},
      {"a single argument", "c . set ( 'a' ) ;", TYPE_MAP, TYPE_STRING, K, K},
      {"arguments are single tokens", "c . set ( key . id , 1 ) ;", TYPE_MAP, TYPE_STRING, K, K},
      {"set on a Set", "c . set ( 'a' , 1 ) ;", TYPE_SET, K, K, K},
      {"add on a Map", "c . add ( 1 ) ;", TYPE_MAP, K, K, K},
      {"set on an untyped variable", "c . set ( 'a' , 1 ) ;", TYPE_NONE, K, K, K},
      {"six tokens", "c . set ( 'a' ,", TYPE_MAP, TYPE_STRING, K, K},
      {"seven tokens", "c . set ( 'a' , 1", TYPE_MAP, TYPE_STRING, TYPE_NUMBER, K},
      {"five tokens", "c . set ( 'a'", TYPE_MAP, K, K, K},
      {"no parenthesis", "c . set = 'a' , 1 ;", TYPE_MAP, K, K, K},
      {"method as a string", "c . 'set' ( 'a' , 1 ) ;", TYPE_MAP, K, K, K},
  };
  for (const CollectionCase& c : cases) {
    SCOPED_TRACE(c.label);
    AnalysisResult result;
    VarInfo& var = add_var(result, "c", c.kind);
    var.type.key_kind = K;
    var.type.value_kind = K;
    var.type.element_kind = K;
    add_var(result, "c", TYPE_MAP);  // only the first variable of the name is looked at
    add_var(result, "u", TYPE_NONE);
    add_var(result, "count", TYPE_NUMBER);
    add_var(result, "key", TYPE_STRING);
    add_arrow(result, "check", TYPE_BOOLEAN);
    const TokenList tokens = toks(c.source);
    const std::string out = stdout_of([&] { analyzer5_run(result, tokens); });
    EXPECT_EQ(out, "") << "pass 5 prints nothing";
    EXPECT_EQ(result.vars[0].type.kind, c.kind);
    EXPECT_EQ(result.vars[0].type.key_kind, c.key);
    EXPECT_EQ(result.vars[0].type.value_kind, c.value);
    EXPECT_EQ(result.vars[0].type.element_kind, c.element);
    EXPECT_EQ(result.vars[1].type.key_kind, TYPE_NONE);
    EXPECT_EQ(result.vars[1].type.value_kind, TYPE_NONE);
  }
}

}  // namespace
