# Helpers of the Windows tests, built for the same processor as the program.

# Start-up runs: libraries that mark their own loading, and a program that
# loads a library the ordinary way.
set(SETRUN_MARKER_DIR ${CMAKE_BINARY_DIR}/markers)
set(SETRUN_MARKER_TARGETS)
foreach(name version uxtheme riched20 riched32 comctl32 oleaut32)
  add_library(marker_${name} SHARED ${CMAKE_SOURCE_DIR}/tests/wine/marker_dll.c)
  set_target_properties(marker_${name} PROPERTIES
    PREFIX "" OUTPUT_NAME ${name}
    RUNTIME_OUTPUT_DIRECTORY ${SETRUN_MARKER_DIR}
    ARCHIVE_OUTPUT_DIRECTORY ${SETRUN_MARKER_DIR}/lib)
  target_link_options(marker_${name} PRIVATE -static-libgcc)
  list(APPEND SETRUN_MARKER_TARGETS marker_${name})
endforeach()
add_executable(load_plain ${CMAKE_SOURCE_DIR}/tests/wine/load_plain.c)
set_target_properties(load_plain PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${SETRUN_MARKER_DIR})
target_link_options(load_plain PRIVATE -static-libgcc)

if(TARGET startup_runs_test)
  add_dependencies(startup_runs_test setrun load_plain ${SETRUN_MARKER_TARGETS})
  target_compile_definitions(startup_runs_test PRIVATE
    SETRUN_STUB_FILE="$<TARGET_FILE:setrun>"
    SETRUN_MARKER_DIR="${SETRUN_MARKER_DIR}")
endif()

# The exit code as a shell sees it.
add_test(NAME e2e.startup_exit_code
  COMMAND sh ${CMAKE_SOURCE_DIR}/tests/e2e/startup-exit-code.sh $<TARGET_FILE:setrun>)
set_tests_properties(e2e.startup_exit_code PROPERTIES LABELS wine)

# The start-up runs prefer libraries placed beside the program to the
# built-in ones, so that a load from the program's folder shows.
if(TEST wine.startup_runs_test)
  set_property(TEST wine.startup_runs_test PROPERTY ENVIRONMENT
    "WINEDLLOVERRIDES=version,uxtheme,riched20,riched32,comctl32,oleaut32=n,b\;mscoree,mshtml=")
endif()
