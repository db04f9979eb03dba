// Analysis pass 6: Node.js APIs. Types the results of `require` calls, Node
// module functions and `process` properties, and the parameters of server
// and stream handlers.
#include "analysis/analyzeR6.h"

#include <string>
#include <unordered_map>
#include <vector>

#include "analysis/token_helpers.h"

// Node.js API results, searched from the top; the first match wins. Bare-call
// rows have the empty module, and the all-null row ends the table.
const NodeRule NODE_RULES[] = {
    {"Buffer", "from", "Buffer"},
    {"Buffer", "alloc", "Buffer"},
    {"Buffer", "allocUnsafe", "Buffer"},
    {"Buffer", "concat", "Buffer"},
    {"path", "join", "STRING"},
    {"path", "resolve", "STRING"},
    {"path", "basename", "STRING"},
    {"path", "dirname", "STRING"},
    {"path", "extname", "STRING"},
    {"path", "normalize", "STRING"},
    {"path", "relative", "STRING"},
    {"process", "cwd", "STRING"},
    {"process", "uptime", "NUMBER"},
    {"process", "memoryUsage", "NodeJS.MemoryUsage"},
    {"process", "hrtime", "[number, number]"},
    {"crypto", "createHash", "crypto.Hash"},
    {"crypto", "createHmac", "crypto.Hmac"},
    {"crypto", "createCipheriv", "crypto.Cipher"},
    {"crypto", "createDecipheriv", "crypto.Decipher"},
    {"crypto", "randomUUID", "STRING"},
    {"crypto", "randomBytes", "Buffer"},
    {"crypto", "pbkdf2Sync", "Buffer"},
    {"fs", "createReadStream", "fs.ReadStream"},
    {"fs", "createWriteStream", "fs.WriteStream"},
    {"fs", "readFileSync", "Buffer"},
    {"fs", "readFile", "Buffer"},
    {"fs", "readdirSync", "string[]"},
    {"fs", "readdir", "string[]"},
    {"fs", "existsSync", "BOOLEAN"},
    {"fs", "statSync", "fs.Stats"},
    {"fs", "stat", "fs.Stats"},
    {"", "createReadStream", "fs.ReadStream"},
    {"", "createWriteStream", "fs.WriteStream"},
    {"readline", "createInterface", "readline.Interface"},
    {"", "createInterface", "readline.Interface"},
    {"http", "createServer", "http.Server"},
    {"https", "createServer", "https.Server"},
    {"http", "request", "http.ClientRequest"},
    {"https", "request", "http.ClientRequest"},
    {"http", "get", "http.ClientRequest"},
    {"https", "get", "http.ClientRequest"},
    {"child_process", "spawn", "ChildProcess"},
    {"child_process", "exec", "ChildProcess"},
    {"child_process", "execFile", "ChildProcess"},
    {"child_process", "fork", "ChildProcess"},
    {"child_process", "execSync", "Buffer"},
    {"", "spawn", "ChildProcess"},
    {"", "exec", "ChildProcess"},
    {"", "fork", "ChildProcess"},
    {nullptr, nullptr, nullptr},
};

