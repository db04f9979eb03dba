// The indexed passes 4 and 5 against their literal versions
// (pass4_reference.cpp) on generated sources: every detector must leave every
// record exactly as the literal one does and send the same trace, byte for
// byte and in the same order; without a trace sink the records must not change.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <filesystem>
#include <iterator>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/analyzeR4.h"
#include "analysis/analyzeR5.h"
#include "pass4_fixture.h"
#include "reference/pass4_reference.h"
#include "test_support.h"

namespace {

using pass4_test::traced;

std::string dump_type(const TypeInfo& type) {
  std::string text = "k" + std::to_string(type.kind) + " m";
  for (int member : type.members) text += std::to_string(member) + ",";
  text += " n" + std::to_string(type.member_count) + " e" + std::to_string(type.element_kind) + " kv" +
          std::to_string(type.key_kind) + "/" + std::to_string(type.value_kind) + " t'" + type.type_name + "' i'" +
          type.interface_name + "' f{";
  for (const TypeField& field : type.fields) text += field.name + ":" + std::to_string(field.kind) + ",";
  return text + "}";
}

std::string dump_fields(const std::vector<ObjectField>& fields) {
  std::string text = "{";
  for (const ObjectField& field : fields) {
    text += field.name + ":" + std::to_string(field.kind) + dump_fields(field.nested_fields) + ",";
  }
  return text + "}";
}

// Everything passes 4 and 5 may write, in full.
std::string dump(const AnalysisResult& result) {
  std::string text;
  for (const VarInfo& var : result.vars) {
    text += "var " + var.name + " c" + std::to_string(var.is_const) + " " + dump_type(var.type) + "\n";
  }
  for (const FuncInfo& func : result.funcs) {
    text += "func " + func.name + " -> " + dump_type(func.return_type) + " (";
    for (size_t j = 0; j < func.param_names.size(); ++j) text += func.param_names[j] + ",";
    text += ")";
    for (const TypeInfo& type : func.param_types) text += " [" + dump_type(type) + "]";
    text += "\n";
  }
  for (const ObjectInfo& object : result.objects) {
    text += "object " + object.name + " r" + std::to_string(object.readonly) + " " + dump_fields(*object.fields);
    text += "\n";
  }
  for (const ArrayInfo& array : result.arrays) {
    text += "array " + array.name + " e" + std::to_string(array.element_kind) + " n" +
            std::to_string(array.member_count) + "\n";
  }
  for (const ArrowInfo& arrow : result.arrows) {
    text += "arrow " + arrow.name + " -> " + dump_type(arrow.return_type) + "\n";
  }
  for (const ShapeInfo& shape : result.array_objects) {
    text += "shape " + shape.name + " {";
    for (const ShapeField& field : shape.fields) text += field.name + ":" + std::to_string(field.kind) + ",";
    text += "}\n";
  }
  return text;
}

// Sources made of the idioms the detectors look for, with names from a small
// pool (duplicates included, as in minified code) so that lookups hit, stray
// tokens in between so that runs are cut at odd places, and line breaks in
// and between statements for the same-line walks.
class SourceGenerator {
 public:
  explicit SourceGenerator(unsigned seed) : random_(seed) {}

  int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }
  template <typename T, size_t N>
  const T& pick(const T (&items)[N]) {
    return items[static_cast<size_t>(pick(static_cast<int>(N)))];
  }

  std::string name() { return pick(kNames); }
  std::string literal() { return pick(kLiterals); }
  std::string value() { return pick(2) == 0 ? name() : literal(); }

  // Fills the placeholders N (name), L (literal), V (either), P (parameter
  // name), O (object name) and C (collection name); a capital letter inside a
  // word (Promise, toUpperCase) is text.
  std::string fill(std::string_view pattern) {
    auto in_word = [&](size_t at) {
      return at < pattern.size() && (std::isalnum(static_cast<unsigned char>(pattern[at])) || pattern[at] == '_');
    };
    std::string text;
    for (size_t at = 0; at < pattern.size(); ++at) {
      const char c = pattern[at];
      if ((at > 0 && in_word(at - 1)) || in_word(at + 1)) {
        text += c;
        continue;
      }
      switch (c) {
        case 'N': text += name(); break;
        case 'L': text += literal(); break;
        case 'V': text += value(); break;
        case 'P': text += pick(kParamNames); break;
        case 'O': text += pick(kObjectNames); break;
        case 'C': text += pick(kCollectionNames); break;
        default: text += c;
      }
    }
    return text;
  }

