// Usage detection (pass 4): types the variables, arrays, arrows and
// parameters that take part in idioms of the JavaScript runtime library
// (fetch, streams, readline, Set, Map, Promise.all/race, string methods, ...).
// Each finding can be reported as one trace line to a sink passed in; without
// one the pass reports nothing and finds exactly the same.
#pragma once

#include <functional>
#include <string_view>

#include "analysis/analyzer.h"
#include "analysis/file_index.h"

// Receives each trace line whole: colour prefix, text, line break, reset.
// An empty function means no trace.
using Pass4Trace = std::function<void(std::string_view line)>;

void analyzer4_run(AnalysisResult& result, const TokenList& tokens, const Pass4Trace& trace = {});
// The same with the file's index built already (the pipeline's).
void analyzer4_run(AnalysisResult& result, const TokenList& tokens, const FileIndex& file,
                   const Pass4Trace& trace = {});

// The rows of kUsageRows (analysis/usage_detectors.h) that belong to
// `detector`, alone; nothing happens when no row names it.
void run_usage_detector(std::string_view detector, AnalysisResult& result, const TokenList& tokens,
                        const Pass4Trace& trace = {});

// Each detector of the pass alone, under the names of its detector list. The
// driver does not call these (its detectors share one index built once);
// they are kept as the pass's named interface, and the tests run each
// detector alone through them. Each builds the indexes it needs.
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
void detect_parameter_usage_inference(AnalysisResult& result, const TokenList& tokens, const FileIndex& file,
                                      const Pass4Trace& trace = {});
void detect_return_object_variable(AnalysisResult& result, const Pass4Trace& trace = {});
