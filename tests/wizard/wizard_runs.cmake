# Whole installations through the wizard (tests/wizard/run_wizard_tests.py),
# from the native build: installers built with setrunc, run under Wine and
# worked by the wizard driver of the setup program's own build (with the
# helpers of tests/install/install_programs.cmake beside it):
#   wizard.runs              the 64-bit setup program, 64-bit prefix
#   wizard.x86.runs          the 32-bit setup program, 32-bit prefix
#   wizard.x86-wow64.runs    the 32-bit setup program, 64-bit prefix, the
#                            cases that write to redirected places
# Each shares the prefix of the installation tests of the same setup program
# and kind of prefix (tests/install/install.cmake), one at a time: a prefix
# takes more than a gigabyte. The 32-bit runs carry the label x86
# (scripts/test.sh leaves them out where this machine cannot run 32-bit code).
if(TARGET setrunc)
  find_package(Python3 COMPONENTS Interpreter)
endif()

function(setrun_wizard_test name stub arch prefix)
  add_test(NAME ${name}
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/run_wizard_tests.py
      --setrunc $<TARGET_FILE:setrunc> --stub ${stub} --arch ${arch}
      --prefix ${CMAKE_BINARY_DIR}/install-wine/${prefix} ${ARGN})
  set_tests_properties(${name} PROPERTIES TIMEOUT 900 RESOURCE_LOCK install-wine-${prefix})
endfunction()

if(TARGET setrunc AND Python3_Interpreter_FOUND)
  if(SETRUN_STUB_X64)
    setrun_wizard_test(wizard.runs ${SETRUN_STUB_X64} win64 x64)
  endif()
  if(SETRUN_STUB_X86)
    setrun_wizard_test(wizard.x86.runs ${SETRUN_STUB_X86} win32 x86)
    setrun_wizard_test(wizard.x86-wow64.runs ${SETRUN_STUB_X86} win64 x86-wow64
      --case "every_page|restart_question|cancel_while")
    set_tests_properties(wizard.x86.runs wizard.x86-wow64.runs PROPERTIES LABELS x86)
  endif()
endif()
