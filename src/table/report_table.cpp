// The table writer and the reuse of the previous output.
//
// A run writes its table into a temporary file of our own naming in the
// output's directory, formatting every value straight into a large buffer.
// The table at the output path stays untouched during the run and serves as
// the previous output; at close, once the new table is complete and on disk,
// the old one becomes OLD.DAT and the new one takes the path. The output
// directory is locked from open to close so that no two runs share it.
//
// Limits (misuse by a report kind, never by data): at most kMaxColumns
// columns, a 101st declaration is refused with "INTERNAL ERROR, BAD FIELD";
// widths are held to 0..kMaxWidth and decimals to 0..kMaxDecimals, so a
// dBASE record and header always fit their 16-bit lengths.
#include "table/report_table.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "quire/plotbase.h"
#include "quire/records.h"
#include "table/change_log.h"
#include "table/previous_output.h"
#include "table/table_format.h"

namespace quire {

using namespace quire::table;

namespace {

constexpr int kNoRecord = INT_MAX;  // write position when no record is open

void internal_error(const char* message) { std::fputs(message, stderr); }

// Item names equal ignoring case; most equal names are spelled alike, which
// a plain comparison settles fastest.
bool same_name(const char* a, const char* b) { return std::strcmp(a, b) == 0 || pb_stricmp(a, b) == 0; }

// Writes text between double quotes, each quote inside written twice: the
// one place where the CSV layout quotes a text.
void put_csv_text(platform::OutputFile& out, const char* text) {
  out.put('"');
  for (;;) {
    const char* quote = std::strchr(text, '"');
    if (quote == nullptr) {
      out.write(text, std::strlen(text));
      break;
    }
    out.write(text, static_cast<size_t>(quote - text) + 1);
    out.put('"');
    text = quote + 1;
  }
  out.put('"');
}

void put_line_end(platform::OutputFile& out) { out.write("\r\n", 2); }

// A number text right-aligned in width characters; a text that does not fit
// gives width blanks, which dBASE readers take as an empty value.
void put_dbase_number(platform::OutputFile& out, const char* text, size_t length, int width) {
  size_t w = static_cast<size_t>(width);
  char* p = out.reserve(w);
  if (length > w) {
    std::memset(p, ' ', w);
  } else {
    std::memset(p, ' ', w - length);
    std::memcpy(p + (w - length), text, length);
  }
  out.commit(w);
}

}  // namespace

class ReportTable::Impl {
 public:
  // One value handed to write_field, before it is fitted to its column.
  struct Value {
    enum Kind { kText, kDouble, kInt, kNone } kind;
    const char* text = "";
    double real = 0;
    int32_t integer = 0;
  };

  ~Impl() { abandon(); }

  int open(const char* path, const char* key_column, const char* time_column, int notation);
  void write_preamble_value(int is_last, const char* text);
  void define_field(int is_last, char type, int width, int decimals, const char* name);
  void write_field(int is_first, const Value& value);
  // write_field for a text; the same bytes, fewer steps for a text column.
  void write_text(int is_first, const char* text);
  int reuse_previous_record(const char* item_name, const char* change_stamp);
  void copy_remaining_previous();
  int close();
  bool is_open() const { return open_; }

 private:
  int field_count() const { return static_cast<int>(fields_.size()); }
  bool in_record() const { return position_ < field_count(); }
  void finish_header();
  void start_record();
  void put_value(const FieldSpec& field, const Value& value);
  void finish_value();
  void pad_record();
  void copy_previous_record();
  void store_dbase_header(bool in_progress);
  int fail(const platform::IoStatus& status);
  // Removes the temporary file, if any.
  void abandon_temporary();
  // With the table at the path: logs its changes, syncs the directory and
  // releases it. Returns what close returns.
  int finish_in_place();
  void abandon();

