// The command line end to end: the built kvx run in temporary folders, its
// output, exit status and workspace files.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "core/console.h"
#include "pipeline/run.h"
#include "cli_fixture.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using cli_test::file_or_none;
using cli_test::ScopedEnv;
using kvx_test::read_file;
using kvx_test::run_kvx;
using kvx_test::ScopedWorkDir;
using kvx_test::write_file;

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

size_t occurrences(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

// Every test runs in a fresh folder with a PATH on which no outside program
// is found, so nothing ever reaches a real node, npx or curl.
class CommandLine : public testing::Test {
 protected:
  struct Run {
    int status;
    std::string output;
  };
  static Run kvx(const std::vector<std::string>& args) {
    Run run;
    run.status = run_kvx(args, &run.output);
    return run;
  }

  ScopedWorkDir dir_;
  ScopedEnv path_{"PATH", "/nonexistent-tool-folder"};
};

const std::string kHelpBody =
    CLR_CYAN "\nKORVEX (kvx) - JavaScript to TypeScript Transpiler v1.0.0\n\n" CLR_RESET
    "Usage:\n"
    "  kvx <file.js> [file2.js ...]   Convert one or more JS files to .ts\n\n"
    "Transpilation Modes:\n"
    "  kvx mode <a|w|g|auto>  Set default mode (a: fast, w: full, g: safe JS, auto: full pipeline)\n"
    "  kvx a <file.js>        Append new types incrementally to existing .ts\n"
    "  kvx w <file.js>        Rebuild .ts file completely from scratch\n"
    "  kvx g <file.js>        Harden .ts via TSX engine & compile to dist/*.js\n"
    "  kvx auto <file.js>     Full pipeline: JS -> TS -> TSX -> tsc -> dist/*.js\n\n"
    "Information & Maintenance:\n"
    "  kvx h, help            Show this help message\n"
    "  kvx v, version         Show current version\n"
    "  kvx info               Show engine & environment versions\n"
    "  kvx doctor             Run full system & environment diagnostic\n"
    "  kvx stats              Show transpilation usage statistics\n"
    "  kvx clean              Remove generated/ and dist/ folders\n"
    "  kvx check-update       Check if a newer version is available\n"
    "  kvx update             Download and install the latest version\n\n"
    "Code Runner Management:\n"
    "  kvx add <file|dir>     Add a file or directory to the queue\n"
    "  kvx rm <file|dir>      Remove a file or directory from the queue\n"
    "  kvx ls, dir            Display registered files and active mode\n"
    "  kvx clear              Clear the file list\n"
    "  kvx go, run [dir]      Transpile queued items or a target directory\n\n"
    "History & Configuration:\n"
    "  kvx hist               Show command history\n"
    "  kvx hist-clear         Clear command history\n"
    "  kvx errors             Show logged error history\n"
    "  kvx cfg                Show configuration\n"
    "  kvx cfg-reset          Reset configuration to defaults\n\n"
    "Options:\n"
    "  --verbose, -V          Show detailed logs from all 10 analyzers\n"
    "  --inline               Write the whole program with its types in place (w, a, auto, go, run)\n"
    "  --report FILE          With auto --inline on a folder: the summary as JSON in FILE\n\n";
const std::string kVersionLine = "KORVEX (kvx) version 1.0.0\n";
const std::string kTagline = CLR_WHITE "      JavaScript " CLR_CYAN "→" CLR_WHITE " TypeScript " CLR_CYAN
                                       "→" CLR_WHITE " Secure JavaScript\n\n" CLR_RESET;

// ---------------------------------------------------------------------------
// Banner, help and version

TEST_F(CommandLine, BannerIsSixColouredLinesOfBlockLettersAndTheTagline) {
  const Run version = kvx({"v"});
  ASSERT_EQ(version.status, 0);
  ASSERT_TRUE(version.output.ends_with(kVersionLine));
  const std::string banner = version.output.substr(0, version.output.size() - kVersionLine.size());
  ASSERT_TRUE(banner.ends_with(kTagline));
  ASSERT_TRUE(banner.starts_with("\n"));

  const char* colours[] = {CLR_MAGENTA, CLR_MAGENTA, CLR_CYAN, CLR_CYAN, CLR_MAGENTA, CLR_MAGENTA};
  size_t pos = 1;
  const std::regex art("(?:█|╗|╔|═|║|╚|╝| )+");
  for (int line = 0; line < 6; ++line) {
    const std::string colour = colours[line];
    ASSERT_EQ(banner.compare(pos, colour.size(), colour), 0) << "line " << line + 1;
    pos += colour.size();
    const std::string end = line == 5 ? "\n\n" CLR_RESET : "\n" CLR_RESET;
    const size_t stop = banner.find(end, pos);
    ASSERT_NE(stop, std::string::npos) << "line " << line + 1;
    const std::string drawing = banner.substr(pos, stop - pos);
    EXPECT_TRUE(std::regex_match(drawing, art)) << "line " << line + 1 << ": " << drawing;
    EXPECT_NE(drawing.find_first_not_of(' '), std::string::npos) << "line " << line + 1;
    pos = stop + end.size();
  }
  EXPECT_EQ(banner.substr(pos), kTagline);
}

TEST_F(CommandLine, HelpAndVersionWords) {
  const std::string banner = kvx({"version"}).output.substr(0, kvx({"version"}).output.size() - kVersionLine.size());
  struct Case {
    std::vector<std::string> args;
    std::string output;
  } cases[] = {
      {{}, banner + kHelpBody},
      {{"--verbose"}, banner + kHelpBody},  // the switch goes before the count is taken
      {{"-V", "--verbose"}, banner + kHelpBody},
      {{"h"}, banner + kHelpBody},
      {{"help"}, banner + kHelpBody},
      {{"--help"}, banner + kHelpBody},
      {{"-h", "ignored"}, banner + kHelpBody},
      {{"v"}, banner + kVersionLine},
      {{"--version"}, banner + kVersionLine},
      {{"-v"}, banner + kVersionLine},
  };
  for (const Case& c : cases) {
    const Run run = kvx(c.args);
    EXPECT_EQ(run.status, 0) << testing::PrintToString(c.args);
    EXPECT_EQ(run.output, c.output) << testing::PrintToString(c.args);
  }
  EXPECT_FALSE(fs::exists(".kvx"));
}

// ---------------------------------------------------------------------------
// Commands that need no source file

TEST_F(CommandLine, CommandsOfAFreshFolder) {
  const std::string stats_zero = CLR_CYAN "\n=== KORVEX Usage Statistics ===\n\n" CLR_RESET
                                          "  Files transpiled      : 0\n  Mode A executions     : 0\n"
                                          "  Mode W executions     : 0\n  Mode G executions     : 0\n"
                                          "  Mode AUTO executions  : 0\n\n";
  const std::string mode_w = CLR_CYAN "\n=== Active Transpilation Mode ===\n" CLR_RESET
                                      "  Current mode : " CLR_GREEN "w" CLR_RESET "\n"
                                      "  (Use 'kvx mode <a|w|g|auto>' to change)\n\n";
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string output;
  } cases[] = {
      {{"add"}, 1, CLR_RED "Usage: kvx add <file.js|dir>\n" CLR_RESET},
      {{"rm", "-V"}, 1, CLR_RED "Usage: kvx rm <file.js|dir>\n" CLR_RESET},
      {{"mode"}, 0, mode_w},
      {{"mode", "x", "a"}, 0, CLR_RED "[ERROR] Unknown mode 'x'. Available modes: a, w, g, auto\n" CLR_RESET},
      {{"stats"}, 0, stats_zero},
      {{"hist"}, 0, CLR_CYAN "\n=== KVX Command History ===\n" CLR_RESET "  (History is empty)\n\n"},
      {{"hist-clear"}, 0, CLR_GREEN "[OK] History cleared.\n" CLR_RESET},
      {{"errors"}, 0, CLR_CYAN "\n=== KVX Error History ===\n" CLR_RESET "  (No errors logged)\n\n"},
      {{"cfg-reset"}, 0, CLR_GREEN "[OK] Configuration reset to defaults.\n" CLR_RESET},
      {{"cfg"}, 0,
       CLR_GREEN "[OK] Configuration reset to defaults.\n" CLR_RESET CLR_CYAN
                 "\n=== KORVEX Configuration ===\n" CLR_RESET "\n"},
      {{"ls"}, 0,
       CLR_CYAN "\n=== Registered Files in KVX Runner ===\n\n" CLR_RESET "  Active mode : " CLR_GREEN "w" CLR_RESET
                " (Full rebuild)\n\n  (No files registered)\n\n"},
      {{"clear"}, 0, CLR_GREEN "[OK] Runner list cleared.\n" CLR_RESET},
      {{"go"}, 1, CLR_YELLOW "[INFO] No files registered. Use 'kvx add <file.js>' first.\n" CLR_RESET},
      {{"run", "list"}, 1,
       CLR_YELLOW "[INFO] No files in runner list. Use 'kvx add <file.js|dir>' first.\n" CLR_RESET},
      {{"go", "liste", "extra"}, 1,
       CLR_YELLOW "[INFO] No files in runner list. Use 'kvx add <file.js|dir>' first.\n" CLR_RESET},
      {{"go", "missing-folder"}, 1,
       CLR_CYAN "\n=== Running KVX Batch Processor (mode: w) ===\n\n" CLR_RESET CLR_RED
                "[ERROR] Directory not found: 'missing-folder'\n" CLR_RESET CLR_GREEN
                "\n[DONE] 0 / 0 file(s) transpiled successfully.\n\n" CLR_RESET},
  };
  for (const Case& c : cases) {
    const Run run = kvx(c.args);
    EXPECT_EQ(run.status, c.status) << testing::PrintToString(c.args);
    EXPECT_EQ(run.output, c.output) << testing::PrintToString(c.args);
    EXPECT_FALSE(fs::exists(".kvx")) << testing::PrintToString(c.args) << " must not create the workspace";
  }
}

