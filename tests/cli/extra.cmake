# The rescue tests read through faultfs (built for test_disk) with the disk
# tests' fixtures; without libfuse3 they are skipped.
target_sources(test_cli PRIVATE ${CMAKE_CURRENT_LIST_DIR}/../disk/DiskTestSupport.cpp)
target_include_directories(test_cli PRIVATE ${CMAKE_CURRENT_LIST_DIR}/../disk)
add_dependencies(test_cli kestrum-recover kestrum-register)
if(TARGET faultfs)
    add_dependencies(test_cli faultfs)
    target_compile_definitions(test_cli PRIVATE KESTRUM_FAULTFS="$<TARGET_FILE:faultfs>")
endif()
find_program(DDRESCUE_PROGRAM ddrescue)
if(DDRESCUE_PROGRAM AND NOT WIN32)
    target_compile_definitions(test_cli PRIVATE KESTRUM_DDRESCUE="${DDRESCUE_PROGRAM}")
endif()
