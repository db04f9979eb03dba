#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "generator/generator.h"
#include "render_fixture.h"

namespace {

using render_test::interface_of;
using render_test::kind;
using render_test::map_of;
using render_test::named;
using render_test::object_of;
using render_test::union_of;
using render_test::with_element;

TEST(TypeToString, RendersEveryKind) {
  struct Case {
    TypeInfo type;
    const char* text;
  } cases[] = {
      {kind(TYPE_NONE), "unknown"},
      {kind(TYPE_NUMBER), "number"},
      {kind(TYPE_STRING), "string"},
      {kind(TYPE_BOOLEAN), "boolean"},
      {kind(TYPE_VOID), "void"},
      {kind(TYPE_UNKNOWN), "unknown"},
      {kind(TYPE_RESPONSE), "Response"},
      {kind(TYPE_READSTREAM), "ReadStream"},
      {kind(TYPE_PROMISE), "Promise<void>"},
      {kind(16), "unknown"},
      {kind(-1), "unknown"},
      // unions: only number, string and boolean are named
      {union_of({TYPE_NUMBER, TYPE_STRING, TYPE_BOOLEAN}), "number | string | boolean"},
      {union_of({TYPE_NUMBER, TYPE_VOID}), "number"},
      {union_of({TYPE_VOID, TYPE_UNKNOWN}), "any"},
      {union_of({}), "any"},
      {union_of({TYPE_OBJECT, TYPE_STRING, TYPE_PROMISE, TYPE_BOOLEAN}), "string | boolean"},
      {union_of({TYPE_BOOLEAN, TYPE_BOOLEAN, TYPE_BOOLEAN, TYPE_BOOLEAN}), "boolean | boolean | boolean | boolean"},
      // interfaces and named types
      {interface_of("User"), "User"},
      {kind(TYPE_INTERFACE), "unknown"},  // no name: nothing the file declares
      {named("NodeJS.ProcessEnv"), "NodeJS.ProcessEnv"},
      {named("fs.ReadStream"), "ReadStream"},
      {named("fs.WriteStream"), "WriteStream"},
      {named("typeof import('path')"), "typeof import('path')"},
      // A Node module's type is reached through the module: the file declares
      // no namespace of that name (its `readline` is a variable, if any).
      {named("readline.Interface"), "import('readline').Interface"},
      {named("fs.Stats"), "import('fs').Stats"},
      {named("http.IncomingMessage"), "import('http').IncomingMessage"},
      {named("crypto.Hash"), "import('crypto').Hash"},
      {named("Date"), "Date"},
      {kind(TYPE_NAMED), "any"},
      // objects from returned literals
      {object_of({{"id", TYPE_NUMBER}, {"name", TYPE_STRING}, {"ok", TYPE_BOOLEAN}, {"tags", TYPE_ARRAY}}),
       "{ id: number; name: string; ok: boolean; tags: any }"},
      {object_of({}), "{  }"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(type_to_string(c.type), c.text) << "kind " << c.type.kind;
  }
}

TEST(TypeToString, UnionReadsNoMoreThanFourMembers) {
  TypeInfo type = union_of({TYPE_NUMBER, TYPE_STRING});
  type.member_count = 9;  // a corrupt count must not read past the members
  type.members = {1, 2, 3, 1};
  EXPECT_EQ(type_to_string(type), "number | string | boolean | number");
  type.member_count = -3;
  EXPECT_EQ(type_to_string(type), "any");
}

// The element, key and value words differ between arrays, Sets and Maps.
TEST(TypeToString, CollectionWordTablesDiffer) {
  struct Case {
    TypeInfo type;
    const char* text;
  } cases[] = {
      {with_element(TYPE_ARRAY, TYPE_NUMBER), "number[]"},
      {with_element(TYPE_ARRAY, TYPE_STRING), "string[]"},
      {with_element(TYPE_ARRAY, TYPE_BOOLEAN), "boolean[]"},
      {with_element(TYPE_ARRAY, TYPE_PROMISE), "Promise<any>[]"},
      {with_element(TYPE_ARRAY, TYPE_OBJECT), "any[]"},
      {with_element(TYPE_ARRAY, TYPE_NONE), "any[]"},
      {with_element(TYPE_SET, TYPE_STRING), "Set<string>"},
      {with_element(TYPE_SET, TYPE_NUMBER), "Set<number>"},
      {with_element(TYPE_SET, TYPE_BOOLEAN), "Set<boolean>"},
      {with_element(TYPE_SET, TYPE_PROMISE), "Set<Promise<void>>"},
      {with_element(TYPE_SET, TYPE_OBJECT), "Set<object>"},
      {with_element(TYPE_SET, TYPE_ARRAY), "Set<any>"},
      {map_of(2, 1), "Map<string, number>"},
      {map_of(1, 2), "Map<number, string>"},
      {map_of(3, 3), "Map<any, boolean>"},
      {map_of(6, 6), "Map<any, object>"},
      {map_of(0, 13), "Map<any, any>"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(type_to_string(c.type), c.text) << "kind " << c.type.kind;
  }
}

// An object type too long for its 512-byte room is rendered "object" rather
// than cut into text that does not parse.
TEST(TypeToString, LongObjectTextBecomesObject) {
  // "{ " + name + ": number" + " }" is exactly 511 characters.
  const std::string fits(511 - 2 - 8 - 2, 'f');
  EXPECT_EQ(type_to_string(object_of({{fits, TYPE_NUMBER}})), "{ " + fits + ": number }");
  EXPECT_EQ(type_to_string(object_of({{fits + "x", TYPE_NUMBER}})), "object");

  std::vector<TypeField> many;
  for (int i = 0; i < 100; ++i) many.push_back({"field" + std::to_string(i), TYPE_STRING});
  EXPECT_EQ(type_to_string(object_of(many)), "object");
}

ObjectField field(const std::string& name, int k, std::vector<ObjectField> nested = {}) {
  ObjectField f(name, k);
  f.nested_fields = std::move(nested);
  return f;
}

ObjectInfo object_info(std::vector<ObjectField> fields, int readonly = 0) {
  ObjectInfo object;
  object.name = "o";
  for (ObjectField& f : fields) object.fields->push_back(std::move(f));
  object.readonly = readonly;
  return object;
}

std::string object_text(const ObjectInfo& object) {
  std::ostringstream out;
  generate_object_type(out, object);
  return out.str();
}

std::vector<ObjectField> config_fields() {
  std::vector<ObjectField> tls;
  tls.push_back(field("on", 3));
  std::vector<ObjectField> fields;
  fields.push_back(field("host", 2));
  fields.push_back(field("port", 1));
  fields.push_back(field("tls", 6, std::move(tls)));
  return fields;
}

TEST(GenerateObjectType, WritesNestedLiteralsWithTheParentsReadonlyFlag) {
  EXPECT_EQ(object_text(object_info(config_fields())),
            "{ host: string; port: number; tls: { on: boolean } }");
  EXPECT_EQ(object_text(object_info(config_fields(), 1)),
            "{ readonly host: string; readonly port: number; readonly tls: { readonly on: boolean } }");
  EXPECT_EQ(object_text(object_info({})), "{  }");
}

TEST(GenerateObjectType, NonPrimitiveFieldsRenderAsTheirEmptyKind) {
  std::vector<ObjectField> fields;
  for (int k : {0, 4, 7, 11, 12, 14, 15}) fields.push_back(field("k" + std::to_string(k), k));
  EXPECT_EQ(object_text(object_info(std::move(fields))),
            "{ k0: unknown; k4: any; k7: any[]; k11: unknown; k12: Set<any>; k14: Map<any, any>; "
            "k15: any }");
}

TEST(GenerateObjectType, SeparatorsAroundNestedObjects) {
  std::vector<ObjectField> inner;
  inner.push_back(field("x", 1));
  inner.push_back(field("empty", 6));
  std::vector<ObjectField> fields;
  fields.push_back(field("a", 6, std::move(inner)));
  fields.push_back(field("b", 2));
  EXPECT_EQ(object_text(object_info(std::move(fields))),
            "{ a: { x: number; empty: {  } }; b: string }");
}

TEST(GenerateObjectType, VeryDeepNestingDoesNotExhaustTheStack) {
  constexpr int kDepth = 100000;
  ObjectField deepest = field("leaf", 1);
  for (int level = 0; level < kDepth; ++level) {
    std::vector<ObjectField> nested;
    nested.push_back(std::move(deepest));
    deepest = field("n", 6, std::move(nested));
  }
  std::vector<ObjectField> fields;
  fields.push_back(std::move(deepest));
  const std::string text = object_text(object_info(std::move(fields)));
  EXPECT_TRUE(text.starts_with("{ n: { n: { "));
  EXPECT_NE(text.find("{ leaf: number }"), std::string::npos);
  EXPECT_TRUE(text.ends_with(" } } }"));
}

ArrayInfo array_info(int element, std::vector<int> members = {}) {
  ArrayInfo array;
  array.name = "a";
  array.element_kind = element;
  for (int member : members) array.members[array.member_count++] = member;
  return array;
}

TEST(GenerateArrayType, WritesElementTypeOrMixedMembers) {
  struct Case {
    ArrayInfo array;
    const char* text;
  } cases[] = {
      {array_info(TYPE_NUMBER), "number[]"},
      {array_info(TYPE_PROMISE), "Promise<void>[]"},
      {array_info(TYPE_NONE), "unknown[]"},
      {array_info(TYPE_ARRAY), "any[][]"},
      {array_info(TYPE_SET), "Set<any>[]"},
      {array_info(TYPE_UNION, {TYPE_NUMBER, TYPE_STRING}), "(number | string)[]"},
      // unlike a union type, unnamed members are written any
      {array_info(TYPE_UNION, {TYPE_BOOLEAN, TYPE_OBJECT, TYPE_PROMISE}), "(boolean | any | any)[]"},
      // a mixed array without members: "()[]" would not parse
      {array_info(TYPE_UNION), "any[]"},
  };
  for (const Case& c : cases) {
    std::ostringstream out;
    generate_array_type(out, c.array);
    EXPECT_EQ(out.str(), c.text) << "element kind " << c.array.element_kind;
  }
}

}  // namespace
