#include "analysis/analyzeR5.h"

void analyzer5_run(AnalysisResult&, const TokenList&) {}
