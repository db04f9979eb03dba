// Declaration scan (placeholder until the scan lands).
#include "analysis/analyzer.h"

AnalysisResult analyze_tokens(const TokenList&, std::string_view) { return AnalysisResult{}; }

void parse_object(FieldList&, const TokenList&, int&) {}
