list(APPEND SETRUN_PORTABLE_SOURCES
  integration/shortcut_log.cpp)
list(APPEND SETRUN_WINDOWS_SOURCES
  integration/guarded_call_win.cpp
  integration/self_register_win.cpp
  integration/shortcuts_win.cpp)
# On 64-bit Windows the exception guard's handler is found through the unwind
# data of its own function; the rest of the program has none.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set_source_files_properties(integration/guarded_call_win.cpp PROPERTIES
    COMPILE_OPTIONS -fasynchronous-unwind-tables)
endif()
