// Analysis pass 8: `new Date|RegExp` declarations, class inheritance, static
// and private fields, and class methods with their parameters and returns.
#include "analysis/analyzeR8.h"

#include <algorithm>
#include <array>
#include <set>
#include <string_view>
#include <utility>

#include "analysis/syntax.h"
#include "analysis/class_walk.h"
#include "analysis/token_helpers.h"
#include "core/text.h"

namespace {

constexpr std::array<std::string_view, 2> kBuiltinClasses = {"Date", "RegExp"};
constexpr std::array<std::string_view, 5> kNeverMethodNames = {"constructor", "if", "for",
                                                               "while", "switch"};

// A zero-filled type of one kind.
TypeInfo type_of_kind(int kind) {
  TypeInfo type;
  type.kind = static_cast<TypeKind>(kind);
  return type;
}

// The positions of each field name of one class, ascending, kept in step
// with the renames and appends of the field detector.
using FieldPositions = NameMap<std::set<int>>;

FieldPositions& positions_of(std::unordered_map<const ClassInfo*, FieldPositions>& indexes,
                             const ClassInfo& cls) {
  const auto [found, added] = indexes.try_emplace(&cls);
  if (added) {
    for (int f = 0; f < cls.field_count(); ++f) found->second[cls.field_names[static_cast<size_t>(f)]].insert(f);
  }
  return found->second;
}

// The field that a member written `written` (stored as `stored`) updates:
// the first field of either name whose privacy agrees with the member's, so
// that `#n` and a public `n` stay two fields; failing that the first field of
// either name.
int field_to_update(const ClassInfo& cls, const FieldPositions& positions, std::string_view written,
                    std::string_view stored, bool is_private) {
  std::set<int> candidates;
  for (const std::string_view name : {written, stored}) {
    const auto found = positions.find(name);
    if (found != positions.end()) candidates.insert(found->second.begin(), found->second.end());
  }
  for (const int f : candidates) {
    const bool field_private = cls.field_private[static_cast<size_t>(f)] != 0 ||
                               cls.field_names[static_cast<size_t>(f)].starts_with('#');
    if (field_private == is_private) return f;
  }
  return candidates.empty() ? -1 : *candidates.begin();
}

// Member test of the field detector at the member-level token l.
int record_class_modifier(ClassInfo& cls, FieldPositions& positions, const TokenList& tokens, int l) {
  const int count = tokens.count();
  // static NAME ...  or  NAME ...
  const bool is_static = is_identifier(tokens, l, "static");
  const int name_index = is_static ? l + 1 : l;
  // #NAME marks a private member.
  const bool is_private = name_index < count && tokens.items[name_index].text.starts_with('#');
  if (!is_static && !is_private) return l + 1;
  // [static] NAME = VALUE  (an initializer token must exist)
  if (!(name_index + 2 < count) || tokens.items[name_index + 1].kind != TK_ASSIGN) return l + 1;

  const std::string_view written = tokens.items[name_index].text;
  int kind = infer_literal_type(&tokens.items[name_index + 2]);
  if (kind == TYPE_NONE) kind = TYPE_UNKNOWN;
  const std::string_view stored = written.starts_with('#') ? written.substr(1) : written;

  const int found = field_to_update(cls, positions, written, stored, is_private);
  if (found >= 0) {
    std::string& name = cls.field_names[static_cast<size_t>(found)];
    if (name != stored) {
      positions[name].erase(found);
      positions[std::string(stored)].insert(found);
      name = stored;
    }
    cls.field_types[static_cast<size_t>(found)] = type_of_kind(kind);
    cls.field_private[static_cast<size_t>(found)] = is_private ? 1 : 0;
    cls.field_static[static_cast<size_t>(found)] = is_static ? 1 : 0;
  } else {
    positions[std::string(stored)].insert(cls.field_count());
    append_class_field(cls, std::string(stored), type_of_kind(kind), is_private ? 1 : 0, is_static ? 1 : 0, 0);
  }
  // After `static`, go on past the name so that `static #id = 1` is not seen
  // a second time as a plain private field.
  return is_static ? name_index + 1 : l + 1;
}

// Token `index` ends the returned expression: `;`, `}`, a line break or the
// end of the list.
bool ends_return_value(const TokenList& tokens, int index) {
  const int kind = kind_at(tokens, index);
  return kind == TK_NONE || kind == TK_SEMICOLON || kind == TK_RBRACE ||
         tokens.items[static_cast<size_t>(index)].line != tokens.items[static_cast<size_t>(index) - 1].line;
}

// The class itself as a type.
TypeInfo class_type(const ClassInfo& cls) {
  TypeInfo type;
  type.kind = TYPE_NAMED;
  type.type_name = cls.name;
  return type;
}

// The result of a method from its own returns (not those of functions nested
// in it): void when none hands back a value; the union of the literal kinds
// when every value is a literal; the class for `return this` and `return new
// CLASS(...)`; otherwise open, since a value of no known kind is returned.
TypeInfo method_result(const ClassInfo& cls, const TokenList& tokens, const FileIndex& index, int body) {
  const std::vector<int>& match = index.match;
  const int count = tokens.count();
  const int close = match[static_cast<size_t>(body)] < 0 ? count : match[static_cast<size_t>(body)];
  TypeInfo literals;
  bool returns_value = false;
  bool returns_class = false;
  bool returns_other = false;
  for (const int r : index.own_returns(body + 1, close)) {
    if (r + 1 >= count || ends_return_value(tokens, r + 1)) continue;  // `return;`
    returns_value = true;
    const Token& value = tokens.items[static_cast<size_t>(r + 1)];
    const int literal = infer_literal_type(&value);
    if (literal != TYPE_NONE && ends_return_value(tokens, r + 2)) {
      add_union_type(literals, literal);
    } else if (is_identifier(tokens, r + 1, "this") && ends_return_value(tokens, r + 2)) {
      returns_class = true;
    } else if (is_identifier(tokens, r + 1, "new") && is_identifier(tokens, r + 2, cls.name) &&
               is_kind(tokens, r + 3, TK_LPAREN) && match[static_cast<size_t>(r + 3)] >= 0 &&
               ends_return_value(tokens, match[static_cast<size_t>(r + 3)] + 1)) {
      returns_class = true;
    } else {
      returns_other = true;
    }
  }
  if (!returns_value) {
    TypeInfo none;
    none.kind = TYPE_VOID;
    return none;
  }
  if (returns_other || (returns_class && literals.kind != TYPE_NONE)) return TypeInfo{};
  return returns_class ? class_type(cls) : literals;
}

// Member test of the method detector at the member-level token l.
int record_class_method(ClassInfo& cls, const TokenList& tokens, const FileIndex& index, int l) {
  const std::vector<int>& match = index.match;
  const int count = tokens.count();
  MethodInfo method;
  int m = l;
  // [static] [async] NAME ( PARAMS ) { BODY }
  if (is_identifier(tokens, m, "static") && !is_kind(tokens, m + 1, TK_LPAREN)) {
    method.is_static = 1;
    ++m;
  }
  if (m < count && tokens.items[m].kind == TK_ASYNC && !is_kind(tokens, m + 1, TK_LPAREN)) {
    method.is_async = 1;
    ++m;
  }
  if (!is_member_name(tokens, m) || !(m + 1 < count) ||
      tokens.items[m + 1].kind != TK_LPAREN || is_one_of(tokens.items[m].text, kNeverMethodNames)) {
    return l + 1;
  }
  // The walk reaches the name of a generator `[static] [async] * NAME (` and
  // of an accessor `[static] get|set NAME (` on its own, past the words
  // before it.
  bool generator = false;
  if (m == l) {
    int k = l - 1;
    const bool accessor = is_identifier(tokens, k, "get") || is_identifier(tokens, k, "set");
    generator = is_kind(tokens, k, TK_STAR);
    if (accessor || generator) {
      --k;
      if (generator && is_kind(tokens, k, TK_ASYNC)) {
        method.is_async = 1;
        --k;
      }
      if (is_identifier(tokens, k, "static")) method.is_static = 1;
    }
  }

  // The parameters are the list's own elements: a default value adds none, a
  // destructuring pattern is one parameter, and so is `...rest`.
  const int close = match[static_cast<size_t>(m + 1)];
  if (close < 0 || !(close + 1 < count) || tokens.items[close + 1].kind != TK_LBRACE) return l + 1;
  std::vector<ParamInfo> params = parse_params(tokens, match, {}, m + 1, true);
  method.param_optional = optional_parameters(params);
  for (ParamInfo& param : params) {
    method.param_names.push_back(std::move(param.name));
    method.param_forms.push_back(param.plain ? TypeInfo{} : std::move(param.type));
  }

  const int body = close + 1;
  if (generator) {
    // A generator method returns its generator, never a promise.
    method.return_type.kind = TYPE_NAMED;
    method.return_type.type_name = method.is_async != 0 ? "AsyncGenerator" : "Generator";
    method.is_async = 0;
  } else {
    method.return_type = method_result(cls, tokens, index, body);
  }

  method.name = tokens.items[m].text;
  cls.methods.push_back(std::move(method));
  return index.brace_after(body);  // just past the body's closing `}`, or the end of the list
}

}  // namespace

