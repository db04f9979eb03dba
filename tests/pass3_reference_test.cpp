// The indexed pass-3 sub-passes against their literal forms in
// reference/pass3_reference.h, on generated sources: the fast sub-passes must
// leave every variable and return type exactly as the literal ones do.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <initializer_list>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/analyzeR3.h"
#include "pass3_fixture.h"
#include "random_program.h"
#include "reference/pass3_reference.h"
#include "test_support.h"

namespace {

using pass3_test::Fixture;

std::string dump_type(const TypeInfo& type) {
  std::string text = "k" + std::to_string(type.kind) + " m";
  for (int member : type.members) text += std::to_string(member) + ",";
  text += " n" + std::to_string(type.member_count) + " e" + std::to_string(type.element_kind) + " kv" +
          std::to_string(type.key_kind) + "/" + std::to_string(type.value_kind) + " t'" + type.type_name +
          "' i'" + type.interface_name + "' f{";
  for (const TypeField& field : type.fields) text += field.name + ":" + std::to_string(field.kind) + ",";
  return text + "}";
}

// Everything pass 3 may write, in full.
std::string dump(const AnalysisResult& result) {
  std::string text;
  for (const VarInfo& var : result.vars) {
    text += "var " + var.name + " c" + std::to_string(var.is_const) + " " + dump_type(var.type) + "\n";
  }
  for (const FuncInfo& func : result.funcs) text += "func " + func.name + " " + dump_type(func.return_type) + "\n";
  text += std::to_string(result.objects.size()) + " objects\n";
  return text;
}

bool same_type(const TypeInfo& a, const TypeInfo& b) {
  if (a.kind != b.kind || a.members != b.members || a.member_count != b.member_count ||
      a.element_kind != b.element_kind || a.key_kind != b.key_kind || a.value_kind != b.value_kind ||
      a.type_name != b.type_name || a.interface_name != b.interface_name || a.fields.size() != b.fields.size()) {
    return false;
  }
  for (size_t f = 0; f < a.fields.size(); ++f) {
    if (a.fields[f].name != b.fields[f].name || a.fields[f].kind != b.fields[f].kind) return false;
  }
  return true;
}

// The same as comparing dump()s, without building them.
bool same(const AnalysisResult& a, const AnalysisResult& b) {
  if (a.vars.size() != b.vars.size() || a.funcs.size() != b.funcs.size() || a.objects.size() != b.objects.size()) {
    return false;
  }
  for (size_t v = 0; v < a.vars.size(); ++v) {
    if (a.vars[v].name != b.vars[v].name || a.vars[v].is_const != b.vars[v].is_const ||
        !same_type(a.vars[v].type, b.vars[v].type)) {
      return false;
    }
  }
  for (size_t f = 0; f < a.funcs.size(); ++f) {
    if (a.funcs[f].name != b.funcs[f].name || !same_type(a.funcs[f].return_type, b.funcs[f].return_type)) {
      return false;
    }
  }
  return true;
}

// Generated states: a rule-dense source (random_program.h) and a result with
// variables, functions and objects of random types.
class SourceGenerator {
 public:
  explicit SourceGenerator(unsigned seed) : statements_(seed) {}

  Fixture make() {
    kvx_test::RuleStatements& g = statements_;
    g.functions().clear();
    const std::string source = g.statements(1 + g.pick(14), 0);
    std::string vars;
    for (int v = g.pick(16); v > 0; --v) vars += g.name() + ": " + (g.pick(2) == 0 ? "any" : g.pick(kTypes)) + ", ";
    std::string funcs;
    for (const std::string& function_name : g.functions()) {
      funcs += g.pick(kFuncFlags) + function_name + g.pick(kReturns) + ", ";
    }
    for (int f = g.pick(3); f > 0; --f) funcs += g.pick(kFuncFlags) + std::string("z") + g.pick(kReturns) + ", ";
    Fixture fixture(source, vars, funcs);
    const int count = fixture.tokens.count();
    for (FuncInfo& func : fixture.result.funcs) {
      if (g.pick(6) == 0) {  // a region anywhere, empty or reaching past the end
        func.body_first_token = g.pick(count + 2) - 1;
        func.body_end_token = func.body_first_token + g.pick(count + 3);
      }
    }
    for (int o = g.pick(3); o > 0; --o) {
      ObjectInfo object;
      object.name = g.name();
      object.fields->emplace_back("port", g.pick(4));
      object.fields->emplace_back(g.name(), g.pick(4));
      ObjectField nested(g.pick(2) == 0 ? "server" : g.name(), TYPE_OBJECT);
      nested.nested_fields.emplace_back("port", g.pick(4));
      nested.nested_fields.emplace_back(g.name(), g.pick(4));
      object.fields->push_back(std::move(nested));
      fixture.result.objects.push_back(std::move(object));
    }
    return fixture;
  }

 private:
  static constexpr const char* kTypes[] = {"any", "number", "string", "boolean", "void", "void", "void",
                                            "{ port: number; n: string }", "{ port: any }", "object",
                                            "number[]", "any[]", "number | string", "number | any",
                                            "string | string", "void | void | number", "never", "unknown",
                                            "Set<string>"};
  static constexpr const char* kFuncFlags[] = {"", "", "", "!", "?"};
  static constexpr const char* kReturns[] = {"", "", ": void", ": number", ": (string)", ": object"};

