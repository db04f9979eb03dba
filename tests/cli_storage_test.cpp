#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "cli/cli_batch.h"
#include "cli/cli_storage.h"
#include "core/console.h"
#include "core/filesystem.h"
#include "pipeline/run.h"
#include "cli_fixture.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using cli_test::capture;
using cli_test::file_or_none;
using cli_test::ScopedEnv;
using kvx_test::read_file;
using kvx_test::ScopedWorkDir;
using kvx_test::write_file;

// ---------------------------------------------------------------------------
// Line buffers

TEST(LineBuffer, ReadsPiecesTheWayAFixedLineBufferDoes) {
  struct Case {
    std::string text;
    int size;
    std::vector<std::string> pieces;
  } cases[] = {
      {"", 8, {}},
      {"ab\ncd\n", 8, {"ab\n", "cd\n"}},
      {"ab\n\ncd", 8, {"ab\n", "\n", "cd"}},
      {"abcdefghij\n", 5, {"abcd", "efgh", "ij\n"}},
      {"abcd\n", 5, {"abcd", "\n"}},  // a line of exactly size - 1 leaves its line feed alone
  };
  for (const Case& c : cases) {
    std::vector<std::string> from_text;
    size_t pos = 0;
    std::string piece;
    while (workspace_read_piece(c.text, pos, c.size, piece)) from_text.push_back(piece);
    EXPECT_EQ(from_text, c.pieces) << c.text;

    ScopedWorkDir dir;
    write_file("f.txt", c.text);
    FilePtr file = open_file("f.txt", "r");
    std::vector<std::string> from_file;
    while (workspace_read_piece(file.get(), c.size, piece)) from_file.push_back(piece);
    EXPECT_EQ(from_file, c.pieces) << c.text;
  }
}

TEST(LineBuffer, CutsALineAtItsFirstLineEnd) {
  struct Case {
    const char* text;
    const char* line;
  } cases[] = {{"app.js\n", "app.js"}, {"app.js\r\n", "app.js"}, {"a\rb\n", "a"}, {"\n", ""}, {"x", "x"}};
  for (const Case& c : cases) EXPECT_EQ(workspace_cut_line(c.text), c.line) << c.text;
}

// ---------------------------------------------------------------------------
// History

TEST(History, LogsOnlyWhereTheWorkspaceExists) {
  ScopedWorkDir dir;
  cli_history_log("add", "app.js");
  EXPECT_FALSE(fs::exists(".kvx"));

  ensure_kvx_dir();
  ensure_kvx_dir();  // an existing folder is fine
  cli_history_log("add", "app.js");
  cli_history_log("go", "");
  const std::string history = read_file(".kvx/history.txt");
  EXPECT_TRUE(std::regex_match(history, std::regex(R"(\[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\] kvx add app\.js\n)"
                                                   R"(\[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\] kvx go \n)")))
      << history;
}

TEST(History, StampsLinesInLocalTime) {
  ScopedWorkDir dir;
  ensure_kvx_dir();
  ScopedEnv zone("TZ", "KVX-7");  // seven hours ahead of UTC
  const std::time_t before = std::time(nullptr);
  cli_history_log("clear", "all");
  const std::time_t after = std::time(nullptr);

  auto format = [](std::time_t when, bool local) {
    char text[64];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", local ? std::localtime(&when) : std::gmtime(&when));
    return std::string(text);
  };
  const std::string stamp = read_file(".kvx/history.txt").substr(1, 19);
  EXPECT_GE(stamp, format(before, true));
  EXPECT_LE(stamp, format(after, true));
  EXPECT_NE(stamp.substr(0, 16), format(before, false).substr(0, 16));
}

