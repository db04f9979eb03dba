// Writes that fail for real: a full disk and a read-only folder (a tiny tmpfs,
// where the tests may mount one) and a file-size limit (everywhere). Each
// failed write is reported in red, naming the file, and leaves the previous
// file as it was.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/mount.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "cli_fixture.h"
#include "core/console.h"
#include "test_support.h"
#include "tsx/tsx_engine.h"

namespace {

namespace fs = std::filesystem;
using cli_test::ScopedEnv;
using kvx_test::read_file;
using kvx_test::run_kvx;
using kvx_test::run_shell;
using kvx_test::ScopedWorkDir;
using kvx_test::shell_quote;
using kvx_test::write_file;

// A 256 KiB tmpfs mounted on a folder of the scratch directory, which is the
// working directory while it lives. Mounting needs root; without it the
// tests that need it skip.
class TinyDisk {
 public:
  TinyDisk() : previous_(fs::current_path()), path_(previous_ / "disk") {
    fs::create_directory(path_);
    mounted_ = ::mount("tmpfs", path_.c_str(), "tmpfs", 0, "size=256k,mode=0755") == 0;
    if (mounted_) fs::current_path(path_);
  }
  ~TinyDisk() {
    fs::current_path(previous_);
    if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
  }
  TinyDisk(const TinyDisk&) = delete;
  TinyDisk& operator=(const TinyDisk&) = delete;

  bool mounted() const { return mounted_; }

  // Takes every free byte: from now on a write of one byte fails with
  // "No space left on device", while empty files can still be created.
  void fill() {
    std::FILE* filler = std::fopen("filler", "w");
    ASSERT_NE(filler, nullptr);
    const std::string block(4096, 'f');
    while (std::fwrite(block.data(), 1, block.size(), filler) == block.size() && std::fflush(filler) == 0) {
    }
    std::fclose(filler);
    std::FILE* probe = std::fopen("one-more-byte", "w");
    ASSERT_NE(probe, nullptr);  // creation still works
    std::fputc('x', probe);
    ASSERT_NE(std::fclose(probe), 0) << "the disk is not full";
    fs::remove("one-more-byte");
  }

  // Every later write, creation, removal or rename fails with "Read-only file
  // system".
  bool make_read_only() {
    return ::mount(nullptr, path_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, "size=256k") == 0;
  }

