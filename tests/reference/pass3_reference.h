// The flow-refinement rules of pass 3 written as literally as they read: one
// walk per rule with linear lookups by name. The indexed sub-passes must leave
// every variable and return type exactly as these do.
#pragma once

#include <string_view>

#include "analysis/analyzeR3.h"

namespace pass3_reference {

void analyze_return_objects(const TokenList& tokens, AnalysisResult& result);
void analyze_destructuring(const TokenList& tokens, AnalysisResult& result);
void pass0_detect_logic_vars(const TokenList& tokens, AnalysisResult& result);
void analyze_optional_chain(const TokenList& tokens, AnalysisResult& result);
void analyze_nullish(const TokenList& tokens, AnalysisResult& result);
void analyze_logical_ops(const TokenList& tokens, AnalysisResult& result);
void analyze_ternary(const TokenList& tokens, AnalysisResult& result);
void analyze_reassignments(const TokenList& tokens, AnalysisResult& result);
void analyze_complex_returns(const TokenList& tokens, AnalysisResult& result);
void analyze_switch(const TokenList& tokens, AnalysisResult& result);
void analyze_advanced_arrays(const TokenList& tokens, AnalysisResult& result);
void finalize_return_types(const TokenList& tokens, AnalysisResult& result);
void analyze_any_killer(const TokenList& tokens, AnalysisResult& result);
void build_symbol_table(const AnalysisResult& result, SymbolTable& table);
int lookup_type(const SymbolTable& table, std::string_view name);
void analyze_advanced(const SymbolTable& table, const TokenList& tokens, AnalysisResult& result);
void simplify_unions(AnalysisResult& result);

// The whole pass in the driver's order.
void analyzer3_run(const TokenList& tokens, AnalysisResult& result);

}  // namespace pass3_reference
