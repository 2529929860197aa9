# The ground floor: byte format, file and memory primitives, run-wide state,
# text formatting, the system-library loader and the user interface seam.
list(APPEND SETRUN_PORTABLE_SOURCES
  base/records.cpp
  base/run_state.cpp
  base/text_format.cpp
  base/user_interface.cpp)
list(APPEND SETRUN_WINDOWS_SOURCES
  base/files_win.cpp
  base/system_library_win.cpp)
list(APPEND SETRUN_NATIVE_SOURCES
  base/files_posix.cpp)
