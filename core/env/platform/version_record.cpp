// The version record of an ELF object: its note, found through the section
// or the program headers.
#include "platform/version_record.h"

#include <cstring>
#include <vector>

namespace quire::platform {
namespace {

// ELF layout: identification bytes and header field offsets.
constexpr size_t kIdentSize = 16;
constexpr size_t kClassIndex = 4;   // 1: 32-bit, 2: 64-bit
constexpr size_t kDataIndex = 5;    // 1: little-endian, 2: big-endian
constexpr uint32_t kProgramNote = 4;  // PT_NOTE
constexpr uint32_t kSectionNote = 7;  // SHT_NOTE

// Header tables and note areas larger than these are not read: no library of
// ours comes near them, and a damaged file cannot make us allocate much.
constexpr uint64_t kMaxTableBytes = 4u << 20;
constexpr uint64_t kMaxNoteBytes = 1u << 20;

struct ElfLayout {
  bool wide = false;        // 64-bit object
  bool big_endian = false;
  // File header.
  size_t header_size, phoff, shoff, phentsize, phnum, shentsize, shnum;
  // Program header entries.
  size_t p_type, p_offset, p_filesz, p_align, p_min;
  // Section header entries.
  size_t sh_type, sh_offset, sh_size, sh_addralign, sh_min;
};

ElfLayout layout_for(bool wide, bool big_endian) {
  ElfLayout l;
  l.wide = wide;
  l.big_endian = big_endian;
  if (wide) {
    l.header_size = 64; l.phoff = 32; l.shoff = 40; l.phentsize = 54; l.phnum = 56;
    l.shentsize = 58; l.shnum = 60;
    l.p_type = 0; l.p_offset = 8; l.p_filesz = 32; l.p_align = 48; l.p_min = 56;
    l.sh_type = 4; l.sh_offset = 24; l.sh_size = 32; l.sh_addralign = 48; l.sh_min = 64;
  } else {
    l.header_size = 52; l.phoff = 28; l.shoff = 32; l.phentsize = 42; l.phnum = 44;
    l.shentsize = 46; l.shnum = 48;
    l.p_type = 0; l.p_offset = 4; l.p_filesz = 16; l.p_align = 28; l.p_min = 32;
    l.sh_type = 4; l.sh_offset = 16; l.sh_size = 20; l.sh_addralign = 32; l.sh_min = 40;
  }
  return l;
}

uint64_t load_uint(const unsigned char* p, size_t width, bool big_endian) {
  uint64_t v = 0;
  for (size_t i = 0; i < width; ++i) {
    size_t k = big_endian ? i : width - 1 - i;
    v = (v << 8) | p[k];
  }
  return v;
}

uint32_t load_word(const unsigned char* p, bool big_endian) {
  return static_cast<uint32_t>(load_uint(p, 4, big_endian));
}

// An address-sized field (4 or 8 bytes).
uint64_t load_addr(const unsigned char* p, const ElfLayout& l) {
  return load_uint(p, l.wide ? 8 : 4, l.big_endian);
}

uint64_t align_up(uint64_t n, uint64_t alignment) { return (n + alignment - 1) / alignment * alignment; }

// Looks for our note among the notes in bytes [0, size).
bool scan_notes(const unsigned char* notes, uint64_t size, uint64_t alignment, bool big_endian,
                ProductVersion* version) {
  constexpr uint64_t kOwnerSize = sizeof kVersionNoteOwner;  // with its NUL
  uint64_t pos = 0;
  while (size - pos >= 12) {
    uint64_t name_size = load_word(notes + pos, big_endian);
    uint64_t desc_size = load_word(notes + pos + 4, big_endian);
    uint32_t type = load_word(notes + pos + 8, big_endian);
    uint64_t name_at = pos + 12;
    uint64_t padded_name = align_up(name_size, alignment);
    if (padded_name > size - name_at) return false;
    uint64_t desc_at = name_at + padded_name;
    if (desc_size > size - desc_at) return false;
    if (type == kVersionNoteType && name_size == kOwnerSize && desc_size >= 8 &&
        std::memcmp(notes + name_at, kVersionNoteOwner, kOwnerSize) == 0) {
      version->most = load_word(notes + desc_at, big_endian);
      version->least = load_word(notes + desc_at + 4, big_endian);
      return true;
    }
    uint64_t next = desc_at + align_up(desc_size, alignment);
    if (next <= pos || next > size) return false;
    pos = next;
  }
  return false;
}

bool scan_note_area(const ByteSource& source, uint64_t offset, uint64_t size, uint64_t alignment,
                    bool big_endian, ProductVersion* version, std::vector<unsigned char>& buffer) {
  if (size < 12 || size > kMaxNoteBytes) return false;
  if (offset > source.size() || size > source.size() - offset) return false;
  buffer.resize(static_cast<size_t>(size));
  if (!source.read(offset, buffer.data(), buffer.size())) return false;
  // Notes are padded to 4 bytes, or to 8 in areas aligned to 8.
  uint64_t note_alignment = alignment == 8 ? 8 : 4;
  return scan_notes(buffer.data(), size, note_alignment, big_endian, version);
}

// Reads a header table of count entries of entry_size bytes at offset.
bool read_table(const ByteSource& source, uint64_t offset, uint64_t entry_size, uint64_t count,
                uint64_t min_entry_size, std::vector<unsigned char>& table) {
  if (count == 0 || entry_size < min_entry_size) return false;
  uint64_t bytes = entry_size * count;  // both at most 65535: no overflow
  if (bytes > kMaxTableBytes) return false;
  if (offset > source.size() || bytes > source.size() - offset) return false;
  table.resize(static_cast<size_t>(bytes));
  return source.read(offset, table.data(), table.size());
}

class MemorySource : public ByteSource {
 public:
  MemorySource(const unsigned char* data, size_t size) : data_(data), size_(size) {}
  uint64_t size() const override { return size_; }
  bool read(uint64_t offset, void* out, size_t size) const override {
    if (offset > size_ || size > size_ - offset) return false;
    if (size) std::memcpy(out, data_ + offset, size);
    return true;
  }