TEST_F(CommandLine, DiagnosticsNeverFailTheCommand) {
  for (const char* word : {"doctor", "info"}) {
    const Run run = kvx({word});
    EXPECT_EQ(run.status, 0) << word;
  }
  EXPECT_TRUE(contains(kvx({"info"}).output, "  Node.js      : missing\n  TypeScript   : missing\n\n"));
  EXPECT_TRUE(contains(kvx({"doctor"}).output, "issue(s) detected."));
}

// ---------------------------------------------------------------------------
// Default rule and mode words

TEST_F(CommandLine, BareNamesRunInTheActiveModeAndFailIfAnyFails) {
  write_file("one.js", "const one = 1;\n");
  write_file("two.js", "let two = 'two';\n");
  struct Case {
    std::vector<std::string> args;
    int status;
    std::vector<std::string> targets;  // announced by mode w, in order
  } cases[] = {
      {{"one.js", "two.js"}, 0, {"one", "two"}},
      {{"one.js", "missing.js", "two.js"}, 1, {"one", "missing", "two"}},
      {{"HELP"}, 1, {"HELP"}},  // command words are case-sensitive
      {{"a"}, 1, {"a"}},        // a mode word without a file is a file name
      {{"--gui", "-V"}, 1, {"--gui"}},
      {{"-V", "w", "one.js"}, 0, {"one"}},
      {{"w", "one.js", "-V"}, 0, {"one"}},
      {{"w", "--verbose", "one.js", "two.js"}, 0, {"one", "two"}},
  };
  for (const Case& c : cases) {
    const Run run = kvx(c.args);
    EXPECT_EQ(run.status, c.status) << testing::PrintToString(c.args);
    std::string expected;
    for (const std::string& target : c.targets) expected += "[MODE W] Rebuilding generated/" + target + ".ts";
    std::string announced;
    const std::regex line(R"(\[MODE W\] Rebuilding [^ ]+\.ts)");
    for (std::sregex_iterator it(run.output.begin(), run.output.end(), line), end; it != end; ++it) {
      announced += it->str();
    }
    EXPECT_EQ(announced, expected) << testing::PrintToString(c.args);
    EXPECT_FALSE(contains(run.output, "'-V'")) << testing::PrintToString(c.args);
  }
  EXPECT_TRUE(fs::exists("generated/one.ts"));
  EXPECT_TRUE(fs::exists("generated/two.ts"));
}

