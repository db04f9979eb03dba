#include <gtest/gtest.h>

#include <string>

#include "test_support.h"

namespace {

using kvx_test::run_kvx;
using kvx_test::ScopedWorkDir;

// A lone "--gui" opens the launcher and exits 0 whatever it shows; on a
// console-only system it prints the launcher's text. Anywhere else the switch
// is a file name for the dispatcher.
TEST(Launcher, LoneGuiSwitchShowsTheLauncherAndSucceeds) {
  ScopedWorkDir dir;
  std::string output;
  EXPECT_EQ(run_kvx({"--gui"}, &output), 0);
  EXPECT_NE(output.find("KORVEX is a command-line JavaScript -> TypeScript transpiler."), std::string::npos)
      << output;
  EXPECT_EQ(output.find("Usage:"), std::string::npos);

  EXPECT_EQ(run_kvx({"--gui", "x"}, &output), 1);
  EXPECT_NE(output.find("'--gui'"), std::string::npos) << output;
}

TEST(Launcher, StartWithoutArgumentsFromAShellPrintsTheHelp) {
  ScopedWorkDir dir;
  std::string output;
  EXPECT_EQ(run_kvx({}, &output), 0);
  EXPECT_NE(output.find("Usage:"), std::string::npos) << output;
}

}  // namespace
