#include "pipeline/project_modules.h"

#include <filesystem>
#include <system_error>

#include "analysis/syntax.h"
#include "core/reader.h"
#include "core/tokenizer.h"

namespace {

namespace fs = std::filesystem;

// Rounds of the whole project before the files are written: one alone, one
// knowing the first.
constexpr int kProjectRounds = 2;

// The key of a path: absolute and normalised, with forward slashes, so that
// `src/../src/a.js` and `./src/a.js` meet.
std::string module_key(const fs::path& path) {
  std::error_code error;
  fs::path absolute = fs::absolute(path, error);
  if (error) absolute = path;
  return absolute.lexically_normal().generic_string();
}

// The key of the file of the run that `specifier` names from the file at
// `from`; empty when it names none.
std::string find_module(const ProjectModules& project, const std::string& from, std::string_view specifier) {
  if (!specifier.starts_with("./") && !specifier.starts_with("../")) return {};
  const fs::path base = fs::path(from).parent_path() / fs::path(std::string(specifier));
  for (const fs::path& candidate : {base, fs::path(base.string() + ".js"), base / "index.js"}) {
    std::string key = module_key(candidate);
    if (project.by_path.count(key) != 0) return key;
  }
  return {};
}

}  // namespace

FileEvidence module_evidence_of(std::string_view source, const ProjectView* view) {
  const TokenList tokens = tokenize(source);
  const std::vector<int> match = match_brackets(tokens);
  return infer_evidence(source, tokens, match, view);
}

std::unique_ptr<ProjectModules> project_modules_of(const std::vector<std::string>& paths) {
  struct Source {
    std::string path;
    std::string key;
    std::string text;
  };
  std::vector<Source> sources;
  for (const std::string& path : paths) {
    SourceRead read = read_js_source(path);
    if (read.failure == SourceFailure::none) sources.push_back({path, module_key(path), std::move(read.text)});
  }
  if (sources.size() < 2) return nullptr;
  // Each file alone first; then once more knowing what the first round
  // found, so that a result built on another file's function (itself typed
  // by the calls a third file makes) reaches its callers too.
  std::unique_ptr<ProjectModules> known;
  for (int round = 0; round < kProjectRounds; ++round) {
    auto next = std::make_unique<ProjectModules>();
    std::vector<std::pair<const Source*, std::vector<OutgoingCall>>> calls;
    for (const Source& source : sources) {
      ProjectView view;
      if (known) {
        view.modules = module_resolver_for(*known, source.path);
        view.incoming = &known->by_path[source.key].incoming;
      }
      FileEvidence evidence = module_evidence_of(source.text, known ? &view : nullptr);
      next->by_path[source.key].exports = std::move(evidence.exports);
      if (!evidence.outgoing.empty()) calls.emplace_back(&source, std::move(evidence.outgoing));
    }
    for (auto& [source, outgoing] : calls) {
      for (OutgoingCall& call : outgoing) {
        const std::string target = find_module(*next, source->path, call.specifier);
        if (!target.empty()) next->by_path[target].incoming[call.name].push_back(std::move(call.args));
      }
    }
    known = std::move(next);
  }
  return known;
}

InlineOutput transpile_inline_of(const std::string& path, std::string_view source, const ProjectModules* modules,
                                 const TranspileObserver& observer) {
  if (modules == nullptr) return transpile_inline(source, observer);
  ProjectView view;
  view.modules = module_resolver_for(*modules, path);
  const auto own = modules->by_path.find(module_key(path));
  if (own != modules->by_path.end()) view.incoming = &own->second.incoming;
  return transpile_inline(source, observer, &view);
}

ModuleResolver module_resolver_for(const ProjectModules& project, const std::string& path) {
  return [&project, path](std::string_view specifier) -> const ModuleExports* {
    const std::string key = find_module(project, path, specifier);
    return key.empty() ? nullptr : &project.by_path.at(key).exports;
  };
}
