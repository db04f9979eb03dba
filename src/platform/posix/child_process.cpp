// POSIX implementation of the long-lived outside program: two pipes, fork
// and exec, no shell.
#include "platform/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

struct ChildProcess {
  pid_t pid = -1;
  int input = -1;   // the program's standard input, written here
  int output = -1;  // the program's standard output, read here
  std::string pending;  // bytes read past the last line handed out
  bool finished = false;
  int status = -1;
};

namespace {

void close_fd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

}  // namespace

ChildProcessPtr platform_child_start(const std::vector<std::string>& argv) {
  if (argv.empty()) return nullptr;
  int to_child[2];
  int from_child[2];
  if (::pipe(to_child) != 0) return nullptr;
  if (::pipe(from_child) != 0) {
    ::close(to_child[0]);
    ::close(to_child[1]);
    return nullptr;
  }
  // Our ends must not leak into other programs started later.
  ::fcntl(to_child[1], F_SETFD, FD_CLOEXEC);
  ::fcntl(from_child[0], F_SETFD, FD_CLOEXEC);
  std::vector<char*> words;
  for (const std::string& word : argv) words.push_back(const_cast<char*>(word.c_str()));
  words.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(to_child[0], STDIN_FILENO);
    ::dup2(from_child[1], STDOUT_FILENO);
    ::close(to_child[0]);
    ::close(to_child[1]);
    ::close(from_child[0]);
    ::close(from_child[1]);
    ::execvp(words[0], words.data());
    ::_exit(127);
  }
  ::close(to_child[0]);
  ::close(from_child[1]);
  if (pid < 0) {
    ::close(to_child[1]);
    ::close(from_child[0]);
    return nullptr;
  }
  ChildProcessPtr child(new ChildProcess);
  child->pid = pid;
  child->input = to_child[1];
  child->output = from_child[0];
  return child;
}

bool platform_child_write(ChildProcess& child, std::string_view text) {
  if (child.input < 0) return false;
  // A program that has ended would raise SIGPIPE on this process: the signal
  // is held back for the write and a pending one taken away again.
  sigset_t pipe_signal;
  sigset_t previous;
  sigemptyset(&pipe_signal);
  sigaddset(&pipe_signal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe_signal, &previous);
  bool written = true;
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t count = ::write(child.input, text.data() + done, text.size() - done);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) {
      written = false;
      break;
    }
    done += static_cast<size_t>(count);
  }
  if (!written) {
    const timespec no_wait = {0, 0};
    while (sigtimedwait(&pipe_signal, nullptr, &no_wait) == SIGPIPE) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return written;
}

bool platform_child_read_line(ChildProcess& child, std::string& line) {
  for (;;) {
    const size_t end = child.pending.find('\n');
    if (end != std::string::npos) {
      line.assign(child.pending, 0, end);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      child.pending.erase(0, end + 1);
      return true;
    }
    if (child.output < 0) return false;
    char buffer[65536];
    const ssize_t count = ::read(child.output, buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) {
      close_fd(child.output);
      return false;
    }
    child.pending.append(buffer, static_cast<size_t>(count));
  }
}

int platform_child_finish(ChildProcess& child) {
  if (child.finished) return child.status;
  close_fd(child.input);
  close_fd(child.output);
  int status = 0;
  pid_t waited = -1;
  do {
    waited = ::waitpid(child.pid, &status, 0);
  } while (waited < 0 && errno == EINTR);
  child.finished = true;
  child.status = waited == child.pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return child.status;
}

void ChildProcessCloser::operator()(ChildProcess* child) const {
  if (child == nullptr) return;
  platform_child_finish(*child);
  delete child;
}
