// Analysis pass 10: constant enumerations and class method parameters.
#pragma once

#include <string_view>

#include "analysis/analyzer.h"
#include "analysis/file_index.h"

void analyzer10_run(AnalysisResult& result, const TokenList& tokens, const FileIndex& index);
void detect_const_enums(AnalysisResult& result);
void infer_class_method_params(AnalysisResult& result, const TokenList& tokens, const FileIndex& index);
int is_all_uppercase(const char* text);
