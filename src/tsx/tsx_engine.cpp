#include "tsx/tsx_engine.h"

std::string get_stem_name(const std::string&, size_t) { return {}; }
int tsx_validate_syntax(std::string_view) { return 1; }
std::string tsx_harden_line(std::string_view line, size_t) { return std::string(line); }
int tsx_enhance_and_secure_ts(const std::string&) { return 1; }
