#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "cli/cli_storage.h"
#include "core/console.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using kvx_test::read_file;
using kvx_test::ScopedWorkDir;
using kvx_test::write_file;

std::string capture(void (*action)()) {
  testing::internal::CaptureStdout();
  action();
  return testing::internal::GetCapturedStdout();
}

// Sets an environment variable for the lifetime of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    set(value);
  }
  ~ScopedEnv() { set(old_); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  void set(const std::optional<std::string>& value) {
    if (value) {
      ::setenv(name_, value->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
    ::tzset();
  }
  const char* name_;
  std::optional<std::string> old_;
};

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
    while (cli_read_piece(c.text, pos, c.size, piece)) from_text.push_back(piece);
    EXPECT_EQ(from_text, c.pieces) << c.text;

    ScopedWorkDir dir;
    write_file("f.txt", c.text);
    FilePtr file = cli_open("f.txt", "r");
    std::vector<std::string> from_file;
    while (cli_read_piece(file.get(), c.size, piece)) from_file.push_back(piece);
    EXPECT_EQ(from_file, c.pieces) << c.text;
  }
}

TEST(LineBuffer, CutsALineAtItsFirstLineEnd) {
  struct Case {
    const char* text;
    const char* line;
  } cases[] = {{"app.js\n", "app.js"}, {"app.js\r\n", "app.js"}, {"a\rb\n", "a"}, {"\n", ""}, {"x", "x"}};
  for (const Case& c : cases) EXPECT_EQ(cli_cut_line(c.text), c.line) << c.text;
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

}  // namespace
