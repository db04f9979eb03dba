// Where the outputs of one source go: generated/<rel>.ts and dist/<rel>.js.
// A file named on its own gives <rel> = its stem; a file found below a folder
// of a folder run gives its path below that folder, so that the generated
// tree mirrors the source tree and relative imports between generated files
// resolve as between the sources. Every place that names a source's output
// asks this one function.
#pragma once

#include <map>
#include <string>

// The output paths of one source.
struct OutputPath {
  std::string relative;  // "app", or "src/a/index" in a folder run (always '/')
  bool mirrored = false;  // found below the folder of a folder run

  std::string ts() const { return "generated/" + relative + ".ts"; }
  std::string js() const { return "dist/" + relative + ".js"; }
  // "./generated/<rel>": the base the pipeline prints and writes.
  std::string pipeline_base() const { return "./generated/" + relative; }
};

// The output of `source`. `tree_root` is the folder a folder run was given
// ("" for a file named on its own); a source that does not lie below it
// falls back to its stem. The stem is the file name after the last / or \,
// cut to 255 bytes, without a final ".js" when longer than three bytes.
OutputPath output_path_for(const std::string& source, const std::string& tree_root = {});

// The outputs claimed so far in one run, each with the source that claimed
// it, so that no two inputs of a run write the same file.
struct OutputClaims {
  std::map<std::string, std::string> sources;  // ts path -> source path
};

// Claims the output of `source` for it; false, with the red error naming
// both sources printed, when another source of the run already holds it.
// The same source claiming again is allowed (it rewrites its own file).
bool claim_output(OutputClaims& claims, const std::string& source, const OutputPath& output);
