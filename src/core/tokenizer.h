// Token model and tokenizer: the flat list of significant tokens that every
// analysis stage matches by index.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <functional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

// The kind codes the passes test. They are numbers on purpose: the analysis
// rules compare them as numbers, and codes without a consumer are free.
// Every kind is listed once here; token_kind_name() is the matching name table.
#define KVX_TOKEN_KINDS(X)                                                    \
  X(TK_LET, 0, "let")                                                         \
  X(TK_CONST, 1, "const")                                                     \
  X(TK_VAR, 2, "var")                                                         \
  X(TK_PERCENT, 3, "%")                                                       \
  X(TK_RETURN, 4, "return")                                                   \
  X(TK_INCREMENT, 5, "++/--")                                                 \
  X(TK_SPREAD, 6, "...")                                                      \
  X(TK_FOR, 7, "for")                                                         \
  X(TK_COMPOUND_ASSIGN, 8, "op=")                                             \
  X(TK_SWITCH, 9, "switch")                                                   \
  X(TK_IDENTIFIER, 10, "identifier")                                          \
  X(TK_NUMBER, 11, "number")                                                  \
  X(TK_STRING, 12, "string")                                                  \
  X(TK_ASSIGN, 13, "=")                                                       \
  X(TK_PLUS, 14, "+")                                                         \
  X(TK_MINUS, 15, "-")                                                        \
  X(TK_STAR, 16, "*")                                                         \
  X(TK_SLASH, 17, "/")                                                        \
  X(TK_NULLISH, 18, "??")                                                     \
  X(TK_EQUAL, 19, "==/===")                                                   \
  X(TK_NOT_EQUAL, 20, "!=/!==")                                               \
  X(TK_BITWISE, 21, "bitwise/shift")                                          \
  X(TK_LESS, 22, "<")                                                         \
  X(TK_GREATER, 23, ">")                                                      \
  X(TK_LESS_EQUAL, 24, "<=")                                                  \
  X(TK_GREATER_EQUAL, 25, ">=")                                               \
  X(TK_EXPONENT, 26, "**")                                                    \
  X(TK_AND, 27, "&&")                                                         \
  X(TK_OR, 28, "||")                                                          \
  X(TK_LPAREN, 29, "(")                                                       \
  X(TK_RPAREN, 30, ")")                                                       \
  X(TK_LBRACE, 31, "{")                                                       \
  X(TK_RBRACE, 32, "}")                                                       \
  X(TK_LBRACKET, 33, "[")                                                     \
  X(TK_RBRACKET, 34, "]")                                                     \
  X(TK_SEMICOLON, 35, ";")                                                    \
  X(TK_COMMA, 36, ",")                                                        \
  X(TK_TILDE, 37, "~")                                                        \
  X(TK_AT, 38, "@")                                                           \
  X(TK_DOT, 39, ".")                                                          \
  X(TK_COLON, 40, ":")                                                        \
  X(TK_ARROW, 41, "=>")                                                       \
  X(TK_QUESTION, 42, "?")                                                     \
  X(TK_NOT, 43, "!")                                                          \
  X(TK_REGEX, 44, "regex")                                                    \
  X(TK_RESERVED, 45, "reserved word")                                         \
  X(TK_CLASS, 46, "class")                                                    \
  X(TK_UNKNOWN, 47, "unknown character")                                      \
  X(TK_EXTENDS, 50, "extends")                                                \
  X(TK_IMPORT, 52, "import")                                                  \
  X(TK_EXPORT, 53, "export")                                                  \
  X(TK_OPTIONAL_CHAIN, 56, "?.")                                              \
  X(TK_ASYNC, 57, "async")

enum TokenKind : std::int8_t {
#define KVX_TOKEN_ENUM(name, code, text) name = code,
  KVX_TOKEN_KINDS(KVX_TOKEN_ENUM)
#undef KVX_TOKEN_ENUM
  // No token: what a bounds-checked lookup gives outside the list. The
  // tokenizer never produces it.
  TK_NONE = -1,
};

// The three declaration keywords are told apart only by the const test.
inline bool is_declaration_keyword(int kind) { return kind == TK_LET || kind == TK_CONST || kind == TK_VAR; }

// Name of a kind code for messages and test output ("?" for unused codes).
const char* token_kind_name(int kind);

// The text of a token: a view of the source in twelve bytes rather than a
// std::string_view's sixteen (no token is 4 GB long), which keeps a token at
// 20 bytes; a bundle holds a token for every three to seven bytes of input.
// It reads like a std::string_view and converts to one.
class __attribute__((packed)) TokenText {
 public:
  static constexpr std::size_t npos = std::string_view::npos;

  TokenText() = default;
  explicit TokenText(std::string_view text) : data_(text.data()), size_(static_cast<std::uint32_t>(text.size())) {}

  std::string_view view() const { return {data_, size_}; }
  operator std::string_view() const { return view(); }

