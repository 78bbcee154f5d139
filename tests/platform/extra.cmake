# The probe program is run for real by its tests.
add_dependencies(test_platform GeomProbe)

if(WIN32)
    return()
endif()
# An ordinary user reads a loop device through UDisks2 and polkit. It starts the
# system's disk service where none runs, so it runs alone.
add_test(NAME platform.UDisksUserAccess
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/platform/udisks-access.sh
                 ${CMAKE_BINARY_DIR}/bin ${KESTRUM_TEST_DATA_DIR})
set_tests_properties(platform.UDisksUserAccess PROPERTIES SKIP_RETURN_CODE 77 RUN_SERIAL TRUE
                     RESOURCE_LOCK block_devices
                     TIMEOUT 300)
