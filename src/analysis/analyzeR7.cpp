// Analysis pass 7: top-level object literals become named interfaces, and
// call sites carry interface types into parameters and results.
#include "analysis/analyzeR7.h"

#include <algorithm>
#include <set>
#include <unordered_map>
#include <vector>

#include "analysis/file_index.h"
#include "analysis/token_helpers.h"

namespace {

// Built-in TypeScript and Node.js type names that a promoted interface must
// never shadow.
constexpr std::string_view kReservedTypeNames[] = {
    "Response", "Request", "Error",  "Buffer",       "Set",          "Map",
    "Promise",  "Date",    "RegExp", "EventEmitter", "ChildProcess",
};

// French "new" prefixes stripped from an object's name, tried in this order.
struct NamePrefix {
  std::string_view text;
};
constexpr NamePrefix kNamePrefixes[] = {{"nouvel"}, {"nouvelle"}, {"nouveau"}};

// A "KEYWORD NAME" search text is cut at this many characters: a longer name
// is matched by its start only, which the output has always relied on.
constexpr size_t kLocalPatternCapacity = 255;
constexpr std::string_view kLocalKeywords[] = {"const ", "let ", "var "};

bool is_ascii_upper(char c) { return c >= 'A' && c <= 'Z'; }

// "KEYWORD NAME", cut at kLocalPatternCapacity characters.
std::string local_pattern(std::string_view keyword, std::string_view name) {
  std::string pattern(keyword);
  pattern.append(name);
  if (pattern.size() > kLocalPatternCapacity) pattern.resize(kLocalPatternCapacity);
  return pattern;
}

// Whether "const NAME", "let NAME" or "var NAME" (as a 256-byte buffer holds
// it) occurs in some body, for many names with one walk over the bodies. Each
// occurrence of a keyword text in a body is remembered with the text that
// follows it (as long as the longest name needs); a pattern "KEYWORD NAME" is
// in a body exactly when NAME starts one of those texts, and all texts that
// start with NAME sit together from NAME's place in sorted order.
class LocalKeywordPatterns {
 public:
  LocalKeywordPatterns(const AnalysisResult& result, size_t longest_name) {
    for (size_t k = 0; k < std::size(kLocalKeywords); ++k) {
      const std::string_view keyword = kLocalKeywords[k];
      const size_t tail = std::min(longest_name, kLocalPatternCapacity - keyword.size());
      std::vector<std::string_view>& followers = followers_[k];
      for (const FuncInfo& func : result.funcs) {
        if (!func.body) continue;
        const std::string_view body = *func.body;
        for (size_t at = body.find(keyword); at != std::string_view::npos; at = body.find(keyword, at + 1)) {
          followers.push_back(body.substr(at + keyword.size(), tail));
        }
      }
      std::sort(followers.begin(), followers.end());
      followers.erase(std::unique(followers.begin(), followers.end()), followers.end());
    }
  }

  bool contains(std::string_view name) const {
    for (size_t k = 0; k < std::size(kLocalKeywords); ++k) {
      const std::string pattern = local_pattern(kLocalKeywords[k], name);
      const std::string_view wanted = std::string_view(pattern).substr(kLocalKeywords[k].size());
      const std::vector<std::string_view>& followers = followers_[k];
      const auto first = std::lower_bound(followers.begin(), followers.end(), wanted);
      if (first != followers.end() && first->starts_with(wanted)) return true;
    }
    return false;
  }

 private:
  std::vector<std::string_view> followers_[std::size(kLocalKeywords)];
};

// What a call of the function gives. A generator function's call gives its
// generator, whatever its body returns (a body without `return` is void).
TypeInfo call_result_type(const FuncInfo& func) {
  if (func.is_generator == 0) return func.return_type;
  TypeInfo generator;
  generator.kind = TYPE_NAMED;
  generator.type_name = func.is_async != 0 ? "AsyncGenerator" : "Generator";
  return generator;
}

}  // namespace

int is_reserved_ts_type(std::string_view name) {
  for (std::string_view reserved : kReservedTypeNames) {
    if (name == reserved) return 1;
  }
  return 0;
}

// nouvelX / nouvelleX / nouveauX (X upper case) lose the prefix; the first
// letter of what remains is raised to upper case.
std::string generate_interface_name(std::string_view name) {
  std::string_view rest = name;
  for (const NamePrefix& prefix : kNamePrefixes) {
    const size_t length = prefix.text.size();
    if (name.starts_with(prefix.text) && name.size() > length && is_ascii_upper(name[length])) {
      rest = name.substr(length);
      break;
    }
  }
  std::string interface_name(rest);
  if (!interface_name.empty() && interface_name[0] >= 'a' && interface_name[0] <= 'z') {
    interface_name[0] = static_cast<char>(interface_name[0] - 'a' + 'A');
  }
  return interface_name;
}

