// Source reader: the name check, the open check and the whole-file read that
// guard the entrance of the pipeline. Each prints its own message; the quiet
// read at the end runs all three without one.
#pragma once

#include <cstdint>
#include <fstream>
#include <optional>
#include <string>

inline constexpr std::int64_t kMaxSourceBytes = 52428800;  // 50 x 1,048,576

// 1 when the name ends in ".js" but not ".js.js"; 0 after printing why not.
int is_js_file(const std::string& path);
// The same rule without a message.
bool has_js_name(const std::string& path);

// An open stream on the file, or a closed one after printing why not.
std::ifstream open_js_file(const std::string& path);

// The two lines open_js_file prints for a file that opens.
void print_js_file_opened(const std::string& path);

// The whole file with CR LF pairs read as LF, or nullopt after printing why not.
std::optional<std::string> read_js_content(const std::string& path);

// The text the three steps above give in a row (name check, open check,
// whole-file read), without a message: nullopt wherever one of them would
// print why not. For reading a source ahead of the run that reports it.
std::optional<std::string> read_js_source_quietly(const std::string& path);
