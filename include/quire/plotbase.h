/*
 * plotbase: the storage-area library.
 *
 * Every item of a store (markers, models, orders, pieces) is read through
 * these calls. Conventions shared by all of them:
 *
 *  - Every function that can fail returns int: 1 is success, anything else is
 *    a failure described in pb_error (code, line, source name).
 *  - "area" is the address of the caller's 256-byte area record that
 *    pb_lookup_storage_areas filled; its leading text is the area's name.
 *  - "item_area" is the caller's 168-byte per-item area that an open call
 *    fills and the readers and the close call take back. Its layout is the
 *    library's own except the fields listed in quire/records.h.
 *  - Records are filled at the fixed little-endian offsets of quire/records.h;
 *    bytes not named there are zero and texts are NUL-terminated in place.
 *  - Item names are compared with pb_stricmp (ASCII case-insensitive); lookups
 *    yield items in ascending pb_stricmp order.
 *  - Times are signed 32-bit seconds since 1970-01-01 00:00 UTC, -1 for none.
 *
 * The store directory is $QUIRE_STORE when set, else $XDG_DATA_HOME/quire/store,
 * else ~/.local/share/quire/store. One storage area is one SQLite file there.
 */
#ifndef QUIRE_PLOTBASE_H_
#define QUIRE_PLOTBASE_H_

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Exported from the library; a Windows DLL marks them for export while it
 * is built and for import by everything that uses it. */
#if defined(_WIN32)
#if defined(PLOTBASE_BUILDING_LIBRARY)
#define PB_API __declspec(dllexport)
#else
#define PB_API __declspec(dllimport)
#endif
#else
#define PB_API __attribute__((visibility("default")))
#endif

enum {
  PB_AREA_RECORD_SIZE = 256,
  PB_ITEM_AREA_SIZE = 168,
  PB_NAME_BUFFER_SIZE = 24, /* names are at most 20 characters */
  PB_USER_TEXT_SIZE = 64,   /* user-name texts as the library keeps them */
  PB_PATH_BUFFER_SIZE = 256
};

/* The library's error record, set by every failing call. */
typedef struct pb_error_record {
  int code;
  int line;
  char source[64];
} pb_error_record;

PB_API extern pb_error_record pb_error;

/* The pb_error.code values that callers tell apart. */
enum {
  PB_ERR_NOT_FOUND = -100,   /* no item or piece of that name, or no (further) match */
  PB_ERR_END_OF_LIST = -101, /* a read past the last piece, model, option or size entry */
  PB_ERR_FAULT = -106        /* a failure the area file asks for (its "faults") */
};

/* 1 when code (a failing call's result, or pb_error.code after a call whose
 * result is 0 or null) says that the area file could not be read: SQLite
 * reported an error (a damaged file, a failed read), a row the item's other
 * rows promise is missing, memory ran out, or the library failed
 * unexpectedly. Such a failure of a read says nothing about the records
 * after it: a caller must not take it for the end of a list. 0 for every
 * other code, 0 and 1 included. */
PB_API int pb_is_read_failure(int code);

/* Current-item variables. After a successful lookup: pbc_item_num (1-based
 * position of the item in pb_stricmp order among all items of its kind),
 * pbc_total_items, pbc_last_mod_time. After a successful open: the creation
 * and previous-modification times and the three user-name texts. */
PB_API extern int pbc_item_num;
PB_API extern int pbc_total_items;
PB_API extern int32_t pbc_last_mod_time;
PB_API extern int32_t pbc_creation_time;
PB_API extern int32_t pbc_prev_mod_time;
PB_API extern char pbc_user_last_mod[PB_USER_TEXT_SIZE];
PB_API extern char pbc_user_created[PB_USER_TEXT_SIZE];
PB_API extern char pbc_user_prev_mod[PB_USER_TEXT_SIZE];

/* printf-style output of every message for the user; writes to standard
 * error unless a handler is installed. Returns the number of bytes. */
PB_API int pb_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));

/* Routes pb_printf output to handler (the formatted text, NUL-terminated);
 * a null handler restores standard error. For hosts and tests. */
typedef void (*pb_print_handler)(const char* text, void* context);
PB_API void pb_set_print_handler(pb_print_handler handler, void* context);

/* ASCII case-insensitive comparison of two names as unsigned bytes; only the
 * sign of the result is meaningful. */
PB_API int pb_stricmp(const char* a, const char* b);

/* ---- the area ---------------------------------------------------------- */

/* First call of a run; connects to the store. Result may be ignored. */
PB_API int pb_connect_to_network(void);
/* Sets the notation of this process (0 metric, 1 imperial) and returns the
 * notation now in force. */
PB_API int pb_set_notation_state(int notation);
/* Fills area (256 bytes) for the area called name (case-insensitive).
 * 1 found; 0 no such area; anything else an error with pb_error set. */
PB_API int pb_lookup_storage_areas(void* area, const char* name, int mode);
/* The area's own notation, 0 metric or 1 imperial. */
PB_API int pb_use_area_notation(void* area);
/* Stores the area's notation through notation and its precision (decimals
 * of real values, 0..9) through precision. Returns 1. */
