// Typed emitter: writes the analysis result of one source file as a
// TypeScript file of ambient declarations, interfaces, typed functions with
// their captured bodies, classes and the source's imports and exports.
#include "generator/generator.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/text.h"
#include "generator/local_names.h"

namespace {

TypeInfo kind_only(int kind) {
  TypeInfo type;
  type.kind = static_cast<TypeKind>(kind);
  return type;
}

bool has_space(std::string_view text) {
  return std::any_of(text.begin(), text.end(),
                     [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; });
}

constexpr std::string_view kExportConst = "export const ";

// The exported bindings a statement may introduce. Only `export const` is
// typed by the export section, but a name exported with `let` or `var` is as
// much written there, and declaring it again would not compile.
constexpr std::string_view kExportBindings[] = {kExportConst, "export let ", "export var "};

// Answers "does some export statement contain `export const NAME`" (or
// `export let NAME`, `export var NAME`): a plain substring test, so
// `export const counter2` also answers for `counter`.
// A name without blanks matches exactly when it is a prefix of the blank-free
// run that follows such a prefix in a statement, so the runs are kept sorted
// and searched; a name with blanks, which no scan produces, falls back to the
// substring test itself.
class ExportedConstants {
 public:
  explicit ExportedConstants(const std::vector<std::string>& exports) : exports_(exports) {
    for (const std::string& statement : exports) {
      for (std::string_view prefix : kExportBindings) {
        for (std::size_t at = statement.find(prefix); at != std::string::npos;
             at = statement.find(prefix, at + 1)) {
          const std::size_t from = at + prefix.size();
          std::size_t to = from;
          while (to < statement.size() && std::isspace(static_cast<unsigned char>(statement[to])) == 0) {
            ++to;
          }
          runs_.emplace_back(statement, from, to - from);
        }
      }
    }
    std::sort(runs_.begin(), runs_.end());
  }

  bool mentions(std::string_view name) const {
    if (has_space(name)) {
      return std::any_of(exports_.begin(), exports_.end(), [&](const std::string& statement) {
        return std::any_of(std::begin(kExportBindings), std::end(kExportBindings), [&](std::string_view prefix) {
          return statement.find(std::string(prefix) + std::string(name)) != std::string::npos;
        });
      });
    }
    const auto candidate = std::lower_bound(runs_.begin(), runs_.end(), name);
    return candidate != runs_.end() && candidate->starts_with(name);
  }

