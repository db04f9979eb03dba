#include "analysis/analyzeR4.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdio>
#include <functional>
#include <initializer_list>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/console.h"
#include "core/run.h"

// Pass 4 recognises runtime-library idioms by fixed runs of adjacent tokens.
// Every scan bound below (`i < count - n`) is part of the behaviour: a run that
// ends too close to the end of the list is deliberately not seen.
//
// Bundles of several MB are normal input, so no rule walks the list again for
// each finding: a walk that a rule makes from one token (to the end of the
// line, to a closing bracket, over every use of a parameter name) reads an
// index built once, and lookups by name go through a hash table. Findings,
// their order and the trace lines are those of the plain walks.

namespace {

bool verbose() { return g_kvx_verbose != 0; }

// Token k has the given kind. Callers keep k inside the list.
bool kind_at(const TokenList& tokens, int k, int kind) { return tokens.items[k].kind == kind; }

// Token k is the identifier `word`.
bool ident_at(const TokenList& tokens, int k, std::string_view word) {
  const Token& token = tokens.items[k];
  return token.kind == TK_IDENTIFIER && token.text == word;
}

// Token k has the text `word`, whatever its kind.
bool text_at(const TokenList& tokens, int k, std::string_view word) {
  return tokens.items[k].text == word;
}

bool in_words(std::string_view text, std::initializer_list<std::string_view> words) {
  for (std::string_view word : words) {
    if (text == word) return true;
  }
  return false;
}

bool is_relational(int kind) {
  return kind == TK_LESS || kind == TK_GREATER || kind == TK_LESS_EQUAL ||
         kind == TK_GREATER_EQUAL;
}

struct NameHash {
  using is_transparent = void;
  size_t operator()(std::string_view name) const noexcept { return std::hash<std::string_view>{}(name); }
};

template <typename Value>
using NameMap = std::unordered_map<std::string_view, Value, NameHash, std::equal_to<>>;

// The records of one list grouped by exact name, each group in list order.
// The keys view the records' own names, so the list must keep its records
// while the groups are in use.
class NameGroups {
 public:
  template <typename Record>
  explicit NameGroups(const std::vector<Record>& records) {
    std::vector<int> group_of(records.size());
    std::vector<int> sizes;
    ids_.reserve(records.size());
    for (size_t r = 0; r < records.size(); ++r) {
      const auto [it, added] = ids_.try_emplace(records[r].name, static_cast<int>(sizes.size()));
      if (added) sizes.push_back(0);
      group_of[r] = it->second;
      ++sizes[static_cast<size_t>(it->second)];
    }
    starts_.assign(sizes.size() + 1, 0);
    for (size_t g = 0; g < sizes.size(); ++g) starts_[g + 1] = starts_[g] + sizes[g];
    std::vector<int> next(starts_.begin(), starts_.end() - 1);
    members_.resize(records.size());
    for (size_t r = 0; r < records.size(); ++r) {
      members_[static_cast<size_t>(next[static_cast<size_t>(group_of[r])]++)] = static_cast<int>(r);
    }
  }

  int size() const { return static_cast<int>(starts_.size()) - 1; }

  // -1 when no record has that name.
  int id(std::string_view name) const {
    const auto found = ids_.find(name);
    return found == ids_.end() ? -1 : found->second;
  }

  // Positions of the records of group `id` in the list, in list order.
  std::span<const int> members(int id) const {
    const size_t g = static_cast<size_t>(id);
    return {members_.data() + starts_[g], members_.data() + starts_[g + 1]};
  }

  // Position of the first record of that name; -1 when there is none.
  int first(std::string_view name) const {
    const int g = id(name);
    return g < 0 ? -1 : members_[static_cast<size_t>(starts_[static_cast<size_t>(g)])];
  }

 private:
  NameMap<int> ids_;
  std::vector<int> starts_;
  std::vector<int> members_;
};

// The positions (in increasing order) that lie below `bound`.
std::span<const int> below(const std::vector<int>& positions, int bound) {
  const auto end = std::lower_bound(positions.begin(), positions.end(), bound);
  return {positions.data(), static_cast<size_t>(end - positions.begin())};
}

// The first of the positions (in increasing order) at or after `from`; `none`
// when there is none.
int first_from(const std::vector<int>& positions, int from, int none) {
  const auto found = std::lower_bound(positions.begin(), positions.end(), from);
  return found == positions.end() ? none : *found;
}

// first_from for a scan whose starting point only moves forward: each list is
// walked once over the whole scan.
class ForwardSearch {
 public:
  ForwardSearch(const std::vector<int>& positions, int none) : positions_(positions), none_(none) {}

  int first_from(int from) {
    while (next_ < positions_.size() && positions_[next_] < from) ++next_;
    return next_ < positions_.size() ? positions_[next_] : none_;
  }

 private:
  const std::vector<int>& positions_;
  int none_;
  size_t next_ = 0;
};

// What the detectors of one run share, each part built the first time a
// detector asks for it. Pass 4 appends only to objects and array_objects and
// renames nothing, so the variables and arrays stay as they were indexed, and
// so does the token list.
class Pass4Index {
 public:
  Pass4Index(AnalysisResult& result, const TokenList& tokens) : result_(result), tokens_(tokens) {}

  const NameGroups& vars() {
    if (!vars_) vars_.emplace(result_.vars);
    return *vars_;
  }

  // The first variable of that name, as find_var finds it.
  VarInfo* first_var(std::string_view name) {
    const int v = vars().first(name);
    return v < 0 ? nullptr : &result_.vars[static_cast<size_t>(v)];
  }

  // The first array record of that name, as find_array finds it.
  ArrayInfo* first_array(std::string_view name) {
    if (!arrays_) arrays_.emplace(result_.arrays);
    const int a = arrays_->first(name);
    return a < 0 ? nullptr : &result_.arrays[static_cast<size_t>(a)];
  }

