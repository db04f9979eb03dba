// TSX hardening engine: tightens any to unknown in generated/<stem>.ts and
// checks that its braces and parentheses balance.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// The stem of a source path, at most size - 1 bytes: the file name after the
// last / or \, without a final ".js" when the name is at least 4 bytes long.
std::string get_stem_name(const std::string& path, size_t size);

// 1 when braces and parentheses balance outside strings and line comments.
int tsx_validate_syntax(std::string_view text);

// One line with ": any" tightened to ": unknown" (catch lines unchanged), at
// most size - 1 bytes.
std::string tsx_harden_line(std::string_view line, size_t size);

// For each byte of a TypeScript text, whether it is code: false inside a
// string, template or regular-expression literal (a template's `${...}` code
// included back) or a comment.
std::vector<bool> tsx_code_bytes(std::string_view text);

// Hardens generated/<stem>.ts in place for the source path; 0 when it is ready
// for compilation.
int tsx_enhance_and_secure_ts(const std::string& path);
