// Class body walks shared by the class passes: the brace groups of a token
// list, the walk over the member-level tokens of every recorded class, field
// appends that keep the flag arrays in step, and the `new CLASS` typing of
// declarations.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "analysis/analyzer.h"

// DECL NAME = new CLASS with CLASS accepted by `is_class`: the first variable
// NAME becomes the named type CLASS. Shared by the built-in detectors of
// passes 8 and 9, which differ only in their class lists.
void type_new_builtin_declarations(AnalysisResult& result, const TokenList& tokens,
                                   bool (*is_class)(std::string_view name));

// Member test of the class body walk: called with the class record and the
// index of a member-level token; returns the index at which the walk goes on
// (index + 1 for "the next token").
using ClassMemberTest = std::function<int(ClassInfo& cls, int index)>;

// The `{ ... }` groups of a token list, paired by braces alone the way a
// depth counter walks them, and what `return LITERAL` gives inside each, found
// in one walk so that nested bodies are not walked again for each enclosing
// one.
class BraceGroups {
 public:
  explicit BraceGroups(const TokenList& tokens);
  // Index of the `}` that closes the `{` at `open`; the end of the list when
  // none does.
  int close(int open) const;
  // Index just past the `}` that closes the `{` at `open`; the end of the
  // list when none does.
  int after(int open) const;
  // The literal kinds of the tokens after every `return` inside the group at
  // `open`, at any depth, each once, in order of first appearance.
  const std::vector<int>& returned_kinds(int open) const;

 private:
  int count_;
  std::vector<int> partner_;
  std::unordered_map<int, std::vector<int>> kinds_;
};

// The class body walk shared by the field, method and getter detectors: for
// every `class Name` whose name has a record, runs member_test on each token
// standing at depth 1 of the class body (the first `{` after the name).
void walk_class_bodies(AnalysisResult& result, const TokenList& tokens, const BraceGroups& groups,
                       const ClassMemberTest& member_test);
void walk_class_bodies(AnalysisResult& result, const TokenList& tokens,
                       const ClassMemberTest& member_test);

// Appends one field to a class, growing every flag array with it so that a
// present array keeps one entry per field. field_readonly grows only when it
// is present or the new field is read-only.
void append_class_field(ClassInfo& cls, std::string name, TypeInfo type, int is_private,
                        int is_static, int is_readonly);
