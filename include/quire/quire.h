/*
 * libquire: the report library.
 *
 * A host loads the library, creates a host window with quire_create_window
 * (the window procedure answers the progress message and the stop query),
 * and calls one report command per table:
 *
 *   int dmp_mkpc(int argc, char** argv, QuireWindow hwnd, int detailed);
 *
 * argv[0] is the command's name and is not read; then come the options
 * (-L, -S, -E, -N), the storage-area name and the output path (options may
 * stand between these two as well; an output path of "-" is standard
 * output; quire_check_report_options checks such a line). The result is
 * 1 when the command line was accepted and the table finished, 0 when the
 * command was rejected or its output could not be written (a message has
 * gone through pb_printf). One command runs at a time in a process.
 */
#ifndef QUIRE_QUIRE_H_
#define QUIRE_QUIRE_H_

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Exported from the library; a Windows DLL marks them for export while it
 * is built and for import by everything that uses it. */
#if defined(_WIN32)
#if defined(QUIRE_BUILDING_LIBRARY)
#define QUIRE_API __declspec(dllexport)
#else
#define QUIRE_API __declspec(dllimport)
#endif
#else
#define QUIRE_API __attribute__((visibility("default")))
#endif

/* A host window handle; 0 is no window. On Windows it is the host's window
 * handle (the same type as windows.h's HWND, so a host passes its HWND as
 * it is); elsewhere a handle issued by quire_create_window. */
#if defined(_WIN32)
struct HWND__;
typedef struct HWND__* QuireWindow;
#else
typedef uint64_t QuireWindow;
#endif

/* Host-window messages the report commands send. */
enum {
  QUIRE_MSG_PROGRESS = 1125,   /* wparam: total items, lparam: item number */
  QUIRE_MSG_STOP_QUERY = 1126  /* answer non-zero to stop the run */
};

/* The host's message procedure: called inside quire_send_message with the
 * context given at creation; its result is the message's answer. */
typedef intptr_t (*QuireWindowProc)(QuireWindow window, unsigned int message, uintptr_t wparam,
                                    intptr_t lparam, void* context);

/* Creates a host window whose messages go to proc. Never returns 0 unless
 * proc is null (or, on Windows, the system refuses a window). On Windows it
 * is a message-only window of the calling thread. */
QUIRE_API QuireWindow quire_create_window(QuireWindowProc proc, void* context);
/* Destroys a window; later messages to its handle answer 0. Returns 1 when
 * the handle was a live window, else 0. */
QUIRE_API int quire_destroy_window(QuireWindow window);
/* Sends a message and returns the procedure's answer; a null or destroyed
 * handle answers 0 without calling anything. */
QUIRE_API intptr_t quire_send_message(QuireWindow window, unsigned int message, uintptr_t wparam,
                                      intptr_t lparam);

/* Message boxes (problems with the translated resource libraries). On
 * Windows they are system message boxes that wait for the user; without a
 * window system they are written to standard error as one line. A host
 * that wants them elsewhere installs proc, which receives each text
 * unchanged (it may hold newlines) with context. A null proc restores
 * standard error. */
typedef void (*QuireMessageBoxProc)(const char* text, void* context);
QUIRE_API void quire_set_message_box_handler(QuireMessageBoxProc proc, void* context);

/* The figures of the last report run of the process, for a host that wants
 * to tell a complete table from a partial one. A host that does not ask is
 * unaffected. Each command call starts them afresh; they stay readable until
 * the next call. */
typedef struct QuireRunFigures {
  int64_t items_seen;    /* items the run came to: of the area, or names of the list file */
  int64_t items_read;    /* items opened and read from the store */
  int64_t items_reused;  /* items whose records were copied from the previous table */
  int64_t rows_written;  /* records in the new table, written afresh or copied */
  int64_t items_failed;  /* items for which the library printed an error line */
  int64_t names_missing; /* names of the list file that the area does not have */
  int stopped;           /* the host asked the run to stop before the last item */
  int ended_early;       /* a lookup, open or close failed: later items were not read */
  int log_lost;          /* delta.lst exists or a change feed is set, but this run's changes could not be logged */
  int columns;           /* columns the table declared (see quire_run_column) */
} QuireRunFigures;

/* Fills figures with those of the last run. A run whose command returned 1
 * wrote a table that is complete when stopped, ended_early and log_lost are
 * 0 and items_failed and names_missing are 0. */
QUIRE_API void quire_run_figures(QuireRunFigures* figures);

