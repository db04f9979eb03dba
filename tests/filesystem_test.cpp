// The staged writer and the append that is cut back: what they leave on disk
// when they succeed and when they cannot write.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/filesystem.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using kvx_test::read_file;
using kvx_test::ScopedWorkDir;
using kvx_test::write_file;

TEST(StagedWrite, ReplacesTheFileALinkPointsToAndKeepsItsPermissions) {
  ScopedWorkDir dir;
  fs::create_directory("real");
  write_file("real/out.ts", "old\n");
  fs::permissions("real/out.ts", fs::perms::owner_read | fs::perms::owner_write);
  fs::create_symlink("real/out.ts", "link.ts");

  std::string reason;
  ASSERT_TRUE(replace_file_text("link.ts", "new\n", reason)) << reason;
  EXPECT_TRUE(fs::is_symlink("link.ts"));
  EXPECT_EQ(read_file("real/out.ts"), "new\n");
  EXPECT_EQ(fs::status("real/out.ts").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_FALSE(fs::exists("real/out.ts.kvx-tmp"));
}

TEST(StagedWrite, AFileThatIsNeverCommittedLeavesTheTargetAndNoTemporary) {
  ScopedWorkDir dir;
  write_file("out.ts", "old\n");
  {
    StagedFile file("out.ts");
    ASSERT_TRUE(file.is_open());
    file.out() << "half of the new text";
  }  // abandoned, as when the writer stops on an error
  EXPECT_EQ(read_file("out.ts"), "old\n");
  EXPECT_FALSE(fs::exists("out.ts.kvx-tmp"));

  // A temporary that cannot be created: nothing is touched.
  fs::create_directory("out.ts.kvx-tmp");
  std::string reason;
  EXPECT_FALSE(replace_file_text("out.ts", "new\n", reason));
  EXPECT_FALSE(reason.empty());
  EXPECT_EQ(read_file("out.ts"), "old\n");
}

TEST(StagedWrite, AppendToAFileThatCannotBeOpenedCreatesNothing) {
  ScopedWorkDir dir;
  std::string reason;
  bool opened = true;
  EXPECT_FALSE(append_file_text("missing-folder/log.txt", "line\n", reason, &opened));
  EXPECT_FALSE(opened);
  EXPECT_FALSE(fs::exists("missing-folder"));

  ASSERT_TRUE(append_file_text("log.txt", "one\n", reason, &opened)) << reason;
  ASSERT_TRUE(append_file_text("log.txt", "two\n", reason));
  EXPECT_TRUE(opened);
  EXPECT_EQ(read_file("log.txt"), "one\ntwo\n");
}

// The one stem rule every caller shares; each passes the length its name
// buffer allows, and the cut comes before the suffix test.
TEST(FileStem, CutsTheNameToTheCallersLimitThenDropsAFinalDotJs) {
  struct Case {
    std::string path;
    size_t limit;
    std::string stem;
  } cases[] = {
      {"app.js", 255, "app"},
      {"src/lib/app.js", 255, "app"},
      {"C:\\src\\app.js", 255, "app"},
      {"a/b\\c/d.js", 255, "d"},
      {".js", 255, ".js"},
      {"x.js.js", 255, "x.js"},
      {"app.ts", 255, "app.ts"},
      {"dir/", 255, ""},
      {std::string(252, 'n') + ".js", 255, std::string(252, 'n')},
      {std::string(253, 'n') + ".js", 255, std::string(253, 'n') + ".j"},
      {std::string(253, 'n') + ".js", 511, std::string(253, 'n')},
      {"abcdef.js", 8, "abcdef.j"},
      {"abcdef.js", 9, "abcdef"},
      {"app.js", 0, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(file_stem(c.path, c.limit), c.stem) << c.path << " limit " << c.limit;
}

TEST(WholeFileRead, ReadsEveryByteAndRefusesFoldersAndMissingFiles) {
  ScopedWorkDir dir;
  constexpr char kLines[] = "line one\r\nline two\n\0after a NUL\n";
  const std::string bytes = std::string(kLines, sizeof kLines - 1) + std::string(200000, 'x');
  write_file("data.txt", bytes);
  fs::create_directory("folder.txt");
  EXPECT_EQ(read_file_text("data.txt", true), bytes);
  EXPECT_EQ(read_file_text("data.txt"), bytes);  // POSIX text mode changes nothing
  EXPECT_EQ(read_file_text("empty.txt"), std::nullopt);
  write_file("empty.txt", "");
  EXPECT_EQ(read_file_text("empty.txt"), "");
  EXPECT_EQ(read_file_text("folder.txt"), std::nullopt);
  EXPECT_EQ(read_file_text("missing/data.txt"), std::nullopt);
}

}  // namespace
