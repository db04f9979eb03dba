#include "analysis/analyzeR8.h"

#include <array>
#include <string_view>
#include <utility>

namespace {

constexpr std::array<std::string_view, 2> kBuiltinClasses = {"Date", "RegExp"};
constexpr std::array<std::string_view, 5> kNeverMethodNames = {"constructor", "if", "for",
                                                               "while", "switch"};

template <std::size_t N>
bool in_list(const std::array<std::string_view, N>& words, std::string_view word) {
  for (std::string_view candidate : words) {
    if (candidate == word) return true;
  }
  return false;
}

// A zero-filled type of one kind.
TypeInfo type_of_kind(int kind) {
  TypeInfo type;
  type.kind = kind;
  return type;
}

// Grows a flag array by one entry for a field appended after old_count
// fields; an absent (empty) array is filled with zeros first.
void append_flag(std::vector<int>& flags, int old_count, int value) {
  flags.resize(static_cast<size_t>(old_count), 0);
  flags.push_back(value);
}

// Member test of the field detector at the member-level token l.
int record_class_modifier(ClassInfo& cls, const TokenList& tokens, int l) {
  const int count = tokens.count();
  // static NAME ...  or  NAME ...
  const bool is_static = word_at(tokens, l, "static");
  const int name_index = is_static ? l + 1 : l;
  // #NAME marks a private member.
  const bool is_private = name_index < count && tokens.items[name_index].text.starts_with('#');
  if (!is_static && !is_private) return l + 1;
  // [static] NAME = VALUE  (an initializer token must exist)
  if (!(name_index + 2 < count) || tokens.items[name_index + 1].kind != TK_ASSIGN) return l + 1;

  const std::string& written = tokens.items[name_index].text;
  int kind = infer_literal_type(&tokens.items[name_index + 2]);
  if (kind == TYPE_NONE) kind = TYPE_UNKNOWN;
  const std::string stored = written.starts_with('#') ? written.substr(1) : written;

  int found = -1;
  for (int f = 0; f < cls.field_count(); ++f) {
    if (cls.field_names[f] == written || cls.field_names[f] == stored) {
      found = f;
      break;
    }
  }
  if (found >= 0) {
    cls.field_names[found] = stored;
    cls.field_types[found] = type_of_kind(kind);
    cls.field_private[found] = is_private ? 1 : 0;
    cls.field_static[found] = is_static ? 1 : 0;
  } else {
    append_class_field(cls, stored, type_of_kind(kind), is_private ? 1 : 0, is_static ? 1 : 0, 0);
  }
  // After `static`, go on past the name so that `static #id = 1` is not seen
  // a second time as a plain private field.
  return is_static ? name_index + 1 : l + 1;
}

// Member test of the method detector at the member-level token l.
int record_class_method(ClassInfo& cls, const TokenList& tokens, int l) {
  const int count = tokens.count();
  MethodInfo method;
  int m = l;
  // [static] [async] NAME ( PARAMS ) { BODY }
  if (word_at(tokens, m, "static")) {
    method.is_static = 1;
    ++m;
  }
  if (m < count && tokens.items[m].kind == TK_ASYNC) {
    method.is_async = 1;
    ++m;
  }
  if (!kind_at(tokens, m, TK_IDENTIFIER) || !(m + 1 < count) ||
      tokens.items[m + 1].kind != TK_LPAREN || in_list(kNeverMethodNames, tokens.items[m].text)) {
    return l + 1;
  }

  // Every identifier up to the first `)` is a parameter name (defaults and
  // destructured names included).
  int k = m + 2;
  while (k < count && tokens.items[k].kind != TK_RPAREN) {
    if (tokens.items[k].kind == TK_IDENTIFIER) method.param_names.push_back(tokens.items[k].text);
    ++k;
  }
  if (!(k + 1 < count) || tokens.items[k + 1].kind != TK_LBRACE) return l + 1;

  // return LITERAL anywhere in the body, nested functions included.
  int depth = 1;
  int b = k + 2;
  while (b < count && depth > 0) {
    const int kind = tokens.items[b].kind;
    if (kind == TK_LBRACE) {
      ++depth;
    } else if (kind == TK_RBRACE) {
      --depth;
    } else if (kind == TK_RETURN && b + 1 < count) {
      const int returned = infer_literal_type(&tokens.items[b + 1]);
      if (returned != TYPE_NONE) add_union_type(method.return_type, returned);
    }
    ++b;
  }
  if (method.return_type.kind == TYPE_NONE) method.return_type.kind = TYPE_VOID;

  method.name = tokens.items[m].text;
  cls.methods.push_back(std::move(method));
  return b;  // just past the body's closing `}`, or the end of the list
}

}  // namespace

void append_class_field(ClassInfo& cls, std::string name, TypeInfo type, int is_private,
                        int is_static, int is_readonly) {
  const int old_count = cls.field_count();
  cls.field_names.push_back(std::move(name));
  cls.field_types.resize(static_cast<size_t>(old_count));
  cls.field_types.push_back(std::move(type));
  append_flag(cls.field_private, old_count, is_private);
  append_flag(cls.field_static, old_count, is_static);
  if (!cls.field_readonly.empty() || is_readonly != 0) {
    append_flag(cls.field_readonly, old_count, is_readonly);
  }
}

