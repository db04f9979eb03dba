// libFuzzer target: the tokenizer on arbitrary bytes. Beyond crashes and
// sanitizer reports, it checks the contract the passes rely on: tokens in
// source order, positions inside the text, a text for every token.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/tokenizer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view source(reinterpret_cast<const char*>(data), size);
  TokenList tokens = tokenize(source);
  int previous_start = -1;
  int previous_line = 1;
  for (int i = 0; i < tokens.count(); ++i) {
    const Token& token = tokens.items[static_cast<std::size_t>(i)];
    const int start = tokens.start(i);
    const int end = tokens.end(i);
    // The text lies between the token's ends, delimiters excluded.
    const int text_start = static_cast<int>(token.text.data() - source.data());
    const bool inside = start >= 0 && start <= text_start &&
                        text_start + static_cast<int>(token.text.size()) <= end &&
                        static_cast<std::size_t>(end) <= size;
    const bool ordered = start > previous_start && token.line >= previous_line;
    if (!inside || !ordered) std::abort();
    previous_start = start;
    previous_line = token.line;
  }
  free_token_list(tokens);
  return 0;
}
