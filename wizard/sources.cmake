list(APPEND SETRUN_PORTABLE_SOURCES
  wizard/questions.cpp)
list(APPEND SETRUN_WINDOWS_SOURCES
  wizard/messages_win.cpp)
