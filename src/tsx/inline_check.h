// The compiler check of the inline form: annotations on lines the compiler
// rejects are taken out again, and the result is never worse than the source
// compiled unchanged.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "generator/inline_emitter.h"

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

// Mode auto with --inline: writes the inline form, compiles it into dist/,
// drops rejected annotations and compiles again (at most twice more), falls
// back to the class field declarations alone, or to the source unchanged,
// when the source unchanged compiles with fewer errors, and
// reports how many annotations were written, kept and dropped. 0 when the
// final compile succeeded.
int tsx_run_inline_pipeline(const std::string& path);
