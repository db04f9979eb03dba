// File helpers shared by every layer: the output folder of the pipeline, the
// stem of a source file's name, the whole-file read, and the writers that
// never leave a file half-written.
#pragma once

#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Opens a file with a C mode ("r", "w", "a"); null when it cannot be opened.
FilePtr open_file(const std::string& path, const char* mode);

// The stem of a source path: the file name after the last / or \, cut to
// `name_limit` bytes first (callers pass the limit of the name they build),
// then without a final ".js" when what is left is longer than three bytes.
std::string file_stem(std::string_view path, size_t name_limit);

// The whole content of a file; nullopt when it is a folder or cannot be
// opened or read. Text mode unless `binary`, as the platform's text streams
// read.
std::optional<std::string> read_file_text(const std::string& path, bool binary = false);

// Creates ./generated when it is missing; always returns 0.
int ensure_generated_folder();

// The temporary a StagedFile of `target` writes, in the folder of the file
// the target stands for (a symbolic link is followed): a hidden name of fixed
// length, ".<16 hex digits>.kvx-tmp", whatever the target's own length, so a
// target of 255 bytes still has one. The digits mix the target's name with
// this process and thread, so that two writers of one file never share a
// temporary; the same call on the same thread gives the same name.
std::string staged_temporary_path(const std::string& target);

// A file written beside its target (staged_temporary_path) and renamed over
// the target by commit() only once every byte was written and the file
// closed without error. Until then, and after any failure, the target keeps
// its previous content; an uncommitted temporary is removed.
class StagedFile {
 public:
  // Text mode unless `binary`: text files are written the way the platform's
  // text streams write them.
  explicit StagedFile(std::string target, bool binary = false);
  ~StagedFile();
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;

  bool is_open() const { return out_.is_open(); }
  std::ostream& out() { return out_; }
  // Closes the temporary and renames it over the target. False, with the
  // reason in `reason`, when a write, the close or the rename failed.
  bool commit(std::string& reason);

 private:
  std::string target_;
  std::string temporary_;
  std::ofstream out_;
  bool committed_ = false;
};

// Replaces the file at `path` by `text` through a StagedFile. False, with the
// reason, when the previous content was kept.
bool replace_file_text(const std::string& path, std::string_view text, std::string& reason,
                       bool binary = false);

// Appends `text` to the file at `path`, creating it when missing. When any
// byte cannot be written the file is cut back to its previous length (or
// removed, when it did not exist), so a failed append leaves the old content
// as it was. False, with the reason, on failure; `opened` (when given) tells
// whether the file could be opened at all.
bool append_file_text(const std::string& path, std::string_view text, std::string& reason,
                      bool* opened = nullptr);

// Prints the red report of a failed write: "[ERROR] Unable to write <path> (<reason>)".
void print_write_failure(const std::string& path, const std::string& reason);