  bool open_ = false;
  bool dbase_ = false;
  std::string path_;
  std::string old_path_;
  platform::DirectoryLock lock_;
  std::unique_ptr<platform::OutputFile> out_;

  std::vector<FieldSpec> fields_;
  std::vector<std::string> dbase_names_;
  bool header_complete_ = false;
  int position_ = kNoRecord;

  unsigned char dbf_header_[kDbfHeaderSize] = {};
  uint32_t record_count_ = 0;
  uint16_t header_length_ = 0;
  uint16_t record_length_ = 0;

  PreviousOutput previous_;
  bool raw_dbase_copy_ = false;  // previous dBASE records fit the new layout
  std::string last_deleted_;
  ChangeLog log_;
};

int ReportTable::Impl::open(const char* path, const char* key_column, const char* time_column,
                            int notation) {
  abandon();
  if (path == nullptr || *path == '\0') {
    pb_printf("cannot write the table: no output path given\n");
    return 0;
  }
  path_ = path;
  dbase_ = is_dbase_path(path_);
  const std::string directory = platform::directory_of(path_);

  platform::IoStatus status;
  switch (lock_.acquire(directory, &status)) {
    case platform::DirectoryLock::kLocked:
      break;
    case platform::DirectoryLock::kBusy:
      pb_printf("cannot write %s: another report run is writing in %s%s; "
                "run again when it has finished\n",
                path_.c_str(), directory == "." ? "the current directory" : "the directory ",
                directory == "." ? "" : directory.c_str());
      return 0;
    case platform::DirectoryLock::kFailed:
      pb_printf("cannot write %s: %s\n", path_.c_str(), status.message().c_str());
      return 0;
  }
  // Holding the lock, every file of our temporary naming here was left by a
  // run that died.
  platform::remove_files_with_prefix(directory, kTemporaryPrefix);
  if (platform::is_directory(path_)) {
    pb_printf("cannot write %s: it is a directory\n", path_.c_str());
    lock_.release();
    return 0;
  }
  out_ = std::make_unique<platform::OutputFile>();
  if (!out_->create_temporary(directory, kTemporaryPrefix)) {
    pb_printf("cannot write %s: %s\n", path_.c_str(), out_->status().message().c_str());
    out_.reset();
    lock_.release();
    return 0;
  }
  old_path_ = old_table_path(path_);

  // The previous output is the table that stands at the path until close.
  bool has_previous = previous_.open(path_);
  // Until the new table differs from the one at the path, nothing is
  // written: an unchanged rerun only links the path's table as OLD.DAT.
  if (has_previous) out_->match_source(path_, dbase_ ? kDbfHeaderSize : 0);
  log_.open(kChangeLogName);

  fields_.clear();
  dbase_names_.clear();
  header_complete_ = false;
  position_ = kNoRecord;
  record_count_ = 0;
  header_length_ = 33;
  record_length_ = 1;
  raw_dbase_copy_ = false;
  last_deleted_.clear();
  if (dbase_) {
    std::memset(dbf_header_, 0, sizeof dbf_header_);
    std::time_t now = std::time(nullptr);
    const std::tm* local = std::localtime(&now);
    dbf_header_[0] = kDbfVersion;
    if (local != nullptr) {
      dbf_header_[kDbfYear] = static_cast<unsigned char>(local->tm_year & 0xFF);
      dbf_header_[kDbfMonth] = static_cast<unsigned char>(local->tm_mon + 1);
      dbf_header_[kDbfDay] = static_cast<unsigned char>(local->tm_mday);
    }
    dbf_header_[kDbfLanguageDriverOffset] = kDbfLanguageDriver;
    store_dbase_header(true);
    out_->write(dbf_header_, sizeof dbf_header_);
  }

  if (has_previous) {
    PreviousOutput::HeaderResult result = previous_.read_header(notation);
    if (result == PreviousOutput::kHeaderRejected) {
      log_.discard();
    } else if (result == PreviousOutput::kHeaderOk &&
               previous_.find_columns(key_column ? key_column : "", time_column ? time_column : "")) {
      previous_.read_record();
    }
  }
  open_ = true;
  return 1;
}

void ReportTable::Impl::store_dbase_header(bool in_progress) {
  records::store_u32(dbf_header_ + kDbfRecordCount, record_count_);
  records::store_u16(dbf_header_ + kDbfHeaderLength, header_length_);
  records::store_u16(dbf_header_ + kDbfRecordLength, record_length_);
  dbf_header_[kDbfInProgress] = in_progress ? 1 : 0;
}

void ReportTable::Impl::write_preamble_value(int is_last, const char* text) {
  if (!open_) return;
  if (text == nullptr) text = "";
  if (!dbase_) {
    put_csv_text(*out_, text);
    if (is_last) put_line_end(*out_);
    else out_->put(',');
  }
  log_.append(text);
  log_.append(is_last ? "\r\n" : ",");
}

void ReportTable::Impl::define_field(int is_last, char type, int width, int decimals,
                                     const char* name) {
  if (!open_) return;
  if (header_complete_ || field_count() >= kMaxColumns) {
    internal_error("INTERNAL ERROR, BAD FIELD\n");
  } else {
    if (name == nullptr) name = "";
    FieldSpec field;
    field.type = type;
    field.width = width < 0 ? 0 : (width > kMaxWidth ? kMaxWidth : width);
    field.decimals = decimals < 0 ? 0 : (decimals > kMaxDecimals ? kMaxDecimals : decimals);
    if (!dbase_) {
      if (field_count() > 0) out_->put(',');
      put_csv_text(*out_, name);
    } else {
      unsigned char descriptor[kDbfDescriptorSize] = {};
      std::string dbase_name = dbase_column_name(name, &dbase_names_);
      std::memcpy(descriptor + kDbfFieldName, dbase_name.data(), dbase_name.size());
      descriptor[kDbfFieldType] = static_cast<unsigned char>(type == 'F' ? 'N' : type);
      descriptor[kDbfFieldWidth] = static_cast<unsigned char>(field.width);
      descriptor[kDbfFieldDecimals] = static_cast<unsigned char>(type == 'F' ? field.decimals : 0);
      header_length_ = static_cast<uint16_t>(header_length_ + kDbfDescriptorSize);
      record_length_ = static_cast<uint16_t>(record_length_ + field.width);
      out_->write(descriptor, sizeof descriptor);
    }
    fields_.push_back(field);
  }
  if (is_last && !header_complete_) finish_header();
}

void ReportTable::Impl::finish_header() {
  header_complete_ = true;
  if (dbase_) out_->put(static_cast<char>(kDbfHeaderTerminator));
  else put_line_end(*out_);

  // A previous output of another column count is of no use.
  if (!previous_.is_open()) return;
  if (previous_.column_count() != field_count()) {
    previous_.drop();
    return;
  }
  // Previous dBASE records are copied as they are only when they have the
  // new layout; otherwise each is converted value by value.
  raw_dbase_copy_ = previous_.format() == PreviousOutput::kDbase && dbase_ &&
                    previous_.record_length() == record_length_;
  for (int i = 0; raw_dbase_copy_ && i < field_count(); ++i)
    if (previous_.column_width(i) != fields_[static_cast<size_t>(i)].width) raw_dbase_copy_ = false;
  // Records copied as they are need only their key and time values split.
  const bool previous_dbase = previous_.format() == PreviousOutput::kDbase;
  if ((!previous_dbase && !dbase_) || raw_dbase_copy_)
    previous_.limit_values(std::max(previous_.key_index(), previous_.time_index()) + 1);
}

void ReportTable::Impl::start_record() {
  if (dbase_) {
    ++record_count_;
    out_->put(' ');
  }
  position_ = 0;
}

void ReportTable::Impl::put_value(const FieldSpec& field, const Value& value) {
  platform::OutputFile& out = *out_;
  char number[kFixedTextSize];
  switch (field.type) {
    case 'C': {
      const char* text = value.text;
      if (value.kind == Value::kDouble) {
        auto r = std::to_chars(number, number + sizeof number - 1, value.real);
        *r.ptr = '\0';
        text = number;
      } else if (value.kind == Value::kInt) {
        number[format_int(number, value.integer)] = '\0';
        text = number;
      } else if (value.kind == Value::kNone || text == nullptr) {
        text = "";
      }
      if (!dbase_) {
        put_csv_text(out, text);
      } else {
        size_t w = static_cast<size_t>(field.width);
        const void* nul = std::memchr(text, '\0', w);
        size_t length = nul ? static_cast<size_t>(static_cast<const char*>(nul) - text) : w;
        char* p = out.reserve(w);
        std::memcpy(p, text, length);
        std::memset(p + length, ' ', w - length);
        out.commit(w);
      }
      return;
    }
    case 'F': {
      if (value.kind == Value::kNone) break;
      double real = value.kind == Value::kDouble ? value.real
                    : value.kind == Value::kInt  ? static_cast<double>(value.integer)
                                                 : parse_double(value.text ? value.text : "");
      size_t length = format_fixed(number, real, field.decimals);
      if (!dbase_) out.write(number, length);
      else put_dbase_number(out, number, length, field.width);
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
        integer = parse_int(value.text ? value.text : "");
      }
      size_t length = format_int(number, integer);
      if (!dbase_) out.write(number, length);
      else put_dbase_number(out, number, length, field.width);
      return;
    }
    default:
      internal_error("INTERNAL ERROR, BAD FIELD\n");
      break;
  }
  // Nothing to write: in dBASE blanks keep the record at its length.
  if (dbase_) put_dbase_number(out, "", 0, field.width);
}

