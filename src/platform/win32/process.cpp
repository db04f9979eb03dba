// Windows implementation of the outside-program functions: every command line
// goes to the command interpreter, through system() (run and wait) or a read
// pipe (run and read). Folders are tested and scanned through the file
// system, so that no folder name passes through the interpreter.
//
// No argument of a command is written into its line as text: the interpreter
// would read "&", "|" and "^" in it outside quotes. Each travels in an
// environment variable that the line names between quotes ("%KVX_ARG1%"),
// which the interpreter expands once and reads nothing inside. A "%" is
// refused: some interpreters (Wine's) expand the result again.
#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace {

std::wstring widen(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int size = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
  if (size <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide.data(), size);
  wide.resize(static_cast<size_t>(size - 1));
  return wide;
}

// The environment variables of one command line, set for as long as the
// object lives (the child inherits them) and removed afterwards.
class CommandValues {
 public:
  CommandValues() = default;
  CommandValues(const CommandValues&) = delete;
  CommandValues& operator=(const CommandValues&) = delete;
  ~CommandValues() {
    for (const std::string& name : names_) _putenv((name + "=").c_str());
  }

  // The text as the command line names it: "%KVX_ARGn%" between quotes. A
  // text with a "%", a quote or a line break cannot be passed (no Windows file
  // name holds a quote); `refused()` then names the first such text.
  std::string add(const std::string& value) {
    if (value.empty()) return "\"\"";
    if (value.find_first_of("%\"\r\n") != std::string::npos && refused_.empty()) refused_ = value;
    const std::string name = "KVX_ARG" + std::to_string(names_.size() + 1);
    names_.push_back(name);
    if (_putenv((name + "=" + value).c_str()) != 0 && refused_.empty()) refused_ = value;
    return "\"%" + name + "%\"";
  }
  const std::string& refused() const { return refused_; }

 private:
  std::vector<std::string> names_;
  std::string refused_;
};

// Words a command line may hold as they are: nothing in them means anything
// to the command interpreter.
bool is_plain_word(const std::string& word) {
  if (word.empty()) return false;
  for (char c : word) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '-' || c == '_' || c == '.' || c == ',' || c == ':' || c == '/' || c == '\\' ||
                       c == '=' || c == '+' || c == '@';
    if (!plain) return false;
  }
  return true;
}

// A program argument for the C runtime's parser of the started program:
// backslashes before the closing quote are doubled so that they stay
// backslashes ("C:\dir\" would otherwise end in a quote).
std::string closing_backslashes_doubled(const std::string& argument) {
  size_t count = 0;
  while (count < argument.size() && argument[argument.size() - 1 - count] == '\\') ++count;
  return argument + std::string(count, '\\');
}

// The command line of a command: argv when given, the program word as it is
// and every other argument that is not a plain word through `values`; else
// command_line as written. " 2>nul" discards standard error on request.
// Empty when the command cannot be written (a program word that is not
// plain: the interpreter would take a line that starts with a quote apart).
std::string command_line_of(const PlatformCommand& command, CommandValues& values) {
  std::string line;
  if (command.argv.empty()) {
    line = command.command_line;
  } else {
    if (!is_plain_word(command.argv.front())) return std::string();
    line = command.argv.front();
    for (size_t i = 1; i < command.argv.size(); ++i) {
      const std::string& argument = command.argv[i];
      line += " " + (is_plain_word(argument) ? argument : values.add(closing_backslashes_doubled(argument)));
    }
  }
  if (command.discard_stderr) line += " 2>nul";
  return line;
}

// Says why a command is not run; false when it can be.
bool refuse(const PlatformCommand& command, const std::string& line, const CommandValues& values) {
  if (!line.empty() && values.refused().empty()) return false;
  const std::string program = command.argv.empty() ? std::string("the command") : command.argv.front();
  const std::string text = line.empty() ? program : values.refused();
  std::printf("\x1b[0;31m[ERROR] Cannot run %s: the command interpreter would change \"%s\" "
              "(a name with %%, a quote or a line break).\n\x1b[0m",
              program.c_str(), text.c_str());
  return true;
}

