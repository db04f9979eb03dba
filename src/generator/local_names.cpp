// Locals of captured function bodies: which names a body declares, so that
// the emitter leaves a function's own variables out of the top-level
// declarations.
#include "generator/local_names.h"

#include <algorithm>
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

enum class Lex { Word, Punct, Literal };

struct Piece {
  Lex kind;
  std::string_view text;
  bool line_start;  // a line break stands between this piece and the previous one
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

// The pieces view the body text. A piece costs less than a token, and a
// body may be most of a several-MB file, so no token is kept.
std::vector<Piece> body_pieces(std::string_view body) {
  std::vector<Piece> pieces;
  std::size_t previous_end = 0;
  tokenize_split_templates(body, [&](const Token& token) {
    const auto start = static_cast<std::size_t>(token_start(body.data(), token));
    const auto end = static_cast<std::size_t>(token_end(body.data(), token));
    const bool line_start = body.substr(previous_end, start - previous_end).find('\n') != std::string_view::npos;
    pieces.push_back({piece_kind(static_cast<TokenKind>(token.kind)), body.substr(start, end - start), line_start});
    previous_end = end;
  });
  return pieces;
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
      case Lex::Punct: return is_one_of(piece.text, {")", "]", "}"});
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
        !is_one_of(piece.text, {"in", "of", "instanceof"})) {
      lists_.pop_back();
    }
    // `obj.let`, `x?.function`: property names, not keywords.
    if (before != nullptr && (is_punct(*before, ".") || is_punct(*before, "?."))) return i + 1;

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

  const std::vector<Piece>& pieces_;
  const Visit& visit_;
  int depth_ = 0;
  std::vector<int> lists_;  // bracket depth of each open declarator list
  bool stopped_ = false;
};

}  // namespace

void for_each_body_declaration(std::string_view body,
                               const std::function<bool(std::string_view)>& visit) {
  const std::vector<Piece> pieces = body_pieces(body);
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
