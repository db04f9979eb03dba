// Entry point and the single-file pipeline that owns the order of all stages.
#pragma once

#include <cstdint>
#include <string>

// Process-wide verbose switch: pass 4 prints its trace lines only when it is
// non-zero.
extern std::int32_t g_kvx_verbose;

// Turns one .js file into ./generated/<stem>.ts; 0 when the file was written,
// 1 on any failure.
int run_transpile_single_file(const std::string& path);

// "./generated/<stem>" for a source path: the file name after the last / or \,
// cut to 255 bytes, without a final ".js" when it is longer than three bytes.
std::string output_base_for(const std::string& path);
