#include "cli/sha256.h"

#include <fstream>
#include <vector>

namespace {

constexpr std::array<std::uint32_t, 64> kRound = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr std::uint32_t rotr(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

void compress(std::array<std::uint32_t, 8>& hash, const unsigned char* block) {
  std::array<std::uint32_t, 64> w{};
  for (int i = 0; i < 16; ++i) {
    w[i] = (std::uint32_t{block[4 * i]} << 24) | (std::uint32_t{block[4 * i + 1]} << 16) |
           (std::uint32_t{block[4 * i + 2]} << 8) | std::uint32_t{block[4 * i + 3]};
  }
  for (int i = 16; i < 64; ++i) {
    const std::uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
    const std::uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
    w[i] = w[i - 16] + s0 + w[i - 7] + s1;
  }
  std::uint32_t a = hash[0], b = hash[1], c = hash[2], d = hash[3];
  std::uint32_t e = hash[4], f = hash[5], g = hash[6], h = hash[7];
  for (int i = 0; i < 64; ++i) {
    const std::uint32_t t1 =
        h + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + kRound[i] + w[i];
    const std::uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
    h = g;
    g = f;
    f = e;
    e = d + t1;
    d = c;
    c = b;
    b = a;
    a = t1 + t2;
  }
  hash[0] += a;
  hash[1] += b;
  hash[2] += c;
  hash[3] += d;
  hash[4] += e;
  hash[5] += f;
  hash[6] += g;
  hash[7] += h;
}

}  // namespace

Sha256State sha256_begin() {
  Sha256State state;
  state.hash = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  return state;
}

void sha256_update(Sha256State& state, std::string_view data) {
  state.total_bytes += data.size();
  for (char c : data) {
    state.block[state.block_used++] = static_cast<unsigned char>(c);
    if (state.block_used == state.block.size()) {
      compress(state.hash, state.block.data());
      state.block_used = 0;
    }
  }
}

std::string sha256_finish_hex(Sha256State& state) {
  const std::uint64_t bits = state.total_bytes * 8;
  // Padding: one 1 bit, zeros up to 56 bytes of the last block, the length.
  std::string padding(1, static_cast<char>(0x80));
  const size_t used = (state.block_used + 1) % 64;
  padding.append(used <= 56 ? 56 - used : 120 - used, '\0');
  for (int i = 7; i >= 0; --i) padding += static_cast<char>((bits >> (8 * i)) & 0xff);
  const std::uint64_t total = state.total_bytes;
  sha256_update(state, padding);
  state.total_bytes = total;

  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  for (std::uint32_t word : state.hash) {
    for (int shift = 28; shift >= 0; shift -= 4) hex += kHex[(word >> shift) & 0xf];
  }
  return hex;
}

std::string sha256_hex(std::string_view data) {
  Sha256State state = sha256_begin();
  sha256_update(state, data);
  return sha256_finish_hex(state);
}

std::optional<std::string> sha256_file_hex(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in.is_open()) return std::nullopt;
  Sha256State state = sha256_begin();
  std::vector<char> buffer(1 << 16);
  while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0) {
    sha256_update(state, std::string_view(buffer.data(), static_cast<size_t>(in.gcount())));
  }
  if (in.bad()) return std::nullopt;
  return sha256_finish_hex(state);
}
