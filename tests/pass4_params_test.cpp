// Pass 4: parameter types from the way their names are used anywhere in the
// file.

#include <gtest/gtest.h>

#include "analysis/analyzeR4.h"
#include "pass4_fixture.h"

namespace {

using namespace pass4_test;

const std::string kStart = cyan("[ANALYZER4] PARAMETER INFERENCE START");

std::string param(const std::string& name, const std::string& rule) {
  return green("[ANALYZER4] PARAM " + name + " -> " + rule);
}

struct ParamCase {
  const char* label;
  const char* source;
  int start_kind;     // kind of the parameter p before the detector
  int expected;
  std::string trace;  // after the START line
};

TEST(Pass4ParameterInference, EveryRuleAtEveryToken) {
  const std::string method = param("p", "STRING (METHOD)");
  const std::string fs = param("p", "STRING (FS)");
  const std::string tmpl = param("p", "STRING (TEMPLATE)");
  const std::string right = param("p", "NUMBER (COMPARE RIGHT)");
  const std::string left = param("p", "NUMBER (COMPARE LEFT)");
  const ParamCase cases[] = {
      {"method", "return p . trim ( ) ;", TYPE_NONE, TYPE_STRING, method},
      {"each method use is traced", "p . split ( ',' ) ; p . replace ( a , b ) ;", TYPE_NONE, TYPE_STRING,
       method + method},
      {"toUpperCase", "p . toUpperCase ( )", TYPE_NONE, TYPE_STRING, method},
      {"toLowerCase", "p . toLowerCase ( )", TYPE_NONE, TYPE_STRING, method},
      {"a method outside the list", "p . slice ( 1 ) ;", TYPE_NONE, TYPE_NONE, ""},
      {"a method as the last token", "x ; p . trim", TYPE_NONE, TYPE_STRING, method},
      {"fs.mkdir", "fs . mkdir ( p , cb ) ;", TYPE_NONE, TYPE_STRING, fs},
      {"bare readFile", "readFile ( p )", TYPE_NONE, TYPE_STRING, fs},
      {"createWriteStream", "createWriteStream ( p ) ;", TYPE_NONE, TYPE_STRING, fs},
      {"writeFile", "writeFile ( p , data ) ;", TYPE_NONE, TYPE_STRING, fs},
      {"createReadStream", "createReadStream ( p ) ;", TYPE_NONE, TYPE_STRING, fs},
      {"second argument only", "readFile ( a , p ) ;", TYPE_NONE, TYPE_NONE, ""},
      {"template with the name", "log ( `${p}` ) ;", TYPE_NONE, TYPE_STRING, tmpl},
      {"template holding the letters", "log ( `${up}` ) ;", TYPE_NONE, TYPE_STRING, tmpl},
      {"quoted string with a placeholder", "log ( '${p}' ) ;", TYPE_NONE, TYPE_STRING, tmpl},
      {"no placeholder", "log ( 'p' ) ;", TYPE_NONE, TYPE_NONE, ""},
      {"compare left", "for ( let i = 0 ; i < p ; i ++ ) { }", TYPE_NONE, TYPE_NUMBER, left},
      {"compare right", "if ( p >= 3 ) { }", TYPE_NONE, TYPE_NUMBER, right},
      {"between two operators", "a < p > b", TYPE_NONE, TYPE_NUMBER, right + left},
      {"<= on the left", "i <= p", TYPE_NONE, TYPE_NUMBER, left},
      {"> on the right", "p > 0", TYPE_NONE, TYPE_NUMBER, right},
      {"equality is no evidence", "if ( p === 3 ) { }", TYPE_NONE, TYPE_NONE, ""},
      {"number then string", "if ( p > 0 ) { } return p . toUpperCase ( ) ;", TYPE_NONE, TYPE_STRING,
       right + method},
      {"string then number", "p . trim ( ) ; if ( p > 0 ) { }", TYPE_NONE, TYPE_STRING, method},
      {"string from an earlier pass", "if ( p > 0 ) { }", TYPE_STRING, TYPE_STRING, ""},
      {"any other kind is overwritten", "if ( p > 0 ) { }", TYPE_BOOLEAN, TYPE_NUMBER, right},
      {"union is never changed", "p . trim ( ) ; p > 0", TYPE_UNION, TYPE_UNION, ""},
      {"a string p is no identifier", "'p' . trim ( ) ; 'p' > 0", TYPE_NONE, TYPE_NONE, ""},
      {"method and fs rules at neighbouring tokens", "readFile ( p . trim ( ) )", TYPE_NONE, TYPE_STRING,
       fs + method},
  };
  for (const ParamCase& c : cases) {
    SCOPED_TRACE(c.label);
    AnalysisResult result;
    FuncInfo& func = add_func(result, "f", {"p"});
    func.param_types[0].kind = static_cast<TypeKind>(c.start_kind);
    const TokenList tokens = toks(c.source);
    const std::string out = traced(true, [&](const Pass4Trace& trace) { detect_parameter_usage_inference(result, tokens, trace); });
    EXPECT_EQ(result.funcs[0].param_types[0].kind, c.expected);
    EXPECT_EQ(out, kStart + c.trace);
  }
}

TEST(Pass4ParameterInference, ConcurrencyLimitIsANumberByItsNameAlone) {
  struct Case {
    const char* name;
    int expected;
  } cases[] = {
      {"concurrencyLimit", TYPE_NUMBER},
      {"concurrencyLimitPerHost", TYPE_NUMBER},
      {"maxconcurrencyLimit", TYPE_NUMBER},
      {"maxConcurrencyLimit", TYPE_NONE},
      {"concurrency", TYPE_NONE},
  };
  // The file would make every other parameter a string; the name wins without
  // looking at it.
  const TokenList tokens = toks("log ( `${x}` ) ;");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AnalysisResult result;
    add_func(result, "run", {c.name});
    const std::string out = traced(true, [&](const Pass4Trace& trace) { detect_parameter_usage_inference(result, tokens, trace); });
    EXPECT_EQ(result.funcs[0].param_types[0].kind, c.expected);
    const std::string expected_trace =
        c.expected == TYPE_NUMBER ? green("[ANALYZER4] concurrencyLimit -> NUMBER") : "";
    EXPECT_EQ(out, kStart + expected_trace);
  }
  AnalysisResult as_union;
  add_func(as_union, "run", {"concurrencyLimit"}).param_types[0].kind = TYPE_UNION;
  EXPECT_EQ(traced(true, [&](const Pass4Trace& trace) { detect_parameter_usage_inference(as_union, tokens, trace); }), kStart);
  EXPECT_EQ(as_union.funcs[0].param_types[0].kind, TYPE_UNION);
}

