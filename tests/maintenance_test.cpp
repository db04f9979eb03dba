// clean, check-update, update, install and uninstall. The update commands talk
// to a small HTTP server on 127.0.0.1 run by the test; install and uninstall
// run the built program with HOME pointed at a temporary folder.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli.h"
#include "cli/cli_maintenance.h"
#include "cli/cli_system.h"
#include "cli/sha256.h"
#include "core/console.h"
#include "platform/install.h"
#include "cli_fixture.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using cli_test::capture;
using cli_test::ScopedEnv;
using kvx_test::read_file;
using kvx_test::ScopedWorkDir;
using kvx_test::shell_quote;
using kvx_test::write_file;

// ---------------------------------------------------------------------------
// Helpers

// Serves fixed files over HTTP on 127.0.0.1 at a free port, one connection at
// a time; any other path answers 404. Stops when destroyed.
class LocalHttpServer {
 public:
  explicit LocalHttpServer(std::map<std::string, std::string> files) : files_(std::move(files)) {
    socket_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (socket_ < 0 || ::bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(socket_, 8) != 0 ||
        ::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      ADD_FAILURE() << "cannot start the test HTTP server";
      return;
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
  }

  ~LocalHttpServer() {
    if (socket_ >= 0) ::shutdown(socket_, SHUT_RDWR);  // wakes the accept
    if (thread_.joinable()) thread_.join();
    if (socket_ >= 0) ::close(socket_);
  }

  LocalHttpServer(const LocalHttpServer&) = delete;
  LocalHttpServer& operator=(const LocalHttpServer&) = delete;

  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }

 private:
  void serve() {
    for (;;) {
      const int client = ::accept(socket_, nullptr, nullptr);
      if (client < 0) return;
      std::string request;
      char buffer[4096];
      while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
        const ssize_t got = ::recv(client, buffer, sizeof buffer, 0);
        if (got <= 0) break;
        request.append(buffer, static_cast<size_t>(got));
      }
      const size_t path_start = request.find(' ') + 1;
      const std::string path = request.substr(path_start, request.find(' ', path_start) - path_start);
      const auto file = files_.find(path);
      const std::string body = file == files_.end() ? "not found\n" : file->second;
      const std::string response =
          std::string(file == files_.end() ? "HTTP/1.1 404 Not Found" : "HTTP/1.1 200 OK") +
          "\r\nContent-Type: application/octet-stream\r\nContent-Length: " + std::to_string(body.size()) +
          "\r\nConnection: close\r\n\r\n" + body;
      size_t sent = 0;
      while (sent < response.size()) {
        const ssize_t put = ::send(client, response.data() + sent, response.size() - sent, MSG_NOSIGNAL);
        if (put <= 0) break;
        sent += static_cast<size_t>(put);
      }
      ::close(client);
    }
  }

  std::map<std::string, std::string> files_;
  int socket_ = -1;
  int port_ = 0;
  std::thread thread_;
};

// A port of 127.0.0.1 where nothing listens.
std::string unreachable_url() {
  const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(probe);
  return "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port));
}

// Runs a program with changes to its environment ("NAME=value" sets, "-NAME"
// removes) and `input` on its standard input, in the working directory.
int run_program(const std::string& program, const std::vector<std::string>& args,
                const std::vector<std::string>& env, const std::string& input, std::string* output) {
  std::string command = "env";
  // env takes its -u options before the assignments.
  for (const std::string& change : env) {
    if (change[0] == '-') command += " -u " + shell_quote(change.substr(1));
  }
  for (const std::string& change : env) {
    if (change[0] != '-') command += " " + shell_quote(change);
  }
  command += " " + shell_quote(program);
  for (const std::string& arg : args) command += " " + shell_quote(arg);
  return kvx_test::run_shell(command, output, input);
}

bool is_executable(const fs::path& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && (info.st_mode & S_IXUSR) != 0;
}

// ---------------------------------------------------------------------------
// SHA-256

