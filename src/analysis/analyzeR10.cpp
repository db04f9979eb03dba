// Analysis pass 10: constant enumerations, and class method parameters typed
// from their default values and the arguments of their calls.
#include "analysis/analyzeR10.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "analysis/syntax.h"
#include "analysis/token_helpers.h"

namespace {

// Methods of one name and one parameter count receive exactly the same merges
// (the rules read nothing of a method but its name and parameter count), so
// their types are worked out once per group and then copied to each member.
struct MethodGroup {
  std::vector<TypeInfo> types;  // one per parameter
  std::vector<MethodInfo*> members;
};

// Every method of every class, grouped by name and then by parameter count.
// The method lists do not change during this pass, so the pointers hold.
std::unordered_map<std::string_view, std::vector<MethodGroup>> group_methods(AnalysisResult& result) {
  std::unordered_map<std::string_view, std::vector<MethodGroup>> groups;
  for (ClassInfo& cls : result.classes) {
    for (MethodInfo& method : cls.methods) {
      std::vector<MethodGroup>& named = groups[method.name];
      MethodGroup* group = nullptr;
      for (MethodGroup& candidate : named) {
        if (candidate.types.size() == method.param_types.size()) group = &candidate;
      }
      if (group == nullptr) {
        named.push_back(MethodGroup{method.param_types, {}});
        group = &named.back();
      }
      group->members.push_back(&method);
    }
  }
  return groups;
}

int param_count_of(const std::vector<TypeInfo>& types) { return static_cast<int>(types.size()); }

// NAME ( P1 = LITERAL , P2 = LITERAL ... )  -> literal kinds merged per position
// Only the list's own `=` and `,` count: those inside a destructuring pattern
// or a call in a default value belong to it, so the positions stay those of
// the declared parameters.
void merge_default_values(std::vector<TypeInfo>& types, const TokenList& tokens,
                          const std::vector<int>& match, int i) {
  const int count = tokens.count();
  const int close = parameter_group_close(tokens, match, i + 1, count);
  int position = 0;
  for (int k = i + 2; k < close && position != param_count_of(types);) {
    const int kind = tokens.items[k].kind;
    if (kind == TK_ASSIGN && k + 1 < count) {
      const int literal = infer_literal_type(&tokens.items[k + 1]);
      if (literal != TYPE_NONE) add_union_type(types[position], literal);
    } else if (kind == TK_COMMA) {
      ++position;
    } else if ((kind == TK_LPAREN || kind == TK_LBRACE || kind == TK_LBRACKET) &&
               match[static_cast<size_t>(k)] > k) {
      k = match[static_cast<size_t>(k)] + 1;
      continue;
    }
    ++k;
  }
}

// . NAME ( ARG1 , ARG2 ... )  -> kind of each argument's first token merged
void merge_call_arguments(std::vector<TypeInfo>& types, const TokenList& tokens, int i,
                          const FirstByName<VarInfo>& vars) {
  const int count = tokens.count();
  int m = i + 3;
  int position = 0;
  while (m < count && tokens.items[m].kind != TK_RPAREN && position < param_count_of(types)) {
    const Token& first = tokens.items[m];
    int kind = infer_literal_type(&first);
    const VarInfo* var = nullptr;
    if (kind == TYPE_NONE && first.kind == TK_IDENTIFIER) {
      var = vars.find(first.text);
      if (var != nullptr) kind = var->type.kind;
    }
    TypeInfo& type = types[static_cast<size_t>(position)];
    if (var != nullptr && type.kind == TYPE_NONE &&
        ((kind == TYPE_INTERFACE && !var->type.interface_name.empty()) ||
         (kind == TYPE_NAMED && !var->type.type_name.empty()))) {
      // An interface or named type is only written with its name: a kind
      // alone would name nothing the file declares.
      type.kind = static_cast<TypeKind>(kind);
      type.interface_name = var->type.interface_name;
      type.type_name = var->type.type_name;
    } else if (kind != TYPE_NONE) {
      add_union_type(type, kind);
    }
    while (m < count && tokens.items[m].kind != TK_COMMA && tokens.items[m].kind != TK_RPAREN) ++m;
    if (m < count && tokens.items[m].kind == TK_COMMA) {
      ++position;
      ++m;
    }
  }
}

// A type that still names a withdrawn interface would be written as a name
// the output no longer declares: it becomes the interface's inline object
// type instead, as the enumeration's own variable does. A variable keeps no
// copy of the fields (the emitter writes it from its object record); any other
// type takes the interface's flat fields when it has none of its own.
// The withdrawn interfaces by name, the first of each name winning.
using WithdrawnByName = FirstByName<const InterfaceInfo>;

void retarget_withdrawn(TypeInfo& type, const WithdrawnByName& withdrawn, bool copy_fields) {
  if (type.kind != TYPE_INTERFACE || type.interface_name.empty()) return;
  const InterfaceInfo* interface = withdrawn.find(type.interface_name);
  if (interface == nullptr) return;
  type.kind = TYPE_OBJECT;
  type.interface_name.clear();
  if (copy_fields && type.fields.empty()) {
    for (const ObjectField& field : *interface->fields) type.fields.push_back({field.name, field.kind});
  }
}

void retarget_withdrawn_references(AnalysisResult& result,
                                   const std::vector<InterfaceInfo>& withdrawn_list) {
  if (withdrawn_list.empty()) return;
  // Thousands of enumerations withdraw thousands of interfaces: each type
  // finds its interface by name, not by a walk over all of them.
  const WithdrawnByName withdrawn(withdrawn_list);
  for (VarInfo& var : result.vars) retarget_withdrawn(var.type, withdrawn, false);
  for (FuncInfo& func : result.funcs) {
    for (TypeInfo& type : func.param_types) retarget_withdrawn(type, withdrawn, true);
    retarget_withdrawn(func.return_type, withdrawn, true);
  }
  for (ArrowInfo& arrow : result.arrows) {
    for (TypeInfo& type : arrow.param_types) retarget_withdrawn(type, withdrawn, true);
    retarget_withdrawn(arrow.return_type, withdrawn, true);
  }
  for (ClassInfo& cls : result.classes) {
    for (TypeInfo& type : cls.field_types) retarget_withdrawn(type, withdrawn, true);
    for (TypeInfo& type : cls.ctor_param_types) retarget_withdrawn(type, withdrawn, true);
    for (MethodInfo& method : cls.methods) retarget_withdrawn(method.return_type, withdrawn, true);
  }
}

}  // namespace