int run_command_line(const std::string& command_line) {
  std::fflush(stdout);
  std::fflush(stderr);
  return std::system(command_line.c_str());
}

int read_command_line(const std::string& command_line, std::string& output) {
  output.clear();
  std::fflush(stdout);
  std::FILE* pipe = _popen(command_line.c_str(), "r");
  if (pipe == nullptr) return -1;
  char buffer[4096];
  size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
  return _pclose(pipe);
}

}  // namespace

int platform_run_wait(const PlatformCommand& command) {
  CommandValues values;
  const std::string line = command_line_of(command, values);
  if (refuse(command, line, values)) return -1;
  return run_command_line(line);
}

int platform_run_read(const PlatformCommand& command, std::string& output) {
  output.clear();
  CommandValues values;
  const std::string line = command_line_of(command, values);
  if (refuse(command, line, values)) return -1;
  return read_command_line(line, output);
}

void platform_shell_open(const std::string& target, const std::string& parameters) {
  const std::wstring wide_target = widen(target);
  const std::wstring wide_parameters = widen(parameters);
  ShellExecuteW(nullptr, L"open", wide_target.c_str(),
                wide_parameters.empty() ? nullptr : wide_parameters.c_str(), nullptr, SW_SHOWNORMAL);
}

int platform_is_directory(const std::string& path) {
  if (path.empty()) return 0;
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? 1 : 0;
}

namespace {

bool ends_with_js(const std::string& name) {
  return name.size() >= 3 && _stricmp(name.c_str() + name.size() - 3, ".js") == 0;
}

bool name_before(const std::string& a, const std::string& b) { return _stricmp(a.c_str(), b.c_str()) < 0; }

// Appends the .js files of a folder (files only: a folder named x.js is none)
// and then those of its subfolders, each level in name order, as "dir /b /s"
// lists them. Links to folders are not followed, so a loop cannot make the
// scan endless.
void scan_folder(const std::string& folder, std::string& output) {
  WIN32_FIND_DATAA entry;
  HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return;
  std::vector<std::string> files;
  std::vector<std::string> folders;
  do {
    const std::string name = entry.cFileName;
    if (name == "." || name == "..") continue;
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      if ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) folders.push_back(name);
    } else if (ends_with_js(name)) {
      files.push_back(name);
    }
  } while (FindNextFileA(find, &entry));
  FindClose(find);
  std::sort(files.begin(), files.end(), name_before);
  std::sort(folders.begin(), folders.end(), name_before);
  for (const std::string& name : files) output += folder + "\\" + name + "\n";
  for (const std::string& name : folders) scan_folder(folder + "\\" + name, output);
}

}  // namespace

int platform_scan_js_files(const std::string& folder, std::string& output) {
  output.clear();
  if (!platform_is_directory(folder)) return 1;
  // Full paths, as "dir /s" prints them.
  char full[MAX_PATH * 4];
  const DWORD length = GetFullPathNameA(folder.c_str(), sizeof full, full, nullptr);
  if (length == 0 || length >= sizeof full) return 1;
  std::string root(full, length);
  while (root.size() > 3 && (root.back() == '\\' || root.back() == '/')) root.pop_back();
  if (root.size() == 3 && root.back() == '\\') root.pop_back();  // "C:\" lists as "C:\x.js"
  scan_folder(root, output);
  return 0;
}

void platform_remove_tree(const std::string& folder) {
  // Only the fixed output folders come here; anything else is left alone.
  if (!is_plain_word(folder)) return;
  run_command_line("if exist \"" + folder + "\" rmdir /S /Q \"" + folder + "\"");
}

void platform_console_utf8() { run_command_line("chcp 65001 > nul"); }

int platform_processor_count() {
  const DWORD count = GetActiveProcessorCount(ALL_PROCESSOR_GROUPS);
  return count > 0 ? static_cast<int>(count) : 1;
}
