// Module and structure capture: array-method results, classes, import and
// export statements, function bodies.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "analysis/analyzer.h"
#include "analysis/file_index.h"
#include "analysis/token_helpers.h"

void detect_array_callbacks(const TokenList& tokens, AnalysisResult& result);
void detect_classes(AnalysisResult& result, const TokenList& tokens, const FileIndex& index,
                    std::string_view source);
void detect_imports(AnalysisResult& result, const TokenList& tokens, const FileIndex& index,
                    std::string_view source);
void detect_exports(AnalysisResult& result, const TokenList& tokens, const FileIndex& index,
                    std::string_view source);
void capture_function_bodies(AnalysisResult& result, const TokenList& tokens, const FileIndex& index,
                             std::string_view source);

// Merges one kind into a function's return type (the body-capture variant of
// add_union_type: kind 0 is not ignored, a repeated kind makes a one-member union).
void add_return_type(FuncInfo& function, int kind);
