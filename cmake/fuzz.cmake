# libFuzzer targets (configure with -DQUIRE_FUZZ=ON and clang; preset `fuzz`),
# each instrumented for coverage, address and undefined-behaviour checks.
# scripts/run-fuzz builds and runs every target named *_fuzz.
#
#   quire_fuzz_target(<name> SOURCES <files>... [LIBRARIES <libraries>...])
if(NOT QUIRE_FUZZ)
  return()
endif()
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "QUIRE_FUZZ needs clang (use the fuzz preset)")
endif()

function(quire_fuzz_target name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBRARIES" ${ARGN})
  add_executable(${name} fuzz/${name}.cpp ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE include core/report core/env)
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined -fno-omit-frame-pointer
                         -fno-sanitize-recover=undefined)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES})
endfunction()

# The previous-output reader, with the table module over the file layer's library.
quire_fuzz_target(previous_output_fuzz
  SOURCES core/report/table/change_log.cpp core/report/table/change_feed.cpp core/report/table/previous_table.cpp core/report/table/report_table.cpp
          core/report/report/time_text.cpp
          core/report/table/check_value.cpp core/report/table/run_record.cpp
          core/report/table/table_figures.cpp core/report/table/table_format.cpp core/report/table/table_formats.cpp core/report/table/table_output.cpp
          core/report/table/csv/csv_previous_reader.cpp core/report/table/csv/csv_table_writer.cpp
          core/report/table/dbf/dbf_layout.cpp core/report/table/dbf/dbf_previous_reader.cpp core/report/table/dbf/dbf_table_writer.cpp
          core/env/platform/local_time.cpp core/env/platform/local_time_posix.cpp
  LIBRARIES plotbase quire_files)
# The version record reader.
quire_fuzz_target(version_record_fuzz SOURCES core/env/platform/version_record.cpp)
# The imports into a scratch store: pattern files (DXF), the reader's two
# passes and the whole import, and area files (JSON). The storage-area
# library is compiled into them, so that its code guides the fuzzer too.
foreach(target dxf_fuzz area_json_fuzz)
  quire_fuzz_target(${target}
    SOURCES ${QUIRE_AREAS_SOURCES} ${QUIRE_PLOTBASE_SOURCES} ${QUIRE_STORE_SOURCES} core/areas/dxf/dxf_reader.cpp core/areas/dxf/pattern_reader.cpp
            core/areas/dxf/quoted_text.cpp
    LIBRARIES quire_files SQLite::SQLite3 nlohmann_json::nlohmann_json Threads::Threads)
  target_include_directories(${target} PRIVATE core/store/sqlite core/store core/env/host core/areas core/areas/dxf)
endforeach()
