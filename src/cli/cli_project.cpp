#include "cli/cli_project.h"

#include <cstdio>
#include <set>

#include "core/console.h"
#include "core/filesystem.h"
#include "core/reader.h"
#include "pipeline/prefetch.h"
#include "tsx/compiler_session.h"
#include "tsx/tsc_compiler.h"

void project_check_begin(ProjectCheck& check, const std::string& mode, RunOptions& options, bool summarize) {
  if (mode != "auto" || !options.inline_form || options.compiler != nullptr) return;
  check.active = true;
  check.summarize = summarize;
  options.compiler = &check.compiler;
  options.summary = &check.summary;
}

void project_check_preload(ProjectCheck& check, const std::vector<std::pair<std::string, std::string>>& files,
                           const ProjectModules* modules) {
  if (!check.active || files.size() < 2) return;
  // The compiler starts up while the files are prepared.
  compiler_session_launch_early(check.compiler);
  // The texts the run will write: inferred knowing what the other files
  // export, or each file's check ahead would be of another text.
  const PrefetchStep step = transpile_step(PrefetchForm{true, false, modules});
  std::vector<InlineCheckInput> inputs;
  std::set<std::string> claimed;  // as the run's claims: the first source of an output only
  for (const auto& [path, root] : files) {
    const OutputPath target = output_path_for(path, root);
    if (!claimed.insert(target.ts()).second) continue;
    SourceRead read = read_js_source(path);
    if (read.failure != SourceFailure::none) continue;
    std::optional<PrefetchedFile> file = step(path);
    if (!file) continue;
    inputs.push_back({target.ts(), target.mirrored, std::move(read.text), std::move(file->inline_output)});
  }
  if (inputs.size() >= 2) inline_check_ahead(check.compiler, std::move(inputs));
}

std::string project_report_json(const InlineRunSummary& summary) {
  std::string json = "{\n";
  json += "  \"files\": " + std::to_string(summary.files) + ",\n";
  json += "  \"clean\": " + std::to_string(summary.clean) + ",\n";
  json += "  \"annotations\": {\"written\": " + std::to_string(summary.written) +
          ", \"kept\": " + std::to_string(summary.kept) + "},\n";
  json += "  \"errors\": {\"before\": " + std::to_string(summary.errors_before) +
          ", \"after\": " + std::to_string(summary.errors_after) +
          ", \"added\": " + std::to_string(summary.errors_added) + "},\n";
  json += std::string("  \"compilerSession\": ") + (summary.session ? "true" : "false") + ",\n";
  json += "  \"results\": [";
  for (size_t i = 0; i < summary.files_checked.size(); ++i) {
    const InlineFileFigures& file = summary.files_checked[i];
    json += i == 0 ? "\n" : ",\n";
    json += "    {\"source\": " + json_quote(file.source) + ", \"generated\": " + json_quote(file.generated) +
            ", \"written\": " + std::to_string(file.written) + ", \"kept\": " + std::to_string(file.kept) +
            ", \"errorsBefore\": " + std::to_string(file.errors_before) +
            ", \"errorsAfter\": " + std::to_string(file.errors_after) +
            ", \"errorsAdded\": " + std::to_string(file.errors_added) +
            ", \"built\": " + (file.built ? "true" : "false") + "}";
  }
  json += summary.files_checked.empty() ? "]\n}\n" : "\n  ]\n}\n";
  return json;
}

std::string project_tsconfig_json(const InlineRunSummary& summary, bool node_types) {
  // The flags of the compile step, with the folders seen from generated/.
  std::string json =
      "{\n"
      "  \"compilerOptions\": {\n"
      "    \"target\": \"ES2020\",\n"
      "    \"module\": \"commonjs\",\n"
      "    \"esModuleInterop\": true,\n";
  if (node_types) json += "    \"types\": [\"node\"],\n";
  json +=
      "    \"strict\": false,\n"
      "    \"skipLibCheck\": true,\n"
      "    \"rootDir\": \".\",\n"
      "    \"outDir\": \"../dist\"\n"
      "  },\n"
      "  \"files\": [";
  constexpr std::string_view kFolder = "generated/";
  for (size_t i = 0; i < summary.files_checked.size(); ++i) {
    std::string_view file = summary.files_checked[i].generated;
    if (file.starts_with(kFolder)) file.remove_prefix(kFolder.size());
    json += (i == 0 ? "\n    " : ",\n    ") + json_quote(file);
  }
  json += summary.files_checked.empty() ? "]\n}\n" : "\n  ]\n}\n";
  return json;
}

void project_check_end(ProjectCheck& check, const RunOptions& options) {
  if (!check.active) return;
  check.compiler.session.reset();  // the compiler process ends here
  const InlineRunSummary& summary = check.summary;
  if (!check.summarize || summary.files == 0) return;
  std::printf(CLR_CYAN "\n=== KORVEX Inline Check Summary ===\n" CLR_RESET);
  std::printf("  Files         : %d checked, %d clean\n", summary.files, summary.clean);
  std::printf("  Annotations   : %d written, %d kept\n", summary.written, summary.kept);
  std::printf("  tsc errors    : %d in the sources as they are, %d after (%d added by kvx)\n",
              summary.errors_before, summary.errors_after, summary.errors_added);
  std::string reason;
  if (!replace_file_text("generated/tsconfig.json", project_tsconfig_json(summary, tsc_node_types_installed()),
                         reason)) {
    print_write_failure("generated/tsconfig.json", reason);
  } else {
    std::printf("  Reproduce     : tsc -p generated\n");
  }
  if (!options.report_path.empty()) {
    if (replace_file_text(options.report_path, project_report_json(summary), reason)) {
      std::printf(CLR_GREEN "[OK] Report written: %s\n" CLR_RESET, options.report_path.c_str());
    } else {
      print_write_failure(options.report_path, reason);
    }
  }
}
