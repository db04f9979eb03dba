#include "tsx/tsc_compiler.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "core/console.h"
#include "core/workspace_log.h"
#include "pipeline/run.h"
#include "platform/tool_probe.h"
#include "tsx/harden_target.h"
#include "tsx/tsx_engine.h"

namespace {

constexpr const char* kNodeTypesFile = "node_modules/@types/node/index.d.ts";

bool can_open_for_reading(const std::string& path) {
  std::error_code ignored;
  if (std::filesystem::is_directory(path, ignored)) return false;
  std::ifstream probe(path, std::ios::binary);
  return probe.is_open();
}

}  // namespace

bool tsc_node_types_installed() { return can_open_for_reading(kNodeTypesFile); }

PlatformCommand tsc_build_command(const std::string& input_path, bool node_types, bool mirrored) {
  // The Windows command line is formatted into a 1024-byte buffer.
  constexpr size_t kCommandBufferSize = 1024;
  const char* extra = node_types ? "--esModuleInterop --types node" : "--esModuleInterop";
  PlatformCommand command;
  command.command_line = "npx tsc \"" + input_path + "\" --outDir dist " +
                         (mirrored ? "--rootDir generated " : "") + "--target ES2020 --module commonjs " +
                         extra + " --strict false --skipLibCheck";
  if (command.command_line.size() > kCommandBufferSize - 1) {
    command.command_line.resize(kCommandBufferSize - 1);
  }
  command.argv = {"npx", "tsc", input_path, "--outDir", "dist"};
  if (mirrored) {
    command.argv.push_back("--rootDir");
    command.argv.push_back("generated");
  }
  for (const char* word : {"--target", "ES2020", "--module", "commonjs", "--esModuleInterop"}) {
    command.argv.push_back(word);
  }
  if (node_types) {
    command.argv.push_back("--types");
    command.argv.push_back("node");
  }
  for (const char* word : {"--strict", "false", "--skipLibCheck"}) command.argv.push_back(word);
  return command;
}

bool tsc_tools_ready() {
  if (!cli_check_tool_version("node -v")) {
    cli_print_missing_node_error();
    return false;
  }
  if (!cli_check_tool_version("npx tsc -v")) {
    cli_print_missing_tsc_error();
    return false;
  }
  return true;
}

int tsc_compile_to_dist(const std::string& path, const RunOptions& options) {
  if (!tsc_tools_ready()) return 1;

  const OutputPath output = options.output_of(path);
  const std::string input_path = output.ts();

  if (!can_open_for_reading(input_path)) {
    std::printf(CLR_RED "[ERROR] Generated TypeScript file '%s' does not exist yet.\n" CLR_RESET,
                input_path.c_str());
    std::printf(CLR_YELLOW "        Run 'kvx w %s' first to generate TypeScript, or use 'kvx auto "
                           "%s'.\n\n" CLR_RESET,
                path.c_str(), path.c_str());
    cli_error_log("Mode G blocked: missing generated .ts file");
    return 1;
  }

  std::error_code ignored;
  std::filesystem::create_directory("dist", ignored);

  const PlatformCommand command =
      tsc_build_command(input_path, can_open_for_reading(kNodeTypesFile), output.mirrored);
  std::printf(CLR_CYAN "[TSC] Compiling hardened %s -> %s...\n" CLR_RESET, input_path.c_str(),
              output.js().c_str());
  // The compiler writes straight to the console: our own lines go first.
  std::fflush(stdout);
  const int status = platform_run_wait(command);

  if (status == 0) {
    std::printf(CLR_GREEN "[OK] Final JS built: %s\n" CLR_RESET, output.js().c_str());
    return 0;
  }
  std::printf(CLR_RED "[ERROR] tsc compilation failed (exit code %d).\n" CLR_RESET, status);
  if (!can_open_for_reading(kNodeTypesFile)) {
    std::printf(CLR_YELLOW "\n[TIP] If your project uses Node.js APIs (fs, path, http, Buffer, "
                           "process...),\n" CLR_RESET);
    std::printf(CLR_YELLOW "      install the Node type definitions in your project folder:\n" CLR_RESET);
    std::printf(CLR_CYAN "      -> npm install --save-dev @types/node\n\n" CLR_RESET);
  }
  cli_error_log("tsc compilation failed");
  return 1;
}

int tsx_run_full_pipeline(const std::string& path, const RunOptions& options) {
  std::printf(CLR_CYAN "\n=== KORVEX AUTO PIPELINE (JS -> TS -> TSX -> TSC -> JS) ===\n\n" CLR_RESET);
  if (run_transpile_single_file(path, options) != 0) return 1;
  if (tsx_harden_output(path, options.output_of(path)) != 0) return 1;
  return tsc_compile_to_dist(path, options);
}
