#include "scaling_patterns.h"

#include <string>

namespace kvx_scaling {

namespace {

// `line(i)` for i in [0, n), concatenated.
template <typename Line>
std::string repeat(int n, Line line) {
  std::string text;
  for (int i = 0; i < n; ++i) text += line(i);
  return text;
}

std::string times(int n, const std::string& piece) {
  std::string text;
  text.reserve(piece.size() * static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) text += piece;
  return text;
}

std::string num(int i) { return std::to_string(i); }

// ---------------------------------------------------------------------------
// Flow refinements (pass 3)

std::string nested_switches(int n) {
  return "function f(x) {\n" + times(n, "switch (x) { default: g();\n") + times(n, "}\n") + "}\n";
}

std::string nested_switches_unclosed(int n) {
  return "function f(x) {\n" + times(n, "switch (x) { case 1: default: g();\n");
}

std::string switch_with_many_cases(int n) {
  return "function f(x) {\n  let v;\n  switch (x) {\n" +
         repeat(n, [](int i) { return "    case " + num(i) + ": v = lib.default; break;\n"; }) +
         "  }\n  return v;\n}\n";
}

std::string switches_in_many_functions(int n) {
  return repeat(n, [](int i) {
    return "function f" + num(i) + "(k) { switch (k) { case 'a': g(); break; default: h(); } }\n";
  });
}

std::string returns_in_many_functions(int n) {
  return repeat(n, [](int i) {
    return "function f" + num(i) + "(a) { if (a) { return; } const t" + num(i) + " = a ? 1 : 'x'; return t" +
           num(i) + "; }\n";
  });
}

std::string conditional_assignments(int n) {
  return "let label;\nfunction pick(ok) { return; }\n" +
         repeat(n, [](int i) { return "label = ok" + num(i) + " ? v" + num(i) + " : w" + num(i) + ";\n"; });
}

std::string conditional_returns_without_colon(int n) {
  return repeat(n, [](int i) { return "function f" + num(i) + "(a) { return a ? 1 ; }\n"; });
}

std::string map_callbacks(int n) {
  return "const items = [1, 2, 3];\n" +
         repeat(n, [](int i) { return "const r" + num(i) + " = items.map(x => x * 2);\n"; });
}

std::string method_calls_without_arrow(int n) {
  return "let items = [1];\n" + repeat(n, [](int i) { return "let r" + num(i) + " = items.map(f" + num(i) + ");\n"; });
}

std::string optional_and_nullish(int n) {
  return repeat(n, [](int i) {
    return "const v" + num(i) + " = obj" + num(i) + "?.a?.b ?? 'x';\nw" + num(i) + " = v" + num(i) +
           " ?? 1;\nreturn c" + num(i) + "?.d;\n";
  });
}

std::string optional_chain(int n) { return "const v = a" + times(n, "?.b") + ";\n"; }

std::string logic_operands(int n) {
  return repeat(n, [](int i) { return "if (a" + num(i) + " && b" + num(i) + " || c" + num(i) + " ?? 0) {}\n"; });
}

std::string destructurings(int n) {
  return "const arr = [1, 2];\n" +
         repeat(n, [](int i) { return "const [a" + num(i) + ", b" + num(i) + "] = arr;\n"; });
}

std::string destructuring_unclosed(int n) { return "const [" + times(n, "a, ") + "\n"; }

// Patterns that all end at one far `]`, with no name to collect on the way.
std::string destructurings_sharing_one_bracket(int n) {
  return "const arr = [1];\n" + times(n, "const [ ") + "\n] = arr;\n";
}

std::string ternary_chain(int n) { return "const v = " + times(n, "a ? 1 : ") + "'x';\n"; }

std::string question_marks_without_colon(int n) {
  return repeat(n, [](int i) { return "x" + num(i) + " = a ? b;\n"; }) + "y = c : d;\n";
}

std::string untyped_declarations(int n) {
  return repeat(n, [](int i) { return "let u" + num(i) + ";\n"; }) +
         repeat(n, [](int i) { return "u" + num(i) + " = g();\n"; });
}

// ---------------------------------------------------------------------------
// Usage detectors (pass 4) and collections (pass 5)

std::string runtime_idioms(int n) {
  return repeat(n, [](int i) {
    const std::string s = num(i);
    return "const res" + s + " = await fetch(u);\nconst st" + s + " = fs.createReadStream(p);\nconst m" + s +
           " = new Map();\nm" + s + ".set('k', 1);\nconst s" + s + " = new Set();\ns" + s +
           ".add(2);\nconst all" + s + " = await Promise.all(ps);\nresults.push(res" + s + ");\n";
  });
}

std::string tasks_and_loops(int n) {
  return "const tasks = [];\n" + repeat(n, [](int i) {
           return "tasks.push({ id: " + num(i) + ", url: u });\nfor (const t" + num(i) + " of tasks) {}\n";
         });
}

std::string tasks_push_before_one_block(int n) {
  return times(n, "tasks.push(t);\n") + "{ id: 1 }\n";
}

std::string readline_loops(int n) {
  return "let line;\n" + times(n, "for await (const line of rl) { line.trim(); }\n");
}

std::string delete_arrows(int n) {
  return repeat(n, [](int i) { return "const rm" + num(i) + " = (k) => cache.delete(k);\n"; });
}

std::string async_iifes_unclosed(int n) { return times(n, "x = (async () => {\n"); }

std::string parameters_and_templates(int n) {
  return repeat(n, [](int i) {
    const std::string s = num(i);
    return "function f" + s + "(p" + s + ", q" + s + ") { return `${p" + s + "}` + q" + s + ".trim() + (p" + s +
           " < 3); }\n";
  });
}

std::string string_methods_on_one_name(int n) { return "let s = 'a';\n" + times(n, "s.trim();\n"); }

std::string same_named_variables(int n) {
  return times(n, "function f() { var e = require('fs'); var e = e ?? 1; e.trim(); }\n");
}

// ---------------------------------------------------------------------------
// Node, interfaces and enumerations (passes 6, 7, 10)

std::string node_calls(int n) {
  return "function handle(req, res) {}\nfunction onData(chunk) {}\n" + repeat(n, [](int i) {
           const std::string s = num(i);
           return "const fs" + s + " = require('fs');\nconst p" + s + " = path.join(a, b);\nconst e" + s +
                  " = process.env;\nhttp.createServer(handle);\nsock.on('data', onData);\n";
         });
}

std::string object_literals(int n) {
  return repeat(n, [](int i) { return "const obj" + num(i) + " = { a: 1, b: 'x', c: true };\n"; });
}

std::string calls_of_declared_functions(int n) {
  return "function make(u) { return { a: 1, b: 'x' }; }\nconst user = { name: 'a' };\n" +
         repeat(n, [](int i) { return "const r" + num(i) + " = make(user);\n"; });
}

std::string locals_in_many_functions(int n) {
  return repeat(n, [](int i) {
    return "const o" + num(i) + " = { a: 1 };\nfunction f" + num(i) + "() { const o" + num(i) + "x = 1; }\n";
  });
}

std::string const_enums(int n) {
  return repeat(n, [](int i) {
    return "const COLOR_" + num(i) + " = { RED: 'red', GREEN: 'green', BLUE: 'blue' };\n";
  });
}

std::string one_object_literal(int n) {
  return "const big = {\n" + repeat(n, [](int i) { return "  k" + num(i) + ": 'value',\n"; }) + "};\n";
}

std::string nested_object_literals(int n) { return "const o = " + times(n, "{ a: ") + "1" + times(n, " }") + ";\n"; }

// ---------------------------------------------------------------------------
// Whole-program shapes

std::string many_functions(int n) {
  return repeat(n, [](int i) {
    return "function f" + num(i) + "(a, b) { const c = a + b; return c; }\n";
  });
}

std::string long_function(int n) {
  return "function f(a) {\n" + repeat(n, [](int i) { return "  let v" + num(i) + " = a + " + num(i) + ";\n"; }) +
         "  return a;\n}\n";
}

std::string classes_nested_in_methods(int n) {
  return repeat(n, [](int i) { return "class C" + num(i) + " { m() { return 1;\n"; }) + times(n, "} }\n");
}

std::string many_classes(int n) {
  return repeat(n, [](int i) {
    return "class C" + num(i) + " { constructor(a) { this.a = a; } run(x) { return x; } }\n";
  });
}

std::string class_with_many_methods(int n) {
  return "class C {\n" + repeat(n, [](int i) { return "  m" + num(i) + "(x) { return x; }\n"; }) + "}\n";
}

std::string deep_brackets_closed(int n) { return "x = " + times(n, "([{") + "1" + times(n, "}])") + ";\n"; }

std::string deep_brackets_unclosed(int n) { return "x = " + times(n, "([{") + "\n"; }

std::string closers_only(int n) { return times(n, "}])\n"); }

std::string arrows_nested(int n) { return "const f = " + times(n, "(a) => ") + "1;\n"; }

// ---------------------------------------------------------------------------
// Tokenizer

std::string regex_openers_on_one_line(int n) { return "x = " + times(n, "(/[") + "\n"; }

std::string regex_literals(int n) { return repeat(n, [](int i) { return "r = /a[/]b" + num(i) + "/g;\n"; }); }

std::string unterminated_strings(int n) { return times(n, "x = 'abc\n"); }

std::string unterminated_template(int n) { return "x = `" + times(n, "a ${b} {") + "\n"; }

std::string template_placeholders_nested(int n) { return "x = " + times(n, "`${") + times(n, "}`") + ";\n"; }

std::string block_comments(int n) { return times(n, "/* c */ x = 1; // d\n"); }

// ---------------------------------------------------------------------------
// Patterns of other work: classes and parameters

std::string fields_and_statics(int n) {
  return "class C {\n" + repeat(n, [](int i) { return "  #f" + num(i) + " = " + num(i) + ";\n  static s" + num(i) + " = " + num(i) + ";\n"; }) +
         "  constructor() {\n" + repeat(n, [](int i) { return "    this.g" + num(i) + " = " + num(i) + ";\n"; }) +
         "  }\n}\n";
}

std::string getter_setter_pairs(int n) {
  return "class C {\n" + repeat(n, [](int i) {
           return "  get p" + num(i) + "() { return this._p" + num(i) + "; }\n  set p" + num(i) + "(v) { this._p" +
                  num(i) + " = v; }\n";
         }) +
         "}\n";
}

std::string unclosed_member_calls(int n) {
  return "class C {\n" + repeat(n, [](int i) { return "  m" + num(i) + "(a, b\n"; });
}

std::string unclosed_destructuring_parameters(int n) {
  return repeat(n, [](int i) { return "function f" + num(i) + "({ a, b\n"; });
}

// ---------------------------------------------------------------------------
// Patterns of other work: imports, exports and nested functions

std::string imports_without_semicolons(int n) {
  return repeat(n, [](int i) { return "import m" + num(i) + " from 'mod" + num(i) + "'\n"; });
}

// Each import line followed by a dynamic import, neither with `;`.
std::string imports_and_dynamic_imports(int n) {
  return repeat(n, [](int i) {
    return "import a" + num(i) + " from 'm" + num(i) + "'\nconst x" + num(i) + " = await import('./m" + num(i) +
           ".js')\n";
  });
}

// Statements that never close: keywords on one line, then unclosed lists.
std::string statements_that_never_close(int n) {
  return times(n, "import ") + "\n" + times(n, "export ") + "\n" + repeat(n, [](int i) {
           return "import { a" + num(i) + ", b" + num(i) + "\nexport { c" + num(i) + "\n";
         });
}

std::string dynamic_imports_without_semicolons(int n) {
  return repeat(n, [](int i) { return "await import('mod" + num(i) + "')\n"; });
}

std::string nested_function_declarations(int n) {
  return repeat(n, [](int i) { return "function f" + num(i) + "(a) {\n"; }) + times(n, "}\n");
}

std::string nested_exports(int n) {
  return repeat(n, [](int i) { return "export function f" + num(i) + "(a) {\n"; }) + times(n, "}\n");
}


}  // namespace

const std::vector<ScalingPattern>& scaling_patterns() {
  static const std::vector<ScalingPattern> patterns = {
      // Flow refinements
      {"nested_switches", nested_switches, 4000, ""},
      {"nested_switches_unclosed", nested_switches_unclosed, 4000, ""},
      {"switch_with_many_cases", switch_with_many_cases, 10000, ""},
      {"switches_in_many_functions", switches_in_many_functions, 4000, ""},
      {"returns_in_many_functions", returns_in_many_functions, 4000, ""},
      {"conditional_assignments", conditional_assignments, 10000, ""},
      {"conditional_returns_without_colon", conditional_returns_without_colon, 5000, ""},
      {"map_callbacks", map_callbacks, 10000, ""},
      {"method_calls_without_arrow", method_calls_without_arrow, 10000, ""},
      {"optional_and_nullish", optional_and_nullish, 5000, ""},
      {"optional_chain", optional_chain, 50000, ""},
      {"logic_operands", logic_operands, 8000, ""},
      {"destructurings", destructurings, 10000, ""},
      {"destructuring_unclosed", destructuring_unclosed, 30000, ""},
      {"destructurings_sharing_one_bracket", destructurings_sharing_one_bracket, 30000, ""},
      {"ternary_chain", ternary_chain, 20000, ""},
      {"question_marks_without_colon", question_marks_without_colon, 10000, ""},
      {"untyped_declarations", untyped_declarations, 10000, ""},
      // Usage detectors and collections
      {"runtime_idioms", runtime_idioms, 2000, ""},
      {"tasks_and_loops", tasks_and_loops, 5000, ""},
      {"tasks_push_before_one_block", tasks_push_before_one_block, 15000, ""},
      {"readline_loops", readline_loops, 5000, ""},
      {"delete_arrows", delete_arrows, 8000, ""},
      {"async_iifes_unclosed", async_iifes_unclosed, 10000, ""},
      {"parameters_and_templates", parameters_and_templates, 4000, ""},
      {"string_methods_on_one_name", string_methods_on_one_name, 20000, ""},
      {"same_named_variables", same_named_variables, 4000, ""},
      // Node, interfaces and enumerations
      {"node_calls", node_calls, 3000, ""},
      {"object_literals", object_literals, 8000, ""},
      {"calls_of_declared_functions", calls_of_declared_functions, 10000, ""},
      {"locals_in_many_functions", locals_in_many_functions, 5000, ""},
      {"const_enums", const_enums, 20000, ""},
      {"one_object_literal", one_object_literal, 130000, ""},
      {"nested_object_literals", nested_object_literals, 10000, ""},
      // Whole-program shapes
      {"many_functions", many_functions, 12500, ""},
      {"long_function", long_function, 25000, ""},
      {"many_classes", many_classes, 5000, ""},
      {"class_with_many_methods", class_with_many_methods, 12500, ""},
      {"classes_nested_in_methods", classes_nested_in_methods, 500, ""},
      {"deep_brackets_closed", deep_brackets_closed, 20000, ""},
      {"deep_brackets_unclosed", deep_brackets_unclosed, 20000, ""},
      {"closers_only", closers_only, 20000, ""},
      {"arrows_nested", arrows_nested, 30000, ""},
      // Tokenizer
      {"regex_openers_on_one_line", regex_openers_on_one_line, 30000, ""},
      {"regex_literals", regex_literals, 15000, ""},
      {"unterminated_strings", unterminated_strings, 20000, ""},
      {"unterminated_template", unterminated_template, 100000, ""},
      {"template_placeholders_nested", template_placeholders_nested, 100000, ""},
      {"block_comments", block_comments, 20000, ""},
      // Classes and parameters
      {"fields_and_statics", fields_and_statics, 5000, ""},
      {"getter_setter_pairs", getter_setter_pairs, 5000, ""},
      {"unclosed_member_calls", unclosed_member_calls, 5000, ""},
      {"unclosed_destructuring_parameters", unclosed_destructuring_parameters, 5000, ""},
      // Imports, exports and nested functions
      {"imports_without_semicolons", imports_without_semicolons, 5000, ""},
      {"dynamic_imports_without_semicolons", dynamic_imports_without_semicolons, 5000, ""},
      {"imports_and_dynamic_imports", imports_and_dynamic_imports, 1500, ""},
      {"statements_that_never_close", statements_that_never_close, 3000, ""},
      {"nested_function_declarations", nested_function_declarations, 3000, ""},
      {"nested_exports", nested_exports, 3000, ""},
  };
  return patterns;
}

}  // namespace kvx_scaling
