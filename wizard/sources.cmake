list(APPEND SETRUN_PORTABLE_SOURCES
  wizard/message_text.cpp)
list(APPEND SETRUN_WINDOWS_SOURCES
  wizard/messages_win.cpp)
