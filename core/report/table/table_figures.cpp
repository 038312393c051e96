#include "table/table_figures.h"

#include <cstdio>

namespace quire::table {
namespace {

constexpr int kNameSize = 64;

struct Column {
  char type = 'C';
  int width = 0;
  char name[kNameSize] = {};
  int64_t cut = 0;
};

struct Figures {
  int64_t rows = 0;
  int columns = 0;
  bool log_lost = false;
  Column column[kFigureColumns];
};

Figures g_figures;

bool valid(int index) { return index >= 0 && index < kFigureColumns; }

}  // namespace

void reset_table_figures() { g_figures = Figures(); }

void restart_table_rows() {
  g_figures.rows = 0;
  for (Column& c : g_figures.column) c.cut = 0;
}

void note_column(int index, char type, int width, const char* name) {
  if (!valid(index)) return;
  Column& c = g_figures.column[index];
  c.type = type;
  c.width = width;
  c.cut = 0;
  std::snprintf(c.name, sizeof c.name, "%s", name ? name : "");
  if (index + 1 > g_figures.columns) g_figures.columns = index + 1;
}

void note_row() { ++g_figures.rows; }
void note_rows(long long count) { g_figures.rows += count; }

void note_value_cut(int index) {
  if (valid(index)) ++g_figures.column[index].cut;
}

void note_change_log_lost() { g_figures.log_lost = true; }

int64_t table_rows() { return g_figures.rows; }
int table_columns() { return g_figures.columns; }
int64_t column_values_cut(int index) { return valid(index) ? g_figures.column[index].cut : 0; }
char column_type(int index) { return valid(index) ? g_figures.column[index].type : 'C'; }
int column_width(int index) { return valid(index) ? g_figures.column[index].width : 0; }
const char* column_name(int index) { return valid(index) ? g_figures.column[index].name : ""; }
bool change_log_lost() { return g_figures.log_lost; }

}  // namespace quire::table
