list(APPEND SETRUN_PORTABLE_SOURCES
  startup/command_line.cpp
  startup/run_state.cpp)
# The entry point and resources belong to the program itself, not to the
# library the Windows tests link.
set(SETRUN_ENTRY_SOURCES
  startup/winmain_win.cpp
  startup/resources.rc)
