#include "analysis/analyzeR5.h"

#include <string>

// Pass 5 fills the key, value and element kinds of the Maps and Sets that pass
// 4 typed, from the single-token arguments of their .set and .add calls.

namespace {

const VarInfo* first_var(const AnalysisResult& result, const std::string& name) {
  for (const VarInfo& var : result.vars) {
    if (var.name == name) return &var;
  }
  return nullptr;
}

const ArrowInfo* first_arrow(const AnalysisResult& result, const std::string& name) {
  for (const ArrowInfo& arrow : result.arrows) {
    if (arrow.name == name) return &arrow;
  }
  return nullptr;
}

}  // namespace

// LITERAL -> its kind; VAR -> the first variable's kind (0 included);
// ARROW -> the arrow's return kind; anything else -> 0
int resolve_token_type(const AnalysisResult& result, const Token* token) {
  if (token == nullptr) return TYPE_NONE;
  const int literal = infer_literal_type(token);
  if (literal != TYPE_NONE || token->kind != TK_IDENTIFIER) return literal;
  if (const VarInfo* var = first_var(result, token->text)) return var->type.kind;
  if (const ArrowInfo* arrow = first_arrow(result, token->text)) return arrow->return_type.kind;
  return TYPE_NONE;
}

// MAP . set ( KEY , VALUE   -> key_kind, value_kind of a kind-14 variable
// SET . add ( ELEMENT       -> element_kind of a kind-12 variable
// Relies on pass 4 having given the collections their kinds 14 and 12; the
// last resolvable call in the file decides.
void infer_collections_usage(AnalysisResult& result, const TokenList& tokens) {
  const int count = tokens.count();
  for (int i = 0; i < count - 5; ++i) {
    const Token& receiver = tokens.items[i];
    const Token& method = tokens.items[i + 2];
    if (receiver.kind != TK_IDENTIFIER || tokens.items[i + 1].kind != TK_DOT ||
        method.kind != TK_IDENTIFIER || tokens.items[i + 3].kind != TK_LPAREN) {
      continue;
    }
    VarInfo* var = find_var(result, receiver.text);
    if (var == nullptr) continue;
    if (var->type.kind == TYPE_MAP && method.text == "set") {
      const int key = resolve_token_type(result, &tokens.items[i + 4]);
      if (key != TYPE_NONE) var->type.key_kind = key;
      if (i + 6 < count && tokens.items[i + 5].kind == TK_COMMA) {
        const int value = resolve_token_type(result, &tokens.items[i + 6]);
        if (value != TYPE_NONE) var->type.value_kind = value;
      }
    } else if (var->type.kind == TYPE_SET && method.text == "add") {
      const int element = resolve_token_type(result, &tokens.items[i + 4]);
      if (element != TYPE_NONE) var->type.element_kind = element;
    }
  }
}

void analyzer5_run(AnalysisResult& result, const TokenList& tokens) {
  infer_collections_usage(result, tokens);
}