void ReportTable::Impl::finish_value() {
  if (!dbase_) {
    if (position_ == field_count() - 1) put_line_end(*out_);
    else out_->put(',');
  }
  ++position_;
}

void ReportTable::Impl::pad_record() {
  Value none{Value::kNone};
  while (in_record()) {
    put_value(fields_[static_cast<size_t>(position_)], none);
    finish_value();
  }
}

void ReportTable::Impl::write_field(int is_first, const Value& value) {
  if (!open_) return;
  if (!header_complete_) finish_header();
  if (is_first) {
    if (in_record()) pad_record();
    if (field_count() == 0) {
      internal_error("INTERNAL ERROR, NEW_PRINT_FIELD.\n");
      return;
    }
    start_record();
  }
  if (position_ >= field_count()) {
    // More values than columns: the record is already complete.
    internal_error("INTERNAL ERROR, NEW_PRINT_FIELD.\n");
    return;
  }
  put_value(fields_[static_cast<size_t>(position_)], value);
  finish_value();
}

void ReportTable::Impl::write_text(int is_first, const char* text) {
  const bool fast = open_ && header_complete_ &&
                    (is_first ? !in_record() && field_count() > 0 : in_record()) &&
                    fields_[static_cast<size_t>(is_first ? 0 : position_)].type == 'C';
  if (!fast) {
    Value value{Value::kText};
    value.text = text;
    write_field(is_first, value);
    return;
  }
  if (is_first) start_record();
  platform::OutputFile& out = *out_;
  const FieldSpec& field = fields_[static_cast<size_t>(position_)];
  if (dbase_) {
    size_t w = static_cast<size_t>(field.width);
    const void* nul = std::memchr(text, '\0', w);
    size_t length = nul ? static_cast<size_t>(static_cast<const char*>(nul) - text) : w;
    char* p = out.reserve(w);
    std::memcpy(p, text, length);
    std::memset(p + length, ' ', w - length);
    out.commit(w);
    ++position_;
    return;
  }
  // A text without quotes goes in one piece with its separator.
  constexpr size_t kLongText = 4096;
  size_t length = std::strlen(text);
  if (length > kLongText || std::memchr(text, '"', length) != nullptr) {
    put_csv_text(out, text);
    finish_value();
    return;
  }
  const bool last = position_ == field_count() - 1;
  char* p = out.reserve(length + 4);
  p[0] = '"';
  std::memcpy(p + 1, text, length);
  p[length + 1] = '"';
  if (last) {
    p[length + 2] = '\r';
    p[length + 3] = '\n';
  } else {
    p[length + 2] = ',';
  }
  out.commit(length + (last ? 4 : 3));
  ++position_;
}

