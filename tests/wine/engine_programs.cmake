# Helper programs of the engine's Windows tests.

# Answers message boxes by caption (the damaged-file question, the disk
# prompt, the version questions).
add_executable(msgbox_answer ${CMAKE_SOURCE_DIR}/tests/wine/msgbox_answer.c)
target_link_options(msgbox_answer PRIVATE -static-libgcc)
foreach(test engine_install_test engine_finish_test)
  if(TARGET ${test})
    add_dependencies(${test} msgbox_answer)
  endif()
endforeach()

# The system integration test: OLE automation for making a type library; the component libraries of
# tests/install; the other Windows build's folder for a library of the other
# processor.
if(TARGET system_integration_test)
  target_link_libraries(system_integration_test PRIVATE oleaut32)
  add_dependencies(system_integration_test component_1 component_2 component_fault)
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
    get_filename_component(SETRUN_OTHER_BUILD ${CMAKE_BINARY_DIR}/../win32 ABSOLUTE)
  else()
    get_filename_component(SETRUN_OTHER_BUILD ${CMAKE_BINARY_DIR}/../win64 ABSOLUTE)
  endif()
  target_compile_definitions(system_integration_test PRIVATE
    SETRUN_OTHER_BUILD="${SETRUN_OTHER_BUILD}")
endif()

# The recorder stands in for the programs the run entries start.
if(TARGET engine_runs_test)
  add_dependencies(engine_runs_test run_recorder)
endif()
