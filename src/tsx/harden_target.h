// The hardening of a generated file named by its own path, for the files of
// a folder run, whose generated path mirrors the source tree rather than
// being generated/<stem>.ts (which tsx_enhance_and_secure_ts derives from the
// source path).
#pragma once

#include <string>

#include "pipeline/output_path.h"

// Hardens output.ts() in place with the engine's rules and messages; 0 when
// it is ready for compilation. A file named on its own goes to the engine
// itself.
int tsx_harden_output(const std::string& source_path, const OutputPath& output);
