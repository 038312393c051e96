#include "table/check_value.h"

#include <array>
#include <cstring>

#if defined(__x86_64__)
#include <nmmintrin.h>
#endif

namespace quire::table {

namespace {

constexpr uint32_t kPolynomial = 0x82F63B78;  // reflected

// Eight tables of 256 entries: eight bytes per step.
struct Tables {
  std::array<std::array<uint32_t, 256>, 8> t{};
  constexpr Tables() {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c >> 1) ^ ((c & 1) ? kPolynomial : 0);
      t[0][i] = c;
    }
    for (uint32_t i = 0; i < 256; ++i)
      for (size_t k = 1; k < 8; ++k) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
  }
};

constexpr Tables kTables;

uint32_t extend_by_table(uint32_t crc, const unsigned char* p, size_t n) {
  const auto& t = kTables.t;
  while (n >= 8) {
    // Little-endian bytes, one at a time: the same on any byte order.
    uint32_t low = crc ^ (uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24);
    crc = t[7][low & 0xFF] ^ t[6][(low >> 8) & 0xFF] ^ t[5][(low >> 16) & 0xFF] ^ t[4][low >> 24] ^
          t[3][p[4]] ^ t[2][p[5]] ^ t[1][p[6]] ^ t[0][p[7]];
    p += 8;
    n -= 8;
  }
  while (n-- > 0) crc = (crc >> 8) ^ t[0][(crc ^ *p++) & 0xFF];
  return crc;
}

#if defined(__x86_64__)
// The instruction takes three cycles to give its result but can start one
// each cycle: three runs of kStride bytes are taken side by side, each from
// its own state, and joined. A state s followed by kStride bytes B is
// crc(0, B) ^ shift(s), shift a linear map fixed by the length: tables of
// it (and of it twice) turn the three states into one.
constexpr size_t kStride = 256;

struct ShiftTables {
  uint32_t once[4][256];
  uint32_t twice[4][256];
};

// The state s after kStride zero bytes.
uint32_t shift_by_table(uint32_t s) {
  unsigned char zeros[kStride] = {};
  return extend_by_table(s, zeros, kStride);
}

ShiftTables make_shift_tables() {
  ShiftTables t{};
  uint32_t once_bits[32];
  uint32_t twice_bits[32];
  for (int i = 0; i < 32; ++i) {
    once_bits[i] = shift_by_table(uint32_t{1} << i);
    twice_bits[i] = shift_by_table(once_bits[i]);
  }
  for (int byte = 0; byte < 4; ++byte) {
    for (uint32_t v = 0; v < 256; ++v) {
      uint32_t once = 0, twice = 0;
      for (int bit = 0; bit < 8; ++bit) {
        if ((v >> bit) & 1) {
          once ^= once_bits[byte * 8 + bit];
          twice ^= twice_bits[byte * 8 + bit];
        }
      }
      t.once[byte][v] = once;
      t.twice[byte][v] = twice;
    }
  }
  return t;
}

inline uint32_t apply(const uint32_t (&table)[4][256], uint32_t s) {
  return table[0][s & 0xFF] ^ table[1][(s >> 8) & 0xFF] ^ table[2][(s >> 16) & 0xFF] ^ table[3][s >> 24];
}

__attribute__((target("sse4.2"))) uint32_t extend_by_instruction(uint32_t crc, const unsigned char* p, size_t n) {
  static const ShiftTables shift = make_shift_tables();
  uint64_t c = crc;
  while (n >= 3 * kStride) {
    uint64_t c1 = 0, c2 = 0;
    for (size_t i = 0; i < kStride; i += 8) {
      uint64_t w0, w1, w2;
      std::memcpy(&w0, p + i, 8);
      std::memcpy(&w1, p + kStride + i, 8);
      std::memcpy(&w2, p + 2 * kStride + i, 8);
      c = _mm_crc32_u64(c, w0);
      c1 = _mm_crc32_u64(c1, w1);
      c2 = _mm_crc32_u64(c2, w2);
    }
    c = apply(shift.twice, static_cast<uint32_t>(c)) ^ apply(shift.once, static_cast<uint32_t>(c1)) ^
        static_cast<uint32_t>(c2);
    p += 3 * kStride;
    n -= 3 * kStride;
  }
  while (n >= 8) {
    uint64_t word;
    std::memcpy(&word, p, 8);
    c = _mm_crc32_u64(c, word);
    p += 8;
    n -= 8;
  }
  uint32_t c32 = static_cast<uint32_t>(c);
  while (n-- > 0) c32 = _mm_crc32_u8(c32, *p++);
  return c32;
}
#endif

using Extend = uint32_t (*)(uint32_t, const unsigned char*, size_t);

Extend choose() {
#if defined(__x86_64__)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("sse4.2")) return extend_by_instruction;
#endif
  return extend_by_table;
}

}  // namespace

uint32_t extend_check_by_table(uint32_t check, const void* data, size_t size) {
  return ~extend_by_table(~check, static_cast<const unsigned char*>(data), size);
}

uint32_t extend_check(uint32_t check, const void* data, size_t size) {
  static const Extend extend = choose();
  return ~extend(~check, static_cast<const unsigned char*>(data), size);
}

}  // namespace quire::table
