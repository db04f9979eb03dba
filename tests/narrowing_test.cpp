#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "generator/generator.h"
#include "render_fixture.h"
#include "test_support.h"

namespace {

using kvx_test::ts;
using render_test::func;
using render_test::kind;
using render_test::Param;

const TypeInfo kNumberOrString = ts("number | string");

TEST(ApplyNarrowing, GuardsComparisonsOfUnionParametersHoldingNumber) {
  struct Case {
    const char* why;
    std::vector<Param> params;
    std::string body;
    std::string expected;
  } cases[] = {
      {"> keeps its blank", {{"n", kNumberOrString}},
       "if (n > 0) { return n; }",
       "if (typeof n === \"number\" && n > 0) { return n; }"},
      {"the other three lose it", {{"n", kNumberOrString}},
       "a(n < 1); b(n >= 2); c(n <= 10);",
       "a(typeof n === \"number\" && n <1); b(typeof n === \"number\" && n >=2); "
       "c(typeof n === \"number\" && n <=10);"},
      {"only the first occurrence of each pattern", {{"n", kNumberOrString}},
       "if (n > 1) x(); if (n > 2) y();",
       "if (typeof n === \"number\" && n > 1) x(); if (n > 2) y();"},
      {"patterns are told apart by the blank after the operator", {{"n", kNumberOrString}},
       "if (n >= 5 || n > 9) z();",
       "if (typeof n === \"number\" && n >=5 || typeof n === \"number\" && n > 9) z();"},
      {"number may stand anywhere in the union", {{"v", ts("string | boolean | number")}},
       "return v < 3;", "return typeof v === \"number\" && v <3;"},
      {"a plain number is not a union", {{"n", ts("number")}}, "if (n > 0) {}", "if (n > 0) {}"},
      {"a union without number", {{"s", ts("string | boolean")}}, "if (s > 0) {}", "if (s > 0) {}"},
      {"no blank, no match", {{"n", kNumberOrString}}, "if (n>0 && n >0) {}",
       "if (n>0 && n >0) {}"},
      {"each parameter in order", {{"a", kNumberOrString}, {"b", ts("string")}, {"c", ts("number | void")}},
       "a > b; b > c; c > a;",
       "typeof a === \"number\" && a > b; b > c; typeof c === \"number\" && c > a;"},
      {"a longer word ending in the name is not the parameter", {{"n", kNumberOrString}},
       "if (len > 0 && n > 1) {}", "if (len > 0 && typeof n === \"number\" && n > 1) {}"},
      {"a property of the same name is not the parameter", {{"n", kNumberOrString}},
       "if (this.n > 0 || o?.n < 1 || n < 2) {}",
       "if (this.n > 0 || o?.n < 1 || typeof n === \"number\" && n <2) {}"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(apply_narrowing(c.body, func("f", c.params)), c.expected) << c.why;
  }
}

TEST(ApplyNarrowing, TypesEveryCatchErrorClause) {
  struct Case {
    std::string body;
    std::string expected;
  } cases[] = {
      {"try { a(); } catch (error) { log(error.message); }",
       "try { a(); } catch (error: any) { log(error.message); }"},
      {"try {} catch (error) {} try {} catch (error) {} try {} catch (error) {}",
       "try {} catch (error: any) {} try {} catch (error: any) {} try {} catch (error: any) {}"},
      // other spellings are left alone
      {"try {} catch(error) {} try {} catch (e) {} try {} catch (err) {}",
       "try {} catch(error) {} try {} catch (e) {} try {} catch (err) {}"},
      {"catch (error)catch (error)", "catch (error: any)catch (error: any)"},
      // a promise's .catch method called with a variable is no catch clause
      {"p.catch (error); q.catch(error);", "p.catch (error); q.catch(error);"},
      {"", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(apply_narrowing(c.body, func("f")), c.expected) << c.body;
  }
}

TEST(ApplyNarrowing, CatchAndComparisonRewritesCombine) {
  const std::string body = "try { if (n <= 3) throw 1; } catch (error) { return n > 4; }";
  EXPECT_EQ(apply_narrowing(body, func("f", {{"n", kNumberOrString}})),
            "try { if (typeof n === \"number\" && n <=3) throw 1; } catch (error: any) { return "
            "typeof n === \"number\" && n > 4; }");
}

// Every rewrite is written however many there are and however long the name:
// the text grows past the body's length plus 4096 bytes when it has to.
TEST(ApplyNarrowing, ManyRewritesAndLongNamesAreAllWritten) {
  std::string body;
  std::string expected;
  for (int i = 0; i < 2000; ++i) {
    body += "try { x(); } catch (error) { y(); }\n";
    expected += "try { x(); } catch (error: any) { y(); }\n";
  }
  const std::string name(300, 'q');
  body += "return " + name + " > 1;";
  expected += "return typeof " + name + " === \"number\" && " + name + " > 1;";
  const std::string result = apply_narrowing(body, func("f", {{name, kNumberOrString}}));
  EXPECT_GT(result.size(), body.size() + 4096);
  EXPECT_EQ(result, expected);
}

TEST(ApplyNarrowing, MismatchedParameterListsAreReadSafely) {
  FuncInfo function = func("f", {{"n", kNumberOrString}});
  function.param_names.push_back("extra");  // a name without a type
  EXPECT_EQ(apply_narrowing("extra > 1; n > 1", function),
            "extra > 1; typeof n === \"number\" && n > 1");
  function.param_types.clear();
  EXPECT_EQ(apply_narrowing("n > 1", function), "n > 1");
}

}  // namespace
