// The Windows command lines of the installation footprint. Kept apart from the
// Windows code so that every build can check their text.
#include "platform/install.h"

namespace {

// A text inside a PowerShell single-quoted string: a quote is written twice,
// so a profile such as C:\Users\O'Brien still forms one valid command.
std::string ps_quoted(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\'') out += '\'';
    out += c;
  }
  return out;
}

}  // namespace

std::string install_command_path_add(const std::string& folder) {
  // The user-scope Path only; an entry already there (in any letter case) is
  // not added twice, and the rest is kept as it is.
  return "powershell -NoProfile -Command \"$d = '" + ps_quoted(folder) +
         "'; $p = [Environment]::GetEnvironmentVariable('Path', 'User'); "
         "if (-not $p) { $n = $d } elseif (($p -split ';') -contains $d) { exit 0 } "
         "else { $n = $p.TrimEnd(';') + ';' + $d }; "
         "[Environment]::SetEnvironmentVariable('Path', $n, 'User')\"";
}

std::string install_command_path_remove(const std::string& folder) {
  return "powershell -NoProfile -Command \"$p = [Environment]::GetEnvironmentVariable('Path', "
         "'User'); if ($p) { $newP = ($p -split ';' | Where-Object { $_ -and $_ -ne '" +
         ps_quoted(folder) +
         "' }) -join ';'; [Environment]::SetEnvironmentVariable('Path', $newP, 'User'); }\"";
}

std::string install_command_shortcut(const std::string& shortcut, const std::string& program,
                                     const std::string& folder) {
  return "powershell -NoProfile -Command \"$s = (New-Object -ComObject "
         "WScript.Shell).CreateShortcut('" +
         ps_quoted(shortcut) + "'); $s.TargetPath = '" + ps_quoted(program) +
         "'; $s.WorkingDirectory = '" + ps_quoted(folder) + "'; $s.Save()\"";
}

std::string install_command_deferred_remove(const std::string& folder) {
  return "start /B cmd /c \"ping 127.0.0.1 -n 2 > nul && rmdir /S /Q \"" + folder + "\"\"";
}
