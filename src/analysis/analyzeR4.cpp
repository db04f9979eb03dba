#include "analysis/analyzeR4.h"

void analyzer4_run(AnalysisResult&, const TokenList&) {}
