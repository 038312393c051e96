// The eight report commands, one per report kind. Each runs one report
// through the fixed run of DumpReport (command line, header, item loop,
// finish) with hwnd as the host window and returns 1 when the table was
// written, else 0 (the reason printed through pb_printf). The exported
// dmp_* functions call these.
#ifndef QUIRE_KINDS_KINDS_H_
#define QUIRE_KINDS_KINDS_H_

#include "quire/quire.h"

namespace quire::kinds {

int run_mkhdr(int argc, char** argv, QuireWindow hwnd, int detailed);
int run_mkmc(int argc, char** argv, QuireWindow hwnd, int detailed);
int run_mkmod(int argc, char** argv, QuireWindow hwnd, int detailed);
int run_mkov(int argc, char** argv, QuireWindow hwnd, int detailed);
int run_mkpc(int argc, char** argv, QuireWindow hwnd, int detailed);
int run_mksplice(int argc, char** argv, QuireWindow hwnd, int detailed);
int run_model(int argc, char** argv, QuireWindow hwnd, int detailed);
int run_ordml(int argc, char** argv, QuireWindow hwnd, int detailed);

}  // namespace quire::kinds

#endif  // QUIRE_KINDS_KINDS_H_
