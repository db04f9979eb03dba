// Inline emitter: the program itself with its inferred types written in
// place. The output is the source byte for byte plus insertions, so that a
// code base can move to TypeScript file by file and keep running as before.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "analysis/analyzer.h"
#include "analysis/evidence.h"
#include "core/tokenizer.h"

enum InlineInsertionKind : int {
  INLINE_VARIABLE = 0,   // `: T` after a declared name
  INLINE_PARAMETER = 1,  // `: T` after a parameter or its pattern
  INLINE_RESULT = 2,     // `: R` after a parameter list
  INLINE_FIELD = 3,      // ` declare name: T;` after a class body's `{`
  INLINE_INTERFACES = 4, // the interface block near the top
  INLINE_MODULE = 5,     // `export {};` at the end of a file that has no import or export
};

struct InlineInsertion {
  int offset = 0;  // byte offset in the source; the text goes before that byte
  std::string text;
  int kind = INLINE_VARIABLE;
  // The name a variable or parameter annotation types, or the function a
  // result annotation belongs to; empty otherwise.
  std::string name;
  // For a parameter annotation: the function it belongs to (the class for a
  // constructor) and its position, so that an argument the type rejects leads
  // back to it.
  std::string owner;
  int index = -1;
};

struct InlineOutput {
  std::string text;
  // In source order; several may share one offset and then keep list order.
  std::vector<InlineInsertion> insertions;
  int annotations = 0;  // insertions that write a type or a field (all but the interface block)
  int interfaces = 0;   // interfaces in the block
  // Why the file stays a script (it relies on sloppy mode, which a module's
  // strict mode would change); empty when it became a module or was one.
  std::string script_reason;
  // The source bytes [first, last) of each function, in source order of
  // their starts: where the compiler check looks for the annotations around
  // an error it cannot trace by name.
  std::vector<std::pair<int, int>> function_spans;
};

// Insertions only: a type is written where the code proves it (see
// analysis/evidence.h), nothing where it does not; `any` and `unknown` are
// never written.
// `project`, when given, tells what the other modules of the run export.
// `match`, when given, is the file's bracket partners (its index's), else
// they are found here.
InlineOutput emit_inline(std::string_view source, const TokenList& tokens, const AnalysisResult& result,
                         const ProjectView* project = nullptr, const std::vector<int>* match = nullptr);

// The source with the insertions whose `keep` entry is true (all when `keep`
// is empty) put in place.
std::string apply_insertions(std::string_view source, const std::vector<InlineInsertion>& insertions,
                             const std::vector<bool>& keep = {});

// Where each insertion starts in the text apply_insertions(source,
// insertions, keep) gives (-1 for the ones left out).
std::vector<int> insertion_output_offsets(const std::vector<InlineInsertion>& insertions,
                                          const std::vector<bool>& keep = {});
