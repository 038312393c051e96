/*
 * quire-host: an example Windows program that embeds the quire report
 * library. Copy it as the start of your own tool.
 *
 * Building it needs only include/quire/quire.h (nothing of quire is linked)
 * and Windows' common controls and dialogs; with MinGW-w64, from the folder
 * of the unpacked zip (on Linux the compiler is x86_64-w64-mingw32-gcc):
 *
 *   gcc -std=c99 -mwindows -Iinclude examples/host/quire_host.c -o quire-host.exe -lcomctl32 -lcomdlg32
 *
 * Under Wine without a display its window needs Wine's null graphics
 * driver: wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f
 * (then restart Wine: wineserver -k).
 *
 *   quire-host [host switches] KIND AREA OUTPUT [report options]
 *   quire-host [host switches] [KIND]      (file dialogs ask for AREA and OUTPUT)
 *
 * KIND is a report command without its "dmp_" (mkpc, mkhdr, ...; mkpc when
 * none is given), AREA a storage area of the store and OUTPUT the table
 * (.dbf for dBASE III, anything else CSV). Report options are the library's
 * own: -Llistfile, -Syy/mm/dd[,hh:mm], -Eyy/mm/dd[,hh:mm], -N0 / -N1.
 * Host switches, anywhere on the line:
 *   --detailed        the detailed column set
 *   --hidden          the window is never shown; every line of its list is
 *                     also written to standard output
 *   --cancel-after N  presses Cancel itself after N progress messages
 * Exit status, as quire.exe's: 0 the table is complete, 3 it was written but
 * is not complete (cancelled, a listed name missing, an item unreadable, the
 * change log not written), 1 the command was refused or the table could not
 * be written (the list says why), 2 a wrong command line.
 *
 * How the library is driven:
 *  - quire.dll is loaded with LoadLibraryA and its command found with
 *    GetProcAddress, so the program starts (and can say so) without it.
 *  - The command runs on a worker thread and is given this program's main
 *    window. The library sends that window message 1125 (wparam: total
 *    items, lparam: the item just done) after each item and 1126 before the
 *    next one, whose answer (non-zero) stops the run. SendMessage from the
 *    worker thread makes the main thread handle both in its message loop,
 *    so the window stays responsive and the worker waits for each answer.
 *  - A stopped run still writes a whole table: the items it reached, then
 *    the rest of the previous table at the same path.
 *  - Lines the library prints (pb_printf in plotbase.dll) and its message
 *    boxes come through handlers the host installs; they are called on the
 *    worker thread and handed to the main thread for the list box.
 *  - Paths and names are in the Windows ANSI code page.
 */
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <process.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "quire/quire.h" /* only its types and message numbers: nothing is linked */

/* The library's entry points, as GetProcAddress finds them. */
typedef int (*ReportCommand)(int argc, char** argv, HWND window, int detailed);
typedef void (*PrintHandler)(const char* text, void* context);
typedef void (*SetPrintHandler)(PrintHandler handler, void* context);
typedef void (*SetMessageBoxHandler)(QuireMessageBoxProc proc, void* context);
typedef void (*GetRunFigures)(QuireRunFigures* figures);
typedef const char* (*GetCurrentItem)(void);

enum {
  kExitComplete = 0,
  kExitFailed = 1,
  kExitUsage = 2,
  kExitIncomplete = 3
};

/* This program's own window messages (WM_APP range, apart from the
 * library's 1125 and 1126) and control ids. */
enum {
  kMsgLine = WM_APP + 1,    /* lparam: a line for the list, valid during the call */
  kMsgFinished = WM_APP + 2 /* wparam: the command's result */
};
enum { kIdCancel = 101, kIdList = 102, kIdProgress = 103 };

enum { kMaxArgs = 64, kLineSize = 1024 };

