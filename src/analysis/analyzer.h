// Type model, analysis result and declaration scan.
#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/tokenizer.h"

// ---------------------------------------------------------------------------
// Type model

enum TypeKind : int {
  TYPE_NONE = 0,       // nothing inferred yet
  TYPE_NUMBER = 1,
  TYPE_STRING = 2,
  TYPE_BOOLEAN = 3,
  TYPE_UNION = 4,      // members, at most four
  TYPE_VOID = 5,
  TYPE_OBJECT = 6,     // fields when built from a returned object literal
  TYPE_ARRAY = 7,      // of element_kind
  TYPE_UNKNOWN = 8,    // settled as unknown
  TYPE_RESPONSE = 9,
  TYPE_READSTREAM = 10,
  TYPE_INTERFACE = 11, // interface_name
  TYPE_SET = 12,       // of element_kind
  TYPE_PROMISE = 13,
  TYPE_MAP = 14,       // key_kind -> value_kind
  TYPE_NAMED = 15,     // type_name
};

inline constexpr int kMaxUnionMembers = 4;

struct TypeField {
  std::string name;
  TypeKind kind = TYPE_NONE;  // only 1, 2 and 3 are rendered by name
};

// One inferred type. A default-constructed TypeInfo is the empty type. It is a
// plain value: passes copy whole TypeInfos from one record to another.
struct TypeInfo {
  TypeKind kind = TYPE_NONE;
  std::array<int, kMaxUnionMembers> members{};
  int member_count = 0;
  int element_kind = TYPE_NONE;
  int key_kind = TYPE_NONE;
  int value_kind = TYPE_NONE;
  std::string type_name;       // kind 15; empty means not set
  std::string interface_name;  // kind 11; empty means not set
  std::vector<TypeField> fields;  // kind 6; field_count is fields.size()
};

// Merges one kind into a type; a union keeps at most four members in arrival
// order.
void add_union_type(TypeInfo& type, int kind);

// 1 for a number literal, 2 for a string or template, 3 for true/false,
// 0 for anything else (a null token included).
int infer_literal_type(const Token* token);

// 1 when the method name is one of the string, number or array methods of
// the type model's lists (exact, case-sensitive; the lists share no name).
// No stage calls them today: they are kept as the type model's named helpers
// for telling a receiver's type from a method called on it, and are tested.
int is_string_method(std::string_view name);
int is_number_method(std::string_view name);
int is_array_method(std::string_view name);

// ---------------------------------------------------------------------------
// Analysis result

// One key of an object literal; kind 6 keys carry the nested literal's keys.
// Literals may nest very deeply in real files, so the nested tree is torn down
// iteratively and never copied implicitly.
struct ObjectField {
  std::string name;
  TypeKind kind = TYPE_NONE;
  std::vector<ObjectField> nested_fields;

  ObjectField() = default;
  ObjectField(std::string field_name, int field_kind)
      : name(std::move(field_name)), kind(static_cast<TypeKind>(field_kind)) {}
  ObjectField(ObjectField&&) noexcept = default;
  ObjectField& operator=(ObjectField&&) noexcept = default;
  ObjectField(const ObjectField&) = delete;
  ObjectField& operator=(const ObjectField&) = delete;
  ~ObjectField();
};

using FieldList = std::vector<ObjectField>;

struct VarInfo {
  std::string name;
  TypeInfo type;
  int is_const = 0;  // 1 for const; anything else is written as let
  // Declared inside a function, arrow, method or class body: a local, which
  // the output's top level does not declare.
  int is_local = 0;
  int is_exported = 0;  // bound by an `export const|let|var` list, which declares it
};

inline constexpr int kMaxShapeFields = 16;
inline constexpr int kMaxParamShapes = 16;

struct ShapeField {
  std::string name;
  TypeKind kind = TYPE_NONE;
};

// An object shape of at most sixteen flat fields.
struct ShapeInfo {
  std::string name;
  std::vector<ShapeField> fields;  // field_count is fields.size(), at most 16
};

// The shapes of a function's first sixteen parameters. Most functions have
// none, so a record is allocated only when its position (or a later one) is
// first written: a bundle of tens of thousands of functions would otherwise
// hold megabytes of empty shapes. Reading a position never allocates and finds
// an empty shape.
class ParamShapes {
 public:
  static constexpr std::size_t size() { return kMaxParamShapes; }

