// Analysis pass 5: collection contents. Fills the key, value and element
// kinds of the Maps and Sets that pass 4 typed, from the single-token
// arguments of their .set and .add calls.
#include "analysis/analyzeR5.h"

#include <optional>
#include <string>
#include <string_view>

#include "analysis/token_helpers.h"

namespace {

// The variables and arrows by name, for a scan that looks names up at every call.
struct Pass5Lookups {
  FirstByName<VarInfo> vars;
  FirstByName<const ArrowInfo> arrows;

  explicit Pass5Lookups(AnalysisResult& result) : vars(result.vars), arrows(result.arrows) {}
};

// LITERAL -> its kind; VAR -> the first variable's kind (0 included);
// ARROW -> the arrow's return kind; anything else -> 0. Lookups indexed.
int resolve_indexed(const Pass5Lookups& lookups, const Token& token) {
  const int literal = infer_literal_type(&token);
  if (literal != TYPE_NONE || token.kind != TK_IDENTIFIER) return literal;
  if (const VarInfo* var = lookups.vars.find(token.text)) return var->type.kind;
  if (const ArrowInfo* arrow = lookups.arrows.find(token.text)) return arrow->return_type.kind;
  return TYPE_NONE;
}

}  // namespace

// MAP . set ( KEY , VALUE   -> key_kind, value_kind of a Map variable
// SET . add ( ELEMENT       -> element_kind of a Set variable
// Relies on pass 4 having typed the collections TYPE_MAP and TYPE_SET; the
// last resolvable call in the file decides.
void infer_collections_usage(AnalysisResult& result, const TokenList& tokens) {
  const int count = tokens.count();
  std::optional<Pass5Lookups> lookups;  // built at the first call
  for (int i = 0; i < count - 5; ++i) {
    const Token& receiver = tokens.items[static_cast<size_t>(i)];
    const Token& method = tokens.items[static_cast<size_t>(i) + 2];
    if (receiver.kind != TK_IDENTIFIER || tokens.items[static_cast<size_t>(i) + 1].kind != TK_DOT ||
        method.kind != TK_IDENTIFIER || tokens.items[static_cast<size_t>(i) + 3].kind != TK_LPAREN) {
      continue;
    }
    if (!lookups) lookups.emplace(result);
    VarInfo* found = lookups->vars.find(receiver.text);
    if (found == nullptr) continue;
    VarInfo& var = *found;
    if (var.type.kind == TYPE_MAP && method.text == "set") {
      const int key = resolve_indexed(*lookups, tokens.items[static_cast<size_t>(i) + 4]);
      if (key != TYPE_NONE) var.type.key_kind = key;
      if (i + 6 < count && tokens.items[static_cast<size_t>(i) + 5].kind == TK_COMMA) {
        const int value = resolve_indexed(*lookups, tokens.items[static_cast<size_t>(i) + 6]);
        if (value != TYPE_NONE) var.type.value_kind = value;
      }
    } else if (var.type.kind == TYPE_SET && method.text == "add") {
      const int element = resolve_indexed(*lookups, tokens.items[static_cast<size_t>(i) + 4]);
      if (element != TYPE_NONE) var.type.element_kind = element;
    }
  }
}

void analyzer5_run(AnalysisResult& result, const TokenList& tokens) {
  infer_collections_usage(result, tokens);
}
