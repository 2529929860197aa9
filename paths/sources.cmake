list(APPEND SETRUN_PORTABLE_SOURCES
  paths/path_text.cpp)