namespace {

// Classes whose construction `new NAME` types the variable with NAME.
constexpr const char* kConstructibleClasses[] = {"EventEmitter", "PassThrough", "Transform",
                                                 "Readable",     "Writable",    "Duplex"};

struct ProcessProperty {
  const char* property;
  const char* type_text;  // a marker or a type text, as in NODE_RULES
};

// Properties read as `process.NAME` (not called).
constexpr ProcessProperty kProcessProperties[] = {
    {"env", "NodeJS.ProcessEnv"}, {"argv", "string[]"},   {"pid", "NUMBER"},
    {"ppid", "NUMBER"},           {"platform", "STRING"}, {"arch", "STRING"},
    {"version", "STRING"},
};

// The type text of a `require` result is cut at this many characters, as
// the tool always has; longer texts are not expected from the rule table.
constexpr size_t kRequireTypeCapacity = 127;

// First row with this module and function; null when none.
const char* find_node_rule(std::string_view module, std::string_view function) {
  for (const NodeRule* rule = NODE_RULES; rule->module != nullptr; ++rule) {
    if (module == rule->module && function == rule->function) return rule->result_type;
  }
  return nullptr;
}

void write_node_type(TypeInfo& type, std::string_view type_text) {
  if (type_text == "STRING") {
    type.kind = TYPE_STRING;
  } else if (type_text == "NUMBER") {
    type.kind = TYPE_NUMBER;
  } else if (type_text == "BOOLEAN") {
    type.kind = TYPE_BOOLEAN;
  } else {
    type.kind = TYPE_NAMED;
    type.type_name = std::string(type_text);
  }
}

void write_param_node_type(FuncInfo& func, int index, std::string_view type_text) {
  if (index < 0 || index >= func.param_count()) return;
  // A record whose type or shape arrays are shorter than its names has nothing
  // to write at that position.
  if (index < static_cast<int>(func.param_types.size())) {
    func.param_types[index].kind = TYPE_NAMED;
    func.param_types[index].type_name = std::string(type_text);
  }
  // The emitter prints a non-empty shape in place of the type.
  if (index < kMaxParamShapes) func.param_shapes.clear(static_cast<std::size_t>(index));
}

// The type a declaration's value gives its variable, from the value's first
// token at p; null when the value matches a form that finds no type, or none.
// `require_text` holds the formatted require type when that form matches.
const char* node_value_type(const TokenList& tokens, int p, std::string& require_text) {
  const int count = tokens.count();

  // require ( 'MOD'  -> named "typeof import('MOD')"
  if (p + 3 < count && is_identifier(tokens, p, "require") && is_kind(tokens, p + 1, TK_LPAREN) &&
      is_kind(tokens, p + 2, TK_STRING)) {
    require_text = "typeof import('" + std::string(tokens.items[p + 2].text) + "')";
    if (require_text.size() > kRequireTypeCapacity) require_text.resize(kRequireTypeCapacity);
    return require_text.c_str();
  }

  // new CLASS  -> named CLASS for the constructible classes; `new` followed by
  // anything but an identifier falls through to the later forms
  if (is_identifier(tokens, p, "new") && p + 1 < count && is_kind(tokens, p + 1, TK_IDENTIFIER)) {
    const std::string_view class_name = tokens.items[p + 1].text;
    for (const char* constructible : kConstructibleClasses) {
      if (class_name == constructible) return constructible;
    }
    return nullptr;
  }

  // process . PROP  (not followed by `(`)  -> the process property table
  if (p + 2 < count && is_identifier(tokens, p, "process") && is_kind(tokens, p + 1, TK_DOT) &&
      is_kind(tokens, p + 2, TK_IDENTIFIER) && !(p + 3 < count && is_kind(tokens, p + 3, TK_LPAREN))) {
    for (const ProcessProperty& property : kProcessProperties) {
      if (tokens.items[p + 2].text == property.property) return property.type_text;
    }
    return nullptr;
  }

  // MOD . FUNC (  -> the first NODE_RULES row for MOD and FUNC
  if (p + 3 < count && is_kind(tokens, p, TK_IDENTIFIER) && is_kind(tokens, p + 1, TK_DOT) &&
      is_kind(tokens, p + 2, TK_IDENTIFIER) && is_kind(tokens, p + 3, TK_LPAREN)) {
    return find_node_rule(tokens.items[p].text, tokens.items[p + 2].text);
  }

  // FUNC (  -> the first bare-call row for FUNC
  if (p + 1 < count && is_kind(tokens, p, TK_IDENTIFIER) && is_kind(tokens, p + 1, TK_LPAREN)) {
    return find_node_rule("", tokens.items[p].text);
  }
  return nullptr;
}

}  // namespace

void set_func_param_node_type(AnalysisResult& result, std::string_view function_name, int index,
                              std::string_view type_text) {
  FuncInfo* func = find_func(result, function_name);
  if (func != nullptr) write_param_node_type(*func, index, type_text);
}

