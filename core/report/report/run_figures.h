// The figures of the current report run, kept by the item loop and read by
// hosts through quire_run_figures (quire.h).
#ifndef QUIRE_REPORT_RUN_FIGURES_H_
#define QUIRE_REPORT_RUN_FIGURES_H_

#include <cstdint>

#include "quire/quire.h"

namespace quire {

// Starts the figures of a new command call.
void begin_run_figures();
// Forgets the item counts when the item loop starts again from the first
// item (the table's own counts are the table's to reset).
void restart_run_figures();

// The loop came to item name (it is the current item until end_item).
void begin_item(const char* name);
// The current item was opened and read from the store.
void note_item_read();
// The current item's records were copied from the previous table.
void note_item_reused();
// The current item is done with.
void end_item();

// A name of the list file that the area does not have.
void note_name_missing();
// The host asked the run to stop.
void note_run_stopped();
// A lookup, open or close failed: the rest of the items are not read.
void note_run_ended_early();

// Counts the current item, if any, as failed (once however often it fails)
// and makes what the text of the next error line: what failed.
void note_error_line(const char* what);
// The error line is printed.
void end_error_line();
// True when the current item has failed (an error line was printed for it).
bool current_item_failed();

// What hosts read after a command (quire_run_figures and the calls after it
// in quire.h): the figures of the last run; the name, type, width and cut
// values of column index (-1 when out of range); the item being handled
// ("" between items); what failed while the store's error line is being
// printed (null otherwise).
void get_run_figures(QuireRunFigures* figures);
int64_t run_column(int index, const char** name, char* type, int* width);
const char* current_item();
const char* printing_error();

}  // namespace quire

#endif  // QUIRE_REPORT_RUN_FIGURES_H_
