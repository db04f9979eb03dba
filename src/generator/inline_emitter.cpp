#include "generator/inline_emitter.h"

#include <algorithm>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "analysis/syntax.h"
#include "analysis/token_helpers.h"
#include "core/text.h"

namespace {

bool word_is(const TokenList& tokens, int index, std::string_view word) {
  const Token* token = token_at(tokens, index);
  return token != nullptr && (token->kind == TK_IDENTIFIER || token->kind == TK_RESERVED) && token->text == word;
}

bool is_identifier_name(std::string_view name) { return is_ascii_identifier(name); }

// A property key as TypeScript accepts it in a type; empty when the name is
// not a plain key (a computed key, a spread).
std::string property_key(std::string_view name) {
  if (is_identifier_name(name)) return std::string(name);
  if (name.empty()) return {};
  for (const char c : name) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || c == '"' || c == '\\' || c == '[' || c == '.' || c == '`' || c == '\'') return {};
  }
  return "\"" + std::string(name) + "\"";
}

const char* primitive_name(int kind) {
  switch (kind) {
    case TYPE_NUMBER: return "number";
    case TYPE_STRING: return "string";
    case TYPE_BOOLEAN: return "boolean";
    default: return nullptr;
  }
}

// Everything the emitter asks about the file while it renders types.
struct Context {
  std::string_view source;
  const TokenList& tokens;
  const AnalysisResult& result;
  std::vector<int> match;
  std::unordered_set<std::string> identifiers;  // every identifier the source spells
  std::unordered_map<std::string, int> declared; // declaration sites per name
  std::unordered_map<std::string, int> class_count;
  std::unordered_set<std::string> top_level_classes;
  // Interface name -> rendered body; empty body when it cannot be written.
  std::unordered_map<std::string, std::string> interface_bodies;
  std::vector<std::string> used_interfaces;  // in first-use order
  std::unordered_set<std::string> used_set;
};

std::string render_fields(const Context& context, const FieldList& fields, int depth);

std::string render_field_type(const Context& context, const ObjectField& field, int depth) {
  if (const char* name = primitive_name(field.kind)) return name;
  if (field.kind == TYPE_OBJECT && depth < 8) return render_fields(context, field.nested_fields, depth + 1);
  return {};
}

// `{ a: number; b: string }`, or empty when a field has no concrete type.
std::string render_fields(const Context& context, const FieldList& fields, int depth) {
  if (fields.empty()) return {};
  std::string out = "{ ";
  std::unordered_set<std::string> seen;
  for (const ObjectField& field : fields) {
    const std::string key = property_key(field.name);
    if (key.empty() || !seen.insert(key).second) return {};
    const std::string type = render_field_type(context, field, depth);
    if (type.empty()) return {};
    out += key + ": " + type + "; ";
  }
  out.resize(out.size() - 2);
  return out + " }";
}

bool interface_available(Context& context, const std::string& name) {
  const auto found = context.interface_bodies.find(name);
  if (found != context.interface_bodies.end()) return !found->second.empty();
  std::string body;
  // A name the source already uses would merge with or shadow that binding.
  if (is_identifier_name(name) && context.identifiers.count(name) == 0) {
    const InterfaceInfo* info = nullptr;
    int copies = 0;
    for (const InterfaceInfo& candidate : context.result.interfaces) {
      if (candidate.name == name) {
        if (info == nullptr) info = &candidate;
        ++copies;
      }
    }
    if (info != nullptr && copies == 1) body = render_fields(context, *info->fields, 1);
  }
  context.interface_bodies.emplace(name, body);
  return !body.empty();
}

bool class_is_nameable(const Context& context, const std::string& name) {
  const auto found = context.class_count.find(name);
  const auto declared = context.declared.find(name);
  return found != context.class_count.end() && found->second == 1 && declared != context.declared.end() &&
         declared->second == 1 && context.top_level_classes.count(name) != 0;
}

// The TypeScript text of a type the analysis knows for certain; empty for
// anything else, so that nothing vague is ever written.
std::string concrete_type(Context& context, const TypeInfo& type) {
  if (const char* name = primitive_name(type.kind)) return name;
  switch (type.kind) {
    case TYPE_UNION: {
      if (type.member_count < 2) return {};
      std::string out;
      std::unordered_set<int> seen;
      for (int m = 0; m < type.member_count && m < kMaxUnionMembers; ++m) {
        const char* name = primitive_name(type.members[static_cast<size_t>(m)]);
        if (name == nullptr) return {};
        if (!seen.insert(type.members[static_cast<size_t>(m)]).second) continue;
        if (!out.empty()) out += " | ";
        out += name;
      }
      return out;
    }
    case TYPE_ARRAY:
      if (const char* name = primitive_name(type.element_kind)) return std::string(name) + "[]";
      return {};
    case TYPE_SET:
      if (const char* name = primitive_name(type.element_kind)) return "Set<" + std::string(name) + ">";
      return {};
    case TYPE_MAP: {
      const char* key = primitive_name(type.key_kind);
      const char* value = primitive_name(type.value_kind);
      if (key == nullptr || value == nullptr) return {};
      return "Map<" + std::string(key) + ", " + value + ">";
    }
    case TYPE_INTERFACE:
      if (!interface_available(context, type.interface_name)) return {};
      if (context.used_set.insert(type.interface_name).second) context.used_interfaces.push_back(type.interface_name);
      return type.interface_name;
    case TYPE_OBJECT: {
      FieldList fields;
      for (const TypeField& field : type.fields) fields.emplace_back(field.name, field.kind);
      return render_fields(context, fields, 1);
    }
    case TYPE_NAMED:
      if (type.type_name == "Date" || type.type_name == "RegExp" || type.type_name == "Error") {
        return context.identifiers.count(type.type_name) != 0 && context.declared.count(type.type_name) != 0
                   ? std::string()
                   : type.type_name;
      }
      if (class_is_nameable(context, type.type_name)) return type.type_name;
      return {};
    default:
      return {};
  }
}

