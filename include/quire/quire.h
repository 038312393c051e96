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
 * (-L, -S, -E, -N), the storage-area name and the output path. The result is
 * 1 when the command line was accepted and the table finished, 0 when the
 * command was rejected or its output could not be written (a message has
 * gone through pb_printf). One command runs at a time in a process.
 */
#ifndef QUIRE_QUIRE_H_
#define QUIRE_QUIRE_H_

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define QUIRE_API __attribute__((visibility("default")))

/* A host window handle; 0 is no window. */
typedef uint64_t QuireWindow;

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
 * proc is null. */
QUIRE_API QuireWindow quire_create_window(QuireWindowProc proc, void* context);
/* Destroys a window; later messages to its handle answer 0. Returns 1 when
 * the handle was a live window, else 0. */
QUIRE_API int quire_destroy_window(QuireWindow window);
/* Sends a message and returns the procedure's answer; a null or destroyed
 * handle answers 0 without calling anything. */
QUIRE_API intptr_t quire_send_message(QuireWindow window, unsigned int message, uintptr_t wparam,
                                      intptr_t lparam);

/* Message boxes (problems with the translated resource libraries). Without
 * a window system they are written to standard error as one line; a host
 * that wants them elsewhere installs proc, which receives each text
 * unchanged (it may hold newlines) with context. A null proc restores
 * standard error. */
typedef void (*QuireMessageBoxProc)(const char* text, void* context);
QUIRE_API void quire_set_message_box_handler(QuireMessageBoxProc proc, void* context);

/* The report commands, one per report kind. */
QUIRE_API int dmp_mkhdr(int argc, char** argv, QuireWindow hwnd, int detailed);
QUIRE_API int dmp_mkpc(int argc, char** argv, QuireWindow hwnd, int detailed);
QUIRE_API int dmp_mkov(int argc, char** argv, QuireWindow hwnd, int detailed);
QUIRE_API int dmp_mksplice(int argc, char** argv, QuireWindow hwnd, int detailed);
QUIRE_API int dmp_mkmc(int argc, char** argv, QuireWindow hwnd, int detailed);
QUIRE_API int dmp_mkmod(int argc, char** argv, QuireWindow hwnd, int detailed);
QUIRE_API int dmp_model(int argc, char** argv, QuireWindow hwnd, int detailed);
QUIRE_API int dmp_ordml(int argc, char** argv, QuireWindow hwnd, int detailed);

#ifdef __cplusplus
}
#endif

#endif /* QUIRE_QUIRE_H_ */