TEST_F(CommandLine, StatisticsCountEveryFileInAFreshFolder) {
  write_file("app.js", "const answer = 42;\n");
  EXPECT_EQ(kvx({"w", "app.js", "missing.js"}).status, 1);
  EXPECT_EQ(kvx({"a", "app.js"}).status, 0);
  EXPECT_EQ(kvx({"g", "app.js"}).status, 1);  // no compiler on the PATH
  EXPECT_EQ(kvx({"auto", "missing.js"}).status, 1);
  write_file(".kvx/mode.txt", "x\n");  // hand-edited: runs as mode w, counted in total only
  const Run run = kvx({"app.js"});
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(contains(run.output, "[MODE W] Rebuilding generated/app.ts completely..."));
  EXPECT_EQ(read_file(".kvx/stats.txt"), "total=6\na=1\nw=2\ng=1\nauto=1\n");
  EXPECT_TRUE(contains(kvx({"stats"}).output, "  Files transpiled      : 6\n  Mode A executions     : 1\n"
                                              "  Mode W executions     : 2\n  Mode G executions     : 1\n"
                                              "  Mode AUTO executions  : 1\n\n"));
}

TEST_F(CommandLine, ModeWDeletesTheTargetEvenWhenTheSourceFails) {
  fs::create_directory("generated");
  write_file("generated/app.ts", "stale");
  write_file("generated/a.ts", "stale");
  write_file("app.js", "");
  EXPECT_EQ(kvx({"w", "app.js"}).status, 1);
  EXPECT_FALSE(fs::exists("generated/app.ts"));
  EXPECT_EQ(kvx({"a"}).status, 1);  // "a" alone is a file name for mode w
  EXPECT_FALSE(fs::exists("generated/a.ts"));
}

