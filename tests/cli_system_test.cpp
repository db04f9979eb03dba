#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <optional>
#include <random>
#include <regex>
#include <string>

#include "cli/cli.h"
#include "cli/cli_storage.h"
#include "cli/cli_system.h"
#include "core/console.h"
#include "cli_fixture.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using cli_test::capture;
using cli_test::ScopedEnv;
using kvx_test::read_file;
using kvx_test::ScopedWorkDir;
using kvx_test::write_file;

// A folder of fake node, npm and npx scripts that is the whole PATH while the
// object lives. Its name holds neither "kvx" nor "korvex", so the PATH test
// sees only what a test adds.
class FakeTools {
 public:
  explicit FakeTools(const std::string& extra_path = "")
      : folder_(make_folder()), path_("PATH", folder_.string() + (extra_path.empty() ? "" : ":" + extra_path)) {}
  ~FakeTools() {
    std::error_code error;
    fs::remove_all(folder_, error);
  }
  FakeTools(const FakeTools&) = delete;
  FakeTools& operator=(const FakeTools&) = delete;

  void add(const std::string& name, const std::string& body) {
    const fs::path file = folder_ / name;
    write_file(file, "#!/bin/sh\n" + body + "\n");
    ::chmod(file.c_str(), 0755);
  }

 private:
  static fs::path make_folder() {
    std::random_device random;
    for (;;) {
      fs::path folder = fs::temp_directory_path() / ("fake-tools-" + std::to_string(random()));
      if (fs::create_directory(folder)) return folder;
    }
  }
  fs::path folder_;
  ScopedEnv path_;
};

// ---------------------------------------------------------------------------
// Tool probe

TEST(ToolProbe, AcceptsOnlyAStatusZeroWithANonEmptyFirstLine) {
  const std::string long_line(70, 'v');
  struct Case {
    const char* name;
    std::optional<std::string> script;  // absent tool when none
    std::optional<std::string> answer;  // none when the probe fails
  } cases[] = {
      {"present", "echo v20.11.1", "v20.11.1"},
      {"first line only", "echo 5.4.5; echo second", "5.4.5"},
      {"windows line end", "printf '10.2.4\\r\\n'", "10.2.4"},
      {"no line end", "printf '9.0'", "9.0"},
      {"cut to 63 characters", "echo " + long_line, long_line.substr(0, 63)},
      {"missing", std::nullopt, std::nullopt},
      {"exits non-zero", "echo v1.0.0; exit 2", std::nullopt},
      {"standard error only", "echo v20.11.1 >&2", std::nullopt},
      {"empty first line", "echo; echo v1", std::nullopt},
      {"silent", "true", std::nullopt},
  };
  for (const Case& c : cases) {
    FakeTools tools;
    if (c.script) tools.add("tool", *c.script);
    testing::internal::CaptureStdout();
    const std::optional<std::string> answer = cli_check_tool_version("tool -v");
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(answer, c.answer) << c.name;
    EXPECT_EQ(printed, "") << c.name << ": the tool's error output must be discarded";
  }
}

TEST(ToolProbe, RunsAnArgumentVectorWithoutAShell) {
  ScopedWorkDir dir;
  FakeTools tools;
  tools.add("echoargs", "printf '%s|' \"$@\"; echo");
  PlatformCommand command;
  command.command_line = "echoargs \"a b\" \"$(touch injected)\"";
  command.argv = {"echoargs", "a b", "$(touch injected)"};
  EXPECT_EQ(tool_probe_command(command), "a b|$(touch injected)|");
  EXPECT_FALSE(fs::exists("injected"));
  EXPECT_FALSE(fs::exists("nul")) << "the Windows redirection must not reach a POSIX shell";
}

// ---------------------------------------------------------------------------
// Environment checks

TEST(EnvironmentChecks, WriteTestLeavesNothingBehind) {
  ScopedWorkDir dir;
  fs::create_directory("out");
  write_file("plain-file", "x");
  EXPECT_EQ(cli_check_dir_writable("out"), 1);
  EXPECT_EQ(cli_check_dir_writable("."), 1);
  EXPECT_TRUE(fs::is_empty("out"));
  EXPECT_FALSE(fs::exists(".kvx_write_test.tmp"));
  EXPECT_EQ(cli_check_dir_writable("missing"), 0);
  EXPECT_EQ(cli_check_dir_writable("plain-file"), 0);
}