void ReportTable::Impl::copy_previous_record() {
  if (in_record()) pad_record();
  const bool previous_dbase = previous_.format() == PreviousOutput::kDbase;
  if (!previous_dbase && !dbase_) {
    std::string_view line = previous_.raw_with_end();
    if (line.size() == previous_.raw().size() + 2) {
      out_->write_from_source(line.data(), line.size(), previous_.raw_offset());
    } else {
      out_->write(line.data(), previous_.raw().size());
      put_line_end(*out_);
    }
  } else if (previous_dbase && dbase_ && raw_dbase_copy_) {
    std::string_view raw = previous_.raw();
    ++record_count_;
    out_->write_from_source(raw.data(), raw.size(), previous_.raw_offset());
  } else {
    // Between layouts: value by value; a missing value is an empty text or
    // 0, and a text that is no number gives 0.
    for (int i = 0; i < field_count(); ++i) {
      Value value{Value::kText};
      value.text = i < previous_.value_count() ? previous_.value(i) : "";
      write_field(i == 0, value);
    }
  }
  position_ = kNoRecord;
}

int ReportTable::Impl::reuse_previous_record(const char* item_name, const char* change_stamp) {
  if (!open_) return 1;
  if (item_name == nullptr) item_name = "";
  if (change_stamp == nullptr) change_stamp = "";
  if (!header_complete_) finish_header();

  // Records of items that sort before this one are gone from the store.
  while (!previous_.exhausted() && pb_stricmp(item_name, previous_.key()) > 0) {
    // One line per item, not per record of it.
    if (last_deleted_.empty() || pb_stricmp(last_deleted_.c_str(), previous_.key()) != 0) {
      log_.log_change("DELETED", previous_.key());
      last_deleted_ = previous_.key();
    }
    previous_.read_record();
  }
  if (previous_.exhausted() || pb_stricmp(item_name, previous_.key()) < 0) {
    log_.log_change("NEW", item_name);
    return 1;
  }
  if (compare_ignoring_case(change_stamp, previous_.stamp()) != 0) {
    log_.log_change("CHANGED", item_name);
    do {
      previous_.read_record();
    } while (!previous_.exhausted() && same_name(previous_.key(), item_name));
    return 1;
  }
  do {
    copy_previous_record();
    previous_.read_record();
  } while (!previous_.exhausted() && same_name(previous_.key(), item_name));
  return 0;
}

