#include "generator/inline_emitter.h"

#include <algorithm>
#include <string>
#include <utility>

#include "analysis/evidence.h"
#include "analysis/syntax.h"
#include "analysis/token_helpers.h"
#include "core/text.h"

// The inline form in named steps: the evidence of the file (analysis/evidence)
// says which types are proven; each step below turns one kind of them into
// insertions, and the source itself is never changed.

namespace {

struct Insertions {
  std::vector<InlineInsertion> list;
  void add(int offset, std::string text, int kind, std::string name = {}, std::string owner = {}, int index = -1) {
    list.push_back({offset, std::move(text), kind, std::move(name), std::move(owner), index});
  }
};

// A function passed straight to a call (`list.map(x => ...)`, `then(function
// (v) {...})`) takes its types from the callee: writing them adds nothing but
// a chance to disagree.
bool is_callback(const TokenList& tokens, const EvidenceFunction& function) {
  if (function.is_method) return false;
  const int before = kind_at(tokens, function.head - 1);
  return before == TK_LPAREN || before == TK_COMMA;
}

// The name a call uses for the function: its own, the variable or property
// it is assigned to, the class of a constructor.
std::string owner_name(const TokenList& tokens, const FileEvidence& evidence, const EvidenceFunction& function) {
  if (function.is_constructor && function.class_id >= 0) {
    return evidence.classes[static_cast<size_t>(function.class_id)].name;
  }
  if (function.is_method) {
    const std::string& name = function.name;
    return name.starts_with("static ") ? name.substr(7) : name;
  }
  if (!function.name.empty()) return function.name;
  if (kind_at(tokens, function.head - 1) == TK_ASSIGN && kind_at(tokens, function.head - 2) == TK_IDENTIFIER) {
    return std::string(text_at(tokens, function.head - 2));
  }
  return {};
}

void annotate_functions(const TokenList& tokens, const FileEvidence& evidence, Insertions& out) {
  for (const EvidenceFunction& function : evidence.functions) {
    if (is_callback(tokens, function)) continue;
    const std::string owner = owner_name(tokens, evidence, function);
    bool lone_parenthesized = false;
    for (size_t p = 0; p < function.params.size(); ++p) {
      const EvidenceParam& param = function.params[p];
      if (param.type.empty() || param.name < 0 || kind_at(tokens, param.first) == TK_SPREAD) continue;
      if (function.params_open < 0 && param.optional) continue;
      const std::string name(text_at(tokens, param.name));
      if (function.params_open < 0 && !param.optional) {  // `x => ...` takes parentheses to carry a type
        out.add(tokens.start(param.name), "(", INLINE_PARAMETER, name, owner, 0);
        out.add(tokens.end(param.name), ": " + param.type + ")", INLINE_PARAMETER, name, owner, 0);
        lone_parenthesized = true;
      } else {
        out.add(tokens.end(param.name), (param.optional ? "?: " : ": ") + param.type, INLINE_PARAMETER, name, owner,
                static_cast<int>(p));
      }
    }
    if (function.result.empty() || function.is_constructor || function.is_setter || function.is_generator) continue;
    if (function.params_open < 0 && !lone_parenthesized) continue;
    out.add(tokens.end(function.params_close), ": " + function.result, INLINE_RESULT, owner);
  }
}

void annotate_variables(const TokenList& tokens, const FileEvidence& evidence, Insertions& out) {
  for (const EvidenceVariable& variable : evidence.variables) {
    out.add(tokens.end(variable.name), ": " + variable.type, INLINE_VARIABLE, std::string(text_at(tokens, variable.name)));
  }
}

// The spaces and tabs that start the line holding `offset`.
std::string_view line_indent(std::string_view source, int offset) {
  size_t start = source.rfind('\n', static_cast<size_t>(std::max(offset, 1) - 1));
  start = start == std::string_view::npos ? 0 : start + 1;
  size_t end = start;
  while (end < source.size() && (source[end] == ' ' || source[end] == '\t')) ++end;
  return source.substr(start, end - start);
}

// Properties a class assigns but never declares: one `declare` line each,
// indented like the class body. `declare` emits no JavaScript, so the class
// is constructed as before.
void declare_fields(std::string_view source, const TokenList& tokens, const FileEvidence& evidence, Insertions& out) {
  for (const EvidenceClass& cls : evidence.classes) {
    if (cls.fields.empty()) continue;
    const int open = cls.body_open;
    std::string indent;
    const int first = open + 1;
    if (first < cls.body_close && at(tokens, first).line != at(tokens, open).line) {
      indent = std::string(line_indent(source, tokens.start(first)));
    } else {
      indent = std::string(line_indent(source, tokens.start(cls.keyword))) + "  ";
    }
    for (const EvidenceField& field : cls.fields) {
      std::string text = "\n" + indent + "declare ";
      if (field.is_static) text += "static ";
      text += field.name;
      if (!field.type.empty()) text += ": " + field.type;
      text += ";";
      out.add(tokens.end(open), std::move(text), INLINE_FIELD, field.name);
    }
  }
}

// `export {};` at the end of a file without imports or exports, so that its
// names are a module's own and never clash with the global ones.
void mark_module(std::string_view source, const FileEvidence& evidence, Insertions& out) {
  if (evidence.has_module_syntax || !evidence.script_reason.empty()) return;
  const bool newline = source.empty() || source.back() == '\n';
  out.add(static_cast<int>(source.size()), std::string(newline ? "" : "\n") + "export {};\n", INLINE_MODULE);
}

}  // namespace

