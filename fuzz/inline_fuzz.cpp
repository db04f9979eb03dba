// libFuzzer target: the inline form from source bytes (tokenizer, analysis,
// evidence inference, inline emitter), alone and as a file of a run whose
// other module is the same source (so that its imports, requires and calls of
// relative modules are followed). The output is the source with insertions
// only: its size is the source's plus theirs, and cutting them out gives the
// source back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "pipeline/project_modules.h"
#include "pipeline/transpile.h"

namespace {

void check_insertions_only(std::string_view source, const InlineOutput& output) {
  size_t inserted = 0;
  int last = 0;
  for (const InlineInsertion& insertion : output.insertions) {
    if (insertion.offset < last || insertion.offset > static_cast<int>(source.size())) std::abort();
    last = insertion.offset;
    inserted += insertion.text.size();
  }
  if (output.text.size() != source.size() + inserted) std::abort();
  if (output.text != apply_insertions(source, output.insertions)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string source(reinterpret_cast<const char*>(data), size);
  check_insertions_only(source, transpile_inline(source));

  // The same source as the other module of a run: its exports and the calls
  // it makes of `./x` are what the file sees.
  FileEvidence alone = module_evidence_of(source);
  IncomingCalls incoming;
  for (OutgoingCall& call : alone.outgoing) incoming[call.name].push_back(std::move(call.args));
  const ModuleExports exports = std::move(alone.exports);
  ProjectView view;
  view.modules = [&exports](std::string_view specifier) -> const ModuleExports* {
    return specifier.starts_with("./") ? &exports : nullptr;
  };
  view.incoming = &incoming;
  check_insertions_only(source, transpile_inline(source, {}, &view));
  return 0;
}
