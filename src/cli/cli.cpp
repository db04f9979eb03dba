#include "cli/cli.h"

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cli_maintenance.h"
#include "cli/cli_batch.h"
#include "cli/cli_project.h"
#include "cli/cli_storage.h"
#include "cli/cli_system.h"
#include "core/console.h"
#include "core/filesystem.h"
#include "pipeline/run.h"
#include "platform/platform.h"
#include "platform/tool_probe.h"

namespace {

// The argument list without the verbose switches: [0] the program path as
// invoked, [1] the command word, [2...] its items.
using Args = std::vector<std::string>;

// Six lines of block letters spelling KORVEX, and the colour of each.
constexpr const char* kBannerArt[] = {
    "  ██╗  ██╗ ██████╗ ██████╗ ██╗   ██╗███████╗██╗  ██╗",
    "  ██║ ██╔╝██╔═══██╗██╔══██╗██║   ██║██╔════╝╚██╗██╔╝",
    "  █████╔╝ ██║   ██║██████╔╝██║   ██║█████╗   ╚███╔╝ ",
    "  ██╔═██╗ ██║   ██║██╔══██╗╚██╗ ██╔╝██╔══╝   ██╔██╗ ",
    "  ██║  ██╗╚██████╔╝██║  ██║ ╚████╔╝ ███████╗██╔╝ ██╗",
    "  ╚═╝  ╚═╝ ╚═════╝ ╚═╝  ╚═╝  ╚═══╝  ╚══════╝╚═╝  ╚═╝",
};
constexpr const char* kBannerColours[] = {CLR_MAGENTA, CLR_MAGENTA, CLR_CYAN, CLR_CYAN, CLR_MAGENTA, CLR_MAGENTA};

// Each line is printed with one line break appended.
constexpr const char* kHelpLines[] = {
    "Usage:",
    "  kvx <file.js> [file2.js ...]   Convert one or more JS files to .ts\n",
    "Transpilation Modes:",
    "  kvx mode <a|w|g|auto>  Set default mode (a: fast, w: full, g: safe JS, auto: full pipeline)",
    "  kvx a <file.js>        Append new types incrementally to existing .ts",
    "  kvx w <file.js>        Rebuild .ts file completely from scratch",
    "  kvx g <file.js>        Harden .ts via TSX engine & compile to dist/*.js",
    "  kvx auto <file.js>     Full pipeline: JS -> TS -> TSX -> tsc -> dist/*.js\n",
    "Information & Maintenance:",
    "  kvx h, help            Show this help message",
    "  kvx v, version         Show current version",
    "  kvx info               Show engine & environment versions",
    "  kvx doctor             Run full system & environment diagnostic",
    "  kvx stats              Show transpilation usage statistics",
    "  kvx clean              Remove generated/ and dist/ folders",
    "  kvx check-update       Check if a newer version is available",
    "  kvx update             Download and install the latest version\n",
    "Code Runner Management:",
    "  kvx add <file|dir>     Add a file or directory to the queue",
    "  kvx rm <file|dir>      Remove a file or directory from the queue",
    "  kvx ls, dir            Display registered files and active mode",
    "  kvx clear              Clear the file list",
    "  kvx go, run [dir]      Transpile queued items or a target directory\n",
    "History & Configuration:",
    "  kvx hist               Show command history",
    "  kvx hist-clear         Clear command history",
    "  kvx errors             Show logged error history",
    "  kvx cfg                Show configuration",
    "  kvx cfg-reset          Reset configuration to defaults\n",
    "Options:",
    "  --verbose, -V          Show detailed logs from all 10 analyzers",
    "  --inline               Write the whole program with its types in place (w, a, auto, go, run)",
    "  --report FILE          With auto --inline on a folder: the summary as JSON in FILE\n",
};

// Files handed to one mode; 1 if any of them failed. The rest still run.
int run_files(const Args& args, size_t first, const std::string& mode, const RunOptions& options) {
  int failed = 0;
  RunOptions run_options = options;
  OutputClaims claims;  // two files of one command never write the same output
  run_options.claims = &claims;
  // and what each exports is known where the others require it
  const std::unique_ptr<ProjectModules> modules =
      cli_project_modules(options, std::vector<std::string>(args.begin() + static_cast<std::ptrdiff_t>(first), args.end()));
  if (modules) run_options.modules = modules.get();
  ProjectCheck project;  // and share one compiler session
  project_check_begin(project, mode, run_options, false);
  for (size_t i = first; i < args.size(); ++i) {
    if (cli_execute_with_mode(args[i], mode, run_options) != 0) ++failed;
  }
  project_check_end(project, run_options);
  return failed > 0 ? 1 : 0;
}

// go/run followed by folders: every .js file below them in the active mode.
int run_folder_batch(const Args& args, const RunOptions& options) {
  const std::string mode = cli_mode_get();
  int total = 0;
  int succeeded = 0;
  std::printf(CLR_CYAN "\n=== Running KVX Batch Processor (mode: %s) ===\n\n" CLR_RESET, mode.c_str());
  cli_runner_run_directories({args.begin() + 2, args.end()}, mode, &total, &succeeded, options);
  std::printf(CLR_GREEN "\n[DONE] %d / %d file(s) transpiled successfully.\n\n" CLR_RESET, succeeded, total);
  cli_history_log("run-dir", args[2]);
  return total > 0 && succeeded == total ? 0 : 1;  // a batch that found nothing fails
}

// The default rule: every entry from the command word on is a file for the
// active mode.
int run_default(const Args& args, const RunOptions& options) {
  return run_files(args, 1, cli_mode_get(), options);
}

bool always(const Args&) { return true; }
bool no_items(const Args& args) { return args.size() <= 2; }
bool has_items(const Args& args) { return args.size() > 2; }
bool names_list(const Args& args) { return args.size() > 2 && (args[2] == "liste" || args[2] == "list"); }

struct CommandRow {
  std::vector<std::string_view> words;
  bool (*applies)(const Args&);  // a row whose condition fails does not match
  int (*run)(const Args&);
  // Rows that transpile files take the run options in place of `run`.
  int (*run_with)(const Args&, const RunOptions&) = nullptr;
};

// Searched top to bottom; the first row whose word and condition match runs.
const std::vector<CommandRow>& command_table() {
  static const std::vector<CommandRow> table = {
      {{"h", "help", "--help", "-h"}, always, [](const Args&) { return cli_print_help(), 0; }},
      {{"v", "version", "--version", "-v"}, always, [](const Args&) { return cli_print_version(), 0; }},
      {{"info"}, always, [](const Args&) { return cli_print_info(), 0; }},
      {{"doctor"}, always, [](const Args&) { return cli_run_doctor(), 0; }},
      {{"add"}, no_items,
       [](const Args&) { return std::printf(CLR_RED "Usage: kvx add <file.js|dir>\n" CLR_RESET), 1; }},
      {{"add"}, has_items,
       [](const Args& args) {
         for (size_t i = 2; i < args.size(); ++i) cli_runner_add(args[i]);
         return 0;
       }},
      {{"rm"}, no_items,
       [](const Args&) { return std::printf(CLR_RED "Usage: kvx rm <file.js|dir>\n" CLR_RESET), 1; }},
      {{"rm"}, has_items,
       [](const Args& args) {
         for (size_t i = 2; i < args.size(); ++i) cli_runner_rm(args[i]);
         return 0;
       }},
      {{"ls", "dir"}, always, [](const Args&) { return cli_runner_ls(), 0; }},
      {{"clear"}, always, [](const Args&) { return cli_runner_clear(), 0; }},
      {{"go", "run"}, no_items, nullptr, [](const Args&, const RunOptions& o) { return cli_runner_go(o); }},
      {{"go", "run"}, names_list, nullptr,
       [](const Args&, const RunOptions& o) { return cli_runner_go_safe_js(o); }},
      {{"go", "run"}, always, nullptr, run_folder_batch},
      {{"hist"}, always, [](const Args&) { return cli_history_show(), 0; }},
      {{"hist-clear"}, always, [](const Args&) { return cli_history_clear(), 0; }},
      {{"errors"}, always, [](const Args&) { return cli_errors_show(), 0; }},
      {{"cfg"}, always, [](const Args&) { return cli_config_show(), 0; }},
      {{"cfg-reset"}, always, [](const Args&) { return cli_config_reset(), 0; }},
      {{"mode"}, no_items, [](const Args&) { return cli_mode_show(), 0; }},
      {{"mode"}, has_items, [](const Args& args) { return cli_mode_set(args[2]), 0; }},
      {{"a", "w", "g", "auto"}, has_items, nullptr,
       [](const Args& args, const RunOptions& o) { return run_files(args, 2, args[1], o); }},
      {{"clean"}, always, [](const Args&) { return cli_clean_outputs(), 0; }},
      {{"stats"}, always, [](const Args&) { return cli_stats_show(), 0; }},
      {{"check-update"}, always, [](const Args&) { return cli_check_update(KVX_VERSION); }},
      {{"update"}, always, [](const Args&) { return cli_perform_update(); }},
      {{"install"}, always, [](const Args& args) { return cli_self_install(args[0]); }},
      {{"uninstall"}, always, [](const Args&) { return cli_perform_uninstall(); }},
  };
  return table;
}

}  // namespace

