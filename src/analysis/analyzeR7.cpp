#include "analysis/analyzeR7.h"

void analyzer7_run(AnalysisResult&, const TokenList&) {}
