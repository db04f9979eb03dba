// Analysis pass 6: Node.js API result and handler parameter types.
#pragma once

#include <string_view>

#include "analysis/analyzer.h"

struct NodeRule {
  const char* module;       // "" for a function called bare
  const char* function;
  const char* result_type;  // "STRING", "NUMBER", "BOOLEAN" or a type text
};

// The 49 rows of Node.js API results followed by an all-null row.
extern const NodeRule NODE_RULES[];

void analyzer6_run(AnalysisResult& result, const TokenList& tokens);
void detect_node_ecosystem(AnalysisResult& result, const TokenList& tokens);
void detect_node_callbacks(AnalysisResult& result, const TokenList& tokens);
void set_func_param_node_type(AnalysisResult& result, std::string_view function_name, int index,
                              std::string_view type_text);
