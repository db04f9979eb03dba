// `go` on folders and on the queue transpiles its next files ahead on
// threads; the built kvx must leave exactly what a run of one file after
// another leaves: the same console bytes, exit status, generated files and
// workspace files.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "cli/cli_parallel.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using kvx_test::read_file;
using kvx_test::run_shell;
using kvx_test::ScopedWorkDir;
using kvx_test::write_file;
using kvx_test::shell_quote;

struct Outcome {
  int status = 0;
  std::string console;
  std::map<std::string, std::string> files;  // every file below the working folder
};

// Runs the built kvx with KVX_JOBS set to `jobs` (unset when empty).
Outcome run_with_jobs(const std::string& jobs, const std::vector<std::string>& args) {
  std::string command = jobs.empty() ? "env -u KVX_JOBS " : "KVX_JOBS=" + shell_quote(jobs) + " ";
  command += shell_quote(KVX_BINARY_PATH);
  for (const std::string& arg : args) command += " " + shell_quote(arg);
  Outcome outcome;
  outcome.status = run_shell(command, &outcome.console);
  // Log lines start with the time they were written, which no two runs share.
  const std::regex stamp(R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\])");
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(".")) {
    if (!entry.is_regular_file()) continue;
    outcome.files[entry.path().generic_string()] = std::regex_replace(read_file(entry.path()), stamp, "[time]");
  }
  return outcome;
}

void clear_working_folder() {
  for (const fs::directory_entry& entry : fs::directory_iterator(".")) fs::remove_all(entry.path());
}

// A source that transpiles, with a name of its own in the output.
std::string module_source(const std::string& name) {
  return "const " + name + " = 5;\nfunction twice_" + name + "(n) { return n * 2; }\nconst seen_" + name +
         " = new Set();\nseen_" + name + ".add(\"x\");\nexport default twice_" + name + ";\n";
}

// A folder of many files: most transpile, one in the middle is empty (fails),
// names a shell would take apart, two files of one base name in different
// folders (mirrored below generated/), a doubled extension (rejected
// while the others run), and folders that are skipped.
void write_project(const std::string& root) {
  for (int i = 0; i < 24; ++i) write_file(root + "/m" + std::to_string(i) + ".js", module_source("v" + std::to_string(i)));
  write_file(root + "/m10.js", "");
  for (const char* name : {"my file.js", "a;touch INJECTED;.js", "$(touch INJECTED).js", "100%.js",
                           "\xc3\xa9t\xc3\xa9.js"}) {
    write_file(root + "/odd/" + name, module_source("odd"));
  }
  write_file(root + "/a/index.js", module_source("first"));
  write_file(root + "/b/index.js", module_source("second"));
  write_file(root + "/b/INDEX.js", module_source("third"));
  write_file(root + "/c/twice.js.js", module_source("never"));
  write_file(root + "/c/after.js", module_source("after"));
  write_file(root + "/node_modules/dep.js", module_source("dep"));
}

struct Scenario {
  const char* name;
  std::function<void()> setup;
  std::vector<std::string> args;
};

const std::vector<Scenario>& scenarios() {
  static const std::vector<Scenario> table = {
      {"folder batch, fresh output folder", [] { write_project("src"); }, {"go", "src"}},
      {"two folders and the trace",
       [] {
         write_project("src");
         write_project("lib");
       },
       {"run", "src", "--verbose", "lib"}},
      {"queue of files and folders",
       [] {
         write_project("src");
         write_file("top.js", module_source("top"));
         write_file("empty.js", "");
         fs::create_directories("generated");
         write_file(".kvx/files.txt", "top.js\nsrc/c\nmissing.js\n\nempty.js\nnot-a-folder\nsrc\ntop.js\n");
       },
       {"go"}},
      {"queue in mode a over earlier output",
       [] {
         write_project("src");
         write_file("generated/m3.ts", "declare const old: number;\n");
         write_file("generated/index.ts", "function kept() {}\n");
         write_file(".kvx/mode.txt", "a\n");
         write_file(".kvx/files.txt", "src\n");
       },
       {"go"}},
      {"an unknown active mode word",
       [] {
         write_project("src");
         write_file(".kvx/mode.txt", "x\n");
       },
       {"go", "src"}},
      {"the inline form over a folder", [] { write_project("src"); }, {"go", "src", "--inline"}},
      {"mode a over earlier output with the trace",
       [] {
         write_project("src");
         write_file("generated/m3.ts", "declare const old: number;\n");
         write_file("generated/m20.ts", "function kept() {}\n");
         write_file(".kvx/mode.txt", "a\n");
       },
       {"run", "src", "-V"}},
      {"the queue in mode a, inline form and trace",
       [] {
         write_project("src");
         write_file("generated/m3.ts", "declare const old: number;\n");
         write_file(".kvx/mode.txt", "a\n");
         write_file(".kvx/files.txt", "src\n");
       },
       {"go", "--inline", "--verbose"}},
      // The output folder appears while the queue runs and then reads as a
      // folder; a folder named like a source fails its open check; files and
      // folders come twice.
      {"a queue whose entries change meaning or repeat",
       [] {
         write_project("src");
         write_file("top.js", module_source("top"));
         fs::create_directories("folder.js");
         write_file(".kvx/files.txt", "top.js\ngenerated\nsrc/m1.js\nfolder.js\nsrc/b\nsrc/m1.js\nsrc/b\nsrc/b/index.js\n");
       },
       {"go"}},
      {"fewer files than jobs",
       [] {
         write_file("pair/one.js", module_source("one"));
         write_file("pair/two.js", module_source("two"));
         write_file("single/only.js", module_source("only"));
       },
       {"go", "pair", "single", "missing-folder"}},
  };
  return table;
}