void ReportTable::Impl::copy_remaining_previous() {
  if (!open_) return;
  if (!header_complete_) finish_header();
  while (!previous_.exhausted()) {
    copy_previous_record();
    previous_.read_record();
  }
}

int ReportTable::Impl::fail(const platform::IoStatus& status) {
  pb_printf("%s; %s is left as it was\n", status.message().c_str(), path_.c_str());
  abandon();
  return 0;
}

void ReportTable::Impl::abandon() {
  abandon_temporary();
  previous_.drop();
  log_.discard();
  lock_.release();
  open_ = false;
}

int ReportTable::Impl::close() {
  if (!open_) return 0;
  if (!header_complete_) finish_header();
  if (in_record()) pad_record();
  previous_.drop();

  if (dbase_) {
    out_->put(static_cast<char>(kDbfEndOfFile));
    store_dbase_header(false);
    out_->write_at(0, dbf_header_, sizeof dbf_header_);
  }
  platform::IoStatus status;
  const bool path_is_old_table = path_.compare(file_name_start(path_), std::string::npos, kOldTableName) == 0;

  // The new table equals the one at the path: that table stays and becomes
  // OLD.DAT as well, through a second name; nothing needs writing. (A
  // symbolic link at the path is replaced by the table as usual.)
  if (out_->equals_source() && platform::is_plain_file(path_)) {
    if (!path_is_old_table && !platform::remove_file(old_path_, &status)) return fail(status);
    platform::IoStatus link_status;
    if (path_is_old_table || platform::link_file(path_, old_path_, &link_status)) {
      abandon_temporary();
      return finish_in_place();
    }
    // Without hard links the new table is written out after all.
  }

  out_->sync();
  if (!out_->close()) return fail(out_->status());

  // The old table becomes OLD.DAT. A second name keeps the path holding a
  // whole table at every moment; without hard links it is renamed instead.
  bool moved_aside = false;
  // With no table at the path, OLD.DAT goes all the same: it holds the
  // table this run replaced, or nothing.
  if (!path_is_old_table && !platform::remove_file(old_path_, &status)) return fail(status);
  if (!path_is_old_table && platform::path_exists(path_)) {
    platform::IoStatus link_status;
    if (!platform::link_file(path_, old_path_, &link_status)) {
      if (!platform::rename_file(path_, old_path_, &status)) return fail(status);
      moved_aside = true;
    }
  }
  if (!platform::rename_file(out_->path(), path_, &status)) {
    platform::IoStatus ignored;
    if (moved_aside) platform::rename_file(old_path_, path_, &ignored);
    return fail(status);
  }
  out_.reset();  // its file now is the table at the path
  return finish_in_place();
}

