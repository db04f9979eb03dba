// The include graph of src/ points down: a file includes headers of its own
// folder or of folders below it, and no two modules (a header and its source
// file) depend on each other, directly or through others.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Each file's quoted includes, both as paths below src/.
using IncludeGraph = std::map<std::string, std::vector<std::string>>;
using Edge = std::pair<std::string, std::string>;  // including file, included header

// Bottom to top. A file of src/ itself (the process entry) is the top.
const std::vector<std::string> kLayers = {"core", "platform", "analysis", "generator", "pipeline", "tsx", "cli"};

// Includes that break the rules until the work that removes them is merged
// (an entry that no longer occurs fails the test).
const std::set<Edge> kKnownForNow = {};

// The rank of a file's folder; a file outside every layer folder ranks top.
size_t layer_of(const std::string& path) {
  const std::string folder = path.substr(0, path.find('/'));
  const auto found = std::find(kLayers.begin(), kLayers.end(), folder);
  return path.find('/') == std::string::npos ? kLayers.size() : static_cast<size_t>(found - kLayers.begin());
}

std::string module_of(const std::string& path) { return path.substr(0, path.rfind('.')); }

// Upward includes, and includes of a folder that is no layer.
std::vector<Edge> upward_includes(const IncludeGraph& graph) {
  std::vector<Edge> upward;
  for (const auto& [file, headers] : graph) {
    for (const std::string& header : headers) {
      const size_t to = layer_of(header);
      if (to > layer_of(file) || (to == kLayers.size() && header.find('/') != std::string::npos)) {
        upward.emplace_back(file, header);
      }
    }
  }
  return upward;
}

// Every cycle between modules, each as the modules along it; found by a
// depth-first walk that reports the path back to a module still on the walk.
std::vector<std::vector<std::string>> module_cycles(const IncludeGraph& graph) {
  std::map<std::string, std::set<std::string>> uses;
  for (const auto& [file, headers] : graph) {
    for (const std::string& header : headers) {
      if (module_of(header) != module_of(file)) uses[module_of(file)].insert(module_of(header));
    }
  }
  std::vector<std::vector<std::string>> cycles;
  std::map<std::string, int> state;  // 1 on the walk, 2 done
  std::vector<std::string> walk;
  std::function<void(const std::string&)> visit = [&](const std::string& module) {
    state[module] = 1;
    walk.push_back(module);
    for (const std::string& next : uses[module]) {
      if (state[next] == 1) {
        cycles.emplace_back(std::find(walk.begin(), walk.end(), next), walk.end());
      } else if (state[next] == 0) {
        visit(next);
      }
    }
    walk.pop_back();
    state[module] = 2;
  };
  for (const auto& [file, headers] : graph) {
    if (state[module_of(file)] == 0) visit(module_of(file));
  }
  return cycles;
}

// The quoted includes of every .h and .cpp file below `src`.
IncludeGraph read_include_graph(const fs::path& src) {
  static const std::regex kInclude(R"re(^\s*#\s*include\s*"([^"]+)")re");
  IncludeGraph graph;
  for (const auto& entry : fs::recursive_directory_iterator(src)) {
    const std::string extension = entry.path().extension().string();
    if (!entry.is_regular_file() || (extension != ".h" && extension != ".cpp")) continue;
    std::vector<std::string>& headers = graph[fs::relative(entry.path(), src).generic_string()];
    std::ifstream in(entry.path());
    std::string line;
    std::smatch match;
    while (std::getline(in, line)) {
      if (std::regex_search(line, match, kInclude)) headers.push_back(match[1]);
    }
  }
  return graph;
}

std::string show(const std::vector<std::string>& cycle) {
  std::string text;
  for (const std::string& module : cycle) text += module + " -> ";
  return text + cycle.front();
}

TEST(Layers, EveryIncludeOfSrcPointsDownAndNamesAFileOfSrc) {
  const fs::path src = fs::path(KVX_SOURCE_DIR) / "src";
  IncludeGraph graph = read_include_graph(src);
  ASSERT_TRUE(graph.contains("main.cpp"));
  ASSERT_TRUE(graph.contains("cli/cli.cpp"));

  std::set<Edge> seen_known;
  for (auto& [file, headers] : graph) {
    for (const std::string& header : headers) {
      EXPECT_TRUE(fs::is_regular_file(src / header)) << file << " includes \"" << header
                                                     << "\", which is no file of src/";
      if (kKnownForNow.contains({file, header})) seen_known.insert({file, header});
    }
    std::erase_if(headers, [&](const std::string& header) { return kKnownForNow.contains({file, header}); });
  }
  for (const Edge& edge : upward_includes(graph)) {
    ADD_FAILURE() << edge.first << " includes " << edge.second << " of a higher layer";
  }
  for (const Edge& edge : kKnownForNow) {
    EXPECT_TRUE(seen_known.contains(edge)) << edge.first << " no longer includes " << edge.second
                                           << ": take it off the list of known exceptions";
  }
}

TEST(Layers, NoTwoModulesOfSrcDependOnEachOther) {
  IncludeGraph graph = read_include_graph(fs::path(KVX_SOURCE_DIR) / "src");
  for (auto& [file, headers] : graph) {
    std::erase_if(headers, [&](const std::string& header) { return kKnownForNow.contains({file, header}); });
  }
  for (const auto& cycle : module_cycles(graph)) ADD_FAILURE() << "include cycle: " << show(cycle);
}

// The checks themselves, on small graphs with one planted fault each.
TEST(Layers, ChecksFindAPlantedUpwardIncludeAndCycle) {
  struct Case {
    const char* name;
    IncludeGraph graph;
    std::vector<Edge> upward;
    std::vector<std::vector<std::string>> cycles;
  } cases[] = {
      {"clean",
       {{"main.cpp", {"cli/cli.h"}},
        {"cli/cli.cpp", {"cli/cli.h", "tsx/tsx_engine.h", "core/console.h"}},
        {"tsx/tsx_engine.cpp", {"tsx/tsx_engine.h", "platform/platform.h"}},
        {"platform/posix/install.cpp", {"platform/install.h", "core/filesystem.h"}}},
       {},
       {}},
      {"tsx includes the front end",
       {{"tsx/tsc_compiler.cpp", {"tsx/tsc_compiler.h", "cli/cli_system.h"}}},
       {{"tsx/tsc_compiler.cpp", "cli/cli_system.h"}},
       {}},
      {"core includes the OS layer",
       {{"core/log.cpp", {"platform/platform.h"}}},
       {{"core/log.cpp", "platform/platform.h"}},
       {}},
      {"a library file includes the entry point's folder",
       {{"cli/cli.cpp", {"main.h"}}, {"cli/cli.h", {"other/x.h"}}},
       {{"cli/cli.cpp", "main.h"}, {"cli/cli.h", "other/x.h"}},
       {}},
      {"two modules of one folder include each other",
       {{"cli/a.cpp", {"cli/a.h", "cli/b.h"}}, {"cli/b.cpp", {"cli/b.h", "cli/a.h"}}},
       {},
       {{"cli/a", "cli/b"}}},
      {"a cycle through three modules",
       {{"cli/a.h", {"cli/b.h"}}, {"cli/b.cpp", {"cli/c.h"}}, {"cli/c.cpp", {"cli/a.h"}}},
       {},
       {{"cli/a", "cli/b", "cli/c"}}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(upward_includes(c.graph), c.upward) << c.name;
    EXPECT_EQ(module_cycles(c.graph), c.cycles) << c.name;
  }
}

}  // namespace