TEST(Sha256, MatchesTheStandardDigests) {
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
  struct Case {
    std::string data;
    const char* digest;
  } cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      // Around the block and padding boundaries.
      {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
      {std::string(56, 'a'), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
      {std::string(63, 'a'), "7d3e74a05d7db15bce4ad9ec0658ea98e3f06eeecf16b4c6fff2da457ddc2f34"},
      {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
      {std::string(119, 'a'), "31eba51c313a5c08226adf18d4a359cfdfd8d2e816b13f4af952f7ea6584dcfb"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
      {bytes, "40aff2e9d2d8922e47afd4648e6967497158785fbd1da870e7110266bf944880"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(sha256_hex(c.data), c.digest) << c.data.size() << " bytes";
    // In uneven pieces, as a file is read.
    Sha256State state = sha256_begin();
    for (size_t i = 0; i < c.data.size(); i += 37) sha256_update(state, std::string_view(c.data).substr(i, 37));
    EXPECT_EQ(sha256_finish_hex(state), c.digest) << c.data.size() << " bytes in pieces";
  }
  ScopedWorkDir dir;
  write_file("file.bin", std::string(200000, 'a') + bytes);
  EXPECT_EQ(sha256_file_hex("file.bin"), sha256_hex(std::string(200000, 'a') + bytes));
  EXPECT_EQ(sha256_file_hex("missing.bin"), std::nullopt);
}

// ---------------------------------------------------------------------------
// Windows command lines

TEST(WindowsInstallCommands, AreTheFixedLinesWithTheFolderQuotedForPowerShell) {
  EXPECT_EQ(install_command_path_remove("C:\\Users\\dev\\KORVEX"),
            "powershell -NoProfile -Command \"$p = [Environment]::GetEnvironmentVariable('Path', 'User'); "
            "if ($p) { $newP = ($p -split ';' | Where-Object { $_ -and $_ -ne 'C:\\Users\\dev\\KORVEX' }) "
            "-join ';'; [Environment]::SetEnvironmentVariable('Path', $newP, 'User'); }\"");
  // A quote in the profile name would end the PowerShell string early.
  EXPECT_NE(install_command_path_remove("C:\\Users\\O'Brien\\KORVEX")
                .find("-ne 'C:\\Users\\O''Brien\\KORVEX' }"),
            std::string::npos);
  EXPECT_EQ(install_command_deferred_remove("C:\\Users\\dev\\KORVEX"),
            "start /B cmd /c \"ping 127.0.0.1 -n 2 > nul && rmdir /S /Q \"C:\\Users\\dev\\KORVEX\"\"");
  EXPECT_EQ(install_command_path_add("C:\\Users\\O'Brien\\KORVEX"),
            "powershell -NoProfile -Command \"$d = 'C:\\Users\\O''Brien\\KORVEX'; "
            "$p = [Environment]::GetEnvironmentVariable('Path', 'User'); "
            "if (-not $p) { $n = $d } elseif (($p -split ';') -contains $d) { exit 0 } "
            "else { $n = $p.TrimEnd(';') + ';' + $d }; "
            "[Environment]::SetEnvironmentVariable('Path', $n, 'User')\"");
  EXPECT_EQ(install_command_shortcut("C:\\U\\Desktop\\KORVEX.lnk", "C:\\U\\KORVEX\\kvx.exe", "C:\\U\\KORVEX"),
            "powershell -NoProfile -Command \"$s = (New-Object -ComObject WScript.Shell)."
            "CreateShortcut('C:\\U\\Desktop\\KORVEX.lnk'); $s.TargetPath = 'C:\\U\\KORVEX\\kvx.exe'; "
            "$s.WorkingDirectory = 'C:\\U\\KORVEX'; $s.Save()\"");
}

// ---------------------------------------------------------------------------
// clean

TEST(CleanCommand, RemovesBothOutputFoldersAndKeepsTheWorkspace) {
  const std::string expected = CLR_CYAN "\nCleaning generated artifacts...\n" CLR_RESET CLR_GREEN
                                        "[OK] Folders 'generated/' and 'dist/' removed.\n\n" CLR_RESET;
  for (bool with_outputs : {true, false}) {
    ScopedWorkDir dir;
    fs::create_directory(".kvx");
    write_file(".kvx/files.txt", "app.js\n");
    if (with_outputs) {
      fs::create_directories("generated/sub");
      write_file("generated/sub/app.ts", "x");
      fs::create_directory("dist");
      write_file("dist/app.js", "x");
    }
    EXPECT_EQ(capture(cli_clean_outputs), expected);
    EXPECT_FALSE(fs::exists("generated"));
    EXPECT_FALSE(fs::exists("dist"));
    EXPECT_EQ(read_file(".kvx/files.txt"), "app.js\n");
    const std::string history = read_file(".kvx/history.txt");
    EXPECT_NE(history.find("] kvx clean generated/ & dist/\n"), std::string::npos) << history;
  }
}

// ---------------------------------------------------------------------------
// check-update

// `kvx check-update` through the dispatcher: its exit status and what it printed.
int dispatch_check_update(std::string* output) {
  std::string words[] = {"kvx", "check-update"};
  char* argv[] = {words[0].data(), words[1].data()};
  testing::internal::CaptureStdout();
  const int status = kvx_cli_execute(2, argv);
  *output = testing::internal::GetCapturedStdout();
  return status;
}

TEST(CheckUpdate, ComparesTheServersVersionTextWithTheCurrentOne) {
  const std::string heading = CLR_CYAN "\nChecking for KORVEX updates...\n\n" CLR_RESET;
  const std::string available = CLR_YELLOW "Update available. Run 'kvx update' to install.\n\n" CLR_RESET;
  const std::string current = CLR_GREEN "KORVEX is up to date.\n\n" CLR_RESET;
  struct Case {
    const char* served;  // nullptr: no version file (404)
    std::string expected;
  } cases[] = {
      {"1.0.1\n", "  Current version : 1.0.0\n  Latest version  : 1.0.1\n\n" + available},
      {"0.9.0\r\n", "  Current version : 1.0.0\n  Latest version  : 0.9.0\n\n" + available},
      {"1.0.0\nnotes\n", "  Current version : 1.0.0\n  Latest version  : 1.0.0\n\n" + current},
      {"1.0.0", "  Current version : 1.0.0\n  Latest version  : 1.0.0\n\n" + current},
  };
  for (const Case& c : cases) {
    ScopedWorkDir dir;
    fs::create_directory(".kvx");
    LocalHttpServer server(std::map<std::string, std::string>{{"/downloads/version.txt", c.served}});
    ScopedEnv url("KVX_UPDATE_URL", server.url() + "/");  // a final slash is allowed
    std::string output;
    EXPECT_EQ(dispatch_check_update(&output), 0) << c.served;
    EXPECT_EQ(output, heading + c.expected) << c.served;
    EXPECT_FALSE(fs::exists(".kvx/errors.txt")) << c.served;
  }
}

// A check that cannot be made keeps the offline line, says so in red, logs
// it and fails the command: it is no "up to date".
TEST(CheckUpdate, ACheckThatCannotBeMadeFailsInRed) {
  const std::string offline =
      CLR_CYAN "\nChecking for KORVEX updates...\n\n" CLR_RESET "  Current version : 1.0.0\n" CLR_YELLOW
               "  Latest version  : (Update server offline or URL not configured yet)\n\n" CLR_RESET;
  LocalHttpServer empty(std::map<std::string, std::string>{{"/downloads/version.txt", ""}});
  LocalHttpServer missing(std::map<std::string, std::string>{});
  const std::string not_plain = "the update server's address is not a plain http(s) address.";
  struct Case {
    std::string address;
    std::string reason;  // empty: no answer from the version file's address
  } cases[] = {
      {empty.url(), ""},
      {missing.url(), ""},
      {unreachable_url(), ""},
      {"ftp://127.0.0.1/", not_plain},
      {"http://127.0.0.1/\" x", not_plain},
  };
  for (const Case& c : cases) {
    ScopedWorkDir dir;
    fs::create_directory(".kvx");
    ScopedEnv url("KVX_UPDATE_URL", c.address);
    std::string output;
    EXPECT_EQ(dispatch_check_update(&output), 1) << c.address;
    const std::string reason =
        c.reason.empty() ? "no answer from " + c.address + "/downloads/version.txt." : c.reason;
    EXPECT_EQ(output, offline + CLR_RED "[ERROR] Update check failed: " + reason + "\n\n" CLR_RESET) << c.address;
    EXPECT_NE(read_file(".kvx/errors.txt").find("] Update check failed: " + reason + "\n"), std::string::npos)
        << c.address;
  }
}

// ---------------------------------------------------------------------------
// update: a copy of the built program updates itself.

class SelfUpdate : public testing::Test {
 protected:
  void SetUp() override {
    fs::create_directory(".kvx");
    fs::create_directory("bin");
    program_ = (dir_.path() / "bin/kvx").string();
    fs::copy_file(KVX_BINARY_PATH, program_);
    original_ = read_file(program_);
  }

  int update(const std::string& url, std::string* output) {
    return run_program(program_, {"update"}, {"KVX_UPDATE_URL=" + url}, "", output);
  }

  // The program is untouched and nothing was left beside it.
  void expect_unchanged() {
    EXPECT_TRUE(read_file(program_) == original_) << "the installed program was changed";
    EXPECT_TRUE(is_executable(program_));
    EXPECT_FALSE(fs::exists(program_ + ".download"));
  }

  static std::map<std::string, std::string> release(const std::string& build, const std::string& checksum) {
    const std::string asset = std::string("/downloads/") + platform_update_asset_name();
    return {{"/downloads/version.txt", "1.0.1\n"}, {asset, build}, {asset + ".sha256", checksum}};
  }

  ScopedWorkDir dir_;
  std::string program_;
  std::string original_;
};

const std::string kNewBuild = "#!/bin/sh\necho 'kvx 1.0.1 from the test server'\n";

TEST_F(SelfUpdate, InstallsAVerifiedBuildInPlaceOfTheRunningProgram) {
  LocalHttpServer server(
      release(kNewBuild, sha256_hex(kNewBuild) + "  " + platform_update_asset_name() + "\n"));
  std::string output;
  EXPECT_EQ(update(server.url(), &output), 0);
  EXPECT_NE(output.find("  Current version : 1.0.0\n  Latest version  : 1.0.1\n"), std::string::npos)
      << output;
  EXPECT_NE(output.find(CLR_GREEN "\n[OK] KORVEX 1.0.1 installed: " + program_ + " (was 1.0.0).\n"),
            std::string::npos)
      << output;
  EXPECT_EQ(read_file(program_), kNewBuild);
  EXPECT_TRUE(is_executable(program_));
  EXPECT_FALSE(fs::exists(program_ + ".download"));
  std::string ran;
  EXPECT_EQ(run_program(program_, {}, {}, "", &ran), 0);
  EXPECT_EQ(ran, "kvx 1.0.1 from the test server\n");
}

TEST_F(SelfUpdate, AnyFailureLeavesTheProgramUntouched) {
  const std::string asset = std::string("/downloads/") + platform_update_asset_name();
  const std::string good_sum = sha256_hex(kNewBuild);
  struct Case {
    const char* name;
    std::map<std::string, std::string> files;
    const char* message;
  } cases[] = {
      {"checksum mismatch", release(kNewBuild + "tampered", good_sum + "\n"),
       "[ERROR] Update failed: checksum mismatch for "},
      {"build missing", {{"/downloads/version.txt", "1.0.1\n"}, {asset + ".sha256", good_sum}},
       "[ERROR] Update failed: cannot download "},
      {"checksum missing", {{"/downloads/version.txt", "1.0.1\n"}, {asset, kNewBuild}},
       "[ERROR] Update failed: cannot download "},
      {"checksum unreadable", release(kNewBuild, "<html>not a checksum</html>\n"),
       "[ERROR] Update failed: no SHA-256 checksum in "},
      {"version missing", {}, "[ERROR] Update failed: update server offline or URL not configured yet."},
  };
  for (const Case& c : cases) {
    LocalHttpServer server(c.files);
    std::string output;
    EXPECT_EQ(update(server.url(), &output), 1) << c.name;
    EXPECT_NE(output.find(std::string(CLR_RED) + c.message), std::string::npos) << c.name << output;
    EXPECT_NE(output.find("The installed program was not changed."), std::string::npos) << c.name;
    expect_unchanged();
  }
  const std::string log = read_file(".kvx/errors.txt");
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 5) << log;
  EXPECT_NE(log.find("] Update failed: checksum mismatch for "), std::string::npos) << log;
}

TEST_F(SelfUpdate, AnUnreachableServerOrAnUnwritableFolderChangesNothing) {
  std::string output;
  EXPECT_EQ(update(unreachable_url(), &output), 1);
  EXPECT_NE(output.find(CLR_RED "[ERROR] Update failed: update server offline"), std::string::npos) << output;
  expect_unchanged();

  LocalHttpServer server(release(kNewBuild, sha256_hex(kNewBuild)));
  fs::create_directory(program_ + ".download");  // the new build cannot be written beside it
  EXPECT_EQ(update(server.url(), &output), 1);
  EXPECT_NE(output.find(CLR_RED "[ERROR] Update failed: no write permission for " + program_ + ".download."),
            std::string::npos)
      << output;
  EXPECT_TRUE(read_file(program_) == original_);
}

TEST_F(SelfUpdate, TheSameVersionInstallsNothing) {
  LocalHttpServer server(std::map<std::string, std::string>{{"/downloads/version.txt", "1.0.0\n"}});
  std::string output;
  EXPECT_EQ(update(server.url(), &output), 0);
  EXPECT_NE(output.find(CLR_GREEN "KORVEX is up to date. Nothing to install.\n"), std::string::npos) << output;
  expect_unchanged();
}

// ---------------------------------------------------------------------------
// install and uninstall, with HOME in a temporary folder

const std::string kProfileLine =
    "export PATH=\"$HOME/KORVEX:$PATH\" # KORVEX: added by 'kvx install', removed by 'kvx uninstall'\n";

class InstallFootprint : public testing::Test {
 protected:
  void SetUp() override {
    home_ = dir_.path() / "home";
    fs::create_directory(home_);
  }

  int kvx(const std::vector<std::string>& args, const std::string& input, std::string* output,
          const std::string& shell = "/bin/bash") {
    std::vector<std::string> env = {"HOME=" + home_.string()};
    env.push_back(shell.empty() ? "-SHELL" : "SHELL=" + shell);
    return run_program(KVX_BINARY_PATH, args, env, input, output);
  }

  std::string desktop_entry() const {
    const std::string program = (home_ / "KORVEX/kvx").string();
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=KORVEX\n"
           "Comment=JavaScript to TypeScript transpiler (kvx)\n"
           "Exec=sh -c \"\\\\\"\\\\$0\\\\\" help; exec \\\\\"\\\\${SHELL:-/bin/sh}\\\\\"\" \"" + program + "\"\n"
           "Terminal=true\n"
           "Categories=Development;\n";
  }

  ScopedWorkDir dir_;
  fs::path home_;
};

TEST_F(InstallFootprint, PutsTheProgramThePathLineAndTheDesktopEntryInPlaceOnce) {
  fs::create_directory(home_ / "Desktop");
  const std::string profile = "# my settings\nalias ll='ls -l'\n";
  write_file(home_ / ".bashrc", profile);

  std::string output;
  EXPECT_EQ(kvx({"install"}, "", &output), 0);
  const fs::path program = home_ / "KORVEX/kvx";
  EXPECT_NE(output.find(CLR_GREEN "[1/3] Installed program: " + program.string() + "\n"), std::string::npos)
      << output;
  EXPECT_NE(output.find("[3/3] Created Desktop shortcut: " + (home_ / "Desktop/KORVEX.desktop").string()),
            std::string::npos)
      << output;
  EXPECT_TRUE(read_file(program) == read_file(KVX_BINARY_PATH));
  EXPECT_TRUE(is_executable(program));
  EXPECT_EQ(read_file(home_ / ".bashrc"), profile + kProfileLine);
  EXPECT_EQ(read_file(home_ / "Desktop/KORVEX.desktop"), desktop_entry());
  EXPECT_TRUE(is_executable(home_ / "Desktop/KORVEX.desktop"));

  // Again: the same footprint, the line still once.
  EXPECT_EQ(kvx({"install"}, "", &output), 0);
  EXPECT_EQ(read_file(home_ / ".bashrc"), profile + kProfileLine);
  EXPECT_TRUE(read_file(program) == read_file(KVX_BINARY_PATH));

  // The installed program installing itself keeps its file.
  EXPECT_EQ(run_program(program.string(), {"install"}, {"HOME=" + home_.string(), "SHELL=/bin/bash"}, "",
                        &output),
            0);
  EXPECT_NE(output.find("[1/3] Program already installed: " + program.string()), std::string::npos) << output;
  EXPECT_TRUE(read_file(program) == read_file(KVX_BINARY_PATH));

  std::vector<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(home_)) {
    files.push_back(fs::relative(entry.path(), home_).string());
  }
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{".bashrc", "Desktop", "Desktop/KORVEX.desktop", "KORVEX",
                                             "KORVEX/kvx"}));
}

