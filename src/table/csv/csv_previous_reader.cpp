#include "table/csv/csv_previous_reader.h"

#include <bit>
#include <cstdint>
#include <cstring>

#ifdef __SSE2__
#include <immintrin.h>
#endif

namespace quire::table {

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }
bool ends_value(char c) { return c == ',' || c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// How the scan for line ends does its two steps: the masks of 64 bytes
// (line ends, quotes, commas; bit i for byte i) when kWide, else 16 bytes at
// a time by the scan itself; and the parity prefix of a mask (bit i set when
// an odd number of bits 0..i are). This one needs nothing beyond SSE2.
struct PlainScan {
  static constexpr bool kWide = false;
  static void masks(const char*, uint64_t*, uint64_t*, uint64_t*) {}
  static uint64_t parity(uint64_t mask) {
    mask ^= mask << 1;
    mask ^= mask << 2;
    mask ^= mask << 4;
    mask ^= mask << 8;
    mask ^= mask << 16;
    mask ^= mask << 32;
    return mask;
  }
};

#if defined(__x86_64__) && defined(__SSE2__)
#define QUIRE_FAST_SCAN 1
#define QUIRE_FAST_TARGET __attribute__((target("avx2,pclmul,popcnt")))
// The same 32 bytes at a time, and the parity by a carry-less product with
// all ones, where the processor has both.
struct WideScan {
  static constexpr bool kWide = true;
  static QUIRE_FAST_TARGET void masks(const char* p, uint64_t* ends, uint64_t* quotes, uint64_t* separators) {
    const __m256i line_end = _mm256_set1_epi8('\n');
    const __m256i quote = _mm256_set1_epi8('"');
    const __m256i comma = _mm256_set1_epi8(',');
    const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
    auto mask = [](__m256i a, __m256i b, __m256i c) QUIRE_FAST_TARGET {
      return uint64_t{static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(a, c)))} |
             uint64_t{static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(b, c)))} << 32;
    };
    *ends = mask(low, high, line_end);
    *quotes = mask(low, high, quote);
    *separators = mask(low, high, comma);
  }
  static QUIRE_FAST_TARGET uint64_t parity(uint64_t mask) {
    const __m128i product =
        _mm_clmulepi64_si128(_mm_set_epi64x(0, static_cast<long long>(mask)), _mm_set1_epi8(-1), 0);
    return static_cast<uint64_t>(_mm_cvtsi128_si64(product));
  }
};
#endif

// Looks for the line end in a run of n bytes given by three masks (bit i for
// byte i): line ends, quotes and commas. Returns the index of the first line
// end outside a quoted value, or -1; brings *in_quotes up to date and counts
// the commas outside quoted values before that line end (or in the run).
template <typename Scan>
inline int scan_masks(uint64_t ends, uint64_t quotes, uint64_t separators, int n, bool* in_quotes, int* commas) {
  // The bytes inside a quoted value (a closing quote counts as outside).
  const uint64_t all = n == 64 ? ~uint64_t{0} : (uint64_t{1} << n) - 1;
  const uint64_t parity = Scan::parity(quotes);
  const uint64_t inside = (parity ^ (*in_quotes ? all : 0)) & all;
  const uint64_t line_ends = ends & ~inside;
  if (line_ends != 0) {
    const uint64_t before = (line_ends & (0 - line_ends)) - 1;
    *commas += std::popcount(separators & ~inside & before);
    *in_quotes = false;
    return std::countr_zero(line_ends);
  }
  *commas += std::popcount(separators & ~inside);
  if ((parity >> (n - 1)) & 1) *in_quotes = !*in_quotes;
  return -1;
}

// The first line end in [p, end) that is not inside a quoted value, or null;
// *in_quotes tells whether p is inside one and is brought up to date, and
// the commas outside quoted values before that line end (or in the whole
// range) are added to *commas. A quoted value runs on across line ends
// until its closing quote; a doubled quote inside it toggles twice. Every
// byte of a previous table passes here on a rerun, 64 at a time where the
// processor allows.
template <typename Scan>
inline const char* scan_for_record_end(const char* p, const char* end, bool* in_quotes, int* commas) {
#ifdef __SSE2__
  const __m128i line_end = _mm_set1_epi8('\n');
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i comma = _mm_set1_epi8(',');
  while (end - p >= 16) {
    const int n = end - p >= 64 ? 64 : 16;
    uint64_t ends = 0, quotes = 0, separators = 0;
    if (Scan::kWide && n == 64) {
      Scan::masks(p, &ends, &quotes, &separators);
    } else {
      for (int shift = 0; shift < n; shift += 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + shift));
        ends |= uint64_t{static_cast<uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, line_end)))} << shift;
        quotes |= uint64_t{static_cast<uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, quote)))} << shift;
        separators |= uint64_t{static_cast<uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, comma)))} << shift;
      }
    }
    const int at = scan_masks<Scan>(ends, quotes, separators, n, in_quotes, commas);
    if (at >= 0) return p + at;
    p += n;
  }
