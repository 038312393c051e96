// A StoreReader over items held in memory, for driving the report run and
// the report kinds without a storage area. Items are looked up, opened and
// closed the way the store does it; the records a kind reads are the item's
// byte buffers; any read can be made to fail with a given failure; what the
// run prints is collected in FakeStoreReader::printed().
#ifndef QUIRE_TESTS_SUPPORT_FAKE_STORE_READER_H_
#define QUIRE_TESTS_SUPPORT_FAKE_STORE_READER_H_

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "quire/records.h"
#include "report/store_reader.h"
#include "table/table_messages.h"

namespace quire::testing {

using Bytes = std::vector<unsigned char>;

// A record of size bytes with text at offset (NUL-ended within the record).
inline Bytes record_with_text(size_t size, size_t offset, const std::string& text) {
  Bytes b(size, 0);
  std::memcpy(b.data() + offset, text.data(), std::min(text.size(), size - offset - 1));
  return b;
}

// A failure as the store reports one: kStore for a failure of the area file,
// kNotFound otherwise, with the store's code, source and line.
inline Status fake_failure(int code, bool file_failed = true, const char* source = "fake.cpp", int line = 7) {
  Status failure = Status::failure(file_failed ? StatusCode::kStore : StatusCode::kNotFound, "fake failure", {},
                                   code);
  failure.at(source, line);
  return failure;
}

struct FakeItem {
  std::string name;
  int32_t modified = 0, created = -1, prev_modified = -1;  // -1: no such time
  std::string user_last_mod, user_created, user_prev_mod;
  bool fail_open = false, fail_close = false;
  bool fail_lookup = false;  // the lookup that would find it fails

  // The records the kinds read: the item's header (marker or order), the
  // marker's pieces, overrides and splices, and its model-list sequence
  // (model, options, sizes, next model ...) in reading order.
  Bytes header = {};
  std::vector<Bytes> pieces = {}, overrides = {}, splices = {}, list = {};
  // A model's value, and the stored piece headers by piece name.
  ModelValue model = {};
  std::map<std::string, Bytes> piece_headers = {};
  // Reads that fail: by the reader call's name ("header", "analysis",
  // "piece", "override", "splice", "locate", "list", "model", "piece_open",
  // "piece_header") and the 0-based index of the read among that call's
  // reads of the item.
  std::map<std::pair<std::string, int>, Status> failures = {};
};

class FakeStoreReader : public StoreReader {
 public:
  std::vector<FakeItem> items;
  std::vector<std::string> areas{"AREA"};  // the areas lookup_area finds
  std::vector<std::string> opened;
  int closes = 0;

  // Everything printed through printer() since the last clear_printed().
  static std::string& printed() {
    static std::string text;
    return text;
  }
  static void clear_printed() { printed().clear(); }

  PrintFunction printer() const override { return &print; }
  void connect() override {}
  int set_notation(int notation) override { return notation; }

  Status lookup_area(const char* name, unsigned char* area) override {
    for (const std::string& a : areas) {
      if (compare_item_names(a.c_str(), name) != 0) continue;
      std::memset(area, 0, records::area::kSize);
      std::memcpy(area, a.data(), std::min(a.size(), records::area::kNameSize - 1));
      return Status();
    }
    return fake_failure(-100, false);
  }
  int area_notation(unsigned char*) override { return 0; }
  int area_precision(unsigned char*) override { return 2; }
  void area_path(unsigned char*, char* out) override { std::strcpy(out, "fake.area"); }

  // Pattern "*" walks the items in order; any other pattern is an exact
  // name, compared without regard to case.
  Status lookup_item(StoreKind, unsigned char*, const char* pattern, int mode, char* name,
                     ItemPlace& place) override {
    size_t index = 0;
    if (std::strcmp(pattern, "*") == 0) {
      index = mode == 0 ? 0 : next_;
    } else {
      while (index < items.size() && compare_item_names(items[index].name.c_str(), pattern) != 0) ++index;
    }
    if (index >= items.size()) return fake_failure(-100, false);
    if (items[index].fail_lookup) return fake_failure(43);
    next_ = index + 1;
    std::strcpy(name, items[index].name.c_str());
    place = {static_cast<int>(index + 1), static_cast<int>(items.size()), items[index].modified};
    return Status();
  }

  Status open_item(StoreKind, unsigned char*, const char* name, unsigned char*, ItemHistory& history) override {
    opened.push_back(name);
    current_ = find(name);
    if (!current_ || current_->fail_open) return fake_failure(41);
    reads_.clear();
    history = {current_->modified,      current_->created,      current_->prev_modified,
               current_->user_last_mod, current_->user_created, current_->user_prev_mod};
    return Status();
  }