  const char* data() const { return data_; }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  char operator[](std::size_t index) const { return data_[index]; }
  char front() const { return data_[0]; }
  char back() const { return data_[size_ - 1]; }
  const char* begin() const { return data_; }
  const char* end() const { return data_ + size_; }
  std::string_view substr(std::size_t pos, std::size_t count = npos) const { return view().substr(pos, count); }
  std::size_t find(std::string_view text, std::size_t pos = 0) const { return view().find(text, pos); }
  std::size_t find(char c, std::size_t pos = 0) const { return view().find(c, pos); }
  std::size_t rfind(std::string_view text, std::size_t pos = npos) const { return view().rfind(text, pos); }
  std::size_t rfind(char c, std::size_t pos = npos) const { return view().rfind(c, pos); }
  bool starts_with(std::string_view text) const { return view().starts_with(text); }
  bool starts_with(char c) const { return view().starts_with(c); }
  bool ends_with(std::string_view text) const { return view().ends_with(text); }
  bool ends_with(char c) const { return view().ends_with(c); }

  friend bool operator==(TokenText a, TokenText b) { return a.view() == b.view(); }
  friend bool operator==(TokenText a, std::string_view b) { return a.view() == b; }
  friend std::ostream& operator<<(std::ostream& out, TokenText text);

 private:
  const char* data_ = nullptr;
  std::uint32_t size_ = 0;
};

// A token views its text in the source it was read from, which must outlive
// it: a copy per token would double a large file's memory. Its offsets in
// that source follow from where its text lies there (TokenList::start, end).
struct Token {
  TokenText text;  // strings and templates without delimiters
  int line = 1;    // 1-based source line of the token's first character
  TokenKind kind = TK_UNKNOWN;
  // The delimiters before and after the text (a string's quotes; a template
  // run's backquote, brace or `${`).
  std::uint8_t lead = 0;
  std::uint8_t trail = 0;
};
static_assert(sizeof(Token) <= 20, "a token is held for every few bytes of input");

// Byte offsets of a token in the text it was read from, which begins at
// `base`: its first character, and one past its last.
inline int token_start(const char* base, const Token& token) {
  return static_cast<int>(token.text.data() - base) - token.lead;
}
inline int token_end(const char* base, const Token& token) {
  return static_cast<int>(token.text.data() - base) + static_cast<int>(token.text.size()) + token.trail;
}

// The tokens of one file, in source order. Built once by tokenize() and never
// changed afterwards; they view the source text given to tokenize().
struct TokenList {
  std::vector<Token> items;
  const char* base = nullptr;  // the first byte of that source

  int count() const { return static_cast<int>(items.size()); }
  // Byte offsets of the token at `index`: its first character, and one past
  // its last.
  int start(int index) const { return token_start(base, items[static_cast<std::size_t>(index)]); }
  int end(int index) const { return token_end(base, items[static_cast<std::size_t>(index)]); }
};

// A token of `kind` whose text lies in `source` and which spans the bytes
// [start, end) of it, delimiters included.
Token make_token(int kind, std::string_view source, std::string_view text, int line, int start, int end);
void push_token(TokenList& list, Token token);

// Reads a string or template literal whose opening delimiter is at `pos`;
// returns its content and leaves `pos` one past the closing delimiter (or at the
// end of the line or text when it is unterminated). `line` advances over the
// line breaks it crosses.
std::string_view read_string(std::string_view source, size_t& pos, int& line);

// Never fails: malformed input yields whatever tokens could be read. The
// tokens view `source`, so it must outlive them.
TokenList tokenize(std::string_view source);
// A temporary string would leave the tokens viewing freed text.
template <typename Text>
  requires std::same_as<std::remove_cvref_t<Text>, std::string> && (!std::is_lvalue_reference_v<Text>)
TokenList tokenize(Text&& source) = delete;

// tokenize() in two steps, for a caller that wants a say over the list's
// memory before it is written: an empty list with room for the tokens of
// `source`, then the tokens of `source` in it.
TokenList token_list_for(std::string_view source);
void tokenize_into(std::string_view source, TokenList& list);

// As tokenize, except that a template literal is not one string token: each
// run of its text is a string token (from the backquote, or the `}` that
// ends a placeholder, to the backquote or `${` that ends the run, both
// included), and the code of each ${...} placeholder is tokenized in between
// like the code around it. For readers that must see the code inside
// templates. Each token is handed to `visit` once, in order, and not kept.
using TokenVisitor = std::function<void(const Token&)>;
void tokenize_split_templates(std::string_view source, const TokenVisitor& visit);

// tokenize_split_templates on a `source` that starts with a template literal,
// stopped where that literal closes: returns the offset just past its closing
// backquote, or npos when `source` ends first (or starts otherwise). For a
// reader that has a text's tokens already and splits only its templates.
size_t split_template_literal(std::string_view source, const TokenVisitor& visit);

void free_token_list(TokenList& list);