std::string object_literal_type(const Context& context, const ObjectInfo& object) {
  if (object.readonly != 0) return {};
  return render_fields(context, *object.fields, 1);
}

std::string array_literal_type(const ArrayInfo& array) {
  if (const char* name = primitive_name(array.element_kind)) return std::string(name) + "[]";
  if (array.element_kind != TYPE_UNION || array.member_count < 2) return {};
  std::string out;
  for (int m = 0; m < array.member_count && m < kMaxUnionMembers; ++m) {
    const char* name = primitive_name(array.members[static_cast<size_t>(m)]);
    if (name == nullptr) return {};
    if (!out.empty()) out += " | ";
    out += name;
  }
  return "(" + out + ")[]";
}

// What the syntax alone tells of an expression's value. The analysis guesses
// some types from far away (a name's other uses, a callee's record); where the
// text in place says otherwise the guess is wrong, and nothing is written.
enum class Shape { unknown, number, string, boolean, array, object, function, symbol };

// Where the expression starting at `first` ends: at `,` `;` or a closing
// bracket of the enclosing level, or at a line break before a token that
// cannot continue it. Bracket groups are skipped whole.
int expression_end(const Context& context, int first) {
  const TokenList& tokens = context.tokens;
  for (int i = first; i < tokens.count(); ++i) {
    const int kind = kind_at(tokens, i);
    if (kind == TK_COMMA || kind == TK_SEMICOLON || kind == TK_RPAREN || kind == TK_RBRACKET || kind == TK_RBRACE) {
      return i;
    }
    if (i > first && tokens.items[static_cast<size_t>(i)].line != tokens.items[static_cast<size_t>(i - 1)].line &&
        (kind == TK_IDENTIFIER || kind == TK_RESERVED || kind == TK_NUMBER || kind == TK_STRING ||
         is_declaration_keyword(kind) || kind == TK_RETURN || kind == TK_CLASS || kind == TK_FOR)) {
      return i;
    }
    if (kind == TK_LPAREN || kind == TK_LBRACKET || kind == TK_LBRACE) {
      const int end = context.match[static_cast<size_t>(i)];
      if (end < i) return tokens.count();
      i = end;
    }
  }
  return tokens.count();
}

// The name tokens of the declarators after the first in the declaration
// whose first name is at `first` (`var a = 1, b, c = 2` gives b and c).
std::vector<int> later_declarators(const Context& context, int first) {
  const TokenList& tokens = context.tokens;
  std::vector<int> names;
  int at = first;
  for (;;) {
    int end = at + 1;
    if (kind_at(tokens, end) == TK_ASSIGN) end = expression_end(context, end + 1);
    if (kind_at(tokens, end) != TK_COMMA || kind_at(tokens, end + 1) != TK_IDENTIFIER) break;
    const int after = kind_at(tokens, end + 2);
    if (after != TK_ASSIGN && after != TK_COMMA && after != TK_SEMICOLON) break;
    at = end + 1;
    names.push_back(at);
  }
  return names;
}

Shape expression_shape(const Context& context, int first, int end) {
  const TokenList& tokens = context.tokens;
  if (first >= end) return Shape::unknown;
  const int kind = kind_at(tokens, first);
  const std::string_view text = tokens.items[static_cast<size_t>(first)].text;
  if (end - first == 1) {
    if (kind == TK_NUMBER) return Shape::number;
    if (kind == TK_STRING) return Shape::string;
    if (kind == TK_REGEX) return Shape::object;
    if (kind == TK_RESERVED && (text == "true" || text == "false")) return Shape::boolean;
    if (kind == TK_RESERVED && text == "this") return Shape::object;
    return Shape::unknown;
  }
  if (kind == TK_MINUS && end - first == 2 && kind_at(tokens, first + 1) == TK_NUMBER) return Shape::number;
  if (kind == TK_NOT) return Shape::boolean;
  if ((kind == TK_LBRACE || kind == TK_LBRACKET) && context.match[static_cast<size_t>(first)] == end - 1) {
    return kind == TK_LBRACE ? Shape::object : Shape::array;
  }
  if (kind == TK_RESERVED && text == "new") return Shape::object;
  if (kind == TK_RESERVED && text == "typeof") return Shape::string;
  if ((kind == TK_RESERVED && text == "function") || kind == TK_CLASS) return Shape::function;
  if (kind == TK_ASYNC && word_is(tokens, first + 1, "function")) return Shape::function;
  if (kind_at(tokens, first + 1) == TK_ARROW ||
      (kind == TK_LPAREN && kind_at(tokens, context.match[static_cast<size_t>(first)] + 1) == TK_ARROW)) {
    return Shape::function;
  }
  if (kind == TK_IDENTIFIER && end - first == 3 && kind_at(tokens, first + 1) == TK_DOT &&
      word_is(tokens, first + 2, "prototype")) {
    return Shape::object;
  }
  if (kind == TK_IDENTIFIER && text == "Symbol" && kind_at(tokens, first + 1) == TK_LPAREN &&
      context.match[static_cast<size_t>(first + 1)] == end - 1) {
    return Shape::symbol;
  }
  return Shape::unknown;
}