 private:
  const std::vector<std::string>& exports_;
  std::vector<std::string> runs_;
};

// 3. Type-only imports of the stream and process types that some variable's
// rendered type names.
void write_type_imports(std::ostream& out, const AnalysisResult& result) {
  bool read_stream = false;
  bool write_stream = false;
  bool child_process = false;
  for (const VarInfo& var : result.vars) {
    const std::string text = type_to_string(var.type);
    read_stream = read_stream || text.find("ReadStream") != std::string::npos;
    write_stream = write_stream || text.find("WriteStream") != std::string::npos;
    child_process = child_process || text.find("ChildProcess") != std::string::npos;
  }
  if (read_stream || write_stream) {
    out << "import type { " << (read_stream ? "ReadStream" : "")
        << (read_stream && write_stream ? ", " : "") << (write_stream ? "WriteStream" : "")
        << " } from 'fs';\n";
  }
  if (child_process) out << "import type { ChildProcess } from 'child_process';\n";
  out << "\n";
}

// 4. interface NAME { field: type; ... }
void write_interfaces(std::ostream& out, const AnalysisResult& result) {
  // Interfaces of one name merge. Two records promoted from literals of one
  // variable name (a local `user` in two bodies) describe that one variable:
  // like every lookup by name, the first one wins. Records of two variables
  // (`user` and `User` both give User) are both written; a property that an
  // earlier block of the name declares is left out of a later one, since one
  // typed differently twice would not compile, and a block left with no
  // property is not written.
  struct Written {
    std::unordered_set<std::string_view> variables;
    std::unordered_set<std::string_view> fields;
  };
  std::unordered_map<std::string_view, Written> written;
  for (const InterfaceInfo& interface : result.interfaces) {
    const auto [entry, first] = written.try_emplace(interface.name);
    Written& name = entry->second;
    if (!name.variables.insert(interface.object_name).second) continue;
    std::vector<const ObjectField*> fields;
    for (const ObjectField& field : *interface.fields) {
      if (name.fields.insert(field.name).second) fields.push_back(&field);
    }
    if (!first && fields.empty()) continue;
    out << "interface " << interface.name << " {\n";
    for (const ObjectField* declared : fields) {
      const ObjectField& field = *declared;
      out << "    " << field.name << ": ";
      if (field.kind == TYPE_OBJECT) {
        generate_object_type(out, field.nested_fields, false);
      } else {
        out << type_to_string(kind_only(field.kind));
      }
      out << ";\n";
    }
    out << "}\n\n";
  }
}

// The element shape of an array of objects: "{ a: string; b: any }[]".
void write_shape_array(std::ostream& out, const ShapeInfo& shape) {
  out << "{ ";
  for (std::size_t i = 0; i < shape.fields.size(); ++i) {
    if (i > 0) out << "; ";
    out << shape.fields[i].name << ": " << (shape.fields[i].kind == TYPE_STRING ? "string" : "any");
  }
  out << " }[]";
}

// The names the function section writes: a variable or arrow binding of the
// same name would be a second declaration of it.
using FunctionNames = std::unordered_set<std::string_view>;

// The local names an import statement binds: `import d, * as ns from 'm'`
// binds d and ns, `import { a, b as c } from 'm'` binds a and c. The tokens
// run up to the module string; the `from` before it binds nothing.
void add_import_bindings(std::string_view statement, std::unordered_set<std::string_view>& names) {
  std::vector<std::string_view> tokens;  // words, and other characters one by one
  for (std::size_t at = 0; at < statement.size();) {
    const char c = statement[at];
    if (c == '\'' || c == '"' || c == '`') break;
    const std::size_t start = at;
    if (is_identifier_byte(c)) {
      while (at < statement.size() && is_identifier_byte(statement[at])) ++at;
    } else {
      ++at;
      if (std::isspace(static_cast<unsigned char>(c)) != 0) continue;
    }
    tokens.push_back(statement.substr(start, at - start));
  }
  for (std::size_t n = 1; n < tokens.size(); ++n) {  // tokens[0] is `import`
    const std::string_view token = tokens[n];
    if (!is_identifier_byte(token[0]) || token == "as") continue;
    if (n + 1 < tokens.size() && tokens[n + 1] == "as") continue;  // `x as y` binds y
    if (n + 1 == tokens.size() && token == "from") continue;
    names.insert(token);
  }
}

FunctionNames top_level_function_names(const AnalysisResult& result) {
  FunctionNames names;
  for (const FuncInfo& function : result.funcs) {
    if (function.is_local == 0) names.insert(function.name);
  }
  return names;
}

// 5. declare const|let NAME: type; for every variable that is not a local of
// a function, not written by the export, function, arrow or class sections
// nor bound by an import, and not a repeat.
void write_variables(std::ostream& out, const AnalysisResult& result, const LocalDeclarationIndex& locals,
                     const FunctionNames& functions) {
  const ExportedConstants exported(result.exports);
  const FirstByName<const ObjectInfo> objects(result.objects);
  const FirstByName<const ShapeInfo> shapes(result.array_objects);
  const FirstByName<const ArrayInfo> arrays(result.arrays);
  // Only the arrows the arrow section writes: a variable that shares its
  // name with a local arrow of some body is still declared here.
  std::unordered_set<std::string_view> arrows;
  for (const ArrowInfo& arrow : result.arrows) {
    if (arrow.is_local == 0) arrows.insert(arrow.name);
  }
  // Names that the imports and the class section declare. A class of some
  // body, or a class expression, binds no top-level name: a top-level
  // variable of its name is still declared here.
  std::unordered_set<std::string_view> others;
  for (const std::string& statement : result.imports) add_import_bindings(statement, others);
  for (const ClassInfo& klass : result.classes) {
    if (klass.is_local == 0) others.insert(klass.name);
  }
  // Every name written so far is remembered: a repeated `declare` of one
  // name would not compile, however many names came before it.
  std::unordered_set<std::string_view> declared;

  for (const VarInfo& var : result.vars) {
    if (var.is_local != 0) continue;  // a local of some body
    if (locals.contains(var.name)) continue;
    if (var.is_exported != 0 || exported.mentions(var.name)) continue;
    if (!declared.insert(var.name).second) continue;
    if (arrows.count(var.name) != 0) continue;
    if (functions.count(var.name) != 0 || others.count(var.name) != 0) continue;

    out << (var.is_const == 1 ? "declare const " : "declare let ") << var.name << ": ";
    if (var.type.kind == TYPE_INTERFACE && !var.type.interface_name.empty()) {
      out << var.type.interface_name;
    } else if (const ObjectInfo* object = objects.find(var.name)) {
      generate_object_type(out, *object);
    } else if (const ShapeInfo* shape = shapes.find(var.name)) {
      write_shape_array(out, *shape);
    } else if (const ArrayInfo* array = arrays.find(var.name)) {
      generate_array_type(out, *array);
    } else {
      out << type_to_string(var.type);
    }
    out << ";\n";
  }
}

bool flag_at(const std::vector<int>& flags, std::size_t i) {
  return i < flags.size() && flags[i] != 0;
}

const TypeInfo& type_at(const std::vector<TypeInfo>& types, std::size_t i) {
  static const TypeInfo kEmpty;
  return i < types.size() ? types[i] : kEmpty;
}

// 6. [async ]function[*] NAME(params): type { body }
// A function declared in another body is written there, as part of that
// body; at the top level it would be a second copy without its closure.
// Of two top-level functions with one name only the last is written: it is
// the one the program runs, and two implementations would not compile.
void write_functions(std::ostream& out, const AnalysisResult& result) {
  std::unordered_map<std::string_view, const FuncInfo*> last;
  for (const FuncInfo& function : result.funcs) {
    if (function.is_local == 0) last[function.name] = &function;
  }
  for (const FuncInfo& function : result.funcs) {
    if (function.is_local != 0 || last[function.name] != &function) continue;
    if (function.is_async != 0) out << "async ";
    out << (function.is_generator != 0 ? "function* " : "function ") << function.name << "(";
    for (std::size_t i = 0; i < function.param_names.size(); ++i) {
      if (i > 0) out << ", ";
      const ShapeInfo* shape = i < function.param_shapes.size() ? &function.param_shapes[i] : nullptr;
      if (shape != nullptr && !shape->fields.empty()) {
        // The object the function expects, every field optional.
        out << function.param_names[i] << ": { ";
        for (std::size_t f = 0; f < shape->fields.size(); ++f) {
          if (f > 0) out << "; ";
          out << shape->fields[f].name << "?: " << type_to_string(kind_only(shape->fields[f].kind));
        }
        out << " }";
      } else {
        out << function.param_names[i] << ": " << type_to_string(type_at(function.param_types, i));
      }
      // The copied body runs with the source's default values.
      if (i < function.param_defaults.size() && !function.param_defaults[i].empty()) {
        out << " = " << function.param_defaults[i];
      }
    }
    // A body without the word "return" returns nothing, whatever was inferred.
    TypeInfo return_type = function.return_type;
    if (function.body && function.body->find("return") == std::string::npos) return_type.kind = TYPE_VOID;
    const std::string returned = type_to_string(return_type);
    if (function.is_generator != 0) {
      // A generator returns an iterator, never its return statements' type:
      // the compiler infers it.
      out << ") {\n";
    } else if (function.is_async != 0) {
      out << "): Promise<" << returned << "> {\n";
    } else {
      out << "): " << returned << " {\n";
    }
    if (!function.body) {
      out << "    throw new Error(\"Not implemented\");\n";
    } else if (!function.body->empty()) {
      // One block: only its first line gets the indent, the rest stays as captured.
      // An empty body stays empty: a throw would change what the program does.
      out << "    " << apply_narrowing(*function.body, function) << "\n";
    }
    out << "}\n\n";
  }
}

// The generic form: boolean first parameter kept, every other parameter typed
// by the next of T, U, V, W, then any.
void write_generic_arrow(std::ostream& out, const ArrowInfo& arrow) {
  static constexpr const char* kTypeParameters[] = {"T", "U", "V", "W"};
  constexpr std::size_t kTyped = 16;
  const std::size_t count = arrow.param_names.size();
  const std::size_t typed = std::min(count, kTyped);

  std::vector<std::string> param_types;
  std::size_t handed_out = 0;
  for (std::size_t i = 0; i < typed; ++i) {
    if (i == 0 && type_at(arrow.param_types, 0).kind == TYPE_BOOLEAN) {
      param_types.emplace_back("boolean");
    } else if (handed_out < std::size(kTypeParameters)) {
      param_types.emplace_back(kTypeParameters[handed_out++]);
    } else {
      param_types.emplace_back("any");
    }
  }

  std::string names;
  std::string alternatives;
  for (std::size_t t = 0; t < handed_out; ++t) {
    names += (t > 0 ? ", " : "");
    names += kTypeParameters[t];
    alternatives += (t > 0 ? " | " : "");
    alternatives += kTypeParameters[t];
  }
  out << "declare const " << arrow.name << ": ";
  // An empty type parameter list `<>` does not parse; without type
  // parameters the arrow is written as a plain function type.
  if (handed_out > 0) out << "<" << names << ">";
  out << "(";
  for (std::size_t i = 0; i < typed; ++i) {
    out << arrow.param_names[i] << (flag_at(arrow.param_optional, i) ? "?: " : ": ") << param_types[i];
    if (i + 1 < count) out << ", ";  // counts every parameter, typed or not
  }
  out << ") => " << (handed_out > 0 ? alternatives : "any") << ";\n";
}

// 7. declare const NAME: (params) => type; for each arrow binding that is not
// a local of a function nor exported as a binding.
void write_arrows(std::ostream& out, const AnalysisResult& result, const LocalDeclarationIndex& locals,
                  const FunctionNames& functions) {
  const ExportedConstants exported(result.exports);
  std::unordered_set<std::string_view> written;
  for (const ArrowInfo& arrow : result.arrows) {
    if (arrow.is_local != 0 || locals.contains(arrow.name)) continue;
    // The export section copies `export const NAME = (...) => ...` whole; a
    // second declaration of NAME would not compile. Nor would a second
    // binding of a name, or a binding of a function's name.
    if (arrow.is_exported != 0 || exported.mentions(arrow.name)) continue;
    if (functions.count(arrow.name) != 0 || !written.insert(arrow.name).second) continue;
    if (arrow.is_promise != 0) {
      out << "declare const " << arrow.name << ": Promise<any>;\n";
    } else if (arrow.is_generic != 0) {
      write_generic_arrow(out, arrow);
    } else {
      out << "declare const " << arrow.name << ": (";
      for (std::size_t i = 0; i < arrow.param_names.size(); ++i) {
        if (i > 0) out << ", ";
        out << arrow.param_names[i] << (flag_at(arrow.param_optional, i) ? "?: " : ": ")
            << type_to_string(type_at(arrow.param_types, i));
      }
      out << ") => " << type_to_string(arrow.return_type) << ";\n";
    }
  }
}

// A field declared with a `#` name: flagged private by the class pass, or
// still written with its `#`.
bool is_private_field(const ClassInfo& klass, std::size_t i) {
  return flag_at(klass.field_private, i) || klass.field_names[i].starts_with('#');
}

// The member names a class block must not repeat, [0] for instance members
// and [1] for static ones.
using MemberNames = std::array<std::unordered_set<std::string>, 2>;

// 8. declare class NAME [extends BASE] { fields; constructor(...); methods }
void write_classes(std::ostream& out, const AnalysisResult& result) {
  // Two classes of one name (each local to its own function, say) would be
  // declared twice (TS2300): the first is written, as every lookup finds it.
  std::unordered_set<std::string_view> classes_written;
  for (const ClassInfo& klass : result.classes) {
    // A class local to a body stays there, with the body that declares it.
    if (klass.is_local != 0) continue;
    if (!classes_written.insert(klass.name).second) continue;
    out << "\ndeclare class " << klass.name;
    if (klass.base_name) out << " extends " << *klass.base_name;
    out << " {\n";
    // A private `#n` is written `private n` unless a public member of the
    // same kind (static or not) is called n too; it is then written `#n`,
    // which keeps the two apart.
    MemberNames public_names;
    for (std::size_t i = 0; i < klass.field_names.size(); ++i) {
      if (!is_private_field(klass, i)) public_names[flag_at(klass.field_static, i)].insert(klass.field_names[i]);
    }
    for (const MethodInfo& method : klass.methods) {
      if (!method.name.starts_with('#')) public_names[method.is_static != 0].insert(method.name);
    }
    // A member name may be declared once (TS2300): the first field of a name
    // is written, and a method of that name is left out.
    MemberNames fields_written;
    std::unordered_set<std::string_view> getters;
    for (std::size_t i = 0; i < klass.field_names.size(); ++i) {
      const bool is_static = flag_at(klass.field_static, i);
      const std::string& name = klass.field_names[i];
      std::string shown = name.starts_with('#') ? name.substr(1) : name;
      bool private_keyword = flag_at(klass.field_private, i);
      if (is_private_field(klass, i) && public_names[is_static].count(shown) != 0) {
        shown.insert(0, "#");
        private_keyword = false;
      }
      if (flag_at(klass.field_readonly, i)) getters.insert(name);
      if (!fields_written[is_static].insert(shown).second) continue;
      out << "    ";
      if (is_static) out << "static ";
      if (private_keyword) out << "private ";
      if (flag_at(klass.field_readonly, i)) out << "readonly ";
      out << shown << ": " << type_to_string(type_at(klass.field_types, i)) << ";\n";
    }
    out << "    constructor(";
    for (std::size_t i = 0; i < klass.ctor_param_names.size(); ++i) {
      if (i > 0) out << ", ";
      out << klass.ctor_param_names[i] << (flag_at(klass.ctor_param_optional, i) ? "?: " : ": ")
          << type_to_string(type_at(klass.ctor_param_types, i));
    }
    out << ");\n";
    for (const MethodInfo& method : klass.methods) {
      if (getters.count(method.name) != 0) continue;  // already written as a readonly field
      if (fields_written[method.is_static != 0].count(method.name) != 0) continue;
      out << "    " << (method.is_static != 0 ? "static " : "") << method.name << "(";
      for (std::size_t i = 0; i < method.param_names.size(); ++i) {
        if (i > 0) out << ", ";
        out << method.param_names[i] << (flag_at(method.param_optional, i) ? "?: " : ": ")
            << (i < method.param_types.size() ? type_to_string(method.param_types[i]) : "any");
      }
      const std::string returned = type_to_string(method.return_type);
      if (method.is_async != 0) {
        out << "): Promise<" << returned << ">;\n";
      } else {
        out << "): " << returned << ";\n";
      }
    }
    out << "}\n\n";
  }
}

struct ExportedDeclaration {
  std::string_view name;  // empty when the statement declares no function or class
  bool is_default = false;
};

// The name a statement `export [default] [async] function[*] NAME` or
// `export [default] class NAME` declares.
ExportedDeclaration exported_declaration(std::string_view statement) {
  ExportedDeclaration declared;
  std::size_t at = 0;
  auto skip_blanks = [&] {
    while (at < statement.size() && std::isspace(static_cast<unsigned char>(statement[at])) != 0) ++at;
  };
  auto take_word = [&](std::string_view word) {
    if (!statement.substr(at).starts_with(word)) return false;
    if (at + word.size() < statement.size() && is_identifier_byte(statement[at + word.size()])) return false;
    at += word.size();
    skip_blanks();
    return true;
  };
  if (!take_word("export")) return declared;
  declared.is_default = take_word("default");
  take_word("async");
  if (take_word("function")) {
    if (at < statement.size() && statement[at] == '*') {
      ++at;
      skip_blanks();
    }
  } else if (!take_word("class")) {
    return declared;
  }
  std::size_t end = at;
  while (end < statement.size() && is_identifier_byte(statement[end])) ++end;
  declared.name = statement.substr(at, end - at);
  return declared;
}

// 9. Export statements as captured; `export const NAME = ...` of a known
// variable gains its type.
void write_exports(std::ostream& out, const AnalysisResult& result) {
  // The first variable of each name; a statement `export const NAME =...`
  // can only name the blank-free word after `export const ` when that word is
  // followed by " =". A variable name with blanks, which no scan produces,
  // makes the section test every variable against every statement instead.
  const bool exact_words = std::none_of(result.vars.begin(), result.vars.end(),
                                        [](const VarInfo& var) { return has_space(var.name); });
  const FirstByName<const VarInfo> first_var(result.vars);

  const FirstByName<const FuncInfo> functions(result.funcs);
  const FirstByName<const ClassInfo> classes(result.classes);
  const FirstByName<const ArrowInfo> arrows(result.arrows);

  for (const std::string& statement : result.exports) {
    // `export [default] function NAME ...` and `export [default] class NAME`
    // declare what the function, class or arrow sections already wrote; the
    // statement itself would declare NAME a second time, so only the export
    // is kept. A function is written with its body and is exported as a
    // value; a class or generator is only declared, and exporting it as a
    // value would fail when the compiled module loads, so its type is
    // exported.
    const ExportedDeclaration declared = exported_declaration(statement);
    if (!declared.name.empty()) {
      const bool defined = functions.find(declared.name) != nullptr;
      const bool ambient = !defined && (classes.find(declared.name) != nullptr || arrows.find(declared.name) != nullptr);
      if (defined) {
        out << (declared.is_default ? "export default " + std::string(declared.name) + ";\n"
                                    : "export { " + std::string(declared.name) + " };\n");
        continue;
      }
      if (ambient) {
        out << "export type { " << declared.name << (declared.is_default ? " as default" : "") << " };\n";
        continue;
      }
    }
    const VarInfo* typed = nullptr;
    if (statement.starts_with(kExportConst)) {
      if (exact_words) {
        const std::size_t from = kExportConst.size();
        std::size_t to = from;
        while (to < statement.size() && std::isspace(static_cast<unsigned char>(statement[to])) == 0) {
          ++to;
        }
        if (std::string_view(statement).substr(to).starts_with(" =")) {
          typed = first_var.find(std::string_view(statement).substr(from, to - from));
        }
      } else {
        for (const VarInfo& var : result.vars) {
          if (statement.starts_with(std::string(kExportConst) + var.name + " =")) {
            typed = &var;
            break;
          }
        }
      }
    }
    if (typed == nullptr) {
      out << statement << "\n";
      continue;
    }
    const std::size_t prefix = kExportConst.size() + typed->name.size() + 2;  // "NAME ="
    out << "export const " << typed->name << ": " << type_to_string(typed->type) << " ="
        << std::string_view(statement).substr(prefix) << "\n";
  }
}

}  // namespace

void write_ts_typed(std::ostream& out, const AnalysisResult& result) {
  // Built once: every variable and arrow is tested against every body.
  write_ts_typed(out, result, build_local_declaration_index(result));
}

void write_ts_typed(std::ostream& out, const AnalysisResult& result, const LocalDeclarationIndex& locals) {
  out << "// Automatically generated by KORVEX V1\n\n";
  for (const std::string& statement : result.imports) out << statement << "\n";
  write_type_imports(out, result);
  write_interfaces(out, result);
  const FunctionNames functions = top_level_function_names(result);
  write_variables(out, result, locals, functions);
  write_functions(out, result);
  write_arrows(out, result, locals, functions);
  write_classes(out, result);
  write_exports(out, result);
  // Without an import or export of its own the file would be a script, whose
  // declarations clash with the global names of the DOM and Node (`name`,
  // `Range`, `parent`); one empty export makes it a module.
  if (result.imports.empty() && result.exports.empty()) out << "export {};\n";
}
