# Resource libraries: translated string tables beside libquire.so.
#
#   quire_add_string_library(<target> STRINGS <file> OUTPUT_NAME <name>
#                            [OUTPUT_DIRECTORY <dir>] [VERSION <version>]
#                            [NO_VERSION_RECORD] [SOURCES <extra sources>...])
#
# Builds lib<name>.so that exports the string table of <file> (one
# "<id> <text>" line per string, "#" starts a comment line; see
# docs/translating.md) and carries the product version record, that of the
# project unless VERSION is given. A library of another version is refused by
# libquire.so, so a translation is always built from this tree. Whether
# the missing-piece string is a usable format is decided by the report
# library when it loads the string (is_missing_piece_format), not here.
#
# The report library's own strings file (core/report/resources/own_strings.txt) is
# the one list of its strings: QUIRE_STRING_IDS, the number of them, is its
# largest id.

# Reads a strings file into <prefix>_<id> (the texts, list separators kept
# as <QSEMI>, <QOPEN>, <QCLOSE>) and <prefix>_max (the largest id), in the
# caller's scope. With REQUIRE_ALL every id from 1 to QUIRE_STRING_IDS must
# be there.
function(quire_read_strings strings_file prefix)
  cmake_parse_arguments(ARG "REQUIRE_ALL" "" "" ${ARGN})
  file(READ "${strings_file}" content)
  # List-safe: ";" and brackets would split or merge CMake list items.
  string(REPLACE ";" "<QSEMI>" content "${content}")
  string(REPLACE "[" "<QOPEN>" content "${content}")
  string(REPLACE "]" "<QCLOSE>" content "${content}")
  string(REPLACE "\r" "" content "${content}")
  string(REPLACE "\n" ";" lines "${content}")
  set(line_number 0)
  set(max_id 0)
  foreach(line IN LISTS lines)
    math(EXPR line_number "${line_number} + 1")
    if(line MATCHES "^[ \t]*(#.*)?$")
      continue()
    endif()
    if(NOT line MATCHES "^([0-9]+)[ \t](.*)$")
      message(FATAL_ERROR "${strings_file}:${line_number}: expected '<id> <text>', found '${line}'")
    endif()
    math(EXPR id "${CMAKE_MATCH_1}")
    set(text "${CMAKE_MATCH_2}")
    if(id LESS 1 OR id GREATER 255)
      message(FATAL_ERROR "${strings_file}:${line_number}: string id ${id} is not between 1 and 255")
    endif()
    if(DEFINED text_${id})
      message(FATAL_ERROR "${strings_file}:${line_number}: string ${id} is given twice")
    endif()
    set(text_${id} "${text}")
    set(${prefix}_${id} "${text}" PARENT_SCOPE)
    if(id GREATER QUIRE_STRING_IDS)
      message(WARNING "${strings_file}:${line_number}: string ${id} is not used by the report library")
    endif()
    if(id GREATER max_id)
      set(max_id ${id})
    endif()
  endforeach()
  if(max_id EQUAL 0)
    message(FATAL_ERROR "${strings_file}: no strings")
  endif()
  if(ARG_REQUIRE_ALL)
    foreach(id RANGE 1 ${QUIRE_STRING_IDS})
      if(NOT DEFINED text_${id} OR text_${id} STREQUAL "")
        message(FATAL_ERROR "${strings_file}: string ${id} is missing")
      endif()
    endforeach()
  endif()
  set(${prefix}_max ${max_id} PARENT_SCOPE)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${strings_file}")
endfunction()

# Restores the list separators of a text read by quire_read_strings.
function(quire_restore_separators text out_var)
  string(REPLACE "<QSEMI>" ";" text "${text}")
  string(REPLACE "<QOPEN>" "[" text "${text}")
  string(REPLACE "<QCLOSE>" "]" text "${text}")
  set(${out_var} "${text}" PARENT_SCOPE)
endfunction()

