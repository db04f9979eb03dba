#include "random_program.h"

#include <iterator>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace kvx_test {
namespace {

// Binding names. Every function draws from the same small pool, so nested
// functions, locals and top-level names share names the way real code does;
// some are also globals of the DOM and Node libraries.
const std::vector<std::string> kNames = {
    "value", "item", "cb",     "helper", "data",    "count",  "result",  "index", "h",     "x",
    "total", "list", "options", "handler", "config", "state", "key",     "next",  "entry", "queue",
    "name",  "length", "parent", "status", "close",  "event", "Range",   "Node",  "url",   "size"};

// Property names that are keywords or look like statements to a token scan.
const std::vector<std::string> kKeywordKeys = {
    "import", "export", "default", "class", "function", "new",  "delete", "return", "if",
    "typeof", "static", "get",     "set",   "async",    "await", "yield", "from",   "const"};

const std::vector<std::string> kStrings = {
    "'plain'",          "\"double\"",       "'type: any'",      "\"{ not a block\"", "'import x from y;'",
    "'export default 1'", "'}'",            "'it\\'s'",         "\"/* c */\"",       "'// not a comment'",
    "'a;b'",            "\"function f() {\"", "''",               "'\\n\\t'",          "'(('"};

const std::vector<std::string> kRegexes = {
    "/ab+c/gi", "/[{}]/",           "/\\/\\*(.*?)\\*\\//", "/(?<year>\\d{4})-(?<m>\\d\\d)/u",
    "/a\\/b/",  "/^\\s*import\\s/m", "/[)(]+/y",           "/function\\s*\\(/"};

const std::vector<std::string> kModules = {"'fs'", "'path'", "'events'", "'./local.js'", "'node:util'"};

// Where the code being written stands: which keywords are allowed and which
// names are taken.
struct Context {
  bool in_function = false;
  bool is_async = false;
  bool is_generator = false;
  bool in_loop = false;
  bool in_method = false;    // `this` and `super.x`
  bool derived = false;      // the class has `extends`: `super.x` may be read
  bool arguments_ok = false;  // not in class field initializers
  bool top_level_await = false;
  std::vector<std::string> privates;  // #names of the enclosing class
  std::set<std::string>* taken = nullptr;  // names of the enclosing function
};

struct Expr {
  std::string text;
  bool atomic;  // may stand as an operand without parentheses
};

struct Generator {
  std::mt19937 random;
  bool module = false;
  bool semicolons = true;
  int counter = 0;

