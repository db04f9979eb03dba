// POSIX implementation of the outside-program functions: programs are started
// with posix_spawnp from an argument vector, folders are tested and scanned
// through the file system.
#include <fcntl.h>
#include <sched.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "platform/platform.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

// File actions that set up the child's standard error and, when `out_fd` is
// given, its standard output. Owns the posix_spawn_file_actions_t.
class SpawnActions {
 public:
  SpawnActions() { valid_ = posix_spawn_file_actions_init(&actions_) == 0; }
  ~SpawnActions() {
    if (valid_) posix_spawn_file_actions_destroy(&actions_);
  }
  SpawnActions(const SpawnActions&) = delete;
  SpawnActions& operator=(const SpawnActions&) = delete;

  bool valid() const { return valid_; }
  posix_spawn_file_actions_t* get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_{};
  bool valid_ = false;
};

// Starts the program; -1 when it could not be started (not found, not
// executable). `pipe_write`/`pipe_read`, when not -1, become its standard
// output (the read end is closed in the child).
pid_t spawn(const PlatformCommand& command, int pipe_read, int pipe_write) {
  std::fflush(stdout);
  // No shell is ever started: a command without an argument vector cannot
  // run, so no text of the user's can become a command.
  const std::vector<std::string>& args = command.argv;
  if (args.empty()) return -1;
  std::vector<char*> pointers;
  pointers.reserve(args.size() + 1);
  for (const std::string& arg : args) pointers.push_back(const_cast<char*>(arg.c_str()));
  pointers.push_back(nullptr);

  SpawnActions actions;
  if (!actions.valid()) return -1;
  if (pipe_write != -1) {
    if (posix_spawn_file_actions_adddup2(actions.get(), pipe_write, STDOUT_FILENO) != 0) return -1;
    if (posix_spawn_file_actions_addclose(actions.get(), pipe_write) != 0) return -1;
    if (posix_spawn_file_actions_addclose(actions.get(), pipe_read) != 0) return -1;
  }
  if (command.discard_stderr &&
      posix_spawn_file_actions_addopen(actions.get(), STDERR_FILENO, "/dev/null", O_WRONLY, 0) != 0) {
    return -1;
  }
  pid_t pid = -1;
  if (posix_spawnp(&pid, pointers[0], actions.get(), nullptr, pointers.data(), environ) != 0) return -1;
  return pid;
}

// A pipe whose ends no other program inherits. Where the system can, both
// ends are created closed-on-exec at once: a program started by another
// thread in between would otherwise hold the write end, and the reader would
// wait for that program to end.
bool open_pipe(int fds[2]) {
#if defined(__linux__) || defined(__FreeBSD__) || defined(__NetBSD__) || defined(__OpenBSD__)
  return pipe2(fds, O_CLOEXEC) == 0;
#else
  if (pipe(fds) != 0) return false;
  fcntl(fds[0], F_SETFD, FD_CLOEXEC);
  fcntl(fds[1], F_SETFD, FD_CLOEXEC);
  return true;
#endif
}

// The program's own exit status; a program ended by a signal counts as
// failed with 128 plus the signal number, as shells report it.
int wait_status(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) == -1) {
    if (errno != EINTR) return -1;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

// Everything the started program writes on the pipe, then its exit status.
int read_until_exit(pid_t pid, int fds[2], std::string& output) {
  close(fds[1]);
  if (pid == -1) {
    close(fds[0]);
    return -1;
  }
  char buffer[65536];
  for (;;) {
    const ssize_t got = read(fds[0], buffer, sizeof buffer);
    if (got > 0) {
      output.append(buffer, static_cast<size_t>(got));
    } else if (got == 0 || errno != EINTR) {
      break;
    }
  }
  close(fds[0]);
  return wait_status(pid);
}

// Scan order of the Windows "dir /b /s": a folder's matching files in name
// order, then each subfolder in name order, recursively. Names are compared
// byte by byte. Symbolic links to folders are not followed, so a link loop
// cannot make the scan endless; unreadable subfolders are skipped.
void scan_folder(const fs::path& folder, std::string& output) {
  std::error_code error;
  fs::directory_iterator it(folder, error);
  if (error) return;
  std::vector<std::string> files;
  std::vector<std::string> folders;
  for (const fs::directory_entry& entry : it) {
    const std::string name = entry.path().filename().string();
    // The listing holds one path per line: a name with a line break would
    // arrive as other paths (a relative "b.js" of the working folder for
    // "a\nb.js"), so it is left out.
    if (name.find_first_of("\r\n") != std::string::npos) continue;
    std::error_code kind_error;
    if (entry.is_symlink(kind_error)) {
      if (!entry.is_directory(kind_error) && name.ends_with(".js")) files.push_back(name);
      continue;
    }
    if (entry.is_directory(kind_error)) {
      folders.push_back(name);
    } else if (name.ends_with(".js")) {
      files.push_back(name);
    }
  }
  std::sort(files.begin(), files.end());
  std::sort(folders.begin(), folders.end());
  for (const std::string& name : files) output += (folder / name).string() + "\n";
  for (const std::string& name : folders) scan_folder(folder / name, output);
}

}  // namespace

int platform_run_wait(const PlatformCommand& command) {
  const pid_t pid = spawn(command, -1, -1);
  if (pid == -1) return -1;
  return wait_status(pid);
}

int platform_run_read(const PlatformCommand& command, std::string& output) {
  output.clear();
  int fds[2];
  if (!open_pipe(fds)) return -1;
  const pid_t pid = spawn(command, fds[0], fds[1]);
  return read_until_exit(pid, fds, output);
}

int platform_processor_count() {
#if defined(__linux__)
  // The processors this process may use, which a container or `taskset` can
  // limit below the machine's count.
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
#endif
  const long online = sysconf(_SC_NPROCESSORS_ONLN);
  return online > 0 ? static_cast<int>(online) : 1;
}

void platform_shell_open(const std::string& target, const std::string& parameters) {
  PlatformCommand command;
  command.argv = {"xdg-open", target};
  if (!parameters.empty()) command.argv = {target, parameters};
  command.discard_stderr = true;
  platform_run_wait(command);
}

int platform_is_directory(const std::string& path) {
  if (path.empty()) return 0;
  std::error_code error;
  return fs::is_directory(path, error) ? 1 : 0;
}

int platform_scan_js_files(const std::string& folder, std::string& output) {
  output.clear();
  if (platform_is_directory(folder) == 0) return 1;
  std::error_code error;
  const fs::path root = fs::absolute(folder, error).lexically_normal();
  if (error) return 1;
  fs::directory_iterator probe(root, error);
  if (error) return 1;
  scan_folder(root, output);
  return 0;
}

void platform_remove_tree(const std::string& folder) {
  std::error_code error;
  fs::remove_all(folder, error);
}

void platform_console_utf8() {}
