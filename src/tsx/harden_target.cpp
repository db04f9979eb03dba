#include "tsx/harden_target.h"

#include "tsx/tsx_engine.h"

int tsx_harden_output(const std::string& source_path, const OutputPath& output) {
  if (!output.mirrored) return tsx_enhance_and_secure_ts(source_path);
  return tsx_harden_file(output.ts());
}