typedef struct Host {
  /* The command and its arguments: argv[0] the kind, then the report
   * options, the area, the output. */
  char kind[32];
  char* argv[kMaxArgs + 1];
  int argc;
  char area[MAX_PATH];
  char output[MAX_PATH];
  int detailed;
  int hidden;
  long cancel_after; /* 0: never */

  /* The library. */
  ReportCommand command;
  SetPrintHandler set_print_handler;
  SetMessageBoxHandler set_message_box_handler;
  GetRunFigures run_figures;
  GetCurrentItem current_item;

  /* The window and its controls. */
  HWND window;
  HWND progress;
  HWND list;
  HWND cancel;

  /* The run, touched by the main thread only (the worker's messages are
   * handled there). */
  HANDLE worker;
  int running;
  int cancel_pressed;
  int close_when_finished;
  long progress_messages;
  unsigned long long total_items;
  int exit_status;

  HANDLE standard_output; /* where list lines go when hidden; null when none */
} Host;

static Host g_host;

/* ---- output lines -------------------------------------------------------- */

/* Writes line and CR LF to standard output. A console that went away is not
 * worth stopping the run for: later lines are dropped. */
static void write_standard_output(const char* line) {
  if (!g_host.standard_output) return;
  DWORD written = 0;
  DWORD length = (DWORD)strlen(line);
  if (!WriteFile(g_host.standard_output, line, length, &written, NULL) || written != length ||
      !WriteFile(g_host.standard_output, "\r\n", 2, &written, NULL) || written != 2)
    g_host.standard_output = NULL;
}

/* Adds line to the list box (scrolled to it) and, when hidden, to standard
 * output. Main thread only. */
static void add_line(const char* line) {
  LRESULT index = SendMessageA(g_host.list, LB_ADDSTRING, 0, (LPARAM)line);
  if (index >= 0) SendMessageA(g_host.list, LB_SETTOPINDEX, (WPARAM)index, 0);
  if (g_host.hidden) write_standard_output(line);
}

/* A problem before the window exists: a message box, or standard error
 * when hidden. */
static void report_problem(const char* text) {
  if (!g_host.hidden) {
    MessageBoxA(NULL, text, "quire-host", MB_OK | MB_ICONERROR);
    return;
  }
  HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  DWORD written = 0;
  if (error && error != INVALID_HANDLE_VALUE) {
    WriteFile(error, text, (DWORD)strlen(text), &written, NULL);
    WriteFile(error, "\r\n", 2, &written, NULL);
  }
}

/* ---- the library's handlers (called on the worker thread) ---------------- */

/* Hands each line of text to the main thread, the first prefixed with the
 * item being handled when text is a single line (an error about that item). */
static void print_handler(const char* text, void* context) {
  (void)context;
  const char* item = g_host.current_item ? g_host.current_item() : "";
  const char* end = text + strlen(text);
  int single = memchr(text, '\n', (size_t)(end - text)) == NULL ||
               memchr(text, '\n', (size_t)(end - text)) == end - 1;
  while (text < end) {
    const char* newline = memchr(text, '\n', (size_t)(end - text));
    const char* stop = newline ? newline : end;
    char line[kLineSize];
    int n = single && item && *item
                ? snprintf(line, sizeof line, "%s: %.*s", item, (int)(stop - text), text)
                : snprintf(line, sizeof line, "%.*s", (int)(stop - text), text);
    if (n > 0) SendMessageA(g_host.window, kMsgLine, 0, (LPARAM)line);
    text = newline ? newline + 1 : end;
  }
}

/* The library's message boxes (a resource library it could not use) go to
 * the list rather than stopping the run until someone clicks. */
static void message_box_handler(const char* text, void* context) {
  print_handler(text, context);
}

/* The worker thread: one command call, then its result to the window. */
static unsigned __stdcall run_command(void* unused) {
  (void)unused;
  g_host.set_print_handler(print_handler, NULL);
  if (g_host.set_message_box_handler) g_host.set_message_box_handler(message_box_handler, NULL);
  int result = g_host.command(g_host.argc, g_host.argv, g_host.window, g_host.detailed);
  g_host.set_print_handler(NULL, NULL);
  if (g_host.set_message_box_handler) g_host.set_message_box_handler(NULL, NULL);
  PostMessageA(g_host.window, kMsgFinished, (WPARAM)result, 0);
  return 0;
}

/* ---- the window (main thread) -------------------------------------------- */

/* Cancel: the next stop query answers "stop"; the library finishes the item
 * it is on and writes the table. */