TEST(ParallelGo, ManyJobsLeaveWhatOneLeaves) {
  ScopedWorkDir dir;
  for (const Scenario& scenario : scenarios()) {
    SCOPED_TRACE(scenario.name);
    clear_working_folder();
    scenario.setup();
    const Outcome alone = run_with_jobs("1", scenario.args);
    clear_working_folder();
    scenario.setup();
    const Outcome many = run_with_jobs("4", scenario.args);

    EXPECT_EQ(many.status, alone.status);
    EXPECT_EQ(many.console, alone.console);
    EXPECT_EQ(many.files, alone.files);
    EXPECT_FALSE(fs::exists("INJECTED")) << "a name was run as a command";
  }
}

TEST(ParallelGo, FilesOfOneNameKeepTheirOwnOutputsAndFailuresAreCounted) {
  ScopedWorkDir dir;
  write_project("src");
  const Outcome run = run_with_jobs("4", {"go", "src"});
  EXPECT_EQ(run.status, 1) << run.console;  // m10.js is empty
  // 24 + 5 odd names + 3 index files + after.js; the doubled extension is refused.
  EXPECT_NE(run.console.find("[DONE] 32 / 33 file(s) transpiled successfully."), std::string::npos)
      << run.console;
  EXPECT_NE(run.console.find("Filename contains multiple .js extensions"), std::string::npos);
  EXPECT_EQ(run.console.find("dep.js"), std::string::npos);
  // a/index.js, b/INDEX.js and b/index.js: each at its place in the tree.
  EXPECT_FALSE(fs::exists("generated/index.ts"));
  EXPECT_NE(read_file("generated/a/index.ts").find("first"), std::string::npos);
  EXPECT_NE(read_file("generated/b/index.ts").find("second"), std::string::npos);
  EXPECT_NE(read_file("generated/b/INDEX.ts").find("third"), std::string::npos);
  EXPECT_TRUE(fs::exists("generated/m9.ts"));
  EXPECT_FALSE(fs::exists("generated/m10.ts"));
  EXPECT_EQ(read_file(".kvx/stats.txt"), "total=33\na=0\nw=33\ng=0\nauto=0\n");
  // Each file's lines stay together: between its heading and the next one
  // stands its own mode line.
  for (int i = 0; i < 24; ++i) {
    const std::string name = "m" + std::to_string(i);
    const size_t heading = run.console.find("/src/" + name + ".js\n");
    ASSERT_NE(heading, std::string::npos) << name;
    const size_t next = run.console.find("-> Processing", heading);
    EXPECT_NE(run.console.substr(heading, next - heading).find("Rebuilding generated/" + name + ".ts"),
              std::string::npos)
        << name;
  }
}

TEST(ParallelGo, ABadJobCountRunsLikeTheDefault) {
  ScopedWorkDir dir;
  write_project("src");
  const Outcome alone = run_with_jobs("1", {"go", "src"});
  for (const std::string jobs : {"0", "-1", "x", "4x", " 2", "99999999999999999999999", ""}) {
    SCOPED_TRACE("KVX_JOBS='" + jobs + "'");
    clear_working_folder();
    write_project("src");
    const Outcome run = run_with_jobs(jobs, {"go", "src"});
    EXPECT_EQ(run.status, alone.status);
    EXPECT_EQ(run.console, alone.console);
    EXPECT_EQ(run.files, alone.files);
  }
}

TEST(ParallelGo, JobCountComesFromTheVariableOrTheProcessors) {
  struct Case {
    const char* setting;
    int processors;
    int expected;
  };
  const Case cases[] = {
      {nullptr, 8, 8},  {"", 8, 8},        {"3", 8, 3},     {"1", 8, 1},      {"0", 8, 8},
      {"-2", 8, 8},     {"x", 2, 2},       {"2x", 2, 2},    {" 4", 2, 2},     {"64", 2, 64},
      {"65", 2, kMaxJobs}, {"99999999999999999999", 2, kMaxJobs}, {nullptr, 0, 1}, {nullptr, 1000, kMaxJobs},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(cli_parallel_jobs_from(c.setting, c.processors), c.expected)
        << (c.setting == nullptr ? "(unset)" : c.setting) << " with " << c.processors << " processors";
  }
}

}  // namespace
