// Windows implementation of the long-lived outside program: two anonymous
// pipes and CreateProcess, no command interpreter (the program is searched
// on the PATH by CreateProcess itself).
#include <windows.h>

#include <algorithm>

#include "platform/child_process.h"

struct ChildProcess {
  HANDLE process = nullptr;
  HANDLE input = nullptr;   // the program's standard input, written here
  HANDLE output = nullptr;  // the program's standard output, read here
  std::string pending;      // bytes read past the last line handed out
  bool finished = false;
  int status = -1;
};

namespace {

void close_handle(HANDLE& handle) {
  if (handle != nullptr) CloseHandle(handle);
  handle = nullptr;
}

std::wstring widen(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int size = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
  if (size <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide.data(), size);
  wide.resize(static_cast<size_t>(size - 1));
  return wide;
}

// One argument quoted for the C runtime's parser of the started program.
std::wstring quoted(const std::wstring& word) {
  if (!word.empty() && word.find_first_of(L" \t\"") == std::wstring::npos) return word;
  std::wstring out = L"\"";
  size_t backslashes = 0;
  for (const wchar_t c : word) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"') {
      out.append(backslashes * 2 + 1, L'\\');
    } else {
      out.append(backslashes, L'\\');
    }
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, L'\\');
  out += L'"';
  return out;
}

}  // namespace

ChildProcessPtr platform_child_start(const std::vector<std::string>& argv) {
  if (argv.empty()) return nullptr;
  SECURITY_ATTRIBUTES inherit = {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE child_in = nullptr;
  HANDLE our_in = nullptr;
  HANDLE our_out = nullptr;
  HANDLE child_out = nullptr;
  if (!CreatePipe(&child_in, &our_in, &inherit, 0)) return nullptr;
  if (!CreatePipe(&our_out, &child_out, &inherit, 0)) {
    CloseHandle(child_in);
    CloseHandle(our_in);
    return nullptr;
  }
  // Only the program's ends are inherited.
  SetHandleInformation(our_in, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(our_out, HANDLE_FLAG_INHERIT, 0);

  std::wstring line;
  for (const std::string& word : argv) {
    if (!line.empty()) line += L' ';
    line += quoted(widen(word));
  }
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = child_in;
  startup.hStdOutput = child_out;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION info = {};
  const BOOL started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                      &startup, &info);
  CloseHandle(child_in);
  CloseHandle(child_out);
  if (!started) {
    CloseHandle(our_in);
    CloseHandle(our_out);
    return nullptr;
  }
  CloseHandle(info.hThread);
  ChildProcessPtr child(new ChildProcess);
  child->process = info.hProcess;
  child->input = our_in;
  child->output = our_out;
  return child;
}

bool platform_child_write(ChildProcess& child, std::string_view text) {
  if (child.input == nullptr) return false;
  size_t done = 0;
  while (done < text.size()) {
    DWORD count = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(text.size() - done, 1u << 20));
    if (!WriteFile(child.input, text.data() + done, chunk, &count, nullptr) || count == 0) return false;
    done += count;
  }
  return true;
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
    if (child.output == nullptr) return false;
    char buffer[65536];
    DWORD count = 0;
    if (!ReadFile(child.output, buffer, sizeof buffer, &count, nullptr) || count == 0) {
      close_handle(child.output);
      return false;
    }
    child.pending.append(buffer, count);
  }
}

int platform_child_finish(ChildProcess& child) {
  if (child.finished) return child.status;
  close_handle(child.input);
  close_handle(child.output);
  DWORD code = 0;
  const bool waited = WaitForSingleObject(child.process, INFINITE) == WAIT_OBJECT_0 &&
                      GetExitCodeProcess(child.process, &code);
  close_handle(child.process);
  child.finished = true;
  child.status = waited ? static_cast<int>(code) : -1;
  return child.status;
}

void ChildProcessCloser::operator()(ChildProcess* child) const {
  if (child == nullptr) return;
  platform_child_finish(*child);
  delete child;
}
