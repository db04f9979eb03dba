// tsc compilation into dist/ and the automatic pipeline of mode auto.
#pragma once

#include <string>

// Compiles generated/<stem>.ts into dist/<stem>.js; 0 when built, 1 otherwise.
int tsc_compile_to_dist(const std::string& path);

// Generate, harden, compile; 0 when all three stages succeeded.
int tsx_run_full_pipeline(const std::string& path);
