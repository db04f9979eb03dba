// Evidence inference: the types the code itself proves, for the inline form.
//
// The declarations form writes the guesses of the heuristic passes; the inline
// form becomes the team's new source, so it writes a type only where the code
// shows it: literals, operators, calls of well-known string, number, array and
// promise methods, `new C` of a class of the file, the values a function
// returns, the arguments its calls in the file pass, the uses of a parameter
// in its body and JSDoc types. Where the evidence is missing or disagrees the
// type stays open and nothing is written; no type is better than a wrong one.
// Nothing here reads the analysis result: a name is never typed by its
// spelling, and the condition of a test never stands for its value.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/tokenizer.h"

// One type the evidence proves: the members of a union (at most three), each a
// TypeScript type text. `open` is no type at all; `nullish` is only `null` or
// `undefined`, which the compiler's non-strict checks fold into every type.
struct EvidenceType {
  enum class State : unsigned char { open, nullish, known };
  State state = State::open;
  std::vector<std::string> members;

  static EvidenceType of(std::string member);
  bool known() const { return state == State::known; }
  bool is(std::string_view member) const { return known() && members.size() == 1 && members[0] == member; }
};

// The union of two types: open when either is, `nullish` folded away.
EvidenceType join_types(const EvidenceType& a, const EvidenceType& b);
// The type as TypeScript text (`number | string`, `(number | string)[]` for
// an array of it); empty when it is not known.
std::string render_evidence_type(const EvidenceType& type);

// One parameter of a list: tokens [first, last), and the type to write after
// its name (empty: write nothing, including where the compiler already
// infers it from a default value).
struct EvidenceParam {
  int first = 0;
  int last = 0;
  int name = -1;  // the name token of a plain or rest parameter, else -1
  std::string type;
  // JSDoc marks it optional (`@param {T} [name]`) and nothing after it is
  // required: written `name?: T`, so that calls leaving it out stay valid.
  bool optional = false;
};

struct EvidenceFunction {
  int head = -1;          // first token: `async`, `function`, the method's name or the arrow's parameters
  int params_open = -1;   // `(`; -1 for `x => ...`
  int params_close = -1;  // `)`, or the lone parameter of `x => ...`
  int body_open = -1;     // `{` of the body, or the first token of an arrow's expression body
  int body_end = -1;      // `}` of the body, or the token ending the expression body
  bool is_async = false;
  bool is_generator = false;
  bool is_arrow = false;
  bool is_method = false;  // of a class or an object literal
  bool is_getter = false;
  bool is_setter = false;
  bool is_constructor = false;
  int class_id = -1;  // the class a method belongs to
  int parent = -1;    // the enclosing function
  std::string name;   // for the compiler check's tracing: the function, method or class name
  std::vector<EvidenceParam> params;
  std::string result;  // the result type to write after the parameter list; empty: nothing
};

struct EvidenceField {
  std::string name;
  bool is_static = false;
  std::string type;  // empty: declared without a type
};

struct EvidenceClass {
  int keyword = -1;
  int body_open = -1;
  int body_close = -1;
  std::string name;
  // Whether the walk understood every member, so that the names below are
  // all of them and a declared field cannot clash with one.
  bool members_complete = false;
  std::vector<std::string> member_names;
  std::vector<EvidenceField> fields;  // properties it assigns but never declares
};

// A variable declared without a value (or with `null`) whose assignments all
// agree: the type to write after its name token.
struct EvidenceVariable {
  int name = -1;
  std::string type;
};

// What a module of the run gives the files that require or import it: its
// exported functions (by exported name; `default` for `module.exports = f`
// and `export default`), with the types the evidence proved for them.
struct ExportedFunction {
  std::vector<EvidenceType> params;
  EvidenceType result;
};

struct ModuleExports {
  std::unordered_map<std::string, ExportedFunction> functions;
  std::vector<std::string> classes;  // ES exported classes (`default` for `export default class`)
  // Other exported values of a known type (`exports.VERSION = '1.2'`,
  // `export const LIMIT = 10`), each assigned once.
  std::unordered_map<std::string, EvidenceType> values;
};

// The exports of the module a relative specifier (`./util`) of the file
// names, when it is one of the run; null otherwise.
using ModuleResolver = std::function<const ModuleExports*(std::string_view specifier)>;

// By exported name: the argument types of each call other files of the run
// make of it (open where a call's argument is not known).
using IncomingCalls = std::unordered_map<std::string, std::vector<std::vector<EvidenceType>>>;

// What a file knows of the rest of its run.
struct ProjectView {
  ModuleResolver modules;
  const IncomingCalls* incoming = nullptr;
};

// A call the file makes of a function a relative module exports.
struct OutgoingCall {
  std::string specifier;
  std::string name;
  std::vector<EvidenceType> args;
};

struct FileEvidence {
  std::vector<EvidenceFunction> functions;  // in source order of their heads
  std::vector<EvidenceClass> classes;
  std::vector<EvidenceVariable> variables;
  // Why the file must stay a script (it relies on sloppy mode); empty when it
  // can become a module.
  std::string script_reason;
  bool has_module_syntax = false;  // a top-level import or export
  ModuleExports exports;
  std::vector<OutgoingCall> outgoing;
};

// `match` holds each bracket's partner (match_brackets).
// `project`, when given, tells what the relative modules the file requires
// or imports export, and how the other files call this one's exports.
FileEvidence infer_evidence(std::string_view source, const TokenList& tokens, const std::vector<int>& match,
                            const ProjectView* project = nullptr);

// A JSDoc type (`string`, `?number`, `Array.<string>`, `string|number`...) as
// TypeScript text, when it is one the inline form can write; empty otherwise.
// `classes` are the class names the file declares at its top level.
std::string jsdoc_type_text(std::string_view jsdoc, const std::vector<std::string>& classes);
