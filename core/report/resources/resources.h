// The string table of the report library and the translated resource library
// that may lie beside it.
//
// The ids, from 1: "Yes", "No", "None", "Left", "Right", and the missing-piece
// message (a format taking the piece name and the storage-area name), as
// src/resources/own_strings.txt holds them.
#ifndef QUIRE_RESOURCES_RESOURCES_H_
#define QUIRE_RESOURCES_RESOURCES_H_

#include "table/table_messages.h"

namespace quire {

// A loaded module (the report library itself or a resource library); null is
// no module.
using ModuleHandle = void*;

enum StringId : unsigned {
  kStringYes = 1,
  kStringNo = 2,
  kStringNone = 3,
  kStringLeft = 4,
  kStringRight = 5,
  kStringMissingPiece = 6,
  kStringLast = kStringMissingPiece,  // the largest id; own_strings.txt's too
};

// The report library's own module handle.
ModuleHandle own_module_handle();

// Finds file_name in the directory of module, checks that its product version
// equals the module's and loads it. Returns its handle, or null (with a
// message box when the library is there but unusable, and the loader's
// reason printed through print). Also loads the shared resource library once
// per process.
ModuleHandle load_resource_library(ModuleHandle module, const char* file_name, PrintFunction print);
// The same with the loader's reason printed on standard error, for hosts
// that load the resource library without a report run.
ModuleHandle load_resource_library(ModuleHandle module, const char* file_name);

// Loads string id of module into buffer (size bytes), cut to fit and always
// terminated. Falls back to the report library's own table when module has
// no such string. Returns the number of characters copied.
int load_string(ModuleHandle module, unsigned id, char* buffer, int size);

// The file names of the resource library ("quireres.dll" on Windows,
// "libquireres.so" elsewhere) and of the shared glossary ("SharedGlossary.dll",
// "libSharedGlossary.so"); both are looked for in the directory of the
// report library's own file.
const char* resource_library_name();
const char* shared_glossary_name();

// The report library's own text of string id (kStringYes to kStringLast),
// or null. The texts
// come from src/resources/own_strings.txt, which on Windows is the module's
// STRINGTABLE as well.
const char* own_string(unsigned id);

// True when text may be used as the missing-piece format: its conversions
// are exactly two "%s", and "%%" is the only other use of "%".
bool is_missing_piece_format(const char* text);

// The format of the missing-piece message (kStringMissingPiece) to print with the piece
// name and the storage-area name: the text of module loaded into buffer (size
// bytes) when it is a safe format (is_missing_piece_format), otherwise the
// report library's own text. Never null.
const char* missing_piece_format(ModuleHandle module, char* buffer, int size);

}  // namespace quire

#endif  // QUIRE_RESOURCES_RESOURCES_H_
