list(APPEND SETRUN_WINDOWS_SOURCES
  wizard/messages_win.cpp)