TEST(History, ShowsPiecesOfAtMost511Characters) {
  const std::string heading = CLR_CYAN "\n=== KVX Command History ===\n" CLR_RESET;
  const std::string long_line = "[2026-03-01 14:05:09] kvx add " + std::string(600, 'p') + ".js";
  struct Case {
    const char* name;
    std::optional<std::string> file;
    std::string expected;
  } cases[] = {
      {"no file", std::nullopt, heading + "  (History is empty)\n\n"},
      {"empty file", "", heading + "  (History is empty)\n\n"},
      {"two lines", "[a] kvx add a.js\n[b] kvx clear all\n", heading + "  [a] kvx add a.js\n  [b] kvx clear all\n\n"},
      {"long line", long_line + "\n",
       heading + "  " + long_line.substr(0, 511) + "  " + long_line.substr(511) + "\n\n"},
  };
  for (const Case& c : cases) {
    ScopedWorkDir dir;
    if (c.file) {
      ensure_kvx_dir();
      write_file(".kvx/history.txt", *c.file);
    }
    EXPECT_EQ(capture(cli_history_show), c.expected) << c.name;
  }
}

TEST(History, ClearTruncatesWithoutLoggingAndCreatesNothing) {
  const std::string confirmation = CLR_GREEN "[OK] History cleared.\n" CLR_RESET;
  {
    ScopedWorkDir dir;
    EXPECT_EQ(capture(cli_history_clear), confirmation);
    EXPECT_FALSE(fs::exists(".kvx"));
  }
  ScopedWorkDir dir;
  ensure_kvx_dir();
  write_file(".kvx/history.txt", "[x] kvx add a.js\n");
  EXPECT_EQ(capture(cli_history_clear), confirmation);
  EXPECT_EQ(read_file(".kvx/history.txt"), "");
  EXPECT_EQ(capture(cli_history_show), CLR_CYAN "\n=== KVX Command History ===\n" CLR_RESET "  (History is empty)\n\n");
}

// ---------------------------------------------------------------------------
// Configuration

const char* const kDefaults = "output_dir=generated\nstrict_mode=true\nauto_compile_tsc=false\n";
const char* const kResetLine = CLR_GREEN "[OK] Configuration reset to defaults.\n" CLR_RESET;
const char* const kConfigHeading = CLR_CYAN "\n=== KORVEX Configuration ===\n" CLR_RESET;

TEST(Configuration, ResetWritesTheThreeDefaultsWhereTheWorkspaceExists) {
  {
    ScopedWorkDir dir;
    EXPECT_EQ(capture(cli_config_reset), kResetLine);
    EXPECT_FALSE(fs::exists(".kvx"));
  }
  ScopedWorkDir dir;
  ensure_kvx_dir();
  write_file(".kvx/config.txt", "output_dir=elsewhere\nextra=1\n");
  EXPECT_EQ(capture(cli_config_reset), kResetLine);
  EXPECT_EQ(read_file(".kvx/config.txt"), kDefaults);
  EXPECT_EQ(read_file(".kvx/config.txt").size(), 61u);
}

TEST(Configuration, ShowResetsAMissingFileFirst) {
  struct Case {
    const char* name;
    bool workspace;
    std::optional<std::string> file;
    std::string expected;
    std::optional<std::string> after;
  } cases[] = {
      {"no workspace", false, std::nullopt, std::string(kResetLine) + kConfigHeading + "\n", std::nullopt},
      {"no file", true, std::nullopt,
       std::string(kResetLine) + kConfigHeading +
           "  output_dir=generated\n  strict_mode=true\n  auto_compile_tsc=false\n\n",
       kDefaults},
      {"edited file", true, "output_dir=out\n" + std::string(520, 'k') + "\n",
       std::string(kConfigHeading) + "  output_dir=out\n  " + std::string(511, 'k') + "  " + std::string(9, 'k') +
           "\n\n",
       "output_dir=out\n" + std::string(520, 'k') + "\n"},
  };
  for (const Case& c : cases) {
    ScopedWorkDir dir;
    if (c.workspace) ensure_kvx_dir();
    if (c.file) write_file(".kvx/config.txt", *c.file);
    EXPECT_EQ(capture(cli_config_show), c.expected) << c.name;
    if (c.after) {
      EXPECT_EQ(read_file(".kvx/config.txt"), *c.after) << c.name;
    } else {
      EXPECT_FALSE(fs::exists(".kvx")) << c.name;
    }
  }
}

// ---------------------------------------------------------------------------
// Transpilation modes

