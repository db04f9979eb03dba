#include "analysis/analyzeR10.h"

void analyzer10_run(AnalysisResult&, const TokenList&) {}
