// The format-neutral run of a report table: the column declarations, the
// values fitted to their columns, the reuse of the previous table and the
// change log. The bytes of each layout are its TableWriter's (csv/, dbf/),
// the reading of a previous table its PreviousTableReader's.
//
// A run writes its table into a temporary file of our own naming in the
// output's directory. The table at the output path stays untouched during
// the run and serves as the previous table; at close, once the new table is
// complete and on disk and its change-log block is appended, the old table
// becomes OLD.DAT and the new one takes the path. The output directory is
// locked from open to close so that no two runs share it.
//
// Limits (misuse by a report kind, never by data): at most kMaxColumns
// columns, a 101st declaration is refused with "INTERNAL ERROR, BAD FIELD";
// widths are held to 0..kMaxWidth and decimals to 0..kMaxDecimals, so a
// dBASE record and header always fit their 16-bit lengths.
#include "table/report_table.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "quire/files/file_commit.h"
#include "quire/files/file_replacement.h"
#include "quire/files/file_system.h"
#include "quire/files/output_target.h"
#include "report/time_text.h"
#include "table/change_feed.h"
#include "table/change_log.h"
#include "table/check_value.h"
#include "table/dbf/dbf_layout.h"
#include "table/previous_table.h"
#include "table/report_layout.h"
#include "table/run_record.h"
#include "table/table_figures.h"
#include "table/table_format.h"
#include "table/table_output.h"
#include "table/table_writer.h"

namespace quire {

using namespace quire::table;

namespace {

constexpr int kNoRecord = INT_MAX;  // write position when no record is open

// What a report kind's misuse of the table is called in the run's messages.
constexpr char kBadField[] = "INTERNAL ERROR, BAD FIELD";
constexpr char kBadValue[] = "INTERNAL ERROR, NEW_PRINT_FIELD.";

// text without the blanks at its ends, as a text table's values are read.
std::string trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// True when text is an absolute path ("/x", "\\server\x", "C:\x"): one
// that names the same file from every directory.
bool is_absolute_path_text(const std::string& text) {
  if (!text.empty() && (text[0] == '/' || text[0] == '\\')) return true;
  return text.size() > 2 && std::isalpha(static_cast<unsigned char>(text[0])) && text[1] == ':' &&
         (text[2] == '/' || text[2] == '\\');
}

}  // namespace

class ReportTable::Impl {
 public:
  explicit Impl(platform::FileEnv& env)
      : env_(env),
        lock_(env),
        replacement_(env),
        out_(env),
        record_in_(env),
        table_bytes_(env),
        record_out_(env),
        log_(env),
        stream_file_(env),
        spool_(env) {}
  // One value handed to write_field, before it is fitted to its column.
  struct Value {
    enum Kind { kText, kDouble, kInt, kNone } kind;
    std::string_view text = {};
    double real = 0;
    int32_t integer = 0;
  };

  ~Impl() { abandon(); }

  int open(const char* path, const char* key_column, const char* time_column, int notation,
           PrintFunction print);
  void write_preamble_value(int is_last, const char* text);
  void define_field(int is_last, char type, int width, int decimals, const char* name);
  void write_field(int is_first, const Value& value);
  // write_field for a text of length bytes; the same bytes, fewer steps
  // for a text column.
  void write_text(int is_first, const char* text, size_t length);
  int reuse_previous_record(const char* item_name, const char* change_stamp, std::optional<int64_t> change_time);
  void describe_run(const char* kind, const char* area) {
    if (open_) log_.describe_run(kind ? kind : "", area ? area : "");
  }
  void identify_area(const char* identity) {
    if (open_) area_identity_ = identity ? identity : "";
  }
  void leave_out(const char* item_name);
  void take_listed_items_only();
  void copy_remaining_previous();
  void drop_remaining_previous();
  void forget_item() {
    if (!open_ || !item_open_) return;
    if (in_record()) pad_record();
    item_open_ = false;
  }
  int close();
  void abandon();
  bool is_open() const { return open_; }
  bool restart_pending() const { return restart_pending_; }
  bool take_restart() {
    bool pending = restart_pending_;
    restart_pending_ = false;
    return pending;
  }

 private:
  // A recorded item of a listed run (see listed_items_).
  struct ListedItem {
    size_t name_at = 0;
    size_t stamp_at = 0;
    uint64_t offset = 0;
    uint64_t bytes = 0;
    uint64_t rows = 0;
    uint32_t check = 0;
    bool taken = false;
  };

  int field_count() const { return static_cast<int>(fields_.size()); }
  bool in_record() const { return position_ < field_count(); }
  bool previous_open() const { return previous_ && previous_->is_open(); }
  bool previous_exhausted() const { return !previous_ || previous_->exhausted(); }
  void finish_header();
  void start_record();
  void put_value(const FieldSpec& field, const Value& value);
  void pad_record();
  void copy_previous_record();
  // Copies the current previous record and the records after it that
  // continue its item and follow it in the old table, when the new table
  // agrees with the old one up to there: the output then takes their bytes
  // from the old table by their place, with no call per record. Loads the
  // record after them. False, with nothing done, when that cannot be.
  bool take_matched_run();
  // Logs the current previous record's item as deleted, once per item, and
  // loads the next record.
  void drop_previous_record();
  // The one place each kind of change goes to the change log: an item the
  // previous table does not have, one whose stamp differs from the one it
  // had (old_stamp), and one gone from the store (logged once, also when
  // it comes on several records in a row).
  void log_new(const char* name, const char* stamp);
  void log_changed(const char* name, const char* old_stamp, std::optional<int64_t> old_time, const char* stamp);
  // True when the previous stamp old_stamp stands for the same time as the
  // item's change_stamp and change_time_: the same text (ignoring case), or
  // the same seconds once read back (a detailed table's calendar text
  // depends on the time zone of the run that wrote it). *old_time gets the
  // previous stamp's seconds when they could be read.
  bool same_stamp(const char* old_stamp, const char* change_stamp, std::optional<int64_t>* old_time) const;
  // Passes over the current previous record's item, neither copying nor
  // logging it, and loads the record after it.
  void pass_previous_item();
  void log_deleted(const char* name, const char* old_stamp);
  // Chooses, once the preamble and columns are known, how the previous
  // table is used (see decide_previous_use), and acts on it.
  void choose_previous();
  // How the previous table is used, and why not when it is not.
  enum class PreviousUse {
    kByRecord,  // by its run record, each item's bytes checked
    kWalked,    // read record by record
    kFresh,     // not used: every item is read and logged new
    kForeign,   // another report's, area's or notation's: not used, and
                // the change log is not written for the run
  };
  PreviousUse decide_previous_use(std::string* why);
  // The key of the last item of a text table walked without a run record:
  // the table may have been cut inside that item, so it is read again.
  void find_unvouched_last_item();
  // The run record this run writes, started with the header.
  void start_record_out();
  // Item bookkeeping for the new run record: begin_item opens the entry of
  // the item whose rows come next, end_item closes it (the record in
  // progress padded first) with the bytes and rows written since.
  void begin_item(const char* name, const char* stamp);
  void end_item();
  // reuse_previous_record by the previous table's run record.
  int reuse_by_record(const char* item_name, const char* change_stamp);
  // The same for a listed run: the item found by its name.
  int reuse_listed(const char* item_name, const char* change_stamp);
  // Takes the rows of listed item when the table's bytes at its recorded
  // place have its check value; false, with nothing written, when not.
  bool take_listed(const ListedItem& item);
  // Opens the previous table again from its top, for a listed run that
  // asks about an item before the one it asked about last. False (and the
  // walk as it was) when it cannot be.
  bool rewind_previous();
  // Loads the record's next item into record_item_; false at the end.
  bool load_record_item();
  // Takes the rows of a recorded item when the table's bytes agree with
  // the record (its check value, its length, its rows where they can be
  // seen); false, with nothing written, when they do not.
  bool take_recorded(const RunRecordItem& item);
  // True when the bytes of a recorded item lie at its recorded offset
  // moved by shift, with its check value (and, for fixed-length records,
  // its rows).
  bool recorded_at(const RunRecordItem& item, int64_t shift);
  // Copies the bytes of a recorded item that agree with the record, found
  // at offset at of the previous table; false when they cannot be read.
  bool copy_recorded(const RunRecordItem& item, uint64_t at);
  // The previous table at the path opened again from its top, its header
  // read and its key and time columns found; null when any of that fails.
  std::unique_ptr<PreviousTableReader> reopen_previous();
  int fail(const quire::Status& status);
  // A report kind used the table wrongly (a column too many or declared
  // late, an unknown column type, a value with no column): what says so, as
  // the run's message. The table stays whole and the run goes on.
  void misuse(const char* what);
  // With the table complete and synced (or equal to the one at the path):
  // logs the run's changes, moves the old table to OLD.DAT and puts the new
  // one in place. Returns what close returns.
  int put_in_place(bool equal);
  // Lets go of the previous table, its run record and its bytes, and of
  // the run record being written.
  void drop_previous_and_records();
  // Resets the run's column and record state and starts the layout.
  void start_table();
  // A FIFO, a character device or standard output: the table is written
  // straight into it, with no previous table, OLD.DAT, temporary file, lock
  // or change log.
  int open_stream(const platform::OutputTarget& target);
  int close_stream();
  // When the previous table turned out damaged while the run used it: it is
  // dropped, and the table and the change lines go back to their state
  // before the first item, for the item loop to start again.
  void check_previous();
  // why is taken by value: it may be the damage of the previous table this
  // drops.
  void start_over(quire::Status why);

