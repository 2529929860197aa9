list(APPEND SETRUN_PORTABLE_SOURCES
  package/container.cpp
  package/inflate.cpp
  package/tables.cpp
  package/text.cpp)
list(APPEND SETRUN_WINDOWS_SOURCES
  package/install_dir_win.cpp)
list(APPEND SETRUN_NATIVE_SOURCES
  package/install_dir_native.cpp)
