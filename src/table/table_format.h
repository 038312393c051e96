// Pieces of the table layouts shared by the writer and the previous-output
// reader: limits, path rules, number texts, dBASE column names.
#ifndef QUIRE_TABLE_TABLE_FORMAT_H_
#define QUIRE_TABLE_TABLE_FORMAT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

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

// dBASE III file layout.
constexpr size_t kDbfHeaderSize = 32;
constexpr size_t kDbfDescriptorSize = 32;
constexpr uint8_t kDbfVersion = 3;
constexpr uint8_t kDbfHeaderTerminator = 0x0D;
constexpr uint8_t kDbfEndOfFile = 0x1A;
constexpr uint8_t kDbfLanguageDriver = 0x57;  // Windows ANSI (Latin-1 texts)
// Offsets in the file header.
constexpr size_t kDbfYear = 1;
constexpr size_t kDbfMonth = 2;
constexpr size_t kDbfDay = 3;
constexpr size_t kDbfRecordCount = 4;
constexpr size_t kDbfHeaderLength = 8;
constexpr size_t kDbfRecordLength = 10;
constexpr size_t kDbfInProgress = 14;
constexpr size_t kDbfLanguageDriverOffset = 29;
// Offsets in a field descriptor.
constexpr size_t kDbfFieldName = 0;
constexpr size_t kDbfFieldNameSize = 11;
constexpr size_t kDbfFieldType = 11;
constexpr size_t kDbfFieldWidth = 16;
constexpr size_t kDbfFieldDecimals = 17;

// The name of the previous output's sibling that keeps the table replaced by
// a run.
constexpr const char* kOldTableName = "OLD.DAT";
// The change log, in the current directory.
constexpr const char* kChangeLogName = "delta.lst";
// Our own name prefix for a table being written.
constexpr const char* kTemporaryPrefix = ".quire-new-";

// True when the output at path is a dBASE III table: its file name (after
// the last "/" or "\") from its first "." on reads ".dbf" in any case.
// Every other path gives CSV ("out.dbf.bak" too).
bool is_dbase_path(std::string_view path);

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

// Gives the dBASE descriptor name (upper case, at most 10 characters) for
// column name, unique among used: a name whose 10-character cut repeats an
// earlier one keeps its first characters and ends in "_2", "_3", ... so
// that it stays 10 characters at most. Adds the result to used.
std::string dbase_column_name(const char* name, std::vector<std::string>* used);

}  // namespace quire::table

#endif  // QUIRE_TABLE_TABLE_FORMAT_H_