  bool open_ = false;
  std::string given_path_;  // the path as given: its name chooses the layout
  // The run's key and time column names and notation, as given at open.
  std::string key_column_;
  std::string time_column_;
  int notation_ = 0;
  // The area as the run record names it (its file's canonical path); the
  // preamble's area text when not given.
  std::string area_identity_;
  // A run over listed items only: previous items it does not ask about are
  // passed over, not logged deleted.
  bool listed_only_ = false;
  // See find_unvouched_last_item; empty when every item is vouched for.
  std::string unvouched_last_key_;
  // A run over listed items with the previous table's run record: every
  // recorded item, sorted by name (names and stamps NUL-ended in
  // listed_text_), each found by its name and taken at most once.
  std::vector<ListedItem> listed_items_;
  std::string listed_text_;
  bool listed_by_record_ = false;
  RunRecordItem listed_scratch_;  // the numbers of the listed item being taken
  // A listed run walking a table without record: the name asked about
  // last, to see when the walk must start again from the table's top.
  std::string last_listed_name_;
  std::string path_;
  std::string old_path_;
  platform::FileEnv& env_;  // every file call of the table's runs
  platform::DirectoryLock lock_;
  platform::FileReplacement replacement_;
  TableOutput out_;
  std::unique_ptr<TableWriter> writer_;

  std::vector<FieldSpec> fields_;
  // What the table starts with, to write it again when the run starts over.
  std::vector<std::string> preamble_;
  std::string log_preamble_;
  std::vector<std::string> column_names_;
  bool restart_pending_ = false;
  // The modification time of the item being asked about, for the change feed.
  std::optional<int64_t> change_time_;
  quire::Status restart_failure_;
  bool header_complete_ = false;
  int position_ = kNoRecord;

  std::unique_ptr<PreviousTableReader> previous_;
  PreviousTableReader::HeaderResult previous_header_ = PreviousTableReader::kHeaderDropped;
  bool previous_chosen_ = false;  // choose_previous has run
  bool raw_copy_ = false;  // previous records are copied as they are

  // The previous table's run record, while the previous table is used by
  // it: the record read in step with the items, its next item, and the
  // table's bytes.
  std::string record_path_;
  RunRecordReader record_in_;
  bool by_record_ = false;
  bool record_item_loaded_ = false;
  RunRecordItem record_item_;
  RunRecordItem current_item_;  // the item being reused
  std::string last_record_name_;
  TableBytes table_bytes_;
  // How far the table's items lie from where the record puts them, once a
  // damaged item was found shorter or longer by whole rows.
  int64_t record_shift_ = 0;
  // The next item, checked while the one before it was taken.
  bool checked_ahead_ = false;
  uint64_t checked_offset_ = 0;
  int64_t checked_shift_ = 0;
  bool reported_past_end_ = false;
  quire::Status table_read_failure_;

  // The run record of the new table, and the entry of the item being written.
  RunRecordHead head_;
  RunRecordWriter record_out_;
  quire::Status record_failure_;
  bool keep_record_ = false;  // the record at its name is this run's
  bool item_open_ = false;
  RunRecordItem item_;
  std::string last_deleted_;
  ChangeLog log_;
  PrintFunction print_ = nullptr;  // the run's messages, given at open

