#include "analysis/analyzeR2.h"

void detect_array_callbacks(const TokenList&, AnalysisResult&) {}
void detect_classes(AnalysisResult&, const TokenList&, std::string_view) {}
void detect_imports(AnalysisResult&, const TokenList&, std::string_view) {}
void detect_exports(AnalysisResult&, const TokenList&, std::string_view) {}
void capture_function_bodies(AnalysisResult&, const TokenList&, std::string_view) {}
void add_return_type(FuncInfo&, int) {}
