list(APPEND SETRUN_PORTABLE_SOURCES
  engine/data_source.cpp)