void walk_class_bodies(AnalysisResult& result, const TokenList& tokens,
                       const ClassMemberTest& member_test) {
  const int count = tokens.count();
  const auto classes = index_first_by_name(result.classes);
  // class NAME ... {
  for (int j = 0; j < count - 2; ++j) {
    if (tokens.items[j].kind != TK_CLASS || tokens.items[j + 1].kind != TK_IDENTIFIER) continue;
    ClassInfo* cls = find_indexed(classes, tokens.items[j + 1].text);
    if (cls == nullptr) continue;
    int open = j + 2;
    while (open < count && tokens.items[open].kind != TK_LBRACE) ++open;
    if (open >= count) continue;

    int depth = 1;
    int l = open + 1;
    while (l < count && depth > 0) {
      const int kind = tokens.items[l].kind;
      if (kind == TK_LBRACE) ++depth;
      if (kind == TK_RBRACE) {
        --depth;
        if (depth == 0) break;
      }
      if (depth == 1) {
        const int next = member_test(*cls, l);
        l = next > l ? next : l + 1;
      } else {
        ++l;
      }
    }
  }
}

void analyzer8_run(AnalysisResult& result, const TokenList& tokens) {
  // warning: order matters; the method detector runs on the fields' classes
  // and pass 9 reads the field arrays allocated here.
  detect_builtin_objects(result, tokens);
  detect_class_inheritance(result, tokens);
  detect_class_modifiers(result, tokens);
  detect_class_methods(result, tokens);
}

void type_new_builtin_declarations(AnalysisResult& result, const TokenList& tokens,
                                   bool (*is_class)(std::string_view name)) {
  const auto vars = index_first_by_name(result.vars);
  const int count = tokens.count();
  for (int i = 0; i < count - 4; ++i) {
    if (!declaration_at(tokens, i) || tokens.items[i + 1].kind != TK_IDENTIFIER ||
        tokens.items[i + 2].kind != TK_ASSIGN || !word_at(tokens, i + 3, "new") ||
        tokens.items[i + 4].kind != TK_IDENTIFIER || !is_class(tokens.items[i + 4].text)) {
      continue;
    }
    VarInfo* var = find_indexed(vars, tokens.items[i + 1].text);
    if (var == nullptr) continue;
    var->type.kind = TYPE_NAMED;
    var->type.type_name = tokens.items[i + 4].text;
  }
}

// DECL NAME = new Date|RegExp  -> NAME kind 15 named after the class
void detect_builtin_objects(AnalysisResult& result, const TokenList& tokens) {
  type_new_builtin_declarations(result, tokens,
                                [](std::string_view name) { return in_list(kBuiltinClasses, name); });
}

// class NAME extends BASE  -> base_name BASE (every other class: none)
void detect_class_inheritance(AnalysisResult& result, const TokenList& tokens) {
  for (ClassInfo& cls : result.classes) cls.base_name.reset();
  const auto classes = index_first_by_name(result.classes);
  const int count = tokens.count();
  for (int i = 0; i < count - 3; ++i) {
    if (tokens.items[i].kind != TK_CLASS || tokens.items[i + 1].kind != TK_IDENTIFIER ||
        tokens.items[i + 2].kind != TK_EXTENDS || tokens.items[i + 3].kind != TK_IDENTIFIER) {
      continue;
    }
    ClassInfo* cls = find_indexed(classes, tokens.items[i + 1].text);
    if (cls != nullptr) cls->base_name = tokens.items[i + 3].text;
  }
}

// static NAME = VALUE | #NAME = VALUE | static #NAME = VALUE  (class member)
//   -> field NAME (without `#`) with the value's literal kind or 8, and its
//      private and static flags; an existing field of that name is updated
void detect_class_modifiers(AnalysisResult& result, const TokenList& tokens) {
  for (ClassInfo& cls : result.classes) {
    const auto fields = static_cast<size_t>(cls.field_count());
    cls.field_types.resize(fields);  // the capture keeps them in step; never read past
    cls.field_private.assign(fields, 0);
    cls.field_static.assign(fields, 0);
  }
  walk_class_bodies(result, tokens, [&tokens](ClassInfo& cls, int l) {
    return record_class_modifier(cls, tokens, l);
  });
}

// [static] [async] NAME ( PARAMS ) { BODY }  (class member)
//   -> method NAME with its parameter names, returned literal kinds (or 5),
//      static and async flags; the walk resumes after BODY
void detect_class_methods(AnalysisResult& result, const TokenList& tokens) {
  for (ClassInfo& cls : result.classes) cls.methods.clear();
  walk_class_bodies(result, tokens, [&tokens](ClassInfo& cls, int l) {
    return record_class_method(cls, tokens, l);
  });
}