  kvx_test::RuleStatements statements_;
};

using Step = void (*)(const TokenList&, const FileIndex&, AnalysisResult&);
using ReferenceStep = void (*)(const TokenList&, AnalysisResult&);

struct NamedStep {
  const char* name;
  Step fast;
  ReferenceStep reference;
};

void fast_advanced(const TokenList& tokens, const FileIndex& index, AnalysisResult& result) {
  SymbolTable table;
  build_symbol_table(result, table);
  analyze_advanced(table, tokens, index, result);
}
void reference_advanced(const TokenList& tokens, AnalysisResult& result) {
  SymbolTable table;
  pass3_reference::build_symbol_table(result, table);
  pass3_reference::analyze_advanced(table, tokens, result);
}
void fast_simplify(const TokenList&, const FileIndex&, AnalysisResult& result) { simplify_unions(result); }
void reference_simplify(const TokenList&, AnalysisResult& result) { pass3_reference::simplify_unions(result); }

// In the driver's order.
const NamedStep kSteps[] = {
    {"analyze_return_objects", analyze_return_objects, pass3_reference::analyze_return_objects},
    {"analyze_destructuring", analyze_destructuring, pass3_reference::analyze_destructuring},
    {"pass0_detect_logic_vars", pass0_detect_logic_vars, pass3_reference::pass0_detect_logic_vars},
    {"analyze_optional_chain", analyze_optional_chain, pass3_reference::analyze_optional_chain},
    {"analyze_nullish", analyze_nullish, pass3_reference::analyze_nullish},
    {"analyze_logical_ops", analyze_logical_ops, pass3_reference::analyze_logical_ops},
    {"analyze_ternary", analyze_ternary, pass3_reference::analyze_ternary},
    {"analyze_reassignments", analyze_reassignments, pass3_reference::analyze_reassignments},
    {"analyze_complex_returns", analyze_complex_returns, pass3_reference::analyze_complex_returns},
    {"analyze_switch", analyze_switch, pass3_reference::analyze_switch},
    {"analyze_advanced_arrays", analyze_advanced_arrays, pass3_reference::analyze_advanced_arrays},
    {"finalize_return_types", finalize_return_types, pass3_reference::finalize_return_types},
    {"analyze_any_killer", analyze_any_killer, pass3_reference::analyze_any_killer},
    {"analyze_advanced", fast_advanced, reference_advanced},
    {"simplify_unions", fast_simplify, reference_simplify},
};

TEST(Pass3Reference, EachSubPassMatchesTheLiteralRulesOnGeneratedSources) {
  SourceGenerator generator(20240611);
  for (int round = 0; round < 1500; ++round) {
    const Fixture fixture = generator.make();
    const auto context = [&] { return fixture.source + "\n" + dump(fixture.result); };
    // Each sub-pass alone on the generated state...
    for (const NamedStep& step : kSteps) {
      AnalysisResult fast = fixture.result;
      AnalysisResult reference = fixture.result;
      step.fast(fixture.tokens, fixture.index, fast);
      step.reference(fixture.tokens, reference);
      if (!same(fast, reference)) {
        ASSERT_EQ(dump(fast), dump(reference)) << step.name << " alone\n" << context();
      }
    }
    // ...and all of them in a row, compared after every step.
    AnalysisResult fast = fixture.result;
    AnalysisResult reference = fixture.result;
    for (const NamedStep& step : kSteps) {
      step.fast(fixture.tokens, fixture.index, fast);
      step.reference(fixture.tokens, reference);
      if (!same(fast, reference)) {
        ASSERT_EQ(dump(fast), dump(reference)) << step.name << " in the chain\n" << context();
      }
    }
    AnalysisResult whole = fixture.result;
    analyzer3_run(fixture.tokens, fixture.index, whole);
    if (!same(whole, fast)) {
      ASSERT_EQ(dump(whole), dump(fast)) << "analyzer3_run\n" << context();
    }
  }
}

// The states the declaration scan and the structure capture really leave.
TEST(Pass3Reference, MatchesTheLiteralRulesAfterTheRealScan) {
  std::vector<std::string> sources = {kvx_test::read_file(KVX_SOURCE_DIR "/examples/inventory.js")};
  SourceGenerator generator(77);
  for (int round = 0; round < 300; ++round) sources.push_back(generator.make().source);
  for (const std::string& source : sources) {
    const TokenList tokens = tokenize(source);
    const FileIndex index = index_file(tokens);
    const AnalysisResult scanned = kvx_test::analyze_js(source, 2);
    AnalysisResult fast = scanned;
    AnalysisResult reference = scanned;
    for (const NamedStep& step : kSteps) {
      step.fast(tokens, index, fast);
      step.reference(tokens, reference);
      if (!same(fast, reference)) {
        ASSERT_EQ(dump(fast), dump(reference)) << step.name << "\n" << source;
      }
    }
  }
}

}  // namespace
