#include "core/filesystem.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <string_view>
#include <system_error>
#include <thread>

#include "core/console.h"

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kStagedSuffix = ".kvx-tmp";

// 64-bit FNV-1a, continued from `hash`.
std::uint64_t mix(std::uint64_t hash, std::string_view bytes) {
  for (const char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001b3ULL;
  }
  return hash;
}

std::uint64_t mix(std::uint64_t hash, std::uint64_t value) {
  char bytes[sizeof value];
  std::memcpy(bytes, &value, sizeof value);
  return mix(hash, std::string_view(bytes, sizeof bytes));
}

// A number drawn once per process: together with the thread it keeps the
// temporaries of two processes writing one target apart.
std::uint64_t process_tag() {
  static const std::uint64_t tag = [] {
    // The clock stands in when the system offers no random source.
    std::uint64_t drawn = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    try {
      std::random_device device;
      drawn ^= (static_cast<std::uint64_t>(device()) << 32) ^ device();
    } catch (const std::exception&) {
    }
    return drawn;
  }();
  return tag;
}

// The system's reason for the last failed call, or a plain one when it left
// none.
std::string last_error_reason() {
  return errno != 0 ? std::string(std::strerror(errno)) : std::string("write error");
}

// The file a write to `path` lands in: a symbolic link is followed, so that
// the rename replaces the file it points to and not the link.
std::string written_path(const std::string& path) {
  std::error_code error;
  if (!fs::is_symlink(path, error)) return path;
  const fs::path resolved = fs::canonical(path, error);
  return error ? path : resolved.string();
}

}  // namespace

std::string staged_temporary_path(const std::string& target) {
  const std::string written = written_path(target);
  const size_t separator = written.find_last_of("/\\");
  const size_t name_start = separator == std::string::npos ? 0 : separator + 1;
  std::uint64_t hash = mix(0xcbf29ce484222325ULL, std::string_view(written).substr(name_start));
  hash = mix(hash, process_tag());
  hash = mix(hash, static_cast<std::uint64_t>(std::hash<std::thread::id>{}(std::this_thread::get_id())));
  std::string digits(16, '0');
  for (size_t d = digits.size(); d-- > 0; hash >>= 4) digits[d] = "0123456789abcdef"[hash & 0xf];
  return written.substr(0, name_start) + "." + digits + std::string(kStagedSuffix);
}

FilePtr open_file(const std::string& path, const char* mode) { return FilePtr(std::fopen(path.c_str(), mode)); }

std::string file_stem(std::string_view path, size_t name_limit) {
  const size_t separator = path.find_last_of("/\\");
  const std::string_view name = separator == std::string_view::npos ? path : path.substr(separator + 1);
  std::string stem(name.substr(0, name_limit));
  if (stem.size() > 3 && stem.ends_with(".js")) stem.resize(stem.size() - 3);
  return stem;
}

std::optional<std::string> read_file_text(const std::string& path, bool binary) {
  std::error_code error;
  if (fs::is_directory(path, error)) return std::nullopt;
  FilePtr file = open_file(path, binary ? "rb" : "r");
  if (!file) return std::nullopt;
  std::string text;
  char buffer[65536];
  size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) text.append(buffer, got);
  if (std::ferror(file.get()) != 0) return std::nullopt;
  return text;
}

int ensure_generated_folder() {
  std::error_code error;
  // Only a real creation is announced; an existing folder is accepted quietly
  // and any other failure shows up when the emitter cannot create its file.
  if (std::filesystem::create_directory("./generated", error)) {
    std::printf(CLR_GREEN "Dossier 'generated' cree.\n" CLR_RESET);
  }
  return 0;
}

StagedFile::StagedFile(std::string target, bool binary)
    : target_(written_path(target)), temporary_(staged_temporary_path(target_)) {
  std::ios::openmode mode = std::ios::out | std::ios::trunc;
  if (binary) mode |= std::ios::binary;
  out_.open(temporary_, mode);
  // Only a later failure's reason is wanted; a failed open keeps its own.
  if (out_.is_open()) errno = 0;
}

StagedFile::~StagedFile() {
  if (committed_) return;
  if (out_.is_open()) out_.close();
  std::error_code ignored;
  fs::remove(temporary_, ignored);
}

bool StagedFile::commit(std::string& reason) {
  if (!out_.is_open()) {
    reason = "cannot create " + temporary_;
    return false;
  }
  out_.flush();
  const bool written = out_.good();
  const std::string write_reason = last_error_reason();
  out_.close();
  if (!written || !out_) {
    reason = written ? last_error_reason() : write_reason;
    return false;
  }
  std::error_code error;
  // The replacement keeps the permissions of the file it replaces.
  const fs::file_status previous = fs::status(target_, error);
  if (!error && fs::is_regular_file(previous)) fs::permissions(temporary_, previous.permissions(), error);
  error.clear();
  fs::rename(temporary_, target_, error);
  if (error) {
    reason = error.message();
    return false;
  }
  committed_ = true;
  return true;
}

bool replace_file_text(const std::string& path, std::string_view text, std::string& reason, bool binary) {
  StagedFile file(path, binary);
  if (!file.is_open()) {
    reason = last_error_reason();
    return false;
  }
  file.out().write(text.data(), static_cast<std::streamsize>(text.size()));
  return file.commit(reason);
}

bool append_file_text(const std::string& path, std::string_view text, std::string& reason, bool* opened) {
  if (opened != nullptr) *opened = false;
  std::error_code error;
  const bool existed = fs::exists(path, error);
  const std::uintmax_t old_size = existed ? fs::file_size(path, error) : 0;
  if (error) {
    reason = error.message();
    return false;
  }
  errno = 0;
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "a"));
  if (!file) {
    reason = last_error_reason();
    return false;
  }
  if (opened != nullptr) *opened = true;
  bool written = std::fwrite(text.data(), 1, text.size(), file.get()) == text.size();
  if (written) written = std::fflush(file.get()) == 0;
  if (!written) reason = last_error_reason();
  const bool closed = std::fclose(file.release()) == 0;
  if (written && !closed) reason = last_error_reason();
  if (written && closed) return true;
  // Whatever part of the text reached the file is cut off again.
  std::error_code ignored;
  if (existed) {
    fs::resize_file(path, old_size, ignored);
  } else {
    fs::remove(path, ignored);
  }
  return false;
}

void print_write_failure(const std::string& path, const std::string& reason) {
  std::printf(CLR_RED "[ERROR] Unable to write %s (%s)\n" CLR_RESET, path.c_str(), reason.c_str());
}
