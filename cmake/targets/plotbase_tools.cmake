# Tools of the storage-area library: walk_markers walks every marker of an
# area (open, header, close) to measure the library's speed and peak memory.
add_executable(walk_markers ${CMAKE_SOURCE_DIR}/bench/walk_markers.cpp)
target_link_libraries(walk_markers PRIVATE plotbase)
