list(APPEND SETRUN_PORTABLE_SOURCES
  paths/expand.cpp
  paths/path_text.cpp)
list(APPEND SETRUN_WINDOWS_SOURCES
  paths/variables_win.cpp)