TEST_F(CommandLine, ModeAFallsBackToAFullRebuildThenAppendsNothingNew) {
  write_file("app.js", "const answer = 42;\nfunction twice(x) { return x * 2; }\n");
  const Run first = kvx({"a", "app.js"});
  EXPECT_EQ(first.status, 0);
  EXPECT_TRUE(contains(first.output, CLR_YELLOW "[MODE A] Target TS not found. Switching to full rebuild (W).\n" CLR_RESET
                                     CLR_CYAN "[MODE W] Rebuilding generated/app.ts completely...\n" CLR_RESET));
  const std::string generated = read_file("generated/app.ts");

  const Run second = kvx({"a", "app.js"});
  EXPECT_EQ(second.status, 0);
  EXPECT_TRUE(contains(second.output, CLR_GREEN "[MODE A] Added 0 new signature(s) to generated/app.ts\n" CLR_RESET));
  EXPECT_EQ(read_file("generated/app.ts"), generated);
  EXPECT_EQ(kvx({"a", "missing.js"}).status, 1);
}

// ---------------------------------------------------------------------------
// Active mode and editor settings

TEST_F(CommandLine, EditorSettingsApplyBeforeEveryCommand) {
  fs::create_directory(".kvx");
  write_file(".kvx/vscode.json", "{\n  \"KORVEX.mode\": \"g\",\n  \"KORVEX.showAnalyzerLogs\": false\n}\n");
  EXPECT_TRUE(contains(kvx({"mode"}).output, "  Current mode : " CLR_GREEN "g" CLR_RESET "\n"));
  EXPECT_EQ(read_file(".kvx/mode.txt"), "g\n");

  // A mode set rewrites the editor file too, so the new word holds.
  const Run set = kvx({"mode", "a"});
  EXPECT_EQ(set.status, 0);
  EXPECT_EQ(set.output, CLR_GREEN "[OK] Active mode saved: " CLR_CYAN "a\n" CLR_RESET);
  EXPECT_EQ(read_file(".kvx/vscode.json"), "{\n  \"KORVEX.mode\": \"a\"\n}\n");
  EXPECT_TRUE(contains(kvx({"ls"}).output, "  Active mode : " CLR_GREEN "a" CLR_RESET " (Fast incremental)\n\n"));

  EXPECT_EQ(kvx({"mode", "auto"}).status, 0);
  EXPECT_EQ(read_file(".kvx/vscode.json"), "{\n  \"KORVEX.mode\": \"auto\"\n}\n");
  EXPECT_EQ(read_file(".kvx/mode.txt"), "auto\n");
  EXPECT_TRUE(std::regex_match(read_file(".kvx/history.txt"),
                               std::regex(R"(\[[-0-9: ]{19}\] kvx mode a\n\[[-0-9: ]{19}\] kvx mode auto\n)")));
}