#endif
  for (; p < end; ++p) {
    if (*p == '"') *in_quotes = !*in_quotes;
    else if (*in_quotes) continue;
    else if (*p == ',') ++*commas;
    else if (*p == '\n') return p;
  }
  return nullptr;
}

__attribute__((flatten)) const char* find_record_end_plain(const char* p, const char* end, bool* in_quotes,
                                                           int* commas) {
  return scan_for_record_end<PlainScan>(p, end, in_quotes, commas);
}

#ifdef QUIRE_FAST_SCAN
__attribute__((flatten)) QUIRE_FAST_TARGET const char* find_record_end_fast(const char* p, const char* end,
                                                                             bool* in_quotes, int* commas) {
  return scan_for_record_end<WideScan>(p, end, in_quotes, commas);
}
#endif

using FindRecordEnd = const char* (*)(const char*, const char*, bool*, int*);

// The scan for this processor.
FindRecordEnd record_end_finder() {
#ifdef QUIRE_FAST_SCAN
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("popcnt"))
    return find_record_end_fast;
#endif
  return find_record_end_plain;
}

}  // namespace

CsvPreviousReader::LineResult CsvPreviousReader::next_line(std::string_view* line, int* commas) {
  size_t searched = 0;     // bytes from the line's start looked at so far
  bool in_quotes = false;  // whether they end inside a quoted value
  *commas = 0;
  for (;;) {
    const char* start = input_->data();
    const char* end = start + input_->available();
    static const FindRecordEnd find_record_end = record_end_finder();
    const char* newline = find_record_end(start + searched, end, &in_quotes, commas);
    if (newline != nullptr) {
      size_t length = static_cast<size_t>(newline - start) + 1;
      if (length > kMaxRecordBytes) return kTooLong;
      input_->consume(length);
      length -= 1;
      if (length > 0 && start[length - 1] == '\r') length -= 1;
      *line = std::string_view(start, length);
      return kLine;
    }
    searched = static_cast<size_t>(end - start);
    if (searched > kMaxRecordBytes) return kTooLong;
    if (!input_->fill(searched + 1)) {
      // Bytes without a line end after them are what a cut-short write
      // leaves (or a quoted value never closed). A read failure is the
      // caller's to report.
      return searched > 0 && input_->status().ok() ? kCutShort : kNoLine;
    }
  }
}