int is_all_uppercase(const char* text) {
  if (text == nullptr) return 0;
  bool has_letter = false;
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c >= 'a' && *c <= 'z') return 0;
    if (*c >= 'A' && *c <= 'Z') has_letter = true;
  }
  return has_letter ? 1 : 0;
}

void analyzer10_run(AnalysisResult& result, const TokenList& tokens, const FileIndex& index) {
  detect_const_enums(result);
  infer_class_method_params(result, tokens, index);
}

// const UPPER_NAME = { KEY: ... }  -> object read-only, variable TYPE_OBJECT,
//   every all-upper-case interface withdrawn
void detect_const_enums(AnalysisResult& result) {
  const FirstByName vars(result.vars);
  bool interfaces_withdrawn = false;
  for (ObjectInfo& object : result.objects) {
    object.readonly = 0;
    if (!is_all_uppercase(object.name.c_str()) || !(object.field_count() > 0)) continue;
    object.readonly = 1;
    // Every upper-case interface goes, not only this object's; nothing adds
    // one back, so the later enumerations would find none left.
    if (!interfaces_withdrawn) {
      // The removed interfaces' field lists stay with their objects.
      std::vector<InterfaceInfo> withdrawn;
      std::vector<InterfaceInfo> kept;
      for (InterfaceInfo& interface : result.interfaces) {
        (is_all_uppercase(interface.name.c_str()) ? withdrawn : kept).push_back(std::move(interface));
      }
      result.interfaces = std::move(kept);
      retarget_withdrawn_references(result, withdrawn);
      interfaces_withdrawn = true;
    }
    VarInfo* var = vars.find(object.name);
    if (var != nullptr) {
      var->type.kind = TYPE_OBJECT;
      var->type.interface_name.clear();
    }
  }
}

// Method parameter types: allocation, literal defaults, call-site arguments,
// then unknown for whatever is left.
void infer_class_method_params(AnalysisResult& result, const TokenList& tokens, const FileIndex& index) {
  for (ClassInfo& cls : result.classes) {
    for (MethodInfo& method : cls.methods) {
      method.param_types.assign(static_cast<size_t>(method.param_count()), TypeInfo{});
    }
  }
  auto groups = group_methods(result);
  const int count = tokens.count();
  // The groups by the file's name id of their method name: both walks below
  // look up the name of every call.
  std::vector<std::vector<MethodGroup>*> groups_by_id(static_cast<size_t>(index.name_count()), nullptr);
  for (auto& [name, named] : groups) {
    const int id = index.id_of(name);
    if (id >= 0) groups_by_id[static_cast<size_t>(id)] = &named;
  }
  const auto groups_named_at = [&](int k) {  // k: an identifier token
    return groups_by_id[static_cast<size_t>(index.name_id[static_cast<size_t>(k)])];
  };

  // NAME (  -> defaults of every method called NAME (the declaration itself included)
  for (int i = 0; i < count - 4; ++i) {
    if (tokens.items[i].kind != TK_IDENTIFIER || tokens.items[i + 1].kind != TK_LPAREN) continue;
    std::vector<MethodGroup>* named = groups_named_at(i);
    if (named == nullptr) continue;
    for (MethodGroup& group : *named) merge_default_values(group.types, tokens, index.match, i);
  }

  // . NAME (  -> arguments of every method called NAME, whatever the receiver
  const FirstByName vars(result.vars);
  for (int i = 0; i < count - 4; ++i) {
    if (tokens.items[i].kind != TK_DOT || tokens.items[i + 1].kind != TK_IDENTIFIER ||
        tokens.items[i + 2].kind != TK_LPAREN) {
      continue;
    }
    std::vector<MethodGroup>* named = groups_named_at(i + 1);
    if (named == nullptr) continue;
    for (MethodGroup& group : *named) merge_call_arguments(group.types, tokens, i, vars);
  }

  for (auto& [name, named] : groups) {
    for (MethodGroup& group : named) {
      for (TypeInfo& type : group.types) {
        if (type.kind == TYPE_NONE) type.kind = TYPE_UNKNOWN;
      }
      for (MethodInfo* method : group.members) method->param_types = group.types;
    }
  }

  // A destructuring or rest parameter takes the type its form gives: a
  // signature `{ a, b }: number` or `...rest: string` would not compile.
  for (ClassInfo& cls : result.classes) {
    for (MethodInfo& method : cls.methods) {
      const size_t forms = std::min(method.param_forms.size(), method.param_types.size());
      for (size_t p = 0; p < forms; ++p) {
        if (method.param_forms[p].kind != TYPE_NONE) method.param_types[p] = method.param_forms[p];
      }
    }
  }
}