TEST_F(CommandLine, ModeSetWithoutAnEditorFileDoesNotCreateOne) {
  EXPECT_EQ(kvx({"mode", "g"}).status, 0);
  EXPECT_EQ(read_file(".kvx/mode.txt"), "g\n");
  EXPECT_FALSE(fs::exists(".kvx/vscode.json"));
  const char* labels[][2] = {{"a", "Fast incremental"}, {"g", "Safe JS compile"}, {"auto", "Full pipeline"},
                             {"w", "Full rebuild"},     {"x", "Full rebuild"},    {"", "Full rebuild"}};
  for (const auto& label : labels) {
    write_file(".kvx/mode.txt", std::string(label[0]) + "\n");
    EXPECT_TRUE(contains(kvx({"dir"}).output, "  Active mode : " CLR_GREEN + std::string(label[0]) +
                                                  CLR_RESET " (" + label[1] + ")\n\n"))
        << label[0];
  }
}

// The verbose switch is observed in-process: the dispatcher's only effect on
// it is the global.
TEST(Dispatcher, VerboseSwitchWinsOverTheEditorsFalse) {
  struct Case {
    std::optional<std::string> json;
    std::vector<std::string> args;
    int verbose;
  } cases[] = {
      {std::nullopt, {"kvx", "stats"}, 0},
      {std::nullopt, {"kvx", "-V", "stats"}, 1},
      {std::nullopt, {"kvx", "stats", "--verbose"}, 1},
      {"{\"KORVEX.showAnalyzerLogs\": true}", {"kvx", "stats"}, 1},
      {"{\"KORVEX.showAnalyzerLogs\": false}", {"kvx", "stats", "-V"}, 1},
      {"{\"KORVEX.showAnalyzerLogs\": false}", {"kvx", "stats"}, 0},
  };
  for (const Case& c : cases) {
    ScopedWorkDir dir;
    if (c.json) {
      fs::create_directory(".kvx");
      write_file(".kvx/vscode.json", *c.json);
    }
    g_kvx_verbose = c.json && contains(*c.json, "false") ? 1 : 0;
    std::vector<char*> argv;
    std::vector<std::string> args = c.args;
    for (std::string& arg : args) argv.push_back(arg.data());
    testing::internal::CaptureStdout();
    EXPECT_EQ(kvx_cli_execute(static_cast<int>(argv.size()), argv.data()), 0);
    const std::string output = testing::internal::GetCapturedStdout();
    EXPECT_EQ(g_kvx_verbose, c.verbose) << testing::PrintToString(c.args);
    EXPECT_TRUE(output.starts_with(CLR_CYAN "\n=== KORVEX Usage Statistics")) << output;
  }
  g_kvx_verbose = 0;
}

// ---------------------------------------------------------------------------
// Runner queue