TEST(EnvironmentChecks, PathTestLooksForTheProductNameAnywhere) {
  struct Case {
    std::optional<std::string> path;
    int found;
  } cases[] = {
      {"/usr/bin:/home/dev/KORVEX", 1},
      {"/opt/korvex/bin", 1},
      {"/home/dev/tools/mykvxstuff:/bin", 1},  // the letters anywhere are enough
      {"/usr/bin:/home/dev/Korvex", 0},        // case-sensitive
      {"/usr/bin:/bin", 0},
      {"", 0},
      {std::nullopt, 0},
  };
  for (const Case& c : cases) {
    ScopedEnv path("PATH", c.path);
    EXPECT_EQ(cli_check_in_path(), c.found) << c.path.value_or("(unset)");
  }
}

TEST(EnvironmentChecks, MissingToolReportsArePrintedAndLogged) {
  ScopedWorkDir dir;
  fs::create_directory(".kvx");
  EXPECT_EQ(capture(cli_print_missing_node_error),
            CLR_RED "\n[ERROR]\nNode.js was not found.\n\nKORVEX requires Node.js.\n\nDownload:\n"
                    "https://nodejs.org/en/download\n\n" CLR_RESET);
  EXPECT_EQ(capture(cli_print_missing_tsc_error),
            CLR_RED "\n[ERROR]\nTypeScript compiler (tsc) was not found.\n\nInstall TypeScript:\n\n"
                    "npm install -g typescript\n\n" CLR_RESET);
  const std::string log = read_file(".kvx/errors.txt");
  const std::regex expected(
      R"(\[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\] Node\.js was not found in system PATH\n)"
      R"(\[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\] TypeScript compiler \(tsc\) missing\n)");
  EXPECT_TRUE(std::regex_match(log, expected)) << log;
}

// ---------------------------------------------------------------------------
// Doctor

const char* const kDoctorHead =
    CLR_CYAN "\n=== KORVEX Diagnostic ===\n\n" CLR_RESET
    CLR_GREEN "  [OK] " CLR_RESET "Core, Reader, Tokenizer, Analyzer (Passes 1-10) & Generator loaded\n"
    CLR_GREEN "  [OK] " CLR_RESET "TSX Security & Optimization Engine loaded\n\n";
const char* const kNodeOk = CLR_GREEN "  [OK] " CLR_RESET "Node.js detected (v20.11.1)\n";
const char* const kNodeFail =
    CLR_RED "  [FAIL] " CLR_RESET "Node.js not found (Download: https://nodejs.org/en/download)\n";
const char* const kNpmOk = CLR_GREEN "  [OK] " CLR_RESET "npm detected (v10.2.4)\n";
const char* const kNpmFail = CLR_RED "  [FAIL] " CLR_RESET "npm not found\n";
const char* const kNpxOk = CLR_GREEN "  [OK] " CLR_RESET "npx detected (v10.2.4)\n";
const char* const kNpxFail = CLR_RED "  [FAIL] " CLR_RESET "npx not found\n";
const char* const kTscOk = CLR_GREEN "  [OK] " CLR_RESET "TypeScript detected (Version 5.4.5)\n\n";
const char* const kTscFail =
    CLR_RED "  [FAIL] " CLR_RESET "TypeScript not found (Run: npm install -g typescript)\n\n";
const char* const kCreated = CLR_GREEN "Dossier 'generated' cree.\n" CLR_RESET;
const char* const kFoldersOk = CLR_GREEN "  [OK] " CLR_RESET "generated/ writable\n"
                               CLR_GREEN "  [OK] " CLR_RESET "Workspace root writable\n";
const char* const kPathOk = CLR_GREEN "  [OK] " CLR_RESET "PATH contains KORVEX\n";
const char* const kPathWarn =
    CLR_YELLOW "  [!]  " CLR_RESET "PATH does not contain KORVEX folder (Run 'kvx install' or restart terminal)\n";
const char* const kReady =
    CLR_GREEN "  [OK] " CLR_RESET "Auto pipeline ready\n" CLR_GREEN "\nNo problems detected.\n\n" CLR_RESET;

std::string not_ready(int issues) {
  return CLR_RED "  [FAIL] " CLR_RESET "Auto pipeline not ready\n" CLR_YELLOW "\n" + std::to_string(issues) +
         " issue(s) detected. Please fix them before using Mode G or AUTO.\n\n" CLR_RESET;
}

constexpr const char* kNpxWithTsc = "case \"$1\" in -v) echo 10.2.4;; tsc) echo 'Version 5.4.5';; *) exit 1;; esac";
constexpr const char* kNpxWithoutTsc =
    "if [ \"$1\" = -v ]; then echo 10.2.4; else echo 'npm ERR! could not determine executable' >&2; exit 1; fi";

