#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "analysis/analyzeR7.h"
#include "analysis/file_index.h"
#include "core/tokenizer.h"
#include "reference/literal_twins.h"
#include "test_support.h"

namespace {

using kvx_test::func_record;
using kvx_test::object_record;
using kvx_test::var_record;

TEST(GenerateInterfaceName, StripsFrenchPrefixesAndRaisesTheFirstLetter) {
  struct Case {
    const char* name;
    const char* interface_name;
  } cases[] = {
      {"user", "User"},
      {"User", "User"},
      {"nouvelUtilisateur", "Utilisateur"},
      {"nouvelleCommande", "Commande"},
      {"nouveauProduit", "Produit"},
      {"nouvelle", "Nouvelle"},
      {"nouvel", "Nouvel"},
      {"nouveau", "Nouveau"},
      {"nouvelU", "U"},
      {"nouvelleplace", "Nouvelleplace"},
      {"nouvel_x", "Nouvel_x"},
      {"nouvel1", "Nouvel1"},
      {"nouvelÉlan", "NouvelÉlan"},  // only ASCII A to Z count as upper case
      {"Nouvelle", "Nouvelle"},      // the prefixes are lower case
      {"newUser", "NewUser"},
      {"_private", "_private"},
      {"$store", "$store"},
      {"zeta", "Zeta"},
      {"a", "A"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(generate_interface_name(c.name), c.interface_name) << c.name;
}

TEST(IsReservedTsType, KnowsTheElevenBuiltInNames) {
  for (const char* name : {"Response", "Request", "Error", "Buffer", "Set", "Map", "Promise", "Date",
                           "RegExp", "EventEmitter", "ChildProcess"}) {
    EXPECT_EQ(is_reserved_ts_type(name), 1) << name;
  }
  for (const char* name : {"error", "Errors", "Regexp", "Object", "Array", "String", "", "Child"}) {
    EXPECT_EQ(is_reserved_ts_type(name), 0) << name;
  }
}

TEST(IsLocalObject, FindsDeclarationTextsAnywhereInFunctionBodies) {
  struct Case {
    std::vector<const char*> bodies;  // "-" stands for a function without body
    const char* name;
    int local;
  } cases[] = {
      {{"const user = { a: 1 };"}, "user", 1},
      {{"let userCount = 0;"}, "user", 1},
      {{"var users = [];"}, "user", 1},
      {{"return user;"}, "user", 0},
      {{"const  user = 1;"}, "user", 0},
      {{"constuser = 1;"}, "user", 0},
      {{"myconst user"}, "user", 1},
      {{"const User = 1;"}, "user", 0},
      {{"-", "x", "let cfg;"}, "cfg", 1},
      {{"-"}, "cfg", 0},
      {{}, "cfg", 0},
      {{"let c"}, "cfg", 0},
  };
  for (const Case& c : cases) {
    AnalysisResult result;
    for (const char* body : c.bodies) {
      result.funcs.push_back(func_record("f", {}, std::string(body) == "-" ? std::nullopt : std::optional<std::string>(body)));
    }
    EXPECT_EQ(reference::is_local_object(result, c.name), c.local) << c.name;
  }
}

TEST(IsLocalObject, MatchesOnlyWhatFitsA256ByteBuffer) {
  const std::string name(300, 'n');
  struct Case {
    std::string body;
    int local;
  } cases[] = {
      {"const " + name.substr(0, 249), 1},  // "const " + 249 = 255 characters
      {"const " + name.substr(0, 248), 0},
      {"let " + name.substr(0, 251), 1},
      {"let " + name.substr(0, 250), 0},
      {"var " + name.substr(0, 251) + "x", 1},
  };
  for (const Case& c : cases) {
    AnalysisResult result;
    result.funcs.push_back(func_record("f", {}, c.body));
    EXPECT_EQ(reference::is_local_object(result, name), c.local) << c.body.size();
  }
}

TEST(PromoteObjects, TurnsTopLevelObjectsIntoInterfacesSharingTheirFields) {
  AnalysisResult result;
  result.objects.push_back(object_record("user", {"name", "age"}));
  result.vars.push_back(var_record("other"));
  VarInfo user = var_record("user", TYPE_OBJECT);
  user.type.type_name = "kept";
  user.type.fields.push_back({"name", TYPE_STRING});
  result.vars.push_back(user);
  result.vars.push_back(var_record("user"));

  promote_objects_to_interfaces(result);

  ASSERT_EQ(result.interfaces.size(), 1u);
  EXPECT_EQ(result.interfaces[0].name, "User");
  EXPECT_EQ(result.interfaces[0].fields.get(), result.objects[0].fields.get());
  EXPECT_EQ(result.interfaces[0].field_count(), 2);
  EXPECT_EQ(result.interfaces[0].object_name, "user");  // the emitter tells two variables apart by it
  // Only the first variable of the name, and only its kind and interface name.
  EXPECT_EQ(result.vars[1].type.kind, TYPE_INTERFACE);
  EXPECT_EQ(result.vars[1].type.interface_name, "User");
  EXPECT_EQ(result.vars[1].type.type_name, "kept");
  EXPECT_EQ(result.vars[1].type.fields.size(), 1u);
  EXPECT_EQ(result.vars[2].type.kind, TYPE_NONE);
  EXPECT_EQ(result.vars[0].type.kind, TYPE_NONE);

  // A field added through the object shows in the interface: one list.
  result.objects[0].fields->emplace_back("email", TYPE_STRING);
  EXPECT_EQ(result.interfaces[0].field_count(), 3);
}

TEST(PromoteObjects, SkipsEmptyLocalAndReservedObjects) {
  struct Case {
    std::vector<std::string> objects;
    std::vector<const char*> bodies;
    std::vector<std::string> interfaces;
  } cases[] = {
      {{"empty"}, {}, {}},  // no fields (see below)
      {{"error", "request", "response", "buffer", "set", "map", "promise", "date", "regExp",
        "eventEmitter", "childProcess"},
       {},
       {}},
      {{"errors", "nouvelError"}, {}, {"Errors"}},  // nouvelError gives Error
      {{"user"}, {"let userCount = 0;"}, {}},
      {{"user", "cfg"}, {"const cfg2 = 1;"}, {"User"}},
      {{"user", "User"}, {}, {"User", "User"}},
      {{"nouvelleCommande", "config"}, {"return 1;"}, {"Commande", "Config"}},
  };
  for (const Case& c : cases) {
    AnalysisResult result;
    for (const std::string& name : c.objects) {
      result.objects.push_back(object_record(name, name == "empty" ? std::vector<std::string>{} : std::vector<std::string>{"f"}));
      result.vars.push_back(var_record(name));
    }
    for (const char* body : c.bodies) result.funcs.push_back(func_record("f", {}, std::string(body)));

    promote_objects_to_interfaces(result);

    std::vector<std::string> names;
    for (const InterfaceInfo& interface : result.interfaces) names.push_back(interface.name);
    EXPECT_EQ(names, c.interfaces) << c.objects[0];
    for (size_t o = 0; o < c.objects.size(); ++o) {
      const bool promoted = std::find(names.begin(), names.end(), generate_interface_name(c.objects[o])) != names.end();
      EXPECT_EQ(result.vars[o].type.kind, promoted ? TYPE_INTERFACE : TYPE_NONE) << c.objects[o];
    }
  }
}

TEST(PromoteObjects, SkipsExactlyTheObjectsThatIsLocalObjectReports) {
  // Names that are prefixes of each other, long names cut by the pattern
  // buffer, and bodies whose declarations overlap or end the text.
  const std::string long_name(260, 'q');
  std::vector<std::string> names = {"a",   "ab",   "abc",  "b",         "user",        "users", "u",
                                    "cfg", "x1",   "zz",   long_name,   long_name + "r", "q",   "const"};
  const std::vector<std::string> bodies = {
      "const ab = 1; let x1;",
      "var abcd; const  zz",
      "let use",
      "const const q",
      "var " + long_name.substr(0, 251),
      "const cfg",
      "",
  };
  AnalysisResult result;
  for (const std::string& name : names) result.objects.push_back(object_record(name, {"f"}));
  for (const std::string& body : bodies) result.funcs.push_back(func_record("f", {}, body));
  result.funcs.push_back(func_record("g", {}));

  std::vector<std::string> expected;
  for (const std::string& name : names) {
    if (!reference::is_local_object(result, name)) expected.push_back(generate_interface_name(name));
  }
  promote_objects_to_interfaces(result);
  std::vector<std::string> promoted;
  for (const InterfaceInfo& interface : result.interfaces) promoted.push_back(interface.name);
  EXPECT_EQ(promoted, expected);
  // The table holds both outcomes.
  EXPECT_LT(promoted.size(), names.size());
  EXPECT_GT(promoted.size(), 3u);
}

// Functions and variables of a propagation fixture.
struct Fixture {
  AnalysisResult result;

  FuncInfo& func(const std::string& name, const std::vector<std::string>& params, int return_kind = TYPE_NONE) {
    result.funcs.push_back(func_record(name, params));
    result.funcs.back().return_type.kind = static_cast<TypeKind>(return_kind);
    return result.funcs.back();
  }
  void run(const std::string& source) {
    const TokenList tokens = tokenize(source);
    propagate_function_calls(result, tokens, index_file(tokens));
  }
};

TEST(PropagateCalls, ArgumentRuleTypesTheFirstParameterFromAnInterfaceVariable) {
  struct Case {
    const char* source;
    int param_kind;
  } cases[] = {
      {"save(user);", TYPE_INTERFACE},
      {"save(user.profile);", TYPE_INTERFACE},
      {"store.save(user);", TYPE_INTERFACE},
      {"function save(user) { }", TYPE_INTERFACE},
      {"save(user)", TYPE_INTERFACE},
      {"save(user", TYPE_NONE},  // the last three tokens never start a match
      {"save(x, user);", TYPE_NONE},
      {"save((user));", TYPE_NONE},
      {"save(plain);", TYPE_NONE},
      {"Save(user);", TYPE_NONE},
      {"save (user);", TYPE_INTERFACE},
      {"keep(user);", TYPE_NONE},
  };
  for (const Case& c : cases) {
    Fixture fx;
    fx.func("save", {"u", "second"});
    fx.result.funcs[0].param_shapes[0].fields.push_back({"name", TYPE_STRING});
    fx.result.funcs[0].param_shapes[1].fields.push_back({"id", TYPE_NUMBER});
    fx.func("keep", {});
    fx.result.vars.push_back(var_record("user", TYPE_INTERFACE, "User"));
    fx.result.vars.push_back(var_record("plain", TYPE_OBJECT));

    fx.run(c.source);

    const FuncInfo& save = fx.result.funcs[0];
    EXPECT_EQ(save.param_types[0].kind, c.param_kind) << c.source;
    EXPECT_EQ(save.param_types[0].interface_name, c.param_kind ? "User" : "") << c.source;
    EXPECT_EQ(save.param_shapes[0].fields.size(), c.param_kind ? 0u : 1u) << c.source;
    EXPECT_EQ(save.param_types[1].kind, TYPE_NONE) << c.source;
    EXPECT_EQ(save.param_shapes[1].fields.size(), 1u) << c.source;
  }
}

TEST(PropagateCalls, ArgumentRuleTakesTheFirstInterfaceTypedVariableOfTheName) {
  Fixture fx;
  fx.func("save", {"u"});
  fx.func("save", {"v"});
  fx.result.vars.push_back(var_record("user", TYPE_NUMBER));
  fx.result.vars.push_back(var_record("user", TYPE_INTERFACE, "Account"));
  fx.result.vars.push_back(var_record("user", TYPE_INTERFACE, "Other"));
  fx.run("save(user);");
  EXPECT_EQ(fx.result.funcs[0].param_types[0].interface_name, "Account");
  EXPECT_EQ(fx.result.funcs[1].param_types[0].kind, TYPE_NONE);  // only the first function
}

TEST(PropagateCalls, ResultRuleCopiesTheReturnTypeIntoADeclaredVariable) {
  struct Case {
    const char* source;
    int kind;
  } cases[] = {
      {"const total = sum(1, 2);", TYPE_NUMBER},
      {"let total = sum();", TYPE_NUMBER},
      {"var total = sum(a)", TYPE_NUMBER},
      {"let total = sum()", TYPE_STRING},  // the `(` is one of the last three tokens
      {"const total = await sum(1, 2);", TYPE_STRING},
      {"total = sum(1, 2);", TYPE_STRING},
      {"const total = add(1, 2);", TYPE_STRING},
      {"const total = x.sum(1, 2);", TYPE_STRING},
      {"const total = sum + 1;", TYPE_STRING},
  };
  for (const Case& c : cases) {
    Fixture fx;
    fx.func("sum", {"a", "b"}, TYPE_NUMBER);
    fx.result.vars.push_back(var_record("total", TYPE_STRING));
    fx.result.vars.push_back(var_record("total", TYPE_BOOLEAN));
    fx.run(c.source);
    EXPECT_EQ(fx.result.vars[0].type.kind, c.kind) << c.source;
    EXPECT_EQ(fx.result.vars[1].type.kind, TYPE_BOOLEAN) << c.source;
  }
}

TEST(PropagateCalls, ResultRuleCopiesTheWholeType) {
  Fixture fx;
  FuncInfo& make = fx.func("make", {});
  make.return_type.kind = TYPE_UNION;
  make.return_type.members = {1, 2, 0, 0};
  make.return_type.member_count = 2;
  make.return_type.type_name = "T";
  make.return_type.fields.push_back({"id", TYPE_NUMBER});
  VarInfo v = var_record("v", TYPE_NAMED);
  v.type.element_kind = TYPE_STRING;
  fx.result.vars.push_back(v);
  fx.run("let v = make();");
  const TypeInfo& type = fx.result.vars[0].type;
  EXPECT_EQ(type.kind, TYPE_UNION);
  EXPECT_EQ(type.member_count, 2);
  EXPECT_EQ(type.members[1], 2);
  EXPECT_EQ(type.type_name, "T");
  EXPECT_EQ(type.element_kind, TYPE_NONE);
  ASSERT_EQ(type.fields.size(), 1u);
  EXPECT_EQ(type.fields[0].name, "id");
}

// A generator function's call gives its generator, whatever its body returns.
TEST(PropagateCalls, ResultRuleGivesAGeneratorForAGeneratorFunction) {
  struct Case {
    bool async;
    const char* type_name;
  } cases[] = {{false, "Generator"}, {true, "AsyncGenerator"}};
  for (const Case& c : cases) {
    Fixture fx;
    FuncInfo& gen = fx.func("gen", {}, TYPE_VOID);
    gen.is_generator = 1;
    gen.is_async = c.async ? 1 : 0;
    fx.result.vars.push_back(var_record("it"));
    fx.run("const it = gen();");
    EXPECT_EQ(fx.result.vars[0].type.kind, TYPE_NAMED) << c.type_name;
    EXPECT_EQ(fx.result.vars[0].type.type_name, c.type_name);
  }
}

TEST(PropagateCalls, LaterCallsSeeTypesWrittenByEarlierDeclarations) {
  struct Case {
    const char* source;
    const char* param_interface;
  } cases[] = {
      // `load` returns an interface: the variable can then type `save`.
      {"const u = load(); save(u);", "Account"},
      {"save(u); const u = load();", ""},
      // `count` returns a number: `user` loses its interface type first.
      {"const user = count(); save(user);", ""},
      {"save(user); const user = count();", "User"},
  };
  for (const Case& c : cases) {
    Fixture fx;
    fx.func("load", {}).return_type = var_record("", TYPE_INTERFACE, "Account").type;
    fx.func("count", {}, TYPE_NUMBER);
    fx.func("save", {"p"});
    fx.result.vars.push_back(var_record("u"));
    fx.result.vars.push_back(var_record("user", TYPE_INTERFACE, "User"));
    fx.run(c.source);
    const TypeInfo& param = fx.result.funcs[2].param_types[0];
    EXPECT_EQ(param.kind, *c.param_interface ? TYPE_INTERFACE : TYPE_NONE) << c.source;
    EXPECT_EQ(param.interface_name, c.param_interface) << c.source;
  }
}

TEST(PropagateCalls, BothRulesApplyAtTheSameCall) {
  Fixture fx;
  fx.func("wrap", {"x"}, TYPE_STRING);
  fx.result.vars.push_back(var_record("user", TYPE_INTERFACE, "User"));
  fx.result.vars.push_back(var_record("w"));
  fx.run("const w = wrap(user);");
  EXPECT_EQ(fx.result.funcs[0].param_types[0].interface_name, "User");
  EXPECT_EQ(fx.result.vars[1].type.kind, TYPE_STRING);
}

TEST(Analyzer7, PromotesBeforePropagating) {
  AnalysisResult result;
  result.objects.push_back(object_record("nouvelUtilisateur", {"nom"}));
  result.vars.push_back(var_record("nouvelUtilisateur"));
  result.funcs.push_back(func_record("enregistrer", {"u"}, std::string("return u;")));
  const TokenList tokens = tokenize("enregistrer(nouvelUtilisateur);");
  analyzer7_run(result, tokens, index_file(tokens));
  ASSERT_EQ(result.interfaces.size(), 1u);
  EXPECT_EQ(result.interfaces[0].name, "Utilisateur");
  EXPECT_EQ(result.funcs[0].param_types[0].kind, TYPE_INTERFACE);
  EXPECT_EQ(result.funcs[0].param_types[0].interface_name, "Utilisateur");
}

TEST(Analyzer7, EmptyInputsAreSafe) {
  AnalysisResult result;
  for (const char* source : {"", "f("}) {
    const TokenList tokens = tokenize(source);
    analyzer7_run(result, tokens, index_file(tokens));
  }
  EXPECT_TRUE(result.interfaces.empty());
}

// Through the declaration scan, the structure capture and every pass.
TEST(InterfacePipeline, PromotesTopLevelObjectsAndCarriesTypesAcrossCalls) {
  AnalysisResult result = kvx_test::analyze_js(
      "const user = { name: 'a', age: 1 };\n"
      "const nouvelleCommande = { id: 7 };\n"
      "const error = { code: 1 };\n"
      "const empty = {};\n"
      "function save(u) {\n"
      "  return u.name;\n"
      "}\n"
      "function label() {\n"
      "  return 'x';\n"
      "}\n"
      "save(user);\n"
      "const text = label();\n");
  ASSERT_EQ(result.interfaces.size(), 2u);
  EXPECT_EQ(result.interfaces[0].name, "User");
  EXPECT_EQ(result.interfaces[1].name, "Commande");
  EXPECT_EQ(result.interfaces[0].fields.get(), result.objects[0].fields.get());

  const VarInfo* user = find_var(result, "user");
  ASSERT_NE(user, nullptr);
  EXPECT_EQ(user->type.kind, TYPE_INTERFACE);
  EXPECT_EQ(user->type.interface_name, "User");
  EXPECT_EQ(find_var(result, "nouvelleCommande")->type.interface_name, "Commande");
  EXPECT_NE(find_var(result, "error")->type.kind, TYPE_INTERFACE);

  const FuncInfo& save = result.funcs[0];
  EXPECT_EQ(save.param_types[0].kind, TYPE_INTERFACE);
  EXPECT_EQ(save.param_types[0].interface_name, "User");
  EXPECT_TRUE(save.param_shapes[0].fields.empty());
  EXPECT_EQ(find_var(result, "text")->type.kind, TYPE_STRING);
}

TEST(InterfacePipeline, ObjectsNamedLikeAFunctionLocalStayInline) {
  AnalysisResult result = kvx_test::analyze_js(
      "const user = { name: 'a' };\n"
      "function count() {\n"
      "  let userCount = 0;\n"
      "  return userCount;\n"
      "}\n");
  EXPECT_TRUE(result.interfaces.empty());
  EXPECT_NE(find_var(result, "user")->type.kind, TYPE_INTERFACE);
}

// Through the whole pipeline: the interfaces, declarations and signatures written.
TEST(InterfacePipeline, WritesPromotedInterfacesAndPropagatedTypes) {
  struct Case {
    const char* source;
    std::vector<const char*> present;
    std::vector<const char*> absent;
  } cases[] = {
      {"const user = { name: 'a', age: 1 };\n",
       {"interface User {\n    name: string;\n    age: number;\n}\n", "declare const user: User;"},
       {}},
      {"const nouvelleCommande = { id: 1, lignes: { total: 2 } };\n",
       {"interface Commande {\n    id: number;\n    lignes: { total: number };\n}\n",
        "declare const nouvelleCommande: Commande;"},
       {}},
      {"const error = { code: 1 };\n", {"declare const error: { code: number };"}, {"interface"}},
      {"const empty = {};\n", {}, {"interface"}},
      {"const user = { name: 'a' };\nfunction count() {\n  let userCount = 0;\n  return userCount;\n}\n",
       {"declare const user: { name: string };"},
       {"interface"}},
      {"const user = { name: 'a' };\nfunction save(u) {\n  return u;\n}\nsave(user);\n",
       {"interface User {", "function save(u: User)"},
       {}},
      {"const user = { name: 'a' };\nfunction save(u) {\n  return u;\n}\nsave(0, user);\n", {}, {"function save(u: User)"}},
      {"function label() {\n  return 'x';\n}\nconst text = label();\n", {"declare const text: string;"}, {}},
  };
  for (const Case& c : cases) {
    kvx_test::ScopedWorkDir dir;
    const std::string ts = kvx_test::transpile_js(c.source);
    for (const char* text : c.present) EXPECT_NE(ts.find(text), std::string::npos) << c.source << "\n--- wanted: " << text << "\n" << ts;
    for (const char* text : c.absent) EXPECT_EQ(ts.find(text), std::string::npos) << c.source << "\n--- unwanted: " << text << "\n" << ts;
  }
}

}  // namespace
