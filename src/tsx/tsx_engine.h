// TSX hardening engine: tightens `: any` to `: unknown` in the code of
// generated/<stem>.ts (strings, templates, regular expressions and comments
// left alone) and checks that its braces and parentheses balance.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// The stem of a source path: the file name after the last / or \, cut to
// 511 bytes, without a final ".js" when the name is at least 4 bytes long.
// The hardening and the compile step both find generated/<stem>.ts by it.
std::string get_stem_name(const std::string& path);

// 1 when braces and parentheses balance outside strings and line comments.
int tsx_validate_syntax(std::string_view text);

// One line with each ": any" tightened to ": unknown"; a line that holds
// "catch (" or "catch(" is returned unchanged.
std::string tsx_harden_line(std::string_view line);

// For each byte of a TypeScript text, whether it is code as the tokenizer
// reads it: false inside a string, template or regular-expression literal (a
// template's `${...}` code included back) or a comment.
std::vector<bool> tsx_code_bytes(std::string_view text);

// Hardens generated/<stem>.ts in place for the source path; 0 when it is ready
// for compilation.
int tsx_enhance_and_secure_ts(const std::string& path);
// The same for a generated file named by its own path (a folder run's
// mirrored generated/<dirs>/<stem>.ts).
int tsx_harden_file(const std::string& ts_path);
