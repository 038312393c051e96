// walk_markers: walks every marker of an area through libplotbase as the
// report library does (lookup next, open, read the header, close) and prints
// what it saw. Used to measure the library's speed and peak memory:
//
//   /usr/bin/time -v build/release/bin/walk_markers AREA [--pieces]
//
// With --pieces it also reads every marker piece (as the MKPC report does).
#include <chrono>
#include <cstdio>
#include <cstring>

#include "quire/plotbase.h"
#include "quire/records.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: walk_markers AREA [--pieces]\n");
    return 2;
  }
  bool pieces = argc > 2 && std::strcmp(argv[2], "--pieces") == 0;
  auto start = std::chrono::steady_clock::now();
  pb_connect_to_network();
  unsigned char area[PB_AREA_RECORD_SIZE];
  int r = pb_lookup_storage_areas(area, argv[1], 0);
  if (r != 1) {
    std::fprintf(stderr, "no area %s (%d: Error %d, %s(%d))\n", argv[1], r, pb_error.code, pb_error.source,
                 pb_error.line);
    return 1;
  }
  char name[PB_NAME_BUFFER_SIZE];
  unsigned char item[PB_ITEM_AREA_SIZE];
  unsigned char header[quire::records::marker_header::kSize];
  unsigned char piece[quire::records::marker_piece::kSize];
  long markers = 0, piece_rows = 0;
  double width_sum = 0;
  for (int mode = 0; pb_lookup_markers(area, name, "*", mode) == 1; mode = 1) {
    if (pb_open_marker(area, name, item) != 1) {
      std::fprintf(stderr, "open %s: Error %d, %s(%d)\n", name, pb_error.code, pb_error.source, pb_error.line);
      return 1;
    }
    if (pb_get_marker_header(name, header, item) == 1)
      width_sum += quire::records::load_double(header + quire::records::marker_header::kWidth);
    if (pieces)
      for (int p = pb_first_marker_piece(item, piece); p == 1; p = pb_next_marker_piece(item, piece)) ++piece_rows;
    if (pb_close_marker(area, name, item) != 1) {
      std::fprintf(stderr, "close %s: Error %d, %s(%d)\n", name, pb_error.code, pb_error.source, pb_error.line);
      return 1;
    }
    ++markers;
  }
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%ld markers (of %d), %ld piece rows, width sum %.2f, %.3f s\n", markers, pbc_total_items, piece_rows,
              width_sum, seconds);
  return 0;
}
