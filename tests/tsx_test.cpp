#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/console.h"
#include "core/filesystem.h"
#include "test_support.h"
#include "tsx/tsx_engine.h"

namespace {

using kvx_test::read_file;
using kvx_test::ScopedWorkDir;
using kvx_test::write_file;

TEST(StemName, TakesTheFileNameWithoutAFinalDotJs) {
  const std::string n508(508, 'n');
  struct Case {
    std::string path;
    std::string stem;
  } cases[] = {
      {"a.js", "a"},
      {"src/app.js", "app"},
      {"C:\\work\\app.js", "app"},
      {"x/y\\z.js", "z"},
      {"x\\y/z.js", "z"},
      {".js", ".js"},  // three bytes: too short to lose its suffix
      {"dir/.js", ".js"},
      {"a..js", "a."},
      {"app.JS", "app.JS"},
      {"app.jsx", "app.jsx"},
      {"app.js.js", "app.js"},
      {"dir/", ""},
      {"noext", "noext"},
      {"", ""},
      // The name is cut to 511 bytes before the suffix test.
      {"dir/" + n508 + ".js", n508},
      {"dir/" + n508 + "n.js", n508 + "n.j"},
      {std::string(600, 'n') + ".js", std::string(511, 'n')},
  };
  for (const Case& c : cases) EXPECT_EQ(get_stem_name(c.path), c.stem) << c.path;
}

TEST(ValidateSyntax, CountsBracesAndParenthesesOutsideStringsAndLineComments) {
  struct Case {
    const char* text;
    int balanced;
  } cases[] = {
      {"function f() { return (a); }", 1},
      {"const s = '{';", 1},
      {"// }\n", 1},
      {"if (a) {", 0},
      {"/* } */", 0},                 // block comments are not recognised
      {"const r = /[(]/;", 0},        // nor regular expressions
      {")(", 1},                      // only the final counts matter
      {"}{", 1},
      {"[", 1},                       // square brackets are not counted
      {"", 1},
      {"const s = \"a\\\"{\";", 1},   // an escaped quote does not end the string
      {"const s = 'it\\'s (';", 1},
      {"const s = \"'(\";", 1},       // the other quote is plain text inside a string
      {"const t = `${a({)}`;", 1},    // template placeholders are skipped like text
      {"x = '(\n", 1},               // an unclosed string hides the rest...
      {"x = '\n{{{", 1},             // ...including later lines
      {"s = '\\", 1},                // a final backslash is ignored
      {"a(); // (\nb(", 0},          // the comment ends at the newline
      {"a / b / (c", 0},             // a single slash is no comment
      {"{ // }\n}", 1},
      {"f(\"//\")", 1},              // no comment inside a string
  };
  for (const Case& c : cases) EXPECT_EQ(tsx_validate_syntax(c.text), c.balanced) << c.text;
}

TEST(HardenLine, TightensAnyOutsideCatchLines) {
  struct Case {
    const char* line;
    const char* hardened;
  } cases[] = {
      {"let x: any = f();", "let x: unknown = f();"},
      {"function f(a: any, b: any): any {", "function f(a: unknown, b: unknown): unknown {"},
      {"const a: any[] = [];", "const a: unknown[] = [];"},
      {"let t: anyThing;", "let t: unknownThing;"},  // a plain substring search
      {"} catch (e: any) {", "} catch (e: any) {"},
      {"catch(err: any)", "catch(err: any)"},
      {"let a: any; try {} catch (e: any) {}", "let a: any; try {} catch (e: any) {}"},
      {"let p: Promise<any>;", "let p: Promise<any>;"},
      {"x:any", "x:any"},
      {": any: any", ": unknown: unknown"},
      {": an", ": an"},
      {"", ""},
      {"let catcher: any;", "let catcher: unknown;"},
  };
  for (const Case& c : cases) EXPECT_EQ(tsx_harden_line(c.line), c.hardened) << c.line;
}

TEST(HardenLine, KeepsALongLineWhole) {
  // Every annotation of a line far longer than any line buffer is tightened
  // and nothing after it is lost.
  std::string line;
  std::string hardened;
  for (int i = 0; i < 2000; ++i) {
    line += "a" + std::to_string(i) + ": any, ";
    hardened += "a" + std::to_string(i) + ": unknown, ";
  }
  line += "end";
  hardened += "end";
  EXPECT_EQ(tsx_harden_line(line), hardened);
  const std::string catch_line = "} catch (e: any) { " + std::string(5000, 'x') + " }";
  EXPECT_EQ(tsx_harden_line(catch_line), catch_line);
}

// The driver works on generated/<stem>.ts of the current working directory.
class HardenFile : public testing::Test {
 protected:
  void SetUp() override { std::filesystem::create_directory("generated"); }