  std::string statements(int count, int depth) {
    std::string text;
    for (int s = 0; s < count; ++s) {
      const int choice = pick(12);
      if (choice == 0 && depth < 2) {
        Function function;
        function.name = pick(kFunctionNames);
        for (int p = pick(4); p > 0; --p) function.params.push_back(pick(kParamNames));
        std::string params;
        for (const std::string& param : function.params) params += (params.empty() ? "" : ", ") + param;
        functions_.push_back(function);
        text += std::string(pick(3) == 0 ? "async " : "") + "function " + function.name + "(" + params + ") { " +
                statements(pick(6), depth + 1) + "}";
      } else if (choice == 1) {
        text += fill(pick(kNoise));
      } else {
        text += fill(pick(kStatements));
      }
      text += pick(4) == 0 ? "\n" : " ";
    }
    return text;
  }

  struct Function {
    std::string name;
    std::vector<std::string> params;
  };

  struct Case {
    std::string source;
    TokenList tokens;
    AnalysisResult result;
  };

  std::string source(int statement_count) {
    functions_.clear();
    return statements(statement_count, 0);
  }

  // A source, its tokens (sometimes cut short, for the scan bounds) and
  // records of random types, as earlier passes might have left them.
  Case make(int statement_count) {
    Case c;
    c.source = source(statement_count);
    if (pick(3) == 0) c.source += fill(pick(kTails));
    c.tokens = tokenize(c.source);
    if (pick(4) == 0) c.tokens.items.resize(static_cast<size_t>(pick(c.tokens.count() + 1)));
    // Lines out of order, as a hand-made list may have them: the same-line
    // walks compare each token's line with the first one's.
    if (pick(8) == 0) {
      for (Token& token : c.tokens.items) token.line = 1 + pick(3);
    }
    AnalysisResult& result = c.result;
    for (int v = pick(18); v > 0; --v) {
      VarInfo var;
      var.name = pick(2) == 0 ? name() : pick(kVarNames);
      var.is_const = pick(2);
      var.type = random_type();
      result.vars.push_back(std::move(var));
    }
    std::vector<Function> functions = functions_;
    for (int f = pick(3); f > 0; --f) {
      Function extra;
      extra.name = pick(kFunctionNames);
      for (int p = pick(4); p > 0; --p) extra.params.push_back(pick(kParamNames));
      functions.push_back(extra);
    }
    for (const Function& function : functions) {
      FuncInfo func;
      func.name = function.name;
      for (const std::string& param : function.params) {
        func.param_names.push_back(param);
        TypeInfo type;
        type.kind = static_cast<TypeKind>(pick(kParamKinds));
        func.param_types.push_back(type);
      }
      if (!func.param_types.empty() && pick(8) == 0) func.param_types.pop_back();
      func.return_type.kind = static_cast<TypeKind>(pick(kReturnKinds));
      if (pick(3) != 0) func.body = fill(pick(kBodies));
      result.funcs.push_back(std::move(func));
    }
    for (int o = pick(5); o > 0; --o) {
      ObjectInfo object;
      object.name = pick(kObjectNames);
      object.readonly = pick(2);
      for (int f = pick(3); f > 0; --f) {
        ObjectField field(name(), pick(7));
        if (field.kind == TYPE_OBJECT) field.nested_fields.emplace_back("deep", TYPE_NUMBER);
        object.fields->push_back(std::move(field));
      }
      result.objects.push_back(std::move(object));
    }
    for (int a = pick(4); a > 0; --a) {
      ArrayInfo array;
      array.name = name();
      array.element_kind = pick(4);
      result.arrays.push_back(array);
    }
    for (int a = pick(5); a > 0; --a) {
      ArrowInfo arrow;
      arrow.name = pick(2) == 0 ? pick(kArrowNames) : pick(kVarNames);
      arrow.return_type.kind = static_cast<TypeKind>(pick(kParamKinds));
      result.arrows.push_back(std::move(arrow));
    }
    if (pick(6) == 0) {
      ShapeInfo shape;
      shape.name = pick(2) == 0 ? "tasks" : "jobs";
      shape.fields.push_back(ShapeField{"only", TYPE_NUMBER});
      result.array_objects.push_back(std::move(shape));
    }
    return c;
  }

