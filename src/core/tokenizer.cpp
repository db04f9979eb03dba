#include "core/tokenizer.h"

#include <algorithm>
#include <array>
#include <ostream>
#include <utility>

#include "core/text.h"

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

Token make_token(int kind, std::string_view source, std::string_view text, int line, int start, int end) {
  Token token;
  token.text = TokenText(text);
  token.line = line;
  token.kind = static_cast<TokenKind>(kind);
  // At most an opening and a two-byte closing delimiter lie outside the text.
  const int text_start = static_cast<int>(text.data() - source.data());
  token.lead = static_cast<std::uint8_t>(text_start - start);
  token.trail = static_cast<std::uint8_t>(end - text_start - static_cast<int>(text.size()));
  return token;
}

std::ostream& operator<<(std::ostream& out, TokenText text) { return out << text.view(); }

void push_token(TokenList& list, Token token) { list.items.push_back(std::move(token)); }

void free_token_list(TokenList& list) { list = TokenList{}; }

namespace {

// `text` is spelled at `pos` of `source`. Compared byte by byte: the
// spellings are one to six bytes long, shorter than a call to compare them.
bool spelled_at(std::string_view source, size_t pos, std::string_view text) {
  if (source.size() - pos < text.size()) return false;
  for (size_t k = 0; k < text.size(); ++k) {
    if (source[pos + k] != text[k]) return false;
  }
  return true;
}

struct Word {
  std::string_view text;
  int kind;
};

// Keywords with a code of their own. Every other word is an identifier, except
// the reserved words below.
constexpr Word kKeywords[] = {
    {"let", TK_LET},
    {"const", TK_CONST},
    {"var", TK_VAR},
    {"return", TK_RETURN},
    {"for", TK_FOR},
    {"switch", TK_SWITCH},
    {"class", TK_CLASS},
    {"extends", TK_EXTENDS},
    {"import", TK_IMPORT},
    {"export", TK_EXPORT},
    {"async", TK_ASYNC},
};

// Words that can never name a variable. Were they identifiers, the passes that
// declare undeclared operands would declare `null` or `in`, which no
// TypeScript compiler accepts.
constexpr std::string_view kReservedWords[] = {
    "break",  "catch",      "continue", "debugger", "delete", "do",    "else",
    "enum",   "finally",    "function", "if",       "in",     "instanceof",
    "null",   "super",      "throw",    "try",      "void",   "while", "with",
    "yield"};

// The keywords and reserved words by first letter, so that a word is compared
// with the few spelled like its start rather than with all of them.
struct WordTable {
  std::array<std::vector<Word>, 128> by_first;