  int harden(const std::string& source_path, std::string* console = nullptr) {
    testing::internal::CaptureStdout();
    const int status = tsx_enhance_and_secure_ts(source_path);
    const std::string printed = testing::internal::GetCapturedStdout();
    if (console != nullptr) *console = printed;
    return status;
  }

  ScopedWorkDir dir_;
};

TEST_F(HardenFile, RewritesEveryLineAndReportsTheCount) {
  write_file("generated/app.ts",
             "declare let a: any;\n"
             "function f(x: any, y: any[]): any {\n"
             "  try { g(); } catch (e: any) { return 1; }\n"
             "}\n");
  std::string console;
  ASSERT_EQ(harden("src/app.js", &console), 0);
  EXPECT_EQ(read_file("generated/app.ts"),
            "declare let a: unknown;\n"
            "function f(x: unknown, y: unknown[]): unknown {\n"
            "  try { g(); } catch (e: any) { return 1; }\n"
            "}\n");
  EXPECT_EQ(console, CLR_CYAN "[TSX] Hardening generated/app.ts...\n" CLR_RESET CLR_GREEN
                              "[OK] TSX hardening done: 4 annotation(s) tightened to unknown.\n" CLR_RESET);
  EXPECT_FALSE(std::filesystem::exists("generated/app.ts.tmp"));
}

TEST_F(HardenFile, KeepsLineEndsAndTheMissingFinalNewline) {
  struct Case {
    const char* before;
    const char* after;
  } cases[] = {
      {"a: any;\r\nb: any;\r\n", "a: unknown;\r\nb: unknown;\r\n"},
      {"a: any;\nb: any;", "a: unknown;\nb: unknown;"},
      {"\n\n: any\n\n", "\n\n: unknown\n\n"},
      {"", ""},
  };
  for (const Case& c : cases) {
    write_file("generated/app.ts", c.before);
    ASSERT_EQ(harden("app.js"), 0) << c.before;
    EXPECT_EQ(read_file("generated/app.ts"), c.after) << c.before;
  }
}

TEST_F(HardenFile, NeverCutsALongLine) {
  std::string line;
  std::string expected;
  for (int i = 0; i < 5000; ++i) {
    line += "p" + std::to_string(i) + ": any, ";
    expected += "p" + std::to_string(i) + ": unknown, ";
  }
  write_file("generated/big.ts", "f(" + line + ")\n");
  std::string console;
  ASSERT_EQ(harden("big.js", &console), 0);
  EXPECT_EQ(read_file("generated/big.ts"), "f(" + expected + ")\n");
  EXPECT_NE(console.find("5000 annotation(s)"), std::string::npos) << console;
}

TEST_F(HardenFile, AnImbalanceIsAWarningAndTheTextIsStillWritten) {
  std::filesystem::create_directory(".kvx");
  write_file("generated/re.ts", "function f(s: any) {\n  return /[{]/.test(s);\n}\n");
  std::string console;
  ASSERT_EQ(harden("re.js", &console), 0);
  EXPECT_EQ(read_file("generated/re.ts"), "function f(s: unknown) {\n  return /[{]/.test(s);\n}\n");
  EXPECT_NE(console.find(CLR_YELLOW "[WARNING] Unbalanced braces or parentheses in generated/re.ts"),
            std::string::npos)
      << console;
  EXPECT_NE(console.find("[OK] TSX hardening done: 1 annotation(s)"), std::string::npos) << console;
  EXPECT_NE(read_file(".kvx/errors.txt").find("] TSX engine: unbalanced braces or parentheses in "
                                              "generated/re.ts\n"),
            std::string::npos);
}

TEST_F(HardenFile, FailsOnlyWhenTheFileCannotBeReadOrWritten) {
  std::string console;
  EXPECT_EQ(harden("missing.js", &console), 1);
  EXPECT_NE(console.find(CLR_RED "[ERROR] TSX engine cannot read 'generated/missing.ts'."),
            std::string::npos)
      << console;

  std::filesystem::create_directory("generated/folder.ts");
  EXPECT_EQ(harden("folder.js"), 1);

  // The temporary file cannot be created: the original stays as it was.
  write_file("generated/locked.ts", "let a: any;\n");
  std::filesystem::create_directory(staged_temporary_path("generated/locked.ts"));
  EXPECT_EQ(harden("locked.js", &console), 1);
  EXPECT_NE(console.find(CLR_RED "[ERROR] TSX engine cannot write 'generated/locked.ts' ("),
            std::string::npos)
      << console;
  EXPECT_EQ(read_file("generated/locked.ts"), "let a: any;\n");
}

}  // namespace
