# The ground floor: byte format, file and memory primitives, run-wide state,
# text formatting, the program's arguments, the system-library loader, the
# exception guard for foreign code and the user interface seam.
list(APPEND SETRUN_PORTABLE_SOURCES
  base/arguments.cpp
  base/records.cpp
  base/run_state.cpp
  base/text_format.cpp
  base/user_interface.cpp)
list(APPEND SETRUN_WINDOWS_SOURCES
  base/files_win.cpp
  base/guarded_call_win.cpp
  base/system_library_win.cpp)
list(APPEND SETRUN_NATIVE_SOURCES
  base/files_posix.cpp)
# On 64-bit Windows the exception guard's handler is found through the unwind
# data of its own function; the rest of the program has none.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set_source_files_properties(base/guarded_call_win.cpp PROPERTIES
    COMPILE_OPTIONS -fasynchronous-unwind-tables)
endif()
