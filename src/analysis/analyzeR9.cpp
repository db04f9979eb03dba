#include "analysis/analyzeR9.h"

void analyzer9_run(AnalysisResult&, const TokenList&) {}