  // Open only while a stream's table is written.
  platform::WritableFile stream_file_;
  platform::WritableFile spool_;  // a stream's table whose header comes last
};

int ReportTable::Impl::open(const char* path, const char* key_column, const char* time_column,
                            int notation, PrintFunction print) {
  abandon();
  print_ = print;
  reset_table_figures();
  if (path == nullptr || *path == '\0') {
    print_("cannot write the table: no output path given\n");
    return 0;
  }
  path_ = path;
  given_path_ = path;
  key_column_ = key_column ? key_column : "";
  time_column_ = time_column ? time_column : "";
  notation_ = notation;
  area_identity_.clear();
  listed_only_ = false;
  listed_by_record_ = false;
  listed_items_.clear();
  listed_text_.clear();
  last_listed_name_.clear();
  unvouched_last_key_.clear();
  preamble_.clear();
  log_preamble_.clear();
  column_names_.clear();
  restart_pending_ = false;
  restart_failure_ = quire::Status();
  record_failure_ = quire::Status();
  table_read_failure_ = quire::Status();
  previous_header_ = PreviousTableReader::kHeaderDropped;
  previous_chosen_ = false;
  by_record_ = false;
  record_item_loaded_ = false;
  last_record_name_.clear();
  record_shift_ = 0;
  keep_record_ = false;
  checked_ahead_ = false;
  reported_past_end_ = false;
  record_path_.clear();
  platform::OutputTarget target = platform::examine_output(path_);
  switch (target.kind) {
    case platform::OutputTarget::kFile:
      // Through a symbolic link the table replaces the link's target, and
      // OLD.DAT, the temporary file and the lock are taken beside it.
      path_ = target.path;
      break;
    case platform::OutputTarget::kStream:
      return open_stream(target);
    case platform::OutputTarget::kRefused:
      print_("cannot write %s: it is %s\n", target.refused_path.c_str(), target.what);
      return 0;
    case platform::OutputTarget::kFailed:
      print_("cannot write %s: %s\n", path, target.status.message().c_str());
      return 0;
  }
  const std::string directory = platform::directory_of(path_);

  quire::Status status;
  switch (lock_.acquire(directory, &status)) {
    case platform::DirectoryLock::kLocked:
      break;
    case platform::DirectoryLock::kBusy:
      print_("cannot write %s: another report run is writing in %s%s; "
                "run again when it has finished\n",
                path_.c_str(), directory == "." ? "the current directory" : "the directory ",
                directory == "." ? "" : directory.c_str());
      return 0;
    case platform::DirectoryLock::kFailed:
      print_("cannot write %s: %s\n", path_.c_str(), status.message().c_str());
      return 0;
  }
  // A table, OLD.DAT or change log that cannot be changed is said before
  // anything is written.
  if (!platform::check_changeable(path_, platform::FileChange::kReplace, &status) ||
      !platform::check_changeable(old_table_path(path_), platform::FileChange::kReplaceAnyway, &status) ||
      !platform::check_changeable(kChangeLogName, platform::FileChange::kAppend, &status)) {
    print_("%s\n", status.message().c_str());
    lock_.release();
    return 0;
  }
  // Holding the lock, every file of our temporary naming here was left by a
  // run that died; the replacement removes them.
  if (!replacement_.begin(path_, kTemporaryPrefix, &status)) {
    print_("cannot write %s: %s\n", path_.c_str(), status.message().c_str());
    lock_.release();
    return 0;
  }
  out_.attach(&replacement_.file());
  // The format follows the name given (a link's own name, not its target's).
  writer_ = make_table_writer(path, out_);
  old_path_ = old_table_path(path_);

  // The previous table is the one that stands at the path until close.
  quire::Status ignored;
  previous_ = open_previous_table(env_, path_, &ignored);
  record_path_ = run_record_path(path_);
  if (previous_) record_in_.open(record_path_);
  // Until the new table differs from the one at the path, nothing is
  // written: an unchanged rerun only links the path's table as OLD.DAT.
  if (previous_) out_.match_source(path_, writer_->rewritten_prefix());
  log_.open(kChangeLogName, change_feed_path(), given_path_, print_);
  // A change log about to move its lines out of memory into a file waits
  // for the table's background write first.
  log_.set_before_spill([this] { out_.settle(); });
  // With no previous table to read, the table's writes are the only file
  // calls of the item loop (but for the change log's, which settles them
  // first): they can go on in the background.
  if (!previous_) out_.write_in_background();
  start_table();

  // What the header says is acted on in choose_previous, once this run's
  // preamble and columns are known.
  if (previous_) {
    previous_header_ = previous_->read_header(notation);
    if (previous_header_ == PreviousTableReader::kHeaderOk &&
        previous_->find_columns(key_column ? key_column : "", time_column ? time_column : "")) {
      previous_->read_record();
    }
  }
  open_ = true;
  return 1;
}

void ReportTable::Impl::start_table() {
  fields_.clear();
  header_complete_ = false;
  position_ = kNoRecord;
  raw_copy_ = false;
  last_deleted_.clear();
  item_open_ = false;
  writer_->begin();
}

int ReportTable::Impl::open_stream(const platform::OutputTarget& target) {
  bool opened = target.standard_output ? stream_file_.open_standard_output()
                                       : stream_file_.open_stream(target.path);
  if (!opened) {
    print_("%s\n", stream_file_.status().message().c_str());
    abandon();
    return 0;
  }
  writer_ = make_table_writer(path_, out_);
  // A layout that completes its header at the end cannot be sent as it
  // goes: it is gathered in an unnamed scratch file first.
  if (writer_->rewritten_prefix() > 0) {
    if (!spool_.create_anonymous(platform::scratch_directory())) {
      print_("cannot write %s: %s\n", path_.c_str(), spool_.status().message().c_str());
      abandon();
      return 0;
    }
    out_.attach(&spool_);
  } else {
    out_.attach(&stream_file_);
  }
  start_table();
  open_ = true;
  return 1;
}

int ReportTable::Impl::close_stream() {
  writer_->finish();
  quire::Status status;
  bool ok = out_.flush();
  if (!ok) status = out_.status();
  if (ok && spool_.is_open() && !stream_file_.append_contents_of(spool_)) {
    ok = false;
    status = stream_file_.status().ok() ? spool_.status() : stream_file_.status();
  }
  if (!stream_file_.close() && ok) {
    ok = false;
    status = stream_file_.status();
  }
  abandon();
  if (!ok) {
    print_("%s\n", status.message().c_str());
    return 0;
  }
  return 1;
}

void ReportTable::Impl::write_preamble_value(int is_last, const char* text) {
  if (!open_) return;
  if (text == nullptr) text = "";
  writer_->preamble_value(text, is_last != 0);
  preamble_.emplace_back(text);
  log_preamble_.append(text);
  log_preamble_.append(is_last ? "\r\n" : ",");
  log_.append(text);
  log_.append(is_last ? "\r\n" : ",");
}

void ReportTable::Impl::define_field(int is_last, char type, int width, int decimals,
                                     const char* name) {
  if (!open_) return;
  if (header_complete_ || field_count() >= kMaxColumns) {
    misuse(kBadField);
  } else {
    FieldSpec field;
    field.type = type;
    field.width = width < 0 ? 0 : (width > kMaxWidth ? kMaxWidth : width);
    field.decimals = decimals < 0 ? 0 : (decimals > kMaxDecimals ? kMaxDecimals : decimals);
    writer_->add_column(field, name != nullptr ? name : "");
    note_column(field_count(), field.type, field.width, name);
    fields_.push_back(field);
    column_names_.emplace_back(name != nullptr ? name : "");
  }
  if (is_last && !header_complete_) finish_header();
}

void ReportTable::Impl::finish_header() {
  header_complete_ = true;
  writer_->end_columns();
  if (!previous_chosen_) {
    previous_chosen_ = true;
    choose_previous();
  }
  start_record_out();

  // A previous table of another column count is of no use.
  if (!previous_open()) return;
  if (previous_->column_count() != field_count()) {
    previous_->drop();
    return;
  }
  // Previous records are copied as they are only when they have the new
  // layout; otherwise each is converted value by value. Records copied as
  // they are need only their key and time values split.
  raw_copy_ = writer_->copies_as_is(*previous_);
  if (raw_copy_) previous_->limit_to_key_and_time();
}

void ReportTable::Impl::start_record() {
  note_row();
  ++item_.rows;
  writer_->start_record();
  position_ = 0;
}

void ReportTable::Impl::put_value(const FieldSpec& field, const Value& value) {
  const bool last = position_ == field_count() - 1;
  char number[kFixedTextSize];
  switch (field.type) {
    case 'C': {
      std::string_view text = value.text;
      if (value.kind == Value::kDouble) {
        auto r = std::to_chars(number, number + sizeof number, value.real);
        text = std::string_view(number, static_cast<size_t>(r.ptr - number));
      } else if (value.kind == Value::kInt) {
        text = std::string_view(number, format_int(number, value.integer));
      } else if (value.kind == Value::kNone || text.data() == nullptr) {
        text = "";  // writers are never handed a null text
      }
      writer_->put_text(field, text.data(), text.size(), last);
      return;
    }
    case 'F': {
      if (value.kind == Value::kNone) break;
      double real = value.kind == Value::kDouble ? value.real
                    : value.kind == Value::kInt  ? static_cast<double>(value.integer)
                                                 : parse_double(value.text);
      writer_->put_number(field, number, format_fixed(number, real, field.decimals), last);
      return;
    }
    case 'N': {
      if (value.kind == Value::kNone) break;
      int32_t integer = value.integer;
      if (value.kind == Value::kDouble) {
        // Nearest integer; beyond the 32-bit range it saturates, NaN gives 0.
        double r = std::round(value.real);
        integer = std::isnan(r) ? 0 : r <= INT32_MIN ? INT32_MIN : r >= INT32_MAX ? INT32_MAX : static_cast<int32_t>(r);
      } else if (value.kind == Value::kText) {
        integer = parse_int(value.text);
      }
      writer_->put_number(field, number, format_int(number, integer), last);
      return;
    }
    default:
      misuse(kBadField);
      break;
  }
  // No value: the layout writes what stands for none.
  writer_->put_number(field, "", 0, last);
}

void ReportTable::Impl::pad_record() {
  Value none{Value::kNone};
  while (in_record()) {
    put_value(fields_[static_cast<size_t>(position_)], none);
    ++position_;
  }
}

void ReportTable::Impl::write_field(int is_first, const Value& value) {
  if (!open_) return;
  if (!header_complete_) finish_header();
  if (is_first) {
    if (in_record()) pad_record();
    if (field_count() == 0) {
      misuse(kBadValue);
      return;
    }
    start_record();
  }
  if (position_ >= field_count()) {
    // More values than columns: the record is already complete.
    misuse(kBadValue);
    return;
  }
  put_value(fields_[static_cast<size_t>(position_)], value);
  ++position_;
}

void ReportTable::Impl::write_text(int is_first, const char* text, size_t length) {
  const bool fast = open_ && header_complete_ &&
                    (is_first ? !in_record() && field_count() > 0 : in_record()) &&
                    fields_[static_cast<size_t>(is_first ? 0 : position_)].type == 'C';
  if (!fast) {
    Value value{Value::kText};
    value.text = std::string_view(text, length);
    write_field(is_first, value);
    return;
  }
  if (is_first) start_record();
  writer_->put_text(fields_[static_cast<size_t>(position_)], text, length, position_ == field_count() - 1);
  ++position_;
}

void ReportTable::Impl::copy_previous_record() {
  if (in_record()) pad_record();
  if (raw_copy_) {
    note_row();
    ++item_.rows;
    writer_->copy_record(*previous_);
  } else {
    // Between layouts: value by value; a missing value is an empty text or
    // 0, and a text that is no number gives 0.
    for (int i = 0; i < field_count(); ++i) {
      Value value{Value::kText};
      value.text = i < previous_->value_count() ? previous_->value(i) : "";
      write_field(i == 0, value);
    }
  }
  position_ = kNoRecord;
}

bool ReportTable::Impl::take_matched_run() {
  if (!raw_copy_ || in_record()) return false;
  const uint64_t start = previous_->raw_offset();
  if (!writer_->copies_unchanged(*previous_) || !out_.agrees_at(start)) return false;
  uint64_t end = start + previous_->raw_with_end().size();
  int records = 1;
  for (;;) {
    out_.note_taken(previous_->raw_with_end().data(), previous_->raw_with_end().size());
    previous_->read_record();
    if (previous_->exhausted() || !previous_->continues_item() || previous_->raw_offset() != end ||
        !writer_->copies_unchanged(*previous_))
      break;
    end += previous_->raw_with_end().size();
    ++records;
  }
  out_.take_from_source(end - start);
  writer_->note_copied(records);
  note_rows(records);
  item_.rows += static_cast<uint64_t>(records);
  position_ = kNoRecord;
  return true;
}

void ReportTable::Impl::choose_previous() {
  head_ = RunRecordHead();
  if (preamble_.size() == ReportLayout::kPreambleValues) {
    head_.notation = preamble_[ReportLayout::kNotationValue];
    head_.kind = preamble_[ReportLayout::kTagValue];
    head_.area = preamble_[ReportLayout::kAreaValue];
  }
  if (!area_identity_.empty()) head_.area = area_identity_;
  const bool dbase = is_dbase_path(given_path_);
  head_.format = dbase ? "DBASE" : "CSV";
  ColumnSetCheck columns;
  for (size_t i = 0; i < fields_.size(); ++i)
    columns.add(column_names_[i], fields_[i].type, fields_[i].width, fields_[i].decimals);
  head_.columns = columns.text();
  if (!previous_) {
    record_in_.close();
    return;
  }
  std::string why;
  const PreviousUse use = decide_previous_use(&why);
  if (use != PreviousUse::kByRecord) record_in_.close();
  switch (use) {
    case PreviousUse::kByRecord:
      // The record vouches for the table's items: the table itself is not
      // walked.
      previous_.reset();
      by_record_ = true;
      load_record_item();
      return;
    case PreviousUse::kWalked:
      find_unvouched_last_item();
      return;
    case PreviousUse::kFresh:
      print_("%s is not used as the previous table: %s\n", path_.c_str(), why.c_str());
      previous_.reset();
      return;
    case PreviousUse::kForeign:
      // Its items are none of this run's changes.
      print_("%s is not used as the previous table: %s; the change log is not written\n", path_.c_str(),
             why.c_str());
      previous_->drop();
      log_.discard();
      return;
  }
}

ReportTable::Impl::PreviousUse ReportTable::Impl::decide_previous_use(std::string* why) {
  constexpr size_t kTag = ReportLayout::kTagValue;
  constexpr size_t kArea = ReportLayout::kAreaValue;
  constexpr size_t kNotation = ReportLayout::kNotationValue;
  const bool ours_known = preamble_.size() == ReportLayout::kPreambleValues;
  // A table that could not be read is judged by nothing it seemed to hold:
  // the run fails at its close, leaving everything as it was.
  if (!previous_->read_status().ok()) return PreviousUse::kWalked;
  // The layout the table at the path has (not the one its name asks for).
  const PreviousTableReader::Preamble* preamble = previous_->preamble();
  const bool text_table = preamble != nullptr;
  const bool has_preamble = text_table && preamble->size() >= ReportLayout::kPreambleValues;

  // The run record speaks for the table when it is intact, of the table's
  // layout, and, where the table has a preamble, of its report and
  // notation; else it belongs to another table and is not heeded.
  const RunRecordHead& record = record_in_.head();
  bool record_speaks = record_in_.is_open() && record.format == (text_table ? "CSV" : "DBASE");
  if (record_speaks && has_preamble &&
      ((*preamble)[kTag] != trimmed(record.kind) || (*preamble)[kNotation] != trimmed(record.notation)))
    record_speaks = false;
  if (record_speaks && ours_known) {
    if (record.kind != head_.kind) {
      *why = "it was written by the report " + record.kind;
      return PreviousUse::kForeign;
    }
    // A record written before areas were named by their file's canonical
    // path names an absolute area path as the preamble gives it.
    const bool same_area = record.area == head_.area ||
                           (record.area == preamble_[kArea] && is_absolute_path_text(record.area));
    if (!same_area) {
      *why = "it was written from another storage area (" + record.area + ")";
      return PreviousUse::kForeign;
    }
    if (record.notation != head_.notation) {
      *why = "it was written in the other notation (" + record.notation + ")";
      return PreviousUse::kForeign;
    }
    if (record.columns == head_.columns) {
      // The record says this report wrote the table from this area: its
      // rows were the store's. A text table that no longer starts with the
      // preamble it was written with was rewritten by another program.
      if (text_table && (previous_header_ != PreviousTableReader::kHeaderOk || !has_preamble)) {
        *why = "its first line is no longer the preamble its run record " + record_path_ + " describes";
        return PreviousUse::kFresh;
      }
      if (table_bytes_.open(path_)) return PreviousUse::kByRecord;
    }
    // A record of another column set: the table's own header decides.
  }

  // Without a record, what the table itself says.
  if (text_table) {
    if (previous_header_ == PreviousTableReader::kHeaderRejected) {
      if (!has_preamble) {
        *why = "its first line is no preamble of a report table";
      } else {
        *why = "it was written in the other notation (" + (*preamble)[kNotation] + ")";
      }
      return PreviousUse::kForeign;
    }
    if (previous_header_ == PreviousTableReader::kHeaderOk && has_preamble && ours_known) {
      if ((*preamble)[kTag] != trimmed(preamble_[kTag])) {
        *why = "it was written by the report " + (*preamble)[kTag];
        return PreviousUse::kForeign;
      }
      if ((*preamble)[kArea] != trimmed(preamble_[kArea])) {
        *why = "it was written from another storage area (" + (*preamble)[kArea] + ")";
        return PreviousUse::kForeign;
      }
    }
  }
  // A table whose header contradicts itself is no previous table: every
  // item is read from the store.
  if (!previous_->damage().ok()) {
    *why = previous_->damage().message();
    return PreviousUse::kFresh;
  }
  return PreviousUse::kWalked;
}

void ReportTable::Impl::find_unvouched_last_item() {
  // Only a text table can be cut between two rows of an item without a
  // trace: a dBASE header counts its records.
  if (!previous_open() || previous_->preamble() == nullptr) return;
  std::unique_ptr<PreviousTableReader> scan = reopen_previous();
  if (!scan) return;
  scan->limit_to_key_and_time();
  for (scan->read_record(); !scan->exhausted(); scan->read_record())
    if (!scan->continues_item()) unvouched_last_key_.assign(scan->key());
  // A table found damaged on the way is dropped by the walk itself.
  if (!scan->damage().ok() || !scan->read_status().ok()) unvouched_last_key_.clear();
}

void ReportTable::Impl::start_record_out() {
  if (stream_file_.is_open() || !record_failure_.ok()) return;
  quire::Status status;
  if (!record_out_.begin(path_, kTemporaryPrefix, head_, &status)) record_failure_ = status;  // close reports it
}

void ReportTable::Impl::begin_item(const char* name, const char* stamp) {
  item_open_ = true;
  item_.name = name;
  item_.stamp = stamp;
  item_.offset = out_.size();
  item_.rows = 0;
  out_.restart_check();
}

void ReportTable::Impl::end_item() {
  if (!item_open_) return;
  if (in_record()) pad_record();
  item_open_ = false;
  item_.bytes = out_.size() - item_.offset;
  item_.check = out_.check();
  record_out_.add(item_);
}

bool ReportTable::Impl::load_record_item() {
  record_item_loaded_ = record_in_.next(&record_item_);
  if (!record_item_loaded_) {
    if (record_in_.damaged())
      start_over(quire::Status::failure(StatusCode::kCorrupt, "its run record " + record_path_ + " is damaged"));
    return false;
  }
  // The record lists the items in the store's order, as the table holds them.
  if (!last_record_name_.empty() && compare_item_names(record_item_.name.c_str(), last_record_name_.c_str()) < 0) {
    record_item_loaded_ = false;
    start_over(quire::Status::failure(StatusCode::kCorrupt,
                                      "its run record " + record_path_ + " lists its items out of the store's order"));
    return false;
  }
  last_record_name_ = record_item_.name;
  return true;
}

bool ReportTable::Impl::recorded_at(const RunRecordItem& item, int64_t shift) {
  if (writer_->record_length() > 0 && item.rows * writer_->record_length() != item.bytes) return false;
  const int64_t start = static_cast<int64_t>(item.offset) + shift;
  if (start < 0 || static_cast<uint64_t>(start) > table_bytes_.size() ||
      table_bytes_.size() - static_cast<uint64_t>(start) < item.bytes)
    return false;
  // The item after the one taken was checked already, to see that it follows.
  if (checked_ahead_ && checked_offset_ == item.offset && checked_shift_ == shift) return true;
  const char* bytes = table_bytes_.bytes(static_cast<uint64_t>(start), static_cast<size_t>(item.bytes));
  if (bytes == nullptr) {
    // A table that cannot be read fails the run, as when it is walked.
    table_read_failure_ = table_bytes_.status();
    if (table_read_failure_.ok()) table_read_failure_.fail(EIO, "read", path_);
    return false;
  }
  return extend_check(0, bytes, static_cast<size_t>(item.bytes)) == item.check;
}

bool ReportTable::Impl::take_recorded(const RunRecordItem& item) {
  if (item.bytes == 0) return item.rows == 0;
  // Where the record puts it, then where it lies when the table grew or
  // shrank before it by the difference of its size from the recorded one.
  const int64_t size_shift = static_cast<int64_t>(table_bytes_.size() - record_in_.table_size());
  bool found = recorded_at(item, record_shift_);
  if (!found && table_read_failure_.ok() && size_shift != record_shift_ && recorded_at(item, size_shift)) {
    record_shift_ = size_shift;
    found = true;
  }
  checked_ahead_ = false;
  if (!found) return false;
  // Rows added or lost at the item's end show only where the next item
  // lies: after it, or only where the table's size puts it (or, after the
  // last item, the table does not end where the record says).
  if (record_item_loaded_) {
    const RunRecordItem& next = record_item_;
    if (next.bytes > 0 && size_shift != record_shift_) {
      if (recorded_at(next, record_shift_)) {
        checked_ahead_ = true;
        checked_offset_ = next.offset;
        checked_shift_ = record_shift_;
      } else if (table_read_failure_.ok() && recorded_at(next, size_shift)) {
        record_shift_ = size_shift;
        return false;
      }
    }
  } else if (size_shift != record_shift_) {
    return false;
  }
  if (!table_read_failure_.ok()) return false;
  return copy_recorded(item, item.offset + static_cast<uint64_t>(record_shift_));
}

bool ReportTable::Impl::copy_recorded(const RunRecordItem& item, uint64_t at) {
  const char* bytes = table_bytes_.bytes(at, static_cast<size_t>(item.bytes));
  if (bytes == nullptr) {
    table_read_failure_ = table_bytes_.status();
    if (table_read_failure_.ok()) table_read_failure_.fail(EIO, "read", path_);
    return false;
  }
  out_.write_checked(bytes, static_cast<size_t>(item.bytes), at, item.check);
  const int rows = static_cast<int>(item.rows);
  writer_->note_copied(rows);
  note_rows(rows);
  item_.rows = item.rows;
  return true;
}

int ReportTable::Impl::reuse_by_record(const char* item_name, const char* change_stamp) {
  // Items of the record that sort before this one are gone from the store
  // (or, in a run over listed items, not asked about).
  while (record_item_loaded_ && compare_item_names(item_name, record_item_.name.c_str()) > 0) {
    if (!listed_only_) log_deleted(record_item_.name.c_str(), record_item_.stamp.c_str());
    if (!load_record_item() && restart_pending_) return 1;
  }
  if (!record_item_loaded_ || compare_item_names(item_name, record_item_.name.c_str()) < 0) {
    log_new(item_name, change_stamp);
    return 1;
  }
  // The item is taken out of record_item_ (no copy of its texts) before
  // the next is loaded there.
  std::swap(current_item_, record_item_);
  const RunRecordItem& item = current_item_;
  if (!load_record_item() && restart_pending_) return 1;
  std::optional<int64_t> old_time;
  if (!same_stamp(item.stamp.c_str(), change_stamp, &old_time)) {
    log_changed(item_name, item.stamp.c_str(), old_time, change_stamp);
    return 1;
  }
  if (take_recorded(item)) return 0;
  if (!table_read_failure_.ok()) return 1;
  // The store did not change: nothing is logged. Past the table's end only
  // the first item is named; the table was cut there.
  const bool past_end = item.offset + static_cast<uint64_t>(record_shift_) + item.bytes > table_bytes_.size();
  if (!past_end || !reported_past_end_) {
    // The host names the item before the line.
    print_("the previous table %s was damaged there; read again\n", given_path_.c_str());
  }
  if (past_end) reported_past_end_ = true;
  return 1;
}

int ReportTable::Impl::reuse_previous_record(const char* item_name, const char* change_stamp,
                                             std::optional<int64_t> change_time) {
  change_time_ = change_time;
  if (!open_) return 1;
  if (item_name == nullptr) item_name = "";
  if (change_stamp == nullptr) change_stamp = "";
  if (!header_complete_) finish_header();
  end_item();
  begin_item(item_name, change_stamp);
  // The record keeps the item's time as its seconds, which read the same
  // under every time zone.
  if (change_time) {
    char text[16];
    const auto end = std::to_chars(text, text + sizeof text, static_cast<uint32_t>(*change_time), 16).ptr;
    item_.stamp.assign(text, static_cast<size_t>(end - text));
  }
  if (listed_by_record_) return reuse_listed(item_name, change_stamp);
  if (by_record_) return reuse_by_record(item_name, change_stamp);

  // A list may name an item before the one it named last: the walk then
  // starts again from the table's top.
  if (listed_only_) {
    if (!last_listed_name_.empty() && compare_item_names(item_name, last_listed_name_.c_str()) < 0 &&
        previous_open())
      rewind_previous();
    last_listed_name_.assign(item_name);
  }
  // Records of items that sort before this one are gone from the store.
  while (!previous_exhausted() && compare_item_names(item_name, previous_->key()) > 0) drop_previous_record();
  if (previous_exhausted() || compare_item_names(item_name, previous_->key()) < 0) {
    log_new(item_name, change_stamp);
    check_previous();
    return 1;
  }
  std::optional<int64_t> old_time;
  if (!same_stamp(previous_->stamp(), change_stamp, &old_time)) {
    log_changed(item_name, previous_->stamp(), old_time, change_stamp);
    pass_previous_item();
    check_previous();
    return 1;
  }
  // The last item of a table without a record may have lost rows at its
  // end: it is read again, and logged as nothing (the store did not change).
  if (!unvouched_last_key_.empty() && compare_item_names(item_name, unvouched_last_key_.c_str()) == 0) {
    pass_previous_item();
    check_previous();
    return 1;
  }
  do {
    if (!take_matched_run()) {
      copy_previous_record();
      previous_->read_record();
    }
  } while (!previous_exhausted() && previous_->continues_item());
  if (previous_->damage().ok()) return 0;
  check_previous();
  return 1;
}

void ReportTable::Impl::log_new(const char* name, const char* stamp) {
  log_.log_change("NEW", name, {}, {stamp, change_time_});
}

void ReportTable::Impl::log_changed(const char* name, const char* old_stamp, std::optional<int64_t> old_time,
                                     const char* stamp) {
  log_.log_change("CHANGED", name, {old_stamp, old_time}, {stamp, change_time_});
}

bool ReportTable::Impl::same_stamp(const char* old_stamp, const char* change_stamp,
                                   std::optional<int64_t>* old_time) const {
  // The same text is the same time; only a text that differs is read back.
  if (compare_ignoring_case(change_stamp, old_stamp) == 0) return true;
  int64_t seconds = 0;
  if (!parse_time_text(old_stamp, &seconds)) return false;
  *old_time = seconds;
  return change_time_ && *change_time_ == seconds;
}

void ReportTable::Impl::pass_previous_item() {
  // The records after the first that continue its item are the item's.
  do {
    previous_->read_record();
  } while (!previous_exhausted() && previous_->continues_item());
}

void ReportTable::Impl::take_listed_items_only() {
  if (!open_) return;
  listed_only_ = true;
  if (!header_complete_) finish_header();
  if (!by_record_ || listed_by_record_) return;
  // The whole record is read now: the list may ask for its items in any
  // order.
  listed_by_record_ = true;
  listed_items_.clear();
  listed_text_.clear();
  while (record_item_loaded_) {
    ListedItem item;
    item.name_at = listed_text_.size();
    listed_text_.append(record_item_.name).push_back('\0');
    item.stamp_at = listed_text_.size();
    listed_text_.append(record_item_.stamp).push_back('\0');
    item.offset = record_item_.offset;
    item.bytes = record_item_.bytes;
    item.rows = record_item_.rows;
    item.check = record_item_.check;
    listed_items_.push_back(item);
    record_item_loaded_ = record_in_.next(&record_item_);
  }
  if (record_in_.damaged()) {
    listed_by_record_ = false;
    listed_items_.clear();
    start_over(quire::Status::failure(StatusCode::kCorrupt, "its run record " + record_path_ + " is damaged"));
    return;
  }
  const char* text = listed_text_.c_str();
  std::stable_sort(listed_items_.begin(), listed_items_.end(), [text](const ListedItem& a, const ListedItem& b) {
    return compare_item_names(text + a.name_at, text + b.name_at) < 0;
  });
}

int ReportTable::Impl::reuse_listed(const char* item_name, const char* change_stamp) {
  const char* text = listed_text_.c_str();
  auto found = std::lower_bound(listed_items_.begin(), listed_items_.end(), item_name,
                                [text](const ListedItem& item, const char* name) {
                                  return compare_item_names(text + item.name_at, name) < 0;
                                });
  if (found == listed_items_.end() || compare_item_names(text + found->name_at, item_name) != 0) {
    log_new(item_name, change_stamp);
    return 1;
  }
  // A name listed twice: its item was handled already.
  if (found->taken) return 1;
  found->taken = true;
  const char* old_stamp = text + found->stamp_at;
  std::optional<int64_t> old_time;
  if (!same_stamp(old_stamp, change_stamp, &old_time)) {
    log_changed(item_name, old_stamp, old_time, change_stamp);
    return 1;
  }
  if (take_listed(*found)) return 0;
  if (!table_read_failure_.ok()) return 1;
  // The store did not change: nothing is logged.
  print_("the previous table %s was damaged there; read again\n", given_path_.c_str());
  return 1;
}

bool ReportTable::Impl::take_listed(const ListedItem& item) {
  if (item.bytes == 0) return item.rows == 0;
  listed_scratch_.offset = item.offset;
  listed_scratch_.bytes = item.bytes;
  listed_scratch_.rows = item.rows;
  listed_scratch_.check = item.check;
  checked_ahead_ = false;
  return recorded_at(listed_scratch_, 0) && copy_recorded(listed_scratch_, item.offset);
}

std::unique_ptr<PreviousTableReader> ReportTable::Impl::reopen_previous() {
  quire::Status ignored;
  std::unique_ptr<PreviousTableReader> table = open_previous_table(env_, path_, &ignored);
  if (!table || table->read_header(notation_) != PreviousTableReader::kHeaderOk ||
      !table->find_columns(key_column_.c_str(), time_column_.c_str()))
    return nullptr;
  return table;
}

bool ReportTable::Impl::rewind_previous() {
  std::unique_ptr<PreviousTableReader> again = reopen_previous();
  if (!again || again->column_count() != field_count()) return false;
  if (raw_copy_) again->limit_to_key_and_time();
  again->read_record();
  previous_ = std::move(again);
  return true;
}

void ReportTable::Impl::leave_out(const char* item_name) {
  if (!open_) return;
  if (item_name == nullptr) item_name = "";
  if (!header_complete_) finish_header();
  end_item();
  if (by_record_) {
    while (record_item_loaded_ && compare_item_names(item_name, record_item_.name.c_str()) > 0) {
      if (!listed_only_) log_deleted(record_item_.name.c_str(), record_item_.stamp.c_str());
      if (!load_record_item() && restart_pending_) return;
    }
    if (record_item_loaded_ && compare_item_names(item_name, record_item_.name.c_str()) == 0) load_record_item();
    return;
  }
  while (!previous_exhausted() && compare_item_names(item_name, previous_->key()) > 0) drop_previous_record();
  if (!previous_exhausted() && compare_item_names(item_name, previous_->key()) == 0) pass_previous_item();
  check_previous();
}

void ReportTable::Impl::log_deleted(const char* name, const char* old_stamp) {
  // One line per item, not per record of it.
  if (!last_deleted_.empty() && compare_item_names(last_deleted_.c_str(), name) == 0) return;
  log_.log_change("DELETED", name, {old_stamp, std::nullopt}, {});
  last_deleted_ = name;
}

void ReportTable::Impl::drop_previous_record() {
  if (!listed_only_) log_deleted(previous_->key(), previous_->stamp());
  previous_->read_record();
}

void ReportTable::Impl::drop_remaining_previous() {
  if (!open_) return;
  if (!header_complete_) finish_header();
  end_item();
  if (listed_by_record_) return;  // the items not listed are not looked at
  if (by_record_) {
    while (record_item_loaded_) {
      if (!listed_only_) log_deleted(record_item_.name.c_str(), record_item_.stamp.c_str());
      load_record_item();
    }
    return;
  }
  while (!previous_exhausted()) drop_previous_record();
  check_previous();
}

void ReportTable::Impl::copy_remaining_previous() {
  if (!open_) return;
  if (!header_complete_) finish_header();
  end_item();
  if (listed_by_record_) {
    // The items not taken keep their rows, in the store's order, where the
    // record vouches for them.
    for (const ListedItem& item : listed_items_) {
      if (item.taken) continue;
      begin_item(listed_text_.c_str() + item.name_at, listed_text_.c_str() + item.stamp_at);
      if (!take_listed(item)) item_open_ = false;
      end_item();
    }
    return;
  }
  if (by_record_) {
    // Only rows the record vouches for are kept; an item whose rows
    // disagree with it is left out (the next run reads it).
    while (record_item_loaded_) {
      std::swap(current_item_, record_item_);
      const RunRecordItem& item = current_item_;
      if (!load_record_item() && restart_pending_) return;
      begin_item(item.name.c_str(), item.stamp.c_str());
      if (!take_recorded(item)) item_open_ = false;
      end_item();
    }
    return;
  }
  while (!previous_exhausted()) {
    // Each item's records get their own entry in the run record, but for
    // an item that may have lost rows: the next run reads it again.
    if (!previous_->continues_item()) {
      end_item();
      begin_item(previous_->key(), previous_->stamp());
      if (!unvouched_last_key_.empty() && compare_item_names(previous_->key(), unvouched_last_key_.c_str()) == 0)
        forget_item();
    }
    copy_previous_record();
    previous_->read_record();
  }
  end_item();
  check_previous();
}

void ReportTable::Impl::check_previous() {
  if (previous_ && !previous_->damage().ok()) start_over(previous_->damage());
}

void ReportTable::Impl::start_over(quire::Status why) {
  print_("%s is not used as the previous table: %s\n", path_.c_str(), why.message().c_str());
  drop_previous_and_records();
  restart_pending_ = true;
  // What the table holds so far goes with its temporary file; a new one
  // gets the same start.
  out_.attach(nullptr);
  replacement_.abandon();
  quire::Status status;
  if (replacement_.begin(path_, kTemporaryPrefix, &status)) {
    out_.attach(&replacement_.file());
  } else {
    restart_failure_ = status;  // close reports it
  }
  writer_ = make_table_writer(given_path_, out_);
  const std::vector<FieldSpec> fields = std::move(fields_);
  start_table();
  for (size_t i = 0; i < preamble_.size(); ++i)
    writer_->preamble_value(preamble_[i].c_str(), i + 1 == preamble_.size());
  restart_table_rows();
  for (size_t i = 0; i < fields.size(); ++i) {
    writer_->add_column(fields[i], column_names_[i].c_str());
    fields_.push_back(fields[i]);
  }
  finish_header();
  // Only the preamble line stays of the change lines.
  log_.forget_lines();
  log_.append(log_preamble_);
}

void ReportTable::Impl::misuse(const char* what) {
  if (print_) print_("%s\n", what);
}

int ReportTable::Impl::fail(const quire::Status& status) {
  print_("%s; %s is left as it was\n", status.message().c_str(), path_.c_str());
  abandon();
  return 0;
}

void ReportTable::Impl::drop_previous_and_records() {
  previous_.reset();
  by_record_ = false;
  record_item_loaded_ = false;
  record_in_.close();
  table_bytes_.close();
  record_out_.abandon();
}

void ReportTable::Impl::abandon() {
  out_.attach(nullptr);  // no write on its way into a file about to go
  stream_file_.close();
  spool_.close();
  replacement_.abandon();
  drop_previous_and_records();
  item_open_ = false;
  writer_.reset();
  log_.discard();
  lock_.release();
  open_ = false;
}

int ReportTable::Impl::close() {
  if (!open_) return 0;
  if (!header_complete_) finish_header();
  if (in_record()) pad_record();
  if (stream_file_.is_open()) return close_stream();
  end_item();
  if (!restart_failure_.ok()) return fail(restart_failure_);
  if (!record_failure_.ok()) return fail(record_failure_);
  if (!table_read_failure_.ok()) return fail(table_read_failure_);
  // A previous table that could not be read to its end gave items after
  // the failure as new: neither the table nor its log would be right.
  if (previous_ && !previous_->read_status().ok()) return fail(previous_->read_status());
  if (by_record_ && !table_bytes_.status().ok()) return fail(table_bytes_.status());
  // The previous table and its record are let go before they are replaced
  // (a file held open cannot be renamed or removed on every system).
  previous_.reset();
  table_bytes_.close();
  record_in_.close();
  writer_->finish();

  // The new table equals the one at the path: that table stays and becomes
  // OLD.DAT as well, through a second name; nothing needs writing. (The
  // path is a link's target already; a link put there since is replaced.)
  const bool equal = out_.equals_source() && platform::is_plain_file(path_);
  quire::Status status;
  if (!equal && (!out_.flush() || !replacement_.finish(&status)))
    return fail(out_.status().ok() ? status : out_.status());
  // An unchanged rerun's record is the one at its name already: it stays.
  keep_record_ = equal && by_record_ && record_out_.same_as(record_in_, out_.size());
  if (keep_record_) {
    record_out_.abandon();
  } else if (!record_out_.finish(out_.size(), &status)) {
    return fail(status);
  }
  return put_in_place(equal);
}

int ReportTable::Impl::put_in_place(bool equal) {
  // The run's files change as one commit: each step below is made in this
  // order and, when a later one fails, taken back by its undo, the last
  // made first. The output path, OLD.DAT, the run record, delta.lst and the
  // change feed are then as they were before the run.
  platform::FileCommit commit;

  // The changes are on the disk before the table takes the path: a run
  // killed from here on can only log them once more, never lose them.
  commit.add("append the change log", [this](quire::Status* s) { return log_.commit_log(s); },
             [this] { log_.roll_back_log(); });
  commit.add("append the change feed", [this](quire::Status* s) { return log_.commit_feed(s); },
             [this] { log_.roll_back_feed(); });

  // The old run record goes aside before the table is replaced and the new
  // one comes after it: the record at its name describes the table at the
  // path, or there is none.
  std::string held_record;
  commit.add(
      "move the old run record aside",
      [&](quire::Status* s) {
        if (keep_record_ || !platform::path_exists(record_path_)) return true;
        std::string aside = platform::unpredictable_name(platform::directory_of(path_), kTemporaryPrefix);
        if (!platform::rename_file(env_, record_path_, aside, s)) return false;
        held_record = std::move(aside);
        return true;
      },
      [&] {
        quire::Status ignored;
        if (!held_record.empty()) platform::rename_file(env_, held_record, record_path_, &ignored);
        held_record.clear();
      });

  // The old table is held under a second name of our naming until the new
  // one stands at the path, then that name becomes OLD.DAT: the path and
  // OLD.DAT each hold a whole table at every moment, and a failure on the
  // way leaves both as they were. OLD.DAT itself needs no change when the
  // output path is OLD.DAT or OLD.DAT already is a second name of the table
  // at the path; the old table is held all the same while a new one takes
  // the path, so that a failure can put it back.
  const bool keep_old_table = path_.compare(file_name_start(path_), std::string::npos, kOldTableName) == 0 ||
                              platform::same_file(path_, old_path_);
  std::string held;
  bool held_linked = false;  // held is a second name of the table at the path
  commit.add(
      "keep the old table",
      [&](quire::Status* s) {
        if ((keep_old_table && equal) || !platform::path_exists(path_)) return true;
        std::string name = platform::unpredictable_name(platform::directory_of(path_), kTemporaryPrefix);
        quire::Status link_status;
        if (platform::link_file(env_, path_, name, &link_status)) {
          held = std::move(name);
          held_linked = true;
          return true;
        }
        if (equal) {
          // Without hard links the new table is written out after all.
          quire::Status status;
          if (!out_.flush() || !replacement_.finish(&status)) {
            *s = out_.status().ok() ? status : out_.status();
            return false;
          }
          equal = false;
        }
        // The old table is renamed instead; the path is without a table
        // until the new one takes it.
        if (!platform::rename_file(env_, path_, name, s)) return false;
        held = std::move(name);
        return true;
      },
      [&] {
        quire::Status ignored;
        if (held.empty()) return;
        if (held_linked) platform::remove_file(env_, held, &ignored);
        else platform::rename_file(env_, held, path_, &ignored);
        held.clear();
      });

  commit.add(
      "put the table in place",
      [&](quire::Status* s) {
        if (!equal) return replacement_.put_in_place(s);
        replacement_.abandon();
        return true;
      },
      [&] {
        // The old table back at the path, or no table as before.
        if (equal) return;
        quire::Status ignored;
        if (held.empty()) {
          platform::remove_file(env_, path_, &ignored);
        } else {
          platform::rename_file(env_, held, path_, &ignored);
          held.clear();
        }
      });

  commit.add(
      "put the run record in place",
      [&](quire::Status* s) { return keep_record_ || record_out_.put_in_place(s); },
      [&] {
        quire::Status ignored;
        if (!keep_record_) platform::remove_file(env_, record_path_, &ignored);
      });

  // With no table at the path before, OLD.DAT goes all the same: it holds
  // the table this run replaced, or nothing. The last step to change
  // anything: it has no undo.
  commit.add("replace OLD.DAT", [&](quire::Status* s) {
    if (keep_old_table) return true;
    return held.empty() ? platform::remove_file(env_, old_path_, s) : platform::rename_file(env_, held, old_path_, s);
  });

  quire::Status status = commit.run();
  if (!status.ok()) {
    if (status.error() == EWOULDBLOCK && status.operation() == "lock") {
      print_("cannot write %s: %s is locked by another program (waited %s); run again when it is released\n",
             path_.c_str(), status.subject().c_str(), platform::wait_text(platform::lock_wait_limit()).c_str());
      abandon();
      return 0;
    }
    return fail(status);
  }
  // The old record, and the second name of an old table that OLD.DAT holds
  // already, are let go; should that fail, the next run here removes them
  // with every other file of our temporary naming.
  quire::Status ignored;
  if (!held_record.empty()) platform::remove_file(env_, held_record, &ignored);
  if (keep_old_table && !held.empty()) platform::remove_file(env_, held, &ignored);
  log_.release();
  // The table at the path was the copy source: let it go before OLD.DAT is
  // used by anyone (a file held open cannot go away on every system).
  out_.attach(nullptr);
  bool synced = platform::sync_directory(env_, platform::directory_of(path_), &status);
  lock_.release();
  writer_.reset();
  open_ = false;
  if (!synced) {
    print_("the table %s is written, but %s\n", path_.c_str(), status.message().c_str());
    return 0;
  }
  return 1;
}

// ---- ReportTable ------------------------------------------------------------

ReportTable::ReportTable(platform::FileEnv& env) : impl_(std::make_unique<Impl>(env)) {}
ReportTable::~ReportTable() = default;

int ReportTable::open_report_output(const char* path, const char* key_column,
                                    const char* time_column, int notation, PrintFunction print) {
  return impl_->open(path, key_column, time_column, notation, print);
}

void ReportTable::write_preamble_value(int is_last, const char* text) {
  impl_->write_preamble_value(is_last, text);
}

void ReportTable::define_field(int is_last, char type, int width, int decimals, const char* name) {
  impl_->define_field(is_last, type, width, decimals, name);
}

void ReportTable::write_field(int is_first, const char* text) {
  if (text == nullptr) text = "";
  impl_->write_text(is_first, text, std::strlen(text));
}

void ReportTable::write_field(int is_first, const char* text, size_t length) {
  if (text == nullptr) {
    text = "";
    length = 0;
  }
  impl_->write_text(is_first, text, length);
}

void ReportTable::write_field(int is_first, double real) {
  Impl::Value value{Impl::Value::kDouble};
  value.real = real;
  impl_->write_field(is_first, value);
}

void ReportTable::write_field(int is_first, int32_t integer) {
  Impl::Value value{Impl::Value::kInt};
  value.integer = integer;
  impl_->write_field(is_first, value);
}

int ReportTable::reuse_previous_record(const char* item_name, const char* change_stamp,
                                       std::optional<int64_t> change_time) {
  return impl_->reuse_previous_record(item_name, change_stamp, change_time);
}

void ReportTable::describe_run(const char* kind, const char* area) { impl_->describe_run(kind, area); }
void ReportTable::forget_item() { impl_->forget_item(); }
void ReportTable::identify_area(const char* identity) { impl_->identify_area(identity); }
void ReportTable::leave_out(const char* item_name) { impl_->leave_out(item_name); }
void ReportTable::take_listed_items_only() { impl_->take_listed_items_only(); }

void ReportTable::copy_remaining_previous() { impl_->copy_remaining_previous(); }

void ReportTable::drop_remaining_previous() { impl_->drop_remaining_previous(); }

int ReportTable::close_report_output() { return impl_->close(); }

void ReportTable::abandon_report_output() { impl_->abandon(); }

bool ReportTable::is_open() const { return impl_->is_open(); }

bool ReportTable::restart_pending() const { return impl_->restart_pending(); }

bool ReportTable::take_restart() { return impl_->take_restart(); }

ReportTable& report_table() {
  static ReportTable table(platform::file_env());
  return table;
}

}  // namespace quire
