#include "table/change_log.h"

#include <cerrno>
#include <chrono>

#include "quire/files/output_target.h"
#include "report/time_text.h"
#include "table/change_feed.h"
#include "table/table_figures.h"

namespace quire::table {

void ChangeLog::open_sink(Sink* sink, const std::string& path, bool create, PrintFunction print) {
  // A link may lead into another user's file and a FIFO would hold the run
  // (and its lock) until someone reads it: only a regular file is a log.
  const char* what = "";
  if (!platform::is_regular_file_itself(path, &what)) {
    if (platform::path_exists(path)) {
      note_change_log_lost();
      print("the changes of this run are not logged: %s is %s, not a regular file\n", path.c_str(), what);
      return;
    }
    if (!create) return;
  }
  if (sink->file.open_append(path)) return;
  if (sink->file.status().ok()) {
    if (!create) return;
    // Created exclusively (a file put there meanwhile is appended to
    // instead), then opened again for appending like an existing one: the
    // blocks of other runs land after each other, never over each other.
    if (sink->file.create_exclusive(path) || sink->file.status().error() == EEXIST) {
      sink->file.close();
      if (sink->file.open_append(path)) return;
    }
  }
  note_change_log_lost();
  if (sink->file.status().ok())
    print("the changes of this run are not logged: %s went away as it was created\n", path.c_str());
  else
    print("%s; changes of this run are not logged\n", sink->file.status().message().c_str());
  sink->file.close();
}

void ChangeLog::open(const std::string& log_path, const std::string& feed_path, std::string_view output,
                     PrintFunction print) {
  discard();
  open_sink(&log_, log_path, false, print);
  if (log_.file.is_open() && !feed_path.empty() && platform::same_file(log_path, feed_path)) {
    // Its two blocks would wait for each other's lock.
    note_change_log_lost();
    print("the changes of this run are not fed to %s: it is the change log\n", feed_path.c_str());
  } else if (!feed_path.empty()) {
    open_sink(&feed_, feed_path, true, print);
  }
  output_.assign(output);
  run_time_ = std::chrono::duration_cast<std::chrono::seconds>(
                  std::chrono::system_clock::now().time_since_epoch()).count();
  make_feed_prefix("", "");
}

void ChangeLog::make_feed_prefix(std::string_view kind, std::string_view area) {
  char run[kIsoTimeTextSize];
  feed_prefix_ = "{\"run\":\"";
  feed_prefix_ += format_iso_utc_time(run_time_, run);
  feed_prefix_ += "\",\"kind\":\"";
  append_json_text(kind, &feed_prefix_);
  feed_prefix_ += "\",\"area\":\"";
  append_json_text(area, &feed_prefix_);
  feed_prefix_ += "\",\"output\":\"";
  append_json_text(output_, &feed_prefix_);
  feed_prefix_ += "\",\"event\":\"";
}

void ChangeLog::describe_run(std::string_view kind, std::string_view area) { make_feed_prefix(kind, area); }

void ChangeLog::hold(Sink* sink, std::string_view text) {
  if (!sink->file.is_open()) return;
  sink->pending.append(text);
  if (sink->pending.size() < kMemoryLimit) return;
  if (before_spill_) before_spill_();
  if (!sink->spill) {
    sink->spill.emplace(sink->file.env());
    if (!sink->spill->create_anonymous(platform::directory_of(sink->file.path()))) return;  // kept in memory
  }
  if (!sink->spill->is_open() || !sink->spill->status().ok()) return;
  sink->spill->append(sink->pending.data(), sink->pending.size());
  sink->pending.clear();
}

void ChangeLog::append(std::string_view text) { hold(&log_, text); }

void ChangeLog::append_feed_stamp(const Stamp& stamp) {
  int64_t seconds = 0;
  if (stamp.time) {
    seconds = *stamp.time;
  } else if (stamp.text == nullptr || !parse_time_text(stamp.text, &seconds)) {
    feed_line_ += "null";
    return;
  }
  char iso[kIsoTimeTextSize];
  feed_line_ += '"';
  feed_line_ += format_iso_utc_time(seconds, iso);
  feed_line_ += '"';
}

namespace {

// True for the bytes a name in the log cannot hold as they are: its quote,
// the escape character and the control characters, which would end or split
// the event's line.
bool needs_log_escape(unsigned char c) { return c < 0x20 || c == 0x7F || c == '"' || c == '\\'; }

}  // namespace

void ChangeLog::append_log_name(const char* name) {
  const char* end = name;
  bool plain = true;
  for (; *end; ++end) plain = plain && !needs_log_escape(static_cast<unsigned char>(*end));
  if (plain) {
    hold(&log_, std::string_view(name, static_cast<size_t>(end - name)));
    return;
  }
  static constexpr char kHex[] = "0123456789ABCDEF";
  log_name_.clear();
  for (const char* p = name; p != end; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (!needs_log_escape(c)) {
      log_name_ += static_cast<char>(c);
    } else if (c == '"' || c == '\\') {
      log_name_ += '\\';
      log_name_ += static_cast<char>(c);
    } else if (c == '\r') {
      log_name_ += "\\r";
    } else if (c == '\n') {
      log_name_ += "\\n";
    } else {
      log_name_ += "\\x";
      log_name_ += kHex[c >> 4];
      log_name_ += kHex[c & 0xF];
    }
  }
  hold(&log_, log_name_);
}

void ChangeLog::log_change(const char* word, const char* name, const Stamp& old_stamp, const Stamp& new_stamp) {
  if (log_.file.is_open()) {
    hold(&log_, word);
    hold(&log_, ": \"");
    append_log_name(name);
    hold(&log_, "\"\r\n");
  }
  if (feed_.file.is_open()) {
    feed_line_ = feed_prefix_;
    feed_line_ += word;
    feed_line_ += "\",\"item\":\"";
    append_json_text(name, &feed_line_);
    feed_line_ += "\",\"old\":";
    append_feed_stamp(old_stamp);
    feed_line_ += ",\"new\":";
    append_feed_stamp(new_stamp);
    feed_line_ += "}\n";
    hold(&feed_, feed_line_);
  }
}

void ChangeLog::forget(Sink* sink) {
  sink->pending.clear();
  // Lines moved out of memory go with their unnamed file.
  sink->spill.reset();
}

void ChangeLog::forget_lines() {
  forget(&log_);
  forget(&feed_);
}

void ChangeLog::close(Sink* sink) {
  sink->file.close();
  sink->spill.reset();
  sink->committed = false;
  sink->pending.clear();
  sink->pending.shrink_to_fit();
}

void ChangeLog::discard() {
  close(&log_);
  close(&feed_);
  feed_line_.clear();
  feed_line_.shrink_to_fit();
  log_name_.clear();
  log_name_.shrink_to_fit();
}

bool ChangeLog::append_spilled(Sink* sink, quire::Status* status) {
  uint64_t total = 0;
  if (!sink->spill || !sink->spill->is_open() || !sink->spill->current_size(&total) || total == 0) return true;
  if (sink->file.append_contents_of(*sink->spill, total)) return true;
  // A failed write is in the file's status, for the caller to report.
  if (sink->file.status().ok())
    status->fail(sink->spill->status().ok() ? EIO : sink->spill->status().error(), "read back the change lines for",
                 sink->file.path());
  return false;
}

bool ChangeLog::commit_sink(Sink* sink, quire::Status* status) {
  platform::WritableFile& file = sink->file;
  if (!file.is_open()) return true;
  if (sink->spill && sink->spill->is_open() && !sink->spill->status().ok()) {
    status->fail(sink->spill->status().error(), "keep the change lines for", file.path());
    close(sink);
    return false;
  }
  // Runs into other directories may share this file: one block at a time.
  // Another program holding it past the wait limit fails the run rather
  // than holding it without end.
  if (!file.lock_within(platform::lock_wait_limit()) || !file.current_size(&sink->size_before)) {
    const quire::Status& s = file.status();
    status->update(s);
    close(sink);
    return false;
  }
  sink->committed = true;
  if (append_spilled(sink, status) && file.append(sink->pending.data(), sink->pending.size()) && file.sync())
    return true;
  const quire::Status& s = file.status();
  status->update(s);
  roll_back_sink(sink);
  return false;
}

void ChangeLog::roll_back_sink(Sink* sink) {
  if (sink->committed) {
    // Nothing more can be done when this fails too; the run fails anyway.
    sink->file.truncate(sink->size_before);
    sink->file.sync();
  }
  close(sink);
}

}  // namespace quire::table
