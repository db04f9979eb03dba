// Analysis pass 7: interface promotion and call propagation.
#pragma once

#include <string>
#include <string_view>

#include "analysis/analyzer.h"

void analyzer7_run(AnalysisResult& result, const TokenList& tokens, const FileIndex& index);
void promote_objects_to_interfaces(AnalysisResult& result);
void propagate_function_calls(AnalysisResult& result, const TokenList& tokens, const FileIndex& index);
int is_reserved_ts_type(std::string_view name);
std::string generate_interface_name(std::string_view name);
