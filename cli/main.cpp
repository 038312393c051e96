// quire: report commands on storage areas, and `quire area` to manage them.
#include <cstdio>
#include <cstring>

#include "commands.h"

int main(int argc, char** argv) {
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    std::fputs(quire::cli::program_usage(), argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  if (std::strcmp(argv[1], "area") == 0) return quire::cli::run_area_command(argc - 1, argv + 1);
  return quire::cli::run_report_command_line(argc - 1, argv + 1);
}
