// File and folder names that a shell would take apart, through every command
// of the built kvx that takes a path: each one must reach the file system
// byte for byte, and none may start a command the user did not ask for.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "core/console.h"
#include "fake_tools.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using kvx_test::FakeTools;
using kvx_test::read_file;
using kvx_test::run_kvx;
using kvx_test::ScopedWorkDir;
using kvx_test::write_file;

// What an injected "touch" would create in the working directory.
constexpr const char* kSentinel = "INJECTED";

// Every name would, if a shell saw it unquoted or badly quoted, create the
// sentinel or run something else.
const std::vector<std::string> kHostileNames = {
    "my file.js",
    "it's.js",
#ifndef _WIN32
    "say \"hi\".js",  // neither a double quote nor a bar in a Windows name
    "a|touch INJECTED.js",
#endif
    "$(touch INJECTED).js",
    "`touch INJECTED`.js",
    "a;touch INJECTED;.js",
    "a&touch INJECTED&.js",
    "100%.js",
    "%PATH%.js",
    "bang!.js",
    "-x.js",
    "--x.js",
    "\xc3\xa9t\xc3\xa9-\xc3\xb1.js",  // été-ñ
    "\xe6\x97\xa5\xe6\x9c\xac.js",    // 日本
};

constexpr const char* kSource = "const limit = 5;\nfunction twice(n) { return n * 2; }\n";

std::string target_of(const std::string& name) { return "generated/" + name.substr(0, name.size() - 3) + ".ts"; }

bool holds_line(const std::string& text, const std::string& line) {
  return ("\n" + text).find("\n" + line + "\n") != std::string::npos;
}

struct KvxRun {
  int status;
  std::string output;
};

KvxRun kvx(const std::vector<std::string>& args) {
  KvxRun run;
  run.status = run_kvx(args, &run.output);
  return run;
}

// Fake node and npx first on PATH: modes g and auto run to the compiler,
// whose arguments are recorded.
class HostilePaths : public testing::Test {
 protected:
  ScopedWorkDir dir_;
  FakeTools tools_;

  void TearDown() override { EXPECT_FALSE(fs::exists(kSentinel)) << "a name was run as a command"; }
};

TEST_F(HostilePaths, EveryModeTranspilesTheFileItWasGiven) {
  for (const std::string& name : kHostileNames) {
    SCOPED_TRACE(name);
    write_file(name, kSource);
    const std::string target = target_of(name);
    for (const char* mode : {"w", "a", "auto", "g"}) {
      const KvxRun run = kvx({mode, name});
      EXPECT_EQ(run.status, 0) << mode << "\n" << run.output;
      ASSERT_TRUE(fs::exists(target)) << mode << "\n" << run.output;
      EXPECT_NE(read_file(target).find("declare const limit: number;"), std::string::npos) << mode;
    }
    // The compiler got the generated file as one argument, unchanged.
    const std::vector<std::string> args = tools_.compiler_args();
    EXPECT_NE(std::find(args.begin(), args.end(), target), args.end());

    fs::remove(target);
    const KvxRun plain = kvx({name});  // the default rule, active mode w
    EXPECT_EQ(plain.status, 0) << plain.output;
    EXPECT_TRUE(fs::exists(target)) << plain.output;
  }
}

TEST_F(HostilePaths, ABatchOfHostileNamesRunsEachFileOnce) {
  std::vector<std::string> args;
  for (const std::string& name : kHostileNames) {
    write_file(name, kSource);
    args.push_back(name);
  }
  const KvxRun run = kvx(args);
  EXPECT_EQ(run.status, 0) << run.output;
  for (const std::string& name : kHostileNames) EXPECT_TRUE(fs::exists(target_of(name))) << name;
  EXPECT_EQ(read_file(".kvx/stats.txt").rfind("total=" + std::to_string(kHostileNames.size()) + "\n", 0), 0u);
}