TEST_F(CommandLine, QueueCommandsKeepTheQueueFileExact) {
  fs::create_directory("src");
  write_file("app.js", "const answer = 42;\n");
  const std::string added = CLR_GREEN "[OK] File added to runner: " CLR_RESET;
  const std::string removed = CLR_GREEN "[OK] File removed: " CLR_RESET;
  struct Case {
    const char* name;
    std::optional<std::string> queue_before;
    std::vector<std::string> args;
    std::string output;
    std::optional<std::string> queue_after;
  } cases[] = {
      {"add to a fresh folder", std::nullopt, {"add", "app.js"}, added + "app.js\n", "app.js\n"},
      {"add twice", "app.js\n", {"add", "app.js"},
       CLR_YELLOW "[INFO] 'app.js' is already in the list.\n" CLR_RESET, "app.js\n"},
      {"add another spelling", "app.js\n", {"add", "./app.js"}, added + "./app.js\n", "app.js\n./app.js\n"},
      {"add a missing source", std::nullopt, {"add", "missing.js"}, added + "missing.js\n", "missing.js\n"},
      {"add a folder and files", "app.js\r\n", {"add", "src", "b.js", "app.js"},
       added + "src\n" + added + "b.js\n" CLR_YELLOW "[INFO] 'app.js' is already in the list.\n" CLR_RESET,
       "app.js\r\nsrc\nb.js\n"},
      {"add a non-source", std::nullopt, {"add", "notes.txt"},
       CLR_RED "[ERROR] File 'notes.txt' is not a valid JS file.\n" CLR_RESET, std::nullopt},
      {"add a doubled extension", std::nullopt, {"add", "x.js.js"},
       CLR_RED "\n[ERROR] Filename contains multiple .js extensions (.js.js & .js)\n" CLR_RESET, std::nullopt},
      {"rm every copy and blank line", "app.js\n\nb.js\napp.js\n\n\nc.js\n", {"rm", "app.js"},
       removed + "app.js\n", "b.js\nc.js\n"},
      {"rm what is not listed", "b.js\n\napp.js\n", {"rm", "x.js"},
       CLR_YELLOW "[INFO] 'x.js' was not in the list.\n" CLR_RESET, "b.js\n\napp.js\n"},
      {"rm from no queue", std::nullopt, {"rm", "app.js"},
       CLR_YELLOW "[INFO] The list is already empty.\n" CLR_RESET, std::nullopt},
      {"rm several", "a.js\nb.js\nc.js\n", {"rm", "c.js", "a.js"}, removed + "c.js\n" + removed + "a.js\n", "b.js\n"},
      {"clear", "a.js\nb.js\n", {"clear"}, CLR_GREEN "[OK] Runner list cleared.\n" CLR_RESET, ""},
      {"list", "src\n\napp.js\r\nmissing/\n", {"ls"},
       CLR_CYAN "\n=== Registered Files in KVX Runner ===\n\n" CLR_RESET "  Active mode : " CLR_GREEN "w" CLR_RESET
                " (Full rebuild)\n\n  1. " CLR_CYAN "/src\n" CLR_RESET "  2. app.js\n  3. missing/\n\n",
       "src\n\napp.js\r\nmissing/\n"},
      {"list of blank lines", "\n\r\n", {"ls"},
       CLR_CYAN "\n=== Registered Files in KVX Runner ===\n\n" CLR_RESET "  Active mode : " CLR_GREEN "w" CLR_RESET
                " (Full rebuild)\n\n  (No files registered)\n\n",
       "\n\r\n"},
  };
  for (const Case& c : cases) {
    std::error_code error;
    fs::remove_all(".kvx", error);
    if (c.queue_before) {
      fs::create_directory(".kvx");
      write_file(".kvx/files.txt", *c.queue_before);
    }
    const Run run = kvx(c.args);
    EXPECT_EQ(run.status, 0) << c.name;
    EXPECT_EQ(run.output, c.output) << c.name;
    EXPECT_EQ(file_or_none(".kvx/files.txt"), c.queue_after) << c.name;
  }
}

