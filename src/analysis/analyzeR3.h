// Analysis pass 3: flow refinement of variable and return types.
#pragma once

#include <string>
#include <vector>

#include "analysis/analyzer.h"
#include "analysis/file_index.h"

struct SymbolEntry {
  std::string name;
  TypeInfo type;  // snapshot of the variable's type when the table was built
};

struct SymbolTable {
  std::vector<SymbolEntry> entries;
};

// Every sub-pass takes the file index, whether it reads it or not, so that
// the driver and the tests call them alike.
void analyzer3_run(const TokenList& tokens, const FileIndex& index, AnalysisResult& result);

void analyze_return_objects(const TokenList& tokens, const FileIndex& index, AnalysisResult& result);
void analyze_destructuring(const TokenList& tokens, const FileIndex& index, AnalysisResult& result);
void pass0_detect_logic_vars(const TokenList& tokens, const FileIndex& index, AnalysisResult& result);
void analyze_optional_chain(const TokenList& tokens, const FileIndex& index, AnalysisResult& result);
void analyze_nullish(const TokenList& tokens, const FileIndex& index, AnalysisResult& result);
void analyze_logical_ops(const TokenList& tokens, const FileIndex& index, AnalysisResult& result);
void analyze_ternary(const TokenList& tokens, const FileIndex& index, AnalysisResult& result);
void analyze_reassignments(const TokenList& tokens, const FileIndex& index, AnalysisResult& result);
void analyze_complex_returns(const TokenList& tokens, const FileIndex& index, AnalysisResult& result);
void analyze_switch(const TokenList& tokens, const FileIndex& index, AnalysisResult& result);
void analyze_advanced_arrays(const TokenList& tokens, const FileIndex& index, AnalysisResult& result);
void finalize_return_types(const TokenList& tokens, const FileIndex& index, AnalysisResult& result);
void analyze_any_killer(const TokenList& tokens, const FileIndex& index, AnalysisResult& result);
void build_symbol_table(const AnalysisResult& result, SymbolTable& table);
void analyze_advanced(const SymbolTable& table, const TokenList& tokens, const FileIndex& index,
                      AnalysisResult& result);
void simplify_unions(AnalysisResult& result);