// Whether a value of `shape` may have the written type `type`.
bool shape_fits(Shape shape, std::string_view type) {
  if (type.starts_with("Promise<")) return true;  // an async body's returns are the awaited values
  const bool array = type.ends_with("[]");
  bool primitive = !array;
  bool has_number = false;
  bool has_string = false;
  bool has_boolean = false;
  for (size_t start = 0; primitive && start <= type.size();) {
    size_t bar = type.find(" | ", start);
    if (bar == std::string_view::npos) bar = type.size();
    const std::string_view member = type.substr(start, bar - start);
    has_number = has_number || member == "number";
    has_string = has_string || member == "string";
    has_boolean = has_boolean || member == "boolean";
    primitive = member == "number" || member == "string" || member == "boolean";
    start = bar + 3;
  }
  switch (shape) {
    case Shape::unknown: return true;
    case Shape::number: return primitive && has_number;
    case Shape::string: return primitive && has_string;
    case Shape::boolean: return primitive && has_boolean;
    case Shape::array: return array;
    case Shape::object: return !primitive && !array && type != "void";
    case Shape::function:
    case Shape::symbol: return false;
  }
  return false;
}

// The `return` statements of a body (tokens [first, last)), nested function
// bodies left out: whether one gives a value, and whether every value it
// shows by its syntax fits `type`.
struct Returns {
  bool valued = false;
  bool fit = true;
  bool object_literal = false;  // one returns `{ ... }`
};

Returns own_returns(const Context& context, int first, int last, std::string_view type) {
  const TokenList& tokens = context.tokens;
  Returns returns;
  for (int i = first; i < last; ++i) {
    const int kind = kind_at(tokens, i);
    // A nested function's body: its returns are its own.
    if ((kind == TK_LBRACE && (kind_at(tokens, i - 1) == TK_ARROW || kind_at(tokens, i - 1) == TK_RPAREN)) ||
        (kind == TK_CLASS)) {
      int open = i;
      if (kind == TK_CLASS) {
        while (open < last && kind_at(tokens, open) != TK_LBRACE) ++open;
      }
      const int end = open < last ? context.match[static_cast<size_t>(open)] : -1;
      // `if (...) {` and `for (...) {` blocks are the body's own.
      bool function_body = kind == TK_CLASS || kind_at(tokens, i - 1) == TK_ARROW;
      if (!function_body && kind_at(tokens, i - 1) == TK_RPAREN) {
        const int paren = context.match[static_cast<size_t>(i - 1)];
        const int before = paren - 1;
        function_body = paren > 0 && (word_is(tokens, before, "function") ||
                                      (kind_at(tokens, before) == TK_IDENTIFIER &&
                                       (word_is(tokens, before - 1, "function") || kind_at(tokens, before - 1) == TK_LBRACE ||
                                        kind_at(tokens, before - 1) == TK_RBRACE || kind_at(tokens, before - 1) == TK_SEMICOLON ||
                                        kind_at(tokens, before - 1) == TK_COMMA || kind_at(tokens, before - 1) == TK_ASYNC ||
                                        kind_at(tokens, before - 1) == TK_STAR)) ||
                                      (kind_at(tokens, before) == TK_STAR && word_is(tokens, before - 1, "function")));
        // `if`, `for`, `while`, `switch`, `catch`, `with` are statements.
        if (kind_at(tokens, before) == TK_FOR || kind_at(tokens, before) == TK_SWITCH ||
            word_is(tokens, before, "if") || word_is(tokens, before, "while") || word_is(tokens, before, "catch") ||
            word_is(tokens, before, "with")) {
          function_body = false;
        }
      }
      if (function_body && end > i) {
        i = end;
        continue;
      }
    }
    if (kind != TK_RETURN) continue;
    const int next = i + 1;
    const int next_kind = kind_at(tokens, next);
    if (next >= last || next_kind == TK_SEMICOLON || next_kind == TK_RBRACE ||
        tokens.items[static_cast<size_t>(next)].line != tokens.items[static_cast<size_t>(i)].line) {
      continue;
    }
    returns.valued = true;
    const int end = expression_end(context, next);
    const Shape shape = expression_shape(context, next, end);
    if (!shape_fits(shape, type)) returns.fit = false;
    if (shape == Shape::object && next_kind == TK_LBRACE) returns.object_literal = true;
  }
  return returns;
}

// First records by name, built once so that lookups stay constant time.
template <typename Record>
std::unordered_map<std::string, std::pair<const Record*, int>> index_by_name(const std::vector<Record>& records) {
  std::unordered_map<std::string, std::pair<const Record*, int>> index;
  for (const Record& record : records) {
    auto [found, added] = index.try_emplace(record.name, &record, 0);
    ++found->second.second;
    (void)added;
  }
  return index;
}

template <typename Record>
const Record* only_record(const std::unordered_map<std::string, std::pair<const Record*, int>>& index,
                          const std::string& name) {
  const auto found = index.find(name);
  return found != index.end() && found->second.second == 1 ? found->second.first : nullptr;
}

// One parameter of a list: tokens [first, last).
struct ParamSlot {
  int first = 0;
  int last = 0;
};

std::vector<ParamSlot> split_params(const Context& context, int open, int close) {
  std::vector<ParamSlot> slots;
  int start = open + 1;
  for (int i = open + 1; i < close; ++i) {
    const int kind = kind_at(context.tokens, i);
    if ((kind == TK_LPAREN || kind == TK_LBRACKET || kind == TK_LBRACE) && context.match[static_cast<size_t>(i)] > i) {
      i = context.match[static_cast<size_t>(i)];
      continue;
    }
    if (kind == TK_COMMA) {
      slots.push_back({start, i});
      start = i + 1;
    }
  }
  if (start < close) slots.push_back({start, close});
  return slots;
}

struct Emitter {
  Context& context;
  std::vector<InlineInsertion> insertions;

  void add(int offset, std::string text, int kind, std::string name = {}, std::string owner = {}, int index = -1) {
    insertions.push_back({offset, std::move(text), kind, std::move(name), std::move(owner), index});
  }