  ShapeInfo& operator[](std::size_t index) {
    if (index >= shapes_.size()) shapes_.resize(index + 1);
    return shapes_[index];
  }
  const ShapeInfo& operator[](std::size_t index) const {
    static const ShapeInfo kNone;
    return index < shapes_.size() ? shapes_[index] : kNone;
  }

  // Empties the shape at `index` without allocating the others.
  void clear(std::size_t index) {
    if (index < shapes_.size()) shapes_[index].fields.clear();
  }

 private:
  std::vector<ShapeInfo> shapes_;
};

// A function's body text. The structure capture views the source, which
// outlives the analysis and its emitter: copying each body would hold nested
// bodies several times over. A record built by hand (a test, a tool) gives a
// text of its own, which its copies share. Reads like an optional view.
class BodyText {
 public:
  BodyText() = default;
  BodyText(std::nullopt_t) {}
  BodyText(std::string text)
      : owned_(std::make_shared<const std::string>(std::move(text))), view_(*owned_), present_(true) {}
  BodyText(const char* text) : BodyText(std::string(text)) {}
  BodyText(std::optional<std::string> text) {
    if (text) *this = BodyText(std::move(*text));
  }

  // A body that views text owned elsewhere, which must outlive the record.
  static BodyText viewing(std::string_view text) {
    BodyText body;
    body.view_ = text;
    body.present_ = true;
    return body;
  }

  bool has_value() const { return present_; }
  explicit operator bool() const { return present_; }
  const std::string_view& operator*() const { return view_; }
  const std::string_view* operator->() const { return &view_; }

  // Holds exactly `text` (an empty body is not no body).
  friend bool operator==(const BodyText& body, std::string_view text) { return body.present_ && body.view_ == text; }
  friend bool operator==(const BodyText& body, std::nullopt_t) { return !body.present_; }

 private:
  std::shared_ptr<const std::string> owned_;  // null when viewing
  std::string_view view_;
  bool present_ = false;
};

struct FuncInfo {
  std::string name;
  std::vector<std::string> param_names;
  std::vector<TypeInfo> param_types;  // one per parameter name
  TypeInfo return_type;
  BodyText body;                      // captured body text; empty when none
  int is_async = 0;
  int is_generator = 0;  // `function*`
  ParamShapes param_shapes;
  int flow_enabled = 0;
  // Declared inside another function, arrow, method or class body: it lives
  // in its parent's copied body, never at the output's top level.
  int is_local = 0;

  // Body region recorded by the structure capture for the return-flow passes:
  // the source extent [body_start, body_end) of the captured body text and the
  // tokens [body_first_token, body_end_token) that start inside it. -1 when no
  // body was found; body_first_token == body_end_token when it is empty. A
  // deeply nested function may have its region without its body text.
  int body_start = -1;
  int body_end = -1;
  int body_first_token = -1;
  int body_end_token = -1;

  // The default value of each parameter as written (empty when it has none),
  // which the copied function keeps; may be shorter than param_names.
  std::vector<std::string> param_defaults = {};

  int param_count() const { return static_cast<int>(param_names.size()); }
};

struct ObjectInfo {
  std::string name;
  // Shared with an interface promoted from this object; never null.
  std::shared_ptr<FieldList> fields = std::make_shared<FieldList>();
  int readonly = 0;

  int field_count() const { return static_cast<int>(fields->size()); }
};

struct ArrayInfo {
  std::string name;
  int element_kind = TYPE_NONE;  // 4 when the elements have mixed kinds
  std::array<int, kMaxUnionMembers> members{};
  int member_count = 0;
};

struct ArrowInfo {
  std::string name;
  std::vector<std::string> param_names;
  std::vector<TypeInfo> param_types;
  TypeInfo return_type;
  int is_promise = 0;  // declared as Promise<any>
  int is_generic = 0;  // written with generic type parameters
  int is_local = 0;    // bound inside a function, arrow, method or class body
  int is_exported = 0; // bound by an `export const|let|var` list, which declares it
  // 1 for a parameter that a call may leave out (it has a default value, and
  // so has every later one but a rest parameter); may be shorter than
  // param_names.
  std::vector<int> param_optional = {};

