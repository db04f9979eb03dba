// Analysis pass 8: built-in objects and class structure.
#pragma once

#include "analysis/analyzer.h"
#include "analysis/file_index.h"

void analyzer8_run(AnalysisResult& result, const TokenList& tokens, const FileIndex& index);
void detect_builtin_objects(AnalysisResult& result, const TokenList& tokens);
void detect_class_inheritance(AnalysisResult& result, const TokenList& tokens);
void detect_class_modifiers(AnalysisResult& result, const TokenList& tokens, const FileIndex& index);
void detect_class_methods(AnalysisResult& result, const TokenList& tokens, const FileIndex& index);
