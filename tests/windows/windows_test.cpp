// Tests of the Windows-only units, cross-compiled with MinGW and run under
// Wine (or on Windows). kvx.exe is the one built beside this program.
//
// Started with "--echo-args" this program prints each further argument on a
// line of its own: the command-line tests see what a started program got.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/install.h"
#include "platform/platform.h"
#include "platform/win32/startup.h"

namespace {

namespace fs = std::filesystem;

std::string module_path() {
  char buffer[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, buffer, MAX_PATH);
  return buffer;
}

std::string kvx_path() { return (fs::path(module_path()).parent_path() / "kvx.exe").string(); }

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void write_file(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

// Sets an environment variable for this process and its children until the
// object goes.
class ScopedEnv {
 public:
  ScopedEnv(const std::string& name, const std::string& value) : name_(name) {
    const char* old = std::getenv(name.c_str());
    had_ = old != nullptr;
    if (had_) old_ = old;
    _putenv((name + "=" + value).c_str());
  }
  ~ScopedEnv() { _putenv((name_ + "=" + (had_ ? old_ : "")).c_str()); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::string old_;
  bool had_ = false;
};

// A fresh folder that is the working directory while the object lives.
class ScopedWorkDir {
 public:
  ScopedWorkDir() {
    previous_ = fs::current_path();
    path_ = fs::temp_directory_path() / ("kvx-win-test-" + std::to_string(GetCurrentProcessId()) + "-" +
                                         std::to_string(counter_++));
    fs::remove_all(path_);
    fs::create_directories(path_);
    fs::current_path(path_);
  }
  ~ScopedWorkDir() {
    fs::current_path(previous_);
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  ScopedWorkDir(const ScopedWorkDir&) = delete;
  ScopedWorkDir& operator=(const ScopedWorkDir&) = delete;
  const fs::path& path() const { return path_; }

 private:
  static inline int counter_ = 0;
  fs::path previous_;
  fs::path path_;
};

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  std::istringstream in(text);
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// ---------------------------------------------------------------------------
// Command lines: every argument reaches the program as it was given

TEST(WindowsCommands, ArgumentsReachTheProgramUnchanged) {
  const std::vector<std::string> arguments = {
      "C:\\Users\\John Doe\\KORVEX\\kvx.exe.download",  // a space in the profile folder
      "a&b|c^d!e", "(x) <y> >z", "it's", "dir with space\\", "-s", "", "plain"};
  // Found by its name on the PATH, like the tools kvx runs.
  const char* path = std::getenv("PATH");
  ScopedEnv search("PATH", fs::path(module_path()).parent_path().string() + ";" + (path != nullptr ? path : ""));
  std::vector<std::string> argv = {"kvx_windows_tests", "--echo-args"};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  PlatformCommand command;
  command.argv = argv;
  std::string output;
  ASSERT_EQ(platform_run_read(command, output), 0);
  EXPECT_EQ(lines_of(output), arguments);
  command.discard_stderr = true;
  ASSERT_EQ(platform_run_read(command, output), 0);
  EXPECT_EQ(lines_of(output), arguments);
  EXPECT_EQ(std::getenv("KVX_ARG1"), nullptr) << "the passing variables are removed afterwards";
}

TEST(WindowsCommands, TextsTheInterpreterWouldChangeAreRefusedWithAClearError) {
  ScopedWorkDir dir;
  struct Case {
    std::vector<std::string> argv;
    std::string named;
  } cases[] = {
      {{"kvx_windows_tests", "--echo-args", "C:\\p%OS%q\\kvx.exe"}, "C:\\p%OS%q\\kvx.exe"},
      {{"kvx_windows_tests", "--echo-args", "ok", "%PATH%"}, "%PATH%"},
      {{"C:\\Program Files\\x.exe", "--echo-args"}, "C:\\Program Files\\x.exe"},
  };
  for (const Case& c : cases) {
    PlatformCommand command;
    command.argv = c.argv;
    testing::internal::CaptureStdout();
    std::string output = "stale";
    EXPECT_EQ(platform_run_read(command, output), -1);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(output, "");
    EXPECT_EQ(printed, "\x1b[0;31m[ERROR] Cannot run " + c.argv.front() +
                           ": the command interpreter would change \"" + c.named +
                           "\" (a name with %, a quote or a line break).\n\x1b[0m");
  }
}

TEST(WindowsCommands, ExitStatusAndUnstartableCommands) {
  PlatformCommand command;
  command.command_line = "exit 3";
  EXPECT_EQ(platform_run_wait(command), 3);
  std::string output;
  EXPECT_EQ(platform_run_read(command, output), 3);
  command.command_line = "kvx-no-such-program-anywhere 2>nul";
  EXPECT_NE(platform_run_read(command, output), 0);
}

// ---------------------------------------------------------------------------
// Folder test and scan through the command interpreter

TEST(WindowsFolders, NamesWithCharactersTheInterpreterReadsAreFoundAndScanned) {
  ScopedWorkDir dir;
  const std::string hostile = "scan dir\\it's p%OS%q & ^x! (1)";
  fs::create_directories(hostile + "\\sub");
  fs::create_directories(hostile + "\\folder.js");  // a folder, not a source file
  write_file(hostile + "\\a.js", "let a = 1;\n");
  write_file(hostile + "\\sub\\b.js", "let b = 1;\n");
  write_file(hostile + "\\folder.js\\c.js", "let c = 1;\n");
  write_file(hostile + "\\notes.txt", "x");

  struct Case {
    std::string path;
    int folder;
  } cases[] = {{hostile, 1}, {"scan dir", 1}, {hostile + "\\folder.js", 1}, {hostile + "\\a.js", 0},
               {hostile + "\\notes.txt", 0}, {"p%OS%q", 0}, {"missing", 0}, {"", 0}};
  for (const Case& c : cases) EXPECT_EQ(platform_is_directory(c.path), c.folder) << c.path;

  std::string output;
  ASSERT_EQ(platform_scan_js_files("scan dir", output), 0);
  std::vector<std::string> found = lines_of(output);
  for (std::string& path : found) path = fs::relative(path, dir.path()).string();
  // Each folder's files come before its subfolders, as "dir /b /s" lists them.
  EXPECT_EQ(found, (std::vector<std::string>{hostile + "\\a.js", hostile + "\\folder.js\\c.js",
                                             hostile + "\\sub\\b.js"}));
  EXPECT_EQ(platform_scan_js_files("missing", output), 1);
}

// ---------------------------------------------------------------------------
// kvx.exe: start-up, icon

// Runs kvx.exe (or another copy) with arguments; `input` is typed on its
// standard input. Returns its exit status.
int run_kvx(const std::string& program, const std::string& arguments, const std::string& input,
            std::string& output) {
  ScopedEnv exe("KVX_TEST_EXE", program);
  // "echo y|" keeps the line from starting with a quote; "type nul|" gives
  // an empty input.
  const std::string feed = input.empty() ? "type nul|" : "echo " + input + "|";
  PlatformCommand command;
  command.command_line = feed + "\"%KVX_TEST_EXE%\" " + arguments + " 2>&1";
  return platform_run_read(command, output);
}

TEST(WindowsStartUp, RemovesTheProgramMovedAsideByAnEarlierInstall) {
  ScopedWorkDir dir;
  fs::copy_file(kvx_path(), "kvx.exe");
  write_file("kvx.exe.old", "the program an update replaced");
  write_file("other.exe.old", "not ours");
  std::string output;
  EXPECT_EQ(run_kvx((dir.path() / "kvx.exe").string(), "version", "", output), 0);
  EXPECT_NE(output.find("KORVEX (kvx) version 1.0.0"), std::string::npos) << output;
  EXPECT_FALSE(fs::exists("kvx.exe.old"));
  EXPECT_TRUE(fs::exists("other.exe.old"));

  // The same step on its own, and with nothing to remove.
  write_file("prog.exe.old", "x");
  win32_remove_moved_aside((dir.path() / "prog.exe").string());
  EXPECT_FALSE(fs::exists("prog.exe.old"));
  win32_remove_moved_aside((dir.path() / "prog.exe").string());
  win32_remove_moved_aside("");
}

TEST(WindowsStartUp, ReplacingTheProgramLeavesNoOldCopyWhenItIsNotRunning) {
  ScopedWorkDir dir;
  write_file("prog.exe", "old");
  write_file("prog.exe.new", "new");
  std::string error;
  ASSERT_EQ(platform_replace_executable((dir.path() / "prog.exe.new").string(), (dir.path() / "prog.exe").string(),
                                        error),
            0)
      << error;
  EXPECT_EQ(read_file("prog.exe"), "new");
  EXPECT_FALSE(fs::exists("prog.exe.new"));
  EXPECT_FALSE(fs::exists("prog.exe.old"));
}

TEST(WindowsStartUp, ConsolesAreSwitchedToEscapeSequences) {
  // A file is no console: nothing to switch.
  ScopedWorkDir dir;
  HANDLE file = CreateFileA("plain.txt", GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(win32_enable_escape_sequences(file));
  CloseHandle(file);
  EXPECT_FALSE(win32_enable_escape_sequences(INVALID_HANDLE_VALUE));

  // A console of its own when the tests run without one (under Wine, from a
  // pipe).
  if (GetConsoleWindow() == nullptr) {
    FreeConsole();
    AllocConsole();
  }
  HANDLE console = CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                             nullptr, CONSOLE_TEXTMODE_BUFFER, nullptr);
  DWORD mode = 0;
  if (console == INVALID_HANDLE_VALUE || !GetConsoleMode(console, &mode)) {
    GTEST_SKIP() << "no console here (error " << GetLastError() << ")";
  }
  constexpr DWORD kEscapes = 0x0004;  // ENABLE_VIRTUAL_TERMINAL_PROCESSING
  SetConsoleMode(console, mode & ~kEscapes);
  EXPECT_TRUE(win32_enable_escape_sequences(console));
  ASSERT_TRUE(GetConsoleMode(console, &mode));
  EXPECT_NE(mode & kEscapes, 0u);
  CloseHandle(console);
}

TEST(WindowsResources, TheProgramCarriesIconOne) {
  HMODULE module = LoadLibraryExA(kvx_path().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(module, nullptr);
  EXPECT_NE(FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(14)), nullptr);  // RT_GROUP_ICON
  for (int size : {16, 32, 48, 256}) {
    HICON icon = static_cast<HICON>(LoadImageA(module, MAKEINTRESOURCEA(1), IMAGE_ICON, size, size, 0));
    EXPECT_NE(icon, nullptr) << size;
    if (icon != nullptr) DestroyIcon(icon);
  }
  FreeLibrary(module);
}

// ---------------------------------------------------------------------------
// Install and uninstall: the outcome follows the footprint

// A stand-in for PowerShell, found first on the PATH: does what KVX_FAKE_PS
// says ("footprint": writes the user Path entry and the shortcut; "clear":
// removes the user Path; anything else: nothing) and always exits 0.
constexpr const char* kFakePowerShell =
    "@echo off\r\n"
    "if \"%KVX_FAKE_PS%\"==\"footprint\" reg add HKCU\\Environment /v Path /t REG_EXPAND_SZ "
    "/d \"%KVX_FAKE_FOLDER%\" /f >nul\r\n"
    "if \"%KVX_FAKE_PS%\"==\"footprint\" echo shortcut>\"%KVX_FAKE_LNK%\"\r\n"
    "if \"%KVX_FAKE_PS%\"==\"clear\" reg delete HKCU\\Environment /v Path /f >nul 2>nul\r\n"
    "exit /b 0\r\n";

class WindowsInstall : public testing::Test {
 protected:
  void SetUp() override {
    home_ = dir_.path() / "home";
    fs::create_directories(home_ / "Desktop");
    fs::create_directories(dir_.path() / "fake");
    write_file(dir_.path() / "fake" / "powershell.bat", kFakePowerShell);
    // The user's own Path is put back afterwards, as it was.
    DWORD size = 0;
    had_path_ = RegGetValueA(HKEY_CURRENT_USER, "Environment", "Path", RRF_RT_ANY | RRF_NOEXPAND, &path_type_,
                             nullptr, &size) == ERROR_SUCCESS;
    if (had_path_) {
      saved_path_.resize(size);
      RegGetValueA(HKEY_CURRENT_USER, "Environment", "Path", RRF_RT_ANY | RRF_NOEXPAND, &path_type_,
                   saved_path_.data(), &size);
      saved_path_.resize(size);
    }
    RegDeleteKeyValueA(HKEY_CURRENT_USER, "Environment", "Path");
  }
  void TearDown() override {
    RegDeleteKeyValueA(HKEY_CURRENT_USER, "Environment", "Path");
    if (had_path_) {
      RegSetKeyValueA(HKEY_CURRENT_USER, "Environment", "Path", path_type_, saved_path_.data(),
                      static_cast<DWORD>(saved_path_.size()));
    }
  }

  // Runs kvx.exe with the profile in the test folder and, when `fake` is not
  // empty, the stand-in PowerShell in that mode.
  int kvx(const std::string& arguments, const std::string& fake, std::string& output,
          const std::string& input = "") {
    const char* path = std::getenv("PATH");
    const std::string system_path = path != nullptr ? path : "";
    ScopedEnv profile("USERPROFILE", home_.string());
    ScopedEnv search("PATH", fake.empty() ? system_path : (dir_.path() / "fake").string() + ";" + system_path);
    ScopedEnv mode("KVX_FAKE_PS", fake.empty() ? "none" : fake);
    ScopedEnv folder("KVX_FAKE_FOLDER", (home_ / "KORVEX").string());
    ScopedEnv shortcut("KVX_FAKE_LNK", (home_ / "Desktop" / "KORVEX.lnk").string());
    return run_kvx(kvx_path(), arguments, input, output);
  }

  ScopedWorkDir dir_;
  fs::path home_;
  bool had_path_ = false;
  DWORD path_type_ = REG_EXPAND_SZ;
  std::string saved_path_;
};

TEST_F(WindowsInstall, ASuccessThatLeftNoFootprintIsReportedAsAFailure) {
  std::string output;
  // The stand-in exits 0 and does nothing: no PATH entry, no shortcut.
  EXPECT_EQ(kvx("install", "noop", output), 1);
  EXPECT_NE(output.find("\x1b[0;31m[2/3] Could not add " + (home_ / "KORVEX").string()), std::string::npos)
      << output;
  EXPECT_NE(output.find("\x1b[0;31m[3/3] Could not create the Desktop shortcut"), std::string::npos) << output;
  EXPECT_NE(output.find("\x1b[0;31m\n[ERROR] KORVEX is not fully installed"), std::string::npos) << output;
  EXPECT_EQ(output.find("KORVEX is installed."), std::string::npos) << output;
  EXPECT_TRUE(fs::exists(home_ / "KORVEX" / "kvx.exe"));
}

TEST_F(WindowsInstall, TheFootprintInPlaceIsASuccessAndAReinstallLeavesNoOldCopy) {
  std::string output;
  ASSERT_EQ(kvx("install", "footprint", output), 0) << output;
  EXPECT_NE(output.find("\x1b[0;32m[2/3] " + (home_ / "KORVEX").string() + " is on your Windows user PATH"),
            std::string::npos)
      << output;
  EXPECT_NE(output.find("\x1b[0;32m[3/3] Created Desktop shortcut"), std::string::npos) << output;
  EXPECT_NE(output.find("\x1b[0;32m\nKORVEX is installed."), std::string::npos) << output;

  ASSERT_EQ(kvx("install", "footprint", output), 0) << output;
  EXPECT_TRUE(fs::exists(home_ / "KORVEX" / "kvx.exe"));
  EXPECT_FALSE(fs::exists(home_ / "KORVEX" / "kvx.exe.old"));
}

TEST_F(WindowsInstall, AProfileNameTheInterpreterWouldChangeIsNotHandedToIt) {
  home_ = dir_.path() / "home%OS%";
  fs::create_directories(home_ / "Desktop");
  std::string output;
  EXPECT_EQ(kvx("install", "footprint", output), 1);
  const std::string folder = (home_ / "KORVEX").string();
  EXPECT_NE(output.find("\x1b[0;31m[2/3] Could not add " + folder + " to your Windows user PATH: the command "
                        "interpreter would change the name " + folder + " (it holds a % or a quote)"),
            std::string::npos)
      << output;
  EXPECT_FALSE(fs::exists(home_ / "Desktop" / "KORVEX.lnk")) << "PowerShell must not have run";
  EXPECT_TRUE(fs::exists(home_ / "KORVEX" / "kvx.exe"));
}

TEST_F(WindowsInstall, UninstallSaysWhetherThePathWasCleaned) {
  std::string output;
  ASSERT_EQ(kvx("install", "footprint", output), 0) << output;
  // The stand-in leaves the entry where it is: a failure, in red.
  EXPECT_EQ(kvx("uninstall", "noop", output, "y"), 1);
  EXPECT_NE(output.find("\x1b[0;31m[2/3] Could not clean KORVEX from Windows user PATH: " +
                        (home_ / "KORVEX").string() + " is still on it."),
            std::string::npos)
      << output;
  EXPECT_EQ(output.find("Cleaned KORVEX"), std::string::npos) << output;
  EXPECT_EQ(output.find("KORVEX has been uninstalled."), std::string::npos) << output;

  // Once the entry is gone it is the green line of success.
  EXPECT_EQ(kvx("uninstall", "clear", output, "y"), 0) << output;
  EXPECT_NE(output.find("\x1b[0;32m[2/3] Cleaned KORVEX from Windows user PATH.\n"), std::string::npos) << output;
  EXPECT_NE(output.find("KORVEX has been uninstalled."), std::string::npos) << output;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "--echo-args") == 0) {
    for (int i = 2; i < argc; ++i) std::printf("%s\n", argv[i]);
    return 0;
  }
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
