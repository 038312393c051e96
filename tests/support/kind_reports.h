// Helpers for the report-kind tests (markers, models, orders): items and
// areas built as JSON for runs of the quire program, dBASE outputs split
// into values, and in-process runs of a kind on a FakeStoreReader.
#ifndef QUIRE_TESTS_SUPPORT_KIND_REPORTS_H_
#define QUIRE_TESTS_SUPPORT_KIND_REPORTS_H_

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "kinds/kinds.h"
#include "support/fake_store_reader.h"
#include "support/report_run.h"
#include "support/test_support.h"

namespace quire::testing {

// ---- items and areas as JSON -----------------------------------------------

// A marker modified at 1000000000 (3b9aca00) with three user names.
inline json marker(const std::string& name, int32_t modified = 1000000000) {
  return json{{"name", name}, {"modified", modified}, {"user_last_mod", "ann"},
              {"user_created", "bob"}, {"user_prev_mod", "cy"}};
}

// An area named AREA. (A vector, since a one-element braced json list would
// be taken for its element.)
inline json area(const std::vector<json>& markers, int notation = 0, int precision = 2) {
  return json{{"name", "AREA"}, {"notation", notation}, {"precision", precision},
              {"markers", json(markers)}};
}

inline json item(const std::string& name, int32_t modified = 1000, int32_t created = -1) {
  return json{{"name", name},          {"modified", modified},   {"created", created},
              {"user_last_mod", "ann"}, {"user_created", "bob"}, {"user_prev_mod", "cy"}};
}

inline json size_entry(const std::string& size, int32_t quantity, int32_t direction = 0) {
  return json{{"size", size}, {"quantity", quantity}, {"cutdown", "cd"}, {"half_piece", "hp"},
              {"base_size", "bs"}, {"direction", direction}, {"placed", quantity * 2}};
}

inline json order_model(const std::string& name, const json& sizes, const json& options = json::array()) {
  return json{{"name", name}, {"size_code", name + "-sc"}, {"fabric", "FAB"},
              {"options", options}, {"sizes", sizes}};
}

// ---- outputs and messages --------------------------------------------------

// Occurrences of the error line "Error %d, %s(%d)" in text.
inline int error_records(const std::string& text) {
  int n = 0;
  for (size_t at = text.find("Error "); at != std::string::npos; at = text.find("Error ", at + 1))
    ++n;
  return n;
}

// The dBASE descriptor name of column c and the value of that column in
// record r (fixed widths; the header length is at 8, the record length at 10).
inline std::string dbf_name(const std::string& b, size_t c) { return b.substr(32 + 32 * c, 10); }
inline std::string dbf_value(const std::string& b, size_t r, size_t c) {
  auto u16 = [&](size_t o) { return static_cast<unsigned char>(b[o]) | static_cast<unsigned char>(b[o + 1]) << 8; };
  size_t at = static_cast<size_t>(u16(8)) + r * static_cast<size_t>(u16(10)) + 1;
  for (size_t i = 0; i < c; ++i) at += static_cast<unsigned char>(b[32 + 32 * i + 16]);
  return b.substr(at, static_cast<unsigned char>(b[32 + 32 * c + 16]));
}

// ---- in-process runs on a FakeStoreReader --------------------------------

// A report command of quire::kinds (run_mkpc, ...).
using KindCommand = int (*)(StoreReader& reader, int argc, char** argv, QuireWindow hwnd, int detailed);

// Runs command on reader's items of area AREA into output, in this process:
// run.status is the command's result (1 written), run.err what it printed.
inline ReportRun run_kind(KindCommand command, FakeStoreReader& reader, const std::string& output,
                          bool detailed = false) {
  std::vector<std::string> args = {"dmp", "AREA", output};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  FakePrints prints;
  ReportRun r;
  r.run.status = command(reader, static_cast<int>(args.size()), argv.data(), 0, detailed ? 1 : 0);
  r.run.err = prints.text();
  r.bytes = read_file(output);
  for (const std::string& line : csv_lines(r.bytes)) r.lines.push_back(csv_values(line));
  return r;
}

// A marker of the in-memory reader: its header counts the overrides and
// splices it holds.
inline FakeItem fake_marker(const std::string& name, std::vector<Bytes> overrides = {},
                            std::vector<Bytes> splices = {}) {
  namespace mh = records::marker_header;
  FakeItem m;
  m.name = name;
  m.modified = 0x100;
  m.header = record_with_text(mh::kSizeEx, mh::kName, name);
  records::store_i32(m.header.data() + mh::kOverrides, static_cast<int32_t>(overrides.size()));
  records::store_i32(m.header.data() + mh::kSplices, static_cast<int32_t>(splices.size()));
  m.overrides = std::move(overrides);
  m.splices = std::move(splices);
  return m;
}

// ---- fixtures --------------------------------------------------------------

// A private store and the time zone pinned for the calendar texts of the
// detailed form.
class KindReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    set_environment("TZ", "UTC");
    ::tzset();
  }
  // A copy of the program and its libraries in root/dir, optionally with a
  // resource library installed beside libquire.so.
  std::string copied_program(const std::string& dir, const std::string& resource_library = "") {
    namespace fs = std::filesystem;
    fs::path to = store_.root() / dir;
    fs::create_directories(to);
    for (const std::string& file : {program_file("quire"), library_file("quire"), library_file("plotbase"),
                                    library_file("quire_files")})
      fs::copy_file(fs::path(bin_dir()) / file, to / file);
    if (!resource_library.empty()) fs::copy_file(resource_library, to / library_file("quireres"));
    return (to / program_file("quire")).string();
  }
  TempStore store_;
};

class MarkerReportTest : public KindReportTest {};
class ModelReportsTest : public KindReportTest {};

}  // namespace quire::testing

#endif  // QUIRE_TESTS_SUPPORT_KIND_REPORTS_H_