  WordTable() {
    for (const Word& keyword : kKeywords) by_first[static_cast<unsigned char>(keyword.text[0])].push_back(keyword);
    for (std::string_view reserved : kReservedWords) {
      by_first[static_cast<unsigned char>(reserved[0])].push_back(Word{reserved, TK_RESERVED});
    }
  }
};

int word_kind(std::string_view word) {
  static const WordTable table;
  const unsigned char first = static_cast<unsigned char>(word[0]);
  if (first >= table.by_first.size()) return TK_IDENTIFIER;
  for (const Word& candidate : table.by_first[first]) {
    if (candidate.text.size() == word.size() && spelled_at(word, 0, candidate.text)) return candidate.kind;
  }
  return TK_IDENTIFIER;
}

struct Operator {
  std::string_view text;
  int kind;
};

// Longest spellings first: the first entry that matches is taken.
constexpr Operator kOperators[] = {
    {">>>=", TK_COMPOUND_ASSIGN},
    {"...", TK_SPREAD},
    {"===", TK_EQUAL},
    {"!==", TK_NOT_EQUAL},
    {"**=", TK_COMPOUND_ASSIGN},
    {"<<=", TK_COMPOUND_ASSIGN},
    {">>=", TK_COMPOUND_ASSIGN},
    {">>>", TK_BITWISE},
    {"&&=", TK_COMPOUND_ASSIGN},
    {"||=", TK_COMPOUND_ASSIGN},
    {"?" "?=", TK_COMPOUND_ASSIGN},
    {"=>", TK_ARROW},
    {"==", TK_EQUAL},
    {"!=", TK_NOT_EQUAL},
    {"<=", TK_LESS_EQUAL},
    {">=", TK_GREATER_EQUAL},
    {"&&", TK_AND},
    {"||", TK_OR},
    {"?" "?", TK_NULLISH},
    {"?.", TK_OPTIONAL_CHAIN},
    {"++", TK_INCREMENT},
    {"--", TK_INCREMENT},
    {"+=", TK_COMPOUND_ASSIGN},
    {"-=", TK_COMPOUND_ASSIGN},
    {"*=", TK_COMPOUND_ASSIGN},
    {"/=", TK_COMPOUND_ASSIGN},
    {"%=", TK_COMPOUND_ASSIGN},
    {"&=", TK_COMPOUND_ASSIGN},
    {"|=", TK_COMPOUND_ASSIGN},
    {"^=", TK_COMPOUND_ASSIGN},
    {"**", TK_EXPONENT},
    {"<<", TK_BITWISE},
    {">>", TK_BITWISE},
    {"=", TK_ASSIGN},
    {"+", TK_PLUS},
    {"-", TK_MINUS},
    {"*", TK_STAR},
    {"/", TK_SLASH},
    {"%", TK_PERCENT},
    {"<", TK_LESS},
    {">", TK_GREATER},
    {"!", TK_NOT},
    {"?", TK_QUESTION},
    {":", TK_COLON},
    {";", TK_SEMICOLON},
    {",", TK_COMMA},
    {".", TK_DOT},
    {"(", TK_LPAREN},
    {")", TK_RPAREN},
    {"{", TK_LBRACE},
    {"}", TK_RBRACE},
    {"[", TK_LBRACKET},
    {"]", TK_RBRACKET},
    {"~", TK_TILDE},
    {"&", TK_BITWISE},
    {"|", TK_BITWISE},
    {"^", TK_BITWISE},
    {"@", TK_AT},
};

// The operators by first character, each list in the order of kOperators, so
// that the first match is the one a walk of the whole table finds.
struct OperatorTable {
  std::array<std::vector<Operator>, 128> by_first;

