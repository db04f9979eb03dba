// The assignment detectors of pass 4 as data: `x = <words>` gives the first
// variable named x a type and reports it with one trace line. Adding such a
// detector is one row here; the pass runs every row with one matcher.
#pragma once

#include <array>
#include <string_view>

#include "analysis/analyzer.h"

enum class WordMatch {
  kIdentifier,  // an identifier token with that text
  kText,        // any token with that text
};

struct UsageRow {
  // The detect_* function that runs the row. Rows of one detector stand
  // together and are tried in order at each `x =`; the first that matches
  // counts.
  std::string_view detector;
  // The tokens that follow `x =`, one entry a token, the used entries first.
  // "." is always the `.` operator; other words are matched as `match` says.
  std::array<std::string_view, 4> words;
  WordMatch match;
  // Tried at `x =` (x at index i) only while i < count - reach. Most rows need
  // one token after their words; the bound is behaviour, not a safety margin.
  int reach;
  TypeKind type;                  // the kind the first variable named x gets
  std::string_view type_name;     // also written when not empty
  bool clears_element_kind;       // element_kind becomes TYPE_NONE too
  std::string_view trace;         // green trace line: this text, then x
};

inline constexpr UsageRow kUsageRows[] = {
    // x = createReadStream   x = fs . createReadStream
    {"detect_read_stream", {"createReadStream"}, WordMatch::kIdentifier, 3, TYPE_READSTREAM, "", false,
     "[ANALYZER4] READSTREAM DETECTE : "},
    {"detect_read_stream", {"fs", ".", "createReadStream"}, WordMatch::kIdentifier, 4, TYPE_READSTREAM, "",
     false, "[ANALYZER4] READSTREAM DETECTE : "},
    // x = readline . createInterface
    {"detect_readline_interface", {"readline", ".", "createInterface"}, WordMatch::kIdentifier, 5, TYPE_NAMED,
     "readline.Interface", false, "[ANALYZER4] READLINE DETECTE : "},
    // x = await fetch   x = fetch
    {"detect_fetch_calls", {"await", "fetch"}, WordMatch::kIdentifier, 4, TYPE_RESPONSE, "", false,
     "[ANALYZER4] FETCH DETECTE : "},
    {"detect_fetch_calls", {"fetch"}, WordMatch::kIdentifier, 3, TYPE_PROMISE, "", false,
     "[ANALYZER4] FETCH DETECTE : "},
    // x = new Set   (element_kind is left to pass 5)
    {"detect_set_usage", {"new", "Set"}, WordMatch::kIdentifier, 4, TYPE_SET, "", false,
     "[ANALYZER4] SET DETECTE : "},
    // x = new Map   (key and value kinds are left to pass 5)
    {"detect_map_usage", {"new", "Map"}, WordMatch::kIdentifier, 4, TYPE_MAP, "", false,
     "[ANALYZER4] MAP DETECTEE : "},
    // x = await Promise . all   (element type unknown)
    {"detect_promise_all", {"await", "Promise", ".", "all"}, WordMatch::kText, 6, TYPE_ARRAY, "", true,
     "[ANALYZER4] PROMISE.ALL DETECTE : "},
    // x = await Promise . race   (the winner's type is not known: x becomes untyped)
    {"detect_promise_race", {"await", "Promise", ".", "race"}, WordMatch::kText, 6, TYPE_NONE, "", false,
     "[ANALYZER4] PROMISE.RACE DETECTE : "},
};