# Writes out_file, the string table of strings_file in the form FORMAT
# names:
#   C    a C source defining the QuireStringTable <SYMBOL>; EXPORT makes it
#        visible outside the library (the table a resource library exports);
#   CXX  a C++ source whose table is quire::<SYMBOL> (the report library's
#        own);
#   RC   a Windows resource script with the STRINGTABLE. Its texts are
#        single-byte Windows-1252 text, as in the strings file; the resource
#        compiler turns them into the table's UTF-16 and LoadStringA back
#        into the system's code page.
# With REQUIRE_ALL every id from 1 to QUIRE_STRING_IDS must be there.
function(quire_string_table strings_file out_file)
  cmake_parse_arguments(ARG "EXPORT;REQUIRE_ALL" "FORMAT;SYMBOL" "" ${ARGN})
  if(NOT ARG_FORMAT MATCHES "^(C|CXX|RC)$")
    message(FATAL_ERROR "quire_string_table: FORMAT must be C, CXX or RC, not '${ARG_FORMAT}'")
  endif()
  if(ARG_REQUIRE_ALL)
    quire_read_strings("${strings_file}" s REQUIRE_ALL)
  else()
    quire_read_strings("${strings_file}" s)
  endif()
  set(entries "")
  foreach(id RANGE 1 ${s_max})
    if(ARG_FORMAT STREQUAL "RC")
      if(DEFINED s_${id})
        # In a resource script's string a quote is written twice and a
        # backslash starts an escape.
        string(REPLACE "\\" "\\\\" c "${s_${id}}")
        string(REPLACE "\"" "\"\"" c "${c}")
        quire_restore_separators("${c}" c)
        string(APPEND entries "  ${id} \"${c}\"\n")
      endif()
    elseif(DEFINED s_${id})
      # In a C string a quote and a backslash are escaped, and a question
      # mark too, so that no two of them make a trigraph.
      string(REPLACE "\\" "\\\\" c "${s_${id}}")
      string(REPLACE "\"" "\\\"" c "${c}")
      string(REPLACE "?" "\\?" c "${c}")
      quire_restore_separators("${c}" c)
      string(APPEND entries "    \"${c}\",\n")
    else()
      string(APPEND entries "    0,\n")
    endif()
  endforeach()
  if(ARG_FORMAT STREQUAL "RC")
    file(CONFIGURE OUTPUT "${out_file}" CONTENT [[
/* Generated by cmake/resources.cmake from @strings_file@. */
#pragma code_page(1252)
STRINGTABLE
BEGIN
@entries@END
]] @ONLY)
    return()
  endif()
  math(EXPR count "${s_max} + 1")
  set(symbol "${ARG_SYMBOL}")
  # The texts are Windows-1252 bytes, written into the C string as they are.
  set_source_files_properties("${out_file}" PROPERTIES
    COMPILE_OPTIONS "$<$<C_COMPILER_ID:Clang>:-Wno-invalid-source-encoding>")
  if(ARG_FORMAT STREQUAL "CXX")
    # The report library's own table: a C++ object of its namespace, linked
    # in, never looked up by name.
    file(CONFIGURE OUTPUT "${out_file}" CONTENT [[
// Generated by cmake/resources.cmake from @strings_file@.
#include "platform/string_table.h"

namespace quire {
namespace {
const char* const kTexts[@count@] = {
    0,
@entries@};
}  // namespace

extern const QuireStringTable @symbol@;
const QuireStringTable @symbol@ = {
    QUIRE_STRING_TABLE_MAGIC, @count@, kTexts};
}  // namespace quire
]] @ONLY)
    return()
  endif()
  set(visibility "")
  if(ARG_EXPORT)
    set(visibility "__attribute__((visibility(\"default\"))) ")
  endif()
  file(CONFIGURE OUTPUT "${out_file}" CONTENT [[
/* Generated by cmake/resources.cmake from @strings_file@. */
#include "platform/string_table.h"

static const char* const kTexts[@count@] = {
    0,
@entries@};

@visibility@const QuireStringTable @symbol@ = {
    QUIRE_STRING_TABLE_MAGIC, @count@, kTexts};
]] @ONLY)
endfunction()

