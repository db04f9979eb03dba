#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "core/reader.h"
#include "test_support.h"

namespace {

using kvx_test::ScopedWorkDir;
using kvx_test::write_file;

#define RED "\x1b[0;31m"
#define GREEN "\x1b[0;32m"
#define RESET "\x1b[0m"

std::string name_check_output(const std::string& path, int* result) {
  testing::internal::CaptureStdout();
  *result = is_js_file(path);
  return testing::internal::GetCapturedStdout();
}

TEST(Reader, NameCheck) {
  const std::string multiple = RED "\n[ERROR] Filename contains multiple .js extensions (.js.js & .js)\n" RESET;
  struct Case {
    std::string path;
    int accepted;
    std::string printed;
  } cases[] = {
      {"app.js", 1, ""},
      {".js", 1, ""},
      {"src\\lib/app.js", 1, ""},
      {"app.js.js", 0, multiple},
      {"x.js.js.js", 0, multiple},
      {".js.js", 0, multiple},
      {"app.JS", 0, RED "[ERROR] File 'app.JS' is not a valid JS file.\n" RESET},
      {"app.mjs", 0, RED "[ERROR] File 'app.mjs' is not a valid JS file.\n" RESET},
      {"notes.txt.js", 1, ""},  // a plain suffix test
      {"app.ts", 0, RED "[ERROR] File 'app.ts' is not a valid JS file.\n" RESET},
      {"js", 0, RED "[ERROR] File 'js' is not a valid JS file.\n" RESET},
      {"", 0, RED "[ERROR] File '' is not a valid JS file.\n" RESET},
  };
  for (const Case& c : cases) {
    int result = -1;
    EXPECT_EQ(name_check_output(c.path, &result), c.printed) << c.path;
    EXPECT_EQ(result, c.accepted) << c.path;
  }
}

TEST(Reader, OpenCheckMessages) {
  ScopedWorkDir dir;
  write_file("here.js", "let a;");
  testing::internal::CaptureStdout();
  std::ifstream stream = open_js_file("here.js");
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            GREEN "\n[OK] File 'here.js' is valid and exists.\n" RESET GREEN "[OK] Read ready for analysis.\n" RESET);
  EXPECT_TRUE(stream.is_open());

  std::filesystem::create_directory("folder.js");
  for (const char* path : {"missing.js", "folder.js"}) {
    testing::internal::CaptureStdout();
    std::ifstream missing = open_js_file(path);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              std::string(RED "\n[ERROR] File '") + path + "' does not exist or cannot be opened.\n" RESET);
    EXPECT_FALSE(missing.is_open());
  }
}

std::optional<std::string> read_quietly(const std::string& path, std::string* printed) {
  testing::internal::CaptureStdout();
  std::optional<std::string> text = read_js_content(path);
  *printed = testing::internal::GetCapturedStdout();
  return text;
}

TEST(Reader, WholeFileReadAndItsLimits) {
  ScopedWorkDir dir;
  std::string printed;

  EXPECT_FALSE(read_quietly("missing.js", &printed));
  EXPECT_EQ(printed, RED "[ERROR] Unable to read 'missing.js'\n" RESET);

  write_file("empty.js", "");
  EXPECT_FALSE(read_quietly("empty.js", &printed));
  EXPECT_EQ(printed, RED "[ERROR] File 'empty.js' is empty (0 bytes).\n" RESET);

  // Exactly 50 x 1,048,576 bytes is the largest file read; one more is refused.
  {
    std::ofstream out("max.js", std::ios::binary);
    const std::string chunk(1 << 20, ' ');
    for (int i = 0; i < 50; ++i) out << chunk;
  }
  ASSERT_EQ(std::filesystem::file_size("max.js"), 52428800u);
  std::optional<std::string> max = read_quietly("max.js", &printed);
  ASSERT_TRUE(max);
  EXPECT_EQ(max->size(), 52428800u);
  EXPECT_EQ(printed, "");

  std::ofstream("max.js", std::ios::binary | std::ios::app) << ' ';
  EXPECT_FALSE(read_quietly("max.js", &printed));
  EXPECT_EQ(printed, RED "[ERROR] File 'max.js' exceeds maximum allowed size (50 MB).\n" RESET);
}

TEST(Reader, WindowsLineEndsArriveAsLineFeeds) {
  ScopedWorkDir dir;
  write_file("crlf.js", "let a = 1;\r\nlet b = '\r';\r\n\r\n");
  std::string printed;
  std::optional<std::string> text = read_quietly("crlf.js", &printed);
  ASSERT_TRUE(text);
  EXPECT_EQ(*text, "let a = 1;\nlet b = '\r';\n\n");
}

TEST(Reader, BinaryContentIsReadWhole) {
  ScopedWorkDir dir;
  const std::string bytes("a\0b\xff\xfe", 5);
  write_file("bin.js", bytes);
  std::string printed;
  std::optional<std::string> text = read_quietly("bin.js", &printed);
  ASSERT_TRUE(text);
  EXPECT_EQ(*text, bytes);
}

// The quiet read answers exactly where the three printing steps, run as the
// front end runs them, all pass, and then with their text.
TEST(Reader, QuietReadAgreesWithTheCheckedRead) {
  ScopedWorkDir dir;
  write_file("app.js", "let a = 1;\r\nlet b;\n");
  write_file("empty.js", "");
  write_file("twice.js.js", "let a;");
  write_file("app.ts", "let a;");
  std::filesystem::create_directory("folder.js");
  for (const char* path : {"app.js", "empty.js", "twice.js.js", "app.ts", "folder.js", "missing.js", ""}) {
    testing::internal::CaptureStdout();
    std::optional<std::string> checked;
    if (is_js_file(path) != 0 && open_js_file(path).is_open()) checked = read_js_content(path);
    testing::internal::GetCapturedStdout();
    testing::internal::CaptureStdout();
    const std::optional<std::string> quiet = read_js_source_quietly(path);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << path;
    EXPECT_EQ(quiet, checked) << path;
  }
}

}  // namespace
