// Counts kept while a table is written: the rows it received and, per
// column, the values that had to be cut or left blank to fit a dBASE width.
// The writer notes them as it goes; the run's figures (quire.h) read them.
#ifndef QUIRE_TABLE_TABLE_FIGURES_H_
#define QUIRE_TABLE_TABLE_FIGURES_H_

#include <cstdint>

namespace quire::table {

// The most columns a table has (the writer refuses more).
constexpr int kFigureColumns = 100;

// Forgets the counts of the previous table; called when a table is opened.
void reset_table_figures();

// Forgets the rows and the cut values counted so far, keeping the columns
// and the state of the change log; called when a table starts over.
void restart_table_rows();

// Column index (0-based) is declared with its type letter, width and name.
// Indexes at or past kFigureColumns are ignored.
void note_column(int index, char type, int width, const char* name);

// One record went into the table, written afresh or copied.
void note_row();
// count records were copied into the table at once.
void note_rows(long long count);

// A value of column index did not fit its width: a text was cut, or a number
// was written as blanks.
void note_value_cut(int index);

// The change log of this run could not be kept (it was not opened or could
// not be written).
void note_change_log_lost();

// The counts, for the run's figures.
int64_t table_rows();
int table_columns();
int64_t column_values_cut(int index);
char column_type(int index);
int column_width(int index);
const char* column_name(int index);
bool change_log_lost();

}  // namespace quire::table

#endif  // QUIRE_TABLE_TABLE_FIGURES_H_
