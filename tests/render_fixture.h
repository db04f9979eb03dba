// Fixtures of the rendering tests (type texts, narrowing, the emitter): types
// and function records built by hand.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "analysis/analyzer.h"

namespace render_test {

inline TypeInfo kind(int k) {
  TypeInfo type;
  type.kind = static_cast<TypeKind>(k);
  return type;
}

inline TypeInfo union_of(std::vector<int> members) {
  TypeInfo type = kind(TYPE_UNION);
  for (int member : members) type.members[type.member_count++] = member;
  return type;
}

// An array (7) or a Set (12) of `element`.
inline TypeInfo with_element(int k, int element) {
  TypeInfo type = kind(k);
  type.element_kind = element;
  return type;
}

inline TypeInfo map_of(int key, int value) {
  TypeInfo type = kind(TYPE_MAP);
  type.key_kind = key;
  type.value_kind = value;
  return type;
}

inline TypeInfo named(const std::string& name) {
  TypeInfo type = kind(TYPE_NAMED);
  type.type_name = name;
  return type;
}

inline TypeInfo interface_of(const std::string& name) {
  TypeInfo type = kind(TYPE_INTERFACE);
  type.interface_name = name;
  return type;
}

inline TypeInfo object_of(std::vector<TypeField> fields) {
  TypeInfo type = kind(TYPE_OBJECT);
  type.fields = std::move(fields);
  return type;
}

struct Param {
  std::string name;
  TypeInfo type;
};

// Appends the parameters to a function or arrow record, names and types in step.
template <typename Record>
void add_params(Record& record, std::vector<Param> params) {
  for (Param& param : params) {
    record.param_names.push_back(std::move(param.name));
    record.param_types.push_back(std::move(param.type));
  }
}

inline FuncInfo func(const std::string& name, std::vector<Param> params = {}, TypeInfo returned = {},
                     std::optional<std::string> body = std::nullopt, int is_async = 0) {
  FuncInfo function;
  function.name = name;
  add_params(function, std::move(params));
  function.return_type = std::move(returned);
  function.body = std::move(body);
  function.is_async = is_async;
  return function;
}

inline ArrowInfo arrow(const std::string& name, std::vector<Param> params, TypeInfo returned = {}) {
  ArrowInfo record;
  record.name = name;
  add_params(record, std::move(params));
  record.return_type = std::move(returned);
  return record;
}

}  // namespace render_test