int kvx_cli_execute(int argc, char** argv) {
  // First, so that a --verbose on the command line wins over the editor's
  // "false".
  cli_sync_vscode_settings();

  Args args;
  RunOptions options;
  for (int i = 0; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--verbose" || arg == "-V") {
      g_kvx_verbose = 1;
      continue;
    }
    if (arg == "--inline") {
      options.inline_form = true;
      continue;
    }
    // --report FILE: a folder run in mode auto --inline writes its summary there as JSON.
    if (arg == "--report" && i + 1 < argc) {
      options.report_path = argv[++i];
      continue;
    }
    args.emplace_back(arg);
  }
  if (args.size() <= 1) {
    cli_print_help();
    return 0;
  }
  for (const CommandRow& row : command_table()) {
    bool named = false;
    for (std::string_view word : row.words) named = named || args[1] == word;
    if (named && row.applies(args)) return row.run_with != nullptr ? row.run_with(args, options) : row.run(args);
  }
  return run_default(args, options);
}

void cli_print_banner() {
  platform_console_utf8();
  std::printf("\n");
  constexpr size_t kLines = sizeof kBannerArt / sizeof kBannerArt[0];
  for (size_t i = 0; i < kLines; ++i) {
    std::printf("%s%s%s" CLR_RESET, kBannerColours[i], kBannerArt[i], i + 1 == kLines ? "\n\n" : "\n");
  }
  std::printf(CLR_WHITE "      JavaScript " CLR_CYAN "→" CLR_WHITE " TypeScript " CLR_CYAN "→" CLR_WHITE
                        " Secure JavaScript\n\n" CLR_RESET);
}