TEST_F(InstallFootprint, ChoosesTheProfileOfTheLoginShell) {
  struct Case {
    const char* shell;
    const char* profile;
  } cases[] = {{"/bin/bash", ".bashrc"}, {"/usr/bin/zsh", ".zshrc"}, {"/bin/dash", ".profile"}, {"", ".profile"}};
  for (const Case& c : cases) {
    fs::remove_all(home_);
    fs::create_directory(home_);
    std::string output;
    EXPECT_EQ(kvx({"install"}, "", &output, c.shell), 0);
    // No profile existed: it holds just the line, with no blank line before it.
    EXPECT_EQ(read_file(home_ / c.profile), kProfileLine) << c.shell;
    // Without a desktop folder none is made.
    EXPECT_NE(output.find(CLR_YELLOW "[3/3] Desktop shortcut skipped: no Desktop folder"), std::string::npos)
        << output;
    EXPECT_FALSE(fs::exists(home_ / "Desktop"));
  }
}

TEST_F(InstallFootprint, AProfileWithoutAFinalLineBreakGetsTheLineOnALineOfItsOwn) {
  write_file(home_ / ".bashrc", "alias ll='ls -l'");
  std::string output;
  EXPECT_EQ(kvx({"install"}, "", &output), 0);
  EXPECT_EQ(read_file(home_ / ".bashrc"), "alias ll='ls -l'\n" + kProfileLine);
}