static void press_cancel(void) {
  if (!g_host.running || g_host.cancel_pressed) return;
  g_host.cancel_pressed = 1;
  EnableWindow(g_host.cancel, FALSE);
  add_line("Cancel pressed: stopping after the current item");
}

/* The run ended with result: the summary line and the exit status. */
static void finish_run(int result) {
  WaitForSingleObject(g_host.worker, INFINITE);
  CloseHandle(g_host.worker);
  g_host.worker = NULL;
  g_host.running = 0;

  char line[kLineSize];
  if (result != 1) {
    g_host.exit_status = kExitFailed;
    snprintf(line, sizeof line, "%s: no table written to %s", g_host.kind, g_host.output);
  } else {
    QuireRunFigures f;
    memset(&f, 0, sizeof f);
    if (g_host.run_figures) g_host.run_figures(&f);
    int complete = !f.stopped && !f.ended_early && !f.log_lost && f.items_failed == 0 && f.names_missing == 0;
    g_host.exit_status = complete ? kExitComplete : kExitIncomplete;
    snprintf(line, sizeof line, "%s: %lld of %llu items, %lld read, %lld reused, %lld rows, %lld failed -> %s%s",
             g_host.kind, (long long)f.items_seen, g_host.total_items, (long long)f.items_read,
             (long long)f.items_reused, (long long)f.rows_written, (long long)f.items_failed, g_host.output,
             complete ? "" : f.stopped ? " (incomplete: cancelled)" : " (incomplete)");
  }
  add_line(line);
  SendMessageA(g_host.progress, PBM_SETPOS, (WPARAM)g_host.total_items, 0);
  SetWindowTextA(g_host.cancel, "Close");
  EnableWindow(g_host.cancel, TRUE);
  if (g_host.hidden || g_host.close_when_finished) DestroyWindow(g_host.window);
}

/* Places the controls: progress bar on top, the list below, Cancel at the
 * bottom right. */
static void lay_out(int width, int height) {
  const int margin = 8, bar = 20, button_w = 90, button_h = 26;
  MoveWindow(g_host.progress, margin, margin, width - 2 * margin, bar, TRUE);
  int list_h = height - 4 * margin - bar - button_h;
  MoveWindow(g_host.list, margin, 2 * margin + bar, width - 2 * margin, list_h > 0 ? list_h : 0, TRUE);
  MoveWindow(g_host.cancel, width - margin - button_w, height - margin - button_h, button_w, button_h, TRUE);
}

static LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case QUIRE_MSG_PROGRESS:
      /* wparam: total items; lparam: the number of the item just done. */
      if (wparam != g_host.total_items) {
        g_host.total_items = wparam;
        SendMessageA(g_host.progress, PBM_SETRANGE32, 0, (LPARAM)wparam);
      }
      SendMessageA(g_host.progress, PBM_SETPOS, (WPARAM)lparam, 0);
      ++g_host.progress_messages;
      if (g_host.cancel_after > 0 && g_host.progress_messages >= g_host.cancel_after)
        SendMessageA(window, WM_COMMAND, MAKEWPARAM(kIdCancel, BN_CLICKED), (LPARAM)g_host.cancel);
      return 0;
    case QUIRE_MSG_STOP_QUERY:
      return g_host.cancel_pressed;
    case kMsgLine:
      add_line((const char*)lparam);
      return 0;
    case kMsgFinished:
      finish_run((int)wparam);
      return 0;
    case WM_COMMAND:
      if (LOWORD(wparam) == kIdCancel && HIWORD(wparam) == BN_CLICKED) {
        if (g_host.running) press_cancel();
        else DestroyWindow(window);
      }
      return 0;
    case WM_CLOSE:
      /* Closing during a run cancels it; the window goes when it ends. */
      if (g_host.running) {
        g_host.close_when_finished = 1;
        press_cancel();
      } else {
        DestroyWindow(window);
      }
      return 0;
    case WM_SIZE:
      lay_out(LOWORD(lparam), HIWORD(lparam));
      return 0;
    case WM_DESTROY:
      PostQuitMessage(g_host.exit_status);
      return 0;
    default:
      return DefWindowProcA(window, message, wparam, lparam);
  }
}

