// DumpReport: the report object behind every report command.
//
// A command constructs one object of its report kind, sets `detailed`, calls
// run_report and destroys the object. run_report reads the command line,
// writes the table header (slot 0), walks the items through the per-item
// pipeline (date filter, change stamp, previous-output reuse, open / dump /
// close) and finishes the output (slot 1).
#ifndef QUIRE_REPORT_DUMP_REPORT_H_
#define QUIRE_REPORT_DUMP_REPORT_H_

#include <cstdint>
#include <cstdio>
#include <string_view>

#include "quire/date_option.h"
#include "quire/quire.h"
#include "quire/status.h"
#include "report/store_cursor.h"
#include "report/store_reader.h"
#include "report/time_text.h"
#include "resources/resources.h"
#include "table/report_table.h"

namespace quire {

// The usage text of every report command.
extern const char kUsageText[];

// The module-level host window of the latest command call.
void set_host_window(QuireWindow window);
QuireWindow host_window();

class DumpReport {
 public:
  // A report over the items of kind, read through reader (which must
  // outlive the report).
  DumpReport(StoreReader& reader, StoreKind kind);
  virtual ~DumpReport();
  DumpReport(const DumpReport&) = delete;
  DumpReport& operator=(const DumpReport&) = delete;

  // The three operations of a report kind, in calling order.
  // Opens the output, writes the preamble and declares the columns.
  // Returns 1, or 0 when the output could not be opened (message printed).
  virtual int write_header() = 0;
  // The table writer's close_report_output. Returns 1, or 0 when the
  // table could not be completed (message printed).
  virtual int finish_output();
  // Writes the rows of one open item (its area at item.area). Returns the
  // failure to report (its error line is printed by the run before the
  // item is closed), or ok when the item was read, or its rows ended
  // without a failure worth a message.
  virtual Status dump_item(const Item& item) = 0;

  // What the items of this report are called in messages ("marker").
  const char* item_word() const { return quire::item_word(cursor_.kind()); }

  // The one place a run prints a failure. A failure of the store (one with
  // a noted source) goes out as its error line "Error %d, %s(%d)": the
  // store's code, source and line; its message says in a few words what
  // failed ("header read failed"), which is not printed, but a host reads
  // it while the line goes out (quire.h), and the item being handled
  // counts as failed in the run's figures. Any other failure is printed as
  // its message on a line of its own. Nothing for a success.
  void report_failure(const Status& failure);

  // The function the run's messages go through.
  PrintFunction print() const { return reader_.printer(); }

  StoreReader& reader() { return reader_; }

  // The whole run: 1 when the command line was accepted and the output
  // finished, 0 when the command line was rejected or the output failed.
  int run_report(int argc, char** argv);

  // Reads the options, looks up the storage area and takes the output path.
  // 1 = the run may go on; 0 = stop (a message has been printed).
  int parse_command_line(int argc, char** argv);

  // ---- helpers for the report kinds ------------------------------------

  // The time text of t under this run's `detailed` flag.
  char* time_text(int32_t t, char* out) const { return format_time_text(t, detailed, out); }

  // Opens the output with the kind's key and time column names and writes
  // the four preamble values (version, notation word, tag, area path).
  // Returns the result of open_report_output.
  int open_table(const char* key_column, const char* time_column, const char* tag);

  // The precision (decimals of F columns) of the area.
  int area_precision();

  // Declares the six closing columns; the last is declared as the table's last.
  void define_closing_fields(const char* time_column_name);

  // Writes the six closing values of one row. The three time texts are
  // formed once and reused while the same times come again (every row of
  // one item).
  void write_closing_values(const ClosingValues& values);

  // Loads string id of the resource module into buffer (size bytes).
  int load_resource_string(unsigned id, char* buffer, int size) const {
    return load_string(resource_module, id, buffer, size);
  }

  ReportTable& table() { return table_; }

  // ---- members ------------------------------------------------------------
  int32_t start_time = 0;
  int32_t end_time = 2147483647;
  unsigned char area_record[256] = {};
  const char* output_path = nullptr;
  int notation = -1;
  int detailed = 0;
  std::FILE* list_file = nullptr;
  intptr_t stop_requested = 0;
  ModuleHandle resource_module = nullptr;

  // How the last item loop ended, for hosts that want the run's figures.
  // stopped: the host's stop query ended it. ended_early: a failed lookup,
  // open or close of an item, or a list file that failed while being read,
  // ended it (the store's error has been printed). Either way the table
  // holds the previous table's records of the items the run did not reach,
  // so it is not complete. failed_item names the item concerned: the
  // item whose open or close failed, the listed name whose lookup failed,
  // empty when the lookup of the next item of the area failed.
  int stopped = 0;
  int ended_early = 0;
  char failed_item[kItemNameSize] = {};

 protected:
  // What handling the next item gave.
  enum ItemResult {
    kItemDone,      // the item was handled; the loop goes on
    kNoMoreItems,   // the area (or the list file) has no further item
    kItemFailed,    // a lookup, open, close or list-file read failed
    kStartOver,     // the table dropped its previous table: start again
  };

  // The item loop and its pipeline.
  int dump_all_items();
  // Walks the items once; false when the table asks for the walk to start
  // over from the first item.
  bool walk_items();
  // Clears stopped, ended_early and failed_item before a walk.
  void clear_walk_outcome();
  ItemResult dump_next_item(int first);
  // 1 when the item was handled (or the table asks for the loop to start
  // over), 0 when its open or close failed (the store's error has been
  // printed).
  int dump_one_item();
  void post_progress();
  intptr_t poll_stop();

 private:
  // Reads the next list-file name into name (kItemNameSize bytes): up to 20
  // characters of a line cut at its first CR or LF; blank lines are skipped
  // and longer lines are taken 20 characters at a time. At the end of the
  // file name is empty. A read that fails gives its Status (naming the list
  // file) and leaves name empty.
  Status read_list_name(char* name);

  // The time text of t for closing column slot (0..2), formed only when t or
  // the detailed flag differs from the slot's last one; NUL-ended.
  std::string_view cached_time_text(int slot, int32_t t);

  struct TimeTextCache {
    bool valid = false;
    int32_t value = 0;
    int detailed = 0;
    size_t length = 0;
    char text[kTimeTextSize] = {};
  };
  TimeTextCache time_cache_[3];
  StoreReader& reader_;
  StoreCursor cursor_;
  ReportTable& table_ = report_table();  // the module's one table, looked up once
  const char* list_path_ = "";  // the -L value of list_file, for messages
  const char* area_name_ = "";  // as given on the command line
};

// Runs one command: stores the window, constructs Report on reader, sets
// detailed, runs it and returns its result. The export that calls it
// catches what may be thrown (an allocation that fails).
template <class Report>
int run_command(StoreReader& reader, int argc, char** argv, QuireWindow hwnd, int detailed);

// Non-template part of run_command.
int run_report_command(DumpReport& report, int argc, char** argv, int detailed);

template <class Report>
int run_command(StoreReader& reader, int argc, char** argv, QuireWindow hwnd, int detailed) {
  set_host_window(hwnd);
  Report report(reader);
  return run_report_command(report, argc, argv, detailed);
}

}  // namespace quire

#endif  // QUIRE_REPORT_DUMP_REPORT_H_