/* Column index (0-based) of the last run's table: stores its name (owned by
 * the library, valid until the next command call), type letter and width
 * where the pointers are not null, and returns the number of its values that
 * did not fit a dBASE column (texts cut to the width, numbers written as
 * blanks; always 0 in CSV). Returns -1 for an index out of range. */
QUIRE_API int64_t quire_run_column(int index, const char** name, char* type, int* width);

/* While a command runs (inside a pb_printf handler or a window message):
 * the name of the item being handled, or "" between items. */
QUIRE_API const char* quire_current_item(void);

/* Inside a pb_printf handler: when the text printed is the library's error
 * line ("Error %d, %s(%d)"), a few words on what failed ("header read
 * failed"); otherwise null. The printed text itself is unchanged. */
QUIRE_API const char* quire_printing_error(void);

/* Sets the change feed of the report commands that follow in the process:
 * the file at path (relative to the current directory of each command)
 * receives one JSON object a line for each item a run finds new, changed or
 * deleted, as delta.lst receives its lines: appended as one block when the
 * table is put in place, taken back when it is not. The file is created
 * when absent; a symbolic link or anything but a regular file there is not
 * used (the run says so and its figures have log_lost set). A null or empty
 * path ends the feed. */
QUIRE_API void quire_set_change_feed(const char* path);

/* The report commands, one per report kind. */
QUIRE_API int dmp_mkhdr(int argc, char** argv, QuireWindow hwnd, int detailed);
QUIRE_API int dmp_mkpc(int argc, char** argv, QuireWindow hwnd, int detailed);
QUIRE_API int dmp_mkov(int argc, char** argv, QuireWindow hwnd, int detailed);
QUIRE_API int dmp_mksplice(int argc, char** argv, QuireWindow hwnd, int detailed);
QUIRE_API int dmp_mkmc(int argc, char** argv, QuireWindow hwnd, int detailed);
QUIRE_API int dmp_mkmod(int argc, char** argv, QuireWindow hwnd, int detailed);
QUIRE_API int dmp_model(int argc, char** argv, QuireWindow hwnd, int detailed);
QUIRE_API int dmp_ordml(int argc, char** argv, QuireWindow hwnd, int detailed);

/* A report command, as dmp_mkpc. */
typedef int (*QuireReportCommand)(int argc, char** argv, QuireWindow hwnd, int detailed);

/* A report kind of the library. The texts are the library's, constant. */
typedef struct QuireReportKind {
  const char* name;           /* the command's name, lower case: "mkpc" */
  const char* tag;            /* the report tag of its table's preamble: "MKPC" */
  const char* item_word;      /* what one of its items is called: "marker", "model", "order" */
  const char* key_column;     /* its table's first column, the item each row is of: "Name" */
  const char* rows;           /* what one row of its table stands for: "piece of every marker" */
  QuireReportCommand command; /* dmp_mkpc */
} QuireReportKind;

/* The report kind at index (0-based), in the library's order of them; null
 * past the last. */
QUIRE_API const QuireReportKind* quire_report_kind(int index);

/* What quire_check_report_options answers. */
enum {
  QUIRE_OPTIONS_REFUSED = 0,  /* the command line is refused; message says why */
  QUIRE_OPTIONS_ACCEPTED = 1, /* the command reads it without a fault */
  QUIRE_OPTIONS_BAD_DATE = 2  /* refused: -S or -E with a value that is not a date */
};
/* Flags of quire_check_report_options. */
enum {
  /* Only the arguments given, each by itself (a line read so far): not that
   * the area and the output path are there, nor the paths. */
  QUIRE_OPTIONS_ARGUMENTS_ONLY = 1
};

/* Checks the command line of the report command kind (argv as the command
 * takes it, argv[0] not read) by the command's own reading of it, without
 * running it: options (-L, -S, -E, -N0 or -N1, the list file readable),
 * the area and the output path present and nothing after them, no table
 * named as delta.lst or OLD.DAT or written into the change log, and, with
 * changes (the change feed the run is to have, or null), no feed that is
 * the table, its run record, the OLD.DAT beside it or the change log. An
 * output of "-" is standard output. The area itself is not looked up. When
 * refused, the reason (one line, without a line end) is stored in message
 * (size bytes, cut to fit, always ended with a 0) unless it is null. */
QUIRE_API int quire_check_report_options(const char* kind, int argc, char** argv, const char* changes, int flags,
                                         char* message, size_t size);

#ifdef __cplusplus
}
#endif

#endif /* QUIRE_QUIRE_H_ */
