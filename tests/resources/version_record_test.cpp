// Reading the product version record of a library file without loading it:
// on every system from the built libraries and fixtures, and the ELF note's
// reader also from made and damaged objects.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "platform/version_record.h"
#include "resource_test_util.h"

namespace quire {
namespace {

using platform::ProductVersion;
using platform::read_file_version;
using platform::same_file_version;
using testing::bin_dir;
using testing::fixture_library;
using testing::library_file;

ProductVersion version_of(const std::string& path) {
  ProductVersion v;
  EXPECT_EQ(read_file_version(path.c_str(), &v.least, &v.most), 1) << path;
  return v;
}

TEST(VersionRecord, OurLibrariesCarryTheProjectVersion) {
  std::string own_path = bin_dir() + "/" + library_file("quire");
  ProductVersion own = version_of(own_path);
  EXPECT_NE(own.most, 0u);  // major << 16 | minor of a released version
  ProductVersion storage = version_of(bin_dir() + "/" + library_file("plotbase"));
  EXPECT_EQ(storage.most, own.most);
  EXPECT_EQ(storage.least, own.least);
  EXPECT_EQ(same_file_version(own_path.c_str(), (bin_dir() + "/" + library_file("quireres-de")).c_str()), 1);
}

TEST(VersionRecord, OtherVersionsAndMissingRecords) {
  std::string own = bin_dir() + "/" + library_file("quire");
  ProductVersion mine = version_of(own);

  ProductVersion tweak = version_of(fixture_library("fixture-tweak"));
  EXPECT_EQ(tweak.most, mine.most);
  EXPECT_EQ(tweak.least, mine.least + 1);
  EXPECT_EQ(same_file_version(own.c_str(), fixture_library("fixture-tweak").c_str()), 0);

  ProductVersion minor = version_of(fixture_library("fixture-minor"));
  EXPECT_EQ(minor.most, mine.most + 1);
  EXPECT_EQ(minor.least, mine.least);
  EXPECT_EQ(same_file_version(own.c_str(), fixture_library("fixture-minor").c_str()), 0);

  // No record, not an object at all, no file, a directory: all "another
  // version", whichever side they are on.
  testing::TempStore dir;
  testing::write_file(dir.path("text.so"), "not a library\n");
  for (std::string other : {fixture_library("fixture-norecord"), dir.path("text.so"), dir.path("absent.so"),
                            dir.work().string()}) {
    uint32_t least = 77, most = 77;
    EXPECT_EQ(read_file_version(other.c_str(), &least, &most), 0) << other;
    EXPECT_EQ(least, 77u);
    EXPECT_EQ(same_file_version(own.c_str(), other.c_str()), 0) << other;
    EXPECT_EQ(same_file_version(other.c_str(), own.c_str()), 0) << other;
  }
  EXPECT_EQ(same_file_version(fixture_library("fixture-norecord").c_str(),
                              fixture_library("fixture-norecord").c_str()),
            0);
}

#ifndef _WIN32
// The ELF note of POSIX systems.
using platform::find_version_record;

std::vector<unsigned char> bytes_of(const std::string& path) {
  std::string s = testing::read_file(path);
  return std::vector<unsigned char>(s.begin(), s.end());
}

TEST(VersionRecord, FoundWithoutTheSectionTable) {
  // A library stripped of its section table still has its note segment.
  std::vector<unsigned char> bytes = bytes_of(fixture_library("fixture-match"));
  ASSERT_GT(bytes.size(), 64u);
  ProductVersion before, after;
  ASSERT_TRUE(find_version_record(bytes.data(), bytes.size(), &before));
  for (size_t i = 40; i < 48; ++i) bytes[i] = 0;  // e_shoff of a 64-bit object
  bytes[60] = bytes[61] = 0;                      // e_shnum
  ASSERT_TRUE(find_version_record(bytes.data(), bytes.size(), &after));
  EXPECT_EQ(after.most, before.most);
  EXPECT_EQ(after.least, before.least);
}

// A minimal 32-bit big-endian object with one note segment holding our
// record after a note of someone else.
std::vector<unsigned char> big_endian_object(uint32_t most, uint32_t least) {
  std::vector<unsigned char> b(52 + 32, 0);
  auto put16 = [&](size_t at, uint32_t v) {
    b[at] = static_cast<unsigned char>(v >> 8);
    b[at + 1] = static_cast<unsigned char>(v);
  };
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<unsigned char>(v >> (24 - 8 * i));
  };
  auto append32 = [&](uint32_t v) {
    b.resize(b.size() + 4);
    put32(b.size() - 4, v);
  };
  b[0] = 0x7f, b[1] = 'E', b[2] = 'L', b[3] = 'F', b[4] = 1, b[5] = 2, b[6] = 1;
  put32(28, 52);  // e_phoff
  put16(42, 32);  // e_phentsize
  put16(44, 1);   // e_phnum
  size_t notes = b.size();
  append32(4), append32(4), append32(1), append32(0x474e5500);  // "GNU\0", 4 bytes of data
  append32(0xdeadbeef);
  append32(6), append32(8), append32(platform::kVersionNoteType);
  for (char c : std::string("quire\0\0", 8)) b.push_back(static_cast<unsigned char>(c));
  append32(most), append32(least);
  put32(52 + 0, 4);                                        // p_type: note
  put32(52 + 4, static_cast<uint32_t>(notes));             // p_offset
  put32(52 + 16, static_cast<uint32_t>(b.size() - notes));  // p_filesz
  put32(52 + 28, 4);                                       // p_align
  return b;
}

TEST(VersionRecord, ThirtyTwoBitBigEndianObject) {
  std::vector<unsigned char> b = big_endian_object(0x00020003, 0x00040005);
  ProductVersion v;
  ASSERT_TRUE(find_version_record(b.data(), b.size(), &v));
  EXPECT_EQ(v.most, 0x00020003u);
  EXPECT_EQ(v.least, 0x00040005u);
}

TEST(VersionRecord, DamagedFilesAreReadSafely) {
  // Every prefix of a small object, and objects with random bytes changed in
  // their headers and notes: never a read outside the bytes (the sanitizer
  // build checks), and a record only when its words are intact.
  std::vector<unsigned char> small = big_endian_object(1, 2);
  ProductVersion v;
  for (size_t n = 0; n < small.size(); ++n) EXPECT_FALSE(find_version_record(small.data(), n, &v)) << n;

  std::vector<unsigned char> original = bytes_of(fixture_library("fixture-match"));
  ASSERT_FALSE(original.empty());
  std::mt19937 random(12345);
  size_t head = std::min<size_t>(original.size(), 4096);
  for (int round = 0; round < 3000; ++round) {
    std::vector<unsigned char> damaged = original;
    int changes = 1 + static_cast<int>(random() % 8);
    for (int i = 0; i < changes; ++i) damaged[random() % head] = static_cast<unsigned char>(random());
    size_t size = round % 3 == 0 ? random() % damaged.size() : damaged.size();
    std::vector<unsigned char> exact(damaged.begin(), damaged.begin() + static_cast<long>(size));
    find_version_record(exact.data(), exact.size(), &v);
  }
  EXPECT_FALSE(find_version_record(nullptr, 100, &v));
}
#endif

}  // namespace
}  // namespace quire
