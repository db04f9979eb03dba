// Generators of inputs that grow along one dimension (repetitions, nesting
// depth, line length). The tests check that kvx's output grows linearly with
// them (scaling_test.cpp); the benchmark bench/scaling/ checks its time and
// peak memory.
#pragma once

#include <string>
#include <vector>

namespace kvx_scaling {

struct ScalingPattern {
  const char* name;            // a gtest-safe name: letters, digits and _
  std::string (*generate)(int n);
  int n;                       // the smaller size of the check; the larger is 4n
  // Empty when the pattern must already scale linearly; otherwise why the
  // benchmark skips it for now (the pattern and the work that will make it
  // linear).
  const char* not_yet_linear;
};

// Every pattern, in a fixed order.
const std::vector<ScalingPattern>& scaling_patterns();

}  // namespace kvx_scaling
