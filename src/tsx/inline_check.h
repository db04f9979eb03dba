// The compiler check of the inline form: annotations on lines the compiler
// rejects are taken out again, and the result is never worse than the source
// compiled unchanged.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "generator/inline_emitter.h"
#include "pipeline/run.h"
#include "tsx/compiler_session.h"

struct CompilerError {
  int line = 0;    // 1-based
  int column = 0;  // 1-based
  int code = 0;    // the number of TSxxxx
};

// The errors tsc reported for `file` in its plain output, lines of the form
// "file(LINE,COLUMN): error TSxxxx: ...".
std::vector<CompilerError> parse_compiler_errors(std::string_view output, std::string_view file);

// The errors of the inline text (the insertions in `keep` applied) that the
// source compiled unchanged does not have at the same place with the same
// code, and those inside an insertion: only these can be the annotations'.
std::vector<CompilerError> errors_not_in_source(std::string_view source, const std::vector<InlineInsertion>& insertions,
                                                const std::vector<bool>& keep, const std::vector<CompilerError>& errors,
                                                const std::vector<CompilerError>& source_errors);

// Takes out of `keep` the annotations the errors point at: on an error's
// line, the insertions that hold the error's column, or every insertion on
// that line when none does; on a line without insertions, the annotations of
// the name at the error (or of the object before `.name`, or of the function
// in `f(...).name`), and for an error at `return` the nearest result
// annotation before it; for an error in a call's argument list, the
// annotation of the called function's parameter at that position, and inside
// an object or array literal, the annotation of the name it is assigned to
// (or the result it is returned as). A single-parameter arrow's parentheses
// go with its annotation. Returns how many were taken out.
int drop_rejected_insertions(std::string_view source, const std::vector<InlineInsertion>& insertions,
                             std::vector<bool>& keep, const std::vector<CompilerError>& errors);

// Takes out of `keep` the annotations of the function each error stands in:
// those inside the innermost function span (source bytes) around the error
// that still holds a kept annotation, else those on the error's line. For the
// errors neither the names nor the places trace. Returns how many were taken
// out.
int drop_enclosing_insertions(std::string_view source, const std::vector<InlineInsertion>& insertions,
                              std::vector<bool>& keep, const std::vector<CompilerError>& errors,
                              const std::vector<std::pair<int, int>>& function_spans);

// Where the name at an offset of the checked text is declared: the offset
// right after the declared name, or nothing when it is not declared in the
// file (or cannot be told).
using DeclarationLookup = std::function<std::optional<int>(int offset)>;

// Takes out of `keep` the annotations of the declarations that the names at
// the errors refer to (the name at the error, else the object before
// `.name`), as `declaration_of` resolves them: an error at a use of `screen`
// comes from the annotation of `screen`, wherever it is reported. Returns
// how many were taken out.
int drop_traced_insertions(std::string_view source, const std::vector<InlineInsertion>& insertions,
                           std::vector<bool>& keep, const std::vector<CompilerError>& errors,
                           const DeclarationLookup& declaration_of);

// The figures of one checked file.
struct InlineFileFigures {
  std::string source;
  std::string generated;  // its generated .ts path
  int written = 0;
  int kept = 0;
  int errors_before = 0;
  int errors_after = 0;
  int errors_added = 0;
  bool built = false;  // its JavaScript was emitted
};

// The figures of the files a run checked in mode auto with --inline.
struct InlineRunSummary {
  std::vector<InlineFileFigures> files_checked;
  int files = 0;
  int written = 0;         // annotations written
  int kept = 0;            // annotations kept after the check
  int errors_before = 0;   // compiler errors of the sources copied unchanged
  int errors_after = 0;    // compiler errors of the final files
  int errors_added = 0;    // of those, the ones the annotations add
  int clean = 0;           // files that compile without error
  bool session = false;    // checked through one compiler session
};

// What the check of one file settled, kept from the check of a run's files
// together until the run reaches the file.
struct InlineCheckOutcome {
  std::string source;       // the file checked: its source
  std::string inline_text;  // and its inline form
  std::vector<bool> keep;   // the insertions kept
  int baseline_errors = 0;  // the source's own errors
  int status = 0;           // the final compile's: 0; 1 when nothing was emitted; 2 emitted with errors
  std::string output;       // its diagnostics as tsc prints them
  int errors = 0;
  int added = 0;                  // of those, the annotations'
  std::optional<std::string> js;  // the JavaScript to write
  bool session = false;
};

// A compiler session shared by the files of a run, started by the first file
// that needs it, and the outcomes of the files checked ahead (by generated
// path).
struct CompilerSessionSlot {
  std::optional<CompilerSession> session;
  bool tried = false;
  std::map<std::string, InlineCheckOutcome> outcomes;
};

// A file of a run to check ahead.
struct InlineCheckInput {
  std::string generated;  // its generated .ts path
  bool mirrored = false;
  std::string source;
  InlineOutput output;
};

// Checks the inline forms of a run's files together, as one program in the
// slot's session, and keeps each file's outcome in the slot: every step of
// the check (the sources' own errors, the inline texts, each round of
// dropping, the fallbacks) is one program of all the files still at it, so a
// round re-checks only the files that changed and those importing them. The
// run then reports each file as it reaches it. Nothing when the session
// cannot be had or breaks.
void inline_check_ahead(CompilerSessionSlot& slot, std::vector<InlineCheckInput> files);

// The session of the slot, started on first use; null when Node.js or the
// TypeScript compiler cannot be had that way (or the session broke).
CompilerSession* compiler_session_of(CompilerSessionSlot& slot);

// Starts the slot's session ahead of its first use, without waiting for it:
// the compiler loads and parses its library files while kvx prepares the
// run's files.
void compiler_session_launch_early(CompilerSessionSlot& slot);

// Mode auto with --inline: writes the inline form, checks it, drops the
// annotations behind the errors the source unchanged lacks and checks again
// (up to four rounds while such errors remain), falls back to the class
// field declarations alone, or to the source unchanged, when errors of the
// annotations remain or the source unchanged has fewer, compiles the result
// into dist/ and reports how many annotations were written, kept and
// dropped. A file the run checked ahead with the others (its outcome in
// options.compiler) is only written and reported; else the checks go
// through the run's compiler session (options.compiler, else one for the
// file), or through one compiler process each when it cannot be had. 0 when the final compile succeeded, or
// emitted with only the source's own errors left (a yellow line says so); 1
// when the annotations add errors or nothing could be compiled.
int tsx_run_inline_pipeline(const std::string& path, const RunOptions& options = {});
