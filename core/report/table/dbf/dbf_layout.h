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

// The sizes of the file header and of a field descriptor.
enum DbfSize : size_t { kDbfHeaderSize = 32, kDbfDescriptorSize = 32 };

// Bytes with a meaning of their own: the version (byte 0 of the file), the
// end of the descriptors, the end of the records, the language driver of
// Windows ANSI (Latin-1) texts.
enum DbfMark : uint8_t { kDbfVersion = 3, kDbfHeaderTerminator = 0x0D, kDbfEndOfFile = 0x1A, kDbfLanguageDriver = 0x57 };

// Offsets in the file header: the date of the last update (year since 1900,
// month, day), the record count (32 bits), the header and record lengths
// (16 bits), the in-progress flag and the language driver.
enum DbfHeaderOffset : size_t {
  kDbfYear = 1, kDbfMonth = 2, kDbfDay = 3, kDbfRecordCount = 4, kDbfHeaderLength = 8, kDbfRecordLength = 10,
  kDbfInProgress = 14, kDbfLanguageDriverOffset = 29,
};

// Offsets in a field descriptor: the NUL-padded name (11 bytes), the type
// letter, the width and the decimals.
enum DbfDescriptorOffset : size_t {
  kDbfFieldName = 0, kDbfFieldNameSize = 11, kDbfFieldType = 11, kDbfFieldWidth = 16, kDbfFieldDecimals = 17,
};

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
