// Class body walks shared by the class passes.
#include "analysis/class_walk.h"

#include <algorithm>

#include "analysis/token_helpers.h"

namespace {

// Grows a flag array by one entry for a field appended after old_count
// fields; an absent (empty) array is filled with zeros first.
void append_flag(std::vector<int>& flags, int old_count, int value) {
  flags.resize(static_cast<size_t>(old_count), 0);
  flags.push_back(value);
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

void walk_class_bodies(AnalysisResult& result, const TokenList& tokens, const FileIndex& index,
                       const ClassMemberTest& member_test) {
  const int count = tokens.count();
  const FirstByName classes(result.classes);
  int open = 0;  // the first `{` at or after the current class name; only moves forward
  // class NAME ... {
  for (int j = 0; j < count - 2; ++j) {
    if (tokens.items[j].kind != TK_CLASS || tokens.items[j + 1].kind != TK_IDENTIFIER) continue;
    ClassInfo* cls = classes.find(tokens.items[j + 1].text);
    if (cls == nullptr) continue;
    open = std::max(open, j + 2);
    while (open < count && tokens.items[open].kind != TK_LBRACE) ++open;
    if (open >= count) continue;

    // Only tokens at depth 1 are looked at, so a nested group is passed over
    // in one step; its closing `}` is back at depth 1 and is looked at.
    const int end = index.brace_close(open);
    int l = open + 1;
    while (l < end) {
      if (tokens.items[l].kind == TK_LBRACE) {
        l = index.brace_close(l);
        if (l >= end) break;
      }
      const int next = member_test(*cls, l);
      l = next > l ? next : l + 1;
    }
  }
}

void type_new_builtin_declarations(AnalysisResult& result, const TokenList& tokens,
                                   bool (*is_class)(std::string_view name)) {
  const FirstByName vars(result.vars);
  const int count = tokens.count();
  for (int i = 0; i < count - 4; ++i) {
    if (!is_declaration_at(tokens, i) || tokens.items[i + 1].kind != TK_IDENTIFIER ||
        tokens.items[i + 2].kind != TK_ASSIGN || !is_identifier(tokens, i + 3, "new") ||
        tokens.items[i + 4].kind != TK_IDENTIFIER || !is_class(tokens.items[i + 4].text)) {
      continue;
    }
    VarInfo* var = vars.find(tokens.items[i + 1].text);
    if (var == nullptr) continue;
    var->type.kind = TYPE_NAMED;
    var->type.type_name = tokens.items[i + 4].text;
  }
}
