// Tool probes: run an outside tool's version command and keep the first line
// it answers, to tell whether Node.js, npm and the TypeScript compiler are
// there (and the update server's version file, fetched the same way).
#pragma once

#include <optional>
#include <string>

#include "platform/platform.h"

// Runs a fixed command line (such as "node -v") with its standard error
// discarded. The first line it printed, without its line end and cut to 63
// characters, when it exited with status 0 and that line is not empty; else
// nullopt.
std::optional<std::string> cli_check_tool_version(const std::string& command);
// The same probe for a command given in both platform forms. The Windows
// build runs command_line followed by " 2>nul"; the POSIX build runs argv, or
// the blank-separated words of command_line when argv is empty, never through
// a shell, with standard error discarded. Give argv whenever the command holds
// text that is not fixed.
std::optional<std::string> tool_probe_command(const PlatformCommand& command);
