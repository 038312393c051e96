// Feeds arbitrary bytes to a report run as its previous output.
//
// Input: one mode byte, then the bytes of the file found at the output path.
// Mode bits: 0 dBASE output (else CSV), 1 detailed column set (12 columns,
// else 9), 2 imperial notation, 3..7 which items of the previous output are
// changed, dropped or joined by new ones. The items of the run are taken
// from the previous output itself, so that its records get matched, copied
// and converted, not only skipped.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "quire/plotbase.h"
#include "table/previous_table.h"
#include "table/report_table.h"

namespace {

std::string g_directory;

void quiet(const char*, void*) {}

void remove_directory() {
  std::string command = "rm -rf '" + g_directory + "'";
  if (std::system(command.c_str()) != 0) std::fprintf(stderr, "could not remove %s\n", g_directory.c_str());
}

void write_bytes(const std::string& path, const uint8_t* data, size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, f) != size) std::abort();
  std::fclose(f);
}

struct Item {
  std::string name;
  std::string stamp;
};

// The items a run over this previous output would see, in the order of the
// store: the previous output's own keys, some changed, dropped or added.
std::vector<Item> items_of(const std::string& path, uint8_t mode, bool detailed) {
  std::vector<Item> items;
  quire::Status ignored;
  std::unique_ptr<quire::table::PreviousTableReader> reader = quire::table::open_previous_table(quire::platform::system_file_env(), path, &ignored);
  if (!reader) return items;
  quire::table::PreviousTableReader& previous = *reader;
  if (previous.read_header(mode & 4 ? 1 : 0) != quire::table::PreviousTableReader::kHeaderOk) return items;
  if (!previous.find_columns("Name", "Time")) return items;
  previous.read_record();
  int index = 0;
  while (!previous.exhausted() && items.size() < 64) {
    std::string key = previous.key();
    if (items.empty() || pb_stricmp(items.back().name.c_str(), key.c_str()) < 0) {
      Item item{key, previous.stamp()};
      int bit = 3 + index % 5;
      ++index;
      if (mode & (1 << bit)) {
        switch (index % 3) {
          case 0: item.stamp += "x"; break;     // changed
          case 1: item.name += "!"; break;      // a new item beside it
          default: item.name.clear(); break;    // gone
        }
      }
      if (!item.name.empty() && (items.empty() || pb_stricmp(items.back().name.c_str(), item.name.c_str()) < 0))
        items.push_back(item);
    }
    previous.read_record();
  }
  (void)detailed;
  return items;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  pb_set_print_handler(&quiet, nullptr);
  char pattern[] = "/tmp/quire-fuzz-XXXXXX";
  const char* shm = "/dev/shm/quire-fuzz-XXXXXX";
  std::string shm_pattern = shm;
  char* made = ::access("/dev/shm", W_OK) == 0 ? ::mkdtemp(shm_pattern.data()) : nullptr;
  if (made == nullptr) made = ::mkdtemp(pattern);
  if (made == nullptr) std::abort();
  g_directory = made;
  if (::chdir(made) != 0) std::abort();
  std::atexit(&remove_directory);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t mode = data[0];
  const bool dbase = mode & 1;
  const bool detailed = mode & 2;
  const int notation = mode & 4 ? 1 : 0;
  const std::string path = g_directory + (dbase ? "/out.dbf" : "/out.csv");
  write_bytes(path, data + 1, size - 1);
  write_bytes(g_directory + "/delta.lst", nullptr, 0);
  std::vector<Item> items = items_of(path, mode, detailed);

  quire::ReportTable& t = quire::report_table();
  if (t.open_report_output(path.c_str(), "Name", "Time", notation, pb_printf) != 1) std::abort();
  t.write_preamble_value(0, "DB_VERSION_3");
  t.write_preamble_value(0, notation == 1 ? "IMPERIAL" : "METRIC");
  t.write_preamble_value(0, "MKPC");
  t.write_preamble_value(1, "/store/fuzz.sqlite");
  t.define_field(0, 'C', 20, 0, "Name");
  t.define_field(0, 'C', 20, 0, "Piece");
  t.define_field(0, 'C', 20, 0, "Category");
  if (detailed) {
    t.define_field(0, 'F', 16, 3, "Area");
    t.define_field(0, 'F', 16, 3, "Perimeter");
    t.define_field(0, 'C', 6, 0, "Size");
  }
  const int time_width = detailed ? 24 : 8;
  t.define_field(0, 'C', time_width, 0, "Time");
  t.define_field(0, 'C', 40, 0, "User_Last_Mod");
  t.define_field(0, 'C', time_width, 0, "Created_Time");
  t.define_field(0, 'C', 40, 0, "User_Created");
  t.define_field(0, 'C', time_width, 0, "Prev_Mod_Time");
  t.define_field(1, 'C', 40, 0, "User_Prev_Mod");
  size_t count = 0;
  for (const Item& item : items) {
    if (t.reuse_previous_record(item.name.c_str(), item.stamp.c_str()) == 1) {
      t.write_field(1, item.name.c_str());
      t.write_field(0, "PIECE");
      t.write_field(0, "CAT");
      if (detailed) {
        t.write_field(0, 1.5);
        t.write_field(0, 2.25);
        t.write_field(0, "M");
      }
      t.write_field(0, item.stamp.c_str());
      for (int i = 0; i < 5; ++i) t.write_field(0, "u");
    }
    // A stop request now and then copies what is left.
    if (++count == 3 && (mode & 0x80)) {
      t.copy_remaining_previous();
      break;
    }
  }
  if (t.close_report_output() != 1) std::abort();
  return 0;
}
