// The report library's C interface to its report kinds and to its reading
// of a report command's line, for a host that names, lists or checks
// commands before it runs one (quire/quire.h).
#include <cstring>
#include <exception>
#include <new>
#include <iterator>
#include <string>
#include <string_view>

#include "kinds/kinds.h"
#include "quire/quire.h"
#include "report/report_options.h"

namespace {

// The exported command of each kind, in the order of the kinds table.
constexpr QuireReportCommand kCommands[] = {dmp_mkhdr, dmp_mkpc,  dmp_mkov,  dmp_mksplice,
                                            dmp_mkmc,  dmp_mkmod, dmp_model, dmp_ordml};
static_assert(std::size(kCommands) == std::size(quire::kinds::kKinds));

// The kinds table as the C interface hands it out.
struct KindTable {
  QuireReportKind kinds[std::size(quire::kinds::kKinds)];
  constexpr KindTable() : kinds() {
    for (size_t i = 0; i < std::size(kinds); ++i) {
      const quire::kinds::KindEntry& entry = quire::kinds::kKinds[i];
      kinds[i] = {entry.name, entry.tag, entry.item_word, entry.key_column, entry.rows, kCommands[i]};
    }
  }
};
constexpr KindTable kTable;

// Stores text in message (size bytes), cut to fit and ended with a 0.
void store_message(std::string_view text, char* message, size_t size) {
  if (message == nullptr || size == 0) return;
  const size_t length = text.size() < size ? text.size() : size - 1;
  std::memcpy(message, text.data(), length);
  message[length] = '\0';
}

int check_options(const char* kind, int argc, char** argv, const char* changes, int flags, char* message,
                  size_t size) {
  bool known = false;
  for (const QuireReportKind& k : kTable.kinds) known = known || (kind != nullptr && std::strcmp(kind, k.name) == 0);
  if (!known) {
    store_message(std::string("unknown report kind '") + (kind ? kind : "") + "'", message, size);
    return QUIRE_OPTIONS_REFUSED;
  }
  quire::ReportOptions options;
  quire::OptionFault fault = quire::OptionFault::kNone;
  const quire::OptionScope scope =
      (flags & QUIRE_OPTIONS_ARGUMENTS_ONLY) ? quire::OptionScope::kArguments : quire::OptionScope::kWhole;
  const quire::Status status = quire::parse_report_options(argc, argv, scope, changes, &options, &fault);
  if (status.ok()) return QUIRE_OPTIONS_ACCEPTED;
  store_message(status.message(), message, size);
  return fault == quire::OptionFault::kDate ? QUIRE_OPTIONS_BAD_DATE : QUIRE_OPTIONS_REFUSED;
}

}  // namespace

extern "C" {

QUIRE_API const QuireReportKind* quire_report_kind(int index) {
  if (index < 0 || static_cast<size_t>(index) >= std::size(kTable.kinds)) return nullptr;
  return &kTable.kinds[index];
}

QUIRE_API int quire_check_report_options(const char* kind, int argc, char** argv, const char* changes, int flags,
                                         char* message, size_t size) {
  try {
    return check_options(kind, argc, argv, changes, flags, message, size);
  } catch (const std::bad_alloc&) {
    store_message("out of memory", message, size);
  } catch (const std::exception& e) {
    store_message(e.what(), message, size);
  } catch (...) {
    store_message("an unexpected failure", message, size);
  }
  return QUIRE_OPTIONS_REFUSED;
}

}  // extern "C"
