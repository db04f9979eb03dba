// The compile step: generated/<stem>.ts through the TypeScript compiler into
// dist/<stem>.js, after probing Node.js and the compiler; and the automatic
// pipeline of mode auto (generate, harden, compile).
#pragma once

#include <string>

#include "pipeline/run.h"
#include "platform/platform.h"

// Node.js and a TypeScript compiler answer; when one does not, its standard
// report is printed (and logged) and false returned.
bool tsc_tools_ready();

// Compiles the generated file of `path` (generated/<stem>.ts, or its mirrored
// path in a folder run) into dist/; 0 when built, 1 otherwise.
int tsc_compile_to_dist(const std::string& path, const RunOptions& options = {});

// Generate, harden, compile; 0 when all three stages succeeded.
int tsx_run_full_pipeline(const std::string& path, const RunOptions& options = {});

// The compiler command for one input file: the command line for the Windows
// command interpreter and the same words as an argument vector for POSIX.
// `node_types` adds "--types node" (the Node type definitions are installed);
// `mirrored` adds "--rootDir generated", so that a file below generated/
// lands at the same place below dist/.
PlatformCommand tsc_build_command(const std::string& input_path, bool node_types, bool mirrored = false);

// "node_modules/@types/node/index.d.ts" can be opened in the working folder.
bool tsc_node_types_installed();
