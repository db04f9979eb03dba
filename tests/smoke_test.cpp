#include <gtest/gtest.h>

#include "analysis/analyzer.h"

TEST(TypeModel, MergingRepeatedKindKeepsPlainKind) {
  TypeInfo type;
  add_union_type(type, TYPE_STRING);
  add_union_type(type, TYPE_STRING);
  EXPECT_EQ(type.kind, TYPE_STRING);
}