TEST_F(CommandLine, QueueCommandsWriteTheirHistory) {
  fs::create_directory("src");
  write_file("src/lib.js", "const lib = 1;\n");
  write_file("app.js", "const answer = 42;\n");
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"add", "app.js"}, {"add", "app.js"}, {"add", "src"}, {"go"},
                                             {"rm", "src"}, {"rm", "src"}, {"go", "src", "missing"},
                                             {"go", "list"}, {"clear"}, {"mode", "x"}, {"ls"}}) {
    kvx(args);
  }
  const std::string stamp = R"(\[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\] kvx )";
  const std::string expected = stamp + R"(add app\.js\n)" + stamp + R"(add src\n)" + stamp + R"(go runner-list\n)" +
                               stamp + R"(rm src\n)" + stamp + R"(run-dir src\n)" + stamp +
                               R"(run-liste batch-safe-js\n)" + stamp + R"(clear all\n)";
  const std::string history = read_file(".kvx/history.txt");
  EXPECT_TRUE(std::regex_match(history, std::regex(expected))) << history;
}

TEST_F(CommandLine, GoRunsFilesAndFoldersOfTheQueueInTheActiveMode) {
  for (const char* folder : {"src/node_modules/dep", "src/generated", "src/lib", "gone", "empty"}) {
    fs::create_directories(folder);
  }
  for (const char* file : {"app.js", "src/main.js", "src/lib/util.js", "src/node_modules/dep/index.js",
                           "src/generated/old.js"}) {
    write_file(file, "const value = 1;\n");
  }
  fs::create_directory(".kvx");
  write_file(".kvx/files.txt", "app.js\n\nsrc\nbroken.js\n");
  const std::string base = fs::current_path().string();
  const Run run = kvx({"run"});
  EXPECT_EQ(run.status, 1);
  const std::string expected_order = CLR_CYAN "\n=== Running KVX Code Runner (mode: w) ===\n\n" CLR_RESET CLR_CYAN
                                              "-> Processing: app.js\n";
  EXPECT_TRUE(run.output.starts_with(expected_order)) << run.output;
  const size_t scanning = run.output.find(CLR_CYAN "-> Scanning directory: src\n" CLR_RESET);
  const size_t main_js = run.output.find(CLR_CYAN "-> Processing: " + base + "/src/main.js\n");
  const size_t util_js = run.output.find(CLR_CYAN "-> Processing: " + base + "/src/lib/util.js\n");
  const size_t broken = run.output.find(CLR_CYAN "-> Processing: broken.js\n");
  EXPECT_LT(scanning, main_js);
  EXPECT_LT(main_js, util_js);
  EXPECT_LT(util_js, broken);
  EXPECT_NE(broken, std::string::npos);
  EXPECT_FALSE(contains(run.output, "index.js"));
  EXPECT_FALSE(contains(run.output, "old.js"));
  EXPECT_TRUE(run.output.ends_with(CLR_GREEN "\n[DONE] 3 / 4 file(s) transpiled successfully.\n\n" CLR_RESET));

  // A queued folder that no longer exists is taken for a file.
  write_file(".kvx/files.txt", "gone\n");
  fs::remove("gone");
  const Run gone = kvx({"go"});
  EXPECT_EQ(gone.status, 1);
  EXPECT_TRUE(contains(gone.output, CLR_CYAN "-> Processing: gone\n"));
  EXPECT_TRUE(gone.output.ends_with(CLR_GREEN "\n[DONE] 0 / 1 file(s) transpiled successfully.\n\n" CLR_RESET));

  // Only an empty folder: nothing found.
  write_file(".kvx/files.txt", "empty\n");
  EXPECT_EQ(kvx({"go"}).output, CLR_CYAN "\n=== Running KVX Code Runner (mode: w) ===\n\n" CLR_RESET CLR_CYAN
                                         "-> Scanning directory: empty\n" CLR_RESET CLR_YELLOW
                                         "[INFO] Runner list is empty.\n\n" CLR_RESET);
  EXPECT_EQ(kvx({"go"}).status, 1);
  const Run safe = kvx({"go", "list"});
  EXPECT_EQ(safe.status, 1);
  EXPECT_EQ(safe.output, CLR_CYAN "\n=== Running KVX Safe JS Batch Pipeline (list -> dist/*.js) ===\n\n" CLR_RESET
                         CLR_CYAN "-> Scanning directory: /empty\n" CLR_RESET CLR_GREEN
                         "\n[DONE] 0 / 0 safe JS file(s) built in dist/.\n\n" CLR_RESET);

  // Blank lines only.
  write_file(".kvx/files.txt", "\n\n");
  EXPECT_EQ(kvx({"run", "liste"}).output, CLR_YELLOW "[INFO] Runner list is empty.\n" CLR_RESET);
}