TEST(TargetPath, TakesTheBaseNameWithoutAFinalDotJs) {
  struct Case {
    std::string source;
    std::string target;
  } cases[] = {
      {"app.js", "generated/app.ts"},
      {"src\\lib/app.js", "generated/app.ts"},
      {"src/lib\\app.js", "generated/app.ts"},
      {"C:\\work/src\\x.js", "generated/x.ts"},
      {"app.JS", "generated/app.JS.ts"},
      {".js", "generated/.js.ts"},
      {"dir/.js", "generated/.js.ts"},
      {"a.js.js", "generated/a.js.ts"},
      {"noext", "generated/noext.ts"},
      {"dir/", "generated/.ts"},
      // The file the pipeline writes: the stem cut to 255 bytes.
      {std::string(600, 'n') + ".js", "generated/" + std::string(255, 'n') + ".ts"},
  };
  for (const Case& c : cases) EXPECT_EQ(get_generated_ts_path(c.source), c.target) << c.source;
}

const char* const kBlock = "\n// --- Incremental updates (Mode A) ---\n";

TEST(ModeAppendMerge, AppendsOnlyNewTopLevelLines) {
  const std::string old_text = "// Automatically generated by KORVEX V1\n\ndeclare const a: number;\n";
  struct Case {
    const char* name;
    std::string new_text;
    std::string appended;  // after the header block; empty: nothing added
    int count;
  } cases[] = {
      {"nothing new", old_text, "", 0},
      {"one new declaration", old_text + "declare const b: string;\n", "declare const b: string;\n", 1},
      {"each prefix",
       "declare let c: any;\ninterface Shape {\n  x: number;\n}\nfunction f(x: number): number {\n  return x;\n}\n"
       "export const d: number = 1;\n",
       "declare let c: any;\ninterface Shape {\nfunction f(x: number): number {\nexport const d: number = 1;\n", 4},
      {"prefix must open the line", "  declare const e: any;\ndeclared\nDeclare const f;\nexport{g}\n// function h\n",
       "", 0},
      {"substring anywhere in the old text counts as present", "declare const a\nGenerated by\ndeclare \n", "", 0},
      {"changed line appended in its new form", "declare const a: string;\n", "declare const a: string;\n", 1},
      {"repeated line appended twice", "function k() {\n}\nfunction k() {\n}\n", "function k() {\nfunction k() {\n", 2},
      {"no final line feed", "export default k;", "export default k;\n", 1},
      {"empty fresh generation", "", "", 0},
  };
  for (const Case& c : cases) {
    int count = -1;
    const std::string merged = cli_mode_append_merge(old_text, c.new_text, count);
    EXPECT_EQ(count, c.count) << c.name;
    EXPECT_EQ(merged, c.count == 0 ? old_text : old_text + kBlock + c.appended) << c.name;
  }
}

TEST(ModeAppendMerge, ComparesAgainstTheWholeOldTextNotOnlyItsLines) {
  int count = -1;
  EXPECT_EQ(cli_mode_append_merge("x", "export const x = 1;\n", count), std::string("x") + kBlock + "export const x = 1;\n");
  EXPECT_EQ(count, 1);
  EXPECT_EQ(cli_mode_append_merge("// export const x = 1; (moved)\n", "export const x = 1;\n", count),
            "// export const x = 1; (moved)\n");
  EXPECT_EQ(count, 0);
  EXPECT_EQ(cli_mode_append_merge("", "declare const y: number;\n", count),
            std::string(kBlock) + "declare const y: number;\n");
}

TEST(ActiveMode, ReadsTheFirstLineCutTo15Characters) {
  struct Case {
    const char* name;
    std::optional<std::string> file;
    std::string mode;
  } cases[] = {
      {"no file", std::nullopt, "w"},
      {"empty file", "", "w"},
      {"empty first line", "\nauto\n", ""},
      {"plain", "auto\n", "auto"},
      {"windows line end", "a\r\n", "a"},
      {"no line end", "g", "g"},
      {"not validated", "x\n", "x"},
      {"long word", "abcdefghijklmnopqrstuvwxyz\n", "abcdefghijklmno"},
  };
  for (const Case& c : cases) {
    ScopedWorkDir dir;
    if (c.file) {
      ensure_kvx_dir();
      write_file(".kvx/mode.txt", *c.file);
    }
    EXPECT_EQ(cli_mode_get(), c.mode) << c.name;
  }
}