TEST(Doctor, ReportsEveryCheckTheIssueCountAndTheVerdict) {
  struct Case {
    const char* name;
    const char* node;
    const char* npm;
    const char* npx;
    const char* extra_path;
    std::string expected;
  } cases[] = {
      {"all present", "echo v20.11.1", "echo 10.2.4", kNpxWithTsc, "/opt/KORVEX",
       std::string(kDoctorHead) + kNodeOk + kNpmOk + kNpxOk + kTscOk + kCreated + kFoldersOk + kPathOk + kReady},
      {"typescript absent", "echo v20.11.1", "echo 10.2.4", kNpxWithoutTsc, "/opt/KORVEX",
       std::string(kDoctorHead) + kNodeOk + kNpmOk + kNpxOk + kTscFail + kCreated + kFoldersOk + kPathOk +
           not_ready(1)},
      {"nothing installed", nullptr, nullptr, nullptr, "",
       std::string(kDoctorHead) + kNodeFail + kNpmFail + kNpxFail + kTscFail + kCreated + kFoldersOk + kPathWarn +
           not_ready(5)},
      {"non-zero status and error output only", "echo v20.11.1; exit 1", "echo 10.2.4 >&2", kNpxWithTsc,
       "/opt/KORVEX",
       std::string(kDoctorHead) + kNodeFail + kNpmFail + kNpxOk + kTscOk + kCreated + kFoldersOk + kPathOk +
           not_ready(2)},
      {"only the path warning", "echo v20.11.1", "echo 10.2.4", kNpxWithTsc, "",
       std::string(kDoctorHead) + kNodeOk + kNpmOk + kNpxOk + kTscOk + kCreated + kFoldersOk + kPathWarn +
           not_ready(1)},
  };
  for (const Case& c : cases) {
    ScopedWorkDir dir;
    FakeTools tools(c.extra_path);
    if (c.node) tools.add("node", c.node);
    if (c.npm) tools.add("npm", c.npm);
    if (c.npx) tools.add("npx", c.npx);
    EXPECT_EQ(capture(cli_run_doctor), c.expected) << c.name;
    EXPECT_TRUE(fs::is_directory("generated")) << c.name;
    EXPECT_TRUE(fs::is_empty("generated")) << c.name;
  }
}

TEST(Doctor, StillTestsTheRootWhenGeneratedCannotBeWritten) {
  ScopedWorkDir dir;
  FakeTools tools("/opt/KORVEX");
  tools.add("node", "echo v20.11.1");
  tools.add("npm", "echo 10.2.4");
  tools.add("npx", kNpxWithTsc);
  write_file("generated", "a file where the folder should be");
  EXPECT_EQ(capture(cli_run_doctor), std::string(kDoctorHead) + kNodeOk + kNpmOk + kNpxOk + kTscOk +
                                         CLR_RED "  [FAIL] " CLR_RESET "generated/ is not writable\n" CLR_GREEN
                                                 "  [OK] " CLR_RESET "Workspace root writable\n" +
                                         kPathOk + not_ready(1));
}

TEST(Info, ReportsBothToolsAfterProbingThem) {
  struct Case {
    const char* node;
    const char* npx;
    const char* node_word;
    const char* tsc_word;
  } cases[] = {
      {"echo v20.11.1", kNpxWithTsc, "detected", "detected"},
      {"echo v20.11.1", kNpxWithoutTsc, "detected", "missing"},
      {nullptr, nullptr, "missing", "missing"},
  };
  for (const Case& c : cases) {
    FakeTools tools;
    if (c.node) tools.add("node", c.node);
    if (c.npx) tools.add("npx", c.npx);
    EXPECT_EQ(capture(cli_print_info), std::string(CLR_CYAN "\n=== KORVEX Engine Info ===\n" CLR_RESET
                                                            "  KORVEX Core   : 1.0.0\n"
                                                            "  TSX Engine   : 1.0.0\n"
                                                            "  CLI          : 1.0.0\n\n"
                                                            "  Node.js      : ") +
                                           c.node_word + "\n  TypeScript   : " + c.tsc_word + "\n\n");
  }
}

// ---------------------------------------------------------------------------
// Error log and statistics

TEST(ErrorLog, AppendsOnlyWhereTheWorkspaceExists) {
  ScopedWorkDir dir;
  cli_error_log("tsc compilation failed");
  EXPECT_FALSE(fs::exists(".kvx"));

  fs::create_directory(".kvx");
  cli_error_log("tsc compilation failed");
  cli_error_log("Mode G blocked: missing generated .ts file");
  const std::string log = read_file(".kvx/errors.txt");
  EXPECT_TRUE(std::regex_match(log, std::regex(R"(\[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\] tsc compilation failed\n)"
                                               R"(\[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\] Mode G blocked: )"
                                               R"(missing generated \.ts file\n)")))
      << log;
}

