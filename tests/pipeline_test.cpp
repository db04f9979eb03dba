#include <gtest/gtest.h>

#include "core/run.h"
#include "test_support.h"

namespace {

using kvx_test::read_file;
using kvx_test::ScopedWorkDir;
using kvx_test::write_file;

TEST(OutputBase, TakesTheFileNameAfterTheLastSeparator) {
  struct Case {
    const char* path;
    const char* base;
  } cases[] = {
      {"app.js", "./generated/app"},
      {"src\\app.js", "./generated/app"},
      {"C:\\work/src\\x.js", "./generated/x"},
      {"a/b/c.js", "./generated/c"},
      {".js", "./generated/.js"},
      {"dir/.js", "./generated/.js"},
      {"x.mjs", "./generated/x.mjs"},
  };
  for (const Case& c : cases) EXPECT_EQ(output_base_for(c.path), c.base) << c.path;
}

TEST(OutputBase, CutsALongFileNameTo255Bytes) {
  const std::string name(300, 'n');
  EXPECT_EQ(output_base_for("dir/" + name + ".js"), "./generated/" + std::string(255, 'n'));
}

}  // namespace
