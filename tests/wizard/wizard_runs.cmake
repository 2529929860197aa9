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

# The demo project (examples/demo) walked through its wizard to exit 0 with
# its files checked (tests/wizard/walk_project.py), as scripts/demo.sh walks
# it, with the demo program and component of the setup program's own build.
function(setrun_demo_walk name stub arch prefix)
  get_filename_component(build ${stub} DIRECTORY)
  add_test(NAME ${name}
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/walk_project.py
      --setrunc $<TARGET_FILE:setrunc> --stub ${stub} --arch ${arch}
      --prefix ${CMAKE_BINARY_DIR}/install-wine/${prefix}
      --project ${CMAKE_SOURCE_DIR}/examples/demo/project.toml -D HELLO=${build}/demo_hello.exe
      -D GREETING=${build}/demo_greeting.dll)
  set_tests_properties(${name} PROPERTIES TIMEOUT 600 RESOURCE_LOCK install-wine-${prefix})
endfunction()

if(TARGET setrunc AND Python3_Interpreter_FOUND)
  if(SETRUN_STUB_X64)
    setrun_demo_walk(wizard.demo ${SETRUN_STUB_X64} win64 x64)
  endif()
  if(SETRUN_STUB_X86)
    setrun_demo_walk(wizard.x86-wow64.demo ${SETRUN_STUB_X86} win64 x86-wow64)
    set_tests_properties(wizard.x86-wow64.demo PROPERTIES LABELS x86)
  endif()
endif()
