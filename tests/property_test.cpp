// Property of the whole pipeline on random valid JavaScript: the generated
// TypeScript parses (no TS1xxx error) and declares nothing twice, before and
// after hardening. Programs come from the grammar of random_program.h and are
// kept only when Node.js's parser accepts them; all the outputs are then
// checked in one Node.js process with the pinned TypeScript compiler.
//
// Strict unless KVX_PROPERTY_STRICT=0 (report only). KVX_PROPERTY_COUNT (default 300)
// and KVX_PROPERTY_SEED (first seed, default 1) choose the programs;
// KVX_PROPERTY_DUMP=<folder> keeps every program, its outputs and the list of
// faults (faults.tsv) there for a closer look; KVX_PROPERTY_SHRINK=1 shrinks
// each excerpt line by line (slower: one batch per round).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "random_program.h"
#include "test_support.h"
#include "tsx/tsx_engine.h"

namespace {

namespace fs = std::filesystem;
using kvx_test::read_file;
using kvx_test::run_shell;
using kvx_test::shell_quote;
using kvx_test::write_file;

const fs::path kSourceDir = KVX_SOURCE_DIR;
const fs::path kTypeScript = kSourceDir / ".ci/tools/node_modules/typescript/lib/typescript.js";
const fs::path kChecker = kSourceDir / "bench/corpus_check.js";

// Reads js-list.tsv (id, module flag, path) and prints "id<TAB>ok" or
// "id<TAB>message" for each program: the parse that `node --check` does, a
// CommonJS function body or an ES module.
constexpr const char* kJsCheckScript = R"(
const fs = require('fs');
const vm = require('vm');
const wrapper = ['exports', 'require', 'module', '__filename', '__dirname'];
for (const line of fs.readFileSync(process.argv[2], 'utf8').split('\n')) {
  if (!line) continue;
  const [id, isModule, file] = line.split('\t');
  const text = fs.readFileSync(file, 'utf8');
  try {
    if (isModule === '1') new vm.SourceTextModule(text);
    else vm.compileFunction(text, wrapper);
    console.log(`${id}\tok`);
  } catch (error) {
    console.log(`${id}\t${String(error.message).split('\n')[0]}`);
  }
}
)";

// Reads ts-list.tsv (id, generated file, hardened file) and prints one line per
// fault: "id<TAB>kind<TAB>code<TAB>line<TAB>message", kind being parse
// (generated file), hardened (after hardening) or duplicate.
constexpr const char* kTsCheckScript = R"(
const fs = require('fs');
const check = require(process.argv[2]);
const options = check.compilerOptions();
const host = check.makeHost(options);
const lineOf = (d) => d.file ? d.file.getLineAndCharacterOfPosition(d.start).line + 1 : 0;
const text = (d) => check.ts.flattenDiagnosticMessageText(d.messageText, ' ').slice(0, 160);
for (const line of fs.readFileSync(process.argv[3], 'utf8').split('\n')) {
  if (!line) continue;
  const [id, generatedFile, hardenedFile] = line.split('\t');
  const name = require('path').resolve(generatedFile);
  const generated = fs.readFileSync(generatedFile, 'utf8');
  for (const d of check.syntaxErrors(name, generated)) console.log([id, 'parse', d.code, lineOf(d), text(d)].join('\t'));
  for (const d of check.syntaxErrors(name, fs.readFileSync(hardenedFile, 'utf8'))) {
    console.log([id, 'hardened', d.code, lineOf(d), text(d)].join('\t'));
  }
  for (const d of check.compileErrors(host, options, name, generated)) {
    if (check.DUPLICATE_CODES.has(d.code) && d.file && d.file.fileName === name) {
      console.log([id, 'duplicate', d.code, lineOf(d), text(d)].join('\t'));
    }
  }
}
)";

struct Candidate {
  std::string id;
  bool module = false;
  std::string text;
};

struct Fault {
  std::string kind;  // parse, hardened or duplicate
  std::string code;
  int line = 0;
  std::string message;
};

struct Outcome {
  bool valid_js = false;
  std::string js_error;
  std::string generated;
  std::vector<Fault> faults;
};

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::stringstream stream(text);
  std::string part;
  while (std::getline(stream, part, separator)) parts.push_back(part);
  return parts;
}

std::string line_of(const std::string& text, int line) {
  const std::vector<std::string> lines = split(text, '\n');
  return line >= 1 && line <= static_cast<int>(lines.size()) ? lines[line - 1] : "";
}

