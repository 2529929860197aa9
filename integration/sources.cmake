list(APPEND SETRUN_PORTABLE_SOURCES
  integration/shortcut_log.cpp)
list(APPEND SETRUN_WINDOWS_SOURCES
  integration/self_register_win.cpp
  integration/shortcuts_win.cpp)
