#include "core/filesystem.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "core/console.h"

int ensure_generated_folder() {
  std::error_code error;
  // Only a real creation is announced; an existing folder is accepted quietly
  // and any other failure shows up when the emitter cannot create its file.
  if (std::filesystem::create_directory("./generated", error)) {
    std::printf(CLR_GREEN "Dossier 'generated' cree.\n" CLR_RESET);
  }
  return 0;
}
