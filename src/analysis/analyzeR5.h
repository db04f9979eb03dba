// Analysis pass 5: key, value and element kinds of Maps and Sets.
#pragma once

#include "analysis/analyzer.h"

void analyzer5_run(AnalysisResult& result, const TokenList& tokens);
void infer_collections_usage(AnalysisResult& result, const TokenList& tokens);