// Runs one batch of programs through the JavaScript check, the pipeline, the
// hardening and the TypeScript check, with two Node.js processes in all.
// The current working directory is the scratch folder.
std::map<std::string, Outcome> run_batch(const std::vector<Candidate>& batch) {
  std::map<std::string, Outcome> outcomes;
  fs::create_directories("js");
  fs::create_directories("ts");
  write_file("js-check.js", kJsCheckScript);
  write_file("ts-check.js", kTsCheckScript);

  std::string list;
  for (const Candidate& candidate : batch) {
    write_file("js/" + candidate.id + ".js", candidate.text);
    list += candidate.id + "\t" + (candidate.module ? "1" : "0") + "\tjs/" + candidate.id + ".js\n";
  }
  write_file("js-list.tsv", list);
  std::string output;
  run_shell("node --experimental-vm-modules --no-warnings js-check.js js-list.tsv", &output);
  for (const std::string& line : split(output, '\n')) {
    const size_t tab = line.find('\t');
    if (tab == std::string::npos) continue;
    Outcome& outcome = outcomes[line.substr(0, tab)];
    outcome.valid_js = line.substr(tab + 1) == "ok";
    if (!outcome.valid_js) outcome.js_error = line.substr(tab + 1);
  }

  std::string ts_list;
  for (const Candidate& candidate : batch) {
    Outcome& outcome = outcomes[candidate.id];
    if (!outcome.valid_js) continue;
    const std::string source = candidate.id + ".js";
    std::string console;
    outcome.generated = kvx_test::transpile_js(candidate.text, &console, source);
    EXPECT_FALSE(outcome.generated.empty()) << candidate.id << " wrote no output:\n" << console;
    write_file("ts/" + candidate.id + ".ts", outcome.generated);
    testing::internal::CaptureStdout();
    tsx_enhance_and_secure_ts(source);
    testing::internal::GetCapturedStdout();
    write_file("ts/" + candidate.id + ".hard.ts", read_file("generated/" + candidate.id + ".ts"));
    ts_list += candidate.id + "\tts/" + candidate.id + ".ts\tts/" + candidate.id + ".hard.ts\n";
  }
  write_file("ts-list.tsv", ts_list);
  run_shell("node ts-check.js " + shell_quote(kChecker.string()) + " ts-list.tsv", &output);
  for (const std::string& line : split(output, '\n')) {
    const std::vector<std::string> fields = split(line, '\t');
    if (fields.size() < 5 || outcomes.count(fields[0]) == 0) {
      if (!line.empty()) ADD_FAILURE() << "TypeScript check: " << line;
      continue;
    }
    outcomes[fields[0]].faults.push_back({fields[1], fields[2], std::atoi(fields[3].c_str()), fields[4]});
  }
  return outcomes;
}

// How many failing programs the report shows, each with its smallest
// failing item.
constexpr size_t kShown = 20;

int env_number(const char* name, int fallback) {
  const char* text = std::getenv(name);
  return text != nullptr && *text != '\0' ? std::atoi(text) : fallback;
}

bool shares_a_code(const std::vector<Fault>& faults, const std::set<std::string>& codes) {
  return std::any_of(faults.begin(), faults.end(), [&](const Fault& f) { return codes.count(f.code) > 0; });
}

// The smallest top-level item that shows the program's first fault code on
// its own, found with one more batch for all the failing programs.
std::map<uint32_t, std::string> minimal_items(const std::vector<kvx_test::RandomProgram>& failing,
                                              const std::map<std::string, Outcome>& outcomes) {
  std::vector<Candidate> batch;
  for (const kvx_test::RandomProgram& program : failing) {
    for (size_t i = 0; i < program.items.size(); ++i) {
      batch.push_back({"p" + std::to_string(program.seed) + "_" + std::to_string(i), program.module, program.items[i]});
    }
  }
  const std::map<std::string, Outcome> alone = run_batch(batch);
  std::map<uint32_t, std::string> smallest;
  for (const kvx_test::RandomProgram& program : failing) {
    const std::set<std::string> first = {outcomes.at("p" + std::to_string(program.seed)).faults.front().code};
    for (size_t i = 0; i < program.items.size(); ++i) {
      const auto found = alone.find("p" + std::to_string(program.seed) + "_" + std::to_string(i));
      if (found == alone.end()) continue;
      std::string& best = smallest[program.seed];
      if (shares_a_code(found->second.faults, first) && (best.empty() || program.items[i].size() < best.size())) {
        best = program.items[i];
      }
    }
  }
  return smallest;
}