  int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); }
  bool chance(int percent) { return below(100) < percent; }
  template <typename T>
  const T& pick(const std::vector<T>& from) { return from[below(static_cast<int>(from.size()))]; }

  std::string end() { return semicolons ? ";" : ""; }
  std::string indent(int level) { return std::string(static_cast<size_t>(level) * 2, ' '); }

  // A name not yet bound in the current function.
  std::string fresh(Context& ctx) {
    for (int tries = 0; tries < 8; ++tries) {
      const std::string& name = pick(kNames);
      if (ctx.taken->insert(name).second) return name;
    }
    std::string name = pick(kNames) + std::to_string(++counter);
    ctx.taken->insert(name);
    return name;
  }

  std::string reference(const Context& ctx) {
    if (!ctx.taken->empty() && chance(70)) {
      auto it = ctx.taken->begin();
      std::advance(it, below(static_cast<int>(ctx.taken->size())));
      return *it;
    }
    return pick(kNames);
  }

  std::string property_key() {
    switch (below(4)) {
      case 0: return pick(kKeywordKeys);
      case 1: return pick(kStrings);
      case 2: return "[" + pick(kStrings) + "]";
      default: return pick(kNames);
    }
  }

  // A member name of a class or object that is not `constructor`.
  std::string member_name() { return chance(30) ? pick(kKeywordKeys) : pick(kNames); }

  Expr operand(int depth, Context& ctx) {
    Expr e = expr(depth, ctx);
    if (!e.atomic) e.text = "(" + e.text + ")";
    return e;
  }

  std::string template_literal(int depth, Context& ctx) {
    std::string text = "`";
    text += chance(50) ? "total: " : "line {\n  ";
    text += "${" + expr(depth + 1, ctx).text + "}";
    if (chance(40)) text += " and ${ { a: 1 }.a }";
    text += chance(50) ? " end`" : "\n}`";
    return text;
  }

  std::string object_literal(int depth, Context& ctx, int level) {
    const int fields = below(4);
    if (fields == 0) return "{}";
    std::string text = "{\n";
    for (int i = 0; i < fields; ++i) {
      text += indent(level + 1);
      switch (below(7)) {
        case 0: text += reference(ctx); break;  // shorthand
        case 1: text += "..." + operand(depth + 1, ctx).text; break;
        case 2: {
          Context inner = function_context(ctx, false, false, true);
          std::set<std::string> taken;
          inner.taken = &taken;
          text += member_name() + "(" + params(depth + 1, inner) + ") " + block(depth + 1, inner, level + 1);
          break;
        }
        case 3: {
          Context inner = function_context(ctx, false, false, true);
          std::set<std::string> taken;
          inner.taken = &taken;
          text += "get " + member_name() + "() " + block(depth + 1, inner, level + 1);
          break;
        }
        case 4: {
          const bool is_async = chance(50);
          Context inner = function_context(ctx, is_async, !is_async, true);
          std::set<std::string> taken;
          inner.taken = &taken;
          text += std::string(is_async ? "async " : "*") + member_name() + "() " + block(depth + 1, inner, level + 1);
          break;
        }
        default: text += property_key() + ": " + expr(depth + 1, ctx).text; break;
      }
      text += (i + 1 < fields || chance(30)) ? ",\n" : "\n";
    }
    return text + indent(level) + "}";
  }

  Context function_context(const Context& outer, bool is_async, bool is_generator, bool regular) {
    Context inner;
    inner.in_function = true;
    inner.is_async = is_async;
    inner.is_generator = is_generator;
    inner.in_method = outer.in_method;
    inner.derived = outer.derived;
    inner.arguments_ok = regular ? true : outer.arguments_ok;
    inner.privates = outer.privates;
    return inner;
  }

  std::string arrow(int depth, Context& ctx, int level) {
    const bool is_async = chance(25);
    Context inner = function_context(ctx, is_async, false, false);
    std::set<std::string> taken;
    inner.taken = &taken;
    std::string text = is_async ? "async " : "";
    if (chance(30)) {
      text += fresh(inner);
    } else {
      text += "(" + params(depth + 1, inner) + ")";
    }
    text += " => ";
    if (chance(50)) {
      Expr body = expr(depth + 1, inner);
      text += body.text.front() == '{' ? "(" + body.text + ")" : body.text;
    } else {
      text += block(depth + 1, inner, level);
    }
    return text;
  }

  std::string function_expression(int depth, Context& ctx, int level) {
    const bool is_async = chance(25);
    const bool is_generator = chance(20);
    Context inner = function_context(ctx, is_async, is_generator, true);
    inner.in_method = false;
    std::set<std::string> taken;
    inner.taken = &taken;
    std::string text = is_async ? "async function" : "function";
    if (is_generator) text += "*";
    if (chance(40)) text += " " + pick(kNames) + std::to_string(++counter);
    text += " (" + params(depth + 1, inner) + ") ";
    return text + block(depth + 1, inner, level);
  }

  Expr expr(int depth, Context& ctx) {
    const int choice = depth > 2 ? below(5) : below(24);
    switch (choice) {
      case 0: return {pick(std::vector<std::string>{"0", "42", "3.14", "0x1F", "1e3", "1_000", "0o17", "10n"}), true};
      case 1: return {pick(kStrings), true};
      case 2: return {reference(ctx), true};
      case 3: return {pick(std::vector<std::string>{"true", "false", "null", "undefined"}), true};
      case 4: return {"[" + (chance(50) ? reference(ctx) + ", " + pick(kStrings) : "") + "]", true};
      case 5: return {template_literal(depth, ctx), true};
      case 6: return {pick(kRegexes), true};
      case 7: return {object_literal(depth, ctx, depth), true};
      case 8: return {arrow(depth, ctx, depth), false};
      case 9: return {function_expression(depth, ctx, depth), false};
      case 10: {
        // Optional chains only where a value is read.
        std::string base = reference(ctx);
        switch (below(4)) {
          case 0: return {base + "?." + member_name(), true};
          case 1: return {base + "?.[" + expr(depth + 1, ctx).text + "]", true};
          case 2: return {base + "?.(" + expr(depth + 1, ctx).text + ")", true};
          default: return {base + "?." + pick(kNames) + "?.length", true};
        }
      }
      case 11: return {reference(ctx) + "(" + arguments(depth, ctx) + ")", true};
      case 12: return {reference(ctx) + "." + member_name() + "(" + arguments(depth, ctx) + ")", true};
      case 13: {
        const std::string ops[] = {"+", "-", "*", "??", "||", "&&", "===", "!==", "<", ">=", "instanceof", "in", "**"};
        return {operand(depth + 1, ctx).text + " " + ops[below(13)] + " " + operand(depth + 1, ctx).text, false};
      }
      case 14:
        return {operand(depth + 1, ctx).text + " ? " + expr(depth + 1, ctx).text + " : " + expr(depth + 1, ctx).text,
                false};
      case 15:
        return {pick(std::vector<std::string>{"new Map()", "new Set([1, 2])", "new Date()", "new Error('x')",
                                              "new URL('http://a.b/')", "new Map([['k', 1]])"}),
                true};
      case 16: return {"typeof " + operand(depth + 1, ctx).text, false};
      case 17:
        if (ctx.is_async || ctx.top_level_await) return {"await " + operand(depth + 1, ctx).text, false};
        return {"void 0", false};
      case 18:
        if (ctx.is_generator) return {"yield " + operand(depth + 1, ctx).text, false};
        return {"!" + operand(depth + 1, ctx).text, false};
      case 19:
        if (ctx.in_method) {
          if (!ctx.privates.empty() && chance(50)) return {"this." + pick(ctx.privates), true};
          if (ctx.derived && chance(40)) return {"super." + member_name(), true};
          return {"this." + member_name(), true};
        }
        return {module ? "import.meta.url" : "require(" + pick(kModules) + ")", true};
      case 20: return {"import(" + pick(kModules) + ")", true};
      case 21: return {"tag`a${" + expr(depth + 1, ctx).text + "}b`", true};
      case 22:
        if (ctx.arguments_ok && ctx.in_function) return {"arguments.length", true};
        return {"[...(" + reference(ctx) + " ?? [])]", true};
      default: {
        Context inner = ctx;
        std::set<std::string> taken;
        inner.taken = &taken;
        return {"class " + (chance(50) ? pick(kNames) + "Kind" : std::string()) + " " +
                    class_body(depth + 1, inner, depth, false),
                false};
      }
    }
  }

  std::string arguments(int depth, Context& ctx) {
    const int count = below(3);
    std::string text;
    for (int i = 0; i < count; ++i) {
      if (i > 0) text += ", ";
      text += chance(15) ? "..." + reference(ctx) : expr(depth + 1, ctx).text;
    }
    return text;
  }

  // A parameter list; default values never use `await`/`yield`, which are
  // not allowed there.
  std::string params(int depth, Context& ctx) {
    Context outer = ctx;
    outer.is_async = false;
    outer.is_generator = false;
    outer.top_level_await = false;
    const int count = below(4);
    std::string text;
    for (int i = 0; i < count; ++i) {
      if (i > 0) text += ", ";
      const int kind = below(8);
      if (kind == 0 && i + 1 == count) {
        text += "..." + fresh(ctx);
      } else if (kind == 1) {
        const std::string a = fresh(ctx);
        const std::string b = fresh(ctx);
        text += "{ " + a + ", " + b + " = " + expr(depth + 2, outer).text + " }" + (chance(50) ? " = {}" : "");
      } else if (kind == 2) {
        const std::string a = fresh(ctx);
        const std::string b = fresh(ctx);
        text += "[" + a + ", , " + b + "]" + (chance(50) ? " = []" : "");
      } else if (kind <= 4) {
        const std::string name = fresh(ctx);
        std::string value;
        switch (below(6)) {
          case 0: value = "true"; break;
          case 1: value = "false"; break;
          case 2: value = pick(kStrings); break;
          case 3: value = "{}"; break;
          case 4: value = ctx.in_method ? "this." + pick(kNames) : "new Map()"; break;
          default: value = text.empty() ? "0" : reference(ctx); break;
        }
        text += name + " = " + value;
      } else {
        text += fresh(ctx);
      }
    }
    return text;
  }

  std::string block(int depth, Context& ctx, int level) {
    std::string text = "{\n";
    const int count = depth > 2 ? below(2) : below(4);
    for (int i = 0; i < count; ++i) text += statement(depth + 1, ctx, level + 1);
    if (ctx.in_function && chance(60)) {
      text += indent(level + 1) + "return" + (chance(80) ? " " + expr(depth + 1, ctx).text : "") + end() + "\n";
    }
    return text + indent(level) + "}";
  }

  std::string function_declaration(int depth, Context& ctx, int level, const std::string& name) {
    const bool is_async = chance(25);
    const bool is_generator = chance(20);
    Context inner = function_context(ctx, is_async, is_generator, true);
    inner.in_method = false;
    std::set<std::string> taken;
    inner.taken = &taken;
    std::string text = is_async ? "async function" : "function";
    if (is_generator) text += "*";
    text += " " + name + "(" + params(depth + 1, inner) + ") ";
    return text + block(depth + 1, inner, level);
  }

  std::string declaration(int depth, Context& ctx) {
    const std::string keyword = pick(std::vector<std::string>{"const", "let", "var"});
    switch (below(5)) {
      case 0: {
        const std::string a = fresh(ctx);
        const std::string b = fresh(ctx);
        return keyword + " { " + a + ", " + pick(kKeywordKeys) + ": " + b + " = 1 } = " + operand(depth + 1, ctx).text;
      }
      case 1: {
        const std::string a = fresh(ctx);
        const std::string b = fresh(ctx);
        return keyword + " [" + a + ", ..." + b + "] = " + operand(depth + 1, ctx).text;
      }
      case 2: {
        if (keyword == "const") return keyword + " " + fresh(ctx) + " = " + expr(depth + 1, ctx).text;
        std::string text = keyword + " " + fresh(ctx);
        if (chance(50)) text += ", " + fresh(ctx) + " = " + expr(depth + 1, ctx).text;
        return text;
      }
      default: {
        const std::string name = fresh(ctx);
        return keyword + " " + name + " = " + expr(depth + 1, ctx).text;
      }
    }
  }

  // An expression statement that cannot be mistaken for a declaration.
  std::string expression_statement(int depth, Context& ctx) {
    std::string text;
    switch (below(6)) {
      case 0: text = reference(ctx) + " = " + expr(depth + 1, ctx).text; break;
      case 1: text = reference(ctx) + "." + member_name() + " " + pick(std::vector<std::string>{"=", "+=", "?\?=", "||="}) +
                     " " + expr(depth + 1, ctx).text;
        break;
      case 2: text = reference(ctx) + "(" + arguments(depth, ctx) + ")"; break;
      case 3: text = reference(ctx) + "++"; break;
      case 4: {
        Context inner = function_context(ctx, false, false, true);
        inner.in_method = false;
        std::set<std::string> taken;
        inner.taken = &taken;
        text = "(function () " + block(depth + 1, inner, 0) + ")()";
        break;
      }
      default: text = "delete " + reference(ctx) + "." + member_name(); break;
    }
    if (!semicolons && (text.front() == '(' || text.front() == '[' || text.front() == '`')) text = ";" + text;
    return text + end();
  }

  std::string statement(int depth, Context& ctx, int level) {
    const std::string pad = indent(level);
    const int choice = depth > 3 ? below(3) : below(16);
    switch (choice) {
      case 0: return pad + declaration(depth, ctx) + end() + "\n";
      case 1: return pad + expression_statement(depth, ctx) + "\n";
      case 2: return pad + pick(std::vector<std::string>{"// note: function x() {", "/* } ( */", "// import y from 'z'",
                                                          "/** @param {string} a */"}) + "\n";
      case 3: {
        std::string text = pad + "if (" + expr(depth + 1, ctx).text + ") " + block(depth + 1, ctx, level);
        if (chance(40)) text += " else " + block(depth + 1, ctx, level);
        return text + "\n";
      }
      case 4: {
        Context loop = ctx;
        loop.in_loop = true;
        const std::string var = fresh(ctx);
        switch (below(4)) {
          case 0: return pad + "for (let " + var + " = 0; " + var + " < 3; " + var + "++) " + loop_body(depth, loop, level) + "\n";
          case 1: return pad + "for (const " + var + " of " + operand(depth + 1, ctx).text + ") " + loop_body(depth, loop, level) + "\n";
          case 2: return pad + "for (const " + var + " in " + operand(depth + 1, ctx).text + ") " + loop_body(depth, loop, level) + "\n";
          default: return pad + "while (" + expr(depth + 1, ctx).text + ") " + loop_body(depth, loop, level) + "\n";
        }
      }
      case 5: {
        std::string text = pad + "switch (" + expr(depth + 1, ctx).text + ") {\n";
        const int cases = 1 + below(3);
        for (int i = 0; i < cases; ++i) {
          text += pad + "  case " + pick(kStrings) + ":\n";
          text += statement(depth + 1, ctx, level + 2);
          text += pad + "    break" + end() + "\n";
        }
        if (chance(60)) text += pad + "  default: " + block(depth + 1, ctx, level + 1) + "\n";
        return text + pad + "}\n";
      }
      case 6: {
        std::string text = pad + "try " + block(depth + 1, ctx, level);
        if (chance(70)) {
          text += " catch (" + fresh(ctx) + ") " + block(depth + 1, ctx, level);
        } else {
          text += " catch " + block(depth + 1, ctx, level);
        }
        if (chance(30)) text += " finally " + block(depth + 1, ctx, level);
        return text + "\n";
      }
      case 7:
      case 8: return pad + function_declaration(depth, ctx, level, fresh(ctx)) + "\n";
      case 9:
        if (ctx.in_function) return pad + "return " + expr(depth + 1, ctx).text + end() + "\n";
        return pad + "throw new Error(" + pick(kStrings) + ")" + end() + "\n";
      case 10:
        if (ctx.in_loop) return pad + pick(std::vector<std::string>{"break", "continue"}) + end() + "\n";
        if (ctx.is_generator) return pad + "yield* " + operand(depth + 1, ctx).text + end() + "\n";
        return pad + declaration(depth, ctx) + end() + "\n";
      case 11: {
        Context inner = ctx;
        std::set<std::string> taken;
        inner.taken = &taken;
        const std::string name = fresh(ctx);
        const std::string heritage = class_heritage();
        return pad + "class " + name + heritage + " " + class_body(depth + 1, inner, level, !heritage.empty()) + "\n";
      }
      case 12: return pad + "if (" + reference(ctx) + ") " + expression_statement(depth, ctx) + "\n";
      default: return pad + declaration(depth, ctx) + end() + "\n";
    }
  }

  std::string loop_body(int depth, Context& ctx, int level) {
    std::string text = "{\n";
    const int count = below(3);
    for (int i = 0; i < count; ++i) text += statement(depth + 1, ctx, level + 1);
    if (chance(40)) text += indent(level + 1) + pick(std::vector<std::string>{"break", "continue"}) + end() + "\n";
    return text + indent(level) + "}";
  }

  std::string class_heritage() {
    if (!chance(40)) return "";
    return " extends " + pick(std::vector<std::string>{"Error", "Map", "Base", "EventEmitter", "Array"});
  }

  // A class body; `derived` when the class has `extends` (then `super.x`
  // is read in methods; `super()` is never needed for validity).
  std::string class_body(int depth, Context& ctx, int level, bool derived) {
    Context members = ctx;
    members.privates.clear();
    const int count = 1 + below(depth > 2 ? 2 : 5);
    std::vector<std::string> lines;
    std::set<std::string> privates;
    // Private names first, so that any member may use them.
    for (int i = 0; i < count; ++i) {
      if (chance(35)) privates.insert("#" + pick(kNames));
    }
    members.privates.assign(privates.begin(), privates.end());
    members.derived = derived;
    Context field_ctx = members;
    field_ctx.in_method = true;
    field_ctx.arguments_ok = false;
    field_ctx.is_async = false;
    field_ctx.is_generator = false;
    field_ctx.top_level_await = false;
    field_ctx.in_function = false;
    field_ctx.in_loop = false;
    std::set<std::string> field_taken;
    field_ctx.taken = &field_taken;

    std::string text = "{\n";
    const std::string pad = indent(level + 1);
    for (const std::string& name : privates) {
      text += pad + (chance(20) ? "static " : "") + name + (chance(60) ? " = " + expr(depth + 1, field_ctx).text : "") + ";\n";
    }
    bool has_constructor = false;
    // A class declares each member name once: JavaScript lets a later method
    // replace an earlier one, but TypeScript refuses the second declaration
    // whatever converts the file, so it tells nothing about kvx.
    std::set<std::string> member_names;
    auto unique_member = [&](std::string name) {
      while (!member_names.insert(name).second) name += "2";
      return name;
    };
    for (int i = 0; i < count; ++i) {
      const std::string is_static = chance(25) ? "static " : "";
      const int kind = below(9);
      Context method = function_context(members, false, false, true);
      method.in_method = true;
      std::set<std::string> taken;
      method.taken = &taken;
      switch (kind) {
        case 0: text += pad + is_static + unique_member(member_name()) + (chance(60) ? " = " + expr(depth + 1, field_ctx).text : "") + ";\n"; break;
        case 1: {
          if (has_constructor) break;
          has_constructor = true;
          text += pad + "constructor(" + params(depth + 1, method) + ") {\n";
          if (derived) text += pad + "  super()" + end() + "\n";
          text += pad + "  this." + pick(kNames) + " = " + expr(depth + 1, method).text + end() + "\n";
          text += statement(depth + 1, method, level + 2);
          text += pad + "}\n";
          break;
        }
        case 2: {
          const std::string name = chance(50) && !privates.empty() ? privates.begin()->substr(1) : unique_member(member_name());
          text += pad + is_static + "get " + name + "() " + block(depth + 1, method, level + 1) + "\n";
          if (chance(50)) {
            Context setter = method;
            std::set<std::string> setter_taken;
            setter.taken = &setter_taken;
            text += pad + is_static + "set " + name + "(" + fresh(setter) + ") " + block(depth + 1, setter, level + 1) + "\n";
          }
          break;
        }
        case 3: {
          method.is_async = true;
          text += pad + is_static + "async " + unique_member(member_name()) + "(" + params(depth + 1, method) + ") " +
                  block(depth + 1, method, level + 1) + "\n";
          break;
        }
        case 4: {
          method.is_generator = true;
          text += pad + is_static + (chance(40) ? "*[Symbol.iterator]" : "*" + unique_member(member_name())) + "(" +
                  params(depth + 1, method) + ") " + block(depth + 1, method, level + 1) + "\n";
          break;
        }
        case 5: {
          text += pad + "#" + pick(kNames) + "Impl" + std::to_string(++counter) + "(" + params(depth + 1, method) + ") " +
                  block(depth + 1, method, level + 1) + "\n";
          break;
        }
        case 6: {
          Context init = field_ctx;
          std::set<std::string> init_taken;
          init.taken = &init_taken;
          init.in_function = false;
          text += pad + "static {\n" + statement(depth + 1, init, level + 2) + pad + "}\n";
          break;
        }
        default:
          text += pad + is_static + unique_member(member_name()) + "(" + params(depth + 1, method) + ") " +
                  block(depth + 1, method, level + 1) + "\n";
          break;
      }
    }
    return text + indent(level) + "}";
  }

  std::string import_item(Context& ctx) {
    const std::string from = pick(kModules);
    std::string text;
    switch (below(6)) {
      case 0: text = "import " + fresh(ctx) + " from " + from; break;
      case 1: {
        const std::string a = fresh(ctx);
        const std::string b = fresh(ctx);
        text = "import { " + a + ", default as " + b + " } from " + from;
        break;
      }
      case 2: text = "import * as " + fresh(ctx) + " from " + from; break;
      case 3: text = "import " + from; break;
      case 4: {
        const std::string a = fresh(ctx);
        const std::string b = fresh(ctx);
        text = "import " + a + ", {\n  " + b + ", // the second\n} from " + from;
        break;
      }
      default: text = "import " + fresh(ctx) + " from './data.json' with { type: 'json' }"; break;
    }
    return text + end() + "\n";
  }

  std::string export_item(int depth, Context& ctx) {
    switch (below(9)) {
      case 0: {
        const std::string name = fresh(ctx);
        top_names.push_back(name);
        return "export const " + name + " = " + expr(depth, ctx).text + end() + "\n";
      }
      case 1: {
        const std::string name = fresh(ctx);
        top_names.push_back(name);
        return "export " + function_declaration(depth, ctx, 0, name) + "\n";
      }
      case 2: {
        Context inner = ctx;
        std::set<std::string> taken;
        inner.taken = &taken;
        const std::string name = fresh(ctx);
        top_names.push_back(name);
        const std::string heritage = class_heritage();
        return "export class " + name + heritage + " " + class_body(depth, inner, 0, !heritage.empty()) + "\n";
      }
      case 3: return "export let " + fresh(ctx) + end() + "\n";
      case 4:
        // A local export must name a top-level binding of the module.
        if (top_names.empty()) return "export let " + fresh(ctx) + end() + "\n";
        return "export { " + pick(top_names) + " as " + pick(kKeywordKeys) + "Name" + std::to_string(++counter) +
               " }" + end() + "\n";
      case 5: return "export * from " + pick(kModules) + end() + "\n";
      case 6: return "export * as " + pick(kNames) + std::to_string(++counter) + " from " + pick(kModules) + end() + "\n";
      default: {
        if (default_exported) return "export var " + fresh(ctx) + " = " + expr(depth, ctx).text + end() + "\n";
        default_exported = true;
        if (chance(50)) return "export default " + function_declaration(depth, ctx, 0, chance(50) ? fresh(ctx) : "") + "\n";
        return "export default " + operand(depth, ctx).text + end() + "\n";
      }
    }
  }

  bool default_exported = false;
  // Names bound at the top level of the program, for `export { name }`.
  std::vector<std::string> top_names;

  std::string top_level_item(Context& ctx) {
    const int depth = 0;
    const int choice = below(14);
    switch (choice) {
      case 0:
      case 1: {
        const std::string name = fresh(ctx);
        top_names.push_back(name);
        return function_declaration(depth, ctx, 0, name) + "\n";
      }
      case 2: {
        Context inner = ctx;
        std::set<std::string> taken;
        inner.taken = &taken;
        const std::string name = fresh(ctx);
        top_names.push_back(name);
        const std::string heritage = class_heritage();
        return "class " + name + heritage + " " + class_body(depth, inner, 0, !heritage.empty()) + "\n";
      }
      case 3:
        if (module) return import_item(ctx);
        return "const " + fresh(ctx) + " = require(" + pick(kModules) + ")" + end() + "\n";
      case 4:
      case 5:
        if (module) return export_item(depth, ctx);
        return (chance(50) ? "module.exports = " + object_literal(depth, ctx, 0)
                           : "exports." + member_name() + " = " + expr(depth, ctx).text) + end() + "\n";
      case 6: {
        // An immediately invoked function, as bundles wrap their code.
        Context inner = function_context(ctx, chance(30), false, true);
        inner.in_method = false;
        std::set<std::string> taken;
        inner.taken = &taken;
        std::string head = inner.is_async ? "(async () => " : "(function () ";
        return (semicolons ? "" : ";") + head + block(depth + 1, inner, 0) + ")()" + end() + "\n";
      }
      case 7:
        if (module && chance(50)) return "await " + operand(depth, ctx).text + end() + "\n";
        return statement(depth, ctx, 0);
      default: return statement(depth, ctx, 0);
    }
  }
};

}  // namespace