TEST(Pass4ParameterInference, EvidenceComesFromTheWholeFileInFunctionAndParameterOrder) {
  // b's own function never uses it; another function's variable b does.
  const TokenList tokens = toks(
      "function f ( a , b ) { return a < 1 ; }\n"
      "function g ( name ) { const b = 1 ; b . trim ( ) ; return name . trim ( ) ; }");
  AnalysisResult result;
  add_func(result, "f", {"a", "b"});
  add_func(result, "g", {"name"});
  const std::string out = traced(true, [&](const Pass4Trace& trace) { detect_parameter_usage_inference(result, tokens, trace); });
  EXPECT_EQ(result.funcs[0].param_types[0].kind, TYPE_NUMBER);
  EXPECT_EQ(result.funcs[0].param_types[1].kind, TYPE_STRING);
  EXPECT_EQ(result.funcs[1].param_types[0].kind, TYPE_STRING);
  EXPECT_EQ(out, kStart + param("a", "NUMBER (COMPARE RIGHT)") + param("b", "STRING (METHOD)") +
                     param("name", "STRING (METHOD)"));
}

TEST(Pass4ParameterInference, DebugLineForBatchProcessImageDownloads) {
  const TokenList tokens = toks("u . trim ( ) ; n < 3 ;");
  AnalysisResult result;
  add_func(result, "batchProcessImageDownloads", {"u", "n"});
  add_func(result, "other", {"u"});
  add_func(result, "batchProcessImageDownloads", {});
  add_func(result, "batchProcessImageDownloads", {"a", "b", "c", "d"}).param_types[3].kind = TYPE_NUMBER;
  const std::string out = traced(true, [&](const Pass4Trace& trace) { detect_parameter_usage_inference(result, tokens, trace); });
  const std::string expected = kStart + param("u", "STRING (METHOD)") + param("n", "NUMBER (COMPARE RIGHT)") +
                               param("u", "STRING (METHOD)") +
                               yellow("[DEBUG PARAMS] batchProcessImageDownloads -> 2 1 -1") +
                               yellow("[DEBUG PARAMS] batchProcessImageDownloads -> -1 -1 -1") +
                               yellow("[DEBUG PARAMS] batchProcessImageDownloads -> 0 0 0");
  EXPECT_EQ(out, expected);
}

TEST(Pass4ParameterInference, SilentWithoutVerboseButStillTypes) {
  const TokenList tokens = toks("u . trim ( ) ; n < 3 ;");
  AnalysisResult result;
  add_func(result, "batchProcessImageDownloads", {"u", "n", "concurrencyLimit"});
  EXPECT_EQ(traced(false, [&](const Pass4Trace& trace) { detect_parameter_usage_inference(result, tokens, trace); }), "");
  EXPECT_EQ(result.funcs[0].param_types[0].kind, TYPE_STRING);
  EXPECT_EQ(result.funcs[0].param_types[1].kind, TYPE_NUMBER);
  EXPECT_EQ(result.funcs[0].param_types[2].kind, TYPE_NUMBER);
}

TEST(Pass4ParameterInference, AParameterWithoutATypeRecordIsSkipped) {
  const TokenList tokens = toks("p . trim ( ) ; q . trim ( ) ;");
  AnalysisResult result;
  FuncInfo& func = add_func(result, "f", {"p"});
  func.param_names.push_back("q");  // a record with fewer types than names
  detect_parameter_usage_inference(result, tokens);
  ASSERT_EQ(result.funcs[0].param_types.size(), 1u);
  EXPECT_EQ(result.funcs[0].param_types[0].kind, TYPE_STRING);
}

}  // namespace
