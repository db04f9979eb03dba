// Analysis pass 10: constant enumerations and class method parameters.
#pragma once

#include <string_view>

#include "analysis/analyzer.h"

void analyzer10_run(AnalysisResult& result, const TokenList& tokens);
void detect_const_enums(AnalysisResult& result);
void infer_class_method_params(AnalysisResult& result, const TokenList& tokens);
int is_all_uppercase(const char* text);