TEST_F(HostilePaths, TheQueueKeepsNamesIntactFromAddToRemove) {
  for (const std::string& name : kHostileNames) write_file(name, kSource);
  for (const std::string& name : kHostileNames) {
    const KvxRun run = kvx({"add", name});
    EXPECT_EQ(run.status, 0) << name << "\n" << run.output;
  }
  const std::string queue = read_file(".kvx/files.txt");
  const std::string history = read_file(".kvx/history.txt");
  for (const std::string& name : kHostileNames) {
    EXPECT_TRUE(holds_line(queue, name)) << name << "\n" << queue;
    EXPECT_NE(history.find("] kvx add " + name + "\n"), std::string::npos) << name;
  }
  const KvxRun listed = kvx({"ls"});
  for (const std::string& name : kHostileNames) {
    EXPECT_NE(listed.output.find(". " + name + "\n"), std::string::npos) << name << "\n" << listed.output;
  }

  const KvxRun go = kvx({"go"});
  EXPECT_EQ(go.status, 0) << go.output;
  const KvxRun safe = kvx({"go", "list"});
  EXPECT_EQ(safe.status, 0) << safe.output;
  for (const std::string& name : kHostileNames) {
    EXPECT_NE(go.output.find("-> Processing: " + name + "\n"), std::string::npos) << name;
    EXPECT_NE(safe.output.find("-> Building Safe JS: " + name + "\n"), std::string::npos) << name;
    EXPECT_TRUE(fs::exists(target_of(name))) << name;
  }

  for (const std::string& name : kHostileNames) {
    const KvxRun run = kvx({"rm", name});
    EXPECT_EQ(run.status, 0) << name << "\n" << run.output;
    EXPECT_NE(read_file(".kvx/history.txt").find("] kvx rm " + name + "\n"), std::string::npos) << name;
  }
  EXPECT_EQ(read_file(".kvx/files.txt"), "");
}

#ifndef _WIN32
TEST_F(HostilePaths, ANameWithALineBreakIsTranspiledButNeverQueued) {
  const std::string name = "two\nlines.js";
  write_file(name, kSource);
  write_file("lines.js", kSource);
  EXPECT_EQ(kvx({"w", name}).status, 0);
  EXPECT_TRUE(fs::exists(target_of(name)));

  EXPECT_EQ(kvx({"add", "lines.js"}).status, 0);
  const KvxRun run = kvx({"add", name});
  EXPECT_NE(run.output.find(CLR_RED "[ERROR] '" + name + "' cannot be queued: its name holds a line break.\n"),
            std::string::npos)
      << run.output;
  EXPECT_EQ(read_file(".kvx/files.txt"), "lines.js\n");

  // In a scanned folder the name cannot be listed as one path: it is left
  // out, and its last line never runs the "lines.js" of the working folder.
  fs::create_directory("src");
  write_file("src/" + name, kSource);
  fs::remove_all("generated");
  const KvxRun batch = kvx({"go", "src"});
  EXPECT_NE(batch.output.find("[DONE] 0 / 0 file(s)"), std::string::npos) << batch.output;
  EXPECT_FALSE(fs::exists("generated/lines.ts")) << batch.output;

  // The history keeps one line per command: the break is written as "\n".
  kvx({"go", "no\n[2000-01-01 00:00:00] kvx forged"});
  EXPECT_NE(read_file(".kvx/history.txt").find("] kvx run-dir no\\n[2000-01-01 00:00:00] kvx forged\n"),
            std::string::npos)
      << read_file(".kvx/history.txt");
}
#endif

TEST_F(HostilePaths, FoldersWithHostileNamesAreScannedAndQueued) {
  const std::vector<std::string> folders = {
      "src $(touch INJECTED) `touch INJECTED`", "a;touch INJECTED&b", "-rf", "it's 100%!",
      "\xc3\xa9t\xc3\xa9 dir"};
  for (const std::string& folder : folders) {
    SCOPED_TRACE(folder);
    fs::create_directories(fs::path(folder) / "deep dir");
    write_file(fs::path(folder) / "deep dir" / "inner $x.js", kSource);
    fs::remove_all("generated");

    const KvxRun batch = kvx({"go", folder});
    EXPECT_EQ(batch.status, 0) << batch.output;
    EXPECT_NE(batch.output.find("[DONE] 1 / 1 file(s)"), std::string::npos) << batch.output;
    EXPECT_TRUE(fs::exists("generated/deep dir/inner $x.ts")) << batch.output;
    EXPECT_NE(read_file(".kvx/history.txt").find("] kvx run-dir " + folder + "\n"), std::string::npos);

    EXPECT_EQ(kvx({"add", folder}).status, 0);
    EXPECT_TRUE(holds_line(read_file(".kvx/files.txt"), folder));
    fs::remove_all("generated");
    const KvxRun queued = kvx({"go"});
    EXPECT_EQ(queued.status, 0) << queued.output;
    EXPECT_TRUE(fs::exists("generated/deep dir/inner $x.ts")) << queued.output;
    EXPECT_EQ(kvx({"rm", folder}).status, 0);
  }
}

}  // namespace