PB_API int pb_get_notationprecision(void* area, int* notation, int* precision);
/* Writes the area's file path into out (256 bytes, cut to fit). Returns 1. */
PB_API int pb_convert_path(char* out, void* area, int mode);

/* ---- items ------------------------------------------------------------- */

/* Finds the first (mode 0) or next (mode 1) item whose name matches pattern
 * ('*' any run, '?' one character, case-insensitive) and writes its name into
 * name (24 bytes). pattern may be the same buffer as name. "Next" continues
 * after the item last found on this area. 1 = found; 0 = no (further) item
 * matches (pb_error code -100); any other result is a failure to read the
 * store (a damaged area file, ...), described in pb_error, and says nothing
 * about whether more items exist. */
PB_API int pb_lookup_markers(void* area, char* name, const char* pattern, int mode);
PB_API int pb_lookup_models(void* area, char* name, const char* pattern, int mode);
PB_API int pb_lookup_orders(void* area, char* name, const char* pattern, int mode);

/* Opens the named item into item_area (168 bytes). 1 = opened. */
PB_API int pb_open_marker(void* area, const char* name, void* item_area);
PB_API int pb_open_model(void* area, const char* name, void* item_area);
PB_API int pb_open_order(void* area, const char* name, void* item_area);

/* Closes an item opened into item_area. Closing an item that is not open
 * (a second close) fails cleanly. 1 = closed. */
PB_API int pb_close_marker(void* area, const char* name, void* item_area);
PB_API int pb_close_model(void* area, const char* name, void* item_area);
PB_API int pb_close_order(void* area, const char* name, void* item_area);

/* ---- marker readers ---------------------------------------------------- */

/* Fills the 534-byte extended marker header; length must be at least 534. */
PB_API int pb_get_marker_header_ex(const char* name, void* header, int length, void* item_area);
/* Fills the 468-byte marker header. */
PB_API int pb_get_marker_header(const char* name, void* header, void* item_area);
/* The marker analysis record (5376 bytes), owned by the library and valid
 * until the item is closed or analysed again; null on failure. */
PB_API const void* pb_hdr_analyze(void* item_area);
/* Fills the 68-byte marker piece record with the first / next piece.
 * 1 = a piece; 0 = the marker has no (further) piece (pb_error code -101);
 * any other result is a failure (pb_is_read_failure tells one of the file). */
PB_API int pb_first_marker_piece(void* item_area, void* piece);
PB_API int pb_next_marker_piece(void* item_area, void* piece);
/* Fills the 68-byte piece override record with override index. */
PB_API int pb_get_piece_override(void* item_area, int index, void* header, void* override_record);
/* Fills the 16-byte splice record with splice index. */
PB_API int pb_get_splice_info(void* splice, int index, void* item_area);
/* Positions the model-list sequence at the order model list the marker was
 * made from. */
PB_API int pb_locate_ordmod_marker(void* item_area);

/* ---- model-list sequence (markers after pb_locate_ordmod_marker, orders
 * after pb_get_order_header): a model record, then its option entries, then
 * its size entries, then the next model record, in exactly this order. ---- */
PB_API int pb_get_order_model(void* model, void* item_area);          /* 118 bytes */
PB_API int pb_get_option_list_entry(void* entry, void* item_area);    /* 12 bytes */
PB_API int pb_get_order_model_entry(void* entry, void* item_area);    /* 72 bytes */

/* ---- orders ------------------------------------------------------------ */

/* Fills the 372-byte order header and restarts the model-list sequence. */
PB_API int pb_get_order_header(const char* name, void* header, void* item_area);

/* ---- models and pieces ------------------------------------------------- */

/* A model as pb_get_model_ex returns it. Each record holds the data fields
 * at the offsets of quire/records.h; its 32-bit link slots stay zero and the
 * links are kept beside the record, since addresses are 64-bit here. */
typedef struct pb_model_piece {
  unsigned char record[72];
  struct pb_model_piece* next;
} pb_model_piece;

typedef struct pb_option_group {
  unsigned char record[20];
  pb_model_piece* first_piece;
  struct pb_option_group* next;
} pb_option_group;

typedef struct pb_model {
  unsigned char record[120];
  pb_model_piece* first_piece;
  pb_option_group* first_group;
} pb_model;

/* Reads the open model; *model receives a library-owned model that the
 * caller releases with pb_free_model_ex. */
PB_API int pb_get_model_ex(const char* name, pb_model** model, void* item_area);
/* Releases *model and sets it to null. A null *model is a no-op. */
PB_API int pb_free_model_ex(pb_model** model);
/* Opens the stored piece header of the named piece into piece_area (168). */
PB_API int pb_open_piece(void* area, const char* name, void* piece_area);
/* Fills the 156-byte piece header. */
PB_API int pb_get_piece_header(const char* name, void* header, void* piece_area);
PB_API int pb_close_piece(void* area, const char* name, void* piece_area);

#ifdef __cplusplus
}
#endif

#endif /* QUIRE_PLOTBASE_H_ */
