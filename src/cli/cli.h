// Command dispatcher, banner, help, version, info and the doctor.
#pragma once

#include "cli/version.h"

// Runs one command line; the result is the process exit status.
int kvx_cli_execute(int argc, char** argv);

void cli_print_banner();
void cli_print_help();
void cli_print_version();
// Engine and environment information; probes Node.js and TypeScript first.
void cli_print_info();
// The doctor command: every probe in a fixed order, the issue count and the
// verdict. Never changes the exit status.
void cli_run_doctor();
