// ReportTable: the one output table of a report run, CSV or dBASE III, and
// the reuse of the previous output at the same path with its change log.
//
// Calling order within one run: open_report_output; exactly four
// write_preamble_value calls (the last with is_last set); one define_field per
// column (the last with is_last set); then records, each one write_field per
// declared column in declaration order, the first with is_first set, with
// reuse_previous_record / copy_remaining_previous inserting whole copied
// records between them; then close_report_output.
//
// The new table is written to a temporary file in the output's directory and
// takes the output path's place only at close_report_output, when it is
// complete; the table that stood there becomes OLD.DAT beside it. A table
// written into a file gets a run record beside it (run_record.h), written
// with it and put in place with it; the next run at the path reuses the
// table by that record where the record is of the same kind, area, format,
// notation and column set, and checks each item's rows against it.
#ifndef QUIRE_TABLE_REPORT_TABLE_H_
#define QUIRE_TABLE_REPORT_TABLE_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

#include "quire/files/file_env.h"
#include "table/table_messages.h"

namespace quire {

// One output column.
struct FieldSpec {
  char type = 'C';   // 'C' text, 'N' 32-bit integer, 'F' double
  int width = 0;     // column width in characters (dBASE)
  int decimals = 0;  // digits after the point for 'F'
};

class ReportTable {
 public:
  // Every file the table reads or writes goes through env.
  explicit ReportTable(platform::FileEnv& env);
  ~ReportTable();
  ReportTable(const ReportTable&) = delete;
  ReportTable& operator=(const ReportTable&) = delete;

  // Opens the output at path: dBASE III when its file name from its first
  // "." reads ".dbf" in any case, else CSV. key_column and time_column name the
  // previous output's item-name and change-stamp columns; notation (0 metric,
  // 1 imperial) must match a text previous output's. Every message of the
  // run, until the next open, goes through print. Returns 1, or 0 after a
  // message when the output cannot be written (nothing at the path is
  // touched then).
  int open_report_output(const char* path, const char* key_column, const char* time_column,
                         int notation, PrintFunction print);

  // One of the four preamble values; is_last for the fourth.
  void write_preamble_value(int is_last, const char* text);

  // Declares the next column; is_last for the last one.
  void define_field(int is_last, char type, int width, int decimals, const char* name);

  // Writes the next value of the current record; is_first starts a record.
  // The value is taken as the declared column's type: a text for 'C', a
  // double for 'F', a 32-bit integer for 'N' (other value kinds are converted).
  void write_field(int is_first, const char* text);
  // A text of length bytes, none of them NUL (text need not end in one).
  void write_field(int is_first, const char* text, size_t length);
  void write_field(int is_first, double value);
  void write_field(int is_first, int32_t value);

  // Asks whether the item must be dumped: 1 when it is new or changed (and
  // logged so), 0 when its records were copied from the previous output.
  // change_time is the item's modification time, of which change_stamp is
  // the time text: the change feed's new stamp (without it, the text read
  // back).
  int reuse_previous_record(const char* item_name, const char* change_stamp,
                            std::optional<int64_t> change_time = std::nullopt);

  // After open_report_output: the report kind ("MKPC") and the storage area
  // as the run was given them, for the change feed's lines.
  void describe_run(const char* kind, const char* area);

  // After open_report_output, before the first item: the storage area as
  // the run record names it, the canonical absolute path of its file, so
  // that two areas of one name in two stores are never taken for each
  // other (without it the record names the area as the preamble does).
  void identify_area(const char* identity);

  // The item is in the store but left out by the run's date filter: its
  // previous records are passed over, neither copied nor logged.
  void leave_out(const char* item_name);

  // After open_report_output: the run asks only about the items of a list,
  // in the store's order. Previous items it does not ask about are passed
  // over, neither copied nor logged deleted.
  void take_listed_items_only();

  // The item whose rows are being written could not be read whole: the
  // rows it wrote stay, but the run record gets no entry for it, so that
  // the next run reads it again.
  void forget_item();

  // Copies every previous record not yet consumed (the run was stopped).
  void copy_remaining_previous();

  // At the normal end of a run: the items of every previous record not yet
  // consumed are gone from the store. Logs DELETED once per item; their
  // records are not copied.
  void drop_remaining_previous();

  // Finishes the table and puts it in place of the output path. Returns 1,
  // or 0 after a message when any write, flush, sync or rename failed (the
  // output path and OLD.DAT are then as they were before the run).
  int close_report_output();

  // Gives up the table being written, for a run that cannot go on: the
  // output path, OLD.DAT and the change log stay as they were, the
  // temporary files go and the directory is unlocked. Nothing is printed.
  void abandon_report_output();

  // True between a successful open_report_output and close_report_output.
  bool is_open() const;

  // A previous table found damaged after the run began to use it (keys out
  // of order, a record without item name or with the wrong number of
  // values, a last record cut short) is dropped with one line naming it and
  // why, and the table and its change lines are taken back to their state
  // before the first item: the caller must then walk the items again from
  // the first, each read from the store. restart_pending tells so; once the
  // caller starts again it takes the request with take_restart.
  bool restart_pending() const;
  bool take_restart();

  class Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// The module's one table, used by every report run of the process.
ReportTable& report_table();

}  // namespace quire

#endif  // QUIRE_TABLE_REPORT_TABLE_H_