 private:
  TypeInfo random_type() {
    TypeInfo type;
    type.kind = static_cast<TypeKind>(pick(kVarKinds));
    type.element_kind = pick(3) == 0 ? pick(4) : 0;
    type.key_kind = pick(4) == 0 ? pick(4) : 0;
    type.value_kind = pick(4) == 0 ? pick(4) : 0;
    if (type.kind == TYPE_UNION) {
      type.members = {1, 2, 0, 0};
      type.member_count = 2;
    }
    if (type.kind == TYPE_NAMED) type.type_name = "Buffer";
    return type;
  }

  static constexpr const char* kNames[] = {
      "e", "e", "t", "n", "line", "tasks", "res", "cache", "seen", "name", "id", "width", "p", "x", "dir",
      "url", "job", "remove", "check", "concurrencyLimit", "fs", "readline", "fetch", "delete", "has",
      "results", "label", "cfg"};
  static constexpr const char* kParamNames[] = {
      "e", "t", "n", "p", "x", "id", "dir", "url", "name", "label", "line", "width", "i", "",
      "concurrencyLimit", "concurrencyLimitPerHost", "maxConcurrencyLimit", "readFile", "d"};
  static constexpr const char* kVarNames[] = {"cache", "seen", "e",   "cfg",    "res",  "line",
                                              "name",  "job",  "n",   "remove", "check"};
  static constexpr const char* kObjectNames[] = {"cfg", "res", "e", "job", "tasks"};
  static constexpr const char* kCollectionNames[] = {"cache", "seen", "e"};
  static constexpr const char* kFunctionNames[] = {"f", "g", "e", "build", "batchProcessImageDownloads"};
  static constexpr const char* kArrowNames[] = {"remove", "check", "e", "t", "has"};
  static constexpr const char* kLiterals[] = {"1", "'s'", "true", "`t${x}`", "null", "0", "\"q\"", "`${e}`"};
  static constexpr int kVarKinds[] = {0, 0, 0, 0, 1, 2, 3, 4, 7, 8, 9, 12, 12, 13, 13, 13, 14, 14, 15};
  static constexpr int kParamKinds[] = {0, 0, 0, 1, 2, 2, 3, 4, 5};
  static constexpr int kReturnKinds[] = {0, 0, 5, 5, 1, 6};
  static constexpr const char* kNoise[] = {"{", "}", "{", "}", "(", ")", ";", "\n", "?.", "??", "<", ">=", "=",
                                           ",", ":", "N :", "async", "for", "await", "line", "tasks", ".", "`${"};
  static constexpr const char* kBodies[] = {
      "const O = { a: 1 }; return O;", "return  O ;", "return(O);", "return N", "return\tO.x",
      "if (N) return O; return 0;", "return O; return", "return _9", "no return here", "return O"};
  // Runs cut by the end of the file, where the scan bounds decide.
  static constexpr const char* kTails[] = {
      "N = N ??", "N = N ?? L", "N = N.N ??", "N = N + N ??", "N = N.N ?? L", "N = N.N ?.", "N = N ?.",
      "N = N?.N", "tasks.push", "tasks.push(", "tasks.push({", "N.push(N", "N.push(N)", "remove = (k) => N.has",
      "remove = (k) => N.has(", "for await (", "for await (const line", "N = ( async", "N = (async () => 1)",
      "N = (async () => 1)(", "N = await fetch", "N = fetch", "N = await fetch(", "N = fs.createReadStream",
      "N = createReadStream", "N = readline.createInterface", "N = new Set", "N = new Map(",
      "N = await Promise.all", "N = await Promise.race(", "for (const N", "for (const N of", "P.trim",
      "P.trim(", "P <", "< P", "readFile(P", "`${P}`", "C.set(V", "C.set(V,", "C.set(V, V", "C.add(V",
      "C.add(V)", "N.trim", "N.trim("};
  static constexpr const char* kStatements[] = {
      "const N = await fetch(V);", "N = fetch(V);", "N = await fetch", "let N = fetch",
      "const N = fs.createReadStream(V);", "N = createReadStream(V);", "N = fs.createReadStream",
      "const N = readline.createInterface({ input: N });", "N = readline.createInterface",
      "const N = new Set();", "N = new Set", "N = new Map();", "const N = new Map([[V, V]]);",
      "const N = await Promise.all(N);", "N = await Promise.race([N, N]);", "const N = await Promise.race(N);",
      "N = await Promise.race", "N = await Promise.all", "const N = N?.N ?? L;", "N = N ?? L;", "N = N ?? N;",
      "N = N\n?? L;", "N = N ??\nL;", "let N = N?.N;", "N = N\n?.N;", "N = N ; ?. N", "N = N?.N?.N;",
      "N = N ?? L ?? L;", "N.push(N);", "N.push(fetch(V));", "results.push(N);", "N.push(O);",
      "const O = fetch(V); results.push(O);", "tasks.push({ id: V, url: V, N: V });", "tasks.push(N);",
      "tasks.push({ N: { N: V }, N: V });", "tasks.push(N)\n", "tasks . push", "for (const N of N) { N(N); }",
      "for (const N in N) {}", "for (let N = 0; N < L; N++) {}", "for await (const line of N) { N(line); }",
      "for await (const N of N) { N }", "for await (x of N) { a; b; c; d; e; f; g; h; i; j; line }",
      "N.trim();", "N.toUpperCase();", "N.slice(1);", "N.substring(1);", "N.charAt(0);", "N.split(L);",
      "N.replace(L, L);", "N.toLowerCase()", "const N = (N) => N.delete(N);", "const N = (N) => N\n.has(N);",
      "N = (N) => N.has(N) && N;", "N = N.delete", "remove = N . has",
      "check = (k) => { return k; }; x.has(k);", "const N = (async () => { await N(V); })();",
      "N = (async () => { (N); });", "N = (async (N) => N)(N);", "N = (async", "N = ( async ( ) => ( N ) ) ( )",
      "if (P < L) {}", "if (L >= P) {}", "while (P > N) {}", "N <= P;", "for (let i = 0; i < P; i++) {}",
      "if (L < P < L) {}", "readFile(P);", "fs.mkdir(P, cb);", "createWriteStream(P);", "writeFile(P, V);",
      "createReadStream(P.N);", "P.trim();", "P.split(L);", "`${P}:${P}`;", "const N = `${N}/N`;",
      "N = 'a${N}';", "N = `plain N`;", "`${e}${t}`;", "`${width}px`;", "`${concurrencyLimit}`;",
      "C.set(V, V);", "C.add(V);", "C.set(N.N, L);", "C.set(V);", "C.add(N.N);", "C.set(V, V)",
      "const C = new Map(); C.set(V, V);", "const C = new Set(); C.add(V);", "const C = new Map();",
      "const C = new Set();", "C.set(C, N);", "C.add(P);", "return N;", "if (L < P.trim()) {}",
      "N < readFile(readFile);", "N =\nN?.N;", "N =\nN ?? L;", "N =\n(N) => N.delete(N);", "C.set(C.N, N)",
      "C.add(N, N);", "C.set(remove, check);", "C.add(check);", "a.b.c;", "N = N ? N : L;", "N.N.N(V);"};

