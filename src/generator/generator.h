// TypeScript emitter: type rendering, the narrowing rewriter and the typed
// emitter that writes generated/<stem>.ts.
#pragma once

#include <string>
#include <string_view>

#include "analysis/analyzer.h"

// TypeScript text of one type; never empty ("unknown" for what it cannot name).
std::string type_to_string(const TypeInfo& type);

// Appends the inline object type of an object literal.
void generate_object_type(std::string& out, const ObjectInfo& object);
// Appends the array type of an array literal.
void generate_array_type(std::string& out, const ArrayInfo& array);

// The body with catch variables typed any and numeric comparisons on
// number-or-other union parameters guarded by typeof.
std::string apply_narrowing(std::string_view body, const FuncInfo& function);

// Whether `name` is declared as a local inside some captured function body.
int is_declared_inside_any_function(const AnalysisResult& result, std::string_view name);

// Writes out_base + ".ts"; 0 when written, 1 when it could not be created.
int generate_ts_typed(const std::string& out_base, AnalysisResult& result);
