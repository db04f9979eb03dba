#include "cli/cli_storage.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "core/console.h"

namespace {

// Line buffer of the history and configuration displays; a longer line is
// read as several pieces.
constexpr int kLineBuffer = 512;

constexpr const char* kConfigDefaults = "output_dir=generated\nstrict_mode=true\nauto_compile_tsc=false\n";

// Prints every piece of an open file as "  %s"; false when there was none.
bool print_pieces(std::FILE* file, int size) {
  bool any = false;
  std::string piece;
  while (cli_read_piece(file, size, piece)) {
    std::printf("  %s", piece.c_str());
    any = true;
  }
  return any;
}

}  // namespace

// ---------------------------------------------------------------------------
// Helpers

FilePtr cli_open(const char* path, const char* mode) { return FilePtr(std::fopen(path, mode)); }

bool cli_read_piece(std::FILE* file, int size, std::string& piece) {
  piece.clear();
  int c = 0;
  while (piece.size() + 1 < static_cast<size_t>(size) && (c = std::getc(file)) != EOF) {
    piece.push_back(static_cast<char>(c));
    if (c == '\n') break;
  }
  return !piece.empty();
}

bool cli_read_piece(std::string_view text, size_t& pos, int size, std::string& piece) {
  piece.clear();
  while (piece.size() + 1 < static_cast<size_t>(size) && pos < text.size()) {
    const char c = text[pos++];
    piece.push_back(c);
    if (c == '\n') break;
  }
  return !piece.empty();
}

std::string cli_cut_line(std::string_view text) {
  return std::string(text.substr(0, text.find_first_of("\r\n")));
}

std::string cli_timestamp() {
  const std::time_t now = std::time(nullptr);
  const std::tm* local = std::localtime(&now);
  char buffer[64];
  if (local == nullptr || std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S", local) == 0) {
    return std::string();
  }
  return buffer;
}

bool cli_read_text_file(const std::string& path, std::string& text) {
  text.clear();
  FilePtr file = cli_open(path.c_str(), "r");
  if (!file) return false;
  char buffer[65536];
  size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) text.append(buffer, got);
  return std::ferror(file.get()) == 0;
}

bool cli_replace_text_file(const std::string& path, std::string_view text) {
  const std::string temporary = path + ".kvx-tmp";
  {
    FilePtr out = cli_open(temporary.c_str(), "w");
    if (!out) return false;
    const bool written = std::fwrite(text.data(), 1, text.size(), out.get()) == text.size();
    const bool closed = std::fclose(out.release()) == 0;
    if (!written || !closed) {
      std::remove(temporary.c_str());
      return false;
    }
  }
  std::error_code error;
  std::filesystem::rename(temporary, path, error);
  if (error) {
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Workspace folder, history and configuration

void ensure_kvx_dir() {
  std::error_code error;
  std::filesystem::create_directory(KVX_DIR, error);
}

void cli_history_log(const std::string& command, const std::string& argument) {
  FilePtr file = cli_open(KVX_HISTORY_PATH, "a");
  if (!file) return;
  std::fprintf(file.get(), "[%s] kvx %s %s\n", cli_timestamp().c_str(), command.c_str(), argument.c_str());
}

void cli_history_show() {
  FilePtr file = cli_open(KVX_HISTORY_PATH, "r");
  std::printf(CLR_CYAN "\n=== KVX Command History ===\n" CLR_RESET);
  if (!file) {
    std::printf("  (History is empty)\n\n");
    return;
  }
  if (!print_pieces(file.get(), kLineBuffer)) std::printf("  (History is empty)\n");
  std::printf("\n");
}

void cli_history_clear() {
  cli_open(KVX_HISTORY_PATH, "w");
  std::printf(CLR_GREEN "[OK] History cleared.\n" CLR_RESET);
}

void cli_config_reset() {
  if (FilePtr file = cli_open(KVX_CONFIG_PATH, "w")) std::fputs(kConfigDefaults, file.get());
  std::printf(CLR_GREEN "[OK] Configuration reset to defaults.\n" CLR_RESET);
}

void cli_config_show() {
  FilePtr file = cli_open(KVX_CONFIG_PATH, "r");
  if (!file) {
    cli_config_reset();
    file = cli_open(KVX_CONFIG_PATH, "r");
  }
  std::printf(CLR_CYAN "\n=== KORVEX Configuration ===\n" CLR_RESET);
  if (file) print_pieces(file.get(), kLineBuffer);
  std::printf("\n");
}

// ---------------------------------------------------------------------------
// Transpilation modes and the active mode

int cli_execute_with_mode(const std::string&, const std::string&) { return 1; }
int run_mode_append(const std::string&) { return 1; }
int run_mode_write_full(const std::string&) { return 1; }
std::string cli_mode_append_merge(std::string_view old_text, std::string_view, int& count) {
  count = 0;
  return std::string(old_text);
}
std::string get_generated_ts_path(const std::string&) { return {}; }
std::string cli_mode_get(int) { return "w"; }
void cli_mode_set(const std::string&) {}
void cli_mode_show() {}
void cli_sync_vscode_settings() {}

// ---------------------------------------------------------------------------
// Runner queue

int is_directory_path(const std::string&) { return 0; }
void cli_runner_add(const std::string&) {}
void cli_runner_rm(const std::string&) {}
void cli_runner_ls() {}
void cli_runner_clear() {}
int cli_runner_go() { return 1; }
int cli_runner_go_safe_js() { return 1; }
int cli_runner_run_directory(const std::string&, const std::string&, int*, int*) { return 1; }
