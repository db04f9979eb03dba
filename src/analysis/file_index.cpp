// The index of one file's tokens, built once per file.
#include "analysis/file_index.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "analysis/token_helpers.h"

namespace {

// The brace pairing of a depth counter and what `return LITERAL` gives inside
// each group, in one walk so that nested bodies are not walked again for each
// enclosing one. A returned kind is noted on the innermost open group and
// handed to its parent when the group closes, so every group ends with the
// kinds returned anywhere inside it, in order of first appearance.
void index_braces(FileIndex& index, const TokenList& tokens) {
  std::vector<int> open;
  auto note = [&index](int group, int kind) {
    std::vector<int>& kinds = index.brace_returned_kinds[group];
    if (std::find(kinds.begin(), kinds.end(), kind) == kinds.end()) kinds.push_back(kind);
  };
  auto hand_up = [&](int group) {
    const auto found = index.brace_returned_kinds.find(group);
    if (found == index.brace_returned_kinds.end() || open.empty()) return;
    const std::vector<int> kinds = found->second;
    for (const int kind : kinds) note(open.back(), kind);
  };
  const int count = index.count;
  for (int k = 0; k < count; ++k) {
    const int kind = at(tokens, k).kind;
    if (kind == TK_LBRACE) {
      open.push_back(k);
    } else if (kind == TK_RBRACE && !open.empty()) {
      const int group = open.back();
      open.pop_back();
      if (index.match[static_cast<size_t>(group)] != k) index.brace_partner_differs[group] = k;
      hand_up(group);
    } else if (kind == TK_RETURN && k + 1 < count && !open.empty()) {
      const int returned = infer_literal_type(&at(tokens, k + 1));
      if (returned != TYPE_NONE) note(open.back(), returned);
    }
  }
  while (!open.empty()) {  // never closed: they run to the end of the list
    const int group = open.back();
    open.pop_back();
    if (index.match[static_cast<size_t>(group)] >= 0) index.brace_partner_differs[group] = -1;
    hand_up(group);
  }
}

// The positions lists, sized by a first count so that none is grown twice.
void index_positions(FileIndex& index, const TokenList& tokens) {
  const int count = index.count;
  struct Wanted {
    int kind;
    TokenPositions* positions;
  };
  const std::array<Wanted, 7> wanted = {{{TK_SEMICOLON, &index.semicolons},
                                         {TK_RETURN, &index.returns},
                                         {TK_COLON, &index.colons},
                                         {TK_QUESTION, &index.questions},
                                         {TK_ARROW, &index.arrows},
                                         {TK_LBRACE, &index.left_braces},
                                         {TK_RBRACKET, &index.right_brackets}}};
  std::array<size_t, 7> sizes{};
  size_t lines = 0;
  for (int i = 0; i < count; ++i) {
    const int kind = at(tokens, i).kind;
    for (size_t w = 0; w < wanted.size(); ++w) sizes[w] += kind == wanted[w].kind ? 1 : 0;
    if (i + 1 == count || at(tokens, i + 1).line != at(tokens, i).line) ++lines;
  }
  for (size_t w = 0; w < wanted.size(); ++w) {
    wanted[w].positions->count = count;
    wanted[w].positions->positions.reserve(sizes[w]);
  }
  index.line_last.count = count;
  index.line_last.positions.reserve(lines);
  for (int i = 0; i < count; ++i) {
    const int kind = at(tokens, i).kind;
    for (const Wanted& w : wanted) {
      if (kind == w.kind) w.positions->positions.push_back(i);
    }
    if (i + 1 == count || at(tokens, i + 1).line != at(tokens, i).line) index.line_last.positions.push_back(i);
  }
}

// The body starts and the in-function mask (as function_body_tokens makes
// it, from the starts found once).
void index_bodies(FileIndex& index, const TokenList& tokens) {
  const int count = index.count;
  std::vector<std::pair<int, int>> change;  // position, change
  for (int k = 0; k < count; ++k) {
    const int body = nested_body_open(tokens, index.match, k, true);
    if (body < 0) continue;
    index.body_starts.emplace_back(k, body);
    const int close = index.match[static_cast<size_t>(body)];
    if (close < 0) continue;
    change.emplace_back(body + 1, 1);
    change.emplace_back(close, -1);
  }
  std::sort(change.begin(), change.end());
  index.in_function.assign(static_cast<size_t>(count), false);
  int depth = 0;
  size_t next = 0;
  for (int k = 0; k < count; ++k) {
    for (; next < change.size() && change[next].first == k; ++next) depth += change[next].second;
    index.in_function[static_cast<size_t>(k)] = depth > 0;
  }
}

// A hash of a name eight bytes at a time, mixed so that the low bits the
// table uses depend on every byte.
size_t name_hash(std::string_view name) {
  constexpr uint64_t kMultiplier = 0x9E3779B97F4A7C15u;
  uint64_t hash = name.size() * kMultiplier;
  size_t at = 0;
  for (; at + 8 <= name.size(); at += 8) {
    uint64_t word = 0;
    std::memcpy(&word, name.data() + at, 8);
    hash = (hash ^ word) * kMultiplier;
    hash ^= hash >> 32;
  }
  if (at < name.size()) {
    uint64_t word = 0;
    std::memcpy(&word, name.data() + at, name.size() - at);
    hash = (hash ^ word) * kMultiplier;
  }
  hash ^= hash >> 29;
  hash *= kMultiplier;
  return static_cast<size_t>(hash ^ (hash >> 32));
}

// The slot of `name` (whose name_hash is `hash`) in the table: the one
// holding its id, or the free one where it goes. Slots of other names are
// passed on their hash alone, without reading a spelling.
size_t name_slot(const FileIndex& index, std::string_view name, uint32_t hash) {
  const size_t mask = index.name_slots.size() - 1;
  size_t slot = hash & mask;
  for (;; slot = (slot + 1) & mask) {
    const NameSlot& entry = index.name_slots[slot];
    if (entry.id < 0) return slot;
    if (entry.hash == hash && index.names[static_cast<size_t>(entry.id)] == name) return slot;
  }
}

void index_names(FileIndex& index, const TokenList& tokens) {
  index.name_id.assign(tokens.items.size());
  index.name_slots.assign(16, NameSlot{});
  for (size_t k = 0; k < tokens.items.size(); ++k) {
    const Token& token = tokens.items[k];
    if (token.kind != TK_IDENTIFIER) continue;
    const auto hash = static_cast<uint32_t>(name_hash(token.text.view()));
    const size_t slot = name_slot(index, token.text.view(), hash);
    if (index.name_slots[slot].id >= 0) {
      index.name_id.set(k, index.name_slots[slot].id);
      continue;
    }
    const int id = static_cast<int>(index.names.size());
    index.name_id.set(k, id);
    index.name_slots[slot] = NameSlot{hash, id};
    index.names.push_back(token.text.view());
    if (2 * index.names.size() > index.name_slots.size()) {
      // Grow to keep probes short: every id again, by its kept hash, in a
      // table twice as big.
      std::vector<NameSlot> old(2 * index.name_slots.size());
      old.swap(index.name_slots);
      const size_t mask = index.name_slots.size() - 1;
      for (const NameSlot& entry : old) {
        if (entry.id < 0) continue;
        size_t free = entry.hash & mask;
        while (index.name_slots[free].id >= 0) free = (free + 1) & mask;
        index.name_slots[free] = entry;
      }
    }
  }
}

}  // namespace