// Values are separated by commas, spaces or tabs; a value that starts with
// a double quote runs to its closing quote, so that commas and blanks inside
// belong to it, and "" inside it stands for one quote. Leading and trailing
// blanks and unescaped quotes are removed. The line is read as if it still
// had its line end, so a line that ends in a comma has an empty last value.
bool CsvPreviousReader::split_line(std::string_view line) {
  clear_values();
  if (line.data() == nullptr) line = std::string_view("", 0);  // no line at all
  const char* s = line.data();
  const size_t n = line.size();
  size_t i = 0;
  bool pending = true;  // the virtual line end: text remains
  // When only the key and time values are split, the others are left empty.
  const bool all_wanted = value_limit() == kMaxValues;
  auto wanted = [&] { return all_wanted || value_count() == key_index_ || value_count() == time_index_; };
  key_field_length_ = 0;
  while (i < n || pending) {
    // The first value and its delimiter, when a delimiter ended it.
    if (value_count() == 1 && key_field_length_ == 0 && pending) key_field_length_ = i;
    if (values_full()) return value_limit() < kMaxValues;
    while (i < n && is_blank(s[i])) ++i;
    if (i < n && s[i] == '"') {
      // The usual case first: a quoted value with no quote inside and no
      // blank at its ends, closed right before a comma or the line end.
      const void* found = std::memchr(s + i + 1, '"', n - i - 1);
      if (found != nullptr) {
        size_t quote = static_cast<size_t>(static_cast<const char*>(found) - s);
        if ((quote + 1 == n || s[quote + 1] == ',') &&
            (quote == i + 1 || (s[i + 1] != ' ' && s[quote - 1] != ' '))) {
          add_value(s + i + 1, wanted() ? quote - i - 1 : 0, false);
          if (quote + 1 < n) {
            i = quote + 2;
          } else {
            i = n;
            pending = false;
          }
          continue;
        }
      }
      // Unescape the quoted part straight into the value store.
      char* out = value_space();
      size_t length = 0;
      size_t j = i + 1;
      size_t delimiter = n;
      for (;;) {
        const void* next = std::memchr(s + j, '"', n - j);
        size_t quote = next ? static_cast<size_t>(static_cast<const char*>(next) - s) : n;
        std::memcpy(out + length, s + j, quote - j);
        length += quote - j;
        if (quote == n) break;
        if (quote + 1 < n && s[quote + 1] == '"') {
          out[length++] = '"';
          j = quote + 2;
          continue;
        }
        // The closing quote; what follows it up to the delimiter stays in
        // the value, without trailing quotes and blanks.
        delimiter = quote + 1;
        while (delimiter < n && !ends_value(s[delimiter])) ++delimiter;
        size_t tail_start = quote + 1;
        size_t tail_end = delimiter;
        while (tail_end > tail_start && (s[tail_end - 1] == '"' || s[tail_end - 1] == ' ')) --tail_end;
        if (tail_end > tail_start) {
          out[length++] = '"';
          std::memcpy(out + length, s + tail_start, tail_end - tail_start);
          length += tail_end - tail_start;
        }
        break;
      }
      // Blanks around the content go; quotes that were written doubled stay.
      size_t first = 0;
      while (first < length && out[first] == ' ') ++first;
      while (length > first && out[length - 1] == ' ') --length;
      add_value(out + first, length - first, false);
      if (delimiter < n) {
        i = delimiter + 1;
      } else {
        i = n;
        pending = false;  // the line end was the delimiter
      }
      continue;
    }
    size_t start = i;
    while (i < n && !ends_value(s[i])) ++i;
    add_value(s + start, wanted() ? i - start : 0, true);
    if (i < n) {
      ++i;
    } else {
      pending = false;
    }
  }
  return true;
}

PreviousTableReader::HeaderResult CsvPreviousReader::read_header(int notation) {
  if (!input_->is_open()) return kHeaderDropped;
  // A header line without its line end counts as missing.
  std::string_view first;
  int commas = 0;
  LineResult result = next_line(&first, &commas);
  if (result == kTooLong) {
    drop();
    return kHeaderDropped;
  }
  if (result != kLine) first = {};
  bool rejected = first.find("\"DB_VERSION_") == std::string_view::npos;
  if (first.find("\"METRIC\"") != std::string_view::npos && notation != 0) rejected = true;
  if (first.find("\"IMPERIAL\"") != std::string_view::npos && notation != 1) rejected = true;
  if (rejected) {
    drop();
    return kHeaderRejected;
  }
  std::string_view second;
  result = next_line(&second, &commas);
  if (result == kTooLong) {
    drop();
    return kHeaderDropped;
  }
  if (result != kLine) second = {};
  if (!split_line(second)) {
    drop();
    return kHeaderDropped;
  }
  for (int i = 0; i < value_count(); ++i) names_.emplace_back(value(i), value_length(i));
  clear_values();
  return kHeaderOk;
}

PreviousTableReader::LoadResult CsvPreviousReader::load_record() {
  std::string_view line;
  int commas = 0;
  switch (next_line(&line, &commas)) {
    case kLine:
      break;
    case kNoLine:
      return kEnd;
    case kTooLong:
      return record_damaged("record %lld is longer than %zu bytes", next_record_number(), kMaxRecordBytes);
    case kCutShort:
      return record_damaged("its last record is cut short");
  }
  // This system writes every record with one value per column, the values
  // separated by commas.
  if (line.empty()) return record_damaged("record %lld is blank", next_record_number());
  if (commas + 1 != column_count())
    return record_damaged("record %lld has %d values, not %d", next_record_number(), commas + 1, column_count());
  raw_ = line;
  // The line was ended: "\r\n" or "\n" follows it in the buffer.
  raw_end_ = line.data()[line.size()] == '\r' ? 2 : 1;
  // Copied as it is: a line that starts with the key value of the line
  // before, up to and with its delimiter, continues its item.
  const bool key_first = value_limit() < kMaxValues && key_index_ == 0;
  if (key_first && starts_with_kept_key(line.data(), line.size())) return kSameKey;
  if (!split_line(line)) return kDrop;
  if (key_first) kept_key_field().assign(line.data(), key_field_length_);
  return kLoaded;
}

}  // namespace quire::table