function(quire_add_string_library target)
  cmake_parse_arguments(ARG "NO_VERSION_RECORD" "STRINGS;OUTPUT_NAME;OUTPUT_DIRECTORY;VERSION" "SOURCES" ${ARGN})
  set(sources ${ARG_SOURCES})
  if(ARG_STRINGS)
    if(WIN32)
      set(table "${CMAKE_BINARY_DIR}/string_tables/${target}_strings.rc")
      quire_string_table("${ARG_STRINGS}" "${table}" FORMAT RC)
    else()
      set(table "${CMAKE_BINARY_DIR}/string_tables/${target}_strings.c")
      quire_string_table("${ARG_STRINGS}" "${table}" FORMAT C SYMBOL quire_string_table EXPORT)
    endif()
    list(APPEND sources "${table}")
  endif()
  if(WIN32)
    # A library of resources only still needs one object of code to link.
    set(empty "${CMAKE_BINARY_DIR}/string_tables/resource_only.c")
    file(CONFIGURE OUTPUT "${empty}" CONTENT "/* Generated by cmake/resources.cmake. */\nint quire_resource_only_library;\n")
    list(APPEND sources "${empty}")
  endif()
  add_library(${target} SHARED ${sources})
  target_include_directories(${target} PRIVATE "${CMAKE_SOURCE_DIR}/core/report" "${CMAKE_SOURCE_DIR}/core/env")
  set_target_properties(${target} PROPERTIES OUTPUT_NAME "${ARG_OUTPUT_NAME}" C_VISIBILITY_PRESET hidden)
  if(ARG_OUTPUT_DIRECTORY)
    set_target_properties(${target} PROPERTIES LIBRARY_OUTPUT_DIRECTORY "${ARG_OUTPUT_DIRECTORY}"
                                               RUNTIME_OUTPUT_DIRECTORY "${ARG_OUTPUT_DIRECTORY}")
  endif()
  if(NOT ARG_NO_VERSION_RECORD)
    if(ARG_VERSION)
      quire_add_version_record(${target} VERSION ${ARG_VERSION})
    else()
      quire_add_version_record(${target})
    endif()
  endif()
endfunction()

# ---- the report library's own texts ---------------------------------------
# Built into the report library from one file: a C table on every system,
# and on Windows also the library's STRINGTABLE, where a host and LoadStringA
# find them. The file's ids, 1 to its largest with none left out, are the
# report library's strings; the library's code checks that it names the
# same ones (QUIRE_STRING_IDS).
set(QUIRE_OWN_STRINGS "${CMAKE_SOURCE_DIR}/core/report/resources/own_strings.txt")
set(QUIRE_STRING_IDS 255)  # while the file that sets it is read
quire_read_strings("${QUIRE_OWN_STRINGS}" own)
set(QUIRE_STRING_IDS ${own_max})
target_compile_definitions(quire_lib PRIVATE QUIRE_STRING_IDS=${QUIRE_STRING_IDS})
quire_string_table("${QUIRE_OWN_STRINGS}" "${CMAKE_BINARY_DIR}/string_tables/own_strings.cpp"
                   FORMAT CXX SYMBOL own_string_table REQUIRE_ALL)
target_sources(quire_lib PRIVATE "${CMAKE_BINARY_DIR}/string_tables/own_strings.cpp")
if(WIN32)
  quire_string_table("${QUIRE_OWN_STRINGS}" "${CMAKE_BINARY_DIR}/string_tables/own_strings.rc"
                     FORMAT RC REQUIRE_ALL)
  target_sources(quire_lib PRIVATE "${CMAKE_BINARY_DIR}/string_tables/own_strings.rc")
endif()

# ---- translations -------------------------------------------------------
# bin/libquireres-<lang>.so (bin/quireres-<lang>.dll on Windows) from
# resources/<lang>/strings.txt, for each language listed here;
# scripts/install-translation puts one beside the report library as
# libquireres.so (quireres.dll).
set(QUIRE_LANGUAGES de)
set(QUIRE_TRANSLATION_TARGETS "")
foreach(lang ${QUIRE_LANGUAGES})
  quire_add_string_library(quire_res_${lang} STRINGS "${CMAKE_SOURCE_DIR}/resources/${lang}/strings.txt"
                           OUTPUT_NAME "quireres-${lang}")
  list(APPEND QUIRE_TRANSLATION_TARGETS quire_res_${lang})
endforeach()