/* Creates the main window and its controls; 0 when the system refuses. */
static int create_window(HINSTANCE instance) {
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);

  WNDCLASSA window_class;
  memset(&window_class, 0, sizeof window_class);
  window_class.lpfnWndProc = window_procedure;
  window_class.hInstance = instance;
  window_class.hCursor = LoadCursor(NULL, IDC_ARROW);
  window_class.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
  window_class.lpszClassName = "QuireHostWindow";
  if (!RegisterClassA(&window_class)) return 0;

  char title[128];
  snprintf(title, sizeof title, "quire %s %s", g_host.kind, g_host.area);
  g_host.window = CreateWindowExA(0, window_class.lpszClassName, title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                  CW_USEDEFAULT, 560, 380, NULL, NULL, instance, NULL);
  if (!g_host.window) return 0;
  g_host.progress = CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, g_host.window,
                                    (HMENU)(INT_PTR)kIdProgress, instance, NULL);
  g_host.list = CreateWindowExA(WS_EX_CLIENTEDGE, "LISTBOX", "",
                                WS_CHILD | WS_VISIBLE | WS_VSCROLL | LBS_NOINTEGRALHEIGHT | LBS_NOSEL, 0, 0, 0, 0,
                                g_host.window, (HMENU)(INT_PTR)kIdList, instance, NULL);
  g_host.cancel = CreateWindowExA(0, "BUTTON", "Cancel", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 0, 0,
                                  0, 0, g_host.window, (HMENU)(INT_PTR)kIdCancel, instance, NULL);
  if (!g_host.progress || !g_host.list || !g_host.cancel) return 0;
  HFONT font = (HFONT)GetStockObject(DEFAULT_GUI_FONT);
  SendMessageA(g_host.list, WM_SETFONT, (WPARAM)font, FALSE);
  SendMessageA(g_host.cancel, WM_SETFONT, (WPARAM)font, FALSE);
  RECT client;
  GetClientRect(g_host.window, &client);
  lay_out(client.right, client.bottom);
  return 1;
}

/* ---- choosing the area and the output with dialogs ----------------------- */

/* The store folder as the library finds it: %QUIRE_STORE%, else
 * %LOCALAPPDATA%\quire\store. */
static void store_folder(char* folder, size_t size) {
  const char* store = getenv("QUIRE_STORE");
  const char* local = getenv("LOCALAPPDATA");
  if (store && *store) snprintf(folder, size, "%s", store);
  else snprintf(folder, size, "%s\\quire\\store", local ? local : ".");
}

/* The full path of path's folder (path itself when folder is 0), without a
 * trailing separator, for comparing two folders. */
static void full_folder(const char* path, int folder, char* out, DWORD size) {
  char* name = NULL;
  DWORD n = GetFullPathNameA(path, size, out, &name);
  if (n == 0 || n >= size) {
    snprintf(out, size, "%s", path);
    return;
  }
  if (folder && name) *name = '\0';
  size_t length = strlen(out);
  while (length > 3 && (out[length - 1] == '\\' || out[length - 1] == '/')) out[--length] = '\0';
}

/* The area name of an area file name: the name before ".sqlite" with each
 * %XX written back as its byte (area "My Area" is my%20area.sqlite; names
 * are case-insensitive, so the lower case does). */
static void area_name_of_file(const char* file_name, char* name, size_t size) {
  size_t out = 0;
  const char* end = strrchr(file_name, '.');
  if (!end) end = file_name + strlen(file_name);
  for (const char* p = file_name; p < end && out + 1 < size; ++p) {
    unsigned int byte = 0;
    if (*p == '%' && end - p >= 3 && sscanf(p + 1, "%2x", &byte) == 1) {
      name[out++] = (char)byte;
      p += 2;
    } else {
      name[out++] = *p;
    }
  }
  name[out] = '\0';
}

/* Asks for an area file of the store and the output path; 0 when the user
 * cancels either dialog. Areas are read from the store folder only, so a
 * file elsewhere is refused (import it with `quire area import` first). */
