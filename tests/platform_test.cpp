#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using kvx_test::read_file;
using kvx_test::ScopedWorkDir;
using kvx_test::write_file;

PlatformCommand argv_command(std::vector<std::string> argv, bool discard_stderr = false) {
  PlatformCommand command;
  command.argv = std::move(argv);
  command.discard_stderr = discard_stderr;
  return command;
}

TEST(PlatformRun, ReturnsTheProgramsOwnExitStatus) {
  struct Case {
    std::vector<std::string> argv;
    int status;
  } cases[] = {
      {{"true"}, 0},
      {{"sh", "-c", "exit 3"}, 3},
      {{"sh", "-c", "exit 255"}, 255},
      {{"sh", "-c", "kill -9 $$"}, 128 + 9},  // ended by a signal: failed, not 0
      {{"kvx-no-such-program-anywhere"}, -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(platform_run_wait(argv_command(c.argv)), c.status) << c.argv.back();
    std::string output;
    EXPECT_EQ(platform_run_read(argv_command(c.argv), output), c.status) << c.argv.back();
  }
}

TEST(PlatformRun, ReadsStandardOutputOnlyAndDiscardsErrorsOnRequest) {
  std::string output;
  EXPECT_EQ(platform_run_read(argv_command({"sh", "-c", "echo one; echo two; echo err >&2"}, true), output), 0);
  EXPECT_EQ(output, "one\ntwo\n");

  // Without argv nothing runs: a command line is never handed to a shell.
  ScopedWorkDir dir;
  PlatformCommand line;
  line.command_line = "touch injected; exit 4";
  EXPECT_EQ(platform_run_read(line, output), -1);
  EXPECT_EQ(platform_run_wait(line), -1);
  EXPECT_FALSE(fs::exists("injected"));
}

TEST(PlatformRun, PassesArgumentsLiterallyWithoutAShell) {
  ScopedWorkDir dir;
  const std::string hostile = "x\"; touch injected; echo \"$(touch injected2)`touch injected3`";
  std::string output;
  EXPECT_EQ(platform_run_read(argv_command({"printf", "%s", hostile}), output), 0);
  EXPECT_EQ(output, hostile);
  EXPECT_FALSE(fs::exists("injected"));
  EXPECT_FALSE(fs::exists("injected2"));
  EXPECT_FALSE(fs::exists("injected3"));
}

TEST(PlatformRun, FlushesOurOutputBeforeTheProgramWrites) {
  testing::internal::CaptureStdout();
  std::printf("before|");
  platform_run_wait(argv_command({"printf", "after"}));
  std::printf("|end");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "before|after|end");
}

TEST(PlatformFolders, TestsFoldersThroughTheFileSystem) {
  ScopedWorkDir dir;
  fs::create_directories("src/lib");
  write_file("app.js", "x");
  fs::create_directory_symlink("src", "link");
  struct Case {
    const char* path;
    int folder;
  } cases[] = {
      {"src", 1}, {"src/lib", 1}, {"./src/", 1}, {"link", 1}, {"app.js", 0}, {"missing", 0}, {"", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(platform_is_directory(c.path), c.folder) << c.path;
  EXPECT_EQ(platform_is_directory(dir.path().string()), 1);
}

TEST(PlatformFolders, ScansEachFoldersFilesInNameOrderBeforeItsSubfolders) {
  ScopedWorkDir dir;
  for (const char* folder : {"root/m/n", "root/z", "root/sub.js", "root/empty"}) fs::create_directories(folder);
  for (const char* file : {"root/b.js", "root/a.js", "root/B.js", "root/z/c.js", "root/m/d.js", "root/m/n/e.js",
                           "root/sub.js/f.js", "root/x.txt", "root/a.json", "root/m/js"}) {
    write_file(file, "x");
  }
  const std::string base = (dir.path() / "root").lexically_normal().string();
  const std::string expected = base + "/B.js\n" + base + "/a.js\n" + base + "/b.js\n" + base + "/m/d.js\n" +
                               base + "/m/n/e.js\n" + base + "/sub.js/f.js\n" + base + "/z/c.js\n";
  for (const std::string& folder : {std::string("root"), std::string("./root/"), dir.path().string() + "/root"}) {
    std::string output;
    EXPECT_EQ(platform_scan_js_files(folder, output), 0) << folder;
    EXPECT_EQ(output, expected) << folder;
  }
}

TEST(PlatformFolders, ScanFailsOnAMissingFolderAndIsEmptyForAFolderWithoutSources) {
  ScopedWorkDir dir;
  fs::create_directory("empty");
  write_file("file.txt", "x");
  std::string output = "stale";
  EXPECT_EQ(platform_scan_js_files("missing", output), 1);
  EXPECT_EQ(platform_scan_js_files("file.txt", output), 1);
  EXPECT_EQ(platform_scan_js_files("empty", output), 0);
  EXPECT_EQ(output, "");
}

TEST(PlatformFolders, ScanDoesNotFollowALinkLoop) {
  ScopedWorkDir dir;
  fs::create_directories("root/inner");
  write_file("root/inner/a.js", "x");
  fs::create_directory_symlink("..", "root/inner/back");
  std::string output;
  EXPECT_EQ(platform_scan_js_files("root", output), 0);
  EXPECT_EQ(output, (dir.path() / "root/inner/a.js").string() + "\n");
}

TEST(PlatformFolders, RemovesATreeAndIgnoresAMissingOne) {
  ScopedWorkDir dir;
  fs::create_directories("dist/deep/er");
  write_file("dist/deep/er/x.js", "x");
  write_file("keep.txt", "k");
  platform_remove_tree("dist");
  platform_remove_tree("generated");
  EXPECT_FALSE(fs::exists("dist"));
  EXPECT_EQ(read_file("keep.txt"), "k");
}

}  // namespace