  Status close_item(StoreKind, unsigned char*, const char* name, unsigned char*) override {
    ++closes;
    const FakeItem* item = find(name);
    current_ = nullptr;
    return item && item->fail_close ? fake_failure(42) : Status();
  }

  Status marker_header(const char*, unsigned char*, unsigned char* header) override {
    return take("header", header, current_->header, records::marker_header::kSize);
  }
  Status marker_header_ex(const char*, unsigned char*, unsigned char* header) override {
    return take("header", header, current_->header, records::marker_header::kSizeEx);
  }
  Status marker_analysis(unsigned char*, const unsigned char** analysis) override {
    static const unsigned char kEmpty[records::marker_analysis::kSize] = {};
    *analysis = kEmpty;
    return failure_of("analysis");
  }
  Status first_marker_piece(unsigned char*, unsigned char* piece, bool& found) override {
    next_piece_ = 0;
    return next_marker_piece(nullptr, piece, found);
  }
  Status next_marker_piece(unsigned char*, unsigned char* piece, bool& found) override {
    found = next_piece_ < current_->pieces.size();
    if (!found) return Status();
    Status read = take("piece", piece, current_->pieces[next_piece_++], records::marker_piece::kSize);
    found = read.ok();
    return read;
  }
  Status piece_override(unsigned char*, int index, unsigned char*, unsigned char* record) override {
    return take("override", record, current_->overrides.at(static_cast<size_t>(index)),
                records::piece_override::kSize);
  }
  Status splice(unsigned char*, int index, unsigned char* record) override {
    return take("splice", record, current_->splices.at(static_cast<size_t>(index)), records::splice_info::kSize);
  }
  Status locate_marker_model_list(unsigned char*) override {
    next_list_ = 0;
    return failure_of("locate");
  }
  Status order_header(const char*, unsigned char*, unsigned char* header) override {
    next_list_ = 0;
    return take("header", header, current_->header, records::order_header::kSize);
  }
  Status list_model(unsigned char*, unsigned char* record) override {
    return next_list(record, records::order_model::kSize);
  }
  Status list_option(unsigned char*, unsigned char* record) override {
    return next_list(record, records::option_entry::kSize);
  }
  Status list_size(unsigned char*, unsigned char* record) override {
    return next_list(record, records::size_entry::kSize);
  }
  Status model(const char*, unsigned char*, ModelValue& model) override {
    model.clear();
    Status failure = failure_of("model");
    if (failure.ok()) model = current_->model;
    return failure;
  }
  Status piece_header(unsigned char*, const char* piece_name, unsigned char* header, bool& found) override {
    found = false;
    Status failure = failure_of("piece_open");
    if (!failure.ok()) return failure;
    auto stored = current_->piece_headers.find(piece_name);
    if (stored == current_->piece_headers.end()) return fake_failure(-100, false);
    found = true;
    return take("piece_header", header, stored->second, records::piece_header::kSize);
  }

  // Opens the named item for a test that calls the reads itself.
  void open_for_test(const char* name) {
    current_ = find(name);
    reads_.clear();
    next_list_ = 0;
  }

 private:
  __attribute__((format(printf, 1, 2))) static int print(const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    printed() += text;
    return n;
  }

  FakeItem* find(const char* name) {
    for (FakeItem& i : items)
      if (i.name == name) return &i;
    return nullptr;
  }

  // The failure set for the next read of call, counting the read.
  Status failure_of(const std::string& call) {
    const int index = reads_[call]++;
    auto failed = current_->failures.find({call, index});
    return failed == current_->failures.end() ? Status() : failed->second;
  }

  // Copies source (cut or zero-filled to size) into out unless the read fails.
  Status take(const std::string& call, unsigned char* out, const Bytes& source, size_t size) {
    Status failure = failure_of(call);
    if (!failure.ok()) return failure;
    std::memset(out, 0, size);
    std::memcpy(out, source.data(), std::min(size, source.size()));
    return Status();
  }

  Status next_list(unsigned char* out, size_t size) {
    if (next_list_ >= current_->list.size()) return fake_failure(-101, false);
    return take("list", out, current_->list[next_list_++], size);
  }

  FakeItem* current_ = nullptr;
  std::map<std::string, int> reads_;
  size_t next_ = 0;
  size_t next_piece_ = 0;
  size_t next_list_ = 0;
};

// Collects what FakeStoreReader's printer prints while it lives.
class FakePrints {
 public:
  FakePrints() { FakeStoreReader::clear_printed(); }
  ~FakePrints() { FakeStoreReader::clear_printed(); }
  FakePrints(const FakePrints&) = delete;
  FakePrints& operator=(const FakePrints&) = delete;

  const std::string& text() const { return FakeStoreReader::printed(); }
};

}  // namespace quire::testing

#endif  // QUIRE_TESTS_SUPPORT_FAKE_STORE_READER_H_
