// Random JavaScript programs from a small grammar, for property tests of the
// whole pipeline, and rule-dense statement soups for the reference tests. A program is valid JavaScript by construction as far as the
// grammar goes (names unique per function, `await`/`yield`/`break`/`super`
// only where they are allowed); a test still filters them through a real
// JavaScript parser.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>
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

// Sources made of the statements the analysis rules look for, with names,
// literals and operators drawn from small pools so that lookups hit, and
// stray tokens in between so that runs are cut at odd places. Unlike
// random_program(), a source need not be valid JavaScript.
class RuleStatements {
 public:
  explicit RuleStatements(unsigned seed) : random_(seed) {}

  int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }
  template <typename T, size_t N>
  const T& pick(const T (&items)[N]) {
    return items[static_cast<size_t>(pick(static_cast<int>(N)))];
  }

  std::string name();
  std::string literal();
  std::string value() { return pick(2) == 0 ? name() : literal(); }
  std::string op();
  // The pattern with N a name, L a literal, V either, O an operator.
  std::string fill(std::string_view pattern);
  // `count` statements; below depth 2 some are functions with statements of
  // their own, whose names functions() collects.
  std::string statements(int count, int depth);
  std::vector<std::string>& functions() { return functions_; }

 private:
  std::mt19937 random_;
  std::vector<std::string> functions_;
};

}  // namespace kvx_test
