#include "table/csv/csv_previous_reader.h"

#include <bit>
#include <cstdint>
#include <cstring>
#include <string_view>

#ifdef __SSE2__
#include <immintrin.h>
#endif

#include "table/report_layout.h"

namespace quire::table {

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }
bool ends_value(char c) { return c == ',' || c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// True when line holds a quote followed by word and, when closed, by another
// quote right after it (the way the preamble's words are written).
bool has_quoted_word(std::string_view line, std::string_view word, bool closed) {
  for (size_t at = line.find('"'); at != std::string_view::npos; at = line.find('"', at + 1)) {
    std::string_view rest = line.substr(at + 1);
    if (rest.starts_with(word) && (!closed || rest.substr(word.size()).starts_with('"'))) return true;
  }
  return false;
}

// The scan for line ends takes 64 bytes at a time: a mask (bit i for byte
// i) of their line ends, one of their quotes and one of their commas, and
// from the quotes which bytes lie inside a quoted value. Each layout of the
// processor gives the masks its own way; the parity prefix (bit i set when
// an odd number of bits 0..i are) turns the quote mask into the inside one.
struct PlainScan {
  static void masks(const char* p, uint64_t* ends, uint64_t* quotes, uint64_t* separators) {
#ifdef __SSE2__
    const __m128i line_end = _mm_set1_epi8('\n');
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i comma = _mm_set1_epi8(',');
    for (int shift = 0; shift < 64; shift += 16) {
      const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + shift));
      *ends |= uint64_t{static_cast<uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, line_end)))} << shift;
      *quotes |= uint64_t{static_cast<uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, quote)))} << shift;
      *separators |= uint64_t{static_cast<uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, comma)))} << shift;
    }
#else
    for (int i = 0; i < 64; ++i) {
      *ends |= uint64_t{p[i] == '\n'} << i;
      *quotes |= uint64_t{p[i] == '"'} << i;
      *separators |= uint64_t{p[i] == ','} << i;
    }
#endif
  }
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

// Scans the 64 bytes at p: their line ends outside quoted values, and the
// commas outside quoted values before each of those line ends and in all of
// them; *in_quotes tells whether p is inside a quoted value and becomes
// whether the byte after them is. A quoted value runs on across line ends
// until its closing quote; a doubled quote inside it toggles twice.
template <typename Scan>
inline void scan_block(const char* p, bool* in_quotes, CsvPreviousReader::ScannedBlock* block) {
  uint64_t ends = 0, quotes = 0, separators = 0;
  Scan::masks(p, &ends, &quotes, &separators);
  // The bytes inside a quoted value (a closing quote counts as outside).
  const uint64_t inside = Scan::parity(quotes) ^ (*in_quotes ? ~uint64_t{0} : 0);
  const uint64_t commas = separators & ~inside;
  block->line_ends = ends & ~inside;
  block->commas = std::popcount(commas);
  int k = 0;
  for (uint64_t rest = block->line_ends; rest != 0; rest &= rest - 1)
    block->commas_before[k++] = static_cast<uint8_t>(std::popcount(commas & ((rest & (0 - rest)) - 1)));
  *in_quotes = (inside >> 63) != 0;
}

void scan_block_plain(const char* p, bool* in_quotes, CsvPreviousReader::ScannedBlock* block) {
  scan_block<PlainScan>(p, in_quotes, block);
}

#ifdef QUIRE_FAST_SCAN
__attribute__((flatten)) QUIRE_FAST_TARGET void scan_block_fast(const char* p, bool* in_quotes,
                                                                 CsvPreviousReader::ScannedBlock* block) {
  scan_block<WideScan>(p, in_quotes, block);
}
#endif

using ScanBlock = void (*)(const char*, bool*, CsvPreviousReader::ScannedBlock*);

// The scan for this processor.
ScanBlock block_scanner() {
#ifdef QUIRE_FAST_SCAN
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("popcnt"))
    return scan_block_fast;
#endif
  return scan_block_plain;
}

constexpr size_t kPrefetchAhead = 2048;

// The bits from..63 of a mask (from < 64).
inline uint64_t bits_from(int from) { return ~uint64_t{0} << from; }

}  // namespace

