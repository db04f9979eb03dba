// Locals of captured function bodies: which names a body declares, so that
// the emitter leaves a function's own variables out of the top-level
// declarations.
#include "generator/local_names.h"

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "core/text.h"
#include "core/tokenizer.h"

namespace {

// ---------------------------------------------------------------------------
// The body as pieces: words, punctuators and literals. The body is read by the
// tokenizer with templates split, so that the code of ${...} placeholders is
// read as code; strings, template text, comments and regular expressions come
// as literals or not at all, so nothing inside them reads as a declaration.

enum class Lex : std::uint8_t { Word, Punct, Literal };

// A piece's text is its whole token, delimiters included, as it lies in the
// body: the gaps between pieces are read there too (line breaks).
struct Piece {
  TokenText text;
  Lex kind;
};

// Words after which an expression goes on: a line break after one of them
// does not end a statement.
bool is_operator_word(std::string_view word) {
  return is_one_of(word, {"return", "typeof", "instanceof", "in", "of", "new", "delete", "void",
                       "throw", "case", "do", "else", "yield", "await"});
}

Lex piece_kind(TokenKind kind) {
  switch (kind) {
    case TK_NUMBER:
    case TK_STRING:
    case TK_REGEX:
      return Lex::Literal;
    case TK_IDENTIFIER:
    case TK_RESERVED:
    case TK_LET:
    case TK_CONST:
    case TK_VAR:
    case TK_RETURN:
    case TK_FOR:
    case TK_SWITCH:
    case TK_CLASS:
    case TK_EXTENDS:
    case TK_IMPORT:
    case TK_EXPORT:
    case TK_ASYNC:
      return Lex::Word;
    default:
      return Lex::Punct;
  }
}

Piece make_piece(std::string_view body, std::size_t start, std::size_t end, TokenKind kind) {
  return {TokenText(body.substr(start, end - start)), piece_kind(kind)};
}

// The pieces of a body read from its text. They view the text; a body may be
// most of a several-MB file, so no token is kept.
void body_pieces(std::string_view body, std::vector<Piece>& pieces) {
  tokenize_split_templates(body, [&](const Token& token) {
    pieces.push_back(make_piece(body, static_cast<std::size_t>(token_start(body.data(), token)),
                                static_cast<std::size_t>(token_end(body.data(), token)), token.kind));
  });
}

// The pieces of a body read from the file's tokens, which the file's
// tokenizer has read already: a token's index per piece, or ~k for the k-th
// piece of a template literal split here. Four bytes a piece, while the
// tokens are still held.
class TokenPieces {
 public:
  TokenPieces(std::string_view body, const TokenList& tokens) : body_(body), tokens_(tokens) {}

  std::size_t size() const { return entries_.size(); }
  Piece operator[](std::size_t i) const {
    const int entry = entries_[i];
    if (entry < 0) return split_[static_cast<std::size_t>(~entry)];
    const Token& token = tokens_.items[static_cast<std::size_t>(entry)];
    return make_piece(body_, static_cast<std::size_t>(token_start(body_.data(), token)),
                      static_cast<std::size_t>(token_end(body_.data(), token)), token.kind);
  }

  void add_token(int index) { entries_.push_back(index); }
  void add_split(Piece piece) {
    entries_.push_back(~static_cast<int>(split_.size()));
    split_.push_back(piece);
  }
  void clear() {
    entries_.clear();
    split_.clear();
  }

