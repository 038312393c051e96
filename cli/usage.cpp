#include "commands.h"

namespace quire::cli {

const char* program_usage() {
  return "usage: quire KIND [--detailed] [--stop-after N] [--progress|--no-progress] [-Llist] [-Syy/mm/dd[,hh:mm]]\n"
         "                  [-Eyy/mm/dd[,hh:mm]] [-N0|-N1] AREA OUTPUT\n"
         "       quire area import FILE|-\n"
         "       quire area export NAME [FILE]\n"
         "       quire area list\n"
         "       quire area generate NAME [--markers N] [--models N] [--orders N] [--pieces-per-marker N] [--seed S]\n"
         "\n"
         "KIND is one of: mkhdr mkpc mkov mksplice mkmc mkmod model ordml.\n"
         "OUTPUT ending in .dbf is written as a dBASE III table, anything else as CSV.\n";
}

}  // namespace quire::cli
