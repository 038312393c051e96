# libFuzzer targets (configure with -DQUIRE_FUZZ=ON and clang; preset `fuzz`).
# Each fuzz/*_fuzz.cpp becomes one program built together with the table
# module and the platform's file layer, instrumented for coverage, address
# and undefined-behaviour checks. scripts/run-fuzz runs them.
if(QUIRE_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "QUIRE_FUZZ needs clang (use the fuzz preset)")
  endif()
  file(GLOB FUZZ_TABLE_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/table/*.cpp)
  file(GLOB FUZZ_TARGETS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/fuzz/*_fuzz.cpp)
  foreach(src ${FUZZ_TARGETS})
    get_filename_component(name ${src} NAME_WE)
    add_executable(${name} ${src} ${FUZZ_TABLE_SOURCES} ${CMAKE_SOURCE_DIR}/src/platform/file_system.cpp)
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/include ${CMAKE_SOURCE_DIR}/src)
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined -fno-omit-frame-pointer
                           -fno-sanitize-recover=undefined)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_libraries(${name} PRIVATE plotbase)
  endforeach()
endif()
