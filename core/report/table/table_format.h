// Pieces shared by the table layouts and the run over them: limits, file
// names and path rules, number texts.
#ifndef QUIRE_TABLE_TABLE_FORMAT_H_
#define QUIRE_TABLE_TABLE_FORMAT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quire::table {

// At most this many columns per table (new and previous).
constexpr int kMaxColumns = 100;
// At most this many values are split from one previous record.
constexpr int kMaxValues = 100;
// A column is at most this wide (it must fit the descriptor's signed byte).
constexpr int kMaxWidth = 127;
// Digits after the point of an 'F' column are cut to this.
constexpr int kMaxDecimals = 127;
// A previous record (a text line with its line end, or a dBASE record) of
// more bytes than this does not fit: the previous output is not reused.
constexpr size_t kMaxRecordBytes = 4095;

// The name of the previous output's sibling that keeps the table replaced by
// a run.
constexpr const char* kOldTableName = "OLD.DAT";
// The change log, in the current directory.
constexpr const char* kChangeLogName = "delta.lst";
// Our own name prefix for a table being written.
constexpr const char* kTemporaryPrefix = ".quire-new-";

// Length of the directory part of path in this system's naming: the file
// name starts after the last "/" or "\", or when there is none after the
// last ":", or else at the start.
size_t file_name_start(std::string_view path);

// The OLD.DAT path beside path.
std::string old_table_path(std::string_view path);

// ASCII case-insensitive comparison (only the sign matters).
int compare_ignoring_case(const char* a, const char* b);

// Writes value with `decimals` digits after the point, as "%.*f" does, into
// out (at least kFixedTextSize bytes). Returns the length.
constexpr size_t kFixedTextSize = 320 + kMaxDecimals;
size_t format_fixed(char* out, double value, int decimals);
// Writes value as "%d" does into out (at least 12 bytes). Returns the length.
size_t format_int(char* out, int32_t value);

// Reads a whole value text as a number the way "%lf" / "%d" would take its
// start; a text that does not start with a number gives 0.
double parse_double(std::string_view text);
int32_t parse_int(std::string_view text);

}  // namespace quire::table

#endif  // QUIRE_TABLE_TABLE_FORMAT_H_