void ReportTable::Impl::abandon_temporary() {
  if (!out_) return;
  std::string temporary = out_->path();
  out_.reset();
  platform::IoStatus ignored;
  if (!temporary.empty()) platform::remove_file(temporary, &ignored);
}

int ReportTable::Impl::finish_in_place() {
  platform::IoStatus log_status;
  bool log_ok = log_.commit(&log_status);
  platform::IoStatus sync_status;
  bool sync_ok = lock_.sync(&sync_status);
  lock_.release();
  open_ = false;
  if (!log_ok) {
    pb_printf("the table %s is written, but its changes could not be logged: %s\n", path_.c_str(),
              log_status.message().c_str());
    return 0;
  }
  if (!sync_ok) {
    pb_printf("the table %s is written, but %s\n", path_.c_str(), sync_status.message().c_str());
    return 0;
  }
  return 1;
}

// ---- ReportTable ------------------------------------------------------------

ReportTable::ReportTable() : impl_(std::make_unique<Impl>()) {}
ReportTable::~ReportTable() = default;

int ReportTable::open_report_output(const char* path, const char* key_column,
                                    const char* time_column, int notation) {
  return impl_->open(path, key_column, time_column, notation);
}

void ReportTable::write_preamble_value(int is_last, const char* text) {
  impl_->write_preamble_value(is_last, text);
}

void ReportTable::define_field(int is_last, char type, int width, int decimals, const char* name) {
  impl_->define_field(is_last, type, width, decimals, name);
}

void ReportTable::write_field(int is_first, const char* text) {
  impl_->write_text(is_first, text ? text : "");
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

int ReportTable::reuse_previous_record(const char* item_name, const char* change_stamp) {
  return impl_->reuse_previous_record(item_name, change_stamp);
}

void ReportTable::copy_remaining_previous() { impl_->copy_remaining_previous(); }

int ReportTable::close_report_output() { return impl_->close(); }

bool ReportTable::is_open() const { return impl_->is_open(); }

ReportTable& report_table() {
  static ReportTable table;
  return table;
}

}  // namespace quire