std::string apply_insertions(std::string_view source, const std::vector<InlineInsertion>& insertions,
                             const std::vector<bool>& keep) {
  std::string out;
  size_t extra = 0;
  for (const InlineInsertion& insertion : insertions) extra += insertion.text.size();
  out.reserve(source.size() + extra);
  size_t copied = 0;
  for (size_t i = 0; i < insertions.size(); ++i) {
    if (!keep.empty() && (i >= keep.size() || !keep[i])) continue;
    const size_t offset = std::min(static_cast<size_t>(std::max(insertions[i].offset, 0)), source.size());
    if (offset > copied) {
      out.append(source.substr(copied, offset - copied));
      copied = offset;
    }
    out += insertions[i].text;
  }
  out.append(source.substr(copied));
  return out;
}

std::vector<int> insertion_output_offsets(const std::vector<InlineInsertion>& insertions,
                                          const std::vector<bool>& keep) {
  std::vector<int> offsets(insertions.size(), -1);
  int shift = 0;
  for (size_t i = 0; i < insertions.size(); ++i) {
    if (!keep.empty() && (i >= keep.size() || !keep[i])) continue;
    offsets[i] = insertions[i].offset + shift;
    shift += static_cast<int>(insertions[i].text.size());
  }
  return offsets;
}


InlineOutput emit_inline(std::string_view source, const TokenList& tokens, const AnalysisResult& result,
                         const ProjectView* project, const std::vector<int>* match) {
  (void)result;  // the inline form writes proven types only, none of the passes' guesses
  const std::vector<int> own_match = match == nullptr ? match_brackets(tokens) : std::vector<int>();
  const FileEvidence evidence = infer_evidence(source, tokens, match == nullptr ? own_match : *match, project);
  Insertions insertions;
  annotate_functions(tokens, evidence, insertions);
  annotate_variables(tokens, evidence, insertions);
  declare_fields(source, tokens, evidence, insertions);
  mark_module(source, evidence, insertions);

  InlineOutput output;
  output.insertions = std::move(insertions.list);
  std::stable_sort(output.insertions.begin(), output.insertions.end(),
                   [](const InlineInsertion& a, const InlineInsertion& b) { return a.offset < b.offset; });
  for (const InlineInsertion& insertion : output.insertions) {
    if (insertion.kind != INLINE_INTERFACES && insertion.kind != INLINE_MODULE) ++output.annotations;
  }
  output.script_reason = evidence.script_reason;
  for (const EvidenceFunction& fn : evidence.functions) {
    // An unclosed body ends past the last token: no span.
    if (fn.head < 0 || fn.body_end < fn.head || fn.body_end >= tokens.count()) continue;
    output.function_spans.emplace_back(tokens.start(fn.head), tokens.end(fn.body_end));
  }
  output.text = apply_insertions(source, output.insertions);
  return output;
}