void analyzer8_run(AnalysisResult& result, const TokenList& tokens, const FileIndex& index) {
  // warning: order matters; the method detector runs on the fields' classes
  // and pass 9 reads the field arrays allocated here.
  detect_builtin_objects(result, tokens);
  detect_class_inheritance(result, tokens);
  detect_class_modifiers(result, tokens, index);
  detect_class_methods(result, tokens, index);
}

// DECL NAME = new Date|RegExp  -> NAME TYPE_NAMED after the class
void detect_builtin_objects(AnalysisResult& result, const TokenList& tokens) {
  type_new_builtin_declarations(result, tokens,
                                [](std::string_view name) { return is_one_of(name, kBuiltinClasses); });
}

// class NAME extends BASE  -> base_name BASE (every other class: none)
void detect_class_inheritance(AnalysisResult& result, const TokenList& tokens) {
  for (ClassInfo& cls : result.classes) cls.base_name.reset();
  const FirstByName classes(result.classes);
  const int count = tokens.count();
  for (int i = 0; i < count - 3; ++i) {
    if (tokens.items[i].kind != TK_CLASS || tokens.items[i + 1].kind != TK_IDENTIFIER ||
        tokens.items[i + 2].kind != TK_EXTENDS || tokens.items[i + 3].kind != TK_IDENTIFIER) {
      continue;
    }
    ClassInfo* cls = classes.find(tokens.items[i + 1].text);
    if (cls != nullptr) cls->base_name = tokens.items[i + 3].text;
  }
}

