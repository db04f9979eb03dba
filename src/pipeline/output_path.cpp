#include "pipeline/output_path.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "core/console.h"
#include "core/filesystem.h"

namespace {

namespace fs = std::filesystem;

constexpr size_t kMaxStem = 255;

// `source` below `root` without its final ".js", with '/' separators; empty
// when it does not lie below it. Both are taken absolute: the folder scan
// lists full paths while the folder is given as the user wrote it.
std::string path_below(const std::string& source, const std::string& root) {
  std::error_code error;
  const fs::path base = fs::absolute(fs::path(root), error).lexically_normal();
  if (error) return {};
  const fs::path file = fs::absolute(fs::path(source), error).lexically_normal();
  if (error) return {};
  const fs::path relative = file.lexically_relative(base);
  if (relative.empty()) return {};
  std::string text = relative.generic_string();
  if (text.starts_with("..") || text == ".") return {};
  if (text.size() > 3 && text.ends_with(".js")) text.resize(text.size() - 3);
  return text;
}

}  // namespace

OutputPath output_path_for(const std::string& source, const std::string& tree_root) {
  OutputPath output;
  if (!tree_root.empty()) {
    output.relative = path_below(source, tree_root);
    output.mirrored = !output.relative.empty();
  }
  if (!output.mirrored) output.relative = file_stem(source, kMaxStem);
  return output;
}

bool claim_output(OutputClaims& claims, const std::string& source, const OutputPath& output) {
  const auto [place, added] = claims.sources.emplace(output.ts(), source);
  if (added || place->second == source) return true;
  std::printf(CLR_RED "[ERROR] '%s' would overwrite %s, written from '%s' in this run: skipped.\n" CLR_RESET,
              source.c_str(), output.ts().c_str(), place->second.c_str());
  return false;
}
