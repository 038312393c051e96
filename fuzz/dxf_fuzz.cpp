// Feeds arbitrary bytes to the pattern-file reader as a DXF file (ASCII or
// binary, told by its first bytes), both of its passes over the same bytes.
// Seeds: the sample pattern files beside the project, when present
// (scripts/run-fuzz gathers them at run time).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "pattern_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  namespace dxf = plotbase::dxf;
  const char* bytes = reinterpret_cast<const char*>(data);
  dxf::PatternFile file;
  std::vector<std::string> warnings;
  std::string error;
  bool ok = dxf::read_pattern([&](std::string*) { return std::make_unique<dxf::Reader>(bytes, size); }, &file,
                              &warnings, &error);
  // A refused file says why in one line; a read one has measured pieces.
  if (!ok && (error.empty() || error.find('\n') != std::string::npos)) __builtin_trap();
  if (!ok) return 0;
  if (file.blocks.empty() || file.placements.empty()) __builtin_trap();
  for (const dxf::Placement& p : file.placements)
    if (p.block >= file.blocks.size() || !(p.area >= 0) || !(p.perimeter >= 0)) __builtin_trap();
  return 0;
}