TEST(ErrorLog, ShowsPiecesOfAtMost255Characters) {
  const std::string heading = CLR_CYAN "\n=== KVX Error History ===\n" CLR_RESET;
  const std::string long_line = "[2026-03-01 14:05:09] " + std::string(300, 'e');
  struct Case {
    const char* name;
    std::optional<std::string> file;
    std::string expected;
  } cases[] = {
      {"no file", std::nullopt, heading + "  (No errors logged)\n\n"},
      {"empty file", "", heading + "  (No errors logged)\n\n"},
      {"two lines", "[a] one\n[b] two\n", heading + "  [a] one\n  [b] two\n\n"},
      {"long line", long_line + "\n",
       heading + "  " + long_line.substr(0, 255) + "  " + long_line.substr(255) + "\n\n"},
  };
  for (const Case& c : cases) {
    ScopedWorkDir dir;
    if (c.file) {
      fs::create_directory(".kvx");
      write_file(".kvx/errors.txt", *c.file);
    }
    EXPECT_EQ(capture(cli_errors_show), c.expected) << c.name;
  }
}

TEST(Statistics, CountsEveryRunInTotalAndKnownModesInTheirOwnLine) {
  ScopedWorkDir dir;  // no workspace yet: the first record creates it
  struct Step {
    const char* mode;
    const char* file;
  } steps[] = {
      {"w", "total=1\na=0\nw=1\ng=0\nauto=0\n"},    {"a", "total=2\na=1\nw=1\ng=0\nauto=0\n"},
      {"auto", "total=3\na=1\nw=1\ng=0\nauto=1\n"}, {"g", "total=4\na=1\nw=1\ng=1\nauto=1\n"},
      {"x", "total=5\na=1\nw=1\ng=1\nauto=1\n"},    {"", "total=6\na=1\nw=1\ng=1\nauto=1\n"},
      {"W", "total=7\na=1\nw=1\ng=1\nauto=1\n"},
  };
  for (const Step& step : steps) {
    cli_stats_record(step.mode);
    EXPECT_EQ(read_file(".kvx/stats.txt"), step.file) << "after mode '" << step.mode << "'";
  }
  EXPECT_EQ(capture(cli_stats_show), CLR_CYAN "\n=== KORVEX Usage Statistics ===\n\n" CLR_RESET
                                     "  Files transpiled      : 7\n"
                                     "  Mode A executions     : 1\n"
                                     "  Mode W executions     : 1\n"
                                     "  Mode G executions     : 1\n"
                                     "  Mode AUTO executions  : 1\n\n");
}

TEST(Statistics, ShowsZerosFromTheFirstLineThatDoesNotMatch) {
  struct Case {
    std::optional<std::string> file;
    int total, a, w, g, automatic;
  } cases[] = {
      {std::nullopt, 0, 0, 0, 0, 0},
      {"", 0, 0, 0, 0, 0},
      {"total=9\na=2\nw=3\ng=1\nauto=3\n", 9, 2, 3, 1, 3},
      {"total=9\na=2\n", 9, 2, 0, 0, 0},
      {"total=9\nw=3\na=2\n", 9, 0, 0, 0, 0},
      {"total=x\na=2\n", 0, 0, 0, 0, 0},
      {"total= 4\r\n\r\na=-1 w=2\ng=+3auto=1", 4, -1, 2, 3, 1},
      {"total=99999999999\na=1\n", 2147483647, 1, 0, 0, 0},
  };
  for (const Case& c : cases) {
    ScopedWorkDir dir;
    if (c.file) {
      fs::create_directory(".kvx");
      write_file(".kvx/stats.txt", *c.file);
    }
    char expected[512];
    std::snprintf(expected, sizeof expected,
                  CLR_CYAN "\n=== KORVEX Usage Statistics ===\n\n" CLR_RESET
                           "  Files transpiled      : %d\n  Mode A executions     : %d\n"
                           "  Mode W executions     : %d\n  Mode G executions     : %d\n"
                           "  Mode AUTO executions  : %d\n\n",
                  c.total, c.a, c.w, c.g, c.automatic);
    EXPECT_EQ(capture(cli_stats_show), expected) << c.file.value_or("(no file)");
  }
}

TEST(Statistics, RecordingContinuesFromWhatTheFileHolds) {
  ScopedWorkDir dir;
  fs::create_directory(".kvx");
  write_file(".kvx/stats.txt", "total=2147483647\na=4\nw=oops\n");
  cli_stats_record("a");
  EXPECT_EQ(read_file(".kvx/stats.txt"), "total=2147483647\na=5\nw=0\ng=0\nauto=0\n");
}

}  // namespace
