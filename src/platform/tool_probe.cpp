#include "platform/tool_probe.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

#include "core/workspace_log.h"

namespace {

// The probe's command line buffer: the line and the " 2>nul" the Windows
// build appends fit in it.
constexpr size_t kProbeCommandBuffer = 256;

// The blank-separated words of a fixed command line.
std::vector<std::string> split_words(std::string_view line) {
  std::vector<std::string> words;
  size_t pos = 0;
  while ((pos = line.find_first_not_of(' ', pos)) != std::string_view::npos) {
    const size_t end = std::min(line.find(' ', pos), line.size());
    words.emplace_back(line.substr(pos, end - pos));
    pos = end;
  }
  return words;
}

}  // namespace

std::optional<std::string> tool_probe_command(const PlatformCommand& command) {
  // The answer is read into a 64-character buffer: a longer first line is
  // cut to 63 characters.
  constexpr int kAnswerBuffer = 64;
  PlatformCommand run = command;
  // Standard error is discarded by each platform in its own way (" 2>nul" on
  // Windows). The probe lines are fixed words ("npx tsc -v"), run as an
  // argument list.
  if (run.argv.empty()) run.argv = split_words(command.command_line);
  run.command_line = command.command_line.substr(0, kProbeCommandBuffer - 1 - std::strlen(" 2>nul"));
  run.discard_stderr = true;

  std::string output;
  const int status = platform_run_read(run, output);
  if (status == -1) return std::nullopt;
  size_t pos = 0;
  std::string first_line;
  if (!workspace_read_piece(output, pos, kAnswerBuffer, first_line)) return std::nullopt;
  std::string answer = workspace_cut_line(first_line);
  if (status != 0 || answer.empty()) return std::nullopt;
  return answer;
}

std::optional<std::string> cli_check_tool_version(const std::string& command) {
  PlatformCommand probe;
  probe.command_line = command;
  return tool_probe_command(probe);
}
