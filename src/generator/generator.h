// TypeScript emitter: type rendering, the narrowing rewriter and the typed
// emitter that turns an analysis result into the text of generated/<stem>.ts.
// It reads and writes no file and prints nothing.
#pragma once

#include <cstddef>
#include <functional>
#include <ostream>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "analysis/analyzer.h"
#include "generator/local_names.h"

// ---------------------------------------------------------------------------
// Type rendering

// TypeScript text of one type; never empty ("unknown" or "any" for what it
// cannot name).
std::string type_to_string(const TypeInfo& type);

// Writes the inline object type of an object literal: "{ a: number; b: { c: string } }".
void generate_object_type(std::ostream& out, const ObjectInfo& object);
// The same for a bare field list (nested literal or interface field).
void generate_object_type(std::ostream& out, const FieldList& fields, bool readonly);
// Writes the array type of an array literal: "number[]", "(number | string)[]".
void generate_array_type(std::ostream& out, const ArrayInfo& array);

// ---------------------------------------------------------------------------
// Narrowing rewriter

// The body with every "catch (error)" typed any and, for each parameter whose
// type is a union holding number, its first "N > ", "N < ", "N >= " and
// "N <= " comparison guarded by a typeof test.
std::string apply_narrowing(std::string_view body, const FuncInfo& function);

// ---------------------------------------------------------------------------
// Typed emitter

// The TypeScript text of an analysis result (what generated/<stem>.ts
// holds), written to `out`. The result is only read: a function whose body
// has no "return" is written returning void without its record being changed.
void write_ts_typed(std::ostream& out, const AnalysisResult& result);
// The same with the names declared inside the function bodies known already
// (build_local_declaration_index), for a caller that read them while it still
// had the tokens.
void write_ts_typed(std::ostream& out, const AnalysisResult& result, const LocalDeclarationIndex& locals);
