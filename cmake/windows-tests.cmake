# Windows test programs, run by ctest under Wine, in both Windows builds.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_SOURCE_DIR}/tests/wine/run-in-wine.sh)

# GoogleTest built from Debian's sources with this toolchain.
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# Each Windows test program: tests/wine/<name>_test.cpp linked with the
# setup program's code.
file(GLOB SETRUN_WINE_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/wine/*_test.cpp)
foreach(source ${SETRUN_WINE_TEST_SOURCES})
  get_filename_component(name ${source} NAME_WE)
  add_executable(${name} ${source} ${CMAKE_SOURCE_DIR}/tests/wine/wine_main.cpp)
  target_link_libraries(${name} PRIVATE setrun_core gtest)
  target_link_options(${name} PRIVATE -static -static-libgcc -static-libstdc++)
  add_test(NAME wine.${name} COMMAND ${name})
  # One at a time: the tests share the prefix's desktop, and the helpers that
  # answer message boxes find them by caption. The label wine marks the tests
  # that run Windows programs.
  set_tests_properties(wine.${name} PROPERTIES TIMEOUT 300 RESOURCE_LOCK wine_desktop
    LABELS wine)
endforeach()

include(tests/wine/programs.cmake OPTIONAL)
include(tests/wine/engine_programs.cmake OPTIONAL)
include(tests/install/install_programs.cmake OPTIONAL)
include(bench/install/minimal_inflate.cmake OPTIONAL)
include(tests/wizard/wizard.cmake OPTIONAL)
