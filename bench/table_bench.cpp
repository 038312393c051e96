// table_bench: the speed of the table writer, CSV and dBASE III, on rows of
// the shape the marker reports write (texts that need quoting, integers and
// decimals). Run a release build:
//
//   build/release/bin/table_bench
//
// Each iteration writes one whole table of the given number of rows into a
// scratch directory and puts it in place, as a report run does.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "quire/plotbase.h"
#include "table/report_table.h"

namespace {

// A scratch directory for the benchmark's outputs, removed at exit.
class ScratchDirectory {
 public:
  ScratchDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quire-bench.XXXXXX").string();
    if (char* made = mkdtemp(pattern.data())) path_ = made;
  }
  ~ScratchDirectory() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Writes one table of `rows` rows at path and closes it; false when the
// table could not be opened or completed.
bool write_table(const std::string& path, int64_t rows) {
  quire::ReportTable& t = quire::report_table();
  if (t.open_report_output(path.c_str(), "Name", "Time", 0, pb_printf) != 1) return false;
  t.write_preamble_value(0, "1.0");
  t.write_preamble_value(0, "Metric");
  t.write_preamble_value(0, "BENCH");
  t.write_preamble_value(1, "/bench/area");
  t.define_field(0, 'C', 20, 0, "Name");
  t.define_field(0, 'C', 20, 0, "Piece");
  t.define_field(0, 'N', 5, 0, "Count");
  t.define_field(0, 'F', 16, 3, "Area");
  t.define_field(1, 'C', 24, 0, "Time");
  char name[24];
  for (int64_t i = 0; i < rows; ++i) {
    std::snprintf(name, sizeof name, "MK%07lld", static_cast<long long>(i));
    t.write_field(1, name);
    t.write_field(0, i % 3 == 0 ? "front, \"left\"" : "back");
    t.write_field(0, static_cast<int32_t>(i % 1000));
    t.write_field(0, 1234.5678 + static_cast<double>(i));
    t.write_field(0, "5f5e1000");
  }
  return t.close_report_output() == 1;
}

void run(benchmark::State& state, const char* file_name) {
  ScratchDirectory scratch;
  std::string path = (scratch.path() / file_name).string();
  for (auto _ : state) {
    if (!write_table(path, state.range(0))) {
      state.SkipWithError("the table could not be written");
      return;
    }
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_WriteCsvTable(benchmark::State& state) { run(state, "bench.csv"); }
void BM_WriteDbfTable(benchmark::State& state) { run(state, "bench.dbf"); }

BENCHMARK(BM_WriteCsvTable)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteDbfTable)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
