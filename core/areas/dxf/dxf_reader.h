// A DXF file read one group (code and value) at a time, ASCII or binary,
// R10 to R2000, from memory or from a file through a fixed buffer, so that
// memory stays flat whatever the size of the drawing.
#ifndef PLOTBASE_DXF_DXF_READER_H_
#define PLOTBASE_DXF_DXF_READER_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "quire/files/file_system.h"
#include "quire/status.h"

namespace quire::areas::dxf {

// The kind of value a group code carries; fixed by the code's range.
enum class ValueType { kText, kReal, kInt16, kInt32, kInt64, kBool, kChunk };

// Sets *type to the value type of group code `code` and returns true; false
// for a code outside every range the format defines.
bool value_type(int code, ValueType* type);

// One group. `text` holds the value of text and chunk groups as it stands in
// the file (for ASCII files the whole value line, for numbers too) and stays
// valid until the next call of Reader::next.
struct Group {
  int code = 0;
  ValueType type = ValueType::kText;
  std::string_view text;
  double real = 0;      // kReal
  int64_t integer = 0;  // kInt16, kInt32, kInt64, kBool
};

// The longest ASCII line and the longest binary text accepted, in bytes.
constexpr size_t kMaxLineBytes = 8192;

// The sentinel that opens a binary DXF file.
inline constexpr std::string_view kBinarySentinel{"AutoCAD Binary DXF\r\n\x1a\0", 22};

class Reader {
 public:
  // Reads the bytes [data, data + size), which must outlive the reader.
  Reader(const char* data, size_t size);
  // Reads the open file from its start, through a fixed buffer.
  explicit Reader(std::unique_ptr<quire::platform::ReadableFile> file);
  ~Reader();
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  // Reads the next group into *group. False at the end of the input
  // (status() ok) or on malformed input or a read error (status() failed,
  // its message one line starting with the position: "line 12: ..." or
  // "byte 345: ...", its subject that position).
  bool next(Group* group);

  // The failure of the last next(); a success when there is none.
  const quire::Status& status() const { return status_; }
  // Where the last group read starts: "line N" (ASCII) or "byte N" (binary).
  std::string where() const;

 private:
  void start();
  bool ensure(size_t n);
  bool fail(const std::string& message);
  // Records message at the byte or line `at` unless a failure is recorded;
  // error is the system's error number of a failed read, 0 for bad input.
  bool fail_at(const std::string& at, const std::string& message, int error = 0);
  bool next_ascii(Group* group);
  bool next_binary(Group* group);
  bool read_line(std::string_view* line);
  bool read_cstring(std::string_view* text);

  std::unique_ptr<quire::platform::ReadableFile> file_;
  std::vector<char> storage_;
  const char* data_ = nullptr;  // the bytes at [pos_, end_) are available
  size_t pos_ = 0, end_ = 0;
  uint64_t base_ = 0;  // file offset of data_[0]
  bool file_done_ = false;
  bool binary_ = false;
  bool wide_codes_ = false;  // binary: two-byte group codes (R13 on)
  bool started_ = false;
  uint64_t line_ = 0;        // ASCII: lines read so far
  uint64_t group_line_ = 0;  // ASCII: line of the last group's code
  uint64_t group_byte_ = 0;  // binary: offset of the last group's code
  quire::Status status_;
};

// text without the blanks and tabs around it.
std::string_view trim_blanks(std::string_view text);

// Strict, locale-free numbers: optional blanks around an optional sign and
// the digits, nothing else; reals finite. False when text is not one.
bool parse_real(std::string_view text, double* out);
bool parse_integer(std::string_view text, int64_t* out);

}  // namespace quire::areas::dxf

#endif  // PLOTBASE_DXF_DXF_READER_H_