 private:
  fs::path previous_;
  fs::path path_;
  bool mounted_ = false;
};

// `line` repeated, the last copy padded, to exactly one 4 KiB page: on a
// full tmpfs, a file whose page still has room takes an append without new
// space, a file that fills its page does not.
std::string one_page_of(const std::string& line) {
  std::string text;
  while (text.size() + 2 * line.size() <= 4096) text += line;
  text += std::string(4096 - text.size() - line.size(), ' ') + line;
  return text;
}

// A workspace with a source, its previous output and every .kvx file.
const std::map<std::string, std::string> kWorkspace = {
    {"x.js", "const limit = 5;\nfunction twice(n) { return n * 2; }\n"},
    {"generated/x.ts", "// previous output\n"},
    {"generated/t.ts", "let a: any;\n"},
    {".kvx/files.txt", one_page_of("old.js\n")},
    {".kvx/history.txt", one_page_of("[2026-01-01 00:00:00] kvx add old.js\n")},
    {".kvx/errors.txt", one_page_of("[2026-01-01 00:00:00] old error\n")},
    {".kvx/stats.txt", "total=1\na=0\nw=1\ng=0\nauto=0\n"},
    {".kvx/config.txt", "output_dir=generated\nstrict_mode=true\nauto_compile_tsc=false\n"},
    {".kvx/mode.txt", "w\n"},
    {".kvx/vscode.json", "{\n  \"KORVEX.mode\": \"w\"\n}\n"},
};

void write_workspace() {
  fs::create_directories("generated");
  fs::create_directories(".kvx");
  for (const auto& [path, content] : kWorkspace) write_file(path, content);
}

// Every file of the workspace still holds what it held, and no temporary
// file was left beside one.
void expect_workspace_intact() {
  for (const auto& [path, content] : kWorkspace) EXPECT_EQ(read_file(path), content) << path;
  for (const char* folder : {".", "generated", ".kvx"}) {
    for (const auto& entry : fs::directory_iterator(folder)) {
      EXPECT_EQ(entry.path().string().find(".kvx-tmp"), std::string::npos) << entry.path();
    }
  }
}

// No staged write left its temporary in the folder.
void expect_no_temporary(const char* folder) {
  for (const auto& entry : fs::directory_iterator(folder)) {
    EXPECT_FALSE(entry.path().string().ends_with(".kvx-tmp")) << entry.path();
  }
}

struct FailureCase {
  std::vector<std::string> args;
  int status;
  std::vector<std::string> printed;  // each must appear in the output
  std::vector<std::string> absent;   // none may appear
};

void run_cases(const std::vector<FailureCase>& cases) {
  for (const FailureCase& c : cases) {
    std::string output;
    const int status = run_kvx(c.args, &output);
    SCOPED_TRACE(c.args[0] + (c.args.size() > 1 ? " " + c.args[1] : ""));
    EXPECT_EQ(status, c.status) << output;
    for (const std::string& text : c.printed) EXPECT_NE(output.find(text), std::string::npos) << text << "\n" << output;
    for (const std::string& text : c.absent) EXPECT_EQ(output.find(text), std::string::npos) << text << "\n" << output;
  }
}

std::string red(const std::string& text) { return CLR_RED + text; }

class WriteFailures : public testing::Test {
 protected:
  ScopedWorkDir dir_;
  // No outside tool is ever found: mode g reports a missing Node.js.
  ScopedEnv path_{"PATH", "/nonexistent-tool-folder"};
};

TEST_F(WriteFailures, FullDiskKeepsEveryFileAndSaysSo) {
  TinyDisk disk;
  if (!disk.mounted()) GTEST_SKIP() << "a tmpfs cannot be mounted here (needs root)";
  write_workspace();
  disk.fill();
  const std::string full = " (No space left on device)\n";
  run_cases({
      {{"a", "x.js"}, 1,
       {red("[ERROR] Unable to write .kvx/stats.txt" + full), "[ERROR] Unable to write ./generated/x.ts" + full},
       {}},
      {{"add", "new.js"}, 0, {red("[ERROR] Unable to write .kvx/files.txt" + full)}, {"[OK]"}},
      {{"mode", "a"}, 0, {red("[ERROR] Unable to save active mode.\n")}, {"[OK]"}},
      {{"cfg-reset"}, 0, {red("[ERROR] Unable to write .kvx/config.txt" + full)}, {"[OK]"}},
      {{"g", "x.js"}, 1, {red("[ERROR] Unable to write .kvx/errors.txt" + full)}, {}},
      {{"go", "no-such-folder"}, 1, {red("[ERROR] Unable to write .kvx/history.txt" + full)}, {}},
  });
  expect_workspace_intact();

  testing::internal::CaptureStdout();
  EXPECT_EQ(tsx_enhance_and_secure_ts("t.js"), 1);
  const std::string console = testing::internal::GetCapturedStdout();
  EXPECT_NE(console.find(red("[ERROR] TSX engine cannot write 'generated/t.ts' (No space left on device).")),
            std::string::npos)
      << console;
  expect_workspace_intact();
}

TEST_F(WriteFailures, ReadOnlyFolderKeepsEveryFileAndSaysSo) {
  TinyDisk disk;
  if (!disk.mounted()) GTEST_SKIP() << "a tmpfs cannot be mounted here (needs root)";
  write_workspace();
  ASSERT_TRUE(disk.make_read_only());
  const std::string read_only = " (Read-only file system)\n";
  run_cases({
      {{"x.js"}, 1,
       {red("[ERROR] Unable to write .kvx/stats.txt" + read_only), "[ERROR] Unable to create ./generated/x.ts\n"},
       {}},
      {{"w", "x.js"}, 1, {"[ERROR] Unable to create ./generated/x.ts\n"}, {}},
      {{"a", "x.js"}, 1, {"[ERROR] Unable to create ./generated/x.ts\n"}, {}},
      {{"add", "new.js"}, 0, {red("[ERROR] Unable to open runner database.\n")}, {"[OK]"}},
      {{"rm", "old.js"}, 0, {red("[ERROR] Unable to open runner database.\n")}, {"[OK]"}},
      {{"clear"}, 0, {red("[ERROR] Unable to open runner database.\n")}, {"[OK]"}},
      {{"mode", "a"}, 0, {red("[ERROR] Unable to save active mode.\n")}, {"[OK]"}},
      {{"hist-clear"}, 0, {red("[ERROR] Unable to write .kvx/history.txt" + read_only)}, {"[OK]"}},
      {{"cfg-reset"}, 0, {red("[ERROR] Unable to write .kvx/config.txt" + read_only)}, {"[OK]"}},
      {{"g", "x.js"}, 1, {red("[ERROR] Unable to write .kvx/errors.txt" + read_only)}, {}},
      {{"go", "no-such-folder"}, 1, {red("[ERROR] Unable to write .kvx/history.txt" + read_only)}, {}},
      // The editor's mode equals the saved one: nothing to write, nothing said.
      {{"ls"}, 0, {}, {"[ERROR]"}},
  });
  expect_workspace_intact();

  testing::internal::CaptureStdout();
  EXPECT_EQ(tsx_enhance_and_secure_ts("t.js"), 1);
  const std::string console = testing::internal::GetCapturedStdout();
  EXPECT_NE(console.find(red("[ERROR] TSX engine cannot write 'generated/t.ts' (Read-only file system).")),
            std::string::npos)
      << console;
  expect_workspace_intact();
}

TEST_F(WriteFailures, EditorModeThatCannotBeSavedIsReported) {
  TinyDisk disk;
  if (!disk.mounted()) GTEST_SKIP() << "a tmpfs cannot be mounted here (needs root)";
  write_workspace();
  write_file(".kvx/vscode.json", "{ \"KORVEX.mode\": \"a\" }");
  ASSERT_TRUE(disk.make_read_only());
  std::string output;
  EXPECT_EQ(run_kvx({"mode"}, &output), 0);
  EXPECT_NE(output.find(red("[ERROR] Unable to write .kvx/mode.txt (Read-only file system)\n")), std::string::npos)
      << output;
  EXPECT_NE(output.find("Current mode : " CLR_GREEN "w"), std::string::npos) << output;
  EXPECT_EQ(read_file(".kvx/mode.txt"), "w\n");
}

// A file-size limit makes writes fail with "File too large" for root as for
// anyone, with no mount: the shell ignores SIGXFSZ so that the write fails
// instead of ending the program.
int run_kvx_with_size_limit(int blocks_of_512, const std::vector<std::string>& args, std::string* output) {
  std::string command = "ulimit -f " + std::to_string(blocks_of_512) + "; trap '' XFSZ; exec " +
                        shell_quote(KVX_BINARY_PATH);
  for (const std::string& arg : args) command += " " + shell_quote(arg);
  return run_shell(command, output);
}

TEST_F(WriteFailures, OutputThatCannotBeWrittenWholeFailsWithoutATruncatedFile) {
  write_file("x.js", kWorkspace.at("x.js"));
  std::string output;
  EXPECT_EQ(run_kvx_with_size_limit(0, {"w", "x.js"}, &output), 1);
  EXPECT_NE(output.find(red("[ERROR] Unable to write ./generated/x.ts (File too large)\n")), std::string::npos)
      << output;
  EXPECT_FALSE(fs::exists("generated/x.ts"));
  expect_no_temporary("generated");
}

TEST_F(WriteFailures, LogAppendThatDoesNotFitIsCutBackToTheOldContent) {
  // 4,090 bytes of history: the first bytes of the new line fit under the
  // 4,096-byte limit, the rest does not.
  fs::create_directory(".kvx");
  const std::string history = one_page_of("[2026-01-01 00:00:00] kvx add old.js\n").substr(6);
  write_file(".kvx/history.txt", history);
  write_file(".kvx/files.txt", history);
  std::string output;
  EXPECT_EQ(run_kvx_with_size_limit(8, {"go", "no-such-folder"}, &output), 1);
  EXPECT_NE(output.find(red("[ERROR] Unable to write .kvx/history.txt (File too large)\n")), std::string::npos)
      << output;
  EXPECT_EQ(read_file(".kvx/history.txt"), history);

  EXPECT_EQ(run_kvx_with_size_limit(8, {"add", "new.js"}, &output), 0);
  EXPECT_NE(output.find(red("[ERROR] Unable to write .kvx/files.txt (File too large)\n")), std::string::npos)
      << output;
  EXPECT_EQ(read_file(".kvx/files.txt"), history);
}

TEST_F(WriteFailures, ModeAAppendThatDoesNotFitFailsAndLeavesACompleteFile) {
  write_file("x.js", kWorkspace.at("x.js"));
  // 4,000 bytes of old output: the fresh generation fits under 4,096 bytes,
  // the old text with the appended lines does not.
  std::string old_text = "// Automatically generated by KORVEX V1\n\n";
  while (old_text.size() < 4000) old_text += "declare const kept: string;\n";
  old_text.resize(4000);
  fs::create_directory("generated");
  write_file("generated/x.ts", old_text);

  std::string output;
  EXPECT_EQ(run_kvx_with_size_limit(8, {"a", "x.js"}, &output), 1);
  EXPECT_NE(output.find(red("[ERROR] Unable to write generated/x.ts (File too large)\n")), std::string::npos)
      << output;
  EXPECT_EQ(output.find("[MODE A] Added"), std::string::npos) << output;
  const std::string target = read_file("generated/x.ts");
  EXPECT_EQ(target.rfind("// Automatically generated by KORVEX V1\n", 0), 0u);
  EXPECT_NE(target.find("declare const limit: number;\n"), std::string::npos) << target;
  expect_no_temporary("generated");
}

}  // namespace

#endif  // _WIN32
