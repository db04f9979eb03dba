// The operating-system layer: outside programs, folder tests and scans,
// console set-up and the launcher window. Everything bound to one operating
// system lives behind these functions; the Windows build uses the command
// interpreter's command lines, the POSIX build does the same job natively.
#pragma once

#include <string>
#include <vector>

// An outside program to run.
// - Windows: the command interpreter runs argv when it is given (the first
//   word as the program, every other argument reaching it unchanged whatever
//   it holds), else command_line exactly as written; discard_stderr appends
//   " 2>nul".
// - POSIX: argv is run directly, the program searched on the PATH, never
//   through a shell, so no path or address in it can inject a command; a
//   command without argv cannot be started. discard_stderr sends the
//   program's standard error to /dev/null.
struct PlatformCommand {
  std::string command_line;
  std::vector<std::string> argv;
  bool discard_stderr = false;
};

// Run and wait: output goes straight to the console. Standard output is
// flushed first so that the program's lines come after ours. Returns the
// program's own exit status, or -1 when it could not be started.
int platform_run_wait(const PlatformCommand& command);

// Run and read: `output` receives everything the program wrote on standard
// output. Returns the program's exit status once it has ended, or -1 when it
// could not be started.
int platform_run_read(const PlatformCommand& command, std::string& output);

// The number of processors this process may run on; at least 1.
int platform_processor_count();

// Shell open: an executable with parameters, or an address, opened in a
// normal window. The result is not examined.
void platform_shell_open(const std::string& target, const std::string& parameters);

// 1 when the path names an existing folder, else 0.
int platform_is_directory(const std::string& path);

// Every .js file below the folder as a full path, one per line ('\n'), each
// folder's files in name order before its subfolders, recursively. Returns 0,
// or 1 when the folder cannot be scanned.
int platform_scan_js_files(const std::string& folder, std::string& output);

// Removes a folder of the working directory with everything in it, when it
// exists; failures are ignored.
void platform_remove_tree(const std::string& folder);

// Prepares the console for UTF-8 box-drawing output.
void platform_console_utf8();

// Start-up work, before any output. Windows: consoles on standard output and
// standard error are switched to reading the colour sequences, and the
// program file an install or update moved aside ("<program>.old") is removed
// once it no longer runs. Nothing elsewhere.
void platform_start_up();

// The launcher window; see kvx_try_gui_launcher.
int platform_show_launcher(int force);