TEST(ActiveMode, SetSavesKnownWordsAndRewritesAnExistingEditorFile) {
  struct Case {
    const char* name;
    const char* word;
    std::optional<std::string> vscode;  // editor file before
    std::string output;
    std::optional<std::string> mode_file;
    std::optional<std::string> vscode_after;
    bool logged;
  } cases[] = {
      {"known word", "auto", std::nullopt, CLR_GREEN "[OK] Active mode saved: " CLR_CYAN "auto\n" CLR_RESET, "auto\n",
       std::nullopt, true},
      {"editor file rewritten whole", "a", "{\n  \"KORVEX.mode\": \"g\",\n  \"editor.tabSize\": 2\n}\n",
       CLR_GREEN "[OK] Active mode saved: " CLR_CYAN "a\n" CLR_RESET, "a\n", "{\n  \"KORVEX.mode\": \"a\"\n}\n", true},
      {"unknown word", "x", "{}",
       CLR_RED "[ERROR] Unknown mode 'x'. Available modes: a, w, g, auto\n" CLR_RESET, std::nullopt, "{}", false},
      {"case-sensitive", "W", std::nullopt,
       CLR_RED "[ERROR] Unknown mode 'W'. Available modes: a, w, g, auto\n" CLR_RESET, std::nullopt, std::nullopt,
       false},
  };
  for (const Case& c : cases) {
    ScopedWorkDir dir;
    if (c.vscode) {
      ensure_kvx_dir();
      write_file(".kvx/vscode.json", *c.vscode);
    }
    EXPECT_EQ(capture([&] { cli_mode_set(c.word); }), c.output) << c.name;
    EXPECT_EQ(file_or_none(".kvx/mode.txt"), c.mode_file) << c.name;
    EXPECT_EQ(file_or_none(".kvx/vscode.json"), c.vscode_after) << c.name;
    const std::string history = fs::exists(".kvx/history.txt") ? read_file(".kvx/history.txt") : "";
    EXPECT_EQ(std::regex_match(history, std::regex(R"(\[[-0-9: ]{19}\] kvx mode )" + std::string(c.word) + "\n")),
              c.logged)
        << c.name << ": " << history;
  }
}

TEST(ActiveMode, ShowPrintsTheActiveWord) {
  ScopedWorkDir dir;
  EXPECT_EQ(capture(cli_mode_show), CLR_CYAN "\n=== Active Transpilation Mode ===\n" CLR_RESET
                                    "  Current mode : " CLR_GREEN "w" CLR_RESET "\n"
                                    "  (Use 'kvx mode <a|w|g|auto>' to change)\n\n");
}

