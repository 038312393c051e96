#include "table/csv/csv_previous_reader.h"

#include <bit>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace quire::table {

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }
bool ends_value(char c) { return c == ',' || c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The first line end in [p, end) that is not inside a quoted value, or null;
// *in_quotes tells whether p is inside one and is brought up to date. A
// quoted value runs on across line ends until its closing quote; a doubled
// quote inside it toggles twice. Every byte of a previous table passes here
// on a rerun, sixteen at a time where the processor allows.
const char* find_record_end(const char* p, const char* end, bool* in_quotes) {
#ifdef __SSE2__
  const __m128i line_end = _mm_set1_epi8('\n');
  const __m128i quote = _mm_set1_epi8('"');
  for (; end - p >= 16; p += 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    unsigned ends = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, line_end)));
    const unsigned quotes = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, quote)));
    unsigned counted = 0;  // the bits of quotes already counted
    for (; ends != 0; ends &= ends - 1) {
      const unsigned before = (ends & (0u - ends)) - 1;
      if (std::popcount(quotes & before & ~counted) % 2 != 0) *in_quotes = !*in_quotes;
      counted = before;
      if (!*in_quotes) return p + std::countr_zero(ends);
    }
    if (std::popcount(quotes & ~counted) % 2 != 0) *in_quotes = !*in_quotes;
  }
#endif
  for (; p < end; ++p) {
    if (*p == '"') *in_quotes = !*in_quotes;
    else if (*p == '\n' && !*in_quotes) return p;
  }
  return nullptr;
}

}  // namespace

bool CsvPreviousReader::next_line(std::string_view* line, bool* too_long) {
  *too_long = false;
  size_t searched = 0;     // bytes from the line's start looked at so far
  bool in_quotes = false;  // whether they end inside a quoted value
  for (;;) {
    const char* start = input_->data();
    const char* end = start + input_->available();
    const char* newline = find_record_end(start + searched, end, &in_quotes);
    if (newline != nullptr) {
      size_t length = static_cast<size_t>(newline - start) + 1;
      if (length > kMaxRecordBytes) {
        *too_long = true;
        return false;
      }
      input_->consume(length);
      length -= 1;
      if (length > 0 && start[length - 1] == '\r') length -= 1;
      *line = std::string_view(start, length);
      return true;
    }
    searched = static_cast<size_t>(end - start);
    if (searched > kMaxRecordBytes) {
      *too_long = true;
      return false;
    }
    // An unterminated last line is what a cut-short write leaves: it is not
    // a record.
    if (!input_->fill(searched + 1)) return false;
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
  while (i < n || pending) {
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
          add_value(s + i + 1, quote - i - 1, false);
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
    add_value(s + start, i - start, true);
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
  std::string_view first;
  bool too_long = false;
  if (!next_line(&first, &too_long)) {
    if (too_long) {
      drop();
      return kHeaderDropped;
    }
    first = {};
  }
  bool rejected = first.find("\"DB_VERSION_") == std::string_view::npos;
  if (first.find("\"METRIC\"") != std::string_view::npos && notation != 0) rejected = true;
  if (first.find("\"IMPERIAL\"") != std::string_view::npos && notation != 1) rejected = true;
  if (rejected) {
    drop();
    return kHeaderRejected;
  }
  std::string_view second;
  if (!next_line(&second, &too_long)) {
    if (too_long) {
      drop();
      return kHeaderDropped;
    }
    second = {};
  }
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
  bool too_long = false;
  if (!next_line(&line, &too_long)) return too_long ? kDrop : kEnd;
  if (!split_line(line)) return kDrop;
  raw_ = line;
  // The line was ended: "\r\n" or "\n" follows it in the buffer.
  raw_end_ = line.data()[line.size()] == '\r' ? 2 : 1;
  return kLoaded;
}

}  // namespace quire::table
