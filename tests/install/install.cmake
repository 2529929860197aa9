# Installation tests from outside: tests/install/run_install_tests.py builds
# installers with setrunc, runs the 64-bit setup program silently under Wine
# and checks files, registry, INI entries and exit codes. One test per group
# of cases, each group in its own Wine prefix below the build folder. Needs
# the 64-bit setup program (SETRUN_STUB_X64) and, beside it, the helpers of
# tests/install/install_programs.cmake and msgbox_answer.exe.
if(SETRUN_STUB_X64 AND TARGET setrunc)
  find_package(Python3 COMPONENTS Interpreter)
  if(Python3_Interpreter_FOUND)
    foreach(group files packages existing damaged)
      add_test(NAME install.${group}
        COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/run_install_tests.py
          --group ${group} --setrunc $<TARGET_FILE:setrunc> --stub ${SETRUN_STUB_X64}
          --prefix ${CMAKE_BINARY_DIR}/install-wine/${group})
      set_tests_properties(install.${group} PROPERTIES TIMEOUT 600)
    endforeach()
  endif()
endif()