// The grammar reaches every construct it is meant to cover; otherwise the
// property says nothing about that construct.
TEST(OutputProperty, RandomProgramsAreReproducibleAndCoverTheGrammar) {
  EXPECT_EQ(kvx_test::program_text(kvx_test::random_program(7)), kvx_test::program_text(kvx_test::random_program(7)));
  EXPECT_NE(kvx_test::program_text(kvx_test::random_program(7)), kvx_test::program_text(kvx_test::random_program(8)));
  std::string all;
  for (uint32_t seed = 1; seed <= 300; ++seed) all += kvx_test::program_text(kvx_test::random_program(seed));
  for (const char* construct :
       {"import ", "export default ", "export const ", "export * from", "class ", " extends ", "static ", "#",
        "get ", "set ", "constructor(", "super()", "function*", "async ", "await ", "yield ", "=> ", "switch (",
        "case ", "import: ", "export: ", "?.", "??", "`", "${", "/[{}]/", "// ", "/* ", "= {}", "...", "[Symbol.iterator]",
        "static {", "import.meta", "import(", "require(", "module.exports", "try ", "catch ", "for (const "}) {
    EXPECT_NE(all.find(construct), std::string::npos) << construct;
  }
}

std::string join_lines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

// Drops runs of lines from each excerpt while it stays valid JavaScript and
// still shows one of its fault codes (delta debugging, one batch per round for
// all the excerpts together).
void shrink(std::map<uint32_t, std::string>& excerpts, const std::map<uint32_t, bool>& module,
            const std::map<uint32_t, std::set<std::string>>& codes) {
  std::map<uint32_t, std::vector<std::string>> lines;
  std::map<uint32_t, size_t> parts;
  for (const auto& [seed, text] : excerpts) {
    if (text.empty()) continue;
    lines[seed] = split(text, '\n');
    parts[seed] = 2;
  }
  for (int round = 0; round < 30 && !parts.empty(); ++round) {
    std::vector<Candidate> batch;
    for (const auto& [seed, n] : parts) {
      const std::vector<std::string>& current = lines[seed];
      const size_t size = (current.size() + n - 1) / n;
      for (size_t start = 0; start < current.size(); start += size) {
        std::vector<std::string> rest(current.begin(), current.begin() + static_cast<long>(start));
        rest.insert(rest.end(), current.begin() + static_cast<long>(std::min(current.size(), start + size)), current.end());
        batch.push_back({"r" + std::to_string(seed) + "_" + std::to_string(start), module.at(seed), join_lines(rest)});
      }
    }
    const std::map<std::string, Outcome> outcomes = run_batch(batch);
    std::map<uint32_t, std::string> best;
    for (const Candidate& candidate : batch) {
      const uint32_t seed = static_cast<uint32_t>(std::stoul(candidate.id.substr(1, candidate.id.find('_') - 1)));
      const Outcome& outcome = outcomes.at(candidate.id);
      if (!outcome.valid_js || !shares_a_code(outcome.faults, codes.at(seed))) continue;
      if (best.count(seed) == 0 || candidate.text.size() < best[seed].size()) best[seed] = candidate.text;
    }
    for (auto it = parts.begin(); it != parts.end();) {
      const uint32_t seed = it->first;
      if (best.count(seed) > 0) {
        lines[seed] = split(best[seed], '\n');
        excerpts[seed] = best[seed];
        it->second = std::max<size_t>(2, it->second - 1);
      } else if (it->second >= lines[seed].size()) {
        it = parts.erase(it);
        continue;
      } else {
        it->second = std::min(lines[seed].size(), it->second * 2);
      }
      ++it;
    }
  }
}