  // Where the runs that the detectors start from or stop at stand, each list
  // in token order; all gathered in one walk of the list.
  struct Positions {
    std::vector<int> assignments;      // identifier `=`
    std::vector<int> member_accesses;  // identifier `.`
    std::vector<int> optional_chains;  // `?.`
    std::vector<int> nullish;          // `??`
    std::vector<int> semicolons;       // `;`
    std::vector<int> open_braces;      // `{`
    std::vector<int> line_starts;      // a token on another line than the one before it
  };

  const Positions& positions() {
    if (!positions_) {
      Positions& at = positions_.emplace();
      const int count = tokens_.count();
      for (int k = 0; k < count; ++k) {
        const Token& token = tokens_.items[static_cast<size_t>(k)];
        switch (token.kind) {
          case TK_IDENTIFIER:
            // `x =`: the start of a declaration or plain assignment.
            if (k + 1 < count && kind_at(tokens_, k + 1, TK_ASSIGN)) at.assignments.push_back(k);
            if (k + 1 < count && kind_at(tokens_, k + 1, TK_DOT)) at.member_accesses.push_back(k);
            break;
          case TK_OPTIONAL_CHAIN: at.optional_chains.push_back(k); break;
          case TK_NULLISH: at.nullish.push_back(k); break;
          case TK_SEMICOLON: at.semicolons.push_back(k); break;
          case TK_LBRACE: at.open_braces.push_back(k); break;
          default: break;
        }
        if (k > 0 && token.line != tokens_.items[static_cast<size_t>(k) - 1].line) at.line_starts.push_back(k);
      }
    }
    return *positions_;
  }

  // The index after the last token of the run of tokens that stand on the
  // same line as token k (the first later token on another line, or count).
  int line_end(int k) { return first_from(positions().line_starts, k + 1, tokens_.count()); }

  // For each opening token, the index of the closing token that brings the
  // depth counted from it back to 0; -1 for other tokens and when the list
  // ends first.
  const std::vector<int>& closing(int open_kind, int close_kind) {
    std::vector<int>& close = closing_[{open_kind, close_kind}];
    if (close.empty()) {
      const int count = tokens_.count();
      close.assign(static_cast<size_t>(count), -1);
      std::vector<int> open;
      for (int k = 0; k < count; ++k) {
        if (kind_at(tokens_, k, open_kind)) {
          open.push_back(k);
        } else if (kind_at(tokens_, k, close_kind) && !open.empty()) {
          close[static_cast<size_t>(open.back())] = k;
          open.pop_back();
        }
      }
    }
    return close;
  }

 private:
  AnalysisResult& result_;
  const TokenList& tokens_;
  std::optional<NameGroups> vars_;
  std::optional<NameGroups> arrays_;
  std::optional<Positions> positions_;
  std::map<std::pair<int, int>, std::vector<int>> closing_;
};

// For rules that give the first untyped variable of a name a kind and never
// clear one: the records of a name that were passed over keep their kinds for
// the rest of the rule, so each name's search resumes where it stopped.
class FirstUntypedVar {
 public:
  FirstUntypedVar(std::vector<VarInfo>& vars, const NameGroups& groups)
      : vars_(vars), groups_(groups), cursor_(static_cast<size_t>(groups.size()), 0) {}

  VarInfo* find(std::string_view name) {
    const int id = groups_.id(name);
    if (id < 0) return nullptr;
    const std::span<const int> members = groups_.members(id);
    size_t& at = cursor_[static_cast<size_t>(id)];
    while (at < members.size() && vars_[static_cast<size_t>(members[at])].type.kind != TYPE_NONE) ++at;
    return at < members.size() ? &vars_[static_cast<size_t>(members[at])] : nullptr;
  }

 private:
  std::vector<VarInfo>& vars_;
  const NameGroups& groups_;
  std::vector<size_t> cursor_;
};

}  // namespace

// ---------------------------------------------------------------------------
// API detectors