  std::mt19937 random_;
  std::vector<Function> functions_;
};

using Step = void (*)(AnalysisResult&, const TokenList&, const Pass4Trace&);

struct NamedStep {
  const char* name;
  Step fast;
  Step reference;
};

void fast_return_object(AnalysisResult& result, const TokenList&, const Pass4Trace& trace) {
  detect_return_object_variable(result, trace);
}
void reference_return_object(AnalysisResult& result, const TokenList&, const Pass4Trace& trace) {
  pass4_reference::detect_return_object_variable(result, trace);
}
// Pass 5 has no trace.
void fast_pass5(AnalysisResult& result, const TokenList& tokens, const Pass4Trace&) { analyzer5_run(result, tokens); }
void reference_pass5(AnalysisResult& result, const TokenList& tokens, const Pass4Trace&) {
  pass4_reference::analyzer5_run(result, tokens);
}

// In the driver's order.
const NamedStep kDetectors[] = {
    {"detect_read_stream", detect_read_stream, pass4_reference::detect_read_stream},
    {"detect_readline_interface", detect_readline_interface, pass4_reference::detect_readline_interface},
    {"detect_fetch_calls", detect_fetch_calls, pass4_reference::detect_fetch_calls},
    {"detect_set_usage", detect_set_usage, pass4_reference::detect_set_usage},
    {"detect_map_usage", detect_map_usage, pass4_reference::detect_map_usage},
    {"detect_promise_all", detect_promise_all, pass4_reference::detect_promise_all},
    {"detect_promise_race", detect_promise_race, pass4_reference::detect_promise_race},
    {"detect_property_access", detect_property_access, pass4_reference::detect_property_access},
    {"detect_optional_chaining", detect_optional_chaining, pass4_reference::detect_optional_chaining},
    {"detect_nullish_coalescing", detect_nullish_coalescing, pass4_reference::detect_nullish_coalescing},
    {"detect_array_object_push", detect_array_object_push, pass4_reference::detect_array_object_push},
    {"detect_for_of_array_objects", detect_for_of_array_objects, pass4_reference::detect_for_of_array_objects},
    {"detect_readline_lines", detect_readline_lines, pass4_reference::detect_readline_lines},
    {"detect_string_methods", detect_string_methods, pass4_reference::detect_string_methods},
    {"detect_results_promises", detect_results_promises, pass4_reference::detect_results_promises},
    {"detect_delete_return_type", detect_delete_return_type, pass4_reference::detect_delete_return_type},
    {"detect_async_iife", detect_async_iife, pass4_reference::detect_async_iife},
    {"detect_parameter_usage_inference", detect_parameter_usage_inference,
     pass4_reference::detect_parameter_usage_inference},
    {"detect_return_object_variable", fast_return_object, reference_return_object},
};

