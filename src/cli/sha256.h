// SHA-256 (FIPS 180-4), for checking downloaded updates.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct Sha256State {
  std::array<std::uint32_t, 8> hash;
  std::array<unsigned char, 64> block{};
  size_t block_used = 0;
  std::uint64_t total_bytes = 0;
};

Sha256State sha256_begin();
void sha256_update(Sha256State& state, std::string_view data);
// The digest as 64 lower-case hexadecimal digits.
std::string sha256_finish_hex(Sha256State& state);

std::string sha256_hex(std::string_view data);
// The digest of a file's bytes; nothing when it cannot be read.
std::optional<std::string> sha256_file_hex(const std::string& path);