  // Annotates the parameters (open..close) with `types`; a list whose length
  // differs from the record's is left alone.
  void annotate_params(int open, int close, const std::vector<TypeInfo>& types, const std::string& owner) {
    const std::vector<ParamSlot> slots = split_params(context, open, close);
    if (slots.size() != types.size()) return;
    const TokenList& tokens = context.tokens;
    for (size_t p = 0; p < slots.size(); ++p) {
      const ParamSlot slot = slots[p];
      const int first_kind = kind_at(tokens, slot.first);
      int after = -1;  // the token the annotation follows
      bool needs_array = false;
      if (first_kind == TK_IDENTIFIER && (slot.last == slot.first + 1 || kind_at(tokens, slot.first + 1) == TK_ASSIGN)) {
        after = slot.first;
      } else if (first_kind == TK_SPREAD && kind_at(tokens, slot.first + 1) == TK_IDENTIFIER &&
                 slot.last == slot.first + 2) {
        after = slot.first + 1;
        needs_array = true;
      } else if ((first_kind == TK_LBRACE || first_kind == TK_LBRACKET) &&
                 context.match[static_cast<size_t>(slot.first)] > slot.first) {
        const int end = context.match[static_cast<size_t>(slot.first)];
        if (end + 1 == slot.last || kind_at(tokens, end + 1) == TK_ASSIGN) after = end;
      }
      if (after < 0) continue;
      const TypeInfo& type = types[p];
      if (needs_array && type.kind != TYPE_ARRAY) continue;
      if (first_kind == TK_LBRACE && type.kind != TYPE_OBJECT && type.kind != TYPE_INTERFACE) continue;
      if (first_kind == TK_LBRACKET && type.kind != TYPE_ARRAY) continue;
      const std::string text = concrete_type(context, type);
      if (text.empty()) continue;
      if (kind_at(tokens, after + 1) == TK_ASSIGN && !shape_fits(expression_shape(context, after + 2, slot.last), text)) {
        continue;
      }
      const std::string name = first_kind == TK_IDENTIFIER || first_kind == TK_SPREAD
                                   ? std::string(tokens.items[static_cast<size_t>(after)].text)
                                   : std::string();
      add(tokens.end(after), ": " + text, INLINE_PARAMETER, name, owner, static_cast<int>(p));
    }
  }

  // The result annotation after the `)` at `close`, for the body tokens
  // [first, last): `void` only for a body whose returns give no value, and no
  // type a returned value's syntax contradicts.
  // An expression body (`x => x * 2`) is its own returned value: `last` is -1.
  void annotate_result(int close, const TypeInfo& type, bool is_async, int first, int last, const std::string& name) {
    std::string text = concrete_type(context, type);
    Returns returns;
    if (last < 0) {
      const Shape shape = expression_shape(context, first, expression_end(context, first));
      returns.valued = true;
      returns.fit = shape_fits(shape, text);
      returns.object_literal = shape == Shape::object;
    } else {
      returns = own_returns(context, first, last, text.empty() ? "void" : text);
    }
    if (text.empty() && !returns.valued && (type.kind == TYPE_VOID || type.kind == TYPE_NONE)) text = "void";
    if (text.empty() || !returns.fit) return;
    // A type for a body that returns nothing, or an object type where no
    // object is built in place, came from elsewhere.
    if (text != "void" && !returns.valued) return;
    if ((text.starts_with('{') || type.kind == TYPE_INTERFACE) && last >= 0 && !returns.object_literal) return;
    if (is_async) text = "Promise<" + text + ">";
    add(context.tokens.end(close), ": " + text, INLINE_RESULT, name);
  }
};

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