TEST_F(CommandLine, GoRunsAllFilesAndSucceedsOnlyWhenAllSucceed) {
  fs::create_directory("lib");
  write_file("app.js", "const answer = 42;\n");
  write_file("lib/util.js", "let count = 0;\n");
  fs::create_directory(".kvx");
  write_file(".kvx/files.txt", "app.js\nlib\n");
  write_file(".kvx/mode.txt", "a\n");
  const Run run = kvx({"go"});
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(run.output.starts_with(CLR_CYAN "\n=== Running KVX Code Runner (mode: a) ===\n\n" CLR_RESET));
  EXPECT_TRUE(run.output.ends_with(CLR_GREEN "\n[DONE] 2 / 2 file(s) transpiled successfully.\n\n" CLR_RESET));
  EXPECT_TRUE(fs::exists("generated/app.ts"));
  EXPECT_TRUE(fs::exists("generated/util.ts"));
  EXPECT_EQ(read_file(".kvx/stats.txt"), "total=2\na=2\nw=0\ng=0\nauto=0\n");
}

TEST_F(CommandLine, SafeBatchRunsTheFirst256EntriesInModeAuto) {
  fs::create_directory(".kvx");
  std::string queue;
  for (int i = 1; i <= 300; ++i) queue += "f" + std::to_string(i) + ".js\n\n";
  write_file(".kvx/files.txt", queue);
  const Run run = kvx({"run", "list"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(occurrences(run.output, "-> Building Safe JS: "), 256u);
  EXPECT_TRUE(contains(run.output, "-> Building Safe JS: f256.js\n"));
  EXPECT_FALSE(contains(run.output, "f257.js"));
  EXPECT_TRUE(run.output.ends_with(CLR_GREEN "\n[DONE] 0 / 256 safe JS file(s) built in dist/.\n\n" CLR_RESET));
  EXPECT_EQ(read_file(".kvx/stats.txt"), "total=256\na=0\nw=0\ng=0\nauto=256\n");
}

TEST_F(CommandLine, FolderBatchAddsUpEveryFolder) {
  for (const char* folder : {"one", "two/deep", "none"}) fs::create_directories(folder);
  write_file("one/a.js", "const a = 1;\n");
  write_file("two/deep/b.js", "const b = 2;\n");
  write_file("two/c.js.js", "const c = 3;\n");
  const Run run = kvx({"go", "one", "missing", "two", "none"});
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(run.output.starts_with(CLR_CYAN "\n=== Running KVX Batch Processor (mode: w) ===\n\n" CLR_RESET));
  EXPECT_TRUE(contains(run.output, CLR_RED "[ERROR] Directory not found: 'missing'\n" CLR_RESET));
  EXPECT_TRUE(contains(run.output, "multiple .js extensions"));
  EXPECT_TRUE(run.output.ends_with(CLR_GREEN "\n[DONE] 2 / 2 file(s) transpiled successfully.\n\n" CLR_RESET));
  EXPECT_TRUE(std::regex_match(read_file(".kvx/history.txt"), std::regex(R"(\[[-0-9: ]{19}\] kvx run-dir one\n)")));

  const Run none = kvx({"run", "none"});
  EXPECT_EQ(none.status, 1);  // a batch that found nothing fails
  EXPECT_TRUE(none.output.ends_with(CLR_GREEN "\n[DONE] 0 / 0 file(s) transpiled successfully.\n\n" CLR_RESET));

  write_file("one/bad.js", "");
  EXPECT_EQ(kvx({"go", "one"}).status, 1);
}

}  // namespace
