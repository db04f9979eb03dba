#include "analysis/analyzeR8.h"

void analyzer8_run(AnalysisResult&, const TokenList&) {}
