// The hardening of a source's generated file wherever it stands: a folder
// run's mirrors the source tree rather than being generated/<stem>.ts, which
// tsx_enhance_and_secure_ts derives from the source path.
#pragma once

#include <string>

#include "pipeline/output_path.h"

// Hardens output.ts() in place with the engine's rules and messages; 0 when
// it is ready for compilation. A file named on its own goes to the engine
// itself.
int tsx_harden_output(const std::string& source_path, const OutputPath& output);
