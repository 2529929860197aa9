list(APPEND SETRUN_PORTABLE_SOURCES
  paths/destination.cpp
  paths/expand.cpp
  paths/path_text.cpp)
list(APPEND SETRUN_WINDOWS_SOURCES
  paths/destination_win.cpp
  paths/variables_win.cpp)