namespace {

// The `{` that opens the body of the class whose `class` token is at `at`,
// or -1.
int class_body_open(const Context& context, int at) {
  const TokenList& tokens = context.tokens;
  for (int i = at + 1; i < tokens.count(); ++i) {
    const int kind = tokens.items[static_cast<size_t>(i)].kind;
    if (kind == TK_LBRACE) return context.match[static_cast<size_t>(i)] > i ? i : -1;
    if (kind == TK_LPAREN || kind == TK_LBRACKET) {
      if (context.match[static_cast<size_t>(i)] < i) return -1;
      i = context.match[static_cast<size_t>(i)];
      continue;
    }
    if (kind == TK_SEMICOLON || kind == TK_RBRACE || kind == TK_RBRACKET || kind == TK_RPAREN) return -1;
  }
  return -1;
}

// A token that can end an expression: a new line after it may end a class
// field's initializer.
bool ends_value(int kind) {
  return kind == TK_IDENTIFIER || kind == TK_NUMBER || kind == TK_STRING || kind == TK_REGEX || kind == TK_RPAREN ||
         kind == TK_RBRACKET || kind == TK_RBRACE || kind == TK_RESERVED || kind == TK_INCREMENT;
}

// Keywords are valid member names (`delete() {}`, `static import() {}`).
bool can_name_member(int kind) {
  switch (kind) {
    case TK_IDENTIFIER: case TK_RESERVED: case TK_CLASS: case TK_STRING: case TK_NUMBER: case TK_LET:
    case TK_CONST: case TK_VAR: case TK_RETURN: case TK_FOR: case TK_SWITCH: case TK_EXTENDS: case TK_IMPORT:
    case TK_EXPORT: case TK_ASYNC:
      return true;
    default:
      return false;
  }
}

struct Member {
  std::string name;
  int is_static = 0;
  int open = -1;   // parameter list, when a method
  int close = -1;
  int body = -1;   // `{` of the method body
  int accessor = 0;
  int is_async = 0;
  int is_generator = 0;
};

// The members of the class body `{` open .. `}` close; also every member
// name, methods, accessors and written fields alike. `complete` tells whether
// the walk understood the whole body: only then is the name list whole.
std::vector<Member> class_members(const Context& context, int open, int close,
                                  std::unordered_set<std::string>& names, bool& complete) {
  complete = false;
  const TokenList& tokens = context.tokens;
  std::vector<Member> members;
  int i = open + 1;
  while (i < close) {
    if (kind_at(tokens, i) == TK_SEMICOLON) {
      ++i;
      continue;
    }
    Member member;
    // Modifiers, each only when something follows that is not `(` or `=`.
    for (;;) {
      const int next = kind_at(tokens, i + 1);
      const bool modifier_follows = next != TK_LPAREN && next != TK_ASSIGN && next != TK_SEMICOLON &&
                                    next != TK_RBRACE && tokens.items[static_cast<size_t>(i + 1)].line ==
                                                             tokens.items[static_cast<size_t>(i)].line;
      if (word_is(tokens, i, "static") && next != TK_LPAREN && next != TK_ASSIGN && next != TK_SEMICOLON) {
        if (next == TK_LBRACE) break;  // a static block
        member.is_static = 1;
        ++i;
      } else if (kind_at(tokens, i) == TK_ASYNC && modifier_follows) {
        member.is_async = 1;
        ++i;
      } else if ((word_is(tokens, i, "get") || word_is(tokens, i, "set")) && modifier_follows) {
        member.accessor = 1;
        ++i;
      } else if (kind_at(tokens, i) == TK_STAR) {
        member.is_generator = 1;
        ++i;
      } else {
        break;
      }
      if (i >= close) return members;
    }
    const int name_kind = kind_at(tokens, i);
    if (name_kind == TK_LBRACE && member.is_static) {  // static { ... }
      const int end = context.match[static_cast<size_t>(i)];
      if (end < i) return members;
      i = end + 1;
      continue;
    }
    if (name_kind == TK_LBRACKET) {  // a computed name names nothing we know
      const int end = context.match[static_cast<size_t>(i)];
      if (end < i) return members;
      i = end + 1;
    } else if (can_name_member(name_kind)) {
      member.name = tokens.items[static_cast<size_t>(i)].text;
      names.insert(member.name);
      if (member.name.starts_with('#')) names.insert(member.name.substr(1));
      ++i;
    } else {
      return members;  // something this walk does not understand: stop
    }
    if (kind_at(tokens, i) == TK_LPAREN) {
      const int end = context.match[static_cast<size_t>(i)];
      if (end < i || kind_at(tokens, end + 1) != TK_LBRACE) return members;
      const int body_end = context.match[static_cast<size_t>(end + 1)];
      if (body_end < end + 1) return members;
      member.open = i;
      member.close = end;
      member.body = end + 1;
      members.push_back(member);
      i = body_end + 1;
      continue;
    }
    // A field: `name;`, `name = value`, or just `name` ended by a new line.
    if (kind_at(tokens, i) == TK_ASSIGN) {
      ++i;
      while (i < close) {
        const int kind = kind_at(tokens, i);
        if (kind == TK_SEMICOLON) break;
        if ((kind == TK_LPAREN || kind == TK_LBRACKET || kind == TK_LBRACE)) {
          const int end = context.match[static_cast<size_t>(i)];
          if (end < i) return members;
          i = end + 1;
        } else {
          ++i;
        }
        if (i < close && tokens.items[static_cast<size_t>(i)].line != tokens.items[static_cast<size_t>(i - 1)].line &&
            ends_value(kind_at(tokens, i - 1)) &&
            (kind_at(tokens, i) == TK_IDENTIFIER || kind_at(tokens, i) == TK_STRING ||
             kind_at(tokens, i) == TK_LBRACKET || kind_at(tokens, i) == TK_STAR || kind_at(tokens, i) == TK_ASYNC)) {
          break;
        }
      }
    }
  }
  complete = i == close;
  return members;
}

}  // namespace

