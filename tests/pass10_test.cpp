#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "analysis/analyzeR10.h"
#include "analysis/analyzeR8.h"
#include "core/tokenizer.h"
#include "class_fixture.h"
#include "test_support.h"

namespace {

using class_test::class_record;
using kvx_test::type_text;
using kvx_test::object_record;
using kvx_test::var_record;

// "greet(name: string | number, times: number)"
std::vector<std::string> describe_methods(const ClassInfo& cls) {
  std::vector<std::string> methods;
  for (const MethodInfo& method : cls.methods) {
    std::string text = method.name + "(";
    EXPECT_EQ(method.param_types.size(), method.param_names.size()) << method.name;
    for (size_t p = 0; p < method.param_names.size() && p < method.param_types.size(); ++p) {
      if (p > 0) text += ", ";
      text += method.param_names[p] + ": " + type_text(method.param_types[p]);
    }
    methods.push_back(text + ")");
  }
  return methods;
}

std::vector<std::string> interface_names(const AnalysisResult& result) {
  std::vector<std::string> names;
  for (const InterfaceInfo& interface : result.interfaces) names.push_back(interface.name);
  return names;
}

// An interface sharing the field list of the object at `index`, as pass 7 makes it.
InterfaceInfo promoted(const AnalysisResult& result, size_t index, const char* name) {
  InterfaceInfo interface;
  interface.name = name;
  interface.fields = result.objects[index].fields;
  return interface;
}

InterfaceInfo standalone_interface(const char* name) {
  InterfaceInfo interface;
  interface.name = name;
  interface.fields->emplace_back("id", TYPE_NUMBER);
  return interface;
}

// ---------------------------------------------------------------------------
// All upper case

TEST(IsAllUppercase, NeedsALetterAndNoLowerCaseOne) {
  const struct {
    const char* text;
    int expected;
  } cases[] = {
      {"MAX_SIZE", 1}, {"HTTP2", 1}, {"A", 1},     {"$X_", 1},     {"\xc3\xa9T", 1},
      {"_1", 0},       {"Api", 0},   {"", 0},      {"aB", 0},      {"ABCd", 0},
      {"123", 0},      {"_$", 0},    {"\xc3\xa9", 0}, {"COLORS", 1}, {"x", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(is_all_uppercase(c.text), c.expected) << c.text;
  EXPECT_EQ(is_all_uppercase(nullptr), 0);
}

// ---------------------------------------------------------------------------
// Constant enumerations

struct EnumCase {
  const char* label;
  std::vector<std::pair<const char*, std::vector<std::string>>> objects;
  std::vector<const char*> interfaces;  // standalone interfaces, in list order
  std::vector<int> readonly;            // per object afterwards
  std::vector<std::string> remaining;   // interfaces afterwards
};

TEST(ConstEnums, MarksUpperCaseObjectsAndWithdrawsUpperCaseInterfaces) {
  const EnumCase cases[] = {
      {"enum", {{"COLORS", {"RED", "GREEN"}}}, {"COLORS"}, {1}, {}},
      {"no fields", {{"HTTP_CODES", {}}}, {"API"}, {0}, {"API"}},
      {"mixed case", {{"Colors", {"RED"}}}, {"Colors"}, {0}, {"Colors"}},
      {"one-letter interface goes too",
       {{"COLORS", {"RED"}}, {"x", {"a"}}},
       {"COLORS", "X", "User"},
       {1, 0},
       {"User"}},
      {"order kept",
       {{"LIMITS", {"MAX"}}},
       {"Pa", "Q_R", "Sa", "T_U", "Va", "LIMITS"},
       {1},
       {"Pa", "Sa", "Va"}},
      {"two enums", {{"A_B", {"k"}}, {"user", {"n"}}, {"C", {"v"}}},
       {"User", "A_B", "C", "D"},
       {1, 0, 1},
       {"User"}},
      {"nothing to withdraw without an enum", {{"lower", {"a"}}}, {"X", "HTTP"}, {0}, {"X", "HTTP"}},
      {"no interfaces at all", {{"MODES", {"ON", "OFF"}}}, {}, {1}, {}},
  };
  for (const EnumCase& c : cases) {
    AnalysisResult result;
    for (const auto& [name, fields] : c.objects) {
      result.objects.push_back(object_record(name, fields));
      result.objects.back().readonly = 1;  // stale: every object is reset
    }
    for (const char* name : c.interfaces) result.interfaces.push_back(standalone_interface(name));
    detect_const_enums(result);
    std::vector<int> readonly;
    for (const ObjectInfo& object : result.objects) readonly.push_back(object.readonly);
    EXPECT_EQ(readonly, c.readonly) << c.label;
    EXPECT_EQ(interface_names(result), c.remaining) << c.label;
  }
}

TEST(ConstEnums, TypesTheFirstVariableAsAnInlineObject) {
  AnalysisResult result;
  result.objects.push_back(object_record("COLORS", {"RED", "GREEN"}));
  result.interfaces.push_back(promoted(result, 0, "COLORS"));
  result.vars.push_back(var_record("COLORS", TYPE_INTERFACE, "COLORS"));
  result.vars[0].type.element_kind = TYPE_STRING;
  result.vars.push_back(var_record("COLORS", TYPE_INTERFACE, "COLORS"));
  const std::shared_ptr<FieldList> fields = result.objects[0].fields;

  detect_const_enums(result);

  EXPECT_EQ(result.vars[0].type.kind, TYPE_OBJECT);
  EXPECT_TRUE(result.vars[0].type.interface_name.empty());
  EXPECT_EQ(result.vars[0].type.element_kind, TYPE_STRING);  // nothing else changes
  // The withdrawn interface's field list stays with its object, whole.
  EXPECT_EQ(result.objects[0].fields, fields);
  ASSERT_EQ(result.objects[0].field_count(), 2);
  EXPECT_EQ((*result.objects[0].fields)[1].name, "GREEN");
  EXPECT_EQ(fields.use_count(), 2);  // the object and this test: the interface let go
}

TEST(ConstEnums, ReferencesToAWithdrawnInterfaceBecomeItsInlineType) {
  // Pass 7 typed `x` and the first parameter of `save` with interfaces that
  // the enumeration withdraws; a name the output no longer declares must not
  // be left behind.
  AnalysisResult result;
  result.objects.push_back(object_record("COLORS", {"RED", "GREEN"}));
  result.objects.push_back(object_record("x", {"a"}));
  result.objects.push_back(object_record("user", {"n"}));
  result.interfaces.push_back(promoted(result, 0, "COLORS"));
  result.interfaces.push_back(promoted(result, 1, "X"));
  result.interfaces.push_back(promoted(result, 2, "User"));
  result.vars.push_back(var_record("COLORS", TYPE_INTERFACE, "COLORS"));
  result.vars.push_back(var_record("x", TYPE_INTERFACE, "X"));
  result.vars.push_back(var_record("user", TYPE_INTERFACE, "User"));
  FuncInfo save;
  save.name = "save";
  save.param_names = {"palette", "who"};
  save.param_types.resize(2);
  save.param_types[0].kind = TYPE_INTERFACE;
  save.param_types[0].interface_name = "COLORS";
  save.param_types[1].kind = TYPE_INTERFACE;
  save.param_types[1].interface_name = "User";
  result.funcs.push_back(save);

  detect_const_enums(result);

  EXPECT_EQ(interface_names(result), (std::vector<std::string>{"User"}));
  EXPECT_EQ(result.vars[1].type.kind, TYPE_OBJECT);
  EXPECT_TRUE(result.vars[1].type.interface_name.empty());
  EXPECT_TRUE(result.vars[1].type.fields.empty());  // written from its object record
  EXPECT_EQ(result.vars[2].type.kind, TYPE_INTERFACE);
  EXPECT_EQ(result.vars[2].type.interface_name, "User");
  const TypeInfo& palette = result.funcs[0].param_types[0];
  EXPECT_EQ(palette.kind, TYPE_OBJECT);
  EXPECT_TRUE(palette.interface_name.empty());
  ASSERT_EQ(palette.fields.size(), 2u);
  EXPECT_EQ(palette.fields[0].name, "RED");
  EXPECT_EQ(palette.fields[1].name, "GREEN");
  EXPECT_EQ(palette.fields[1].kind, TYPE_STRING);
  EXPECT_EQ(result.funcs[0].param_types[1].interface_name, "User");
}

// ---------------------------------------------------------------------------
// Method parameters

struct ParamCase {
  const char* source;
  std::vector<std::pair<const char*, int>> vars;
  std::vector<std::string> methods;  // of class G
};

// The methods of class G after pass 8's method capture and the parameter
// rules ran on the case's source, the case's variables being the only ones.
std::vector<std::string> methods_after(const ParamCase& c) {
  const TokenList tokens = tokenize(c.source);
  AnalysisResult result;
  result.classes.push_back(class_record("G"));
  for (const auto& [name, kind] : c.vars) result.vars.push_back(var_record(name, kind));
  detect_class_methods(result, tokens, index_file(tokens));
  infer_class_method_params(result, tokens, index_file(tokens));
  return describe_methods(result.classes[0]);
}

// A method record as pass 8 makes it; its parameter list may not be one that
// pass 8 would accept from the same tokens.
AnalysisResult class_with_method(const char* name, std::vector<std::string> params) {
  AnalysisResult result;
  result.classes.push_back(class_record("G"));
  MethodInfo method;
  method.name = name;
  method.param_names = std::move(params);
  result.classes[0].methods.push_back(method);
  return result;
}

TEST(MethodParams, TypesFromDefaultsAndCallSites) {
  const ParamCase cases[] = {
      {"class G { greet(name = \"World\", times = 3) { } }", {}, {"greet(name: string, times: number)"}},
      {"class G { greet(name) { } } g.greet(\"a\"); g.greet(5);", {}, {"greet(name: string | number)"}},
      {"class G { greet(name) { } }", {}, {"greet(name: unknown)"}},
      {"class G { greet(name = 'w') { } } g.greet(5);", {}, {"greet(name: string | number)"}},
      {"class G { m(a, b) { } } o.m(1);", {}, {"m(a: number, b: unknown)"}},
      {"class G { m(a) { } } o.m(1, 'x', true);", {}, {"m(a: number)"}},
      {"class G { m(a, b) { } } o.m(true, `t${x}`);", {}, {"m(a: boolean, b: string)"}},
      // Variables give their kind only (an interface or named type without
      // its name as well).
      {"class G { m(a) { } } o.m(user);", {{"user", TYPE_INTERFACE}}, {"m(a: Interface)"}},
      {"class G { m(a) { } } o.m(when);", {{"when", TYPE_NAMED}}, {"m(a: NamedType)"}},
      {"class G { m(a) { } } this.m(user.name);", {{"user", TYPE_STRING}}, {"m(a: string)"}},
      {"class G { m(a) { } } o.m(v);", {{"v", TYPE_NUMBER}, {"v", TYPE_STRING}}, {"m(a: number)"}},
      {"class G { m(a) { } } o.m(nobody);", {}, {"m(a: unknown)"}},
      // Only the first token of an argument counts.
      {"class G { m(a) { } } o.m(n + 'x');", {{"n", TYPE_NUMBER}}, {"m(a: number)"}},
      {"class G { m(a) { } } o.m(-1);", {}, {"m(a: unknown)"}},
      // Nesting is not tracked in calls: a `,` inside a nested call advances.
      {"class G { m(a, b) { } } o.m(f(1, 2), 'late');", {}, {"m(a: unknown, b: number)"}},
      // A call without a receiver has no `.`; a default written at a call counts.
      {"class G { m(a) { } } m(5);", {}, {"m(a: unknown)"}},
      {"class G { m(a) { } } o.m(v = 'z');", {}, {"m(a: string)"}},
      // Methods without parameters keep no types.
      {"class G { m() { } } o.m(1);", {}, {"m()"}},
      // A default value that is a name is a value, not a parameter.
      {"class G { m(a = b) { } } o.m(1, 'two');", {}, {"m(a: number)"}},
      // A destructuring pattern is one parameter, typed by its form.
      {"class G { m({ a = 1, b }, c = 'x') { } } o.m(2, 3);", {}, {"m({ a, b }: { a: number; b: any }, c: string | number)"}},
      {"class G { m(a, ...rest) { } } o.m(1, 2, 3);", {}, {"m(a: number, ...rest: any[])"}},
  };
  for (const ParamCase& c : cases) EXPECT_EQ(methods_after(c), c.methods) << c.source;
}

// An interface or named type is only ever written with its name: an
// argument of such a type gives an empty parameter the type with its name,
// never its fields.
TEST(MethodParams, InterfaceAndNamedKindsCarryTheirNamesButNoFields) {
  const TokenList tokens = tokenize("class G { m(a, b, c) { } } o.m(user, when, user); o.m(user, when, 2);");
  AnalysisResult result;
  result.classes.push_back(class_record("G"));
  result.vars.push_back(var_record("user", TYPE_INTERFACE, "User"));
  result.vars.push_back(var_record("when", TYPE_NAMED));
  result.vars[1].type.type_name = "Date";
  result.vars[1].type.fields.push_back({"f", TYPE_NUMBER});
  detect_class_methods(result, tokens, index_file(tokens));
  infer_class_method_params(result, tokens, index_file(tokens));
  const MethodInfo& method = result.classes[0].methods[0];
  EXPECT_EQ(method.param_types[0].kind, TYPE_INTERFACE);
  EXPECT_EQ(method.param_types[0].interface_name, "User");
  EXPECT_EQ(method.param_types[1].kind, TYPE_NAMED);
  EXPECT_EQ(method.param_types[1].type_name, "Date");
  EXPECT_TRUE(method.param_types[1].fields.empty());
  EXPECT_EQ(type_text(method.param_types[2]), "Interface | number");  // a later kind makes a union
}

TEST(MethodParams, SameNameInTwoClassesSharesEveryCall) {
  const TokenList tokens =
      tokenize("class A { save(x) { } } class B { save(y, z = 0) { } } store.save('s');");
  AnalysisResult result;
  for (const char* name : {"A", "B"}) result.classes.push_back(class_record(name));
  detect_class_methods(result, tokens, index_file(tokens));
  infer_class_method_params(result, tokens, index_file(tokens));
  EXPECT_EQ(describe_methods(result.classes[0]), (std::vector<std::string>{"save(x: string)"}));
  EXPECT_EQ(describe_methods(result.classes[1]), (std::vector<std::string>{"save(y: string, z: number)"}));
}

TEST(MethodParams, ScanBoundsAtTheEndOfTheList) {
  const ParamCase cases[] = {
      {"class G { m(a) { } } o.m(1)", {}, {"m(a: number)"}},  // `.` at count - 5
      {"class G { m(a) { } } o.m(1", {}, {"m(a: unknown)"}},   // `.` at count - 4: not examined
      {"class G { m(a) { } } o.m(x, 1", {}, {"m(a: unknown)"}},
      {"class G { m(a, b) { } } o.m(x, 1", {}, {"m(a: unknown, b: number)"}},
      {"class G { m(a = 1", {}, {}},  // no body: no method
  };
  for (const ParamCase& c : cases) EXPECT_EQ(methods_after(c), c.methods) << c.source;

  // Defaults: the walk stops at the end of the list without a `)`.
  const TokenList tokens = tokenize("o.m(1); m(a = 'x'");
  AnalysisResult result = class_with_method("m", {"a"});
  infer_class_method_params(result, tokens, index_file(tokens));
  EXPECT_EQ(describe_methods(result.classes[0]), (std::vector<std::string>{"m(a: string | number)"}));
}

TEST(MethodParams, DefaultsCountOnlyTheListsOwnCommas) {
  const struct {
    const char* source;
    std::vector<std::string> methods;
  } cases[] = {
      {"m(a = 1, b = 'x') { }", {"m(a: number, b: string)"}},
      {"m(a = f(x, 'y'), b = 3) { }", {"m(a: unknown, b: number)"}},
      {"m(a = [1, 2], b = true) { }", {"m(a: unknown, b: boolean)"}},
      {"m({ a = 'x', c } = {}, b = true) { }", {"m(a: unknown, b: boolean)"}},  // the pattern's own defaults are not a's
      {"m(a = 1, b = 2, c = 'three') { }", {"m(a: number, b: number)"}},  // stops at param_count
      {"m(a = -1, b = !0) { }", {"m(a: unknown, b: unknown)"}},
  };
  for (const auto& c : cases) {
    const TokenList tokens = tokenize(c.source);
    AnalysisResult result = class_with_method("m", {"a", "b"});
    infer_class_method_params(result, tokens, index_file(tokens));
    EXPECT_EQ(describe_methods(result.classes[0]), c.methods) << c.source;
  }
}

TEST(MethodParams, AllocatesFreshTypesForEveryMethod) {
  const TokenList tokens = tokenize("x.m(1);");
  AnalysisResult result;
  ClassInfo cls;
  cls.name = "G";
  MethodInfo with_params;
  with_params.name = "m";
  with_params.param_names = {"a", "b"};
  with_params.param_types.resize(5);  // stale
  for (TypeInfo& type : with_params.param_types) type.kind = TYPE_STRING;
  MethodInfo without;
  without.name = "n";
  without.param_types.resize(1);
  cls.methods = {with_params, without};
  result.classes.push_back(cls);
  infer_class_method_params(result, tokens, index_file(tokens));
  EXPECT_EQ(describe_methods(result.classes[0]), (std::vector<std::string>{"m(a: number, b: unknown)", "n()"}));
  EXPECT_TRUE(result.classes[0].methods[1].param_types.empty());
}

// The method-parameter rules read literally: every method of every class at
// every matching token, variables by a linear first-match search. The pass
// works per group of methods; it must give the same types.
void reference_method_params(AnalysisResult& result, const TokenList& tokens) {
  const int count = tokens.count();
  for (ClassInfo& cls : result.classes) {
    for (MethodInfo& method : cls.methods) {
      method.param_types.assign(static_cast<size_t>(method.param_count()), TypeInfo{});
    }
  }
  for (int i = 0; i < count - 4; ++i) {
    if (tokens.items[i].kind != TK_IDENTIFIER || tokens.items[i + 1].kind != TK_LPAREN) continue;
    for (ClassInfo& cls : result.classes) {
      for (MethodInfo& method : cls.methods) {
        if (method.name != tokens.items[i].text) continue;
        // Only the list's own `=` and `,` count, not those nested in brackets.
        int position = 0;
        int depth = 0;
        for (int k = i + 2; k < count && position != method.param_count(); ++k) {
          const int kind = tokens.items[k].kind;
          if (kind == TK_LPAREN || kind == TK_LBRACKET || kind == TK_LBRACE) {
            ++depth;
          } else if (kind == TK_RPAREN || kind == TK_RBRACKET || kind == TK_RBRACE) {
            if (depth == 0) break;
            --depth;
          } else if (depth == 0 && kind == TK_ASSIGN && k + 1 < count) {
            const int literal = infer_literal_type(&tokens.items[k + 1]);
            if (literal != 0) add_union_type(method.param_types[position], literal);
          } else if (depth == 0 && kind == TK_COMMA) {
            ++position;
          }
        }
      }
    }
  }
  for (int i = 0; i < count - 4; ++i) {
    if (tokens.items[i].kind != TK_DOT || tokens.items[i + 1].kind != TK_IDENTIFIER ||
        tokens.items[i + 2].kind != TK_LPAREN) {
      continue;
    }
    for (ClassInfo& cls : result.classes) {
      for (MethodInfo& method : cls.methods) {
        if (method.name != tokens.items[i + 1].text) continue;
        int m = i + 3;
        int position = 0;
        while (m < count && tokens.items[m].kind != TK_RPAREN && position < method.param_count()) {
          int kind = infer_literal_type(&tokens.items[m]);
          const VarInfo* var = nullptr;
          if (kind == 0 && tokens.items[m].kind == TK_IDENTIFIER) {
            var = find_var(result, tokens.items[m].text);
            kind = var != nullptr ? var->type.kind : 0;
          }
          TypeInfo& type = method.param_types[position];
          const bool named = var != nullptr && ((kind == TYPE_INTERFACE && !var->type.interface_name.empty()) ||
                                                (kind == TYPE_NAMED && !var->type.type_name.empty()));
          if (named && type.kind == 0) {
            // An empty parameter takes an interface or named type whole, name included.
            type.kind = static_cast<TypeKind>(kind);
            type.interface_name = var->type.interface_name;
            type.type_name = var->type.type_name;
          } else if (kind != 0) {
            add_union_type(type, kind);
          }
          while (m < count && tokens.items[m].kind != TK_COMMA && tokens.items[m].kind != TK_RPAREN) {
            ++m;
          }
          if (m < count && tokens.items[m].kind == TK_COMMA) {
            ++position;
            ++m;
          }
        }
      }
    }
  }
  for (ClassInfo& cls : result.classes) {
    for (MethodInfo& method : cls.methods) {
      for (TypeInfo& type : method.param_types) {
        if (type.kind == 0) type.kind = TYPE_UNKNOWN;
      }
    }
  }
}

TEST(MethodParams, MatchesTheLiteralRulesOnGeneratedSources) {
  const char* names[] = {"save", "load", "run"};
  const char* params[] = {"a", "b = 1", "c = 'x'", "d = true", "e = f(1, 2)", "g = [3, 'y']"};
  const char* args[] = {"1", "'s'", "true", "n", "s", "u", "nobody", "-1", "h(2, 'z')",
                        "v = 'w'", "`t`", "o.p"};
  std::mt19937 random(20240611);
  for (int round = 0; round < 40; ++round) {
    std::string source;
    AnalysisResult result;
    for (int c = 0; c < 4; ++c) {
      source += "class K" + std::to_string(c) + " {\n";
      for (int m = 0; m < 3; ++m) {
        source += std::string("  ") + names[random() % 3] + "(";
        const int param_count = static_cast<int>(random() % 4);
        for (int p = 0; p < param_count; ++p) {
          source += std::string(p > 0 ? ", " : "") + params[random() % 6];
        }
        source += ") { }\n";
      }
      source += "}\n";
      result.classes.push_back(class_record("K" + std::to_string(c)));
    }
    for (int call = 0; call < 8; ++call) {
      source += std::string(random() % 4 == 0 ? "" : "x.") + names[random() % 3] + "(";
      const int arg_count = static_cast<int>(random() % 4);
      for (int a = 0; a < arg_count; ++a) {
        source += std::string(a > 0 ? ", " : "") + args[random() % 12];
      }
      source += ");\n";
    }
    result.vars.push_back(var_record("n", TYPE_NUMBER));
    result.vars.push_back(var_record("s", TYPE_STRING));
    result.vars.push_back(var_record("u", TYPE_INTERFACE, "U"));
    result.vars.push_back(var_record("n", TYPE_STRING));
    const TokenList tokens = tokenize(source);
    detect_class_methods(result, tokens, index_file(tokens));
    AnalysisResult expected = result;
    reference_method_params(expected, tokens);
    infer_class_method_params(result, tokens, index_file(tokens));
    for (size_t c = 0; c < result.classes.size(); ++c) {
      EXPECT_EQ(describe_methods(result.classes[c]), describe_methods(expected.classes[c])) << source;
    }
  }
}

// ---------------------------------------------------------------------------
// The pass as a whole

TEST(Analyzer10, EnumsThenMethodParameters) {
  const TokenList tokens = tokenize(
      "const MODE = { ON: 'on' };\n"
      "class Lamp { set(mode, level = 1) { } }\n"
      "lamp.set(current, 5);\n");
  AnalysisResult result;
  result.objects.push_back(object_record("MODE", {"ON"}));
  result.interfaces.push_back(promoted(result, 0, "MODE"));
  result.vars.push_back(var_record("MODE", TYPE_INTERFACE, "MODE"));
  result.vars.push_back(var_record("current", TYPE_INTERFACE, "MODE"));
  result.classes.push_back(class_record("Lamp"));
  detect_class_methods(result, tokens, index_file(tokens));
  analyzer10_run(result, tokens, index_file(tokens));
  EXPECT_EQ(result.objects[0].readonly, 1);
  EXPECT_TRUE(result.interfaces.empty());
  EXPECT_EQ(result.vars[0].type.kind, TYPE_OBJECT);
  // `current` no longer names the withdrawn interface, so the call gives 6.
  EXPECT_EQ(describe_methods(result.classes[0]),
            (std::vector<std::string>{"set(mode: object, level: number)"}));
}

// ---------------------------------------------------------------------------
// Through the whole pipeline

TEST(Pass10Pipeline, ConstEnumIsWrittenInlineAndReadonly) {
  kvx_test::ScopedWorkDir dir;
  const std::string ts = kvx_test::transpile_js(
      "const COLORS = { RED: 'r', GREEN: 'g' };\n"
      "const user = { name: 'a', age: 1 };\n"
      "const x = { a: 1 };\n"
      "const Colors = { RED: 1 };\n");
  EXPECT_THAT(ts, testing::HasSubstr(
                      "declare const COLORS: { readonly RED: string; readonly GREEN: string };\n"));
  EXPECT_THAT(ts, testing::Not(testing::HasSubstr("interface COLORS")));
  EXPECT_THAT(ts, testing::HasSubstr("interface User {\n"));
  EXPECT_THAT(ts, testing::HasSubstr("declare const user: User;\n"));
  EXPECT_THAT(ts, testing::HasSubstr("interface Colors {\n"));
  // `x` loses its interface X with the enumeration, and is written inline.
  EXPECT_THAT(ts, testing::Not(testing::HasSubstr("interface X")));
  EXPECT_THAT(ts, testing::HasSubstr("declare const x: { a: number };\n"));
}

TEST(Pass10Pipeline, MethodParametersFromDefaultsAndCalls) {
  kvx_test::ScopedWorkDir dir;
  const std::string ts = kvx_test::transpile_js(
      "class Greeter {\n"
      "  greet(name = \"World\", times = 3) { return name; }\n"
      "  say(word) { return word; }\n"
      "  idle(x) { }\n"
      "  ping() { return true; }\n"
      "}\n"
      "const g = new Greeter();\n"
      "g.say('a');\n"
      "g.say(5);\n");
  // The returned parameters are values of no literal kind: the results stay open.
  EXPECT_THAT(ts, testing::HasSubstr("    greet(name?: string, times?: number): unknown;\n"));
  EXPECT_THAT(ts, testing::HasSubstr("    say(word: string | number): unknown;\n"));
  EXPECT_THAT(ts, testing::HasSubstr("    idle(x: unknown): void;\n"));
  EXPECT_THAT(ts, testing::HasSubstr("    ping(): boolean;\n"));
}

}  // namespace
