// tsc compilation into dist/ and the automatic pipeline of mode auto.
#pragma once

#include <string>

#include "core/run.h"
#include "platform/platform.h"

// Compiles generated/<stem>.ts into dist/<stem>.js; 0 when built, 1 otherwise.
int tsc_compile_to_dist(const std::string& path);

// Generate, harden, compile; 0 when all three stages succeeded.
// With --inline the inline form is compiled and checked instead.
int tsx_run_full_pipeline(const std::string& path, const RunOptions& options = {});

// The compiler command for one input file: the command line for the Windows
// command interpreter and the same words as an argument vector for POSIX.
// `node_types` adds "--types node" (the Node type definitions are installed).
PlatformCommand tsc_build_command(const std::string& input_path, bool node_types);