  OperatorTable() {
    for (const Operator& op : kOperators) by_first[static_cast<unsigned char>(op.text[0])].push_back(op);
  }
};

// Skips a quoted string whose opening quote is at `pos`; stops after the
// closing quote (returns true), or before the line break or end that leaves it
// unterminated (returns false).
bool skip_quoted(std::string_view source, size_t& pos, int& line) {
  const char quote = source[pos++];
  while (pos < source.size()) {
    const char c = source[pos];
    if (c == quote) {
      ++pos;
      return true;
    }
    if (c == '\n') return false;  // a quoted string cannot span lines
    if (c == '\\' && pos + 1 < source.size()) {
      if (source[pos + 1] == '\n') ++line;  // line continuation
      pos += 2;
      continue;
    }
    ++pos;
  }
  return false;
}

// Skips a template literal whose backquote is at `pos`, placeholders, nested
// templates and braces inside them included. Returns the index of the closing
// backquote (pos ends just past it) or the text size when it never closes.
// Nesting is tracked with an explicit stack so no input can exhaust the call
// stack.
size_t skip_template(std::string_view source, size_t& pos, int& line) {
  constexpr int kInTemplate = -1;  // otherwise: brace depth inside a placeholder
  std::vector<int> frames = {kInTemplate};
  ++pos;
  while (pos < source.size()) {
    const char c = source[pos];
    if (c == '\n') ++line;
    int& frame = frames.back();
    if (frame == kInTemplate) {
      if (c == '\\' && pos + 1 < source.size()) {
        if (source[pos + 1] == '\n') ++line;
        pos += 2;
      } else if (c == '`') {
        frames.pop_back();
        if (frames.empty()) return pos++;
        ++pos;
      } else if (c == '$' && pos + 1 < source.size() && source[pos + 1] == '{') {
        frames.push_back(0);
        pos += 2;
      } else {
        ++pos;
      }
      continue;
    }
    // Inside a ${...} placeholder: JavaScript code.
    if (c == '{') {
      ++frame;
      ++pos;
    } else if (c == '}') {
      if (frame == 0) {
        frames.pop_back();
      } else {
        --frame;
      }
      ++pos;
    } else if (c == '\'' || c == '"') {
      skip_quoted(source, pos, line);
    } else if (c == '`') {
      frames.push_back(kInTemplate);
      ++pos;
    } else if (c == '/' && pos + 1 < source.size() && source[pos + 1] == '/') {
      while (pos < source.size() && source[pos] != '\n') ++pos;
    } else if (c == '/' && pos + 1 < source.size() && source[pos + 1] == '*') {
      pos += 2;
      while (pos < source.size() && !(source[pos] == '*' && pos + 1 < source.size() && source[pos + 1] == '/')) {
        if (source[pos] == '\n') ++line;
        ++pos;
      }
      pos = pos < source.size() ? pos + 2 : pos;
    } else {
      ++pos;
    }
  }
  return source.size();
}

// Where the tokenizer puts its tokens: a list, or a visitor that sees each
// token once and keeps none. Either way the last two tokens stay readable,
// which is as far back as the tokenizer's own tests look.
class TokenOutput {
 public:
  explicit TokenOutput(TokenList& list) : list_(&list) {}
  explicit TokenOutput(const TokenVisitor& visit) : visit_(&visit) {}

  void push(Token token) {
    if (list_ != nullptr) {
      push_token(*list_, std::move(token));
      return;
    }
    (*visit_)(token);
    before_last_ = std::move(last_);
    last_ = std::move(token);
    ++count_;
  }

  // The token `back` places from the end (1 for the last one); null when
  // fewer tokens came out.
  const Token* recent(int back) const {
    if (list_ != nullptr) {
      const int count = list_->count();
      return count >= back ? &list_->items[static_cast<size_t>(count - back)] : nullptr;
    }
    if (count_ < back) return nullptr;
    return back == 1 ? &last_ : &before_last_;
  }

 private:
  TokenList* list_ = nullptr;
  const TokenVisitor* visit_ = nullptr;
  Token last_;
  Token before_last_;
  int count_ = 0;
};

// Whether a `/` after this token starts a regular expression rather than
// dividing: it does where an expression may start.
bool regex_may_follow(const TokenOutput& out) {
  if (out.recent(1) == nullptr) return true;
  const Token& previous = *out.recent(1);
  switch (previous.kind) {
    case TK_NUMBER:
    case TK_STRING:
    case TK_REGEX:
    case TK_RPAREN:
    case TK_RBRACKET:
    case TK_RBRACE:
    case TK_INCREMENT:
      return false;
    case TK_RESERVED:
      return previous.text != "null" && previous.text != "super";
    case TK_IDENTIFIER: {
      const Token* before = out.recent(2);
      const bool is_property = before != nullptr && (before->kind == TK_DOT || before->kind == TK_OPTIONAL_CHAIN);
      if (is_property) return false;
      static constexpr std::string_view kOperatorWords[] = {"typeof", "case", "new", "await", "of"};
      for (std::string_view word : kOperatorWords) {
        if (previous.text == word) return true;
      }
      return false;
    }
    default:
      return true;  // operators, opening punctuation, keywords such as return
  }
}

// Length of a regular-expression literal starting at `pos`, or 0 when none
// closes on this line (the `/` is then an operator after all).
//
// The scan is a walk over states (position, inside a class or not), each with
// a single successor, so every state of a walk that found no end leads to no
// end. Those states are remembered: a line full of `/` that never close, such
// as `(/[(/[(/[`, would otherwise be rescanned to its end from every `/`. A
// walk that does find an end is never entered again, as the tokenizer moves
// past it.
class RegexScanner {
 public:
  explicit RegexScanner(std::string_view source) : source_(source) {}