bool CsvPreviousReader::scan_next_block() {
  static const ScanBlock scan = block_scanner();
  const uint64_t next = block_valid_ ? block_offset_ + kScanBlock : input_->offset();
  const bool in_quotes = block_valid_ && block_in_quotes_;
  if (block_valid_ && block_bytes_ < kScanBlock) return false;  // that was the end of the file
  const size_t ahead = static_cast<size_t>(next - input_->offset());
  const char* p;
  char last[kScanBlock];
  if (input_->fill(ahead + kScanBlock)) {
    p = input_->data() + ahead;
    // The table is scanned from its start to its end: ask for the bytes
    // well ahead before they are needed.
    if (input_->available() >= ahead + kPrefetchAhead) __builtin_prefetch(p + kPrefetchAhead - kScanBlock);
    block_bytes_ = kScanBlock;
  } else {
    // The end of the file: the bytes that are left, followed by zeros.
    if (input_->available() <= ahead) return false;
    block_bytes_ = input_->available() - ahead;
    std::memset(last, 0, sizeof last);
    std::memcpy(last, input_->data() + ahead, block_bytes_);
    p = last;
  }
  block_in_quotes_ = in_quotes;
  scan(p, &block_in_quotes_, &block_);
  block_next_end_ = 0;
  block_offset_ = next;
  block_valid_ = true;
  return true;
}

CsvPreviousReader::LineResult CsvPreviousReader::next_line(std::string_view* line, int* commas) {
  const char* text = nullptr;
  size_t length = 0;
  const LineResult result = next_line(&text, &length, commas);
  *line = std::string_view(text, length);
  return result;
}

CsvPreviousReader::LineResult CsvPreviousReader::next_line(const char** line, size_t* line_length, int* commas) {
  *commas = 0;
  const uint64_t start = input_->offset();
  // A line starts outside any quoted value: where the scan ran ahead
  // through this line's start, its masks hold; elsewhere it starts afresh.
  if (block_valid_ && (start < block_offset_ || start - block_offset_ > kScanBlock)) block_valid_ = false;
  if (!block_valid_ && !scan_next_block()) return kNoLine;
  int from = block_offset_ < start ? static_cast<int>(start - block_offset_) : 0;
  for (;;) {
    if (from < kScanBlock) {
      // A line that starts inside the block starts right after its line
      // end before block_next_end_: the commas before that one are not its.
      const int before = from > 0 && block_next_end_ > 0 ? block_.commas_before[block_next_end_ - 1] : 0;
      const uint64_t ends = block_.line_ends & bits_from(from);
      if (ends != 0) {
        const int at = std::countr_zero(ends);
        *commas += block_.commas_before[block_next_end_++] - before;
        size_t length = static_cast<size_t>(block_offset_ + static_cast<uint64_t>(at) - start) + 1;
        if (length > kMaxRecordBytes) return kTooLong;
        const char* text = input_->data();
        input_->consume(length);
        length -= 1;
        if (length > 0 && text[length - 1] == '\r') length -= 1;
        *line = text;
        *line_length = length;
        return kLine;
      }
      *commas += block_.commas - before;
    }
    if (block_offset_ + block_bytes_ - start > kMaxRecordBytes) return kTooLong;
    if (!scan_next_block()) {
      // Bytes without a line end after them are what a cut-short write
      // leaves (or a quoted value never closed). A read failure is the
      // caller's to report.
      return input_->available() > 0 && input_->status().ok() ? kCutShort : kNoLine;
    }
    from = 0;
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
  // A first line without the version mark is no preamble: the preamble
  // stays empty. One of the other notation is kept, for the run to say so.
  if (!has_quoted_word(first, ReportLayout::kVersionPrefix, false)) {
    drop();
    return kHeaderRejected;
  }
  if (split_line(first))
    for (int i = 0; i < value_count(); ++i) preamble_.emplace_back(value(i), value_length(i));
  clear_values();
  if ((has_quoted_word(first, ReportLayout::kMetricWord, true) && notation != 0) ||
      (has_quoted_word(first, ReportLayout::kImperialWord, true) && notation != 1)) {
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
  // The line as its start and length: one value each, which the compiler
  // reads back as it wrote them.
  const char* text = nullptr;
  size_t length = 0;
  int commas = 0;
  switch (next_line(&text, &length, &commas)) {
    case kLine:
      break;
    case kNoLine:
      return kEnd;
    case kTooLong:
      return record_damaged("record %lld is longer than %llu bytes", next_record_number(),
                            static_cast<unsigned long long>(kMaxRecordBytes));
    case kCutShort:
      return record_damaged("its last record is cut short");
  }
  // This system writes every record with one value per column, the values
  // separated by commas.
  if (length == 0) return record_damaged("record %lld is blank", next_record_number());
  if (commas + 1 != column_count())
    return record_damaged("record %lld has %d values, not %d", next_record_number(), commas + 1, column_count());
  raw_ = std::string_view(text, length);
  // The line was ended: "\r\n" or "\n" follows it in the buffer.
  raw_end_ = text[length] == '\r' ? 2 : 1;
  // Copied as it is: a line that starts with the key value of the line
  // before, up to and with its delimiter, continues its item.
  const bool key_first = value_limit() < kMaxValues && key_index_ == 0;
  if (key_first && starts_with_kept_key(text, length)) return kSameKey;
  if (!split_line(raw_)) return kDrop;
  if (key_first) kept_key_field().assign(text, key_field_length_);
  return kLoaded;
}

}  // namespace quire::table