// static NAME = VALUE | #NAME = VALUE | static #NAME = VALUE  (class member)
//   -> field NAME (without `#`) with the value's literal kind or 8, and its
//      private and static flags; an existing field of that name is updated
void detect_class_modifiers(AnalysisResult& result, const TokenList& tokens, const FileIndex& index) {
  for (ClassInfo& cls : result.classes) {
    const auto fields = static_cast<size_t>(cls.field_count());
    cls.field_types.resize(fields);  // the capture keeps them in step; never read past
    cls.field_private.assign(fields, 0);
    cls.field_static.assign(fields, 0);
  }
  std::unordered_map<const ClassInfo*, FieldPositions> indexes;
  walk_class_bodies(result, tokens, index, [&](ClassInfo& cls, int l) {
    return record_class_modifier(cls, positions_of(indexes, cls), tokens, l);
  });
}

// [static] [async] [*] NAME ( PARAMS ) { BODY }  (class member; NAME may be a
// keyword, and `get`/`set` may stand before it)
//   -> method NAME with its parameter names, its result (void, the returned
//      literal kinds, the class, a generator, or open), static and async
//      flags; the walk resumes after BODY
void detect_class_methods(AnalysisResult& result, const TokenList& tokens, const FileIndex& index) {
  for (ClassInfo& cls : result.classes) cls.methods.clear();
  walk_class_bodies(result, tokens, index, [&](ClassInfo& cls, int l) {
    return record_class_method(cls, tokens, index, l);
  });
}
