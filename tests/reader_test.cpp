#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "core/reader.h"
#include "pipeline/source_messages.h"
#include "test_support.h"

namespace {

using kvx_test::ScopedWorkDir;
using kvx_test::write_file;

#define RED "\x1b[0;31m"
#define GREEN "\x1b[0;32m"
#define RESET "\x1b[0m"

std::string opened_lines(const std::string& path) {
  return GREEN "\n[OK] File '" + path + "' is valid and exists.\n" RESET GREEN "[OK] Read ready for analysis.\n" RESET;
}

// The name check returns its reason; is_js_file prints it.
TEST(Reader, NameCheck) {
  const std::string multiple = RED "\n[ERROR] Filename contains multiple .js extensions (.js.js & .js)\n" RESET;
  struct Case {
    std::string path;
    SourceFailure failure;
    std::string printed;
  } cases[] = {
      {"app.js", SourceFailure::none, ""},
      {".js", SourceFailure::none, ""},
      {"src\\lib/app.js", SourceFailure::none, ""},
      {"app.js.js", SourceFailure::multiple_extensions, multiple},
      {"x.js.js.js", SourceFailure::multiple_extensions, multiple},
      {".js.js", SourceFailure::multiple_extensions, multiple},
      {"app.JS", SourceFailure::not_js_name, RED "[ERROR] File 'app.JS' is not a valid JS file.\n" RESET},
      {"app.mjs", SourceFailure::not_js_name, RED "[ERROR] File 'app.mjs' is not a valid JS file.\n" RESET},
      {"notes.txt.js", SourceFailure::none, ""},  // a plain suffix test
      {"app.ts", SourceFailure::not_js_name, RED "[ERROR] File 'app.ts' is not a valid JS file.\n" RESET},
      {"js", SourceFailure::not_js_name, RED "[ERROR] File 'js' is not a valid JS file.\n" RESET},
      {"", SourceFailure::not_js_name, RED "[ERROR] File '' is not a valid JS file.\n" RESET},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(check_js_name(c.path), c.failure) << c.path;
    testing::internal::CaptureStdout();
    const int accepted = is_js_file(c.path);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.printed) << c.path;
    EXPECT_EQ(accepted, c.failure == SourceFailure::none ? 1 : 0) << c.path;
  }
}

// What the checks print for a source, as the run prints it before the
// pipeline: each failure's message in the order the checks run.
TEST(Reader, EveryFailureHasItsMessageInTheChecksOrder) {
  ScopedWorkDir dir;
  write_file("here.js", "let a;");
  write_file("empty.js", "");
  std::filesystem::create_directory("folder.js");
  struct Case {
    std::string path;
    SourceFailure failure;
    std::string printed;
  } cases[] = {
      {"here.js", SourceFailure::none, opened_lines("here.js")},
      {"missing.js", SourceFailure::cannot_open,
       RED "\n[ERROR] File 'missing.js' does not exist or cannot be opened.\n" RESET},
      {"folder.js", SourceFailure::cannot_open,
       RED "\n[ERROR] File 'folder.js' does not exist or cannot be opened.\n" RESET},
      {"empty.js", SourceFailure::empty, opened_lines("empty.js") + RED "[ERROR] File 'empty.js' is empty (0 bytes).\n" RESET},
      {"here.ts", SourceFailure::not_js_name, RED "[ERROR] File 'here.ts' is not a valid JS file.\n" RESET},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(read_js_source(c.path).failure, c.failure) << c.path;
    testing::internal::CaptureStdout();
    print_source_checks(c.path, c.failure);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.printed) << c.path;
  }
  // The failures no file here can give print after the opened lines too.
  const struct {
    SourceFailure failure;
    const char* line;
  } read_failures[] = {
      {SourceFailure::unreadable, RED "[ERROR] Unable to read 'x.js'\n" RESET},
      {SourceFailure::too_large, RED "[ERROR] File 'x.js' exceeds maximum allowed size (50 MB).\n" RESET},
      {SourceFailure::no_memory, RED "[ERROR] Memory allocation failed for 'x.js'\n" RESET},
  };
  for (const auto& c : read_failures) {
    testing::internal::CaptureStdout();
    print_source_checks("x.js", c.failure);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), opened_lines("x.js") + c.line);
  }
}

TEST(Reader, WholeFileReadAndItsLimits) {
  ScopedWorkDir dir;
  // Exactly 50 x 1,048,576 bytes is the largest file read; one more is refused.
  {
    std::ofstream out("max.js", std::ios::binary);
    const std::string chunk(1 << 20, ' ');
    for (int i = 0; i < 50; ++i) out << chunk;
  }
  ASSERT_EQ(std::filesystem::file_size("max.js"), 52428800u);
  SourceRead max = read_js_source("max.js");
  EXPECT_EQ(max.failure, SourceFailure::none);
  EXPECT_EQ(max.text.size(), 52428800u);

  std::ofstream("max.js", std::ios::binary | std::ios::app) << ' ';
  SourceRead over = read_js_source("max.js");
  EXPECT_EQ(over.failure, SourceFailure::too_large);
  EXPECT_TRUE(over.text.empty());
}

TEST(Reader, WindowsLineEndsArriveAsLineFeeds) {
  ScopedWorkDir dir;
  write_file("crlf.js", "let a = 1;\r\nlet b = '\r';\r\n\r\n");
  const SourceRead read = read_js_source("crlf.js");
  ASSERT_EQ(read.failure, SourceFailure::none);
  EXPECT_EQ(read.text, "let a = 1;\nlet b = '\r';\n\n");
}

TEST(Reader, BinaryContentIsReadWhole) {
  ScopedWorkDir dir;
  const std::string bytes("a\0b\xff\xfe", 5);
  write_file("bin.js", bytes);
  const SourceRead read = read_js_source("bin.js");
  ASSERT_EQ(read.failure, SourceFailure::none);
  EXPECT_EQ(read.text, bytes);
}

// The reader itself prints nothing, whatever it meets.
TEST(Reader, ReadsWithoutAWord) {
  ScopedWorkDir dir;
  write_file("app.js", "let a;");
  write_file("empty.js", "");
  std::filesystem::create_directory("folder.js");
  for (const char* path : {"app.js", "empty.js", "twice.js.js", "app.ts", "folder.js", "missing.js", ""}) {
    testing::internal::CaptureStdout();
    read_js_source(path);
    check_js_name(path);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << path;
  }
}

}  // namespace
