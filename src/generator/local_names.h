// Locals of captured function bodies: which names a body declares, so that
// the emitter leaves a function's own variables out of the top-level
// declarations.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/analyzer.h"
#include "analysis/token_helpers.h"

// The names a body declares: `const`/`let`/`var` bindings (destructuring
// patterns and declarator lists included) and `function` names, nested
// functions included, in the order met. Text in strings, templates, comments
// and regular expressions is not code and declares nothing.
void for_each_body_declaration(std::string_view body,
                               const std::function<bool(std::string_view)>& visit);
std::vector<std::string> body_declared_names(std::string_view body);

// Whether `name` is declared as a local inside some captured function body.
// The reference test: it scans every body for the one name.
int is_declared_inside_any_function(const AnalysisResult& result, std::string_view name);

// Every name declared inside some captured body, collected in one pass over
// the bodies; contains(name) answers exactly as is_declared_inside_any_function.
// Given the file's tokens (the ones the result was analysed from), a body is
// read from them instead of being tokenized again: same answer, in a
// fraction of the time, as a bundle's bodies are most of the file.
struct LocalDeclarationIndex {
  NameSet names;

  bool contains(std::string_view name) const { return names.find(name) != names.end(); }
};
LocalDeclarationIndex build_local_declaration_index(const AnalysisResult& result,
                                                    const TokenList* tokens = nullptr);
