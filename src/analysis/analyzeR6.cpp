#include "analysis/analyzeR6.h"

void analyzer6_run(AnalysisResult&, const TokenList&) {}
