// Class body walks shared by the class passes: the walk over the member-level
// tokens of every recorded class, field appends that keep the flag arrays in
// step, and the `new CLASS` typing of declarations.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/analyzer.h"
#include "analysis/file_index.h"

// DECL NAME = new CLASS with CLASS accepted by `is_class`: the first variable
// NAME becomes the named type CLASS. Shared by the built-in detectors of
// passes 8 and 9, which differ only in their class lists.
void type_new_builtin_declarations(AnalysisResult& result, const TokenList& tokens,
                                   bool (*is_class)(std::string_view name));

// Member test of the class body walk: called with the class record and the
// index of a member-level token; returns the index at which the walk goes on
// (index + 1 for "the next token").
using ClassMemberTest = std::function<int(ClassInfo& cls, int index)>;

// The class body walk shared by the field, method and getter detectors: for
// every `class Name` whose name has a record, runs member_test on each token
// standing at depth 1 of the class body (the first `{` after the name), the
// depth counted by braces alone (FileIndex::brace_close).
void walk_class_bodies(AnalysisResult& result, const TokenList& tokens, const FileIndex& index,
                       const ClassMemberTest& member_test);

// Appends one field to a class, growing every flag array with it so that a
// present array keeps one entry per field. field_readonly grows only when it
// is present or the new field is read-only.
void append_class_field(ClassInfo& cls, std::string name, TypeInfo type, int is_private,
                        int is_static, int is_readonly);