TEST(EditorSettings, OverrideTheModeAndTheVerboseSwitch) {
  struct Case {
    const char* name;
    std::string json;
    int verbose_before;
    std::optional<std::string> mode_file;  // after the sync, starting without one
    int verbose_after;
  } cases[] = {
      {"mode a", "{\n  \"KORVEX.mode\": \"a\"\n}\n", 0, "a\n", 0},
      {"mode auto", "{\"KORVEX.mode\":\"auto\"}", 0, "auto\n", 0},
      {"mode g", "{ \"KORVEX.mode\" :   \"g\" }", 0, "g\n", 0},
      {"mode w", "{\"KORVEX.mode\": \"w\"}", 0, "w\n", 0},
      {"unknown word", "{\"KORVEX.mode\": \"ab\"}", 0, std::nullopt, 0},
      {"case-sensitive word", "{\"KORVEX.mode\": \"A\"}", 0, std::nullopt, 0},
      {"key without quotes", "{KORVEX.mode: \"a\"}", 0, std::nullopt, 0},
      {"value far away still read", "{\"KORVEX.mode\":\n\n\n            \"g\"}", 0, "g\n", 0},
      {"logs on", "{\"KORVEX.showAnalyzerLogs\": true}", 0, std::nullopt, 1},
      {"logs off", "{\"KORVEX.showAnalyzerLogs\": false}", 1, std::nullopt, 0},
      {"true within 9 characters", "{\"KORVEX.showAnalyzerLogs\":        true}", 0, std::nullopt, 1},
      {"true too far", "{\"KORVEX.showAnalyzerLogs\":         true}", 0, std::nullopt, 0},
      {"false too far", "{\"KORVEX.showAnalyzerLogs\":          false}", 1, std::nullopt, 1},
      {"true further on does not count", "{\"KORVEX.showAnalyzerLogs\": 0, \"x\": true}", 1, std::nullopt, 1},
      {"both keys", "{\"KORVEX.showAnalyzerLogs\": true, \"KORVEX.mode\": \"auto\"}", 0, "auto\n", 1},
      {"text after a NUL byte is not read", std::string("{ \0 \"KORVEX.mode\": \"a\"}", 23), 0, std::nullopt, 0},
      {"empty file", "", 1, std::nullopt, 1},
      {"oversized file", "{\"KORVEX.mode\": \"a\"}" + std::string(65537, ' '), 0, std::nullopt, 0},
      {"largest accepted file", "{\"KORVEX.mode\": \"a\"}" + std::string(65536 - 20, ' '), 0, "a\n", 0},
  };
  for (const Case& c : cases) {
    ScopedWorkDir dir;
    ensure_kvx_dir();
    write_file(".kvx/vscode.json", c.json);
    g_kvx_verbose = c.verbose_before;
    EXPECT_EQ(capture(cli_sync_vscode_settings), "") << c.name;
    EXPECT_EQ(g_kvx_verbose, c.verbose_after) << c.name;
    EXPECT_EQ(file_or_none(".kvx/mode.txt"), c.mode_file) << c.name;
  }
  g_kvx_verbose = 0;
}

TEST(EditorSettings, MissingFileChangesNothing) {
  ScopedWorkDir dir;
  g_kvx_verbose = 1;
  cli_sync_vscode_settings();
  EXPECT_EQ(g_kvx_verbose, 1);
  EXPECT_FALSE(fs::exists(".kvx"));
  g_kvx_verbose = 0;
}

// ---------------------------------------------------------------------------
// Runner queue

// Creates nested folders and returns their path, "./" included, of exactly
// `length` characters.
std::string long_folder(size_t length) {
  std::string path = ".";
  while (length - path.size() > 201) path += "/" + std::string(200, 'd');
  path += "/" + std::string(length - path.size() - 1, 'e');
  fs::create_directories(path);
  return path;
}

TEST(FolderTest, AsksOnlyAboutPathsThatCanBeFolders) {
  ScopedWorkDir dir;
  for (const char* folder : {"src", "lib.js", "x.JS"}) fs::create_directory(folder);
  const std::string longest = long_folder(489);  // the longest path the test takes
  ASSERT_EQ(longest.size(), 489u);
  struct Case {
    std::string path;
    int folder;
  } cases[] = {
      {"src", 1},
      {"./src", 1},
      {"lib.js", 0},  // a name ending in .js is never a folder
      {"x.JS", 1},    // the suffix test is case-sensitive
      {"missing", 0},
      {"", 0},
      {longest, 1},
      {longest + "/", 0},  // 490 characters: the command no longer fits its buffer
  };
  for (const Case& c : cases) EXPECT_EQ(is_directory_path(c.path), c.folder) << c.path.size() << " " << c.path;
}

TEST(Runner, RemovalKeepsEveryOtherEntryOfALongQueue) {
  ScopedWorkDir dir;
  ensure_kvx_dir();
  std::string queue;
  std::string expected;
  for (int i = 1; i <= 300; ++i) {
    const std::string entry = "f" + std::to_string(i) + ".js\n";
    queue += entry;
    if (i != 7) expected += entry;
    if (i % 50 == 0) queue += "f7.js\n\n";  // duplicates and blank lines go too
  }
  write_file(".kvx/files.txt", queue);
  EXPECT_EQ(capture([] { cli_runner_rm("f7.js"); }), CLR_GREEN "[OK] File removed: " CLR_RESET "f7.js\n");
  EXPECT_EQ(read_file(".kvx/files.txt"), expected);
}