// const NAME = { ... }  (top level, with fields)  -> interface Name, NAME: Name
void promote_objects_to_interfaces(AnalysisResult& result) {
  if (result.objects.empty()) return;
  size_t longest_name = 0;
  for (const ObjectInfo& object : result.objects) longest_name = std::max(longest_name, object.name.size());
  const LocalKeywordPatterns locals(result, longest_name);
  // First variable of each name, as find_var gives it; promotion adds no variable.
  const FirstByName first_var(result.vars);

  for (const ObjectInfo& object : result.objects) {
    if (object.field_count() == 0) continue;
    if (locals.contains(object.name)) continue;  // declared in some body
    std::string interface_name = generate_interface_name(object.name);
    if (is_reserved_ts_type(interface_name)) continue;

    // The interface shares the object's field list: both always show the same fields.
    result.interfaces.push_back(InterfaceInfo{interface_name, object.fields, object.name});

    if (VarInfo* var = first_var.find(object.name)) {
      TypeInfo& type = var->type;
      type.kind = TYPE_INTERFACE;
      type.interface_name = std::move(interface_name);
    }
  }
}

// FUNC ( VAR                 -> FUNC's parameter 0 takes VAR's interface type
// KEYWORD NAME = FUNC (      -> NAME takes FUNC's return type
void propagate_function_calls(AnalysisResult& result, const TokenList& tokens, const FileIndex& index) {
  // Lookups by name without a walk over the lists per call: the first function
  // of each name, and for each variable name its first record (the result
  // rule's target) and the records that currently hold an interface type (the
  // argument rule's source). The pass creates no function or variable; the
  // result rule is the only writer of variable types here and keeps the set
  // current. Every name looked up is an identifier token's, so both tables
  // are read by the file's name id: a vector read per call, no hash of the
  // text.
  std::vector<int> first_func(static_cast<size_t>(index.name_count()), -1);
  for (int f = static_cast<int>(result.funcs.size()) - 1; f >= 0; --f) {
    const int name_id = index.id_of(result.funcs[static_cast<size_t>(f)].name);
    if (name_id >= 0) first_func[static_cast<size_t>(name_id)] = f;
  }
  struct VarSlots {
    int first = -1;
    std::set<int> interface_typed;
  };
  std::vector<VarSlots> var_slots;  // one per name id that some variable has
  std::vector<int> slots_by_id(static_cast<size_t>(index.name_count()), -1);
  for (int v = 0; v < static_cast<int>(result.vars.size()); ++v) {
    const int name_id = index.id_of(result.vars[static_cast<size_t>(v)].name);
    if (name_id < 0) continue;  // no token names it
    int& at = slots_by_id[static_cast<size_t>(name_id)];
    if (at < 0) {
      at = static_cast<int>(var_slots.size());
      var_slots.push_back(VarSlots{v, {}});
    }
    if (result.vars[static_cast<size_t>(v)].type.kind == TYPE_INTERFACE) {
      var_slots[static_cast<size_t>(at)].interface_typed.insert(v);
    }
  }
  const auto slots_named_at = [&](int k) -> VarSlots* {  // k: an identifier token
    const int at = slots_by_id[static_cast<size_t>(index.name_id[static_cast<size_t>(k)])];
    return at < 0 ? nullptr : &var_slots[static_cast<size_t>(at)];
  };

  const int count = tokens.count();
  for (int i = 0; i < count - 3; ++i) {
    if (tokens.items[i].kind != TK_IDENTIFIER || tokens.items[i + 1].kind != TK_LPAREN) continue;
    const int found_func = first_func[static_cast<size_t>(index.name_id[static_cast<size_t>(i)])];
    if (found_func < 0) continue;
    FuncInfo& func = result.funcs[static_cast<size_t>(found_func)];

    // Argument rule: only the token right after `(`, only parameter 0.
    if (tokens.items[i + 2].kind == TK_IDENTIFIER && func.param_count() >= 1 && !func.param_types.empty()) {
      const VarSlots* named = slots_named_at(i + 2);
      if (named != nullptr && !named->interface_typed.empty()) {
        const VarInfo& var = result.vars[static_cast<size_t>(*named->interface_typed.begin())];
        func.param_types[0].kind = TYPE_INTERFACE;
        func.param_types[0].interface_name = var.type.interface_name;
        // The emitter prints a non-empty shape in place of the type.
        func.param_shapes.clear(0);
      }
    }

    // Result rule.
    if (i > 2 && tokens.items[i - 1].kind == TK_ASSIGN && tokens.items[i - 2].kind == TK_IDENTIFIER &&
        is_declaration_keyword(tokens.items[i - 3].kind)) {
      VarSlots* named = slots_named_at(i - 2);
      if (named != nullptr) {
        const int target = named->first;
        result.vars[static_cast<size_t>(target)].type = call_result_type(func);
        if (result.vars[static_cast<size_t>(target)].type.kind == TYPE_INTERFACE) {
          named->interface_typed.insert(target);
        } else {
          named->interface_typed.erase(target);
        }
      }
    }
  }
}

void analyzer7_run(AnalysisResult& result, const TokenList& tokens, const FileIndex& index) {
  promote_objects_to_interfaces(result);
  propagate_function_calls(result, tokens, index);
}