TEST_F(InstallFootprint, WithoutHomeNothingIsInstalled) {
  std::string output;
  EXPECT_EQ(run_program(KVX_BINARY_PATH, {"install"}, {"-HOME"}, "", &output), 1);
  EXPECT_NE(output.find(CLR_RED "[ERROR] Unable to locate HOME.\n"), std::string::npos) << output;
  EXPECT_TRUE(fs::is_empty(home_));
}

TEST_F(InstallFootprint, UninstallAsksFirstAndOnlyYesProceeds) {
  fs::create_directory(home_ / "Desktop");
  const std::string profile = "# mine\nexport PATH=\"$HOME/KORVEX:$PATH\"\n";  // not our marked line
  write_file(home_ / ".bashrc", profile);
  std::string output;
  ASSERT_EQ(kvx({"install"}, "", &output), 0);
  const std::string installed_profile = read_file(home_ / ".bashrc");

  const std::string prompt =
      CLR_CYAN "\n=== KORVEX Cross-Platform Uninstaller ===\n\n" CLR_RESET CLR_YELLOW
               "[WARNING] This will remove KORVEX from your system, clean your PATH, and delete "
               "shortcuts.\n" CLR_RESET "Continue? [Y/N] ";
  for (const char* answer : {"n\n", "\n", "", "nope\n", " y\n", "N"}) {
    EXPECT_EQ(kvx({"uninstall"}, answer, &output), 0);
    EXPECT_EQ(output, prompt + "\nUninstallation cancelled.\n\n") << "answer '" << answer << "'";
    EXPECT_TRUE(fs::exists(home_ / "KORVEX/kvx"));
    EXPECT_TRUE(fs::exists(home_ / "Desktop/KORVEX.desktop"));
    EXPECT_EQ(read_file(home_ / ".bashrc"), installed_profile);
  }

  const std::string removed = prompt + CLR_GREEN "[1/3] Removed Desktop shortcut.\n" CLR_RESET;
  const std::string rest = CLR_GREEN "[2/3] Cleaned KORVEX from shell profile PATH.\n" CLR_RESET CLR_GREEN
                                     "[3/3] Removing installation folder: " +
                           (home_ / "KORVEX").string() + "\n" CLR_RESET CLR_GREEN
                                                         "\nKORVEX has been uninstalled. Restart your "
                                                         "terminal to apply PATH changes.\n\n" CLR_RESET;
  for (const char* answer : {"y\n", "Y\n", "yes please\n"}) {
    ASSERT_EQ(kvx({"install"}, "", &output), 0);
    EXPECT_EQ(kvx({"uninstall"}, answer, &output), 0);
    EXPECT_EQ(output, removed + rest) << answer;
    EXPECT_FALSE(fs::exists(home_ / "KORVEX"));
    EXPECT_FALSE(fs::exists(home_ / "Desktop/KORVEX.desktop"));
    EXPECT_TRUE(fs::is_directory(home_ / "Desktop"));
    EXPECT_EQ(read_file(home_ / ".bashrc"), profile);
  }

  // With the shortcut already gone the rest still happens.
  ASSERT_EQ(kvx({"install"}, "", &output), 0);
  fs::remove(home_ / "Desktop/KORVEX.desktop");
  EXPECT_EQ(kvx({"uninstall"}, "y\n", &output), 0);
  EXPECT_EQ(output, prompt + "[1/3] Desktop shortcut already removed.\n" + rest);
  EXPECT_FALSE(fs::exists(home_ / "KORVEX"));
  EXPECT_EQ(read_file(home_ / ".bashrc"), profile);
}

