// The report library's C interface (quire/quire.h): the one place that
// says extern "C". Each export runs its body inside fenced(), so that no
// exception (an allocation that fails, say) crosses into the host program:
// it becomes the call's failure value instead, and a report command's
// failure is printed as its last message.
#include <cstdint>
#include <exception>
#include <new>

#include "kinds/kinds.h"
#include "plotbase_reader.h"
#include "platform/host_window.h"
#include "platform/message_box.h"
#include "quire/plotbase.h"
#include "quire/quire.h"
#include "quire/status.h"
#include "report/run_figures.h"
#include "table/change_feed.h"
#include "table/report_table.h"

namespace {

// Runs body and returns its value, or failure when it throws.
template <class Result, class Body>
Result fenced(Result failure, Body body) noexcept {
  try {
    return body();
  } catch (...) {
    return failure;
  }
}

// The same for a body without a value.
template <class Body>
void fenced(Body body) noexcept {
  try {
    body();
  } catch (...) {
  }
}

// The exception being handled as a Status: kNoMemory for an allocation
// that failed, kInternal with its text for any other. Only while handling one.
quire::Status thrown_failure() {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    return quire::Status::failure(quire::StatusCode::kNoMemory, "out of memory");
  } catch (const std::exception& e) {
    return quire::Status::failure(quire::StatusCode::kInternal, e.what());
  } catch (...) {
    return quire::Status::failure(quire::StatusCode::kInternal, "an unexpected failure");
  }
}

// Runs a report command's body and returns its value. When it throws (an
// allocation that fails, a thread that cannot be had) the table under way
// is given up, leaving the output path as it was, the failure is printed
// as the run's last message and the command fails.
template <class Body>
int fenced_command(Body body) noexcept {
  try {
    return body();
  } catch (...) {
    fenced([] {
      const quire::Status failure = thrown_failure();
      quire::report_table().abandon_report_output();
      pb_printf("the report stopped: %s; its output is left as it was\n", failure.message().c_str());
    });
  }
  return 0;
}

// Runs one report command on the storage library's items.
int run_report_kind(int (*run)(quire::StoreReader&, int, char**, QuireWindow, int), int argc, char** argv,
                    QuireWindow hwnd, int detailed) {
  quire::PlotbaseReader reader;
  return run(reader, argc, argv, hwnd, detailed);
}

}  // namespace

extern "C" {

// ---- the report commands ----------------------------------------------------

// Each kind's exported command runs it on the storage library's items
// inside the fence.
#define QUIRE_REPORT_COMMAND(kind)                                                                    \
  QUIRE_API int dmp_##kind(int argc, char** argv, QuireWindow hwnd, int detailed) {                 \
    return fenced_command([&] { return run_report_kind(quire::kinds::run_##kind, argc, argv, hwnd, detailed); }); \
  }

QUIRE_REPORT_COMMAND(mkhdr)
QUIRE_REPORT_COMMAND(mkpc)
QUIRE_REPORT_COMMAND(mkov)
QUIRE_REPORT_COMMAND(mksplice)
QUIRE_REPORT_COMMAND(mkmc)
QUIRE_REPORT_COMMAND(mkmod)
QUIRE_REPORT_COMMAND(model)
QUIRE_REPORT_COMMAND(ordml)

// ---- the run's figures --------------------------------------------------------

QUIRE_API void quire_run_figures(QuireRunFigures* figures) {
  fenced([&] { quire::get_run_figures(figures); });
}

QUIRE_API int64_t quire_run_column(int index, const char** name, char* type, int* width) {
  return fenced(int64_t{-1}, [&] { return quire::run_column(index, name, type, width); });
}

QUIRE_API const char* quire_current_item(void) {
  return fenced(static_cast<const char*>(""), [] { return quire::current_item(); });
}

QUIRE_API const char* quire_printing_error(void) {
  return fenced(static_cast<const char*>(nullptr), [] { return quire::printing_error(); });
}

// ---- the change feed -----------------------------------------------------------

QUIRE_API void quire_set_change_feed(const char* path) {
  fenced([&] { quire::table::set_change_feed_path(path != nullptr ? path : ""); });
}

// ---- host windows and message boxes -------------------------------------------

QUIRE_API QuireWindow quire_create_window(QuireWindowProc proc, void* context) {
  return fenced(QuireWindow{}, [&] { return quire::platform::create_host_window(proc, context); });
}

QUIRE_API int quire_destroy_window(QuireWindow window) {
  return fenced(0, [&] { return quire::platform::destroy_host_window(window); });
}

QUIRE_API intptr_t quire_send_message(QuireWindow window, unsigned int message, uintptr_t wparam,
                                      intptr_t lparam) {
  return fenced(intptr_t{0}, [&] { return quire::platform::send_host_message(window, message, wparam, lparam); });
}

QUIRE_API void quire_set_message_box_handler(QuireMessageBoxProc proc, void* context) {
  fenced([&] { quire::platform::set_message_box_handler(proc, context); });
}

}  // extern "C"
