#include "analysis/analyzeR3.h"

void analyzer3_run(const TokenList&, AnalysisResult&) {}
