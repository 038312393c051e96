// Helpers for the storage-area library tests: importing areas in-process,
// looking areas up, and comparing records byte by byte.
#ifndef QUIRE_TESTS_PLOTBASE_SUPPORT_H_
#define QUIRE_TESTS_PLOTBASE_SUPPORT_H_

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <map>
#include <sstream>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "area_store.h"
#include "quire/plotbase.h"
#include "quire/records.h"
#include "store_layout.h"
#include "support/print_capture.h"
#include "support/test_support.h"

namespace plotbase_test {

using nlohmann::json;
namespace rec = quire::records;

// Imports json into the current store (in-process); fails the test on error.
inline void import_ok(const std::string& text) {
  quire::Status status = quire::areas::import_area_json(text);
  ASSERT_TRUE(status.ok()) << status.message();
}
inline void import_ok(const json& j) { import_ok(j.dump()); }

// The import error text for json (empty when the import succeeded).
inline std::string import_error(const std::string& text) { return quire::areas::import_area_json(text).message(); }
inline std::string import_error(const json& j) { return import_error(j.dump()); }

// A 256-byte area record looked up by name.
struct Area {
  std::array<unsigned char, 256> bytes{};
  void* ptr() { return bytes.data(); }
};

inline Area lookup_area(const char* name) {
  Area a;
  EXPECT_EQ(pb_lookup_storage_areas(a.ptr(), name, 0), 1) << name << " error " << pb_error.code;
  return a;
}

// A caller's record buffer filled with 0xAA so that bytes the library does
// not write stand out; size + 16 guard bytes that must stay untouched.
struct Buffer {
  explicit Buffer(size_t n) : size(n), bytes(n + 16, 0xAA) {}
  unsigned char* data() { return bytes.data(); }
  size_t size;
  std::vector<unsigned char> bytes;
  bool guard_intact() const {
    for (size_t i = size; i < bytes.size(); ++i)
      if (bytes[i] != 0xAA) return false;
    return true;
  }
};

// An expected record: zero bytes written with the records.h helpers.
struct Expected {
  explicit Expected(size_t n) : bytes(n, 0) {}
  unsigned char* at(size_t offset) { return bytes.data() + offset; }
  void text(size_t offset, size_t size, const char* t) { rec::store_text(at(offset), size, t); }
  void real(size_t offset, double d) { rec::store_double(at(offset), d); }
  void i32(size_t offset, int32_t v) { rec::store_i32(at(offset), v); }
  void i16(size_t offset, int16_t v) { rec::store_i16(at(offset), v); }
  std::vector<unsigned char> bytes;
};

// Compares a filled record with the expected bytes and names the first
// differing offsets.
inline ::testing::AssertionResult same_bytes(const unsigned char* got, const Expected& want) {
  std::string diffs;
  int count = 0;
  for (size_t i = 0; i < want.bytes.size(); ++i) {
    if (got[i] != want.bytes[i]) {
      if (count++ < 8) {
        char buf[64];
        std::snprintf(buf, sizeof buf, " [%zu] got %02x want %02x", i, got[i], want.bytes[i]);
        diffs += buf;
      }
    }
  }
  if (count == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << count << " bytes differ:" << diffs;
}

using quire::testing::PrintCapture;

// Names of a full lookup walk with pattern.
inline std::vector<std::string> walk(int (*lookup)(void*, char*, const char*, int), Area& a, const char* pattern) {
  std::vector<std::string> names;
  char name[PB_NAME_BUFFER_SIZE];
  for (int mode = 0; lookup(a.ptr(), name, pattern, mode) == 1; mode = 1) names.push_back(name);
  return names;
}

// A rich area that exercises every field: see sample_area().
json sample_area();

// Every file of a store directory with its bytes, to show nothing changed.
inline std::map<std::string, std::string> snapshot(const std::filesystem::path& dir) {
  std::map<std::string, std::string> files;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    files[e.path().filename().string()] = quire::testing::read_file(e.path());
  return files;
}

// The area file (JSON) that quire area export gives for the area called name.
inline std::string export_text(const std::string& name) {
  std::ostringstream out;
  quire::Status status = quire::areas::export_area_json(name, out);
  EXPECT_TRUE(status.ok()) << status.message();
  return out.str();
}

}  // namespace plotbase_test

#endif  // QUIRE_TESTS_PLOTBASE_SUPPORT_H_
