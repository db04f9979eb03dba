// Analysis pass 9: modern built-ins, class getters, JSON and promises.
#pragma once

#include "analysis/analyzer.h"
#include "analysis/file_index.h"

void analyzer9_run(AnalysisResult& result, const TokenList& tokens, const FileIndex& index);
void detect_modern_builtins(AnalysisResult& result, const TokenList& tokens);
void detect_class_getters(AnalysisResult& result, const TokenList& tokens, const FileIndex& index);
void detect_json_and_promises(AnalysisResult& result, const TokenList& tokens);