  size_t length(size_t pos) {
    size_t i = pos + 1;
    bool in_class = false;
    size_t walk_start = i;
    while (i < source_.size()) {
      if (failed(i, in_class)) return give_up(walk_start, i);
      const char c = source_[i];
      if (c == '\n' || c == '\r') return give_up(walk_start, i);
      if (c == '\\') {
        if (i + 1 < source_.size() && (source_[i + 1] == '\n' || source_[i + 1] == '\r')) {
          return give_up(walk_start, i);
        }
        i += 2;
        continue;
      }
      if (c == '[') in_class = true;
      if (c == ']') in_class = false;
      if (c == '/' && !in_class) {
        ++i;
        while (i < source_.size() && is_identifier_byte(static_cast<unsigned char>(source_[i]))) ++i;  // flags
        return i - pos;
      }
      ++i;
    }
    return give_up(walk_start, i);
  }

 private:
  bool failed(size_t i, bool in_class) const {
    const size_t state = 2 * i + (in_class ? 1 : 0);
    return state < failed_.size() && failed_[state];
  }

  // Replays the walk from `from` to `to` and marks every state on it.
  size_t give_up(size_t from, size_t to) {
    if (failed_.empty()) failed_.assign(2 * source_.size() + 2, false);
    bool in_class = false;
    size_t i = from;
    while (i < to) {
      failed_[2 * i + (in_class ? 1 : 0)] = true;
      const char c = source_[i];
      if (c == '\\') {
        i += 2;
        continue;
      }
      if (c == '[') in_class = true;
      if (c == ']') in_class = false;
      ++i;
    }
    return 0;
  }

  std::string_view source_;
  std::vector<bool> failed_;  // two states per byte, allocated at the first failure
};

size_t number_length(std::string_view source, size_t pos) {
  size_t i = pos;
  auto at = [&](size_t k) -> unsigned char { return k < source.size() ? static_cast<unsigned char>(source[k]) : 0; };
  if (at(i) == '0' && (at(i + 1) == 'x' || at(i + 1) == 'X' || at(i + 1) == 'o' || at(i + 1) == 'O' ||
                       at(i + 1) == 'b' || at(i + 1) == 'B')) {
    i += 2;
    while (is_digit_byte(at(i)) || (at(i) >= 'a' && at(i) <= 'f') || (at(i) >= 'A' && at(i) <= 'F') || at(i) == '_') ++i;
  } else {
    while (is_digit_byte(at(i)) || at(i) == '_') ++i;
    if (at(i) == '.') {
      ++i;
      while (is_digit_byte(at(i)) || at(i) == '_') ++i;
    }
    if ((at(i) == 'e' || at(i) == 'E') &&
        (is_digit_byte(at(i + 1)) || ((at(i + 1) == '+' || at(i + 1) == '-') && is_digit_byte(at(i + 2))))) {
      i += 2;
      while (is_digit_byte(at(i)) || at(i) == '_') ++i;
    }
  }
  if (at(i) == 'n') ++i;  // BigInt suffix
  return i - pos;
}

}  // namespace

std::string_view read_string(std::string_view source, size_t& pos, int& line) {
  const size_t open = pos;
  size_t content_end = 0;
  if (source[open] == '`') {
    content_end = skip_template(source, pos, line);
  } else {
    const bool closed = skip_quoted(source, pos, line);
    content_end = closed ? pos - 1 : pos;
  }
  return source.substr(open + 1, content_end - (open + 1));
}

