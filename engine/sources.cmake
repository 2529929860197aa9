list(APPEND SETRUN_PORTABLE_SOURCES
  engine/data_source.cpp
  engine/engine_state.cpp
  engine/font_name.cpp
  engine/relaunch.cpp
  engine/run_once.cpp
  engine/run_entries.cpp
  engine/temp_name.cpp
  engine/uninstall_log.cpp
  engine/wininit.cpp)
list(APPEND SETRUN_WINDOWS_SOURCES
  engine/deferred_win.cpp
  engine/engine_os_win.cpp
  engine/finish_win.cpp
  engine/fonts_win.cpp
  engine/install_win.cpp
  engine/overwrite_win.cpp
  engine/relaunch_win.cpp
  engine/restart_win.cpp
  engine/run_entries_win.cpp
  engine/run_once_win.cpp
  engine/wow64_win.cpp)
list(APPEND SETRUN_NATIVE_SOURCES
  engine/engine_os_posix.cpp)
