// One TypeScript compiler for a whole run: a Node script of kvx's own
// (src/tsx/kvx-check.js, carried inside the program and written to
// .kvx/kvx-check.js when a run needs it) keeps one language service alive
// and answers kvx's requests over its standard input and output, one JSON
// line each. Files are handed over as text, so a round of the inline check
// writes nothing to disk and re-checks only what changed; the whole run is
// one process holding one program of the run's files (each file's latest
// text, the library files parsed once), so its memory follows the project,
// not the number of rounds.
#pragma once

#include <optional>
#include <string>

#include "platform/child_process.h"

// The script's text (generated from src/tsx/kvx-check.js at build time).
extern const char* const kCompilerSessionScript;

// Where the script is written, relative to the working folder: `node` then
// finds the working folder's node_modules/typescript as `npx tsc` does.
inline constexpr const char* kCompilerSessionScriptPath = ".kvx/kvx-check.js";

struct CompilerSession {
  ChildProcessPtr child;
  bool broken = false;  // the script stopped answering: callers fall back
  std::string version;  // the compiler's
  bool workers = false;  // the sources can be checked in a thread of their own
  bool connected = false;  // its first answers (ready, init) are read
};

// The compiler's answer to a check or an emit.
struct SessionCompile {
  int status = 0;      // 0; 1 when errors and nothing emitted; 2 when emitted with errors
  std::string output;  // the diagnostics as tsc prints them
  std::optional<std::string> js;  // an emit's JavaScript, for the caller to write
};

// Starts the session with the flags of the compile step (the Node type
// definitions when `node_types`; outDir dist, rootDir generated). Nothing
// when Node.js or the TypeScript compiler cannot be had: callers then run
// the compiler once per compile, as without a session.
std::optional<CompilerSession> compiler_session_start(bool node_types);
// Starts the session without waiting for it: the script loads the compiler
// and parses the library files (and starts the sources' thread when it can)
// while kvx goes on. Nothing when the process cannot be started; whether the
// compiler can be had is known at compiler_session_connect.
std::optional<CompilerSession> compiler_session_launch(bool node_types);
// Reads the first answers of a launched session; false when it cannot be had.
bool compiler_session_connect(CompilerSession& session);

// Hands over the text of `file` (a path relative to the working folder).
bool compiler_session_set(CompilerSession& session, const std::string& file, const std::string& text);
// The diagnostics of `file` (the session checks it again only when it or a
// file it imports changed since); with `emit`, its JavaScript too.
std::optional<SessionCompile> compiler_session_check(CompilerSession& session, const std::string& file, bool emit);
// The sources' program, checked in a thread of the session's own while the
// main program goes on: hands over the text of `file` as the source is,
// then has every file handed over checked there, then collects one file's
// diagnostics (waiting for them). Each collected once; false or nothing
// when the session broke, or (the session going on) its thread failed.
bool compiler_session_source(CompilerSession& session, const std::string& file, const std::string& text);
bool compiler_session_check_sources(CompilerSession& session);
std::optional<SessionCompile> compiler_session_source_result(CompilerSession& session, const std::string& file);
// The place right after the name that the name at line:column of `file`
// refers to, when it is declared in `file`: {line, column}, 1-based.
std::optional<std::pair<int, int>> compiler_session_declaration(CompilerSession& session, const std::string& file,
                                                               int line, int column);
// The compiler process's resident memory in bytes.
std::optional<long long> compiler_session_memory(CompilerSession& session);

// A JSON string literal of `text`.
std::string json_quote(std::string_view text);
// The value of `key` in a flat JSON object line: a string unescaped, or the
// text of a number, true or false; nothing when absent.
std::optional<std::string> json_field(std::string_view object, std::string_view key);