TEST(Runner, RemovalThatCannotRewriteTheQueueSaysSo) {
  ScopedWorkDir dir;
  ensure_kvx_dir();
  write_file(".kvx/files.txt", "a.js\nb.js\n");
  fs::create_directory(staged_temporary_path(".kvx/files.txt"));  // blocks the rewrite
  EXPECT_EQ(capture([] { cli_runner_rm("a.js"); }), CLR_RED "[ERROR] Unable to open runner database.\n" CLR_RESET);
  EXPECT_EQ(read_file(".kvx/files.txt"), "a.js\nb.js\n");
  EXPECT_FALSE(fs::exists(".kvx/history.txt"));
}

TEST(Runner, ClearThatCannotEmptyTheQueueSaysSo) {
  ScopedWorkDir dir;
  fs::create_directories(".kvx/files.txt");  // exists, cannot be opened for writing
  EXPECT_EQ(capture(cli_runner_clear), CLR_RED "[ERROR] Unable to open runner database.\n" CLR_RESET);
  EXPECT_FALSE(fs::exists(".kvx/history.txt"));
}

// The "-> Processing:" paths of a console text, in order.
std::vector<std::string> processed(const std::string& console) {
  std::vector<std::string> paths;
  const std::string tag = CLR_CYAN "-> Processing: ";
  for (size_t at = console.find(tag); at != std::string::npos; at = console.find(tag, at + 1)) {
    const size_t start = at + tag.size();
    paths.push_back(console.substr(start, console.find('\n', start) - start));
  }
  return paths;
}

TEST(Runner, FolderStepSkipsDependencyWorkspaceAndOutputFolders) {
  ScopedWorkDir dir;
  for (const char* folder : {"proj/node_modules/pkg", "proj/generated", "proj/.kvx", "proj/src/deep", "proj/src/mygenerated"}) {
    fs::create_directories(folder);
  }
  for (const char* file : {"proj/node_modules/pkg/x.js", "proj/generated/y.js", "proj/.kvx/q.js", "proj/src/z.js",
                           "proj/src/deep/b.js", "proj/src/a.js", "proj/src/mygenerated/m.js", "proj/top.js",
                           "proj/twice.js.js", "proj/notes.txt"}) {
    write_file(file, "const x = 1;\n");
  }
  write_file("proj/src/empty.js", "");
  int total = 0;
  int succeeded = 0;
  testing::internal::CaptureStdout();
  EXPECT_EQ(cli_runner_run_directory("proj", "w", &total, &succeeded), 0);
  const std::string console = testing::internal::GetCapturedStdout();
  const std::string base = (fs::current_path() / "proj").string();
  EXPECT_EQ(processed(console), (std::vector<std::string>{base + "/top.js", base + "/src/a.js", base + "/src/empty.js",
                                                          base + "/src/z.js", base + "/src/deep/b.js"}));
  EXPECT_NE(console.find("multiple .js extensions"), std::string::npos);
  EXPECT_EQ(total, 5);
  EXPECT_EQ(succeeded, 4);  // the empty file fails its mode
  EXPECT_TRUE(fs::exists("generated/src/z.ts"));  // the tree below the folder is kept
  EXPECT_TRUE(fs::exists("generated/top.ts"));
  EXPECT_FALSE(fs::exists("generated/node_modules/pkg/x.ts"));
}

TEST(Runner, FolderStepAddsToTheCallersCounters) {
  ScopedWorkDir dir;
  fs::create_directory("src");
  write_file("src/a.js", "let a = 1;\n");
  int total = 3;
  int succeeded = 2;
  testing::internal::CaptureStdout();
  EXPECT_EQ(cli_runner_run_directory("src", "w", &total, &succeeded), 0);
  EXPECT_EQ(cli_runner_run_directory("missing", "w", &total, &succeeded), 1);
  EXPECT_EQ(cli_runner_run_directory("src/a.js", "w", &total, &succeeded), 1);
  const std::string console = testing::internal::GetCapturedStdout();
  EXPECT_EQ(total, 4);
  EXPECT_EQ(succeeded, 3);
  EXPECT_NE(console.find(CLR_RED "[ERROR] Directory not found: 'missing'\n" CLR_RESET), std::string::npos);
  EXPECT_NE(console.find(CLR_RED "[ERROR] Directory not found: 'src/a.js'\n" CLR_RESET), std::string::npos);
}

