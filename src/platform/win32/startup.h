// Windows start-up steps, apart so that the Windows tests reach them.
#pragma once

#include <windows.h>

#include <string>

// Lets a console handle read the colour sequences (virtual-terminal
// processing); false when the handle is no console or refuses.
bool win32_enable_escape_sequences(HANDLE handle);

// Removes "<program>.old", the file an install or update moved aside; it
// stays while it still runs, for a later start.
void win32_remove_moved_aside(const std::string& program);
