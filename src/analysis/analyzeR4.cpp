// Usage detection: recognises idioms of the JavaScript runtime library (fetch,
// streams, readline, Set, Map, Promise.all/race, arrays of promises, tasks
// pushed into arrays, string methods, parameters used as strings or numbers)
// by fixed runs of adjacent tokens, and types the variables, arrays, arrows
// and parameters involved. Each finding can be reported as one trace line to
// a sink the caller passes in; the findings never depend on it.
//
// Every scan bound below (`i < count - n`) is part of the behaviour: a run that
// ends too close to the end of the list is deliberately not seen.
//
// Bundles of several MB are normal input, so no rule walks the list again for
// each finding: a walk that a rule makes from one token (to the end of the
// line, to a closing bracket, over every use of a parameter name) reads an
// index built once, and lookups by name go through a hash table. Findings,
// their order and the trace lines are those of the plain walks.
#include "analysis/analyzeR4.h"

#include <algorithm>
#include <array>
#include <climits>
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

#include "analysis/token_helpers.h"
#include "analysis/usage_detectors.h"
#include "core/console.h"
#include "core/text.h"

namespace {

// Sends one trace line: colour, the parts, line break, reset. A part ends at
// its first NUL byte, as a C string would.
void emit(const Pass4Trace& trace, std::string_view colour, std::initializer_list<std::string_view> parts) {
  if (!trace) return;
  std::string line(colour);
  for (std::string_view part : parts) line += part.substr(0, part.find('\0'));
  line += '\n';
  line += CLR_RESET;
  trace(line);
}

bool is_relational(int kind) {
  return kind == TK_LESS || kind == TK_GREATER || kind == TK_LESS_EQUAL ||
         kind == TK_GREATER_EQUAL;
}

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
  NameViewMap<int> ids_;
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
    return arrays_->find(name);
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
            if (k + 1 < count && is_kind(tokens_, k + 1, TK_ASSIGN)) at.assignments.push_back(k);
            if (k + 1 < count && is_kind(tokens_, k + 1, TK_DOT)) at.member_accesses.push_back(k);
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
  const std::vector<int>& closing(TokenKind open_kind, TokenKind close_kind) {
    std::vector<int>& close = closing_[{open_kind, close_kind}];
    if (close.empty()) {
      const int count = tokens_.count();
      close.assign(static_cast<size_t>(count), -1);
      std::vector<int> open;
      for (int k = 0; k < count; ++k) {
        if (is_kind(tokens_, k, open_kind)) {
          open.push_back(k);
        } else if (is_kind(tokens_, k, close_kind) && !open.empty()) {
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
  std::optional<FirstByName<ArrayInfo>> arrays_;
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

// Whether the row's words follow `x =` with x at index i.
bool row_matches(const TokenList& tokens, int i, const UsageRow& row) {
  const int count = tokens.count();
  if (i >= count - row.reach) return false;
  int k = i + 2;
  for (std::string_view word : row.words) {
    if (word.empty()) break;
    const bool matches = word == "."                              ? is_kind(tokens, k, TK_DOT)
                         : row.match == WordMatch::kIdentifier ? is_identifier(tokens, k, word)
                                                                  : text_is(tokens, k, word);
    if (!matches) return false;
    ++k;
  }
  return true;
}

// The rows of one detector: x = <words>   -> the first variable x gets the row's type
void run_usage_rows(std::span<const UsageRow> rows, const TokenList& tokens, Pass4Index& index,
                    const Pass4Trace& trace) {
  int reach = INT_MAX;
  for (const UsageRow& row : rows) reach = std::min(reach, row.reach);
  for (int i : below(index.positions().assignments, tokens.count() - reach)) {
    for (const UsageRow& row : rows) {
      if (!row_matches(tokens, i, row)) continue;
      const std::string_view name = tokens.items[static_cast<size_t>(i)].text;
      if (VarInfo* var = index.first_var(name)) {
        var->type.kind = row.type;
        if (!row.type_name.empty()) var->type.type_name = row.type_name;
        if (row.clears_element_kind) var->type.element_kind = TYPE_NONE;
        emit(trace, CLR_GREEN, {row.trace, name});
      }
      break;
    }
  }
}

// The rows of the table that belong to `detector`; they stand together.
std::span<const UsageRow> usage_rows(std::string_view detector) {
  const UsageRow* first = std::find_if(std::begin(kUsageRows), std::end(kUsageRows),
                                       [detector](const UsageRow& row) { return row.detector == detector; });
  const UsageRow* last = std::find_if(first, std::end(kUsageRows),
                                      [detector](const UsageRow& row) { return row.detector != detector; });
  return {first, last};
}

// Every detector of the table, in table order.
void run_usage_table(const TokenList& tokens, Pass4Index& index, const Pass4Trace& trace) {
  for (const UsageRow* row = std::begin(kUsageRows); row != std::end(kUsageRows);) {
    const std::span<const UsageRow> rows = usage_rows(row->detector);
    run_usage_rows(rows, tokens, index, trace);
    row = rows.data() + rows.size();
  }
}

// r . push ( p   with some variable p of kind 13   -> array r gets element_kind 13
// Relies on kind 13 set earlier (detect_fetch_calls or pass 3); detect_async_iife
// runs after this, so its promises are not seen here.
void detect_results_promises(AnalysisResult& result, const TokenList& tokens, Pass4Index& index, const Pass4Trace& trace) {
  const int count = tokens.count();
  // Per name: 0 not looked at yet, 1 some variable of that name is a promise,
  // 2 none is. This rule changes no variable, so an answer holds to the end.
  std::vector<char> promise_answer;
  for (int i : below(index.positions().member_accesses, count - 4)) {
    if (!text_is(tokens, i + 2, "push") || !is_kind(tokens, i + 3, TK_LPAREN) ||
        !is_kind(tokens, i + 4, TK_IDENTIFIER)) {
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
    const std::string_view array_name = tokens.items[i].text;
    if (ArrayInfo* array = index.first_array(array_name)) array->element_kind = TYPE_PROMISE;
    emit(trace, CLR_GREEN, {"[ANALYZER4] ARRAY BINDING ", array_name, " -> Promise[]"});
  }
}

// name = ... . delete|has ...   on the line of the arrow's first `name =`   -> return kind 3
void detect_delete_return_type(AnalysisResult& result, const TokenList& tokens, Pass4Index& index, const Pass4Trace& trace) {
  const int count = tokens.count();
  if (result.arrows.empty() || count - 4 <= 0) return;
  // The first `name =` of each name, below the rule's bound.
  NameViewMap<int> first_assignment;
  for (int j : below(index.positions().assignments, count - 4)) {
    first_assignment.try_emplace(tokens.items[static_cast<size_t>(j)].text, j);
  }
  // The `. delete` and `. has` runs, in order (few: the first from k on is
  // a search in them, not a table of the list's length).
  std::vector<int> members;
  for (int k = 0; k + 1 < count; ++k) {
    if (is_kind(tokens, k, TK_DOT) && (is_identifier(tokens, k + 1, "delete") || is_identifier(tokens, k + 1, "has"))) {
      members.push_back(k);
    }
  }
  for (ArrowInfo& arrow : result.arrows) {
    const auto found = first_assignment.find(arrow.name);
    if (found == first_assignment.end()) continue;
    const int j = found->second;
    // The walk from j+2 stays on token j's line and below count - 2.
    const int from = j + 2;
    if (tokens.items[static_cast<size_t>(from)].line != tokens.items[static_cast<size_t>(j)].line) continue;
    const int end = std::min(index.line_end(from), count - 2);
    if (first_from(members, from, count) >= end) continue;
    arrow.return_type.kind = TYPE_BOOLEAN;
    emit(trace, CLR_GREEN, {"[ANALYZER4] ", arrow.name, " -> BOOLEAN (.delete/.has)"});
  }
}

// x = ( async ... ) (   -> kind 13
void detect_async_iife(const TokenList& tokens, Pass4Index& index, const Pass4Trace& trace) {
  const int count = tokens.count();
  if (count <= 5) return;
  // i runs from 1 while i < count - 4, with the `x =` at i-1.
  for (int assignment : below(index.positions().assignments, count - 5)) {
    const int i = assignment + 1;
    if (!is_kind(tokens, i + 1, TK_LPAREN) || !is_kind(tokens, i + 2, TK_ASYNC)) continue;
    // The `)` that closes the `(` at i+1.
    const int close = index.closing(TK_LPAREN, TK_RPAREN)[static_cast<size_t>(i) + 1];
    if (close < 0 || close + 1 >= count || !is_kind(tokens, close + 1, TK_LPAREN)) continue;
    const std::string_view name = tokens.items[static_cast<size_t>(i) - 1].text;
    if (VarInfo* var = index.first_var(name)) {
      var->type.kind = TYPE_PROMISE;
      emit(trace, CLR_GREEN, {"[ANALYZER4] ", name, " -> Promise<unknown> (Async IIFE)"});
    }
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Access and string-method detectors

// a . b   -> report only
void detect_property_access(AnalysisResult&, const TokenList& tokens, const Pass4Trace& trace) {
  if (!trace) return;  // it only reports
  const int count = tokens.count();
  for (int i = 0; i < count - 2; ++i) {
    if (is_kind(tokens, i, TK_IDENTIFIER) && is_kind(tokens, i + 1, TK_DOT) &&
        is_kind(tokens, i + 2, TK_IDENTIFIER)) {
      emit(trace, CLR_GREEN,
           {"[ANALYZER4] PROPERTY : ", tokens.items[static_cast<size_t>(i)].text, ".",
            tokens.items[static_cast<size_t>(i) + 2].text});
    }
  }
}

namespace {

// x = ... ?. ...   (same line, before `;`)   -> first untyped x gets kind 8
void detect_optional_chaining(AnalysisResult& result, const TokenList& tokens, Pass4Index& index, const Pass4Trace& trace) {
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
    const std::string_view name = tokens.items[static_cast<size_t>(i)].text;
    if (VarInfo* var = untyped.find(name)) var->type.kind = TYPE_UNKNOWN;
    emit(trace, CLR_GREEN, {"[ANALYZER4] OPTIONAL CHAINING : ", name});
  }
}

// x = ... ?? LITERAL   (same line, before `;`)   -> first untyped x gets the literal's kind
void detect_nullish_coalescing(AnalysisResult& result, const TokenList& tokens, Pass4Index& index, const Pass4Trace& trace) {
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
    const std::string_view name = tokens.items[static_cast<size_t>(i)].text;
    if (VarInfo* var = untyped.find(name)) var->type.kind = static_cast<TypeKind>(literal);
    emit(trace, CLR_GREEN, {"[ANALYZER4] NULLISH FALLBACK : ", name});
  }
}

// s . trim|toUpperCase|toLowerCase|substring|charAt   -> every variable s gets kind 2
void detect_string_methods(AnalysisResult& result, const TokenList& tokens, Pass4Index& index, const Pass4Trace& trace) {
  const int count = tokens.count();
  // Names whose variables are all strings already: a later call on them
  // changes nothing more, it is only reported.
  std::vector<char> typed;
  for (int i : below(index.positions().member_accesses, count - 4)) {
    if (!is_kind(tokens, i + 2, TK_IDENTIFIER)) continue;
    const std::string_view method = tokens.items[static_cast<size_t>(i) + 2].text;
    if (!is_one_of(method, {"trim", "toUpperCase", "toLowerCase", "substring", "charAt"})) continue;
    const std::string_view name = tokens.items[static_cast<size_t>(i)].text;
    const NameGroups& vars = index.vars();
    const int id = vars.id(name);
    if (id < 0) continue;
    typed.resize(static_cast<size_t>(vars.size()), 0);
    if (!typed[static_cast<size_t>(id)]) {
      typed[static_cast<size_t>(id)] = 1;
      for (int v : vars.members(id)) result.vars[static_cast<size_t>(v)].type.kind = TYPE_STRING;
    }
    if (!trace) continue;
    // Two lines for each variable of the name.
    for (size_t v = 0; v < vars.members(id).size(); ++v) {
      emit(trace, CLR_GREEN, {"[ANALYZER4] STRING METHOD : ", name, ".", method, "()"});
      emit(trace, CLR_GREEN, {"[ANALYZER4] ", name, " -> STRING"});
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
void detect_array_object_push(AnalysisResult& result, const TokenList& tokens, Pass4Index& index, const Pass4Trace& trace) {
  const int count = tokens.count();
  // Positions of every `{` and every `key :`, in order: what the walk from a
  // `{` to its closing `}` reports.
  std::vector<int> marks;
  bool marks_built = false;
  for (int i : below(index.positions().member_accesses, count - 4)) {
    if (!is_identifier(tokens, i, "tasks") || !is_identifier(tokens, i + 2, "push")) continue;
    emit(trace, CLR_GREEN, {"[ANALYZER4] ARRAY PUSH : tasks"});
    // The walk from i passes over everything before the first `{` and ends at
    // the `}` that closes it, or at the end of the list.
    const int open = first_from(index.positions().open_braces, i, count);
    if (open >= count) continue;
    // Registered at that first `{`.
    const bool registers = result.array_objects.empty();
    if (registers) register_task_shape(result);
    if (!trace) continue;  // the rest of the walk is only reported
    const int close = index.closing(TK_LBRACE, TK_RBRACE)[static_cast<size_t>(open)];
    const int end = close < 0 ? count : close;
    if (!marks_built) {
      for (int k = 0; k < count; ++k) {
        if (is_kind(tokens, k, TK_LBRACE) ||
            (is_kind(tokens, k, TK_IDENTIFIER) && k + 1 < count && is_kind(tokens, k + 1, TK_COLON))) {
          marks.push_back(k);
        }
      }
      marks_built = true;
    }
    for (auto mark = std::lower_bound(marks.begin(), marks.end(), open); mark != marks.end() && *mark < end;
         ++mark) {
      const Token& token = tokens.items[static_cast<size_t>(*mark)];
      if (token.kind == TK_LBRACE) {
        emit(trace, CLR_GREEN, {"[ANALYZER4] TASK OBJECT DETECTE"});
        if (*mark == open && registers) emit(trace, CLR_GREEN, {"[ANALYZER4] ARRAY OBJECT ENREGISTRE"});
      } else {
        emit(trace, CLR_CYAN, {"[ANALYZER4] FIELD : ", token.text});
      }
    }
  }
}

// for await ... line   (within 20 tokens)   -> every variable "line" gets kind 2
void detect_readline_lines(AnalysisResult& result, const TokenList& tokens, Pass4Index& index, const Pass4Trace& trace) {
  const int count = tokens.count();
  // Typing the "line" variables twice changes nothing: later finds are only
  // reported.
  bool typed = false;
  for (int i = 0; i < count - 8; ++i) {
    if (!is_kind(tokens, i, TK_FOR) || !is_identifier(tokens, i + 1, "await")) continue;
    for (int k = i; k <= i + 19 && k < count; ++k) {
      if (!is_identifier(tokens, k, "line")) continue;
      emit(trace, CLR_GREEN, {"[ANALYZER4] READLINE LINE DETECTE : ", tokens.items[static_cast<size_t>(k)].text});
      const int id = index.vars().id("line");
      if (id < 0) break;
      if (!typed) {
        typed = true;
        for (int v : index.vars().members(id)) result.vars[static_cast<size_t>(v)].type.kind = TYPE_STRING;
      }
      // One line for each variable of the name.
      for (size_t v = 0; trace && v < index.vars().members(id).size(); ++v) {
        emit(trace, CLR_GREEN, {"[ANALYZER4] LINE -> STRING"});
      }
      break;
    }
  }
}

}  // namespace

// for ( const v   with a "tasks" shape registered   -> object record v with the shape's fields
// Relies on detect_array_object_push having run.
void detect_for_of_array_objects(AnalysisResult& result, const TokenList& tokens, const Pass4Trace& trace) {
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
    if (!is_kind(tokens, i, TK_FOR) || !is_kind(tokens, i + 1, TK_LPAREN) ||
        !is_kind(tokens, i + 2, TK_CONST) || !is_kind(tokens, i + 3, TK_IDENTIFIER)) {
      continue;
    }
    const std::string_view name = tokens.items[static_cast<size_t>(i) + 3].text;
    emit(trace, CLR_GREEN, {"[ANALYZER4] FOR-OF DETECTE : ", name});
    ObjectInfo object;
    object.name = name;
    for (const ShapeField& field : shape->fields) object.fields->emplace_back(field.name, field.kind);
    result.objects.push_back(std::move(object));
    emit(trace, CLR_GREEN, {"[ANALYZER4] OBJECT PROPAGATE : ", name});
  }
}

// body's last "return NAME" with an object record NAME that has fields
//   -> an open return type (0 or 5) becomes kind 6 with the object's flat fields
void detect_return_object_variable(AnalysisResult& result, const Pass4Trace& trace) {
  constexpr std::string_view kReturn = "return ";
  constexpr size_t kMaxName = 63;
  // The first object of each name that has fields; the rule adds no object.
  NameViewMap<int> first_with_fields;
  for (size_t o = 0; o < result.objects.size(); ++o) {
    const ObjectInfo& object = result.objects[o];
    if (object.field_count() > 0) first_with_fields.try_emplace(object.name, static_cast<int>(o));
  }
  for (FuncInfo& func : result.funcs) {
    if (!func.body || (func.return_type.kind != TYPE_NONE && func.return_type.kind != TYPE_VOID)) continue;
    const std::string_view body = *func.body;
    const size_t at = body.rfind(kReturn);
    if (at == std::string_view::npos) continue;
    size_t pos = at + kReturn.size();
    while (pos < body.size() && (body[pos] == ' ' || body[pos] == '\t')) ++pos;
    const size_t name_start = pos;
    auto is_word = [](char c) { return is_ascii_identifier_byte(c) && c != '$'; };
    while (pos < body.size() && is_word(body[pos])) ++pos;
    const std::string_view name = body.substr(name_start, std::min(pos - name_start, kMaxName));
    if (name.empty()) continue;
    const auto found = first_with_fields.find(name);
    if (found == first_with_fields.end()) continue;
    const ObjectInfo& object = result.objects[static_cast<size_t>(found->second)];
    func.return_type.kind = TYPE_OBJECT;
    func.return_type.fields.clear();
    for (const ObjectField& field : *object.fields) {
      func.return_type.fields.push_back(TypeField{field.name, field.kind});
    }
    emit(trace, CLR_GREEN,
         {"[ANALYZER4] RETURN OBJECT DETECTE : ", func.name, " -> ", name, " (",
          std::to_string(object.field_count()), " champs)"});
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
  return is_one_of(name, {"trim", "toUpperCase", "toLowerCase", "split", "replace"});
}

bool is_fs_call(std::string_view name) {
  return is_one_of(name, {"createReadStream", "createWriteStream", "mkdir", "readFile", "writeFile"});
}

// Every rule at every token, for all the names in `ids` at once: one walk of
// the list in place of one per parameter.
std::vector<NameUses> collect_name_uses(const NameViewMap<int>& ids, const TokenList& tokens,
                                        const FileIndex& file) {
  std::vector<NameUses> uses(ids.size());
  if (ids.empty()) return uses;
  NameMatcher matcher;
  for (const auto& [name, id] : ids) matcher.add(name, id);
  matcher.build();
  // The names' ids by the file's name id of their spelling: every identifier
  // is looked up, and its text is not hashed again for it.
  std::vector<int> id_by_name(static_cast<size_t>(file.name_count()), -1);
  for (const auto& [name, id] : ids) {
    const int name_id = file.id_of(name);
    if (name_id >= 0) id_by_name[static_cast<size_t>(name_id)] = id;
  }
  auto id_at = [&](int k) {
    const int name_id = file.name_id[static_cast<size_t>(k)];  // -1 for all but identifiers
    return name_id < 0 ? -1 : id_by_name[static_cast<size_t>(name_id)];
  };
  const int count = tokens.count();
  for (int k = 0; k < count; ++k) {
    const Token& token = tokens.items[static_cast<size_t>(k)];
    const int id = id_at(k);
    // p . trim|toUpperCase|toLowerCase|split|replace
    if (id >= 0 && k + 2 < count && is_kind(tokens, k + 1, TK_DOT) && is_kind(tokens, k + 2, TK_IDENTIFIER) &&
        is_param_string_method(tokens.items[static_cast<size_t>(k) + 2].text)) {
      uses[static_cast<size_t>(id)].strings.push_back({k, kUseMethod});
    }
    // createReadStream|createWriteStream|mkdir|readFile|writeFile ( p
    if (k + 2 < count && token.kind == TK_IDENTIFIER && is_fs_call(token.text) &&
        is_kind(tokens, k + 1, TK_LPAREN)) {
      const int argument = id_at(k + 2);
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

void emit_use(const Pass4Trace& trace, const Use& use, std::string_view param) {
  std::string_view finding;
  switch (use.rule) {
    case kUseMethod: finding = " -> STRING (METHOD)"; break;
    case kUseFs: finding = " -> STRING (FS)"; break;
    case kUseTemplate: finding = " -> STRING (TEMPLATE)"; break;
    case kUseCompareRight: finding = " -> NUMBER (COMPARE RIGHT)"; break;
    case kUseCompareLeft: finding = " -> NUMBER (COMPARE LEFT)"; break;
  }
  emit(trace, CLR_GREEN, {"[ANALYZER4] PARAM ", param, finding});
}

// Applies every rule at every token of the file to one parameter, from the
// name's uses. A string rule sets kind 2 and stops the comparison rules from
// then on (at its own token too, as they come after it), so the comparisons
// that count are those before the first string use.
// Every use is reported: the comparisons that count, then the string uses.
void infer_parameter_from_usage(TypeInfo& type, const std::string& param, const NameUses& uses,
                                const Pass4Trace& trace) {
  const bool was_string = type.kind == TYPE_STRING;
  if (!uses.strings.empty()) {
    type.kind = TYPE_STRING;
  } else if (!was_string && !uses.compares.empty()) {
    type.kind = TYPE_NUMBER;
  }
  if (!trace) return;
  const int first_string = uses.strings.empty() ? INT_MAX : uses.strings.front().token;
  if (!was_string) {
    for (const Use& use : uses.compares) {
      if (use.token >= first_string) break;
      emit_use(trace, use, param);
    }
  }
  for (const Use& use : uses.strings) emit_use(trace, use, param);
}

// A record with fewer types than names leaves the extra names untyped.
int typed_param_count(const FuncInfo& func) {
  return std::min(func.param_count(), static_cast<int>(func.param_types.size()));
}

bool typed_by_name(const std::string& param) { return param.find("concurrencyLimit") != std::string::npos; }

}  // namespace

// p . method (   fs-call ( p   `...${...p...`   p <   < p   -> parameter kind 2 or 1
void detect_parameter_usage_inference(AnalysisResult& result, const TokenList& tokens, const FileIndex& file,
                                      const Pass4Trace& trace) {
  emit(trace, CLR_CYAN, {"[ANALYZER4] PARAMETER INFERENCE START"});
  // The names whose uses are looked up below. The keys view the functions'
  // own parameter names, which this rule does not change.
  NameViewMap<int> ids;
  for (const FuncInfo& func : result.funcs) {
    for (int j = 0; j < typed_param_count(func); ++j) {
      const std::string& param = func.param_names[static_cast<size_t>(j)];
      if (!typed_by_name(param)) ids.try_emplace(param, static_cast<int>(ids.size()));
    }
  }
  const std::vector<NameUses> uses = collect_name_uses(ids, tokens, file);
  for (FuncInfo& func : result.funcs) {
    const int params = typed_param_count(func);
    for (int j = 0; j < params; ++j) {
      const std::string& param = func.param_names[static_cast<size_t>(j)];
      TypeInfo& type = func.param_types[static_cast<size_t>(j)];
      if (type.kind == TYPE_UNION) continue;
      // Typed by its name alone; the tokens are not consulted.
      if (typed_by_name(param)) {
        type.kind = TYPE_NUMBER;
        emit(trace, CLR_GREEN, {"[ANALYZER4] concurrencyLimit -> NUMBER"});
        continue;
      }
      infer_parameter_from_usage(type, param, uses[static_cast<size_t>(ids.find(param)->second)], trace);
    }
  }
  if (!trace) return;  // what follows only reports
  for (const FuncInfo& func : result.funcs) {
    if (func.name != "batchProcessImageDownloads") continue;
    auto kind_of = [&func](int j) {
      return j < typed_param_count(func) ? func.param_types[static_cast<size_t>(j)].kind : -1;
    };
    emit(trace, CLR_YELLOW,
         {"[DEBUG PARAMS] ", func.name, " -> ", std::to_string(kind_of(0)), " ", std::to_string(kind_of(1)), " ",
          std::to_string(kind_of(2))});
  }
}

// ---------------------------------------------------------------------------
// The detectors one at a time; each builds the indexes it needs.

void run_usage_detector(std::string_view detector, AnalysisResult& result, const TokenList& tokens,
                        const Pass4Trace& trace) {
  Pass4Index index(result, tokens);
  run_usage_rows(usage_rows(detector), tokens, index, trace);
}

void detect_read_stream(AnalysisResult& result, const TokenList& tokens, const Pass4Trace& trace) {
  run_usage_detector("detect_read_stream", result, tokens, trace);
}
void detect_readline_interface(AnalysisResult& result, const TokenList& tokens, const Pass4Trace& trace) {
  run_usage_detector("detect_readline_interface", result, tokens, trace);
}
void detect_fetch_calls(AnalysisResult& result, const TokenList& tokens, const Pass4Trace& trace) {
  run_usage_detector("detect_fetch_calls", result, tokens, trace);
}
void detect_set_usage(AnalysisResult& result, const TokenList& tokens, const Pass4Trace& trace) {
  run_usage_detector("detect_set_usage", result, tokens, trace);
}
void detect_map_usage(AnalysisResult& result, const TokenList& tokens, const Pass4Trace& trace) {
  run_usage_detector("detect_map_usage", result, tokens, trace);
}
void detect_promise_all(AnalysisResult& result, const TokenList& tokens, const Pass4Trace& trace) {
  run_usage_detector("detect_promise_all", result, tokens, trace);
}
void detect_promise_race(AnalysisResult& result, const TokenList& tokens, const Pass4Trace& trace) {
  run_usage_detector("detect_promise_race", result, tokens, trace);
}
void detect_optional_chaining(AnalysisResult& result, const TokenList& tokens, const Pass4Trace& trace) {
  Pass4Index index(result, tokens);
  detect_optional_chaining(result, tokens, index, trace);
}
void detect_nullish_coalescing(AnalysisResult& result, const TokenList& tokens, const Pass4Trace& trace) {
  Pass4Index index(result, tokens);
  detect_nullish_coalescing(result, tokens, index, trace);
}
void detect_array_object_push(AnalysisResult& result, const TokenList& tokens, const Pass4Trace& trace) {
  Pass4Index index(result, tokens);
  detect_array_object_push(result, tokens, index, trace);
}
void detect_readline_lines(AnalysisResult& result, const TokenList& tokens, const Pass4Trace& trace) {
  Pass4Index index(result, tokens);
  detect_readline_lines(result, tokens, index, trace);
}
void detect_string_methods(AnalysisResult& result, const TokenList& tokens, const Pass4Trace& trace) {
  Pass4Index index(result, tokens);
  detect_string_methods(result, tokens, index, trace);
}
void detect_parameter_usage_inference(AnalysisResult& result, const TokenList& tokens, const Pass4Trace& trace) {
  detect_parameter_usage_inference(result, tokens, index_file(tokens), trace);
}
void detect_results_promises(AnalysisResult& result, const TokenList& tokens, const Pass4Trace& trace) {
  Pass4Index index(result, tokens);
  detect_results_promises(result, tokens, index, trace);
}
void detect_delete_return_type(AnalysisResult& result, const TokenList& tokens, const Pass4Trace& trace) {
  Pass4Index index(result, tokens);
  detect_delete_return_type(result, tokens, index, trace);
}
void detect_async_iife(AnalysisResult& result, const TokenList& tokens, const Pass4Trace& trace) {
  Pass4Index index(result, tokens);
  detect_async_iife(tokens, index, trace);
}

// ---------------------------------------------------------------------------
// Driver

void analyzer4_run(AnalysisResult& result, const TokenList& tokens, const Pass4Trace& trace) {
  analyzer4_run(result, tokens, index_file(tokens), trace);
}

void analyzer4_run(AnalysisResult& result, const TokenList& tokens, const FileIndex& file, const Pass4Trace& trace) {
  Pass4Index index(result, tokens);
  // warning: order matters; a later detector overwrites an earlier one's kind
  // (detect_string_methods after detect_fetch_calls), and
  // detect_results_promises reads the kind 13 that detect_fetch_calls wrote.
  run_usage_table(tokens, index, trace);  // stream, readline, fetch, Set, Map, Promise.all/race
  detect_property_access(result, tokens, trace);
  detect_optional_chaining(result, tokens, index, trace);
  detect_nullish_coalescing(result, tokens, index, trace);
  detect_array_object_push(result, tokens, index, trace);
  detect_for_of_array_objects(result, tokens, trace);
  detect_readline_lines(result, tokens, index, trace);
  detect_string_methods(result, tokens, index, trace);
  detect_results_promises(result, tokens, index, trace);
  detect_delete_return_type(result, tokens, index, trace);
  detect_async_iife(tokens, index, trace);
  detect_parameter_usage_inference(result, tokens, file, trace);
  detect_return_object_variable(result, trace);
}