TEST(Runner, AFolderTooLongToScanIsReportedNotScanned) {
  ScopedWorkDir dir;
  const std::string folder = long_folder(489);  // passes the folder test, one too long for the scan
  write_file(folder + "/a.js", "let a = 1;\n");
  int total = 0;
  int succeeded = 0;
  testing::internal::CaptureStdout();
  EXPECT_EQ(cli_runner_run_directory(folder, "w", &total, &succeeded), 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            CLR_RED "[ERROR] Unable to scan directory: '" + folder + "'\n" CLR_RESET);
  EXPECT_EQ(total, 0);
}

// ---------------------------------------------------------------------------
// Mode switch

TEST(ModeSwitch, CountsTheRunThenRunsTheMode) {
  ScopedWorkDir dir;
  write_file("app.js", "const answer = 42;\n");
  struct Case {
    const char* mode;
    const char* marker;  // a line only that mode prints
    int status;
  } cases[] = {
      {"w", "[MODE W] Rebuilding generated/app.ts completely...", 0},
      {"x", "[MODE W] Rebuilding generated/app.ts completely...", 0},
      {"a", "[MODE A] Added 0 new signature(s) to generated/app.ts", 0},
  };
  for (const Case& c : cases) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(cli_execute_with_mode("app.js", c.mode), c.status) << c.mode;
    EXPECT_NE(testing::internal::GetCapturedStdout().find(c.marker), std::string::npos) << c.mode;
  }
  EXPECT_EQ(read_file(".kvx/stats.txt"), "total=3\na=1\nw=1\ng=0\nauto=0\n");
}

TEST(ModeSwitch, ModeWDeletesTheTargetBeforeCheckingTheSource) {
  ScopedWorkDir dir;
  fs::create_directory("generated");
  write_file("generated/app.ts", "stale");
  write_file("app.js", "");
  testing::internal::CaptureStdout();
  EXPECT_EQ(run_mode_write_full("app.js"), 1);
  testing::internal::GetCapturedStdout();
  EXPECT_FALSE(fs::exists("generated/app.ts"));
}

TEST(ModeSwitch, ModeAKeepsTheOldTextAndAddsOnlyNewTopLevelLines) {
  ScopedWorkDir dir;
  write_file("app.js", "const answer = 42;\n");
  fs::create_directory("generated");
  const std::string old_text = "// kept as it was\ndeclare const old: number;\n";
  write_file("generated/app.ts", old_text);

  testing::internal::CaptureStdout();
  ASSERT_EQ(run_mode_write_full("app.js"), 0);
  testing::internal::GetCapturedStdout();
  const std::string fresh = read_file("generated/app.ts");
  int expected_count = 0;
  const std::string expected = cli_mode_append_merge(old_text, fresh, expected_count);
  write_file("generated/app.ts", old_text);

  testing::internal::CaptureStdout();
  EXPECT_EQ(run_mode_append("app.js"), 0);
  const std::string console = testing::internal::GetCapturedStdout();
  EXPECT_EQ(read_file("generated/app.ts"), expected);
  EXPECT_NE(console.find(CLR_GREEN "[MODE A] Added " + std::to_string(expected_count) +
                         " new signature(s) to generated/app.ts\n" CLR_RESET),
            std::string::npos);
  for (const auto& entry : fs::directory_iterator("generated")) {
    EXPECT_FALSE(entry.path().string().ends_with(".kvx-tmp")) << entry.path();  // no temporary left
  }
}

TEST(ModeSwitch, ModeAFailsWithThePipelineAndKeepsWhatItLeft) {
  ScopedWorkDir dir;
  fs::create_directory("generated");
  write_file("generated/app.ts", "declare const old: number;\n");
  testing::internal::CaptureStdout();
  EXPECT_EQ(run_mode_append("app.js"), 1);  // no source
  const std::string console = testing::internal::GetCapturedStdout();
  EXPECT_EQ(console.find("[MODE A]"), std::string::npos);
  EXPECT_EQ(read_file("generated/app.ts"), "declare const old: number;\n");
}

}  // namespace