  int param_count() const { return static_cast<int>(param_names.size()); }
};

struct MethodInfo {
  std::string name;
  std::vector<std::string> param_names;
  // Allocated by the method-parameter pass, one per parameter; empty before
  // it and for a method without parameters.
  std::vector<TypeInfo> param_types;
  TypeInfo return_type;
  int is_static = 0;
  int is_async = 0;
  // Per parameter as declared, either may be shorter than param_names: 1 when
  // a call may leave it out (it has a default value, and so has every later
  // parameter but a rest one); the type its form gives a destructuring or
  // rest parameter, which a signature needs (kind 0 for a plain name).
  std::vector<int> param_optional = {};
  std::vector<TypeInfo> param_forms = {};

  int param_count() const { return static_cast<int>(param_names.size()); }
};

struct ClassInfo {
  std::string name;
  std::optional<std::string> base_name;
  std::vector<std::string> field_names;
  std::vector<TypeInfo> field_types;
  // Flag arrays: empty means absent (not set for every field); when present
  // they have one entry per field.
  std::vector<int> field_private;
  std::vector<int> field_static;
  std::vector<int> field_readonly;
  std::vector<MethodInfo> methods;
  std::vector<std::string> ctor_param_names;
  std::vector<TypeInfo> ctor_param_types;
  // 1 for a constructor parameter that a call may leave out (as for methods);
  // may be shorter than ctor_param_names.
  std::vector<int> ctor_param_optional = {};
  // 1 when the name binds nothing at the top level of the module: the class
  // is declared inside a function, arrow, method or class body, or it is a
  // class expression (`x = class Name {}`).
  int is_local = 0;

  int field_count() const { return static_cast<int>(field_names.size()); }
  int method_count() const { return static_cast<int>(methods.size()); }
  int ctor_param_count() const { return static_cast<int>(ctor_param_names.size()); }
};

struct InterfaceInfo {
  std::string name;
  // The field list of the object it was promoted from, shared, not copied.
  std::shared_ptr<FieldList> fields = std::make_shared<FieldList>();
  // The name of the variable whose literal it was promoted from (`user` for
  // the interface User); empty for an interface made otherwise.
  std::string object_name = {};

  int field_count() const { return static_cast<int>(fields->size()); }
};

// Everything known about one source file. Lists keep insertion order; lookups
// by name take the first exact match unless a rule says otherwise.
struct AnalysisResult {
  std::vector<VarInfo> vars;
  std::vector<FuncInfo> funcs;
  std::vector<ObjectInfo> objects;
  std::vector<ArrayInfo> arrays;
  std::vector<ArrowInfo> arrows;
  std::vector<ClassInfo> classes;
  std::vector<std::string> imports;
  std::vector<std::string> exports;
  std::vector<InterfaceInfo> interfaces;
  std::vector<ShapeInfo> array_objects;
};

// First-match lookups by exact name; null when there is none. A walk of the
// list per call: the passes look names up through indexes built once per file
// (first match too), and only pass 6 calls find_func. The others are kept for
// the tests and the literal twins in tests/reference/, which read a result by
// name the way the rules are written.
VarInfo* find_var(AnalysisResult& result, std::string_view name);
FuncInfo* find_func(AnalysisResult& result, std::string_view name);
ObjectInfo* find_object(AnalysisResult& result, std::string_view name);
ArrayInfo* find_array(AnalysisResult& result, std::string_view name);
ArrowInfo* find_arrow(AnalysisResult& result, std::string_view name);
ClassInfo* find_class(AnalysisResult& result, std::string_view name);
const VarInfo* find_var(const AnalysisResult& result, std::string_view name);
const ArrowInfo* find_arrow(const AnalysisResult& result, std::string_view name);

void free_analysis_result(AnalysisResult& result);

// ---------------------------------------------------------------------------
// Declaration scan

struct FileIndex;  // analysis/file_index.h

// Creates the analysis result with vars, funcs, objects, arrays and arrows.
AnalysisResult analyze_tokens(const TokenList& tokens, const FileIndex& index, std::string_view source);
