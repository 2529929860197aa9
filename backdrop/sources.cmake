list(APPEND SETRUN_WINDOWS_SOURCES
  backdrop/backdrop_win.cpp)
