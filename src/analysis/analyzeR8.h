// Analysis pass 8: built-in objects and class structure.
#pragma once

#include <functional>
#include <string>

#include "analysis/analyzer.h"

void analyzer8_run(AnalysisResult& result, const TokenList& tokens);
void detect_builtin_objects(AnalysisResult& result, const TokenList& tokens);
void detect_class_inheritance(AnalysisResult& result, const TokenList& tokens);
void detect_class_modifiers(AnalysisResult& result, const TokenList& tokens);
void detect_class_methods(AnalysisResult& result, const TokenList& tokens);

// Member test of the class body walk: called with the class record and the
// index of a member-level token; returns the index at which the walk goes on
// (index + 1 for "the next token").
using ClassMemberTest = std::function<int(ClassInfo& cls, int index)>;

// The class body walk shared by the field, method and getter detectors: for
// every `class Name` whose name has a record, runs member_test on each token
// standing at depth 1 of the class body (the first `{` after the name).
void walk_class_bodies(AnalysisResult& result, const TokenList& tokens,
                       const ClassMemberTest& member_test);

// Appends one field to a class, growing every flag array with it so that a
// present array keeps one entry per field. field_readonly grows only when it
// is present or the new field is read-only.
void append_class_field(ClassInfo& cls, std::string name, TypeInfo type, int is_private,
                        int is_static, int is_readonly);