TEST_F(InstallFootprint, UninstallTakesTheLineOutOfEveryProfileAndFollowsLinks) {
  const std::string zsh = "setopt x\r\n" + kProfileLine + "bindkey -e\r\n";
  write_file(home_ / ".zshrc", zsh);
  write_file(home_ / ".profile", kProfileLine + kProfileLine);
  write_file(home_ / "dotfiles-bashrc", "a=1\n" + kProfileLine);
  fs::create_symlink(home_ / "dotfiles-bashrc", home_ / ".bashrc");
  fs::permissions(home_ / ".zshrc", fs::perms::owner_read | fs::perms::owner_write);

  std::string output;
  EXPECT_EQ(kvx({"uninstall"}, "y\n", &output), 0);
  EXPECT_EQ(read_file(home_ / ".zshrc"), "setopt x\r\nbindkey -e\r\n");
  EXPECT_EQ(fs::status(home_ / ".zshrc").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(read_file(home_ / ".profile"), "");
  EXPECT_TRUE(fs::is_symlink(home_ / ".bashrc"));
  EXPECT_EQ(read_file(home_ / "dotfiles-bashrc"), "a=1\n");
}

TEST_F(InstallFootprint, AStepThatDidNotTakeEffectMakesTheInstallFail) {
  fs::create_directory(home_ / "Desktop");
  fs::create_directory(home_ / ".bashrc");  // the profile cannot be written
  std::string output;
  EXPECT_EQ(kvx({"install"}, "", &output), 1);
  EXPECT_NE(output.find(CLR_RED "[2/3] Could not add " + (home_ / "KORVEX").string()), std::string::npos) << output;
  EXPECT_NE(output.find(CLR_GREEN "[3/3] Created Desktop shortcut"), std::string::npos) << output;
  EXPECT_NE(output.find(CLR_RED "\n[ERROR] KORVEX is not fully installed: see the steps in red above.\n\n" CLR_RESET),
            std::string::npos)
      << output;
  EXPECT_EQ(output.find("KORVEX is installed."), std::string::npos) << output;
}

TEST_F(InstallFootprint, UninstallThatCouldNotCleanThePathSaysSoInRed) {
  std::string output;
  const std::string own_line = "alias ll='ls -l'\n";
  write_file(home_ / ".bashrc", own_line);
  ASSERT_EQ(kvx({"install"}, "", &output), 0);
  // The profile cannot be rewritten: no file may grow, so its kept line
  // cannot be written (the shell ignores SIGXFSZ so that the write fails).
  EXPECT_EQ(run_program("/bin/sh", {"-c", "ulimit -f 0; trap '' XFSZ; exec \"$0\" uninstall", KVX_BINARY_PATH},
                        {"HOME=" + home_.string(), "SHELL=/bin/bash"}, "y\n", &output),
            1);
  EXPECT_NE(output.find(CLR_RED "[2/3] Could not clean KORVEX from shell profile PATH: " +
                        (home_ / "KORVEX").string() + " is still on it.\n" CLR_RESET),
            std::string::npos)
      << output;
  EXPECT_EQ(output.find("Cleaned KORVEX"), std::string::npos) << output;
  EXPECT_NE(output.find(CLR_RED "\n[ERROR] KORVEX is not fully uninstalled: take " + (home_ / "KORVEX").string() +
                        " off your shell profile PATH by hand"),
            std::string::npos)
      << output;
  EXPECT_EQ(read_file(home_ / ".bashrc"), own_line + kProfileLine);
}

TEST_F(InstallFootprint, UninstallWithoutHomeChangesNothing) {
  std::string output;
  EXPECT_EQ(run_program(KVX_BINARY_PATH, {"uninstall"}, {"-HOME"}, "y\n", &output), 1);
  EXPECT_NE(output.find(CLR_RED "[ERROR] Unable to locate HOME.\n\n" CLR_RESET), std::string::npos) << output;
  EXPECT_EQ(output.find("[1/3]"), std::string::npos) << output;
}

}  // namespace
