#include "report/run_figures.h"

#include <cstdio>
#include <cstring>

#include "quire/quire.h"
#include "report/dump_report.h"
#include "table/table_figures.h"

namespace quire {
namespace {

struct Figures {
  QuireRunFigures run = {};
  char item[kItemNameSize] = {};
  bool item_failed = false;
  const char* error_what = nullptr;
};

Figures g_figures;

}  // namespace

void begin_run_figures() {
  g_figures = Figures();
  table::reset_table_figures();
}

void restart_run_figures() {
  g_figures.run = QuireRunFigures{};
  g_figures.item[0] = '\0';
  g_figures.item_failed = false;
}

void begin_item(const char* name) {
  ++g_figures.run.items_seen;
  // Cut to the room there is, as every item passes here.
  const size_t length = name ? strnlen(name, sizeof g_figures.item - 1) : 0;
  if (length > 0) std::memcpy(g_figures.item, name, length);
  g_figures.item[length] = '\0';
  g_figures.item_failed = false;
}

void note_item_read() { ++g_figures.run.items_read; }
void note_item_reused() { ++g_figures.run.items_reused; }

void end_item() {
  g_figures.item[0] = '\0';
  g_figures.item_failed = false;
}

void note_name_missing() { ++g_figures.run.names_missing; }
void note_run_stopped() { g_figures.run.stopped = 1; }
void note_run_ended_early() { g_figures.run.ended_early = 1; }

bool current_item_failed() { return g_figures.item[0] != '\0' && g_figures.item_failed; }

void note_error_line(const char* what) {
  if (g_figures.item[0] != '\0' && !g_figures.item_failed) {
    g_figures.item_failed = true;
    ++g_figures.run.items_failed;
  }
  g_figures.error_what = what ? what : "";
}

void end_error_line() { g_figures.error_what = nullptr; }

void get_run_figures(QuireRunFigures* figures) {
  if (figures == nullptr) return;
  *figures = g_figures.run;
  figures->rows_written = table::table_rows();
  figures->log_lost = table::change_log_lost() ? 1 : 0;
  figures->columns = table::table_columns();
}

int64_t run_column(int index, const char** name, char* type, int* width) {
  if (index < 0 || index >= table::table_columns()) return -1;
  if (name) *name = table::column_name(index);
  if (type) *type = table::column_type(index);
  if (width) *width = table::column_width(index);
  return table::column_values_cut(index);
}

const char* current_item() { return g_figures.item; }

const char* printing_error() { return g_figures.error_what; }

}  // namespace quire
