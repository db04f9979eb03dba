// Colour sequences of the console messages. Each message is written as colour
// prefix, text, reset; they are string literals so they concatenate with the
// message formats.
#pragma once

#define CLR_GREEN "\x1b[0;32m"
#define CLR_RED "\x1b[0;31m"
#define CLR_YELLOW "\x1b[0;33m"
#define CLR_CYAN "\x1b[0;36m"
#define CLR_MAGENTA "\x1b[0;35m"
#define CLR_WHITE "\x1b[0;37m"
#define CLR_RESET "\x1b[0m"