// KEYWORD NAME = [await] VALUE  -> every variable NAME gets the value's Node type
void detect_node_ecosystem(AnalysisResult& result, const TokenList& tokens) {
  // Each match types every variable of the name alike, so the writes are
  // gathered per name and applied once at the end: a minified bundle declares
  // thousands of variables `e`, and typing all of them at every `var e =
  // require(...)` would be quadratic. The end state is the one the writes in
  // order give: the kind of the last write, and the text of the last named
  // write (a marker leaves type_name as it was).
  struct Writes {
    int kind = TYPE_NONE;
    bool named = false;
    std::string type_name;
  };
  std::unordered_map<std::string_view, Writes> writes_by_name;

  const int count = tokens.count();
  std::string require_text;
  for (int i = 0; i < count - 4; ++i) {
    if (!is_declaration_keyword(tokens.items[i].kind) || !is_kind(tokens, i + 1, TK_IDENTIFIER) ||
        !is_kind(tokens, i + 2, TK_ASSIGN)) {
      continue;
    }
    int p = i + 3;
    if (p < count && is_identifier(tokens, p, "await")) ++p;
    if (p >= count) continue;

    const char* type_text = node_value_type(tokens, p, require_text);
    if (type_text == nullptr) continue;
    // Every variable NAME takes type_text, deferred.
    TypeInfo written;
    write_node_type(written, type_text);
    Writes& writes = writes_by_name[tokens.items[i + 1].text];
    writes.kind = written.kind;
    if (written.kind == TYPE_NAMED) {
      writes.named = true;
      writes.type_name = std::move(written.type_name);
    }
  }

  if (writes_by_name.empty()) return;
  for (VarInfo& var : result.vars) {
    const auto found = writes_by_name.find(var.name);
    if (found == writes_by_name.end()) continue;
    var.type.kind = static_cast<TypeKind>(found->second.kind);
    if (found->second.named) var.type.type_name = found->second.type_name;
  }
}

// http|https . createServer ( HANDLER    -> HANDLER(req: http.IncomingMessage, res: http.ServerResponse)
// . on ( 'error'|'data' , HANDLER         -> HANDLER(err: Error) / HANDLER(chunk: Buffer)
void detect_node_callbacks(AnalysisResult& result, const TokenList& tokens) {
  // First function of each name, as find_func would give it; the pass creates
  // no function.
  std::unordered_map<std::string_view, int> first_func;
  for (int f = 0; f < static_cast<int>(result.funcs.size()); ++f) {
    first_func.emplace(result.funcs[f].name, f);
  }
  auto set_param = [&](std::string_view handler, int index, std::string_view type_text) {
    const auto found = first_func.find(handler);
    if (found != first_func.end()) write_param_node_type(result.funcs[found->second], index, type_text);
  };

  const int count = tokens.count();
  for (int i = 0; i < count - 5; ++i) {
    if ((is_identifier(tokens, i, "http") || is_identifier(tokens, i, "https")) && is_kind(tokens, i + 1, TK_DOT) &&
        is_identifier(tokens, i + 2, "createServer") && is_kind(tokens, i + 3, TK_LPAREN) &&
        is_kind(tokens, i + 4, TK_IDENTIFIER)) {
      const std::string_view handler = tokens.items[i + 4].text;
      set_param(handler, 0, "http.IncomingMessage");
      set_param(handler, 1, "http.ServerResponse");
    }

    if (is_kind(tokens, i, TK_DOT) && is_identifier(tokens, i + 1, "on") && is_kind(tokens, i + 2, TK_LPAREN) &&
        is_kind(tokens, i + 3, TK_STRING) && is_kind(tokens, i + 4, TK_COMMA) &&
        is_kind(tokens, i + 5, TK_IDENTIFIER)) {
      const std::string_view event = tokens.items[i + 3].text;
      const std::string_view handler = tokens.items[i + 5].text;
      if (event == "error") {
        set_param(handler, 0, "Error");
      } else if (event == "data") {
        set_param(handler, 0, "Buffer");
      }
    }
  }
}

void analyzer6_run(AnalysisResult& result, const TokenList& tokens) {
  detect_node_ecosystem(result, tokens);
  detect_node_callbacks(result, tokens);
}
