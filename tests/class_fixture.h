// Fixtures of the class-pass tests (passes 8, 9 and 10): class records
// written by hand, one rule run on one class, and the fields of a class
// described as text.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "analysis/analyzer.h"
#include "analysis/file_index.h"
#include "core/tokenizer.h"
#include "test_support.h"

namespace class_test {

// What describe_fields demands of the flag arrays beside the field names.
enum class FlagArrays {
  kAbsentOrInStep,  // each one empty or with one entry per field
  kInStep,          // each one with one entry per field
};

// Each field as a TypeScript member: "static count: number", "private secret:
// string", "readonly size: boolean | string"; the field types must have one
// entry per field, the flag arrays as `flags` says.
inline std::vector<std::string> describe_fields(const ClassInfo& cls, FlagArrays flags) {
  std::vector<std::string> fields;
  const size_t count = cls.field_names.size();
  EXPECT_EQ(cls.field_types.size(), count) << cls.name;
  bool in_step = cls.field_types.size() == count;
  const std::pair<const char*, const std::vector<int>*> flag_arrays[] = {
      {"private", &cls.field_private}, {"static", &cls.field_static}, {"readonly", &cls.field_readonly}};
  for (const auto& [flag, values] : flag_arrays) {
    if (flags == FlagArrays::kInStep) {
      EXPECT_EQ(values->size(), count) << cls.name << " " << flag;
      in_step = in_step && values->size() == count;
    } else {
      EXPECT_TRUE(values->empty() || values->size() == count) << cls.name << " " << flag;
    }
  }
  if (!in_step) return fields;
  for (size_t f = 0; f < count; ++f) {
    std::string text;
    for (const auto& [flag, values] : flag_arrays) {
      if (f < values->size() && (*values)[f]) text += std::string(flag) + " ";
    }
    fields.push_back(text + cls.field_names[f] + ": " + kvx_test::type_text(cls.field_types[f]));
  }
  return fields;
}

// A class record with fields of the given kinds (kind 0 past the end of `kinds`).
inline ClassInfo class_record(const std::string& name, std::vector<std::string> fields = {},
                              std::vector<int> kinds = {}) {
  ClassInfo cls;
  cls.name = name;
  cls.field_names = std::move(fields);
  for (size_t f = 0; f < cls.field_names.size(); ++f) {
    TypeInfo type;
    type.kind = static_cast<TypeKind>(f < kinds.size() ? kinds[f] : TYPE_NONE);
    cls.field_types.push_back(type);
  }
  return cls;
}

using ClassRule = void (*)(AnalysisResult& result, const TokenList& tokens);
// A class member rule, which walks the class bodies by the file index.
using ClassMemberRule = void (*)(AnalysisResult& result, const TokenList& tokens, const FileIndex& index);

// The record of the class `name` after `rule` ran on `source`, that class
// being the only record of the result.
inline ClassInfo class_after(ClassMemberRule rule, const std::string& source, const std::string& name) {
  const TokenList tokens = tokenize(source);
  AnalysisResult result;
  result.classes.push_back(class_record(name));
  rule(result, tokens, index_file(tokens));
  return result.classes[0];
}

}  // namespace class_test
