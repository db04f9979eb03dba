#include "analysis/analyzer.h"

#include <algorithm>
#include <initializer_list>

#include "core/text.h"

// ---------------------------------------------------------------------------
// Type model

void add_union_type(TypeInfo& type, int kind) {
  if (kind == TYPE_NONE) return;
  if (type.kind == TYPE_NONE) {
    type.kind = static_cast<TypeKind>(kind);
    return;
  }
  if (kind == type.kind) return;
  if (type.kind != TYPE_UNION) {
    type.members[0] = type.kind;
    type.member_count = 1;
    type.kind = TYPE_UNION;
  }
  for (int i = 0; i < type.member_count; ++i) {
    if (type.members[i] == kind) return;
  }
  if (type.member_count < kMaxUnionMembers) type.members[type.member_count++] = kind;
}

int infer_literal_type(const Token* token) {
  if (token == nullptr) return TYPE_NONE;
  if (token->kind == TK_NUMBER) return TYPE_NUMBER;
  if (token->kind == TK_STRING) return TYPE_STRING;
  if (token->kind == TK_IDENTIFIER && (token->text == "true" || token->text == "false")) {
    return TYPE_BOOLEAN;
  }
  return TYPE_NONE;
}

namespace {

template <typename List>
auto find_first(List& list, std::string_view name) -> decltype(&list.front()) {
  for (auto& record : list) {
    if (record.name == name) return &record;
  }
  return nullptr;
}

}  // namespace

int is_string_method(std::string_view name) {
  return is_one_of(name, {"toUpperCase", "toLowerCase", "trim", "slice", "substring", "substr",
                          "replace", "replaceAll", "concat", "padStart", "padEnd", "charAt",
                          "charCodeAt", "includes", "startsWith", "endsWith", "toString"});
}

int is_number_method(std::string_view name) {
  return is_one_of(name, {"valueOf", "toFixed", "toPrecision", "toExponential", "toLocaleString"});
}

int is_array_method(std::string_view name) {
  return is_one_of(name, {"map", "filter", "find", "reduce", "some", "every", "join", "push", "pop",
                          "shift", "unshift"});
}

// ---------------------------------------------------------------------------
// Analysis result

ObjectField::~ObjectField() {
  // Tear the nested tree down with a work list: a literal nested a hundred
  // thousand levels deep must not recurse a hundred thousand destructors.
  if (nested_fields.empty()) return;
  std::vector<ObjectField> pending = std::move(nested_fields);
  while (!pending.empty()) {
    ObjectField field = std::move(pending.back());
    pending.pop_back();
    for (ObjectField& child : field.nested_fields) pending.push_back(std::move(child));
    field.nested_fields.clear();
  }
}

VarInfo* find_var(AnalysisResult& result, std::string_view name) { return find_first(result.vars, name); }
FuncInfo* find_func(AnalysisResult& result, std::string_view name) { return find_first(result.funcs, name); }
ObjectInfo* find_object(AnalysisResult& result, std::string_view name) {
  return find_first(result.objects, name);
}
ArrayInfo* find_array(AnalysisResult& result, std::string_view name) {
  return find_first(result.arrays, name);
}
ArrowInfo* find_arrow(AnalysisResult& result, std::string_view name) {
  return find_first(result.arrows, name);
}
ClassInfo* find_class(AnalysisResult& result, std::string_view name) {
  return find_first(result.classes, name);
}
const VarInfo* find_var(const AnalysisResult& result, std::string_view name) {
  return find_first(result.vars, name);
}
const ArrowInfo* find_arrow(const AnalysisResult& result, std::string_view name) {
  return find_first(result.arrows, name);
}

void free_analysis_result(AnalysisResult& result) { result = AnalysisResult{}; }