InlineOutput emit_inline(std::string_view source, const TokenList& tokens, const AnalysisResult& result) {
  Context context{source, tokens, result, match_brackets(tokens), {}, {}, {}, {}, {}, {}, {}};
  const int count = tokens.count();
  for (const ClassInfo& cls : result.classes) {
    if (cls.is_local == 0) context.top_level_classes.insert(cls.name);
  }

  // Names, declaration sites and classes, counted once over the file.
  for (int i = 0; i < count; ++i) {
    const Token& token = tokens.items[static_cast<size_t>(i)];
    if (token.kind == TK_IDENTIFIER) context.identifiers.insert(std::string(token.text));
    const bool declares = is_declaration_keyword(token.kind) || token.kind == TK_CLASS || word_is(tokens, i, "function") ||
                          word_is(tokens, i, "catch");
    if (!declares) continue;
    int name = i + 1;
    if (kind_at(tokens, name) == TK_STAR) ++name;
    if (kind_at(tokens, name) == TK_LPAREN) ++name;  // catch (e)
    if (kind_at(tokens, name) == TK_IDENTIFIER) {
      ++context.declared[std::string(tokens.items[static_cast<size_t>(name)].text)];
      if (token.kind == TK_CLASS) ++context.class_count[std::string(tokens.items[static_cast<size_t>(name)].text)];
    }
  }
  // Later declarators declare names as well.
  for (int i = 0; i + 1 < count; ++i) {
    if (!is_declaration_keyword(kind_at(tokens, i)) || kind_at(tokens, i + 1) != TK_IDENTIFIER) continue;
    for (const int at : later_declarators(context, i + 1)) ++context.declared[std::string(tokens.items[static_cast<size_t>(at)].text)];
  }
  // Parameters declare names too: a name bound in two places cannot be told apart by name.
  for (int i = 0; i < count; ++i) {
    const int kind = tokens.items[static_cast<size_t>(i)].kind;
    if (kind != TK_LPAREN) continue;
    const int close = context.match[static_cast<size_t>(i)];
    if (close < i) continue;
    const bool params = kind_at(tokens, close + 1) == TK_LBRACE || kind_at(tokens, close + 1) == TK_ARROW;
    if (!params) continue;
    for (const ParamSlot& slot : split_params(context, i, close)) {
      int at = slot.first;
      if (kind_at(tokens, at) == TK_SPREAD) ++at;
      if (kind_at(tokens, at) == TK_IDENTIFIER) ++context.declared[std::string(tokens.items[static_cast<size_t>(at)].text)];
    }
  }
  for (int i = 1; i < count; ++i) {
    if (kind_at(tokens, i) == TK_ARROW && kind_at(tokens, i - 1) == TK_IDENTIFIER) {
      ++context.declared[std::string(tokens.items[static_cast<size_t>(i - 1)].text)];
    }
  }

  const auto vars = index_by_name(result.vars);
  const auto objects = index_by_name(result.objects);
  const auto arrays = index_by_name(result.arrays);
  const auto arrows = index_by_name(result.arrows);
  const auto classes = index_by_name(result.classes);
  std::unordered_map<int, const FuncInfo*> funcs_by_body;
  for (const FuncInfo& func : result.funcs) {
    if (func.body_start >= 0) funcs_by_body.emplace(func.body_start, &func);
  }
  auto declared_once = [&context](const std::string& name) {
    const auto found = context.declared.find(name);
    return found != context.declared.end() && found->second == 1;
  };

  Emitter emitter{context, {}};
  std::unordered_set<int> arrow_names;  // name tokens bound to an annotated arrow

  for (int i = 0; i < count; ++i) {
    const Token& token = tokens.items[static_cast<size_t>(i)];

    // function [*] [NAME] ( PARAMS ) {
    if (token.kind == TK_RESERVED && token.text == "function" && kind_at(tokens, i - 1) != TK_DOT) {
      int at = i + 1;
      const bool generator = kind_at(tokens, at) == TK_STAR;
      if (generator) ++at;
      if (kind_at(tokens, at) == TK_IDENTIFIER) ++at;
      if (kind_at(tokens, at) != TK_LPAREN) continue;
      const int close = context.match[static_cast<size_t>(at)];
      if (close < at || kind_at(tokens, close + 1) != TK_LBRACE) continue;
      const auto found = funcs_by_body.find(tokens.end(close + 1));
      if (found == funcs_by_body.end()) continue;
      const FuncInfo& func = *found->second;
      emitter.annotate_params(at, close, func.param_types, func.name);
      const int body_close = context.match[static_cast<size_t>(close + 1)];
      if (!generator && func.is_generator == 0 && body_close > close) {
        const bool is_async = func.is_async != 0 || kind_at(tokens, i - 1) == TK_ASYNC;
        emitter.annotate_result(close, func.return_type, is_async, close + 2, body_close, func.name);
      }
      continue;
    }

    // DECL NAME = [async] ( PARAMS ) =>   or   DECL NAME = [async] PARAM =>
    if (is_declaration_keyword(token.kind) && kind_at(tokens, i + 1) == TK_IDENTIFIER &&
        kind_at(tokens, i + 2) == TK_ASSIGN && kind_at(tokens, i - 1) != TK_DOT) {
      const std::string name(tokens.items[static_cast<size_t>(i + 1)].text);
      int at = i + 3;
      const bool is_async = kind_at(tokens, at) == TK_ASYNC;
      if (is_async) ++at;
      const ArrowInfo* arrow = only_record(arrows, name);
      if (arrow != nullptr && declared_once(name) && arrow->is_generic == 0) {
        if (kind_at(tokens, at) == TK_LPAREN) {
          const int close = context.match[static_cast<size_t>(at)];
          if (close > at && kind_at(tokens, close + 1) == TK_ARROW) {
            arrow_names.insert(i + 1);
            emitter.annotate_params(at, close, arrow->param_types, name);
            const int body = close + 2;
            const bool block = kind_at(tokens, body) == TK_LBRACE && context.match[static_cast<size_t>(body)] > body;
            if (block) {
              emitter.annotate_result(close, arrow->return_type, is_async, body + 1,
                                      context.match[static_cast<size_t>(body)], name);
            } else {
              emitter.annotate_result(close, arrow->return_type, is_async, body, -1, name);
            }
          }
        } else if (kind_at(tokens, at) == TK_IDENTIFIER && kind_at(tokens, at + 1) == TK_ARROW) {
          arrow_names.insert(i + 1);
          // `x => ...` takes parentheses to carry a type.
          if (arrow->param_types.size() == 1) {
            const std::string text = concrete_type(context, arrow->param_types[0]);
            if (!text.empty()) {
              const std::string param(tokens.items[static_cast<size_t>(at)].text);
              emitter.add(tokens.start(at), "(", INLINE_PARAMETER, param, name, 0);
              emitter.add(tokens.end(at), ": " + text + ")", INLINE_PARAMETER, param, name, 0);
            }
          }
        }
      } else if ((kind_at(tokens, at) == TK_LPAREN && context.match[static_cast<size_t>(at)] > at &&
                  kind_at(tokens, context.match[static_cast<size_t>(at)] + 1) == TK_ARROW) ||
                 (kind_at(tokens, at) == TK_IDENTIFIER && kind_at(tokens, at + 1) == TK_ARROW)) {
        arrow_names.insert(i + 1);  // an arrow without a usable record: the variable stays bare too
      }
    }

    // DECL NAME [= VALUE], NAME [= VALUE] ...: not in a for head, not bound
    // to a function or class.
    if (is_declaration_keyword(token.kind) && kind_at(tokens, i + 1) == TK_IDENTIFIER &&
        kind_at(tokens, i - 1) != TK_DOT && kind_at(tokens, i - 1) != TK_LPAREN) {
      auto annotate_variable = [&](int at) {
        const std::string name(tokens.items[static_cast<size_t>(at)].text);
        const int next = kind_at(tokens, at + 1);
        if (next == TK_ASSIGN && (word_is(tokens, at + 2, "function") || kind_at(tokens, at + 2) == TK_CLASS ||
                                  kind_at(tokens, at + 2) == TK_ASYNC)) {
          return;
        }
        if (!declared_once(name)) return;
        std::string text;
        if (const VarInfo* var = only_record(vars, name)) {
          text = concrete_type(context, var->type);
        } else if (const ObjectInfo* object = only_record(objects, name); object != nullptr && next == TK_ASSIGN &&
                                                                         kind_at(tokens, at + 2) == TK_LBRACE) {
          text = object_literal_type(context, *object);
        } else if (const ArrayInfo* array = only_record(arrays, name); array != nullptr && next == TK_ASSIGN &&
                                                                      kind_at(tokens, at + 2) == TK_LBRACKET) {
          text = array_literal_type(*array);
        }
        if (next == TK_ASSIGN && !shape_fits(expression_shape(context, at + 2, expression_end(context, at + 2)), text)) {
          text.clear();
        }
        if (!text.empty()) emitter.add(tokens.end(at), ": " + text, INLINE_VARIABLE, name);
      };
      if (arrow_names.count(i + 1) == 0) annotate_variable(i + 1);
      for (const int at : later_declarators(context, i + 1)) annotate_variable(at);
      continue;
    }

    // class [NAME] [extends ...] { MEMBERS }
    if (token.kind == TK_CLASS && kind_at(tokens, i - 1) != TK_DOT) {
      const int open = class_body_open(context, i);
      if (open < 0) continue;
      const int close = context.match[static_cast<size_t>(open)];
      std::unordered_set<std::string> member_names;
      bool complete = false;
      const std::vector<Member> members = class_members(context, open, close, member_names, complete);
      if (kind_at(tokens, i + 1) != TK_IDENTIFIER) continue;
      const std::string name(tokens.items[static_cast<size_t>(i + 1)].text);
      const ClassInfo* cls = only_record(classes, name);
      if (cls == nullptr || context.class_count[name] != 1) continue;

      // Method records by name and staticness, with how many share them.
      std::unordered_map<std::string, std::pair<const MethodInfo*, int>> methods;
      for (const MethodInfo& method : cls->methods) {
        auto& entry = methods[method.name + (method.is_static != 0 ? "/s" : "")];
        if (entry.first == nullptr) entry.first = &method;
        ++entry.second;
      }
      std::unordered_map<std::string, int> method_count;
      for (const Member& member : members) ++method_count[member.name + (member.is_static != 0 ? "/s" : "")];
      for (const Member& member : members) {
        if (member.accessor != 0 || method_count[member.name + (member.is_static != 0 ? "/s" : "")] != 1) continue;
        if (member.name == "constructor" && member.is_static == 0) {
          emitter.annotate_params(member.open, member.close, cls->ctor_param_types, name);
          continue;
        }
        const auto found = methods.find(member.name + (member.is_static != 0 ? "/s" : ""));
        if (found == methods.end() || found->second.second != 1) continue;
        const MethodInfo* method = found->second.first;
        if (method->param_types.size() == static_cast<size_t>(method->param_count())) {
          emitter.annotate_params(member.open, member.close, method->param_types, member.name);
        }
        if (member.is_generator == 0) {
          const int body_close = context.match[static_cast<size_t>(member.body)];
          emitter.annotate_result(member.close, method->return_type, member.is_async != 0 || method->is_async != 0,
                                  member.body + 1, body_close, member.name);
        }
      }

      // Fields the class writes but never declares: `declare` adds the type
      // and emits no JavaScript, so construction stays as it was.
      if (!complete) continue;  // a member name may be missing: a field could clash with it
      std::unordered_set<std::string> written;
      const int body_end = tokens.end(open);
      for (int f = 0; f < cls->field_count(); ++f) {
        const std::string& field = cls->field_names[static_cast<size_t>(f)];
        const bool is_static = f < static_cast<int>(cls->field_static.size()) && cls->field_static[static_cast<size_t>(f)] != 0;
        const bool is_private = f < static_cast<int>(cls->field_private.size()) && cls->field_private[static_cast<size_t>(f)] != 0;
        if (is_private || !is_identifier_name(field) || member_names.count(field) != 0 || field == "constructor" ||
            !written.insert(field).second) {
          continue;
        }
        std::string text = " declare ";
        if (is_static) text += "static ";
        text += field;
        const std::string type =
            f < static_cast<int>(cls->field_types.size()) ? concrete_type(context, cls->field_types[static_cast<size_t>(f)]) : "";
        if (!type.empty()) text += ": " + type;
        text += ";";
        emitter.add(body_end, std::move(text), INLINE_FIELD);
      }
      // Properties the methods assign (`this.version = ...` outside the
      // constructor) and the program assigns on the class itself
      // (`Name.create = ...`): declared without a type, which the compiler
      // then takes as it did before, but no longer as missing.
      auto declare_untyped = [&](const std::string& field, bool is_static) {
        if (!is_identifier_name(field) || member_names.count(field) != 0 || field == "constructor" ||
            !written.insert(field).second) {
          return;
        }
        emitter.add(body_end, std::string(" declare ") + (is_static ? "static " : "") + field + ";", INLINE_FIELD);
      };
      for (const Member& member : members) {
        if (member.is_static != 0 || member.body < 0) continue;
        const int body_close = context.match[static_cast<size_t>(member.body)];
        for (int t = member.body + 1; t + 3 < body_close; ++t) {
          // A `function` has a `this` of its own.
          if (word_is(tokens, t, "function")) {
            int paren = t + 1;
            while (paren < body_close && kind_at(tokens, paren) != TK_LPAREN) ++paren;
            const int paren_close = paren < body_close ? context.match[static_cast<size_t>(paren)] : -1;
            if (paren_close > paren && kind_at(tokens, paren_close + 1) == TK_LBRACE &&
                context.match[static_cast<size_t>(paren_close + 1)] > paren_close) {
              t = context.match[static_cast<size_t>(paren_close + 1)];
            }
            continue;
          }
          if (word_is(tokens, t, "this") && kind_at(tokens, t + 1) == TK_DOT && kind_at(tokens, t + 2) == TK_IDENTIFIER &&
              (kind_at(tokens, t + 3) == TK_ASSIGN || kind_at(tokens, t + 3) == TK_COMPOUND_ASSIGN)) {
            declare_untyped(std::string(tokens.items[static_cast<size_t>(t + 2)].text), false);
          }
        }
      }
      if (class_is_nameable(context, name)) {
        for (int t = 1; t + 3 < count; ++t) {
          if (kind_at(tokens, t) != TK_IDENTIFIER || tokens.items[static_cast<size_t>(t)].text != name ||
              kind_at(tokens, t - 1) == TK_DOT || kind_at(tokens, t + 1) != TK_DOT ||
              kind_at(tokens, t + 2) != TK_IDENTIFIER || kind_at(tokens, t + 3) != TK_ASSIGN) {
            continue;
          }
          const std::string field(tokens.items[static_cast<size_t>(t + 2)].text);
          // Function's own properties cannot be redeclared as static ones.
          if (field == "name" || field == "length" || field == "prototype" || field == "caller" || field == "arguments") {
            continue;
          }
          declare_untyped(field, true);
        }
      }
    }
  }

  // The interfaces the annotations name, once, after the imports.
  InlineOutput output;
  if (!context.used_interfaces.empty()) {
    std::string block;
    for (const std::string& name : context.used_interfaces) {
      block += "interface " + name + " " + context.interface_bodies[name] + "\n";
    }
    // After a `#!` line and the directive prologue, and after the last
    // top-level import.
    int after_token = -1;
    int depth = 0;
    for (int i = 0; i < count; ++i) {
      const int kind = kind_at(tokens, i);
      if (kind == TK_LBRACE || kind == TK_LPAREN || kind == TK_LBRACKET) ++depth;
      if (kind == TK_RBRACE || kind == TK_RPAREN || kind == TK_RBRACKET) --depth;
      if (depth != 0 || kind != TK_IMPORT || kind_at(tokens, i + 1) == TK_LPAREN || kind_at(tokens, i + 1) == TK_DOT) {
        continue;
      }
      // The statement ends at its module name: the first string at this level.
      for (int j = i + 1; j < count; ++j) {
        const int inner = kind_at(tokens, j);
        if (inner == TK_LBRACE && context.match[static_cast<size_t>(j)] > j) {
          j = context.match[static_cast<size_t>(j)];
          continue;
        }
        if (inner == TK_STRING) {
          after_token = kind_at(tokens, j + 1) == TK_SEMICOLON ? j + 1 : j;
          i = after_token;
          break;
        }
        if (inner == TK_SEMICOLON) break;
      }
    }
    if (after_token < 0) {
      int i = 0;
      while (kind_at(tokens, i) == TK_STRING &&
             (kind_at(tokens, i + 1) == TK_SEMICOLON ||
              (i + 1 < count && tokens.items[static_cast<size_t>(i + 1)].line != tokens.items[static_cast<size_t>(i)].line))) {
        after_token = kind_at(tokens, i + 1) == TK_SEMICOLON ? i + 1 : i;
        i = after_token + 1;
      }
    }
    int offset = 0;
    if (after_token >= 0) {
      offset = tokens.end(after_token);
    } else if (source.starts_with("#!")) {
      const size_t line_end = source.find('\n');
      offset = line_end == std::string_view::npos ? static_cast<int>(source.size()) : static_cast<int>(line_end);
    }
    if (after_token < 0 && offset == 0) {
      emitter.add(0, block, INLINE_INTERFACES);
    } else {
      // At the start of the next line unless a comment spans the break.
      const size_t line_end = source.find('\n', static_cast<size_t>(offset));
      const int next_start = after_token + 1 < count ? tokens.start(after_token + 1)
                                                     : static_cast<int>(source.size());
      const std::string_view gap = source.substr(static_cast<size_t>(offset),
                                                 static_cast<size_t>(std::max(next_start - offset, 0)));
      if (line_end != std::string_view::npos && static_cast<int>(line_end) < next_start &&
          gap.find("/*") == std::string_view::npos) {
        emitter.add(static_cast<int>(line_end) + 1, block, INLINE_INTERFACES);
      } else {
        block.pop_back();
        emitter.add(offset, "\n" + block, INLINE_INTERFACES);
      }
    }
    output.interfaces = static_cast<int>(context.used_interfaces.size());
  }

  output.insertions = std::move(emitter.insertions);
  std::stable_sort(output.insertions.begin(), output.insertions.end(),
                   [](const InlineInsertion& a, const InlineInsertion& b) { return a.offset < b.offset; });
  for (const InlineInsertion& insertion : output.insertions) {
    if (insertion.kind != INLINE_INTERFACES) ++output.annotations;
  }
  output.text = apply_insertions(source, output.insertions);
  return output;
}