const NamedStep kPass4 = {"analyzer4_run", analyzer4_run, pass4_reference::analyzer4_run};
const NamedStep kPass5 = {"analyzer5_run", fast_pass5, reference_pass5};

// Runs both versions of a step on copies of `state`, with a trace sink when
// `with_trace`; the first difference in the records or in the trace fails.
// The fast version's state is left in `state`; `out` receives the trace.
void expect_same_step(const NamedStep& step, AnalysisResult& state, const TokenList& tokens, bool with_trace,
                      const std::string& context, std::string* out = nullptr) {
  AnalysisResult fast = state;
  AnalysisResult reference = state;
  const std::string fast_out = traced(with_trace, [&](const Pass4Trace& trace) { step.fast(fast, tokens, trace); });
  const std::string reference_out = traced(with_trace, [&](const Pass4Trace& trace) { step.reference(reference, tokens, trace); });
  ASSERT_EQ(fast_out, reference_out) << step.name << " trace=" << with_trace << "\n" << context;
  ASSERT_EQ(dump(fast), dump(reference)) << step.name << " trace=" << with_trace << "\n" << context;
  state = std::move(fast);
  if (out != nullptr) *out = fast_out;
}

std::string describe(const std::string& source, const TokenList& tokens, const AnalysisResult& result) {
  return "source:\n" + source + "\ntokens kept: " + std::to_string(tokens.count()) + "\nrecords before:\n" +
         dump(result);
}

// Every kind of finding, so that a comparison that passes is not one that
// compared nothing.
const char* const kFindings[] = {
    "FETCH DETECTE", "READSTREAM DETECTE", "READLINE DETECTE", "SET DETECTE", "MAP DETECTEE",
    "PROMISE.ALL DETECTE", "PROMISE.RACE DETECTE", "PROPERTY :", "OPTIONAL CHAINING", "NULLISH FALLBACK",
    "ARRAY PUSH", "TASK OBJECT DETECTE", "ARRAY OBJECT ENREGISTRE", "FIELD :", "FOR-OF DETECTE",
    "OBJECT PROPAGATE", "READLINE LINE DETECTE", "LINE -> STRING", "STRING METHOD", "ARRAY BINDING",
    "BOOLEAN (.delete/.has)", "(Async IIFE)", "(METHOD)", "(FS)", "(TEMPLATE)", "(COMPARE RIGHT)",
    "(COMPARE LEFT)", "concurrencyLimit -> NUMBER", "DEBUG PARAMS", "RETURN OBJECT DETECTE"};

