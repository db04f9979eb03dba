// Analysis pass 3: flow refinement of variable and return types.
#pragma once

#include <string>
#include <vector>

#include "analysis/analyzer.h"

struct SymbolEntry {
  std::string name;
  TypeInfo type;  // snapshot of the variable's type when the table was built
};

struct SymbolTable {
  std::vector<SymbolEntry> entries;
};

void analyzer3_run(const TokenList& tokens, AnalysisResult& result);

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
void analyze_advanced(const SymbolTable& table, const TokenList& tokens, AnalysisResult& result);
void simplify_unions(AnalysisResult& result);
