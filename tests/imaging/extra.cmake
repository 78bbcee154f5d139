target_sources(test_imaging PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/saving/StandInsUntilMerge.cpp)  # TEMPORARY