static int choose_area_and_output(void) {
  char store[MAX_PATH];
  store_folder(store, sizeof store);
  char store_full[MAX_PATH];
  full_folder(store, 0, store_full, sizeof store_full);
  for (;;) {
    char path[MAX_PATH] = "";
    OPENFILENAMEA open;
    memset(&open, 0, sizeof open);
    open.lStructSize = sizeof open;
    open.lpstrFilter = "Storage areas (*.sqlite)\0*.sqlite\0";
    open.lpstrFile = path;
    open.nMaxFile = sizeof path;
    open.lpstrInitialDir = store_full;
    open.lpstrTitle = "Storage area";
    open.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
    if (!GetOpenFileNameA(&open)) return 0;
    char folder[MAX_PATH];
    full_folder(path, 1, folder, sizeof folder);
    if (lstrcmpiA(folder, store_full) == 0) {
      area_name_of_file(path + open.nFileOffset, g_host.area, sizeof g_host.area);
      break;
    }
    char text[3 * MAX_PATH];
    snprintf(text, sizeof text,
             "%s is not in the store folder %s.\n\nChoose an area of the store, or import the file there "
             "first with: quire area import FILE",
             path, store_full);
    MessageBoxA(NULL, text, "quire-host", MB_OK | MB_ICONWARNING);
  }

  /* No "replace?" question: a rerun on the previous table is what lets
   * the library reuse its unchanged rows. */
  OPENFILENAMEA save;
  memset(&save, 0, sizeof save);
  save.lStructSize = sizeof save;
  save.lpstrFilter = "CSV table (*.csv)\0*.csv\0dBASE III table (*.dbf)\0*.dbf\0";
  save.lpstrDefExt = "csv";
  save.lpstrFile = g_host.output;
  save.nMaxFile = sizeof g_host.output;
  save.lpstrTitle = "Table";
  save.Flags = OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOREADONLYRETURN;
  return GetSaveFileNameA(&save) ? 1 : 0;
}

/* ---- the command line ---------------------------------------------------- */

/* Reads the host switches and the positional arguments (KIND, AREA, OUTPUT)
 * into g_host; every other argument starting with "-" is a report option,
 * kept for the command's argv. Returns 0 (after saying why) on a wrong
 * command line. */
static int parse_command_line(int argc, char** argv, char*** options, int* option_count) {
  static const char kUsage[] =
      "usage: quire-host [--hidden] [--cancel-after N] [--detailed] [KIND [AREA OUTPUT]] [report options]";
  static char* kept[kMaxArgs];
  const char* positional[3] = {NULL, NULL, NULL};
  int positionals = 0, kept_count = 0;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (strcmp(arg, "--hidden") == 0) {
      g_host.hidden = 1;
    } else if (strcmp(arg, "--detailed") == 0) {
      g_host.detailed = 1;
    } else if (strcmp(arg, "--cancel-after") == 0) {
      char* end = NULL;
      long count = i + 1 < argc ? strtol(argv[i + 1], &end, 10) : 0;
      if (count <= 0 || *end) {
        report_problem("quire-host: --cancel-after takes a count of progress messages (1 or more)");
        return 0;
      }
      g_host.cancel_after = count;
      ++i;
    } else if (arg[0] == '-' && arg[1] == '-') {
      report_problem(kUsage);
      return 0;
    } else if (arg[0] == '-' && arg[1] != '\0') {
      if (kept_count == kMaxArgs - 3) {
        report_problem("quire-host: too many report options");
        return 0;
      }
      kept[kept_count++] = argv[i];
    } else if (positionals < 3) {
      positional[positionals++] = arg;
    } else {
      report_problem(kUsage);
      return 0;
    }
  }
  if (positionals == 2) {
    report_problem(kUsage);
    return 0;
  }
  const char* kind = positional[0] ? positional[0] : "mkpc";
  if (strncmp(kind, "dmp_", 4) == 0) kind += 4;
  snprintf(g_host.kind, sizeof g_host.kind, "%s", kind);
  if (positionals == 3) {
    snprintf(g_host.area, sizeof g_host.area, "%s", positional[1]);
    snprintf(g_host.output, sizeof g_host.output, "%s", positional[2]);
  }
  *options = kept;
  *option_count = kept_count;
  return 1;
}

