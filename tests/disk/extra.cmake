# faultfs: the FUSE filesystem whose chosen sectors fail with EIO, for the
# sector reader's error paths. Without libfuse3 those tests are skipped.
if(WIN32)
    return()  # no FUSE: the Windows reader has its own fault seam
endif()
pkg_check_modules(FUSE3 IMPORTED_TARGET fuse3)
if(FUSE3_FOUND)
    add_executable(faultfs ${CMAKE_CURRENT_LIST_DIR}/faultfs.c)
    target_link_libraries(faultfs PRIVATE PkgConfig::FUSE3)
    add_dependencies(test_disk faultfs)
    target_compile_definitions(test_disk PRIVATE KESTRUM_FAULTFS="$<TARGET_FILE:faultfs>")
else()
    message(WARNING "libfuse3 not found: the read-error tests of test_disk are skipped (install libfuse3-dev)")
endif()
