// Passes 4 and 5 written as literally as their rules read: one walk per
// rule, linear lookups by name, one walk of the whole list per parameter. The
// pass in src/ must give the same types and send the same trace, byte for
// byte; pass4_reference_test.cpp compares them.
#include "pass4_reference.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <string_view>

#include "core/console.h"

namespace pass4_reference {

namespace {

// The trace line a format gives, sent to the sink when there is one.
__attribute__((format(printf, 2, 3))) void say(const Pass4Trace& trace, const char* format, ...) {
  if (!trace) return;
  std::va_list args;
  va_start(args, format);
  std::va_list again;
  va_copy(again, args);
  const int size = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string line(static_cast<size_t>(size) + 1, '\0');
  std::vsnprintf(line.data(), line.size(), format, again);
  va_end(again);
  line.resize(static_cast<size_t>(size));
  trace(line);
}

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

// `x =` at i: the start of a declaration or plain assignment.
bool assignment_at(const TokenList& tokens, int i) {
  return kind_at(tokens, i, TK_IDENTIFIER) && kind_at(tokens, i + 1, TK_ASSIGN);
}

}  // namespace

// ---------------------------------------------------------------------------
// API detectors

// x = createReadStream          -> kind 10
// x = fs . createReadStream     -> kind 10
void detect_read_stream(AnalysisResult& result, const TokenList& tokens, const Pass4Trace& trace) {
  const int count = tokens.count();
  for (int i = 0; i < count - 3; ++i) {
    if (!assignment_at(tokens, i)) continue;
    const bool direct = ident_at(tokens, i + 2, "createReadStream");
    const bool through_fs = i + 4 < count && ident_at(tokens, i + 2, "fs") &&
                            kind_at(tokens, i + 3, TK_DOT) &&
                            ident_at(tokens, i + 4, "createReadStream");
    if (!direct && !through_fs) continue;
    const std::string name(tokens.items[i].text);
    if (VarInfo* var = find_var(result, name)) {
      var->type.kind = TYPE_READSTREAM;
      if (trace) say(trace, CLR_GREEN "[ANALYZER4] READSTREAM DETECTE : %s\n" CLR_RESET, name.c_str());
    }
  }
}

// x = readline . createInterface   -> kind 15 "readline.Interface"
void detect_readline_interface(AnalysisResult& result, const TokenList& tokens, const Pass4Trace& trace) {
  const int count = tokens.count();
  for (int i = 0; i < count - 5; ++i) {
    if (!assignment_at(tokens, i) || !ident_at(tokens, i + 2, "readline") ||
        !kind_at(tokens, i + 3, TK_DOT) || !ident_at(tokens, i + 4, "createInterface")) {
      continue;
    }
    const std::string name(tokens.items[i].text);
    if (VarInfo* var = find_var(result, name)) {
      var->type.kind = TYPE_NAMED;
      var->type.type_name = "readline.Interface";
      if (trace) say(trace, CLR_GREEN "[ANALYZER4] READLINE DETECTE : %s\n" CLR_RESET, name.c_str());
    }
  }
}

// x = await fetch   -> kind 9 (Response)
// x = fetch         -> kind 13 (Promise)
void detect_fetch_calls(AnalysisResult& result, const TokenList& tokens, const Pass4Trace& trace) {
  const int count = tokens.count();
  for (int i = 0; i < count - 3; ++i) {
    if (!assignment_at(tokens, i)) continue;
    int kind = TYPE_NONE;
    if (i + 4 < count && ident_at(tokens, i + 2, "await") && ident_at(tokens, i + 3, "fetch")) {
      kind = TYPE_RESPONSE;
    } else if (ident_at(tokens, i + 2, "fetch")) {
      kind = TYPE_PROMISE;
    }
    if (kind == TYPE_NONE) continue;
    const std::string name(tokens.items[i].text);
    if (VarInfo* var = find_var(result, name)) {
      var->type.kind = static_cast<TypeKind>(kind);
      if (trace) say(trace, CLR_GREEN "[ANALYZER4] FETCH DETECTE : %s\n" CLR_RESET, name.c_str());
    }
  }
}

// x = new Set   -> kind 12; element_kind is left to pass 5
void detect_set_usage(AnalysisResult& result, const TokenList& tokens, const Pass4Trace& trace) {
  const int count = tokens.count();
  for (int i = 0; i < count - 4; ++i) {
    if (!assignment_at(tokens, i) || !ident_at(tokens, i + 2, "new") ||
        !ident_at(tokens, i + 3, "Set")) {
      continue;
    }
    const std::string name(tokens.items[i].text);
    if (VarInfo* var = find_var(result, name)) {
      var->type.kind = TYPE_SET;
      if (trace) say(trace, CLR_GREEN "[ANALYZER4] SET DETECTE : %s\n" CLR_RESET, name.c_str());
    }
  }
}

// x = new Map   -> kind 14; key and value kinds are left to pass 5
void detect_map_usage(AnalysisResult& result, const TokenList& tokens, const Pass4Trace& trace) {
  const int count = tokens.count();
  for (int i = 0; i < count - 4; ++i) {
    if (!assignment_at(tokens, i) || !ident_at(tokens, i + 2, "new") ||
        !ident_at(tokens, i + 3, "Map")) {
      continue;
    }
    const std::string name(tokens.items[i].text);
    if (VarInfo* var = find_var(result, name)) {
      var->type.kind = TYPE_MAP;
      if (trace) say(trace, CLR_GREEN "[ANALYZER4] MAP DETECTEE : %s\n" CLR_RESET, name.c_str());
    }
  }
}

// x = await Promise . all   -> kind 7, element_kind 0 (texts only, kinds not tested)
void detect_promise_all(AnalysisResult& result, const TokenList& tokens, const Pass4Trace& trace) {
  const int count = tokens.count();
  for (int i = 0; i < count - 6; ++i) {
    if (!assignment_at(tokens, i) || !text_at(tokens, i + 2, "await") ||
        !text_at(tokens, i + 3, "Promise") || !kind_at(tokens, i + 4, TK_DOT) ||
        !text_at(tokens, i + 5, "all")) {
      continue;
    }
    const std::string name(tokens.items[i].text);
    if (VarInfo* var = find_var(result, name)) {
      var->type.kind = TYPE_ARRAY;
      var->type.element_kind = TYPE_NONE;
      if (trace) say(trace, CLR_GREEN "[ANALYZER4] PROMISE.ALL DETECTE : %s\n" CLR_RESET, name.c_str());
    }
  }
}

// x = await Promise . race   -> kind 0: the winner's type is not known
void detect_promise_race(AnalysisResult& result, const TokenList& tokens, const Pass4Trace& trace) {
  const int count = tokens.count();
  for (int i = 0; i < count - 6; ++i) {
    if (!assignment_at(tokens, i) || !text_at(tokens, i + 2, "await") ||
        !text_at(tokens, i + 3, "Promise") || !kind_at(tokens, i + 4, TK_DOT) ||
        !text_at(tokens, i + 5, "race")) {
      continue;
    }
    const std::string name(tokens.items[i].text);
    if (VarInfo* var = find_var(result, name)) {
      var->type.kind = TYPE_NONE;
      if (trace) say(trace, CLR_GREEN "[ANALYZER4] PROMISE.RACE DETECTE : %s\n" CLR_RESET, name.c_str());
    }
  }
}

// r . push ( p   with some variable p of kind 13   -> array r gets element_kind 13
// Relies on kind 13 set earlier (detect_fetch_calls or pass 3); detect_async_iife
// runs after this, so its promises are not seen here.
void detect_results_promises(AnalysisResult& result, const TokenList& tokens, const Pass4Trace& trace) {
  const int count = tokens.count();
  for (int i = 0; i < count - 4; ++i) {
    if (!kind_at(tokens, i, TK_IDENTIFIER) || !kind_at(tokens, i + 1, TK_DOT) ||
        !text_at(tokens, i + 2, "push") || !kind_at(tokens, i + 3, TK_LPAREN) ||
        !kind_at(tokens, i + 4, TK_IDENTIFIER)) {
      continue;
    }
    const std::string pushed(tokens.items[i + 4].text);
    bool pushes_promise = false;
    for (const VarInfo& var : result.vars) {
      if (var.name == pushed && var.type.kind == TYPE_PROMISE) {
        pushes_promise = true;
        break;
      }
    }
    if (!pushes_promise) continue;
    const std::string array_name(tokens.items[i].text);
    if (ArrayInfo* array = find_array(result, array_name)) array->element_kind = TYPE_PROMISE;
    if (trace) {
      say(trace, CLR_GREEN "[ANALYZER4] ARRAY BINDING %s -> Promise[]\n" CLR_RESET, array_name.c_str());
    }
  }
}

// name = ... . delete|has ...   on the line of the arrow's first `name =`   -> return kind 3
void detect_delete_return_type(AnalysisResult& result, const TokenList& tokens, const Pass4Trace& trace) {
  const int count = tokens.count();
  for (ArrowInfo& arrow : result.arrows) {
    int j = 0;
    while (j < count - 4 &&
           !(ident_at(tokens, j, arrow.name) && kind_at(tokens, j + 1, TK_ASSIGN))) {
      ++j;
    }
    if (j >= count - 4) continue;
    const int line = tokens.items[j].line;
    for (int k = j + 2; k < count - 2 && tokens.items[k].line == line; ++k) {
      if (kind_at(tokens, k, TK_DOT) &&
          (ident_at(tokens, k + 1, "delete") || ident_at(tokens, k + 1, "has"))) {
        arrow.return_type.kind = TYPE_BOOLEAN;
        if (trace) {
          say(trace, CLR_GREEN "[ANALYZER4] %s -> BOOLEAN (.delete/.has)\n" CLR_RESET, arrow.name.c_str());
        }
        break;
      }
    }
  }
}

// x = ( async ... ) (   -> kind 13
void detect_async_iife(AnalysisResult& result, const TokenList& tokens, const Pass4Trace& trace) {
  const int count = tokens.count();
  if (count <= 5) return;
  for (int i = 1; i < count - 4; ++i) {
    if (!kind_at(tokens, i - 1, TK_IDENTIFIER) || !kind_at(tokens, i, TK_ASSIGN) ||
        !kind_at(tokens, i + 1, TK_LPAREN) || !kind_at(tokens, i + 2, TK_ASYNC)) {
      continue;
    }
    // The `(` at i+1 is already open.
    int depth = 1;
    int close = -1;
    for (int k = i + 2; k < count; ++k) {
      if (kind_at(tokens, k, TK_LPAREN)) ++depth;
      if (kind_at(tokens, k, TK_RPAREN)) --depth;
      if (depth == 0) {
        close = k;
        break;
      }
    }
    if (close < 0 || close + 1 >= count || !kind_at(tokens, close + 1, TK_LPAREN)) continue;
    const std::string name(tokens.items[i - 1].text);
    if (VarInfo* var = find_var(result, name)) {
      var->type.kind = TYPE_PROMISE;
      if (trace) {
        say(trace, CLR_GREEN "[ANALYZER4] %s -> Promise<unknown> (Async IIFE)\n" CLR_RESET, name.c_str());
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Access and string-method detectors

// a . b   -> report only
void detect_property_access(AnalysisResult&, const TokenList& tokens, const Pass4Trace& trace) {
  if (!trace) return;  // it only reports
  const int count = tokens.count();
  for (int i = 0; i < count - 2; ++i) {
    if (kind_at(tokens, i, TK_IDENTIFIER) && kind_at(tokens, i + 1, TK_DOT) &&
        kind_at(tokens, i + 2, TK_IDENTIFIER)) {
      say(trace, CLR_GREEN "[ANALYZER4] PROPERTY : %s.%s\n" CLR_RESET, std::string(tokens.items[i].text).c_str(),
                  std::string(tokens.items[i + 2].text).c_str());
    }
  }
}

// x = ... ?. ...   (same line, before `;`)   -> first untyped x gets kind 8
void detect_optional_chaining(AnalysisResult& result, const TokenList& tokens, const Pass4Trace& trace) {
  const int count = tokens.count();
  for (int i = 0; i < count - 3; ++i) {
    if (!assignment_at(tokens, i)) continue;
    const int line = tokens.items[i].line;
    for (int k = i + 2; k < count && !kind_at(tokens, k, TK_SEMICOLON) && tokens.items[k].line == line;
         ++k) {
      if (!kind_at(tokens, k, TK_OPTIONAL_CHAIN)) continue;
      const std::string name(tokens.items[i].text);
      for (VarInfo& var : result.vars) {
        if (var.name == name && var.type.kind == TYPE_NONE) {
          var.type.kind = TYPE_UNKNOWN;
          break;
        }
      }
      if (trace) say(trace, CLR_GREEN "[ANALYZER4] OPTIONAL CHAINING : %s\n" CLR_RESET, name.c_str());
      break;
    }
  }
}

// x = ... ?? LITERAL   (same line, before `;`)   -> first untyped x gets the literal's kind
void detect_nullish_coalescing(AnalysisResult& result, const TokenList& tokens, const Pass4Trace& trace) {
  const int count = tokens.count();
  for (int i = 0; i < count - 4; ++i) {
    if (!assignment_at(tokens, i)) continue;
    const int line = tokens.items[i].line;
    for (int k = i + 2;
         k + 1 < count && !kind_at(tokens, k, TK_SEMICOLON) && tokens.items[k].line == line; ++k) {
      if (!kind_at(tokens, k, TK_NULLISH)) continue;
      const int literal = infer_literal_type(&tokens.items[k + 1]);
      if (literal != TYPE_NONE) {
        const std::string name(tokens.items[i].text);
        for (VarInfo& var : result.vars) {
          if (var.name == name && var.type.kind == TYPE_NONE) {
            var.type.kind = static_cast<TypeKind>(literal);
            break;
          }
        }
        if (trace) say(trace, CLR_GREEN "[ANALYZER4] NULLISH FALLBACK : %s\n" CLR_RESET, name.c_str());
      }
      break;
    }
  }
}

// s . trim|toUpperCase|toLowerCase|substring|charAt   -> every variable s gets kind 2
void detect_string_methods(AnalysisResult& result, const TokenList& tokens, const Pass4Trace& trace) {
  const int count = tokens.count();
  for (int i = 0; i < count - 4; ++i) {
    if (!kind_at(tokens, i, TK_IDENTIFIER) || !kind_at(tokens, i + 1, TK_DOT) ||
        !kind_at(tokens, i + 2, TK_IDENTIFIER)) {
      continue;
    }
    const std::string method(tokens.items[i + 2].text);
    if (!in_words(method, {"trim", "toUpperCase", "toLowerCase", "substring", "charAt"})) continue;
    const std::string name(tokens.items[i].text);
    for (VarInfo& var : result.vars) {
      if (var.name != name) continue;
      var.type.kind = TYPE_STRING;
      if (trace) {
        say(trace, CLR_GREEN "[ANALYZER4] STRING METHOD : %s.%s()\n" CLR_RESET, name.c_str(), method.c_str());
        say(trace, CLR_GREEN "[ANALYZER4] %s -> STRING\n" CLR_RESET, name.c_str());
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Object-array and returned-object detectors

// tasks . push ... { key : ... }   -> registers the task shape once per file
void detect_array_object_push(AnalysisResult& result, const TokenList& tokens, const Pass4Trace& trace) {
  const int count = tokens.count();
  for (int i = 0; i < count - 4; ++i) {
    if (!ident_at(tokens, i, "tasks") || !kind_at(tokens, i + 1, TK_DOT) ||
        !ident_at(tokens, i + 2, "push")) {
      continue;
    }
    if (trace) say(trace, CLR_GREEN "[ANALYZER4] ARRAY PUSH : tasks\n" CLR_RESET);
    int depth = 0;
    bool in_literal = false;
    for (int k = i; k < count; ++k) {
      if (kind_at(tokens, k, TK_LBRACE)) {
        if (trace) say(trace, CLR_GREEN "[ANALYZER4] TASK OBJECT DETECTE\n" CLR_RESET);
        if (result.array_objects.empty()) {
          // The shape is fixed: the literal's own keys are only reported.
          ShapeInfo shape;
          shape.name = "tasks";
          shape.fields.push_back(ShapeField{"id", TYPE_STRING});
          shape.fields.push_back(ShapeField{"url", TYPE_STRING});
          result.array_objects.push_back(std::move(shape));
          if (trace) say(trace, CLR_GREEN "[ANALYZER4] ARRAY OBJECT ENREGISTRE\n" CLR_RESET);
        }
        ++depth;
        in_literal = true;
        continue;
      }
      if (!in_literal) continue;
      if (kind_at(tokens, k, TK_RBRACE)) {
        if (--depth == 0) break;
      } else if (kind_at(tokens, k, TK_IDENTIFIER) && k + 1 < count && kind_at(tokens, k + 1, TK_COLON)) {
        if (trace) say(trace, CLR_CYAN "[ANALYZER4] FIELD : %s\n" CLR_RESET, std::string(tokens.items[k].text).c_str());
      }
    }
  }
}

// for ( const v   with a "tasks" shape registered   -> object record v with the shape's fields
// Relies on detect_array_object_push having run.
void detect_for_of_array_objects(AnalysisResult& result, const TokenList& tokens, const Pass4Trace& trace) {
  const int count = tokens.count();
  for (int i = 0; i < count - 6; ++i) {
    if (!kind_at(tokens, i, TK_FOR) || !kind_at(tokens, i + 1, TK_LPAREN) ||
        !kind_at(tokens, i + 2, TK_CONST) || !kind_at(tokens, i + 3, TK_IDENTIFIER)) {
      continue;
    }
    const ShapeInfo* shape = nullptr;
    for (const ShapeInfo& candidate : result.array_objects) {
      if (candidate.name == "tasks") {
        shape = &candidate;
        break;
      }
    }
    if (shape == nullptr) continue;
    const std::string name(tokens.items[i + 3].text);
    if (trace) say(trace, CLR_GREEN "[ANALYZER4] FOR-OF DETECTE : %s\n" CLR_RESET, name.c_str());
    ObjectInfo object;
    object.name = name;
    for (const ShapeField& field : shape->fields) object.fields->emplace_back(field.name, field.kind);
    result.objects.push_back(std::move(object));
    if (trace) say(trace, CLR_GREEN "[ANALYZER4] OBJECT PROPAGATE : %s\n" CLR_RESET, name.c_str());
  }
}

// for await ... line   (within 20 tokens)   -> every variable "line" gets kind 2
void detect_readline_lines(AnalysisResult& result, const TokenList& tokens, const Pass4Trace& trace) {
  const int count = tokens.count();
  for (int i = 0; i < count - 8; ++i) {
    if (!kind_at(tokens, i, TK_FOR) || !ident_at(tokens, i + 1, "await")) continue;
    for (int k = i; k <= i + 19 && k < count; ++k) {
      if (!ident_at(tokens, k, "line")) continue;
      if (trace) {
        say(trace, CLR_GREEN "[ANALYZER4] READLINE LINE DETECTE : %s\n" CLR_RESET, std::string(tokens.items[k].text).c_str());
      }
      for (VarInfo& var : result.vars) {
        if (var.name != "line") continue;
        var.type.kind = TYPE_STRING;
        if (trace) say(trace, CLR_GREEN "[ANALYZER4] LINE -> STRING\n" CLR_RESET);
      }
      break;
    }
  }
}

// body's last "return NAME" with an object record NAME that has fields
//   -> an open return type (0 or 5) becomes kind 6 with the object's flat fields
void detect_return_object_variable(AnalysisResult& result, const Pass4Trace& trace) {
  constexpr std::string_view kReturn = "return ";
  constexpr size_t kMaxName = 63;
  for (FuncInfo& func : result.funcs) {
    if (!func.body || (func.return_type.kind != TYPE_NONE && func.return_type.kind != TYPE_VOID)) continue;
    const std::string body(*func.body);
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
    const ObjectInfo* object = nullptr;
    for (const ObjectInfo& candidate : result.objects) {
      if (candidate.name == name && candidate.field_count() > 0) {
        object = &candidate;
        break;
      }
    }
    if (object == nullptr) continue;
    func.return_type.kind = TYPE_OBJECT;
    func.return_type.fields.clear();
    for (const ObjectField& field : *object->fields) {
      func.return_type.fields.push_back(TypeField{field.name, field.kind});
    }
    if (trace) {
      say(trace, CLR_GREEN "[ANALYZER4] RETURN OBJECT DETECTE : %s -> %s (%d champs)\n" CLR_RESET,
                  func.name.c_str(), name.c_str(), object->field_count());
    }
  }
}

// ---------------------------------------------------------------------------
// Parameter usage inference

namespace {

bool is_param_string_method(std::string_view name) {
  return in_words(name, {"trim", "toUpperCase", "toLowerCase", "split", "replace"});
}

bool is_fs_call(std::string_view name) {
  return in_words(name, {"createReadStream", "createWriteStream", "mkdir", "readFile", "writeFile"});
}

// Applies every rule at every token to one parameter. This is the reference
// behaviour (one whole-list scan per parameter); a faster version must give
// the same kinds and the same trace lines in the same order.
void infer_parameter_from_usage(TypeInfo& type, const std::string& param, const TokenList& tokens,
                                const Pass4Trace& trace) {
  const int count = tokens.count();
  const char* p = param.c_str();
  for (int k = 0; k < count; ++k) {
    const Token& token = tokens.items[k];
    const bool is_param = token.kind == TK_IDENTIFIER && token.text == param;
    // p . trim|toUpperCase|toLowerCase|split|replace   -> 2
    if (k + 2 < count && is_param && kind_at(tokens, k + 1, TK_DOT) &&
        kind_at(tokens, k + 2, TK_IDENTIFIER) && is_param_string_method(tokens.items[k + 2].text)) {
      type.kind = TYPE_STRING;
      if (trace) say(trace, CLR_GREEN "[ANALYZER4] PARAM %s -> STRING (METHOD)\n" CLR_RESET, p);
    }
    // createReadStream|createWriteStream|mkdir|readFile|writeFile ( p   -> 2
    if (k + 2 < count && token.kind == TK_IDENTIFIER && is_fs_call(token.text) &&
        kind_at(tokens, k + 1, TK_LPAREN) && ident_at(tokens, k + 2, param)) {
      type.kind = TYPE_STRING;
      if (trace) say(trace, CLR_GREEN "[ANALYZER4] PARAM %s -> STRING (FS)\n" CLR_RESET, p);
    }
    // a string or template whose text holds both p and "${"   -> 2
    if (token.kind == TK_STRING && token.text.find(param) != std::string::npos &&
        token.text.find("${") != std::string::npos) {
      type.kind = TYPE_STRING;
      if (trace) say(trace, CLR_GREEN "[ANALYZER4] PARAM %s -> STRING (TEMPLATE)\n" CLR_RESET, p);
    }
    // String evidence wins: once the kind is 2 the comparisons no longer apply.
    if (type.kind == TYPE_STRING) continue;
    // p < > <= >=   -> 1
    if (k + 1 < count && is_param && is_relational(tokens.items[k + 1].kind)) {
      type.kind = TYPE_NUMBER;
      if (trace) say(trace, CLR_GREEN "[ANALYZER4] PARAM %s -> NUMBER (COMPARE RIGHT)\n" CLR_RESET, p);
    }
    // < > <= >= p   -> 1
    if (k > 0 && is_param && is_relational(tokens.items[k - 1].kind)) {
      type.kind = TYPE_NUMBER;
      if (trace) say(trace, CLR_GREEN "[ANALYZER4] PARAM %s -> NUMBER (COMPARE LEFT)\n" CLR_RESET, p);
    }
  }
}

}  // namespace

void detect_parameter_usage_inference(AnalysisResult& result, const TokenList& tokens, const Pass4Trace& trace) {
  if (trace) say(trace, CLR_CYAN "[ANALYZER4] PARAMETER INFERENCE START\n" CLR_RESET);
  for (FuncInfo& func : result.funcs) {
    // A record with fewer types than names leaves the extra names untyped.
    const int params = std::min(func.param_count(), static_cast<int>(func.param_types.size()));
    for (int j = 0; j < params; ++j) {
      const std::string& param = func.param_names[j];
      TypeInfo& type = func.param_types[j];
      if (type.kind == TYPE_UNION) continue;
      // Typed by its name alone; the tokens are not consulted.
      if (param.find("concurrencyLimit") != std::string::npos) {
        type.kind = TYPE_NUMBER;
        if (trace) say(trace, CLR_GREEN "[ANALYZER4] concurrencyLimit -> NUMBER\n" CLR_RESET);
        continue;
      }
      infer_parameter_from_usage(type, param, tokens, trace);
    }
  }
  if (!trace) return;
  for (const FuncInfo& func : result.funcs) {
    if (func.name != "batchProcessImageDownloads") continue;
    auto kind_of = [&func](int j) {
      return j < func.param_count() && j < static_cast<int>(func.param_types.size()) ? func.param_types[j].kind
                                                                                     : -1;
    };
    say(trace, CLR_YELLOW "[DEBUG PARAMS] %s -> %d %d %d\n" CLR_RESET, func.name.c_str(), kind_of(0), kind_of(1),
                kind_of(2));
  }
}

// ---------------------------------------------------------------------------
// Driver

void analyzer4_run(AnalysisResult& result, const TokenList& tokens, const Pass4Trace& trace) {
  // warning: order matters; a later detector overwrites an earlier one's kind
  // (detect_string_methods after detect_fetch_calls), and
  // detect_results_promises reads the kind 13 that detect_fetch_calls wrote.
  pass4_reference::detect_read_stream(result, tokens, trace);
  pass4_reference::detect_readline_interface(result, tokens, trace);
  pass4_reference::detect_fetch_calls(result, tokens, trace);
  pass4_reference::detect_set_usage(result, tokens, trace);
  pass4_reference::detect_map_usage(result, tokens, trace);
  pass4_reference::detect_promise_all(result, tokens, trace);
  pass4_reference::detect_promise_race(result, tokens, trace);
  pass4_reference::detect_property_access(result, tokens, trace);
  pass4_reference::detect_optional_chaining(result, tokens, trace);
  pass4_reference::detect_nullish_coalescing(result, tokens, trace);
  pass4_reference::detect_array_object_push(result, tokens, trace);
  pass4_reference::detect_for_of_array_objects(result, tokens, trace);
  pass4_reference::detect_readline_lines(result, tokens, trace);
  pass4_reference::detect_string_methods(result, tokens, trace);
  pass4_reference::detect_results_promises(result, tokens, trace);
  pass4_reference::detect_delete_return_type(result, tokens, trace);
  pass4_reference::detect_async_iife(result, tokens, trace);
  pass4_reference::detect_parameter_usage_inference(result, tokens, trace);
  pass4_reference::detect_return_object_variable(result, trace);
}

// ---------------------------------------------------------------------------
// Pass 5

namespace {

const VarInfo* first_var(const AnalysisResult& result, const std::string& name) {
  for (const VarInfo& var : result.vars) {
    if (var.name == name) return &var;
  }
  return nullptr;
}

const ArrowInfo* first_arrow(const AnalysisResult& result, const std::string& name) {
  for (const ArrowInfo& arrow : result.arrows) {
    if (arrow.name == name) return &arrow;
  }
  return nullptr;
}

}  // namespace

// LITERAL -> its kind; VAR -> the first variable's kind (0 included);
// ARROW -> the arrow's return kind; anything else -> 0
int resolve_token_type(const AnalysisResult& result, const Token* token) {
  if (token == nullptr) return TYPE_NONE;
  const int literal = infer_literal_type(token);
  if (literal != TYPE_NONE || token->kind != TK_IDENTIFIER) return literal;
  if (const VarInfo* var = first_var(result, std::string(token->text))) return var->type.kind;
  if (const ArrowInfo* arrow = first_arrow(result, std::string(token->text))) return arrow->return_type.kind;
  return TYPE_NONE;
}

// MAP . set ( KEY , VALUE   -> key_kind, value_kind of a kind-14 variable
// SET . add ( ELEMENT       -> element_kind of a kind-12 variable
// Relies on pass 4 having given the collections their kinds 14 and 12; the
// last resolvable call in the file decides.
void infer_collections_usage(AnalysisResult& result, const TokenList& tokens) {
  const int count = tokens.count();
  for (int i = 0; i < count - 5; ++i) {
    const Token& receiver = tokens.items[i];
    const Token& method = tokens.items[i + 2];
    if (receiver.kind != TK_IDENTIFIER || tokens.items[i + 1].kind != TK_DOT ||
        method.kind != TK_IDENTIFIER || tokens.items[i + 3].kind != TK_LPAREN) {
      continue;
    }
    VarInfo* var = find_var(result, receiver.text);
    if (var == nullptr) continue;
    if (var->type.kind == TYPE_MAP && method.text == "set") {
      const int key = pass4_reference::resolve_token_type(result, &tokens.items[i + 4]);
      if (key != TYPE_NONE) var->type.key_kind = key;
      if (i + 6 < count && tokens.items[i + 5].kind == TK_COMMA) {
        const int value = pass4_reference::resolve_token_type(result, &tokens.items[i + 6]);
        if (value != TYPE_NONE) var->type.value_kind = value;
      }
    } else if (var->type.kind == TYPE_SET && method.text == "add") {
      const int element = pass4_reference::resolve_token_type(result, &tokens.items[i + 4]);
      if (element != TYPE_NONE) var->type.element_kind = element;
    }
  }
}

void analyzer5_run(AnalysisResult& result, const TokenList& tokens) {
  pass4_reference::infer_collections_usage(result, tokens);
}

}  // namespace pass4_reference
