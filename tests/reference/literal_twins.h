// Plain literal forms of rules whose live versions are indexed or batched:
// each walks the records by name, the way the rule reads. Tests compare the
// fast code with these; the program itself does not call them.
#pragma once

#include <string_view>

#include "analysis/analyzer.h"

namespace reference {

// Declaration scan. Reads the object literal whose `{` is at `index`; `index`
// ends at the `}` where reading stopped (or at the end of the list).
void parse_object(FieldList& out, const TokenList& tokens, int& index);

// Pass 5. LITERAL -> its kind; VAR -> the first variable's kind (0
// included); ARROW -> the arrow's return kind; anything else -> 0.
int resolve_token_type(const AnalysisResult& result, const Token* token);

// Pass 6. Every variable NAME gets the Node type text: "STRING", "NUMBER"
// and "BOOLEAN" set the kind alone, any other text makes a named type.
void apply_node_type(AnalysisResult& result, std::string_view name, std::string_view type_text);

// Pass 7. Whether some captured body holds "const NAME", "let NAME" or
// "var NAME" as a 256-byte buffer would hold it (a plain substring test).
int is_local_object(const AnalysisResult& result, std::string_view name);

}  // namespace reference
