#include "core/workspace_log.h"

#include <ctime>
#include <filesystem>
#include <system_error>

#include "core/console.h"
#include "core/filesystem.h"

namespace {

// Public download page of the Node.js project.
constexpr const char* kNodeDownloadUrl = "https://nodejs.org/en/download";

}  // namespace

// ---------------------------------------------------------------------------
// Workspace folder

void ensure_kvx_dir() {
  std::error_code error;
  std::filesystem::create_directory(KVX_DIR, error);
}

bool kvx_workspace_exists() {
  std::error_code error;
  return std::filesystem::is_directory(KVX_DIR, error);
}

// ---------------------------------------------------------------------------
// Reading in pieces

bool workspace_read_piece(std::FILE* file, int size, std::string& piece) {
  piece.clear();
  int c = 0;
  while (piece.size() + 1 < static_cast<size_t>(size) && (c = std::getc(file)) != EOF) {
    piece.push_back(static_cast<char>(c));
    if (c == '\n') break;
  }
  return !piece.empty();
}

bool workspace_read_piece(std::string_view text, size_t& pos, int size, std::string& piece) {
  piece.clear();
  while (piece.size() + 1 < static_cast<size_t>(size) && pos < text.size()) {
    const char c = text[pos++];
    piece.push_back(c);
    if (c == '\n') break;
  }
  return !piece.empty();
}

std::string workspace_cut_line(std::string_view text) {
  return std::string(text.substr(0, text.find_first_of("\r\n")));
}

bool workspace_print_pieces(std::FILE* file, int size) {
  bool any = false;
  std::string piece;
  while (workspace_read_piece(file, size, piece)) {
    std::printf("  %s", piece.c_str());
    any = true;
  }
  return any;
}

// ---------------------------------------------------------------------------
// Logs

std::string workspace_timestamp() {
  const std::time_t now = std::time(nullptr);
  const std::tm* local = std::localtime(&now);
  char buffer[64];
  if (local == nullptr || std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S", local) == 0) {
    return std::string();
  }
  return buffer;
}

std::string workspace_one_line(std::string_view text) {
  std::string line;
  line.reserve(text.size());
  for (char c : text) {
    if (c == '\n') {
      line += "\\n";
    } else if (c == '\r') {
      line += "\\r";
    } else {
      line += c;
    }
  }
  return line;
}

void workspace_append_log(const char* path, const std::string& text) {
  // The logs are written only where the workspace already exists.
  if (!kvx_workspace_exists()) return;
  std::string reason;
  if (!append_file_text(path, text, reason)) print_write_failure(path, reason);
}

void cli_error_log(const std::string& message) {
  workspace_append_log(KVX_ERRORS_PATH, "[" + workspace_timestamp() + "] " + workspace_one_line(message) + "\n");
}

void workspace_show_log(const char* path, const char* heading, const char* empty, int piece_size) {
  FilePtr file = open_file(path, "r");
  std::fputs(heading, stdout);
  if (!file) {
    std::printf("%s\n\n", empty);
    return;
  }
  if (!workspace_print_pieces(file.get(), piece_size)) std::printf("%s\n", empty);
  std::printf("\n");
}

bool workspace_replace_text_file(const std::string& path, std::string_view text, bool report) {
  std::string reason;
  if (replace_file_text(path, text, reason)) return true;
  if (report) print_write_failure(path, reason);
  return false;
}

// ---------------------------------------------------------------------------
// Missing outside tools

void cli_print_missing_node_error() {
  std::printf(CLR_RED "\n[ERROR]\nNode.js was not found.\n\nKORVEX requires Node.js.\n\nDownload:\n%s\n\n" CLR_RESET,
              kNodeDownloadUrl);
  cli_error_log("Node.js was not found in system PATH");
}

void cli_print_missing_tsc_error() {
  std::printf(CLR_RED
              "\n[ERROR]\nTypeScript compiler (tsc) was not found.\n\nInstall TypeScript:\n\nnpm install -g "
              "typescript\n\n" CLR_RESET);
  cli_error_log("TypeScript compiler (tsc) missing");
}

const char* workspace_node_download_url() { return kNodeDownloadUrl; }
