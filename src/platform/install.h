// The per-user installation footprint and the replacement of the program by
// an update. Windows: %USERPROFILE%\KORVEX\kvx.exe, an entry in the user PATH
// and the desktop shortcut %USERPROFILE%\Desktop\KORVEX.lnk. POSIX:
// $HOME/KORVEX/kvx, one marked line in the user's shell profile and the
// desktop entry $HOME/Desktop/KORVEX.desktop.
#pragma once

#include <string>

struct InstallPaths {
  std::string home;      // the user's folder, from platform_home_variable()
  std::string folder;    // the install folder, <home>/KORVEX
  std::string program;   // the installed program inside it
  std::string desktop;   // the user's desktop folder
  std::string shortcut;  // the desktop shortcut inside it
};

// "USERPROFILE" on Windows, "HOME" elsewhere.
const char* platform_home_variable();

// Fills the paths from the environment; false when the home variable is not
// set or empty.
bool platform_install_paths(InstallPaths& paths);

// Where the user PATH entry lives, for messages: "Windows user PATH" or
// "shell profile PATH".
const char* platform_user_path_label();

// The running executable as a full path, or "" when the system cannot tell.
std::string platform_executable_path();

// Puts the install folder on the user PATH, once. Returns 0 when it is there
// afterwards; `detail` says where (or why not).
int platform_user_path_add(const InstallPaths& paths, std::string& detail);

// Takes the install folder off the user PATH; nothing else is touched. The
// outcome is not examined: platform_user_path_holds tells it.
void platform_user_path_remove(const InstallPaths& paths);

// 1 when the user PATH holds the install folder (Windows: an entry of the
// user-scope Path equal to it in any letter case; POSIX: the line install
// writes, in any profile), 0 when it does not, -1 when it cannot be read.
int platform_user_path_holds(const InstallPaths& paths);

// Writes the desktop shortcut to the installed program. Returns 0 when the
// file exists afterwards, 1 when there is no desktop folder (nothing is created), -1 on a
// failure; `detail` says why.
int platform_create_shortcut(const InstallPaths& paths, std::string& detail);

// Removes the install folder with everything in it. On Windows the running
// program may live there, so a background command interpreter does it about a
// second after the program has exited; elsewhere it is removed at once.
void platform_remove_install_folder(const InstallPaths& paths);

// Marks a freshly written program file as executable; 0 on success.
int platform_make_executable(const std::string& path);

// Puts `replacement` (a file in the same folder) in the place of `target`,
// which may be the running program, by renaming, never by copying over it:
// `target` is the old or the new program, never half of one. Returns 0 on
// success; on a failure `target` is unchanged and `error` says why.
int platform_replace_executable(const std::string& replacement, const std::string& target,
                                std::string& error);

// The file name of this platform's build on the update server, below
// /downloads/ (its checksum is the same name with ".sha256").
const char* platform_update_asset_name();

// The Windows command lines, for the command interpreter: the user PATH entry
// added once and removed (every entry equal to the folder, in any letter
// case), the desktop shortcut, and the removal of the install folder about a
// second later by a background command interpreter.
std::string install_command_path_add(const std::string& folder);
std::string install_command_path_remove(const std::string& folder);
std::string install_command_shortcut(const std::string& shortcut, const std::string& program,
                                     const std::string& folder);
std::string install_command_deferred_remove(const std::string& folder);
