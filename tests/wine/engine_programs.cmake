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
# The recorder stands in for the programs the run entries start.
if(TARGET engine_runs_test)
  add_dependencies(engine_runs_test run_recorder)
endif()
