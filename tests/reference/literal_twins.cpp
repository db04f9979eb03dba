#include "literal_twins.h"

#include <string>
#include <vector>

namespace reference {

// { KEY : VALUE , ... }   -> one field per identifier-colon pair at this level
// A `{` value is read as a nested literal (kind 6); any other value takes its
// literal kind. Brackets, parentheses and blocks are not tracked, so keys of
// arrays and functions that are property values land at this level, and the
// first `}` met here ends the literal even when it closes such a construct.
// The nesting of literals is kept on an explicit stack, not on the call stack.
void parse_object(FieldList& out, const TokenList& tokens, int& index) {
  struct Literal {
    FieldList fields;
    std::string key;  // the key whose value this nested literal is
  };
  const auto at = [&tokens](int i) -> const Token& { return tokens.items[static_cast<size_t>(i)]; };
  const int count = tokens.count();
  std::vector<Literal> open(1);
  ++index;
  for (;;) {
    if (index >= count || at(index).kind == TK_RBRACE) {
      if (open.size() == 1) break;
      // The nested literal ends; its parent goes on past the `}`.
      Literal done = std::move(open.back());
      open.pop_back();
      ObjectField field(std::move(done.key), TYPE_OBJECT);
      field.nested_fields = std::move(done.fields);
      open.back().fields.push_back(std::move(field));
      ++index;
      continue;
    }
    const Token& token = at(index);
    if (token.kind == TK_IDENTIFIER && index + 2 < count && at(index + 1).kind == TK_COLON) {
      const Token& value = at(index + 2);
      if (value.kind == TK_LBRACE) {
        open.push_back(Literal{{}, std::string(token.text)});
        index += 3;  // the nested reader starts past its `{`
        continue;
      }
      open.back().fields.emplace_back(std::string(token.text), infer_literal_type(&value));
    }
    ++index;
  }
  out = std::move(open.back().fields);
  if (index > count) index = count;
}

int resolve_token_type(const AnalysisResult& result, const Token* token) {
  if (token == nullptr) return TYPE_NONE;
  const int literal = infer_literal_type(token);
  if (literal != TYPE_NONE || token->kind != TK_IDENTIFIER) return literal;
  if (const VarInfo* var = find_var(result, token->text)) return var->type.kind;
  if (const ArrowInfo* arrow = find_arrow(result, token->text)) return arrow->return_type.kind;
  return TYPE_NONE;
}

void apply_node_type(AnalysisResult& result, std::string_view name, std::string_view type_text) {
  for (VarInfo& var : result.vars) {
    if (var.name != name) continue;
    if (type_text == "STRING") {
      var.type.kind = TYPE_STRING;
    } else if (type_text == "NUMBER") {
      var.type.kind = TYPE_NUMBER;
    } else if (type_text == "BOOLEAN") {
      var.type.kind = TYPE_BOOLEAN;
    } else {
      var.type.kind = TYPE_NAMED;
      var.type.type_name = std::string(type_text);
    }
  }
}

int is_local_object(const AnalysisResult& result, std::string_view name) {
  constexpr size_t kBufferCapacity = 255;  // a 256-byte buffer and its terminator
  for (const FuncInfo& func : result.funcs) {
    if (!func.body) continue;
    for (std::string_view keyword : {"const ", "let ", "var "}) {
      std::string pattern(keyword);
      pattern.append(name);
      if (pattern.size() > kBufferCapacity) pattern.resize(kBufferCapacity);
      if (func.body->find(pattern) != std::string::npos) return 1;
    }
  }
  return 0;
}

}  // namespace reference
