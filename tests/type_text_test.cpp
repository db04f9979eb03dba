// The TypeScript notation in which the tests write expected types: every text
// reads back as the type it names, and a text it cannot read is an error
// rather than a silently different type.
#include <gtest/gtest.h>

#include <set>
#include <stdexcept>
#include <string>

#include "test_support.h"

namespace {

using kvx_test::kind_of_text;
using kvx_test::kind_text;
using kvx_test::parse_type_text;
using kvx_test::type_text;

TEST(TypeText, EveryKindHasItsOwnWord) {
  std::set<std::string> words;
  for (int kind = TYPE_NONE; kind <= TYPE_NAMED; ++kind) {
    const std::string word = kind_text(kind);
    EXPECT_TRUE(words.insert(word).second) << word;
    EXPECT_EQ(kind_of_text(word), kind) << word;
  }
}

TEST(TypeText, ReadsBackWhatItWrites) {
  for (const char* text : {"any", "number", "string", "boolean", "void", "unknown", "object", "Response",
                           "ReadStream", "Promise<void>", "Interface", "NamedType", "never", "(object)",
                           "number | string", "object | number | any | void", "number[]", "any[]",
                           "never[]", "(number | string | boolean | any)[]", "Set<string>", "Set<any>",
                           "Map<string, number>", "{ a: number; b: object }", "fs.Stats"}) {
    EXPECT_EQ(type_text(parse_type_text(text)), text);
  }
}

TEST(TypeText, NamesTheParts) {
  const TypeInfo object = parse_type_text("{ id: number; ok: boolean }");
  EXPECT_EQ(object.kind, TYPE_OBJECT);
  ASSERT_EQ(object.fields.size(), 2u);
  EXPECT_EQ(object.fields[1].name, "ok");
  EXPECT_EQ(object.fields[1].kind, TYPE_BOOLEAN);

  const TypeInfo single = parse_type_text("(number)");
  EXPECT_EQ(single.kind, TYPE_UNION);
  EXPECT_EQ(single.member_count, 1);
  EXPECT_EQ(single.members[0], TYPE_NUMBER);

  const TypeInfo map = parse_type_text("Map<string, object>");
  EXPECT_EQ(map.key_kind, TYPE_STRING);
  EXPECT_EQ(map.value_kind, TYPE_OBJECT);

  const TypeInfo named = parse_type_text("typeof_fs");
  EXPECT_EQ(named.kind, TYPE_NAMED);
  EXPECT_EQ(named.type_name, "typeof_fs");

  const auto records = kvx_test::parse_named_types("a, b: number | string, !f: (void)");
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].second.kind, TYPE_NONE);
  EXPECT_EQ(records[2].first, "!f");
  EXPECT_EQ(kvx_test::describe_named_types(records), "a: any, b: number | string, !f: (void)");
}

TEST(TypeText, RejectsWhatItCannotRead) {
  for (const char* text : {"", "number |", "(number | string)", "number[][]", "Map<string>",
                           "{ a: numbr }", "number | string | boolean | void | any", "number string"}) {
    EXPECT_THROW(parse_type_text(text), std::invalid_argument) << text;
  }
}

}  // namespace
