// The staged writer and the append that is cut back: what they leave on disk
// when they succeed and when they cannot write.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "core/filesystem.h"
#include "pipeline/run.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using kvx_test::read_file;
using kvx_test::ScopedWorkDir;
using kvx_test::write_file;

// The names in a folder, sorted.
std::vector<std::string> folder_entries(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// File names up to 255 bytes are written whole: the temporary beside the
// target has a name of its own length, whatever the target's.
TEST(StagedWrite, TargetsOfEveryNameLengthUpTo255BytesAreWritten) {
  ScopedWorkDir dir;
  fs::create_directory("out");
  for (const size_t length : {1, 100, 246, 247, 248, 250, 254, 255}) {
    const std::string name(length, 'a');
    const std::string target = "out/" + name;
    std::string reason;
    ASSERT_TRUE(replace_file_text(target, "first\n", reason)) << length << ": " << reason;
    ASSERT_TRUE(replace_file_text(target, "second\n", reason)) << length << ": " << reason;
    EXPECT_EQ(read_file(target), "second\n") << length;
    EXPECT_EQ(folder_entries("out"), std::vector<std::string>{name}) << length;  // no temporary left
    fs::remove(target);
  }
}

TEST(StagedWrite, TheTemporaryIsAShortHiddenNameBesideTheTargetAndDiffersBetweenThreads) {
  ScopedWorkDir dir;
  const std::string long_name = "generated/" + std::string(255, 'x');
  const std::string temporary = staged_temporary_path(long_name);
  EXPECT_EQ(temporary.size(), std::string("generated/").size() + 25) << temporary;
  EXPECT_TRUE(temporary.starts_with("generated/.")) << temporary;
  EXPECT_TRUE(temporary.ends_with(".kvx-tmp")) << temporary;
  EXPECT_EQ(staged_temporary_path(long_name), temporary);  // the same on one thread
  EXPECT_NE(staged_temporary_path("generated/a.ts"), staged_temporary_path("generated/b.ts"));
  EXPECT_EQ(staged_temporary_path("a.ts").find('/'), std::string::npos);

  std::string other_thread;
  std::thread([&] { other_thread = staged_temporary_path(long_name); }).join();
  EXPECT_NE(other_thread, temporary);
}

// The source name of the longest stem that still fits: a 255-byte file
// name, and the pipeline writes its ./generated/<stem>.ts.
TEST(StagedWrite, ASourceOfA255ByteNameIsConverted) {
  for (const size_t length : {245, 248, 252}) {
    ScopedWorkDir dir;
    const std::string stem(length, 'a');
    write_file(stem + ".js", "const limit = 5;\n");
    testing::internal::CaptureStdout();
    const int status = run_transpile_single_file(stem + ".js");
    const std::string console = testing::internal::GetCapturedStdout();
    EXPECT_EQ(status, 0) << length << "\n" << console;
    EXPECT_NE(read_file("generated/" + stem + ".ts").find("declare const limit: number;\n"), std::string::npos)
        << length;
    EXPECT_EQ(folder_entries("generated"), std::vector<std::string>{stem + ".ts"}) << length;
  }
}

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
  EXPECT_EQ(folder_entries("real"), std::vector<std::string>{"out.ts"});
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
  EXPECT_EQ(folder_entries("."), std::vector<std::string>{"out.ts"});

  // A temporary that cannot be created: nothing is touched.
  fs::create_directory(staged_temporary_path("out.ts"));
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
