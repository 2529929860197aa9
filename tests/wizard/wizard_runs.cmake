# Whole installations through the wizard (tests/wizard/run_wizard_tests.py),
# from the native build: installers built with setrunc, run under Wine and
# worked by the x86_64 wizard driver beside the 64-bit setup program (with
# the helpers of tests/install/install_programs.cmake). Every case with the
# 64-bit setup program; with the 32-bit one as well when it is known.
if(SETRUN_STUB_X64 AND TARGET setrunc)
  find_package(Python3 COMPONENTS Interpreter)
  if(Python3_Interpreter_FOUND)
    get_filename_component(windows_build ${SETRUN_STUB_X64} DIRECTORY)
    set(stubs x64 ${SETRUN_STUB_X64})
    if(SETRUN_STUB_X86)
      list(APPEND stubs x86 ${SETRUN_STUB_X86})
    endif()
    while(stubs)
      list(POP_FRONT stubs name stub)
      add_test(NAME wizard.runs_${name}
        COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/run_wizard_tests.py
          --setrunc $<TARGET_FILE:setrunc> --stub ${stub} --driver ${windows_build}/wizard_driver.exe
          --helpers ${windows_build} --prefix ${CMAKE_BINARY_DIR}/wizard-wine/${name})
      set_tests_properties(wizard.runs_${name} PROPERTIES TIMEOUT 900)
    endwhile()
  endif()
endif()