size_t occurrences(const std::string& text, std::string_view word) {
  size_t n = 0;
  for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) ++n;
  return n;
}

TEST(Pass4Reference, EachDetectorMatchesTheLiteralRulesOnGeneratedSources) {
  SourceGenerator generator(20241210);
  std::vector<size_t> found(std::size(kFindings), 0);
  int collection_changes = 0;
  for (int round = 0; round < 600; ++round) {
    const SourceGenerator::Case c = generator.make(1 + generator.pick(30));
    const std::string context = describe(c.source, c.tokens, c.result);
    // Each detector alone on the generated state, with the trace on...
    for (const NamedStep& step : kDetectors) {
      AnalysisResult state = c.result;
      expect_same_step(step, state, c.tokens, 1, context);
      if (HasFatalFailure()) return;
    }
    AnalysisResult alone = c.result;
    expect_same_step(kPass5, alone, c.tokens, 0, context);
    if (HasFatalFailure()) return;
    // ...all of them in a row, compared after every step...
    AnalysisResult chain = c.result;
    for (const NamedStep& step : kDetectors) {
      expect_same_step(step, chain, c.tokens, round % 2, context);
      if (HasFatalFailure()) return;
    }
    // ...and the drivers, with the trace on and off, then pass 5 after them.
    for (bool with_trace : {false, true}) {
      AnalysisResult state = c.result;
      std::string trace;
      expect_same_step(kPass4, state, c.tokens, with_trace, context, &trace);
      if (HasFatalFailure()) return;
      ASSERT_EQ(dump(state), dump(chain)) << "analyzer4_run against its detectors\n" << context;
      const std::string before_pass5 = dump(state);
      expect_same_step(kPass5, state, c.tokens, with_trace, context);
      if (HasFatalFailure()) return;
      if (!with_trace) continue;
      for (size_t f = 0; f < std::size(kFindings); ++f) found[f] += occurrences(trace, kFindings[f]);
      if (dump(state) != before_pass5) ++collection_changes;
    }
  }
  for (size_t f = 0; f < std::size(kFindings); ++f) EXPECT_GE(found[f], 20u) << kFindings[f];
  EXPECT_GE(collection_changes, 20);
}

// Longer sources: walks and uses that reach far from where they start.
TEST(Pass4Reference, MatchesTheLiteralRulesOnLongSources) {
  SourceGenerator generator(4242);
  for (int round = 0; round < 30; ++round) {
    const SourceGenerator::Case c = generator.make(150 + generator.pick(250));
    const std::string context = describe(c.source, c.tokens, c.result);
    for (bool with_trace : {true, false}) {
      AnalysisResult state = c.result;
      expect_same_step(kPass4, state, c.tokens, with_trace, context);
      if (HasFatalFailure()) return;
      expect_same_step(kPass5, state, c.tokens, with_trace, context);
      if (HasFatalFailure()) return;
    }
  }
}

// The states the declaration scan, the structure capture and pass 3 really
// leave, on the examples and on generated sources.
TEST(Pass4Reference, MatchesTheLiteralRulesAfterTheRealScan) {
  std::vector<std::string> sources;
  for (const auto& entry : std::filesystem::directory_iterator(KVX_SOURCE_DIR "/examples")) {
    if (entry.path().extension() == ".js") sources.push_back(kvx_test::read_file(entry.path()));
  }
  ASSERT_FALSE(sources.empty());
  SourceGenerator generator(77);
  for (int round = 0; round < 300; ++round) sources.push_back(generator.source(1 + generator.pick(40)));
  for (const std::string& source : sources) {
    const TokenList tokens = tokenize(source);
    const AnalysisResult scanned = kvx_test::analyze_js(source, 3);
    for (bool with_trace : {true, false}) {
      AnalysisResult state = scanned;
      expect_same_step(kPass4, state, tokens, with_trace, describe(source, tokens, scanned));
      if (HasFatalFailure()) return;
      expect_same_step(kPass5, state, tokens, with_trace, describe(source, tokens, scanned));
      if (HasFatalFailure()) return;
    }
  }
}

}  // namespace
