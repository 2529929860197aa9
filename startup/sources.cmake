list(APPEND SETRUN_PORTABLE_SOURCES
  startup/command_line.cpp
  startup/run_flow.cpp)
list(APPEND SETRUN_WINDOWS_SOURCES
  startup/common_ui_win.cpp
  startup/privileges_win.cpp
  startup/seams_win.cpp)
# The entry point and resources belong to the program itself, not to the
# library the Windows tests link.
set(SETRUN_ENTRY_SOURCES
  startup/entry_win.cpp
  startup/run_flow_win.cpp
  startup/winmain_win.cpp
  startup/resources.rc
  startup/manifest.rc)
# The resource compiler does not track the files it reads (the manifest, the
# icon).
set_source_files_properties(startup/manifest.rc PROPERTIES
  OBJECT_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/setrun.manifest)
set_source_files_properties(startup/resources.rc PROPERTIES
  OBJECT_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/setup.ico)
