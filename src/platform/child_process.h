// A long-lived outside program spoken to over pipes: the caller writes lines
// to its standard input and reads the lines it answers on its standard
// output; its standard error goes to ours. Used for the compiler session,
// which answers one request after another without being started again.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

// One started program. Opaque: each platform defines it.
struct ChildProcess;

// Closes the program's input, waits for it to end and releases it.
struct ChildProcessCloser {
  void operator()(ChildProcess* child) const;
};
using ChildProcessPtr = std::unique_ptr<ChildProcess, ChildProcessCloser>;

// Starts argv[0] (searched on the PATH) with the other words as its
// arguments, each reaching it unchanged; never through a command
// interpreter. Null when it cannot be started.
ChildProcessPtr platform_child_start(const std::vector<std::string>& argv);

// Writes all of `text` to the program's input; false when it has closed it
// (it ended) or the write failed.
bool platform_child_write(ChildProcess& child, std::string_view text);

// The next line of the program's output, without its line end; false when
// the output ended before a line break.
bool platform_child_read_line(ChildProcess& child, std::string& line);

// Closes the program's input and waits for it to end; its exit status, or
// -1 when it could not be had. The program is then released by the closer.
int platform_child_finish(ChildProcess& child);
