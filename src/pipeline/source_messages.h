// The messages of the source reader's checks. The reader (core/reader.h)
// returns why a source is refused; these print it, in the checks' own words
// and colours, for the runs and the queue.
#pragma once

#include <string>

#include "core/reader.h"

// What the checks print for a source, in their order: a refused name gives
// its reason; a file that cannot be opened, the open message; any other
// source the two lines of a file that opened, then the read's failure if
// there is one.
void print_source_checks(const std::string& path, SourceFailure failure);

// The two lines printed for a file that opened.
void print_js_file_opened(const std::string& path);

// The name check that prints its reason: 1 when the name is accepted, 0 after
// printing why not. The queue and the folder scans check names with it.
int is_js_file(const std::string& path);
