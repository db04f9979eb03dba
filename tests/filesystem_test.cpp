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

}  // namespace
