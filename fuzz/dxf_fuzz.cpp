// Feeds arbitrary bytes to the pattern-file import as a DXF file (ASCII or
// binary, told by its first bytes): first the reader, both of its passes
// over the same bytes, then the whole import that maps the file to area
// records, with a marker of the placed pieces, into a scratch store.
// Seeds: the sample pattern files beside the project, when present
// (scripts/run-fuzz gathers them at run time).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_store.h"
#include "pattern_reader.h"
#include "area_store.h"
#include "pattern_import.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  quire::fuzz::use_scratch_store();
  return 0;
}

// A refused file says why in one line, and no exception was behind it.
static void refused_in_one_line(const quire::Status& status) {
  const std::string message = status.message();
  if (message.empty() || message.find('\n') != std::string::npos || status.code() == quire::StatusCode::kInternal)
    __builtin_trap();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  namespace dxf = quire::areas::dxf;
  const char* bytes = reinterpret_cast<const char*>(data);
  dxf::PatternFile file;
  std::vector<std::string> warnings;
  quire::Status status =
      dxf::read_pattern([&](quire::Status*) { return std::make_unique<dxf::Reader>(bytes, size); }, &file, &warnings);
  if (!status.ok()) {
    refused_in_one_line(status);
    return 0;
  }
  // A read file has measured pieces.
  if (file.blocks.empty() || file.placements.empty()) __builtin_trap();
  for (const dxf::Placement& p : file.placements)
    if (p.block >= file.blocks.size() || !(p.area >= 0) || !(p.perimeter >= 0)) __builtin_trap();

  // The import of what the reader took: stored, or refused in one line.
  quire::areas::PatternSource source;
  source.name = "fuzz.dxf";
  source.in_memory = true;
  source.bytes = std::string_view(bytes, size);
  quire::areas::PatternImportOptions options;
  options.area = "FUZZ";
  options.marker = "M";
  warnings.clear();
  quire::areas::AreaSummary summary;
  status = quire::areas::import_pattern_files({source}, options, &warnings, &summary);
  if (!status.ok()) refused_in_one_line(status);
  return 0;
}