 private:
  std::string_view body_;
  const TokenList& tokens_;
  std::vector<int> entries_;
  std::vector<Piece> split_;
};

// The pieces of `body` from the file's tokens [first, end), which lie between
// the braces around it. The tokenizer reads the text between two braces as
// it reads that text alone, except for template literals, which the file's
// tokens keep whole. A literal with a placeholder is split here on its own,
// read up to the end of its line (no regular expression or string reads
// past a line break), which is where the body's tokenizer reads it up to
// too. False, with `pieces` left partly written, when the tokens do not
// border the body or a literal does not close where the file's token does;
// the body is then read from its text.
bool body_pieces_from_tokens(std::string_view body, const TokenList& tokens, int first, int end,
                             TokenPieces& pieces) {
  if (first < 1 || end < first || end >= tokens.count()) return false;
  if (tokens.items[static_cast<std::size_t>(first - 1)].kind != TK_LBRACE ||
      tokens.items[static_cast<std::size_t>(end)].kind != TK_RBRACE) {
    return false;
  }
  if (body.data() != tokens.base + tokens.end(first - 1) ||
      body.data() + body.size() != tokens.base + tokens.start(end)) {
    return false;
  }
  // Read alone, the text would skip these as a byte-order mark or a hashbang line.
  if (body.starts_with("\xEF\xBB\xBF") || body.starts_with("#!")) return false;

  for (int i = first; i < end; ++i) {
    const Token& token = tokens.items[static_cast<std::size_t>(i)];
    const auto start = static_cast<std::size_t>(token_start(body.data(), token));
    const auto stop = static_cast<std::size_t>(token_end(body.data(), token));
    const bool is_template = token.kind == TK_STRING && body[start] == '`';
    if (!is_template || body.substr(start, stop - start).find("${") == std::string_view::npos) {
      pieces.add_token(i);
      continue;
    }
    std::size_t line_end = body.find('\n', stop);
    if (line_end == std::string_view::npos) line_end = body.size();
    const std::string_view rest = body.substr(start, line_end - start);
    const std::size_t closed = split_template_literal(rest, [&](const Token& part) {
      pieces.add_split(make_piece(body, start + static_cast<std::size_t>(token_start(rest.data(), part)),
                                  start + static_cast<std::size_t>(token_end(rest.data(), part)), part.kind));
    });
    if (closed != stop - start) return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Declarations over the pieces

bool is_punct(const Piece& piece, std::string_view text) {
  return piece.kind == Lex::Punct && piece.text == text;
}

bool is_opener(const Piece& piece) {
  return piece.kind == Lex::Punct && is_one_of(piece.text, {"(", "[", "{"});
}

bool is_closer(const Piece& piece) {
  return piece.kind == Lex::Punct && is_one_of(piece.text, {")", "]", "}"});
}

using Visit = std::function<bool(std::string_view)>;

// `Pieces` is a std::vector<Piece> or TokenPieces: indexed by piece, and
// each piece views `body`.
template <typename Pieces>
class DeclarationScan {
 public:
  DeclarationScan(std::string_view body, const Pieces& pieces, const Visit& visit)
      : body_(body), pieces_(pieces), visit_(visit) {}

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
      case Lex::Punct: return is_one_of(piece.text, {")", "]", "}"});
    }
    return false;
  }

  // Whether a line break stands between piece i and the one before it (the
  // body's start for the first).
  bool line_start(std::size_t i) const {
    const char* from = i > 0 ? pieces_[i - 1].text.end() : body_.data();
    return std::string_view(from, static_cast<std::size_t>(pieces_[i].text.begin() - from)).find('\n') !=
           std::string_view::npos;
  }

  bool emit(std::string_view name) {
    if (visit_(name)) stopped_ = true;
    return stopped_;
  }

  std::size_t on_word(std::size_t i) {
    const Piece& piece = pieces_[i];
    // A word on a new line after a finished expression starts a new
    // statement: an open declarator list ends there.
    if (list_open_here() && i > 0 && line_start(i) && ends_expression(pieces_[i - 1]) &&
        !is_one_of(piece.text, {"in", "of", "instanceof"})) {
      lists_.pop_back();
    }
    // `obj.let`, `x?.function`: property names, not keywords.
    if (i > 0 && (is_punct(pieces_[i - 1], ".") || is_punct(pieces_[i - 1], "?."))) return i + 1;

    if (is_one_of(piece.text, {"const", "let", "var"}) && i + 1 < pieces_.size() &&
        starts_binding(pieces_[i + 1])) {
      end_list_here();
      lists_.push_back(depth_);
      return take_binding(i + 1);
    }
    // `for (const k in obj)`, `for (const x of xs)`: the header's binding ends.
    if (is_one_of(piece.text, {"in", "of"})) end_list_here();
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

  std::string_view body_;
  const Pieces& pieces_;
  const Visit& visit_;
  int depth_ = 0;
  std::vector<int> lists_;  // bracket depth of each open declarator list
  bool stopped_ = false;
};

}  // namespace

void for_each_body_declaration(std::string_view body,
                               const std::function<bool(std::string_view)>& visit) {
  std::vector<Piece> pieces;
  body_pieces(body, pieces);
  DeclarationScan(body, pieces, visit).run();
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

LocalDeclarationIndex build_local_declaration_index(const AnalysisResult& result, const TokenList* tokens) {
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
  const Visit add = [&index](std::string_view name) {
    if (!index.contains(name)) index.names.emplace(name);
    return false;
  };
  for (const FuncInfo* function : outermost) {
    const std::string_view body = *function->body;
    if (tokens != nullptr) {
      TokenPieces pieces(body, *tokens);
      if (body_pieces_from_tokens(body, *tokens, function->body_first_token, function->body_end_token, pieces)) {
        DeclarationScan(body, pieces, add).run();
        continue;
      }
    }
    std::vector<Piece> pieces;
    body_pieces(body, pieces);
    DeclarationScan(body, pieces, add).run();
  }
  return index;
}