namespace {

// x = createReadStream          -> kind 10
// x = fs . createReadStream     -> kind 10
void detect_read_stream(const TokenList& tokens, Pass4Index& index) {
  const int count = tokens.count();
  for (int i : below(index.positions().assignments, count - 3)) {
    const bool direct = ident_at(tokens, i + 2, "createReadStream");
    const bool through_fs = i + 4 < count && ident_at(tokens, i + 2, "fs") &&
                            kind_at(tokens, i + 3, TK_DOT) &&
                            ident_at(tokens, i + 4, "createReadStream");
    if (!direct && !through_fs) continue;
    const std::string& name = tokens.items[i].text;
    if (VarInfo* var = index.first_var(name)) {
      var->type.kind = TYPE_READSTREAM;
      if (verbose()) std::printf(CLR_GREEN "[ANALYZER4] READSTREAM DETECTE : %s\n" CLR_RESET, name.c_str());
    }
  }
}

// x = readline . createInterface   -> kind 15 "readline.Interface"
void detect_readline_interface(const TokenList& tokens, Pass4Index& index) {
  const int count = tokens.count();
  for (int i : below(index.positions().assignments, count - 5)) {
    if (!ident_at(tokens, i + 2, "readline") || !kind_at(tokens, i + 3, TK_DOT) ||
        !ident_at(tokens, i + 4, "createInterface")) {
      continue;
    }
    const std::string& name = tokens.items[i].text;
    if (VarInfo* var = index.first_var(name)) {
      var->type.kind = TYPE_NAMED;
      var->type.type_name = "readline.Interface";
      if (verbose()) std::printf(CLR_GREEN "[ANALYZER4] READLINE DETECTE : %s\n" CLR_RESET, name.c_str());
    }
  }
}

// x = await fetch   -> kind 9 (Response)
// x = fetch         -> kind 13 (Promise)
void detect_fetch_calls(const TokenList& tokens, Pass4Index& index) {
  const int count = tokens.count();
  for (int i : below(index.positions().assignments, count - 3)) {
    int kind = TYPE_NONE;
    if (i + 4 < count && ident_at(tokens, i + 2, "await") && ident_at(tokens, i + 3, "fetch")) {
      kind = TYPE_RESPONSE;
    } else if (ident_at(tokens, i + 2, "fetch")) {
      kind = TYPE_PROMISE;
    }
    if (kind == TYPE_NONE) continue;
    const std::string& name = tokens.items[i].text;
    if (VarInfo* var = index.first_var(name)) {
      var->type.kind = kind;
      if (verbose()) std::printf(CLR_GREEN "[ANALYZER4] FETCH DETECTE : %s\n" CLR_RESET, name.c_str());
    }
  }
}

// x = new Set   -> kind 12; element_kind is left to pass 5
void detect_set_usage(const TokenList& tokens, Pass4Index& index) {
  const int count = tokens.count();
  for (int i : below(index.positions().assignments, count - 4)) {
    if (!ident_at(tokens, i + 2, "new") || !ident_at(tokens, i + 3, "Set")) continue;
    const std::string& name = tokens.items[i].text;
    if (VarInfo* var = index.first_var(name)) {
      var->type.kind = TYPE_SET;
      if (verbose()) std::printf(CLR_GREEN "[ANALYZER4] SET DETECTE : %s\n" CLR_RESET, name.c_str());
    }
  }
}

// x = new Map   -> kind 14; key and value kinds are left to pass 5
void detect_map_usage(const TokenList& tokens, Pass4Index& index) {
  const int count = tokens.count();
  for (int i : below(index.positions().assignments, count - 4)) {
    if (!ident_at(tokens, i + 2, "new") || !ident_at(tokens, i + 3, "Map")) continue;
    const std::string& name = tokens.items[i].text;
    if (VarInfo* var = index.first_var(name)) {
      var->type.kind = TYPE_MAP;
      if (verbose()) std::printf(CLR_GREEN "[ANALYZER4] MAP DETECTEE : %s\n" CLR_RESET, name.c_str());
    }
  }
}

// x = await Promise . all   -> kind 7, element_kind 0 (texts only, kinds not tested)
void detect_promise_all(const TokenList& tokens, Pass4Index& index) {
  const int count = tokens.count();
  for (int i : below(index.positions().assignments, count - 6)) {
    if (!text_at(tokens, i + 2, "await") || !text_at(tokens, i + 3, "Promise") ||
        !kind_at(tokens, i + 4, TK_DOT) || !text_at(tokens, i + 5, "all")) {
      continue;
    }
    const std::string& name = tokens.items[i].text;
    if (VarInfo* var = index.first_var(name)) {
      var->type.kind = TYPE_ARRAY;
      var->type.element_kind = TYPE_NONE;
      if (verbose()) std::printf(CLR_GREEN "[ANALYZER4] PROMISE.ALL DETECTE : %s\n" CLR_RESET, name.c_str());
    }
  }
}

// x = await Promise . race   -> kind 0: the winner's type is not known
void detect_promise_race(const TokenList& tokens, Pass4Index& index) {
  const int count = tokens.count();
  for (int i : below(index.positions().assignments, count - 6)) {
    if (!text_at(tokens, i + 2, "await") || !text_at(tokens, i + 3, "Promise") ||
        !kind_at(tokens, i + 4, TK_DOT) || !text_at(tokens, i + 5, "race")) {
      continue;
    }
    const std::string& name = tokens.items[i].text;
    if (VarInfo* var = index.first_var(name)) {
      var->type.kind = TYPE_NONE;
      if (verbose()) std::printf(CLR_GREEN "[ANALYZER4] PROMISE.RACE DETECTE : %s\n" CLR_RESET, name.c_str());
    }
  }
}

// r . push ( p   with some variable p of kind 13   -> array r gets element_kind 13
// Relies on kind 13 set earlier (detect_fetch_calls or pass 3); detect_async_iife
// runs after this, so its promises are not seen here.
void detect_results_promises(AnalysisResult& result, const TokenList& tokens, Pass4Index& index) {
  const int count = tokens.count();
  // Per name: 0 not looked at yet, 1 some variable of that name is a promise,
  // 2 none is. This rule changes no variable, so an answer holds to the end.
  std::vector<char> promise_answer;
  for (int i : below(index.positions().member_accesses, count - 4)) {
    if (!text_at(tokens, i + 2, "push") || !kind_at(tokens, i + 3, TK_LPAREN) ||
        !kind_at(tokens, i + 4, TK_IDENTIFIER)) {
      continue;
    }
    const NameGroups& vars = index.vars();
    const int id = vars.id(tokens.items[i + 4].text);
    if (id < 0) continue;
    promise_answer.resize(static_cast<size_t>(vars.size()), 0);
    char& answer = promise_answer[static_cast<size_t>(id)];
    if (answer == 0) {
      answer = 2;
      for (int v : vars.members(id)) {
        if (result.vars[static_cast<size_t>(v)].type.kind == TYPE_PROMISE) answer = 1;
      }
    }
    if (answer != 1) continue;
    const std::string& array_name = tokens.items[i].text;
    if (ArrayInfo* array = index.first_array(array_name)) array->element_kind = TYPE_PROMISE;
    if (verbose()) {
      std::printf(CLR_GREEN "[ANALYZER4] ARRAY BINDING %s -> Promise[]\n" CLR_RESET, array_name.c_str());
    }
  }
}

// name = ... . delete|has ...   on the line of the arrow's first `name =`   -> return kind 3
void detect_delete_return_type(AnalysisResult& result, const TokenList& tokens, Pass4Index& index) {
  const int count = tokens.count();
  if (result.arrows.empty() || count - 4 <= 0) return;
  // The first `name =` of each name, below the rule's bound.
  NameMap<int> first_assignment;
  for (int j : below(index.positions().assignments, count - 4)) {
    first_assignment.try_emplace(tokens.items[static_cast<size_t>(j)].text, j);
  }
  // For each index k, the first `. delete` or `. has` from k on; count when none.
  std::vector<int> next_member(static_cast<size_t>(count) + 1, count);
  for (int k = count - 2; k >= 0; --k) {
    const bool member = kind_at(tokens, k, TK_DOT) &&
                        (ident_at(tokens, k + 1, "delete") || ident_at(tokens, k + 1, "has"));
    next_member[static_cast<size_t>(k)] = member ? k : next_member[static_cast<size_t>(k) + 1];
  }
  for (ArrowInfo& arrow : result.arrows) {
    const auto found = first_assignment.find(arrow.name);
    if (found == first_assignment.end()) continue;
    const int j = found->second;
    // The walk from j+2 stays on token j's line and below count - 2.
    const int from = j + 2;
    if (tokens.items[static_cast<size_t>(from)].line != tokens.items[static_cast<size_t>(j)].line) continue;
    const int end = std::min(index.line_end(from), count - 2);
    if (next_member[static_cast<size_t>(from)] >= end) continue;
    arrow.return_type.kind = TYPE_BOOLEAN;
    if (verbose()) {
      std::printf(CLR_GREEN "[ANALYZER4] %s -> BOOLEAN (.delete/.has)\n" CLR_RESET, arrow.name.c_str());
    }
  }
}

// x = ( async ... ) (   -> kind 13
void detect_async_iife(const TokenList& tokens, Pass4Index& index) {
  const int count = tokens.count();
  if (count <= 5) return;
  // i runs from 1 while i < count - 4, with the `x =` at i-1.
  for (int assignment : below(index.positions().assignments, count - 5)) {
    const int i = assignment + 1;
    if (!kind_at(tokens, i + 1, TK_LPAREN) || !kind_at(tokens, i + 2, TK_ASYNC)) continue;
    // The `)` that closes the `(` at i+1.
    const int close = index.closing(TK_LPAREN, TK_RPAREN)[static_cast<size_t>(i) + 1];
    if (close < 0 || close + 1 >= count || !kind_at(tokens, close + 1, TK_LPAREN)) continue;
    const std::string& name = tokens.items[static_cast<size_t>(i) - 1].text;
    if (VarInfo* var = index.first_var(name)) {
      var->type.kind = TYPE_PROMISE;
      if (verbose()) {
        std::printf(CLR_GREEN "[ANALYZER4] %s -> Promise<unknown> (Async IIFE)\n" CLR_RESET, name.c_str());
      }
    }
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Access and string-method detectors

// a . b   -> report only
void detect_property_access(AnalysisResult&, const TokenList& tokens) {
  if (!verbose()) return;  // it only reports
  const int count = tokens.count();
  for (int i = 0; i < count - 2; ++i) {
    if (kind_at(tokens, i, TK_IDENTIFIER) && kind_at(tokens, i + 1, TK_DOT) &&
        kind_at(tokens, i + 2, TK_IDENTIFIER)) {
      std::printf(CLR_GREEN "[ANALYZER4] PROPERTY : %s.%s\n" CLR_RESET,
                  tokens.items[static_cast<size_t>(i)].text.c_str(),
                  tokens.items[static_cast<size_t>(i) + 2].text.c_str());
    }
  }
}

namespace {

// x = ... ?. ...   (same line, before `;`)   -> first untyped x gets kind 8
void detect_optional_chaining(AnalysisResult& result, const TokenList& tokens, Pass4Index& index) {
  const int count = tokens.count();
  if (count - 3 <= 0) return;
  const Pass4Index::Positions& at = index.positions();
  ForwardSearch line_start(at.line_starts, count);  // from + 1 on: where from's line ends
  ForwardSearch semicolon(at.semicolons, count);
  ForwardSearch chain(at.optional_chains, count);
  FirstUntypedVar untyped(result.vars, index.vars());
  for (int i : below(at.assignments, count - 3)) {
    // The walk from i+2 stops at a `;` and at the end of token i's line.
    const int from = i + 2;
    if (tokens.items[static_cast<size_t>(from)].line != tokens.items[static_cast<size_t>(i)].line) continue;
    const int end = std::min(line_start.first_from(from + 1), semicolon.first_from(from));
    if (chain.first_from(from) >= end) continue;
    const std::string& name = tokens.items[static_cast<size_t>(i)].text;
    if (VarInfo* var = untyped.find(name)) var->type.kind = TYPE_UNKNOWN;
    if (verbose()) std::printf(CLR_GREEN "[ANALYZER4] OPTIONAL CHAINING : %s\n" CLR_RESET, name.c_str());
  }
}

// x = ... ?? LITERAL   (same line, before `;`)   -> first untyped x gets the literal's kind
void detect_nullish_coalescing(AnalysisResult& result, const TokenList& tokens, Pass4Index& index) {
  const int count = tokens.count();
  if (count - 4 <= 0) return;
  const Pass4Index::Positions& at = index.positions();
  ForwardSearch line_start(at.line_starts, count);  // from + 1 on: where from's line ends
  ForwardSearch semicolon(at.semicolons, count);
  ForwardSearch fallback(at.nullish, count);
  FirstUntypedVar untyped(result.vars, index.vars());
  for (int i : below(at.assignments, count - 4)) {
    // The walk from i+2 stops at a `;`, at the end of token i's line and
    // before the last token.
    const int from = i + 2;
    if (tokens.items[static_cast<size_t>(from)].line != tokens.items[static_cast<size_t>(i)].line) continue;
    const int end = std::min({line_start.first_from(from + 1), semicolon.first_from(from), count - 1});
    const int nullish = fallback.first_from(from);
    if (nullish >= end) continue;
    const int literal = infer_literal_type(&tokens.items[static_cast<size_t>(nullish) + 1]);
    if (literal == TYPE_NONE) continue;
    const std::string& name = tokens.items[static_cast<size_t>(i)].text;
    if (VarInfo* var = untyped.find(name)) var->type.kind = literal;
    if (verbose()) std::printf(CLR_GREEN "[ANALYZER4] NULLISH FALLBACK : %s\n" CLR_RESET, name.c_str());
  }
}

// s . trim|toUpperCase|toLowerCase|substring|charAt   -> every variable s gets kind 2
void detect_string_methods(AnalysisResult& result, const TokenList& tokens, Pass4Index& index) {
  const int count = tokens.count();
  // Names whose variables are all strings already: without a trace to print,
  // a later call on them changes nothing.
  std::vector<char> typed;
  for (int i : below(index.positions().member_accesses, count - 4)) {
    if (!kind_at(tokens, i + 2, TK_IDENTIFIER)) continue;
    const std::string& method = tokens.items[static_cast<size_t>(i) + 2].text;
    if (!in_words(method, {"trim", "toUpperCase", "toLowerCase", "substring", "charAt"})) continue;
    const std::string& name = tokens.items[static_cast<size_t>(i)].text;
    const NameGroups& vars = index.vars();
    const int id = vars.id(name);
    if (id < 0) continue;
    typed.resize(static_cast<size_t>(vars.size()), 0);
    if (typed[static_cast<size_t>(id)] && !verbose()) continue;
    typed[static_cast<size_t>(id)] = 1;
    for (int v : vars.members(id)) {
      result.vars[static_cast<size_t>(v)].type.kind = TYPE_STRING;
      if (verbose()) {
        std::printf(CLR_GREEN "[ANALYZER4] STRING METHOD : %s.%s()\n" CLR_RESET, name.c_str(), method.c_str());
        std::printf(CLR_GREEN "[ANALYZER4] %s -> STRING\n" CLR_RESET, name.c_str());
      }
    }
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Object-array and returned-object detectors

namespace {

void register_task_shape(AnalysisResult& result) {
  // The shape is fixed: the literal's own keys are only reported.
  ShapeInfo shape;
  shape.name = "tasks";
  shape.fields.push_back(ShapeField{"id", TYPE_STRING});
  shape.fields.push_back(ShapeField{"url", TYPE_STRING});
  result.array_objects.push_back(std::move(shape));
}

// tasks . push ... { key : ... }   -> registers the task shape once per file
void detect_array_object_push(AnalysisResult& result, const TokenList& tokens, Pass4Index& index) {
  const int count = tokens.count();
  // Positions of every `{` and every `key :`, in order: what the walk from a
  // `{` to its closing `}` reports.
  std::vector<int> marks;
  bool marks_built = false;
  for (int i : below(index.positions().member_accesses, count - 4)) {
    if (!ident_at(tokens, i, "tasks") || !ident_at(tokens, i + 2, "push")) continue;
    if (verbose()) std::printf(CLR_GREEN "[ANALYZER4] ARRAY PUSH : tasks\n" CLR_RESET);
    // The walk from i passes over everything before the first `{` and ends at
    // the `}` that closes it, or at the end of the list.
    const int open = first_from(index.positions().open_braces, i, count);
    if (open >= count) continue;
    if (!verbose()) {
      if (result.array_objects.empty()) register_task_shape(result);
      continue;
    }
    const int close = index.closing(TK_LBRACE, TK_RBRACE)[static_cast<size_t>(open)];
    const int end = close < 0 ? count : close;
    if (!marks_built) {
      for (int k = 0; k < count; ++k) {
        if (kind_at(tokens, k, TK_LBRACE) ||
            (kind_at(tokens, k, TK_IDENTIFIER) && k + 1 < count && kind_at(tokens, k + 1, TK_COLON))) {
          marks.push_back(k);
        }
      }
      marks_built = true;
    }
    for (auto mark = std::lower_bound(marks.begin(), marks.end(), open); mark != marks.end() && *mark < end;
         ++mark) {
      const Token& token = tokens.items[static_cast<size_t>(*mark)];
      if (token.kind == TK_LBRACE) {
        std::printf(CLR_GREEN "[ANALYZER4] TASK OBJECT DETECTE\n" CLR_RESET);
        if (result.array_objects.empty()) {
          register_task_shape(result);
          std::printf(CLR_GREEN "[ANALYZER4] ARRAY OBJECT ENREGISTRE\n" CLR_RESET);
        }
      } else {
        std::printf(CLR_CYAN "[ANALYZER4] FIELD : %s\n" CLR_RESET, token.text.c_str());
      }
    }
  }
}

// for await ... line   (within 20 tokens)   -> every variable "line" gets kind 2
void detect_readline_lines(AnalysisResult& result, const TokenList& tokens, Pass4Index& index) {
  const int count = tokens.count();
  // Without a trace to print, typing the "line" variables twice changes nothing.
  bool typed = false;
  for (int i = 0; i < count - 8; ++i) {
    if (!kind_at(tokens, i, TK_FOR) || !ident_at(tokens, i + 1, "await")) continue;
    for (int k = i; k <= i + 19 && k < count; ++k) {
      if (!ident_at(tokens, k, "line")) continue;
      if (verbose()) {
        std::printf(CLR_GREEN "[ANALYZER4] READLINE LINE DETECTE : %s\n" CLR_RESET,
                    tokens.items[static_cast<size_t>(k)].text.c_str());
      }
      if (typed && !verbose()) break;
      typed = true;
      const int id = index.vars().id("line");
      if (id < 0) break;
      for (int v : index.vars().members(id)) {
        result.vars[static_cast<size_t>(v)].type.kind = TYPE_STRING;
        if (verbose()) std::printf(CLR_GREEN "[ANALYZER4] LINE -> STRING\n" CLR_RESET);
      }
      break;
    }
  }
}

}  // namespace

// for ( const v   with a "tasks" shape registered   -> object record v with the shape's fields
// Relies on detect_array_object_push having run.
void detect_for_of_array_objects(AnalysisResult& result, const TokenList& tokens) {
  const int count = tokens.count();
  // The rule appends only to objects, so the shape it copies stays the same.
  const ShapeInfo* shape = nullptr;
  for (const ShapeInfo& candidate : result.array_objects) {
    if (candidate.name == "tasks") {
      shape = &candidate;
      break;
    }
  }
  if (shape == nullptr) return;
  for (int i = 0; i < count - 6; ++i) {
    if (!kind_at(tokens, i, TK_FOR) || !kind_at(tokens, i + 1, TK_LPAREN) ||
        !kind_at(tokens, i + 2, TK_CONST) || !kind_at(tokens, i + 3, TK_IDENTIFIER)) {
      continue;
    }
    const std::string& name = tokens.items[static_cast<size_t>(i) + 3].text;
    if (verbose()) std::printf(CLR_GREEN "[ANALYZER4] FOR-OF DETECTE : %s\n" CLR_RESET, name.c_str());
    ObjectInfo object;
    object.name = name;
    for (const ShapeField& field : shape->fields) object.fields->emplace_back(field.name, field.kind);
    result.objects.push_back(std::move(object));
    if (verbose()) std::printf(CLR_GREEN "[ANALYZER4] OBJECT PROPAGATE : %s\n" CLR_RESET, name.c_str());
  }
}

// body's last "return NAME" with an object record NAME that has fields
//   -> an open return type (0 or 5) becomes kind 6 with the object's flat fields
void detect_return_object_variable(AnalysisResult& result) {
  constexpr std::string_view kReturn = "return ";
  constexpr size_t kMaxName = 63;
  // The first object of each name that has fields; the rule adds no object.
  NameMap<int> first_with_fields;
  for (size_t o = 0; o < result.objects.size(); ++o) {
    const ObjectInfo& object = result.objects[o];
    if (object.field_count() > 0) first_with_fields.try_emplace(object.name, static_cast<int>(o));
  }
  for (FuncInfo& func : result.funcs) {
    if (!func.body || (func.return_type.kind != TYPE_NONE && func.return_type.kind != TYPE_VOID)) continue;
    const std::string& body = *func.body;
    const size_t at = body.rfind(kReturn);
    if (at == std::string::npos) continue;
    size_t pos = at + kReturn.size();
    while (pos < body.size() && (body[pos] == ' ' || body[pos] == '\t')) ++pos;
    const size_t name_start = pos;
    auto is_word = [](char c) {
      return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
    };
    while (pos < body.size() && is_word(body[pos])) ++pos;
    const std::string name = body.substr(name_start, std::min(pos - name_start, kMaxName));
    if (name.empty()) continue;
    const auto found = first_with_fields.find(name);
    if (found == first_with_fields.end()) continue;
    const ObjectInfo& object = result.objects[static_cast<size_t>(found->second)];
    func.return_type.kind = TYPE_OBJECT;
    func.return_type.fields.clear();
    for (const ObjectField& field : *object.fields) {
      func.return_type.fields.push_back(TypeField{field.name, field.kind});
    }
    if (verbose()) {
      std::printf(CLR_GREEN "[ANALYZER4] RETURN OBJECT DETECTE : %s -> %s (%d champs)\n" CLR_RESET,
                  func.name.c_str(), name.c_str(), object.field_count());
    }
  }
}

// ---------------------------------------------------------------------------
// Parameter usage inference

namespace {

// Which of a set of names occur inside a text, all of them found in one walk
// of the text (an Aho-Corasick automaton), however many names there are.
class NameMatcher {
 public:
  // Names must be added before build(), each once.
  void add(std::string_view name, int id) {
    if (name.empty()) {  // found in every text
      empty_id_ = id;
      return;
    }
    int node = 0;
    for (char c : name) {
      int next = child(node, static_cast<unsigned char>(c));
      if (next < 0) {
        next = static_cast<int>(nodes_.size());
        nodes_[static_cast<size_t>(node)].children.emplace_back(static_cast<unsigned char>(c), next);
        nodes_.emplace_back();
      }
      node = next;
    }
    nodes_[static_cast<size_t>(node)].id = id;
  }

  void build() {
    root_next_.fill(0);
    std::vector<int> queue;
    for (const auto& [c, next] : nodes_[0].children) {
      root_next_[c] = next;
      queue.push_back(next);
    }
    for (size_t q = 0; q < queue.size(); ++q) {
      const int node = queue[q];
      for (const auto& [c, next] : nodes_[static_cast<size_t>(node)].children) {
        const int fail = step(nodes_[static_cast<size_t>(node)].fail, c);
        Node& target = nodes_[static_cast<size_t>(next)];
        target.fail = fail;
        const Node& suffix = nodes_[static_cast<size_t>(fail)];
        target.output = suffix.id >= 0 ? fail : suffix.output;
        queue.push_back(next);
      }
    }
  }

  // Calls found(id) once for each name that occurs in the text.
  template <typename Found>
  void find_all(std::string_view text, Found found) {
    ++pass_;
    if (empty_id_ >= 0) found(empty_id_);
    int state = 0;
    for (char c : text) {
      state = step(state, static_cast<unsigned char>(c));
      const Node& at = nodes_[static_cast<size_t>(state)];
      // A name reported in this text was reported with all the names that
      // end where it ends, so the chain stops at the first one already seen.
      for (int n = at.id >= 0 ? state : at.output; n >= 0 && nodes_[static_cast<size_t>(n)].seen != pass_;
           n = nodes_[static_cast<size_t>(n)].output) {
        nodes_[static_cast<size_t>(n)].seen = pass_;
        found(nodes_[static_cast<size_t>(n)].id);
      }
    }
  }

 private:
  struct Node {
    std::vector<std::pair<unsigned char, int>> children;
    int fail = 0;
    int id = -1;      // the name ending here
    int output = -1;  // the longest shorter name ending here
    int seen = 0;
  };

  int child(int node, unsigned char c) const {
    for (const auto& [label, next] : nodes_[static_cast<size_t>(node)].children) {
      if (label == c) return next;
    }
    return -1;
  }

  int step(int state, unsigned char c) const {
    while (state != 0) {
      const int next = child(state, c);
      if (next >= 0) return next;
      state = nodes_[static_cast<size_t>(state)].fail;
    }
    return root_next_[c];
  }

  std::vector<Node> nodes_ = std::vector<Node>(1);
  std::array<int, 256> root_next_{};
  int empty_id_ = -1;
  int pass_ = 0;
};

enum UseRule { kUseMethod, kUseFs, kUseTemplate, kUseCompareRight, kUseCompareLeft };

struct Use {
  int token;
  UseRule rule;
};

// Where one name is used the way a parameter rule looks for, in token order
// and, at one token, in rule order.
struct NameUses {
  std::vector<Use> strings;   // method, file-system and template rules
  std::vector<Use> compares;  // compare-right and compare-left rules
};

bool is_param_string_method(std::string_view name) {
  return in_words(name, {"trim", "toUpperCase", "toLowerCase", "split", "replace"});
}

bool is_fs_call(std::string_view name) {
  return in_words(name, {"createReadStream", "createWriteStream", "mkdir", "readFile", "writeFile"});
}

// Every rule at every token, for all the names in `ids` at once: one walk of
// the list in place of one per parameter.
std::vector<NameUses> collect_name_uses(const NameMap<int>& ids, const TokenList& tokens) {
  std::vector<NameUses> uses(ids.size());
  if (ids.empty()) return uses;
  NameMatcher matcher;
  for (const auto& [name, id] : ids) matcher.add(name, id);
  matcher.build();
  auto id_of = [&ids](const Token& token) {
    if (token.kind != TK_IDENTIFIER) return -1;
    const auto found = ids.find(token.text);
    return found == ids.end() ? -1 : found->second;
  };
  const int count = tokens.count();
  for (int k = 0; k < count; ++k) {
    const Token& token = tokens.items[static_cast<size_t>(k)];
    const int id = id_of(token);
    // p . trim|toUpperCase|toLowerCase|split|replace
    if (id >= 0 && k + 2 < count && kind_at(tokens, k + 1, TK_DOT) && kind_at(tokens, k + 2, TK_IDENTIFIER) &&
        is_param_string_method(tokens.items[static_cast<size_t>(k) + 2].text)) {
      uses[static_cast<size_t>(id)].strings.push_back({k, kUseMethod});
    }
    // createReadStream|createWriteStream|mkdir|readFile|writeFile ( p
    if (k + 2 < count && token.kind == TK_IDENTIFIER && is_fs_call(token.text) &&
        kind_at(tokens, k + 1, TK_LPAREN)) {
      const int argument = id_of(tokens.items[static_cast<size_t>(k) + 2]);
      if (argument >= 0) uses[static_cast<size_t>(argument)].strings.push_back({k, kUseFs});
    }
    // a string or template holding "${" and the name
    if (token.kind == TK_STRING && token.text.find("${") != std::string::npos) {
      matcher.find_all(token.text, [&](int found) {
        uses[static_cast<size_t>(found)].strings.push_back({k, kUseTemplate});
      });
    }
    if (id < 0) continue;
    // p < > <= >=
    if (k + 1 < count && is_relational(tokens.items[static_cast<size_t>(k) + 1].kind)) {
      uses[static_cast<size_t>(id)].compares.push_back({k, kUseCompareRight});
    }
    // < > <= >= p
    if (k > 0 && is_relational(tokens.items[static_cast<size_t>(k) - 1].kind)) {
      uses[static_cast<size_t>(id)].compares.push_back({k, kUseCompareLeft});
    }
  }
  return uses;
}

void print_use(const Use& use, const char* p) {
  switch (use.rule) {
    case kUseMethod: std::printf(CLR_GREEN "[ANALYZER4] PARAM %s -> STRING (METHOD)\n" CLR_RESET, p); break;
    case kUseFs: std::printf(CLR_GREEN "[ANALYZER4] PARAM %s -> STRING (FS)\n" CLR_RESET, p); break;
    case kUseTemplate: std::printf(CLR_GREEN "[ANALYZER4] PARAM %s -> STRING (TEMPLATE)\n" CLR_RESET, p); break;
    case kUseCompareRight:
      std::printf(CLR_GREEN "[ANALYZER4] PARAM %s -> NUMBER (COMPARE RIGHT)\n" CLR_RESET, p);
      break;
    case kUseCompareLeft:
      std::printf(CLR_GREEN "[ANALYZER4] PARAM %s -> NUMBER (COMPARE LEFT)\n" CLR_RESET, p);
      break;
  }
}

// Applies every rule at every token of the file to one parameter, from the
// name's uses. A string rule sets kind 2 and stops the comparison rules from
// then on (at its own token too, as they come after it), so the comparisons
// that count are those before the first string use.
void infer_parameter_from_usage(TypeInfo& type, const std::string& param, const NameUses& uses) {
  if (!verbose()) {
    if (!uses.strings.empty()) {
      type.kind = TYPE_STRING;
    } else if (type.kind != TYPE_STRING && !uses.compares.empty()) {
      type.kind = TYPE_NUMBER;
    }
    return;
  }
  const int first_string = uses.strings.empty() ? INT_MAX : uses.strings.front().token;
  if (type.kind != TYPE_STRING) {
    for (const Use& use : uses.compares) {
      if (use.token >= first_string) break;
      type.kind = TYPE_NUMBER;
      print_use(use, param.c_str());
    }
  }
  for (const Use& use : uses.strings) {
    type.kind = TYPE_STRING;
    print_use(use, param.c_str());
  }
}

// A record with fewer types than names leaves the extra names untyped.
int typed_param_count(const FuncInfo& func) {
  return std::min(func.param_count(), static_cast<int>(func.param_types.size()));
}

bool typed_by_name(const std::string& param) { return param.find("concurrencyLimit") != std::string::npos; }

}  // namespace

// p . method (   fs-call ( p   `...${...p...`   p <   < p   -> parameter kind 2 or 1
void detect_parameter_usage_inference(AnalysisResult& result, const TokenList& tokens) {
  if (verbose()) std::printf(CLR_CYAN "[ANALYZER4] PARAMETER INFERENCE START\n" CLR_RESET);
  // The names whose uses are looked up below. The keys view the functions'
  // own parameter names, which this rule does not change.
  NameMap<int> ids;
  for (const FuncInfo& func : result.funcs) {
    for (int j = 0; j < typed_param_count(func); ++j) {
      const std::string& param = func.param_names[static_cast<size_t>(j)];
      if (!typed_by_name(param)) ids.try_emplace(param, static_cast<int>(ids.size()));
    }
  }
  const std::vector<NameUses> uses = collect_name_uses(ids, tokens);
  for (FuncInfo& func : result.funcs) {
    const int params = typed_param_count(func);
    for (int j = 0; j < params; ++j) {
      const std::string& param = func.param_names[static_cast<size_t>(j)];
      TypeInfo& type = func.param_types[static_cast<size_t>(j)];
      if (type.kind == TYPE_UNION) continue;
      // Typed by its name alone; the tokens are not consulted.
      if (typed_by_name(param)) {
        type.kind = TYPE_NUMBER;
        if (verbose()) std::printf(CLR_GREEN "[ANALYZER4] concurrencyLimit -> NUMBER\n" CLR_RESET);
        continue;
      }
      infer_parameter_from_usage(type, param, uses[static_cast<size_t>(ids.find(param)->second)]);
    }
  }
  if (!verbose()) return;
  for (const FuncInfo& func : result.funcs) {
    if (func.name != "batchProcessImageDownloads") continue;
    auto kind_of = [&func](int j) {
      return j < typed_param_count(func) ? func.param_types[static_cast<size_t>(j)].kind : -1;
    };
    std::printf(CLR_YELLOW "[DEBUG PARAMS] %s -> %d %d %d\n" CLR_RESET, func.name.c_str(), kind_of(0), kind_of(1),
                kind_of(2));
  }
}

// ---------------------------------------------------------------------------
// The detectors one at a time; each builds the indexes it needs.

void detect_read_stream(AnalysisResult& result, const TokenList& tokens) {
  Pass4Index index(result, tokens);
  detect_read_stream(tokens, index);
}
void detect_readline_interface(AnalysisResult& result, const TokenList& tokens) {
  Pass4Index index(result, tokens);
  detect_readline_interface(tokens, index);
}
void detect_fetch_calls(AnalysisResult& result, const TokenList& tokens) {
  Pass4Index index(result, tokens);
  detect_fetch_calls(tokens, index);
}
void detect_set_usage(AnalysisResult& result, const TokenList& tokens) {
  Pass4Index index(result, tokens);
  detect_set_usage(tokens, index);
}
void detect_map_usage(AnalysisResult& result, const TokenList& tokens) {
  Pass4Index index(result, tokens);
  detect_map_usage(tokens, index);
}
void detect_promise_all(AnalysisResult& result, const TokenList& tokens) {
  Pass4Index index(result, tokens);
  detect_promise_all(tokens, index);
}
void detect_promise_race(AnalysisResult& result, const TokenList& tokens) {
  Pass4Index index(result, tokens);
  detect_promise_race(tokens, index);
}
void detect_optional_chaining(AnalysisResult& result, const TokenList& tokens) {
  Pass4Index index(result, tokens);
  detect_optional_chaining(result, tokens, index);
}
void detect_nullish_coalescing(AnalysisResult& result, const TokenList& tokens) {
  Pass4Index index(result, tokens);
  detect_nullish_coalescing(result, tokens, index);
}
void detect_array_object_push(AnalysisResult& result, const TokenList& tokens) {
  Pass4Index index(result, tokens);
  detect_array_object_push(result, tokens, index);
}
void detect_readline_lines(AnalysisResult& result, const TokenList& tokens) {
  Pass4Index index(result, tokens);
  detect_readline_lines(result, tokens, index);
}
void detect_string_methods(AnalysisResult& result, const TokenList& tokens) {
  Pass4Index index(result, tokens);
  detect_string_methods(result, tokens, index);
}
void detect_results_promises(AnalysisResult& result, const TokenList& tokens) {
  Pass4Index index(result, tokens);
  detect_results_promises(result, tokens, index);
}
void detect_delete_return_type(AnalysisResult& result, const TokenList& tokens) {
  Pass4Index index(result, tokens);
  detect_delete_return_type(result, tokens, index);
}
void detect_async_iife(AnalysisResult& result, const TokenList& tokens) {
  Pass4Index index(result, tokens);
  detect_async_iife(tokens, index);
}

// ---------------------------------------------------------------------------
// Driver

void analyzer4_run(AnalysisResult& result, const TokenList& tokens) {
  Pass4Index index(result, tokens);
  // warning: order matters; a later detector overwrites an earlier one's kind
  // (detect_string_methods after detect_fetch_calls), and
  // detect_results_promises reads the kind 13 that detect_fetch_calls wrote.
  detect_read_stream(tokens, index);
  detect_readline_interface(tokens, index);
  detect_fetch_calls(tokens, index);
  detect_set_usage(tokens, index);
  detect_map_usage(tokens, index);
  detect_promise_all(tokens, index);
  detect_promise_race(tokens, index);
  detect_property_access(result, tokens);
  detect_optional_chaining(result, tokens, index);
  detect_nullish_coalescing(result, tokens, index);
  detect_array_object_push(result, tokens, index);
  detect_for_of_array_objects(result, tokens);
  detect_readline_lines(result, tokens, index);
  detect_string_methods(result, tokens, index);
  detect_results_promises(result, tokens, index);
  detect_delete_return_type(result, tokens, index);
  detect_async_iife(tokens, index);
  detect_parameter_usage_inference(result, tokens);
  detect_return_object_variable(result);
}