FileIndex index_file(const TokenList& tokens) {
  FileIndex index;
  index.count = tokens.count();
  index.match = match_brackets(tokens);
  index_bodies(index, tokens);
  index_positions(index, tokens);
  index_braces(index, tokens);
  index_names(index, tokens);
  return index;
}

int FileIndex::id_of(std::string_view name) const {
  if (name_slots.empty()) return -1;
  return name_slots[name_slot(*this, name, static_cast<uint32_t>(name_hash(name)))].id;
}

int FileIndex::brace_close(int open) const {
  int partner = match[static_cast<size_t>(open)];
  if (!brace_partner_differs.empty()) {
    const auto found = brace_partner_differs.find(open);
    if (found != brace_partner_differs.end()) partner = found->second;
  }
  return partner < 0 ? count : partner;
}

int FileIndex::brace_after(int open) const {
  const int close = brace_close(open);
  return close < count ? close + 1 : count;
}

std::vector<int> FileIndex::own_returns(int first, int end) const {
  // The walk of own_returns, from event to event: between a body start and
  // a `return` the tokens are neither.
  std::vector<int> found;
  end = std::min(end, count);
  int k = std::max(first, 0);
  const auto by_token = [](const std::pair<int, int>& start, int token) { return start.first < token; };
  auto body = std::lower_bound(body_starts.begin(), body_starts.end(), k, by_token);
  auto r = std::lower_bound(returns.positions.begin(), returns.positions.end(), k);
  while (k < end) {
    const int next_body = body == body_starts.end() ? end : body->first;
    const int next_return = r == returns.positions.end() ? end : *r;
    if (std::min(next_body, next_return) >= end) break;
    if (next_body < next_return) {
      k = after_group(match, body->second, end);
      body = std::lower_bound(body, body_starts.end(), k, by_token);
      r = std::lower_bound(r, returns.positions.end(), k);
    } else {
      found.push_back(next_return);
      k = next_return + 1;
      ++r;
    }
  }
  return found;
}

int FileIndex::nested_body_open(const TokenList& tokens, int index, bool arrows, size_t& cursor) const {
  while (cursor < body_starts.size() && body_starts[cursor].first < index) ++cursor;
  if (cursor == body_starts.size() || body_starts[cursor].first != index) return -1;
  // Without arrows, an `=>` opens no body; every other start is the same.
  if (!arrows && at(tokens, index).kind == TK_ARROW) return -1;
  return body_starts[cursor].second;
}

const std::vector<int>& FileIndex::returned_kinds(int open) const {
  static const std::vector<int> kNone;
  const auto found = brace_returned_kinds.find(open);
  return found == brace_returned_kinds.end() ? kNone : found->second;
}
