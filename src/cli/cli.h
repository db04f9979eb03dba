// Command dispatcher, banner, help, version, info.
#pragma once

inline constexpr const char* KVX_VERSION = "1.0.0";

// Runs one command line; the result is the process exit status.
int kvx_cli_execute(int argc, char** argv);
