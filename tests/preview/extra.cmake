target_sources(test_preview PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/saving/StandInsUntilMerge.cpp)  # TEMPORARY