namespace {

// Where a run of template text stopped.
enum class RunEnd { placeholder, backquote, text_end };

// Reads one run of template text, from `from` (just past the backquote or the
// `}` that starts it) to the closing backquote or the `${` that opens a
// placeholder, and pushes it as a string token starting at `start`.
RunEnd read_template_run(std::string_view source, size_t start, size_t from, size_t& pos, int& line,
                         TokenOutput& out) {
  const int first_line = line;
  pos = from;
  RunEnd stop = RunEnd::text_end;
  size_t text_end = source.size();
  while (pos < source.size()) {
    const char c = source[pos];
    if (c == '\\') {
      if (pos + 1 < source.size() && source[pos + 1] == '\n') ++line;
      pos += 2;
      continue;
    }
    if (c == '`') {
      text_end = pos++;
      stop = RunEnd::backquote;
      break;
    }
    if (c == '$' && pos + 1 < source.size() && source[pos + 1] == '{') {
      text_end = pos;
      pos += 2;
      stop = RunEnd::placeholder;
      break;
    }
    if (c == '\n') ++line;
    ++pos;
  }
  pos = std::min(pos, source.size());
  text_end = std::min(text_end, pos);
  out.push(make_token(TK_STRING, source, source.substr(from, text_end - from), first_line,
                      static_cast<int>(start), static_cast<int>(pos)));
  return stop;
}

// Reads `source` into `out`. With `first_template_only` (which implies split
// templates) it stops where the template literal that `source` starts with
// closes, and returns the offset just past its backquote; otherwise, or when
// that literal never closes, it reads to the end and returns npos.
size_t tokenize_text(std::string_view source, bool split_templates, TokenOutput& out,
                     bool first_template_only = false) {
  // With split templates: '{' for each open brace, '$' for each open
  // placeholder, whose `}` resumes the template text.
  std::vector<char> braces;
  const size_t size = source.size();
  size_t pos = 0;
  int line = 1;
  RegexScanner regexes(source);

  if (source.substr(0, 3) == "\xEF\xBB\xBF") pos = 3;  // byte-order mark
  if (source.substr(pos, 2) == "#!") {                  // hashbang line
    while (pos < size && source[pos] != '\n') ++pos;
  }

  while (pos < size) {
    const unsigned char c = static_cast<unsigned char>(source[pos]);
    const int start = static_cast<int>(pos);

    if (c == '\n') {
      ++line;
      ++pos;
      continue;
    }
    // Blanks, control characters and NUL bytes separate tokens and are
    // otherwise ignored.
    if (c <= ' ' || c == 0x7F) {
      ++pos;
      continue;
    }
    if (c == '/' && pos + 1 < size && source[pos + 1] == '/') {
      while (pos < size && source[pos] != '\n') ++pos;
      continue;
    }
    if (c == '/' && pos + 1 < size && source[pos + 1] == '*') {
      pos += 2;
      while (pos < size && !(source[pos] == '*' && pos + 1 < size && source[pos + 1] == '/')) {
        if (source[pos] == '\n') ++line;
        ++pos;
      }
      pos = pos < size ? pos + 2 : size;
      continue;
    }

    if (is_identifier_start_byte(c) || (c == '#' && pos + 1 < size && is_identifier_start_byte(static_cast<unsigned char>(source[pos + 1])))) {
      size_t end = pos + 1;
      while (end < size && is_identifier_byte(static_cast<unsigned char>(source[end]))) ++end;
      const std::string_view word = source.substr(pos, end - pos);
      const Token* previous = out.recent(1);
      const bool after_dot = previous != nullptr && (previous->kind == TK_DOT || previous->kind == TK_OPTIONAL_CHAIN);
      // After `.` every word is a property name (`cache.delete(k)`).
      const int kind = (after_dot || c == '#') ? TK_IDENTIFIER : word_kind(word);
      out.push(make_token(kind, source, word, line, start, static_cast<int>(end)));
      pos = end;
      continue;
    }

    if (is_digit_byte(c) || (c == '.' && pos + 1 < size && is_digit_byte(static_cast<unsigned char>(source[pos + 1])))) {
      const size_t length = number_length(source, pos);
      out.push(make_token(TK_NUMBER, source, source.substr(pos, length), line, start,
                                  static_cast<int>(pos + length)));
      pos += length;
      continue;
    }

    if (c == '`' && split_templates) {
      const RunEnd run = read_template_run(source, pos, pos + 1, pos, line, out);
      if (run == RunEnd::placeholder) braces.push_back('$');
      if (first_template_only && run == RunEnd::backquote && braces.empty()) return pos;
      continue;
    }
    if (c == '}' && split_templates && !braces.empty() && braces.back() == '$') {
      braces.pop_back();
      const RunEnd run = read_template_run(source, pos, pos + 1, pos, line, out);
      if (run == RunEnd::placeholder) braces.push_back('$');
      // The bottom `$` is the first literal's: only this branch pops a `$`.
      if (first_template_only && run == RunEnd::backquote && braces.empty()) return pos;
      continue;
    }

    if (c == '\'' || c == '"' || c == '`') {
      const int first_line = line;
      const std::string_view text = read_string(source, pos, line);
      out.push(make_token(TK_STRING, source, text, first_line, start, static_cast<int>(pos)));
      continue;
    }

    if (c == '/' && regex_may_follow(out)) {
      const size_t length = regexes.length(pos);
      if (length > 0) {
        out.push(make_token(TK_REGEX, source, source.substr(pos, length), line, start,
                                    static_cast<int>(pos + length)));
        pos += length;
        continue;
      }
    }

    static const OperatorTable operators;
    bool matched = false;
    for (const Operator& op : operators.by_first[c < 128 ? c : 0]) {
      if (!spelled_at(source, pos, op.text)) continue;
      // `a?.5:b` is a conditional with a decimal, not optional chaining.
      if (op.kind == TK_OPTIONAL_CHAIN && pos + 2 < size && is_digit_byte(static_cast<unsigned char>(source[pos + 2]))) {
        continue;
      }
      if (split_templates && op.kind == TK_LBRACE) braces.push_back('{');
      if (split_templates && op.kind == TK_RBRACE && !braces.empty()) braces.pop_back();
      out.push(make_token(op.kind, source, source.substr(pos, op.text.size()), line, start,
                                  static_cast<int>(pos + op.text.size())));
      pos += op.text.size();
      matched = true;
      break;
    }
    if (matched) continue;

    // Anything else (a lone backslash, `#`, stray punctuation) is kept as one
    // token of its own so that no rule matches across it.
    out.push(make_token(TK_UNKNOWN, source, source.substr(pos, 1), line, start, start + 1));
    ++pos;
  }
  return std::string_view::npos;
}

}  // namespace

TokenList token_list_for(std::string_view source) {
  TokenList list;
  list.base = source.data();
  // Room for a token every three bytes, which real code (bundles: one every
  // four to seven) rarely exceeds: growing the list would hold the old and
  // the new copy at once, the largest block of the whole run. The pages of
  // the room left unused are never touched.
  list.items.reserve(source.size() / 3 + 16);
  return list;
}

void tokenize_into(std::string_view source, TokenList& list) {
  list.items.clear();
  list.base = source.data();
  TokenOutput out(list);
  tokenize_text(source, false, out);
}

TokenList tokenize(std::string_view source) {
  TokenList list = token_list_for(source);
  tokenize_into(source, list);
  return list;
}

void tokenize_split_templates(std::string_view source, const TokenVisitor& visit) {
  TokenOutput out(visit);
  tokenize_text(source, true, out);
}

size_t split_template_literal(std::string_view source, const TokenVisitor& visit) {
  if (!source.starts_with('`')) return std::string_view::npos;
  TokenOutput out(visit);
  return tokenize_text(source, true, out, true);
}
