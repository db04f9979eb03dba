#include "core/tokenizer.h"

const char* token_kind_name(int kind) {
  switch (kind) {
#define KVX_TOKEN_NAME(name, code, text) \
  case code:                             \
    return text;
    KVX_TOKEN_KINDS(KVX_TOKEN_NAME)
#undef KVX_TOKEN_NAME
  }
  return "?";
}

Token make_token(int kind, std::string text, int line, int start, int end) {
  return Token{kind, std::move(text), line, start, end};
}

void push_token(TokenList& list, Token token) { list.items.push_back(std::move(token)); }

std::string read_string(std::string_view, size_t&, int&) { return {}; }

TokenList tokenize(std::string_view) { return TokenList{}; }

void free_token_list(TokenList& list) { list = TokenList{}; }