# ---- test fixtures --------------------------------------------------------
if(QUIRE_TESTS)
  set(fixtures "${CMAKE_BINARY_DIR}/resource_fixtures")
  set(fixture_sources "${CMAKE_SOURCE_DIR}/tests/resources/fixtures")
  set(test_strings "${fixture_sources}/test_strings.txt")
  set(major ${PROJECT_VERSION_MAJOR})
  set(minor ${PROJECT_VERSION_MINOR})
  set(patch ${PROJECT_VERSION_PATCH})
  set(tweak 0)
  if(PROJECT_VERSION_TWEAK)
    set(tweak ${PROJECT_VERSION_TWEAK})
  endif()
  math(EXPR next_tweak "${tweak} + 1")
  math(EXPR next_minor "${minor} + 1")

  quire_add_string_library(fixture_res_match STRINGS "${test_strings}" OUTPUT_NAME fixture-match
                           OUTPUT_DIRECTORY "${fixtures}")
  # Differs in the least significant word alone.
  quire_add_string_library(fixture_res_tweak STRINGS "${test_strings}" OUTPUT_NAME fixture-tweak
                           OUTPUT_DIRECTORY "${fixtures}" VERSION "${major}.${minor}.${patch}.${next_tweak}")
  # Differs in the most significant word alone.
  quire_add_string_library(fixture_res_minor STRINGS "${test_strings}" OUTPUT_NAME fixture-minor
                           OUTPUT_DIRECTORY "${fixtures}" VERSION "${major}.${next_minor}.${patch}.${tweak}")
  quire_add_string_library(fixture_res_norecord STRINGS "${test_strings}" OUTPUT_NAME fixture-norecord
                           OUTPUT_DIRECTORY "${fixtures}" NO_VERSION_RECORD)
  # Right version, but needs a symbol nobody defines: the loader refuses it.
  # On Windows the symbol is imported from a library that is built where no
  # search looks (the loader then misses that library).
  set(unresolved "${fixture_sources}/unresolved.c")
  set(unresolved_library "")
  if(WIN32)
    add_library(fixture_absent SHARED "${fixture_sources}/absent.c")
    set_target_properties(fixture_absent PROPERTIES OUTPUT_NAME quire-fixture-absent
                          RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/resource_fixtures_absent")
    set(unresolved_library fixture_absent)
  endif()
  quire_add_string_library(fixture_res_unloadable STRINGS "${test_strings}" OUTPUT_NAME fixture-unloadable
                           OUTPUT_DIRECTORY "${fixtures}" SOURCES "${unresolved}")
  target_link_libraries(fixture_res_unloadable PRIVATE ${unresolved_library})
  quire_add_string_library(fixture_res_badformat STRINGS "${fixture_sources}/bad_format_strings.txt"
                           OUTPUT_NAME fixture-badformat OUTPUT_DIRECTORY "${fixtures}")
  quire_add_string_library(fixture_glossary_match OUTPUT_NAME fixture-glossary-match
                           OUTPUT_DIRECTORY "${fixtures}" SOURCES "${fixture_sources}/glossary.c")
  quire_add_string_library(fixture_glossary_other OUTPUT_NAME fixture-glossary-other
                           OUTPUT_DIRECTORY "${fixtures}" SOURCES "${fixture_sources}/glossary.c"
                           VERSION "${major}.${next_minor}.${patch}.${tweak}")
  quire_add_string_library(fixture_glossary_unloadable OUTPUT_NAME fixture-glossary-unloadable
                           OUTPUT_DIRECTORY "${fixtures}"
                           SOURCES "${fixture_sources}/glossary.c" "${unresolved}")
  target_link_libraries(fixture_glossary_unloadable PRIVATE ${unresolved_library})

  # A host that loads a copy of the report library from a directory of the
  # test's choosing and prints what the resource functions give.
  add_executable(resource_probe "${fixture_sources}/probe.cpp")
  set_target_properties(resource_probe PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${fixtures}")
  if(WIN32)
    # The report library's message boxes go to the probe's handler; no
    # window of its own.
    target_link_libraries(resource_probe PRIVATE user32)
  endif()
  target_include_directories(resource_probe PRIVATE "${CMAKE_SOURCE_DIR}/include")
  target_link_libraries(resource_probe PRIVATE ${CMAKE_DL_LIBS})

  add_custom_target(resource_fixtures DEPENDS
    fixture_res_match fixture_res_tweak fixture_res_minor fixture_res_norecord fixture_res_unloadable
    fixture_res_badformat fixture_glossary_match fixture_glossary_other fixture_glossary_unloadable
    resource_probe ${QUIRE_TRANSLATION_TARGETS})
endif()
