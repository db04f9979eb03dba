#include "analysis/analyzeR5.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

// Pass 5 fills the key, value and element kinds of the Maps and Sets that pass
// 4 typed, from the single-token arguments of their .set and .add calls.

namespace {

struct NameHash {
  using is_transparent = void;
  size_t operator()(std::string_view name) const noexcept { return std::hash<std::string_view>{}(name); }
};

// Position of the first record of each name. The keys view the records' own
// names: pass 5 adds and renames no record.
class FirstByName {
 public:
  template <typename Record>
  explicit FirstByName(const std::vector<Record>& records) {
    positions_.reserve(records.size());
    for (size_t r = 0; r < records.size(); ++r) positions_.try_emplace(records[r].name, static_cast<int>(r));
  }
  // -1 when no record has that name.
  int find(std::string_view name) const {
    const auto found = positions_.find(name);
    return found == positions_.end() ? -1 : found->second;
  }

 private:
  std::unordered_map<std::string_view, int, NameHash, std::equal_to<>> positions_;
};

// The variables and arrows by name, for a scan that looks names up at every call.
struct Pass5Lookups {
  FirstByName vars;
  FirstByName arrows;

  explicit Pass5Lookups(const AnalysisResult& result) : vars(result.vars), arrows(result.arrows) {}
};

// LITERAL -> its kind; VAR -> the first variable's kind (0 included);
// ARROW -> the arrow's return kind; anything else -> 0. Lookups indexed.
int resolve_indexed(const AnalysisResult& result, const Pass5Lookups& lookups, const Token& token) {
  const int literal = infer_literal_type(&token);
  if (literal != TYPE_NONE || token.kind != TK_IDENTIFIER) return literal;
  if (const int v = lookups.vars.find(token.text); v >= 0) return result.vars[static_cast<size_t>(v)].type.kind;
  if (const int a = lookups.arrows.find(token.text); a >= 0) {
    return result.arrows[static_cast<size_t>(a)].return_type.kind;
  }
  return TYPE_NONE;
}

}  // namespace

// MAP . set ( KEY , VALUE   -> key_kind, value_kind of a kind-14 variable
// SET . add ( ELEMENT       -> element_kind of a kind-12 variable
// Relies on pass 4 having given the collections their kinds 14 and 12; the
// last resolvable call in the file decides.
void infer_collections_usage(AnalysisResult& result, const TokenList& tokens) {
  const int count = tokens.count();
  std::optional<Pass5Lookups> lookups;  // built at the first call
  for (int i = 0; i < count - 5; ++i) {
    const Token& receiver = tokens.items[static_cast<size_t>(i)];
    const Token& method = tokens.items[static_cast<size_t>(i) + 2];
    if (receiver.kind != TK_IDENTIFIER || tokens.items[static_cast<size_t>(i) + 1].kind != TK_DOT ||
        method.kind != TK_IDENTIFIER || tokens.items[static_cast<size_t>(i) + 3].kind != TK_LPAREN) {
      continue;
    }
    if (!lookups) lookups.emplace(result);
    const int v = lookups->vars.find(receiver.text);
    if (v < 0) continue;
    VarInfo& var = result.vars[static_cast<size_t>(v)];
    if (var.type.kind == TYPE_MAP && method.text == "set") {
      const int key = resolve_indexed(result, *lookups, tokens.items[static_cast<size_t>(i) + 4]);
      if (key != TYPE_NONE) var.type.key_kind = key;
      if (i + 6 < count && tokens.items[static_cast<size_t>(i) + 5].kind == TK_COMMA) {
        const int value = resolve_indexed(result, *lookups, tokens.items[static_cast<size_t>(i) + 6]);
        if (value != TYPE_NONE) var.type.value_kind = value;
      }
    } else if (var.type.kind == TYPE_SET && method.text == "add") {
      const int element = resolve_indexed(result, *lookups, tokens.items[static_cast<size_t>(i) + 4]);
      if (element != TYPE_NONE) var.type.element_kind = element;
    }
  }
}

void analyzer5_run(AnalysisResult& result, const TokenList& tokens) {
  infer_collections_usage(result, tokens);
}