 private:
  const unsigned char* data_;
  size_t size_;
};

}  // namespace

bool find_version_record(const ByteSource& source, ProductVersion* version) {
  unsigned char ident[kIdentSize];
  if (!version || !source.read(0, ident, sizeof ident)) return false;
  if (ident[0] != 0x7f || ident[1] != 'E' || ident[2] != 'L' || ident[3] != 'F') return false;
  if (ident[kClassIndex] != 1 && ident[kClassIndex] != 2) return false;
  if (ident[kDataIndex] != 1 && ident[kDataIndex] != 2) return false;
  ElfLayout l = layout_for(ident[kClassIndex] == 2, ident[kDataIndex] == 2);

  unsigned char header[64];
  if (!source.read(0, header, l.header_size)) return false;
  std::vector<unsigned char> table;
  std::vector<unsigned char> notes;

  // One table of headers (sections or segments): the note areas among its
  // entries of note_type, scanned for the version.
  struct Table {
    size_t offset, entry_size, count, entry_min, type, area_offset, area_size, area_align;
    uint32_t note_type;
  };
  auto scan_table = [&](const Table& t) {
    uint64_t entry_size = load_uint(header + t.entry_size, 2, l.big_endian);
    uint64_t count = load_uint(header + t.count, 2, l.big_endian);
    if (!read_table(source, load_addr(header + t.offset, l), entry_size, count, t.entry_min, table)) return false;
    for (uint64_t i = 0; i < count; ++i) {
      const unsigned char* entry = table.data() + i * entry_size;
      if (load_word(entry + t.type, l.big_endian) != t.note_type) continue;
      if (scan_note_area(source, load_addr(entry + t.area_offset, l), load_addr(entry + t.area_size, l),
                         load_addr(entry + t.area_align, l), l.big_endian, version, notes))
        return true;
    }
    return false;
  };
  // The sections of type note (present unless the file was stripped of its
  // section table), then the note segments, which every linked library has.
  return scan_table({l.shoff, l.shentsize, l.shnum, l.sh_min, l.sh_type, l.sh_offset, l.sh_size, l.sh_addralign,
                     kSectionNote}) ||
         scan_table({l.phoff, l.phentsize, l.phnum, l.p_min, l.p_type, l.p_offset, l.p_filesz, l.p_align,
                     kProgramNote});
}

bool find_version_record(const unsigned char* data, size_t size, ProductVersion* version) {
  if (!data) return false;
  return find_version_record(MemorySource(data, size), version);
}

}  // namespace quire::platform
