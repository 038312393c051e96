// The product version record that every library of the project carries,
// and reading it from a library file without loading the file.
//
// The record holds two 32-bit words, the most and then the least significant
// word of the product version (major << 16 | minor, patch << 16 | tweak);
// cmake/version_record.cmake adds it to a library. On Windows it is the
// product version of the file's VERSIONINFO resource
// (version_file_windows.cpp). On POSIX systems it is an ELF note: owner
// "quire", type kVersionNoteType, and the two words in the file's byte order
// (found by version_record.cpp, read from a file by version_file_posix.cpp).
#ifndef QUIRE_PLATFORM_VERSION_RECORD_H_
#define QUIRE_PLATFORM_VERSION_RECORD_H_

#include <cstddef>
#include <cstdint>

namespace quire::platform {

constexpr const char kVersionNoteOwner[] = "quire";
constexpr uint32_t kVersionNoteType = 0x51560001;

struct ProductVersion {
  uint32_t most = 0;   // major << 16 | minor
  uint32_t least = 0;  // patch << 16 | tweak
};

// A view of the bytes of a file, read on demand.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // The number of bytes there are.
  virtual uint64_t size() const = 0;
  // Copies size bytes from offset into out. False when they are not all
  // there or cannot be read.
  virtual bool read(uint64_t offset, void* out, size_t size) const = 0;
};

// The ELF note (POSIX systems).

// Finds the version record in an ELF object. Every offset and count of the
// object is checked against the source's size, so any bytes at all are safe
// to pass. True with *version set when the record is there.
bool find_version_record(const ByteSource& source, ProductVersion* version);

// The same for bytes in memory.
bool find_version_record(const unsigned char* data, size_t size, ProductVersion* version);

// Every system.

// Reads the version record of the file at path without loading it: stores
// the least and the most significant product-version word and returns
// non-zero; a file that is missing, unreadable or without a record gives 0.
int read_file_version(const char* path, uint32_t* least, uint32_t* most);

// 1 when both files carry a version record and the two are equal in both
// words, otherwise 0.
int same_file_version(const char* path_a, const char* path_b);

}  // namespace quire::platform

#endif  // QUIRE_PLATFORM_VERSION_RECORD_H_