TEST(OutputProperty, RandomProgramsGiveTypeScriptThatParsesAndDeclaresNothingTwice) {
  std::string output;
  if (run_shell("node -v", &output) != 0) GTEST_SKIP() << "Node.js is not on PATH: the property test needs it";
  if (!fs::exists(kTypeScript)) {
    GTEST_SKIP() << "TypeScript is missing from " << kTypeScript.parent_path() << ": run .ci/install-node-tools.sh";
  }
  const int count = env_number("KVX_PROPERTY_COUNT", 300);
  const uint32_t first_seed = static_cast<uint32_t>(env_number("KVX_PROPERTY_SEED", 1));
  const bool strict = env_number("KVX_PROPERTY_STRICT", 1) != 0;

  kvx_test::ScopedWorkDir dir;
  std::vector<kvx_test::RandomProgram> programs;
  std::vector<Candidate> batch;
  for (int i = 0; i < count; ++i) {
    programs.push_back(kvx_test::random_program(first_seed + static_cast<uint32_t>(i)));
    batch.push_back({"p" + std::to_string(programs.back().seed), programs.back().module,
                     kvx_test::program_text(programs.back())});
  }
  const std::map<std::string, Outcome> outcomes = run_batch(batch);
  if (const char* dump = std::getenv("KVX_PROPERTY_DUMP"); dump != nullptr && *dump != '\0') {
    std::string faults;
    for (const auto& [id, outcome] : outcomes) {
      for (const Fault& f : outcome.faults) {
        faults += id + "\t" + f.kind + "\tTS" + f.code + "\t" + std::to_string(f.line) + "\t" + f.message + "\n";
      }
    }
    write_file("faults.tsv", faults);
    fs::create_directories(dump);
    for (const char* entry : {"js", "ts", "faults.tsv"}) {
      fs::copy(entry, fs::path(dump) / entry, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    }
  }

  int valid = 0;
  std::map<std::string, int> by_code;
  std::vector<kvx_test::RandomProgram> failing;
  std::string rejected;
  for (const kvx_test::RandomProgram& program : programs) {
    const auto found = outcomes.find("p" + std::to_string(program.seed));
    if (found == outcomes.end() || !found->second.valid_js) {
      if (found != outcomes.end() && rejected.size() < 2000) {
        rejected += "  seed " + std::to_string(program.seed) + ": " + found->second.js_error + "\n";
      }
      continue;
    }
    ++valid;
    if (found->second.faults.empty()) continue;
    failing.push_back(program);
    for (const Fault& fault : found->second.faults) ++by_code[fault.kind + " TS" + fault.code];
  }
  // The grammar is meant to give valid JavaScript: if Node.js rejects most
  // programs, the property holds of almost nothing.
  EXPECT_GE(valid * 10, count * 9) << "Node.js rejected too many random programs:\n" << rejected;

  std::ostringstream report;
  report << count << " random programs, " << valid << " valid JavaScript, " << failing.size()
         << " with faults in the generated TypeScript\n";
  for (const auto& [code, n] : by_code) report << "  " << code << ": " << n << "\n";
  std::map<uint32_t, std::string> minimal =
      failing.empty() ? std::map<uint32_t, std::string>{}
                      : minimal_items(std::vector<kvx_test::RandomProgram>(
                                          failing.begin(), failing.begin() + std::min(failing.size(), kShown)),
                                      outcomes);
  if (env_number("KVX_PROPERTY_SHRINK", 0) == 1 && !minimal.empty()) {
    std::map<uint32_t, bool> module;
    std::map<uint32_t, std::set<std::string>> codes;
    for (const kvx_test::RandomProgram& program : failing) {
      module[program.seed] = program.module;
      codes[program.seed].insert(outcomes.at("p" + std::to_string(program.seed)).faults.front().code);
    }
    shrink(minimal, module, codes);
  }
  for (size_t i = 0; i < failing.size() && i < kShown; ++i) {
    const Outcome& outcome = outcomes.at("p" + std::to_string(failing[i].seed));
    report << "seed " << failing[i].seed << (failing[i].module ? " (module)" : " (script)") << ":\n";
    for (size_t f = 0; f < outcome.faults.size() && f < 3; ++f) {
      const Fault& fault = outcome.faults[f];
      report << "  " << fault.kind << " TS" << fault.code << " line " << fault.line << ": " << fault.message
             << "\n    | " << line_of(outcome.generated, fault.line) << "\n";
    }
    const auto item = minimal.find(failing[i].seed);
    if (item != minimal.end() && !item->second.empty()) report << "  shown alone by:\n" << item->second;
  }
  std::cout << report.str();
  if (!failing.empty()) {
    std::cout << "Rerun one program with KVX_PROPERTY_SEED=<seed> KVX_PROPERTY_COUNT=1.\n";
    if (strict) {
      ADD_FAILURE() << failing.size() << " programs gave invalid TypeScript (see above)";
    } else {
      std::cout << "Report only: without KVX_PROPERTY_STRICT=0 these faults fail the test.\n";
    }
  }
}

}  // namespace
