// The program's version, shown by help, version, info and the update commands.
#pragma once

inline constexpr const char* KVX_VERSION = "1.0.0";