/* ---- start --------------------------------------------------------------- */

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show) {
  (void)previous;
  (void)command_line;

  /* A GUI program has no standard output unless it was given one (a pipe
   * or a file); from a console, write to the console it was started in. */
  char** options = NULL;
  int option_count = 0;
  if (!parse_command_line(__argc, __argv, &options, &option_count)) return kExitUsage;
  if (g_host.hidden) {
    g_host.standard_output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (g_host.standard_output == INVALID_HANDLE_VALUE) g_host.standard_output = NULL;
    if (!g_host.standard_output && AttachConsole(ATTACH_PARENT_PROCESS)) {
      g_host.standard_output = CreateFileA("CONOUT$", GENERIC_WRITE, FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
      if (g_host.standard_output == INVALID_HANDLE_VALUE) g_host.standard_output = NULL;
    }
  }
  if (!g_host.area[0]) {
    if (g_host.hidden) {
      report_problem("quire-host: --hidden needs the area and the output on the command line");
      return kExitUsage;
    }
    if (!choose_area_and_output()) return kExitUsage;
  }

  /* The library, found beside this program (or on the DLL search path). */
  HMODULE library = LoadLibraryA("quire.dll");
  if (!library) {
    char text[256];
    snprintf(text, sizeof text, "quire-host: cannot load quire.dll (error %lu)", GetLastError());
    report_problem(text);
    return kExitFailed;
  }
  HMODULE plotbase = GetModuleHandleA("plotbase.dll"); /* loaded with quire.dll */
  char export_name[40];
  snprintf(export_name, sizeof export_name, "dmp_%s", g_host.kind);
  g_host.command = (ReportCommand)(void (*)(void))GetProcAddress(library, export_name);
  g_host.set_print_handler =
      plotbase ? (SetPrintHandler)(void (*)(void))GetProcAddress(plotbase, "pb_set_print_handler") : NULL;
  g_host.set_message_box_handler =
      (SetMessageBoxHandler)(void (*)(void))GetProcAddress(library, "quire_set_message_box_handler");
  g_host.run_figures = (GetRunFigures)(void (*)(void))GetProcAddress(library, "quire_run_figures");
  g_host.current_item = (GetCurrentItem)(void (*)(void))GetProcAddress(library, "quire_current_item");
  if (!g_host.command) {
    char text[128];
    snprintf(text, sizeof text, "quire-host: no report kind %s (mkhdr, mkpc, mkov, mksplice, mkmc, mkmod, model, ordml)",
             g_host.kind);
    report_problem(text);
    return kExitUsage;
  }
  if (!g_host.set_print_handler) {
    report_problem("quire-host: plotbase.dll has no pb_set_print_handler");
    return kExitFailed;
  }

  /* The command's argv: the kind, the report options, the area, the output. */
  g_host.argv[g_host.argc++] = g_host.kind;
  for (int i = 0; i < option_count; ++i) g_host.argv[g_host.argc++] = options[i];
  g_host.argv[g_host.argc++] = g_host.area;
  g_host.argv[g_host.argc++] = g_host.output;
  g_host.argv[g_host.argc] = NULL;

  if (!create_window(instance)) {
    char text[128];
    snprintf(text, sizeof text, "quire-host: cannot create the window (error %lu)", GetLastError());
    report_problem(text);
    return kExitFailed;
  }
  if (!g_host.hidden) ShowWindow(g_host.window, show);

  char line[kLineSize];
  snprintf(line, sizeof line, "quire %s %s -> %s", g_host.kind, g_host.area, g_host.output);
  add_line(line);
  g_host.running = 1;
  g_host.worker = (HANDLE)_beginthreadex(NULL, 0, run_command, NULL, 0, NULL);
  if (!g_host.worker) {
    g_host.running = 0;
    report_problem("quire-host: cannot start the worker thread");
    DestroyWindow(g_host.window);
    return kExitFailed;
  }

  MSG message;
  BOOL got;
  while ((got = GetMessageA(&message, NULL, 0, 0)) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return got == 0 ? (int)message.wParam : kExitFailed;
}
