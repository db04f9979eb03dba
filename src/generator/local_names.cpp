// Locals of captured function bodies: which names a body declares, so that
// the emitter leaves a function's own variables out of the top-level
// declarations.
#include <algorithm>
#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "generator/generator.h"

namespace {

// ---------------------------------------------------------------------------
// A light lexer for body text. It only needs words, brackets and a few
// punctuators; strings, templates, comments and regular expressions are
// passed over so that nothing inside them reads as a declaration.

enum class Lex { Word, Punct, Literal };

struct Piece {
  Lex kind;
  std::string_view text;
  bool line_start;  // a line break stands between this piece and the previous one
};

bool is_word_start(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '$' || c == '#' ||
         c == '\\' || c >= 0x80;
}

bool is_word_byte(unsigned char c) { return is_word_start(c) || (c >= '0' && c <= '9'); }

bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }

bool one_of(std::string_view text, std::initializer_list<std::string_view> words) {
  for (std::string_view word : words) {
    if (text == word) return true;
  }
  return false;
}

// Words after which a `/` starts a regular expression rather than a division.
bool is_operator_word(std::string_view word) {
  return one_of(word, {"return", "typeof", "instanceof", "in", "of", "new", "delete", "void",
                       "throw", "case", "do", "else", "yield", "await"});
}

// Multi-character punctuators, longest first ("?" "?=" is split so that it
// is not read as a trigraph).
constexpr std::array<std::string_view, 33> kPunctuators = {
    ">>>=", "...", "===", "!==", "**=", "<<=", ">>=", ">>>", "&&=", "||=", "?" "?=",
    "=>",   "==",  "!=",  "<=",  ">=",  "&&",  "||",  "??",  "?.",  "++",  "--",
    "+=",   "-=",  "*=",  "/=",  "%=",  "&=",  "|=",  "^=",  "**",  "<<",  ">>"};

class BodyLexer {
 public:
  explicit BodyLexer(std::string_view text) : text_(text) {}

