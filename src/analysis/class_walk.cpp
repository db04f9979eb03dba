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

BraceGroups::BraceGroups(const TokenList& tokens)
    : count_(tokens.count()), partner_(static_cast<size_t>(tokens.count()), -1) {
  // One walk with a stack of open braces. A returned kind is noted on the
  // innermost open group and handed to its parent when the group closes, so
  // every group ends with the kinds returned anywhere inside it, in order of
  // first appearance.
  std::vector<int> open;
  auto note = [this](int group, int kind) {
    std::vector<int>& kinds = kinds_[group];
    if (std::find(kinds.begin(), kinds.end(), kind) == kinds.end()) kinds.push_back(kind);
  };
  auto hand_up = [&](int group) {
    const auto found = kinds_.find(group);
    if (found == kinds_.end() || open.empty()) return;
    const std::vector<int> kinds = found->second;
    for (const int kind : kinds) note(open.back(), kind);
  };
  for (int k = 0; k < count_; ++k) {
    const int kind = tokens.items[k].kind;
    if (kind == TK_LBRACE) {
      open.push_back(k);
    } else if (kind == TK_RBRACE && !open.empty()) {
      const int group = open.back();
      open.pop_back();
      partner_[static_cast<size_t>(group)] = k;
      hand_up(group);
    } else if (kind == TK_RETURN && k + 1 < count_ && !open.empty()) {
      const int returned = infer_literal_type(&tokens.items[k + 1]);
      if (returned != TYPE_NONE) note(open.back(), returned);
    }
  }
  while (!open.empty()) {  // never closed: they run to the end of the list
    const int group = open.back();
    open.pop_back();
    hand_up(group);
  }
}

int BraceGroups::close(int open) const {
  const int partner = partner_[static_cast<size_t>(open)];
  return partner < 0 ? count_ : partner;
}

int BraceGroups::after(int open) const {
  const int partner = partner_[static_cast<size_t>(open)];
  return partner < 0 ? count_ : partner + 1;
}

const std::vector<int>& BraceGroups::returned_kinds(int open) const {
  static const std::vector<int> kNone;
  const auto found = kinds_.find(open);
  return found == kinds_.end() ? kNone : found->second;
}

void walk_class_bodies(AnalysisResult& result, const TokenList& tokens, const BraceGroups& groups,
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
    const int end = groups.close(open);
    int l = open + 1;
    while (l < end) {
      if (tokens.items[l].kind == TK_LBRACE) {
        l = groups.close(l);
        if (l >= end) break;
      }
      const int next = member_test(*cls, l);
      l = next > l ? next : l + 1;
    }
  }
}

void walk_class_bodies(AnalysisResult& result, const TokenList& tokens,
                       const ClassMemberTest& member_test) {
  walk_class_bodies(result, tokens, BraceGroups(tokens), member_test);
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
