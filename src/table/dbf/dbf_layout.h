// The dBASE III file layout as this system writes and reads it: a 32-byte
// file header, one 32-byte descriptor per column, the 0x0D terminator, the
// fixed-length records (a deletion flag, then each column's width), and the
// 0x1A end mark. All numbers little-endian.
#ifndef QUIRE_TABLE_DBF_DBF_LAYOUT_H_
#define QUIRE_TABLE_DBF_DBF_LAYOUT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quire::table {

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

// True when the output at path is a dBASE III table: its file name (after
// the last "/" or "\") from its first "." on reads ".dbf" in any case.
// Every other path gives CSV ("out.dbf.bak" too).
bool is_dbase_path(std::string_view path);

// Gives the dBASE descriptor name (upper case, at most 10 characters) for
// column name, unique among used: a name whose 10-character cut repeats an
// earlier one keeps its first characters and ends in "_2", "_3", ... so
// that it stays 10 characters at most. Adds the result to used.
std::string dbase_column_name(const char* name, std::vector<std::string>* used);

}  // namespace quire::table

#endif  // QUIRE_TABLE_DBF_DBF_LAYOUT_H_