void cli_print_help() {
  cli_print_banner();
  std::printf(CLR_CYAN "\nKORVEX (kvx) - JavaScript to TypeScript Transpiler v%s\n\n" CLR_RESET, KVX_VERSION);
  for (const char* line : kHelpLines) std::printf("%s\n", line);
}

void cli_print_version() {
  cli_print_banner();
  std::printf("KORVEX (kvx) version %s\n", KVX_VERSION);
}

void cli_print_info() {
  // Both tools answer before anything is printed.
  const bool node = cli_check_tool_version("node -v").has_value();
  const bool tsc = cli_check_tool_version("npx tsc -v").has_value();
  std::printf(CLR_CYAN "\n=== KORVEX Engine Info ===\n" CLR_RESET);
  std::printf("  KORVEX Core   : %s\n", KVX_VERSION);
  std::printf("  TSX Engine   : %s\n", KVX_VERSION);
  std::printf("  CLI          : %s\n\n", KVX_VERSION);
  std::printf("  Node.js      : %s\n", node ? "detected" : "missing");
  std::printf("  TypeScript   : %s\n\n", tsc ? "detected" : "missing");
}

void cli_run_doctor() {
  int issues = 0;
  std::printf(CLR_CYAN "\n=== KORVEX Diagnostic ===\n\n" CLR_RESET);
  std::printf(CLR_GREEN "  [OK] " CLR_RESET "Core, Reader, Tokenizer, Analyzer (Passes 1-10) & Generator loaded\n");
  std::printf(CLR_GREEN "  [OK] " CLR_RESET "TSX Security & Optimization Engine loaded\n\n");

  if (const std::optional<std::string> answer = cli_check_tool_version("node -v")) {
    std::printf(CLR_GREEN "  [OK] " CLR_RESET "Node.js detected (%s)\n", answer->c_str());
  } else {
    std::printf(CLR_RED "  [FAIL] " CLR_RESET "Node.js not found (Download: %s)\n", workspace_node_download_url());
    ++issues;
  }
  if (const std::optional<std::string> answer = cli_check_tool_version("npm -v")) {
    std::printf(CLR_GREEN "  [OK] " CLR_RESET "npm detected (v%s)\n", answer->c_str());
  } else {
    std::printf(CLR_RED "  [FAIL] " CLR_RESET "npm not found\n");
    ++issues;
  }
  if (const std::optional<std::string> answer = cli_check_tool_version("npx -v")) {
    std::printf(CLR_GREEN "  [OK] " CLR_RESET "npx detected (v%s)\n", answer->c_str());
  } else {
    std::printf(CLR_RED "  [FAIL] " CLR_RESET "npx not found\n");
    ++issues;
  }
  if (const std::optional<std::string> answer = cli_check_tool_version("npx tsc -v")) {
    std::printf(CLR_GREEN "  [OK] " CLR_RESET "TypeScript detected (%s)\n\n", answer->c_str());
  } else {
    std::printf(CLR_RED "  [FAIL] " CLR_RESET "TypeScript not found (Run: npm install -g typescript)\n\n");
    ++issues;
  }

  ensure_generated_folder();
  if (cli_check_dir_writable("generated")) {
    std::printf(CLR_GREEN "  [OK] " CLR_RESET "generated/ writable\n");
  } else {
    std::printf(CLR_RED "  [FAIL] " CLR_RESET "generated/ is not writable\n");
    ++issues;
  }
  if (cli_check_dir_writable(".")) {
    std::printf(CLR_GREEN "  [OK] " CLR_RESET "Workspace root writable\n");
  } else {
    std::printf(CLR_RED "  [FAIL] " CLR_RESET "Workspace root is not writable\n");
    ++issues;
  }
  if (cli_check_in_path()) {
    std::printf(CLR_GREEN "  [OK] " CLR_RESET "PATH contains KORVEX\n");
  } else {
    std::printf(CLR_YELLOW "  [!]  " CLR_RESET
                           "PATH does not contain KORVEX folder (Run 'kvx install' or restart terminal)\n");
    ++issues;
  }

  if (issues == 0) {
    std::printf(CLR_GREEN "  [OK] " CLR_RESET "Auto pipeline ready\n");
    std::printf(CLR_GREEN "\nNo problems detected.\n\n" CLR_RESET);
  } else {
    std::printf(CLR_RED "  [FAIL] " CLR_RESET "Auto pipeline not ready\n");
    std::printf(CLR_YELLOW "\n%d issue(s) detected. Please fix them before using Mode G or AUTO.\n\n" CLR_RESET,
                issues);
  }
}