  std::vector<Piece> run() {
    while (pos_ < text_.size()) {
      const auto c = static_cast<unsigned char>(text_[pos_]);
      if (c == '\n') {
        line_break_ = true;
        ++pos_;
      } else if (c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v') {
        ++pos_;
      } else if (c == '/' && peek(1) == '/') {
        while (pos_ < text_.size() && text_[pos_] != '\n') ++pos_;
      } else if (c == '/' && peek(1) == '*') {
        const std::size_t close = text_.find("*/", pos_ + 2);
        const std::size_t end = close == std::string_view::npos ? text_.size() : close + 2;
        if (text_.substr(pos_, end - pos_).find('\n') != std::string_view::npos) line_break_ = true;
        pos_ = end;
      } else if (c == '\'' || c == '"') {
        read_quoted(static_cast<char>(c));
      } else if (c == '`') {
        read_template(pos_ + 1, pos_);
      } else if (c == '}' && !braces_.empty() && braces_.back() == '$') {
        braces_.pop_back();  // end of a ${...} placeholder: the template goes on
        read_template(pos_ + 1, pos_);
      } else if (c == '/' && regex_may_start()) {
        read_regex();
      } else if (is_digit(c) || (c == '.' && is_digit(static_cast<unsigned char>(peek(1))))) {
        const std::size_t start = pos_;
        while (pos_ < text_.size() &&
               (is_word_byte(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '.')) {
          ++pos_;
        }
        push(Lex::Literal, start);
      } else if (is_word_start(c)) {
        const std::size_t start = pos_;
        while (pos_ < text_.size() && is_word_byte(static_cast<unsigned char>(text_[pos_]))) ++pos_;
        push(Lex::Word, start);
      } else {
        read_punctuator();
      }
    }
    return std::move(pieces_);
  }

 private:
  char peek(std::size_t ahead) const {
    return pos_ + ahead < text_.size() ? text_[pos_ + ahead] : '\0';
  }

  void push(Lex kind, std::size_t start) {
    pieces_.push_back({kind, text_.substr(start, pos_ - start), line_break_});
    line_break_ = false;
  }

  void read_quoted(char quote) {
    const std::size_t start = pos_++;
    while (pos_ < text_.size() && text_[pos_] != quote && text_[pos_] != '\n') {
      pos_ += text_[pos_] == '\\' ? 2 : 1;
    }
    if (pos_ < text_.size() && text_[pos_] == quote) ++pos_;
    if (pos_ > text_.size()) pos_ = text_.size();
    push(Lex::Literal, start);
  }

  // Reads template text from `from` up to the closing backquote or the next
  // `${`, which opens a placeholder read as code.
  void read_template(std::size_t from, std::size_t start) {
    pos_ = from;
    while (pos_ < text_.size()) {
      const char c = text_[pos_];
      if (c == '\\') {
        pos_ += 2;
      } else if (c == '`') {
        ++pos_;
        break;
      } else if (c == '$' && peek(1) == '{') {
        pos_ += 2;
        braces_.push_back('$');
        break;
      } else {
        ++pos_;
      }
    }
    if (pos_ > text_.size()) pos_ = text_.size();
    push(Lex::Literal, start);
  }

  bool regex_may_start() const {
    if (pieces_.empty()) return true;
    const Piece& last = pieces_.back();
    switch (last.kind) {
      case Lex::Literal: return false;
      case Lex::Word: return is_operator_word(last.text);
      case Lex::Punct: return !one_of(last.text, {")", "]", "}"});
    }
    return true;
  }

  void read_regex() {
    const std::size_t start = pos_;
    std::size_t at = pos_ + 1;
    bool in_class = false;
    while (at < text_.size() && text_[at] != '\n') {
      const char c = text_[at];
      if (c == '\\') {
        at += 2;
        continue;
      }
      if (c == '[') in_class = true;
      if (c == ']') in_class = false;
      if (c == '/' && !in_class) break;
      ++at;
    }
    if (at >= text_.size() || text_[at] != '/') {
      read_punctuator();  // no closing slash on this line: a lone operator
      return;
    }
    pos_ = at + 1;
    while (pos_ < text_.size() && is_word_byte(static_cast<unsigned char>(text_[pos_]))) ++pos_;
    push(Lex::Literal, start);
  }

  void read_punctuator() {
    const std::size_t start = pos_;
    const std::string_view rest = text_.substr(pos_);
    std::size_t length = 1;
    for (std::string_view punctuator : kPunctuators) {
      if (rest.starts_with(punctuator)) {
        // `a?.5:b` is a conditional, not an optional chain.
        if (punctuator == "?." && is_digit(static_cast<unsigned char>(peek(2)))) continue;
        length = punctuator.size();
        break;
      }
    }
    const char c = text_[pos_];
    if (length == 1 && c == '{') braces_.push_back('{');
    if (length == 1 && c == '}' && !braces_.empty()) braces_.pop_back();
    pos_ += length;
    push(Lex::Punct, start);
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  bool line_break_ = false;
  std::vector<char> braces_;  // '{' for a block or literal, '$' for a template placeholder
  std::vector<Piece> pieces_;
};

// ---------------------------------------------------------------------------
// Declarations over the pieces

bool is_punct(const Piece& piece, std::string_view text) {
  return piece.kind == Lex::Punct && piece.text == text;
}

bool is_opener(const Piece& piece) {
  return piece.kind == Lex::Punct && one_of(piece.text, {"(", "[", "{"});
}

bool is_closer(const Piece& piece) {
  return piece.kind == Lex::Punct && one_of(piece.text, {")", "]", "}"});
}

using Visit = std::function<bool(std::string_view)>;

class DeclarationScan {
 public:
  DeclarationScan(const std::vector<Piece>& pieces, const Visit& visit)
      : pieces_(pieces), visit_(visit) {}

  void run() {
    const std::size_t n = pieces_.size();
    std::size_t i = 0;
    while (i < n && !stopped_) {
      const Piece& piece = pieces_[i];
      if (piece.kind == Lex::Word) {
        i = on_word(i);
        continue;
      }
      if (is_opener(piece)) {
        ++depth_;
      } else if (is_closer(piece)) {
        if (depth_ > 0) --depth_;
        while (!lists_.empty() && lists_.back() > depth_) lists_.pop_back();
      } else if (is_punct(piece, ";")) {
        end_list_here();
      } else if (is_punct(piece, ",") && list_open_here()) {
        // `let a = 1, b = 2`: the next declarator of the same list
        i = take_binding(i + 1);
        continue;
      }
      ++i;
    }
  }

 private:
  bool list_open_here() const { return !lists_.empty() && lists_.back() == depth_; }

  void end_list_here() {
    if (list_open_here()) lists_.pop_back();
  }

  bool ends_expression(const Piece& piece) const {
    switch (piece.kind) {
      case Lex::Literal: return true;
      case Lex::Word: return !is_operator_word(piece.text);
      case Lex::Punct: return one_of(piece.text, {")", "]", "}"});
    }
    return false;
  }

  bool emit(std::string_view name) {
    if (visit_(name)) stopped_ = true;
    return stopped_;
  }

  std::size_t on_word(std::size_t i) {
    const Piece& piece = pieces_[i];
    const Piece* before = i > 0 ? &pieces_[i - 1] : nullptr;
    // A word on a new line after a finished expression starts a new
    // statement: an open declarator list ends there.
    if (list_open_here() && piece.line_start && before != nullptr && ends_expression(*before) &&
        !one_of(piece.text, {"in", "of", "instanceof"})) {
      lists_.pop_back();
    }
    // `obj.let`, `x?.function`: property names, not keywords.
    if (before != nullptr && (is_punct(*before, ".") || is_punct(*before, "?."))) return i + 1;

    if (one_of(piece.text, {"const", "let", "var"}) && i + 1 < pieces_.size() &&
        starts_binding(pieces_[i + 1])) {
      end_list_here();
      lists_.push_back(depth_);
      return take_binding(i + 1);
    }
    // `for (const k in obj)`, `for (const x of xs)`: the header's binding ends.
    if (one_of(piece.text, {"in", "of"})) end_list_here();
    // function NAME, function* NAME
    if (piece.text == "function") {
      std::size_t at = i + 1;
      if (at < pieces_.size() && is_punct(pieces_[at], "*")) ++at;
      if (at < pieces_.size() && pieces_[at].kind == Lex::Word) emit(pieces_[at].text);
    }
    return i + 1;
  }

  static bool starts_binding(const Piece& piece) {
    return piece.kind == Lex::Word || is_punct(piece, "{") || is_punct(piece, "[");
  }

  // NAME, or a destructuring pattern `{ a, b: c }` / `[x, y]`; returns the
  // index after it. The initializer after it is read as ordinary code.
  std::size_t take_binding(std::size_t i) {
    if (i >= pieces_.size()) return i;
    if (pieces_[i].kind == Lex::Word) {
      emit(pieces_[i].text);
      return i + 1;
    }
    if (is_punct(pieces_[i], "{") || is_punct(pieces_[i], "[")) return take_pattern(i);
    return i;
  }

  // Skips a default value `= expr` up to the `,` or closing bracket that ends
  // it at the pattern's level.
  std::size_t skip_default(std::size_t i) const {
    int depth = 0;
    for (++i; i < pieces_.size(); ++i) {
      const Piece& piece = pieces_[i];
      if (is_opener(piece)) {
        ++depth;
      } else if (is_closer(piece)) {
        if (depth == 0) return i;
        --depth;
      } else if (depth == 0 && is_punct(piece, ",")) {
        return i;
      }
    }
    return i;
  }

  std::size_t skip_balanced(std::size_t i) const {
    int depth = 0;
    for (; i < pieces_.size(); ++i) {
      if (is_opener(pieces_[i])) ++depth;
      if (is_closer(pieces_[i]) && --depth == 0) return i + 1;
    }
    return i;
  }

  // A destructuring pattern, nested patterns walked with an explicit stack:
  //   { key, key = d, key: target, [computed]: target, 'k': target, ...rest }
  //   [target, , target = d, ...rest]
  // where a target is a NAME or a nested pattern.
  std::size_t take_pattern(std::size_t i) {
    const std::size_t n = pieces_.size();
    std::vector<char> open;  // '{' object pattern, '[' array pattern
    open.push_back(pieces_[i].text[0]);
    ++i;

    auto take_target = [&](std::size_t at) -> std::size_t {
      if (at >= n) return at;
      const Piece& piece = pieces_[at];
      if (is_punct(piece, "{") || is_punct(piece, "[")) {
        open.push_back(piece.text[0]);
        return at + 1;
      }
      if (piece.kind == Lex::Word) {
        emit(piece.text);
        ++at;
        return at < n && is_punct(pieces_[at], "=") ? skip_default(at) : at;
      }
      return at + 1;  // not a target: step over it
    };

    while (i < n && !open.empty() && !stopped_) {
      const Piece& piece = pieces_[i];
      if (is_closer(piece)) {
        open.pop_back();
        ++i;
        if (!open.empty() && i < n && is_punct(pieces_[i], "=")) i = skip_default(i);
        continue;
      }
      if (is_punct(piece, ",") || is_punct(piece, "...")) {
        ++i;
        continue;
      }
      if (open.back() == '[') {
        i = take_target(i);
        continue;
      }
      // An object-pattern entry: a shorthand NAME, or a key followed by `:`.
      const bool keyed = i + 1 < n && is_punct(pieces_[i + 1], ":");
      if (piece.kind == Lex::Word && !keyed) {
        i = take_target(i);
        continue;
      }
      i = is_punct(piece, "[") ? skip_balanced(i) : i + 1;
      if (i < n && is_punct(pieces_[i], ":")) i = take_target(i + 1);
    }
    return i;
  }

  const std::vector<Piece>& pieces_;
  const Visit& visit_;
  int depth_ = 0;
  std::vector<int> lists_;  // bracket depth of each open declarator list
  bool stopped_ = false;
};

}  // namespace

void for_each_body_declaration(std::string_view body,
                               const std::function<bool(std::string_view)>& visit) {
  const std::vector<Piece> pieces = BodyLexer(body).run();
  DeclarationScan(pieces, visit).run();
}

std::vector<std::string> body_declared_names(std::string_view body) {
  std::vector<std::string> names;
  for_each_body_declaration(body, [&names](std::string_view name) {
    names.emplace_back(name);
    return false;
  });
  return names;
}

int is_declared_inside_any_function(const AnalysisResult& result, std::string_view name) {
  for (const FuncInfo& function : result.funcs) {
    if (!function.body || function.body->find(name) == std::string::npos) continue;
    bool found = false;
    for_each_body_declaration(*function.body, [&](std::string_view declared) {
      found = declared == name;
      return found;
    });
    if (found) return 1;
  }
  return 0;
}

LocalDeclarationIndex build_local_declaration_index(const AnalysisResult& result) {
  // A body captured inside another one is part of that one's text, and so
  // are its declarations: only the outermost bodies are read, so that
  // functions nested a thousand levels deep are not read a thousand times.
  std::vector<const FuncInfo*> regions;
  std::vector<const FuncInfo*> outermost;
  for (const FuncInfo& function : result.funcs) {
    if (!function.body) continue;
    const bool placed = function.body_start >= 0 && function.body_end >= function.body_start &&
                        static_cast<std::size_t>(function.body_end - function.body_start) == function.body->size();
    (placed ? regions : outermost).push_back(&function);
  }
  std::stable_sort(regions.begin(), regions.end(), [](const FuncInfo* a, const FuncInfo* b) {
    return a->body_start < b->body_start || (a->body_start == b->body_start && a->body_end > b->body_end);
  });
  int reached = -1;  // end of the outermost body read so far
  for (const FuncInfo* function : regions) {
    if (function->body_start < reached && function->body_end <= reached) continue;
    outermost.push_back(function);
    reached = std::max(reached, function->body_end);
  }

  LocalDeclarationIndex index;
  for (const FuncInfo* function : outermost) {
    for_each_body_declaration(*function->body, [&index](std::string_view name) {
      if (!index.contains(name)) index.names.emplace(name);
      return false;
    });
  }
  return index;
}
