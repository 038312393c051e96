#include "table/change_log.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include "quire/plotbase.h"

namespace quire::table {

void ChangeLog::open(const std::string& path) {
  discard();
  auto file = std::make_unique<platform::OutputFile>();
  if (file->open_append(path)) {
    file_ = std::move(file);
    return;
  }
  if (!file->status().ok())
    pb_printf("%s; changes of this run are not logged\n", file->status().message().c_str());
}

void ChangeLog::append(std::string_view text) {
  if (!file_) return;
  pending_.append(text);
  if (pending_.size() < kMemoryLimit) return;
  if (!spill_) {
    spill_ = std::make_unique<platform::OutputFile>();
    if (!spill_->create_anonymous(platform::directory_of(file_->path()))) return;  // kept in memory
  }
  if (!spill_->status().ok()) return;
  spill_->write(pending_.data(), pending_.size());
  pending_.clear();
}

void ChangeLog::log_change(const char* word, const char* name) {
  if (!file_) return;
  append(word);
  append(": \"");
  append(name);
  append("\"\r\n");
}

void ChangeLog::discard() {
  file_.reset();
  spill_.reset();
  pending_.clear();
  pending_.shrink_to_fit();
}

bool ChangeLog::commit(platform::IoStatus* status) {
  if (!file_) return true;
  bool ok = true;
  if (spill_ && spill_->size() > 0) {
    if (!spill_->status().ok()) {
      status->fail(spill_->status().error, "keep the change lines for", file_->path());
      ok = false;
    } else {
      std::vector<char> block(platform::OutputFile::kBufferSize);
      uint64_t offset = 0;
      const uint64_t total = spill_->size();
      while (offset < total) {
        long got = spill_->read_at(offset, block.data(), block.size());
        if (got <= 0) {
          status->fail(spill_->status().ok() ? EIO : spill_->status().error, "read back the change lines for",
                       file_->path());
          ok = false;
          break;
        }
        file_->write(block.data(), static_cast<size_t>(got));
        offset += static_cast<uint64_t>(got);
      }
    }
  }
  if (ok) {
    file_->write(pending_.data(), pending_.size());
    file_->sync();
    if (!file_->close()) {
      status->fail(file_->status().error, file_->status().operation.c_str(), file_->status().path);
      ok = false;
    }
  }
  discard();
  return ok;
}

}  // namespace quire::table
