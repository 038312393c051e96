# Third-party parts of the Windows build, none of them copied into the tree:
#
#  - SQLite: the amalgamation that scripts/install-deps fetched into its cache
#    (Debian ships no SQLite for mingw), compiled into a static library;
#  - nlohmann-json and CLI11: Debian's header-only copies, seen through an
#    include folder of the build that holds only them, not all of
#    /usr/include;
#  - GoogleTest: Debian's sources, built with the cross compiler.
if(DEFINED ENV{QUIRE_DEPS_CACHE})
  set(quire_deps_cache "$ENV{QUIRE_DEPS_CACHE}")
elseif(DEFINED ENV{XDG_CACHE_HOME})
  set(quire_deps_cache "$ENV{XDG_CACHE_HOME}/quire-deps")
else()
  set(quire_deps_cache "$ENV{HOME}/.cache/quire-deps")
endif()
set(QUIRE_SQLITE_DIR "${quire_deps_cache}/sqlite-3.53.2" CACHE PATH
    "Folder of the SQLite amalgamation (sqlite3.c, sqlite3.h) for the Windows build")
if(NOT EXISTS "${QUIRE_SQLITE_DIR}/sqlite3.c")
  message(FATAL_ERROR "no SQLite amalgamation in ${QUIRE_SQLITE_DIR}: run scripts/install-deps")
endif()

add_library(quire_sqlite3 STATIC "${QUIRE_SQLITE_DIR}/sqlite3.c")
target_include_directories(quire_sqlite3 SYSTEM PUBLIC "${QUIRE_SQLITE_DIR}")
# dbstat as in Debian's library: the tests find pages of a table through it.
target_compile_definitions(quire_sqlite3 PRIVATE SQLITE_THREADSAFE=1 SQLITE_OMIT_LOAD_EXTENSION SQLITE_ENABLE_DBSTAT_VTAB)
target_compile_options(quire_sqlite3 PRIVATE -w)
add_library(SQLite::SQLite3 ALIAS quire_sqlite3)

set(quire_third_party_include "${CMAKE_BINARY_DIR}/third_party/include")
file(MAKE_DIRECTORY "${quire_third_party_include}")
foreach(dir nlohmann CLI)
  if(NOT EXISTS "/usr/include/${dir}")
    message(FATAL_ERROR "/usr/include/${dir} is missing: run scripts/install-deps")
  endif()
  file(CREATE_LINK "/usr/include/${dir}" "${quire_third_party_include}/${dir}" SYMBOLIC)
endforeach()
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
target_include_directories(nlohmann_json::nlohmann_json INTERFACE "${quire_third_party_include}")
add_library(CLI11::CLI11 INTERFACE IMPORTED)
target_include_directories(CLI11::CLI11 INTERFACE "${quire_third_party_include}")

if(QUIRE_TESTS)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  # Its build defines GTest::gtest and GTest::gtest_main itself.
  add_subdirectory(/usr/src/googletest "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL SYSTEM)
endif()
