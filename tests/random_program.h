// Random JavaScript programs from a small grammar, for property tests of the
// whole pipeline. A program is valid JavaScript by construction as far as the
// grammar goes (names unique per function, `await`/`yield`/`break`/`super`
// only where they are allowed); a test still filters them through a real
// JavaScript parser.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kvx_test {

struct RandomProgram {
  uint32_t seed = 0;
  // An ES module (import/export, top-level await) rather than a CommonJS
  // script.
  bool module = false;
  // The top-level items, each complete on its own (a declaration, a
  // statement, an import or export), in program order.
  std::vector<std::string> items;
};

// The same seed always gives the same program.
RandomProgram random_program(uint32_t seed);

// The program's text: its items, one after another.
std::string program_text(const RandomProgram& program);

}  // namespace kvx_test
