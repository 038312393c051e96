// The eight report kinds, declared once: each one's command and what its
// table is. Each command runs one report through the fixed run of
// DumpReport (command line, header, item loop, finish) with hwnd as the
// host window, reading every item through reader, and returns 1 when the
// table was written, else 0 (the reason printed through the reader's
// printer). The exported dmp_* functions call these; the C interface hands
// the table to hosts (quire_report_kind), from which the program takes its
// commands, its usage and the order of `quire all`.
#ifndef QUIRE_KINDS_KINDS_H_
#define QUIRE_KINDS_KINDS_H_

#include <span>

#include "quire/quire.h"
#include "report/store_reader.h"

namespace quire::kinds {

int run_mkhdr(StoreReader& reader, int argc, char** argv, QuireWindow hwnd, int detailed);
int run_mkmc(StoreReader& reader, int argc, char** argv, QuireWindow hwnd, int detailed);
int run_mkmod(StoreReader& reader, int argc, char** argv, QuireWindow hwnd, int detailed);
int run_mkov(StoreReader& reader, int argc, char** argv, QuireWindow hwnd, int detailed);
int run_mkpc(StoreReader& reader, int argc, char** argv, QuireWindow hwnd, int detailed);
int run_mksplice(StoreReader& reader, int argc, char** argv, QuireWindow hwnd, int detailed);
int run_model(StoreReader& reader, int argc, char** argv, QuireWindow hwnd, int detailed);
int run_ordml(StoreReader& reader, int argc, char** argv, QuireWindow hwnd, int detailed);

// One report kind.
struct KindEntry {
  const char* name;        // the command's name, lower case: "mkpc" (dmp_mkpc)
  const char* tag;         // the report tag of its table's preamble: "MKPC"
  const char* item_word;   // what one of its items is called in messages
  const char* key_column;  // its table's first column: the item each row is of
  const char* rows;        // what one row of its table stands for
  int (*run)(StoreReader& reader, int argc, char** argv, QuireWindow hwnd, int detailed);
};

// In the order the program lists them and `quire all` runs them.
inline constexpr KindEntry kKinds[] = {
    {"mkhdr", "MKHDR", "marker", "Name", "marker", run_mkhdr},
    {"mkpc", "MKPC", "marker", "Name", "piece of every marker", run_mkpc},
    {"mkov", "MKOV", "marker", "Name", "piece override of every marker", run_mkov},
    {"mksplice", "MKSPLICE", "marker", "Name", "splice of every marker", run_mksplice},
    {"mkmc", "MKMC", "marker", "Marker_Name",
     "entry of a marker's point-attribute, notch and internal-mark counts", run_mkmc},
    {"mkmod", "MKMOD", "marker", "Marker_name",
     "size entry (and option) of each model of the order model list a marker was made from", run_mkmod},
    {"model", "MODEL", "model", "Model_Name", "piece of every model", run_model},
    {"ordml", "ORDML", "order", "Order_Name", "size entry of each model of every order", run_ordml},
};

inline constexpr std::span<const KindEntry> kinds() { return kKinds; }

}  // namespace quire::kinds

#endif  // QUIRE_KINDS_KINDS_H_
