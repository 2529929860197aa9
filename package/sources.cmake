list(APPEND SETRUN_PORTABLE_SOURCES
  package/container.cpp
  package/inflate.cpp
  package/records.cpp
  package/tables.cpp
  package/text.cpp)
list(APPEND SETRUN_WINDOWS_SOURCES
  package/files_win.cpp
  package/install_dir_win.cpp)
list(APPEND SETRUN_NATIVE_SOURCES
  package/files_posix.cpp
  package/install_dir_native.cpp)