RandomProgram random_program(uint32_t seed) {
  Generator generator;
  generator.random.seed(seed);
  RandomProgram program;
  program.seed = seed;
  program.module = generator.chance(60);
  generator.module = program.module;
  generator.semicolons = generator.chance(80);

  std::set<std::string> top_level;
  Context ctx;
  ctx.taken = &top_level;
  ctx.top_level_await = program.module;
  if (program.module) {
    const int imports = generator.below(3);
    for (int i = 0; i < imports; ++i) program.items.push_back(generator.import_item(ctx));
  }
  const int count = 2 + generator.below(7);
  for (int i = 0; i < count; ++i) program.items.push_back(generator.top_level_item(ctx));
  return program;
}

std::string program_text(const RandomProgram& program) {
  std::string text;
  for (const std::string& item : program.items) text += item;
  return text;
}

// ---------------------------------------------------------------------------
// Rule-dense statements

namespace {

constexpr const char* kRuleNames[] = {"a", "b", "c", "x", "y", "k", "n", "ok", "items", "cfg",
                                          "server", "port", "limit", "undefined", "this", "case",
                                          "default", "true", "f", "g"};
constexpr const char* kRuleFunctionNames[] = {"f", "g", "h"};
constexpr const char* kRuleLiterals[] = {"1", "'s'", "true", "`t${x}`", "null", "0"};
constexpr const char* kRuleOperators[] = {"+", "*", "==", "!==", "<", ">", "<=", ">=", "&&",
                                              "||", "??", "="};
constexpr const char* kRuleNoise[] = {"?", ":", "??", "||", "=", "?.", "=>", "!", ";", ",", ")",
                                          "(", "[", "]", "return", "case", "default", "let",
                                          "const", "switch", "1", "'q'", "x", "=="};
constexpr const char* kRuleStatements[] = {
    "N = V ?? V;", "return N ?? V;", "N = N || V;", "N = N && V;", "N = N?.N;", "return N?.N;",
    "let N = N?.N?.N;", "const N = N?.N.N;", "let N = N?.N;", "N = V ? V : V;", "return V ? V : V;",
    "return (N) ? V : V;", "let N = V ? V : V;", "const N = N ? N : V;",
    "return { N: V, N: { N: V }, N: V O V };", "return { N: V O V };", "return V ? { N: V } : V;",
    "return V ? {} : {};", "return V ? V : { N: V };", "const [N, N] = N;", "const [[N], N] = N;",
    "let [N] = N;", "if (N && N) {}", "N ?? V;", "N ? V : V;", "N || N && N;",
    "switch (N) { case L: return L; case N: return V; default: return L; }",
    "switch (N) { case L: N(); return L; default: return; }",
    "switch (N) { case L: { return V; } case L: return V O V; }", "N = L;", "N = V O V;",
    "switch (N) { default: N.default; switch (N) { case L: 'case'; return L; } }",
    "switch (N) { case L: switch (N) { default: return V; } N(); default: { return L; } }",
    "let N = V;", "let N;", "var N = !N;", "let N = V O V;", "const N = V O V;",
    "N = N.map(N => V O V);", "N = N.filter(N => V);", "N = N.reduce((N, N) => V O V, 0);",
    "N = N.find(N => V === V);", "N = N.some(N => V);", "N = N.every(N => V O V);",
    "N = N.map(N);", "return !N;", "return V O V;", "return V;", "return null || L;",
    "return null ?? V;", "return;", "return [N];", "let N = V || V;", "let N = V ?? V;",
    "var N = V && V;", "let N = (V) ? V : V;"};

}  // namespace

std::string RuleStatements::name() { return pick(kRuleNames); }
std::string RuleStatements::literal() { return pick(kRuleLiterals); }
std::string RuleStatements::op() { return pick(kRuleOperators); }

std::string RuleStatements::fill(std::string_view pattern) {
  std::string text;
  for (char c : pattern) {
    switch (c) {
      case 'N': text += name(); break;
      case 'L': text += literal(); break;
      case 'V': text += value(); break;
      case 'O': text += op(); break;
      default: text += c;
    }
  }
  return text;
}

std::string RuleStatements::statements(int count, int depth) {
  std::string text;
  for (int s = 0; s < count; ++s) {
    const int choice = pick(10);
    if (choice == 0 && depth < 2) {
      const std::string function_name = pick(kRuleFunctionNames);
      functions_.push_back(function_name);
      text += "function " + function_name + "(" + name() + ") { " + statements(pick(5), depth + 1) + "} ";
    } else if (choice == 1) {
      text += std::string(pick(kRuleNoise)) + " ";
    } else {
      text += fill(pick(kRuleStatements)) + " ";
    }
  }
  return text;
}

}  // namespace kvx_test
