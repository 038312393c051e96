// The eight report commands, one per report kind. Each runs one report
// through the fixed run of DumpReport (command line, header, item loop,
// finish) with hwnd as the host window and returns 1 when the table was
// written, else 0 (the reason printed through the reader's printer). Every
// item is read through reader. The exported dmp_* functions call these.
#ifndef QUIRE_KINDS_KINDS_H_
#define QUIRE_KINDS_KINDS_H_

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

}  // namespace quire::kinds

#endif  // QUIRE_KINDS_KINDS_H_
