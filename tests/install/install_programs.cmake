# Helpers of the installation tests (tests/install), built in both Windows
# builds (a 32-bit prefix runs only 32-bit programs): a program that holds a
# file open, and two libraries that differ only in their version resource
# (1.5.0.0 and 2.0.0.0).
add_executable(hold_file ${CMAKE_CURRENT_LIST_DIR}/hold_file.c)
target_compile_options(hold_file PRIVATE -Os -Wall -Wextra -Werror)
target_link_options(hold_file PRIVATE -s -static-libgcc)

foreach(version 1.5 2.0)
  string(REPLACE "." ";" parts ${version})
  list(GET parts 0 major)
  list(GET parts 1 minor)
  string(REPLACE "." "_" name ${version})
  add_library(version_dll_${name} SHARED
    ${CMAKE_CURRENT_LIST_DIR}/version_dll.c ${CMAKE_CURRENT_LIST_DIR}/version_dll.rc)
  set_target_properties(version_dll_${name} PROPERTIES PREFIX "" OUTPUT_NAME version_${name})
  target_compile_definitions(version_dll_${name} PRIVATE
    VERSION_MAJOR=${major} VERSION_MINOR=${minor} VERSION_BUILD=0)
  target_link_options(version_dll_${name} PRIVATE -s -static-libgcc)
endforeach()

# A program with the setup program's manifest and start-up code: reads the
# manifest of a built installer, and tells what such a program is given.
add_executable(manifest_probe ${CMAKE_CURRENT_LIST_DIR}/manifest_probe.cpp
  ${CMAKE_SOURCE_DIR}/startup/manifest.rc)
set_source_files_properties(${CMAKE_SOURCE_DIR}/startup/manifest.rc PROPERTIES
  OBJECT_DEPENDS ${CMAKE_SOURCE_DIR}/startup/setrun.manifest)
target_link_libraries(manifest_probe PRIVATE setrun_core)
target_link_options(manifest_probe PRIVATE -static -static-libgcc -static-libstdc++)

# Self-registering components: versions 1 and 2 of a library whose entry
# points record their calls in the registry, and one whose entry points
# fail with an access violation (tests/install/component_dll.c). Exported
# without decoration, as regsvr32 and the setup program look them up.
foreach(variant 1 2 fault)
  add_library(component_${variant} SHARED ${CMAKE_CURRENT_LIST_DIR}/component_dll.c)
  set_target_properties(component_${variant} PROPERTIES PREFIX "" OUTPUT_NAME component_${variant})
  if(variant STREQUAL "fault")
    target_compile_definitions(component_${variant} PRIVATE COMPONENT_VERSION=9 COMPONENT_FAULT)
  else()
    target_compile_definitions(component_${variant} PRIVATE COMPONENT_VERSION=${variant})
  endif()
  target_link_options(component_${variant} PRIVATE -s -static-libgcc -Wl,--kill-at)
endforeach()

# Stands in for the programs, documents' associations and the Windows
# Installer that a setup program starts: records each start in a log.
add_executable(run_recorder ${CMAKE_CURRENT_LIST_DIR}/run_recorder.c)
target_compile_options(run_recorder PRIVATE -Os -Wall -Wextra -Werror)
target_link_options(run_recorder PRIVATE -s -static-libgcc)
