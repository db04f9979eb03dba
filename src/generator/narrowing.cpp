// Narrowing rewriter: the body text of a function made to pass TypeScript's
// checks once its parameters carry union types.
#include <algorithm>
#include <string>

#include "core/text.h"
#include "generator/generator.h"

namespace {

// `#` joins a word: `x` in `#x` is not the variable x.
bool is_word_byte(char c) { return is_identifier_byte(c) || c == '#'; }

// A match must start a word that is not a property: in "len > 0" the text
// "n > " is no comparison of n, and in "p.catch (error)" no catch clause.
bool starts_a_word(std::string_view text, std::size_t at) {
  if (at == 0) return true;
  const char before = text[at - 1];
  return !is_word_byte(before) && before != '.';
}

std::size_t find_word(std::string_view text, std::string_view pattern, std::size_t from) {
  for (std::size_t at = text.find(pattern, from); at != std::string_view::npos;
       at = text.find(pattern, at + 1)) {
    if (starts_a_word(text, at)) return at;
  }
  return std::string_view::npos;
}

// "catch (error)" -> "catch (error: any)", every occurrence. The text is
// rebuilt in one pass, so a body with many clauses stays linear.
std::string type_catch_variables(std::string_view body) {
  static constexpr std::string_view kClause = "catch (error)";
  static constexpr std::string_view kTyped = "catch (error: any)";
  std::string text;
  text.reserve(body.size() + 4096);
  std::size_t copied = 0;
  for (std::size_t at = find_word(body, kClause, 0); at != std::string_view::npos;
       at = find_word(body, kClause, at + kClause.size())) {
    text.append(body, copied, at - copied);
    text += kTyped;
    copied = at + kClause.size();
  }
  text.append(body, copied, std::string_view::npos);
  return text;
}

bool is_union_with_number(const TypeInfo& type) {
  if (type.kind != TYPE_UNION) return false;
  const int count = std::clamp(type.member_count, 0, kMaxUnionMembers);
  return std::find(type.members.begin(), type.members.begin() + count, TYPE_NUMBER) !=
         type.members.begin() + count;
}

// Replaces the first occurrence of `pattern` (at a word start) in `text`.
void replace_first(std::string& text, const std::string& pattern, const std::string& replacement) {
  const std::size_t at = find_word(text, pattern, 0);
  if (at != std::string::npos) text.replace(at, pattern.size(), replacement);
}

}  // namespace

// The result grows as far as the rewrites need: every catch clause and every
// guard is written however many there are, rather than dropping the rewrites
// that would not fit a fixed margin over the body's length.
// The search and replacement texts are built at full length whatever the
// parameter's name: cut to a fixed room, a long name would match a different
// text and splice a broken guard into the body.
std::string apply_narrowing(std::string_view body, const FuncInfo& function) {
  std::string text = type_catch_variables(body);

  const std::size_t count = std::min(function.param_names.size(), function.param_types.size());
  for (std::size_t i = 0; i < count; ++i) {
    if (!is_union_with_number(function.param_types[i])) continue;
    const std::string& name = function.param_names[i];
    if (name.empty()) continue;  // nothing to guard
    const std::string guard = "typeof " + name + " === \"number\" && " + name;
    // Only `>` keeps the blank after the operator: `n <= 10` becomes
    // `typeof n === "number" && n <=10`.
    replace_first(text, name + " > ", guard + " > ");
    replace_first(text, name + " < ", guard + " <");
    replace_first(text, name + " >= ", guard + " >=");
    replace_first(text, name + " <= ", guard + " <=");
  }
  return text;
}
