// DumpReport: construction, the run, the item loop and its per-item
// pipeline, the host-window messages, and the helpers the report kinds share.
#include "report/dump_report.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "quire/records.h"
#include "quire/files/file_system.h"
#include "report/run_figures.h"
#include "table/report_layout.h"

namespace quire {
namespace {

QuireWindow g_host_window = 0;

constexpr int kListLineLimit = 20;  // characters of a list line taken at once

}  // namespace

void set_host_window(QuireWindow window) { g_host_window = window; }
QuireWindow host_window() { return g_host_window; }

void DumpReport::report_failure(const Status& failure) {
  if (failure.ok()) return;
  // The text stays alive while the line goes out: hosts read it then.
  const std::string what = failure.message();
  if (failure.source() == nullptr) {
    print()("%s\n", what.c_str());
    return;
  }
  note_error_line(what.c_str());
  print()("Error %d, %s(%d)", failure.error(), failure.source(), failure.line());
  end_error_line();
}

DumpReport::DumpReport(StoreReader& reader, StoreKind kind) : reader_(reader), cursor_(reader, kind) {
  ModuleHandle own = own_module_handle();
  resource_module = load_resource_library(own, resource_library_name(), reader.printer());
  if (!resource_module) resource_module = own;
  detailed = 0;
  list_file = nullptr;
  stop_requested = poll_stop();
}

DumpReport::~DumpReport() {
  if (list_file) {
    std::fclose(list_file);
    list_file = nullptr;
  }
}

int DumpReport::finish_output() { return table().close_report_output(); }

void DumpReport::clear_walk_outcome() {
  stopped = 0;
  ended_early = 0;
  failed_item[0] = 0;
}

int DumpReport::run_report(int argc, char** argv) {
  clear_walk_outcome();
  begin_run_figures();
  if (parse_command_line(argc, argv) != 1) return 0;
  for (TimeTextCache& c : time_cache_) c.valid = false;
  // An output that cannot be created ends the command: nothing is walked and
  // nothing is written through a missing file.
  if (write_header() != 1 || !table().is_open()) return 0;
  dump_all_items();
  return finish_output() == 1 ? 1 : 0;
}

int DumpReport::dump_all_items() {
  // A list names items in its own order: the table finds each one's
  // previous rows wherever they are, and logs nothing for the others.
  if (list_file) table().take_listed_items_only();
  // A previous table found damaged while it was being used is dropped and
  // the table taken back to its start: the walk starts again from the first
  // item, each read from the store. That happens at most once.
  while (!walk_items()) {
    table().take_restart();
    clear_walk_outcome();
    restart_run_figures();
    if (list_file) std::rewind(list_file);
  }
  return 1;
}

bool DumpReport::walk_items() {
  ItemResult r = dump_next_item(1);
  while (r == kItemDone) {
    if (stop_requested) {
      stopped = 1;
      note_run_stopped();
      table().copy_remaining_previous();
      return !table().restart_pending();
    }
    r = dump_next_item(0);
  }
  if (r == kItemFailed) {
    // The items after the failure were not looked at: they keep their
    // previous records, as in a stopped run, and none is taken for deleted.
    ended_early = 1;
    note_run_ended_early();
    table().copy_remaining_previous();
  } else if (r == kNoMoreItems) {
    // Every item was seen: what the previous table holds beyond the last
    // one is gone from the store.
    table().drop_remaining_previous();
  }
  return r != kStartOver && !table().restart_pending();
}

Status DumpReport::read_list_name(char* name) {
  for (;;) {
    if (!std::fgets(name, kListLineLimit + 1, list_file)) {
      name[0] = 0;
      if (!std::ferror(list_file)) return Status();
      return Status::io_error(errno, "read the list file", list_path_);
    }
    name[std::strcspn(name, "\r\n")] = 0;
    if (name[0] != 0) return Status();
  }
}

DumpReport::ItemResult DumpReport::dump_next_item(int first) {
  StoreCursor& cursor = cursor_;
  Status found;
  if (list_file) {
    char name[kItemNameSize] = {};
    // A name the area does not have is reported and skipped; the names
    // after it are still dumped.
    for (;;) {
      const Status listed = read_list_name(name);
      if (!listed.ok()) {
        report_failure(listed);
        return kItemFailed;
      }
      if (name[0] == 0) return kNoMoreItems;
      std::memcpy(failed_item, name, sizeof failed_item);
      begin_item(name);
      found = cursor.lookup(area_record, failed_item, 0);
      if (found.code() != StatusCode::kNotFound) break;
      end_item();
      note_name_missing();
      print()("%s %s is not in storage area %s; skipped\n", item_word(), failed_item, area_name_);
    }
  } else {
    failed_item[0] = 0;
    found = cursor.lookup(area_record, "*", first ? 0 : 1);
    if (found.code() == StatusCode::kNotFound) return kNoMoreItems;
    if (found.ok()) begin_item(cursor.item().name);
  }
  // Any other failure is one of the store, which must not pass for the end
  // of the area.
  if (!found.ok()) {
    report_failure(store_failure(found, "item lookup failed"));
    end_item();
    return kItemFailed;
  }
  std::memcpy(failed_item, cursor.item().name, sizeof failed_item);
  int dumped = dump_one_item();
  end_item();
  if (table().restart_pending()) return kStartOver;
  if (dumped != 1) return kItemFailed;
  failed_item[0] = 0;
  post_progress();
  stop_requested = poll_stop();
  return kItemDone;
}

int DumpReport::dump_one_item() {
  StoreCursor& cursor = cursor_;
  const Item& item = cursor.item();
  const int32_t t = item.mod_time;
  if (t < start_time || t > end_time) {
    // Left out by the date filter: neither its previous rows nor a change.
    table().leave_out(item.name);
    return 1;
  }

  const char* stamp = cached_time_text(0, t).data();
  const int dump = table().reuse_previous_record(item.name, stamp, t);
  if (table().restart_pending()) return 1;
  if (dump == 0) {
    note_item_reused();
    return 1;
  }

  const Status opened = cursor.open(area_record);
  if (!opened.ok()) {
    report_failure(store_failure(opened, "open failed"));
    table().forget_item();
    return 0;
  }
  note_item_read();
  report_failure(dump_item(item));

  const Status closed = cursor.close(area_record);
  report_failure(store_failure(closed, "close failed"));
  // An item not read whole keeps the rows it wrote, but the next run reads
  // it again.
  if (current_item_failed()) table().forget_item();
  return closed.ok() ? 1 : 0;
}

void DumpReport::post_progress() {
  const Item& item = cursor_.item();
  quire_send_message(host_window(), QUIRE_MSG_PROGRESS,
                     static_cast<uintptr_t>(static_cast<uint32_t>(item.total)),
                     static_cast<intptr_t>(item.number));
}

intptr_t DumpReport::poll_stop() {
  return quire_send_message(host_window(), QUIRE_MSG_STOP_QUERY, 0, 0);
}

// ---- helpers for the report kinds ------------------------------------------

int DumpReport::open_table(const char* key_column, const char* time_column, const char* tag) {
  ReportTable& t = table();
  int r = t.open_report_output(output_path, key_column, time_column, notation, print());
  if (r != 1) return r;
  t.describe_run(tag, area_name_);
  char area_path[kAreaPathSize + 1] = {};
  reader_.area_path(area_record, area_path);
  area_path[kAreaPathSize] = 0;
  // The run record names the area by its file's canonical absolute path:
  // a store given by a relative path names another area in each directory.
  if (area_path[0] != 0) {
    std::error_code error;
    std::filesystem::path file = std::filesystem::absolute(platform::filesystem_path(area_path), error);
    if (!error) file = std::filesystem::weakly_canonical(file, error);
    t.identify_area(error ? area_path : file.string().c_str());
  }
  const char* values[ReportLayout::kPreambleValues];
  values[ReportLayout::kVersionValue] = ReportLayout::kVersionWord;
  values[ReportLayout::kNotationValue] = ReportLayout::notation_word(notation);
  values[ReportLayout::kTagValue] = tag;
  values[ReportLayout::kAreaValue] = area_path;
  for (size_t i = 0; i < ReportLayout::kPreambleValues; ++i)
    t.write_preamble_value(i + 1 == ReportLayout::kPreambleValues ? 1 : 0, values[i]);
  return 1;
}

int DumpReport::area_precision() { return reader_.area_precision(area_record); }

void DumpReport::define_closing_fields(const char* time_column_name) {
  ReportTable& t = table();
  for (size_t i = 0; i < ReportLayout::kClosingColumns; ++i) {
    const ReportLayout::ClosingColumn c = ReportLayout::closing_column(i, time_column_name, detailed);
    t.define_field(i + 1 == ReportLayout::kClosingColumns ? 1 : 0, 'C', c.width, 0, c.name);
  }
}

std::string_view DumpReport::cached_time_text(int slot, int32_t t) {
  TimeTextCache& c = time_cache_[slot];
  if (!c.valid || c.value != t || c.detailed != detailed) {
    format_time_text(t, detailed, c.text);
    c.length = std::strlen(c.text);
    c.value = t;
    c.detailed = detailed;
    c.valid = true;
  }
  return std::string_view(c.text, c.length);
}

void DumpReport::write_closing_values(const ClosingValues& values) {
  ReportTable& t = table();
  auto put = [&t](std::string_view text) { t.write_field(0, text.data(), text.size()); };
  put(cached_time_text(0, values.mod_time));
  put(values.user_last_mod);
  put(cached_time_text(1, values.creation_time));
  put(values.user_created);
  put(cached_time_text(2, values.prev_mod_time));
  put(values.user_prev_mod);
}

// ---- commands -----------------------------------------------------------------

int run_report_command(DumpReport& report, int argc, char** argv, int detailed) {
  report.detailed = detailed != 0 ? 1 : 0;
  if (report.list_file) {
    std::fclose(report.list_file);
    report.list_file = nullptr;
  }
  return report.run_report(argc, argv);
}

}  // namespace quire
