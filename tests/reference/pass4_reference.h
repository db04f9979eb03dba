// The literal passes 4 and 5 that the pass in src/ is compared against.
#pragma once

#include "analysis/analyzeR4.h"
#include "analysis/analyzer.h"
#include "core/tokenizer.h"

namespace pass4_reference {

void analyzer4_run(AnalysisResult& result, const TokenList& tokens, const Pass4Trace& trace = {});

void detect_read_stream(AnalysisResult& result, const TokenList& tokens, const Pass4Trace& trace = {});
void detect_readline_interface(AnalysisResult& result, const TokenList& tokens, const Pass4Trace& trace = {});
void detect_fetch_calls(AnalysisResult& result, const TokenList& tokens, const Pass4Trace& trace = {});
void detect_set_usage(AnalysisResult& result, const TokenList& tokens, const Pass4Trace& trace = {});
void detect_map_usage(AnalysisResult& result, const TokenList& tokens, const Pass4Trace& trace = {});
void detect_promise_all(AnalysisResult& result, const TokenList& tokens, const Pass4Trace& trace = {});
void detect_promise_race(AnalysisResult& result, const TokenList& tokens, const Pass4Trace& trace = {});
void detect_property_access(AnalysisResult& result, const TokenList& tokens, const Pass4Trace& trace = {});
void detect_optional_chaining(AnalysisResult& result, const TokenList& tokens, const Pass4Trace& trace = {});
void detect_nullish_coalescing(AnalysisResult& result, const TokenList& tokens, const Pass4Trace& trace = {});
void detect_array_object_push(AnalysisResult& result, const TokenList& tokens, const Pass4Trace& trace = {});
void detect_for_of_array_objects(AnalysisResult& result, const TokenList& tokens, const Pass4Trace& trace = {});
void detect_readline_lines(AnalysisResult& result, const TokenList& tokens, const Pass4Trace& trace = {});
void detect_string_methods(AnalysisResult& result, const TokenList& tokens, const Pass4Trace& trace = {});
void detect_results_promises(AnalysisResult& result, const TokenList& tokens, const Pass4Trace& trace = {});
void detect_delete_return_type(AnalysisResult& result, const TokenList& tokens, const Pass4Trace& trace = {});
void detect_async_iife(AnalysisResult& result, const TokenList& tokens, const Pass4Trace& trace = {});
void detect_parameter_usage_inference(AnalysisResult& result, const TokenList& tokens, const Pass4Trace& trace = {});
void detect_return_object_variable(AnalysisResult& result, const Pass4Trace& trace = {});

void analyzer5_run(AnalysisResult& result, const TokenList& tokens);
int resolve_token_type(const AnalysisResult& result, const Token* token);
void infer_collections_usage(AnalysisResult& result, const TokenList& tokens);

}  // namespace pass4_reference
