# The probe program is run for real by its tests.
add_dependencies(test_platform GeomProbe)
