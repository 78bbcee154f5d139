# The scan's throughput benchmark: not a test, run by hand; it reports MB/s and
# ratios against a plain copy and against cat.
if(WIN32)
    return()
endif()
add_executable(bench_scan_throughput ${CMAKE_CURRENT_SOURCE_DIR}/scan/bench/ScanThroughput.cpp)
target_include_directories(bench_scan_throughput PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/scan)
target_link_libraries(bench_scan_throughput PRIVATE kestrum_engine)
