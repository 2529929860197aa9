# Installation tests from outside: tests/install/run_install_tests.py builds
# installers with setrunc, runs a setup program silently under Wine and
# checks files, registry, INI entries and exit codes. One test per group of
# cases and per setup program and kind of Wine prefix:
#   install.<group>             the 64-bit setup program, 64-bit prefix
#   install.x86.<group>         the 32-bit setup program, 32-bit prefix (as on
#                               32-bit Windows)
#   install.x86-wow64.<group>   the 32-bit setup program, 64-bit prefix (as on
#                               64-bit Windows: file system and registry
#                               redirection), for the groups that write to
#                               redirected places (runs: the RunOnce values
#                               and the system folder's programs)
# The groups of one line share a prefix below the build folder and run one
# after the other (making a prefix takes longer than most groups); the lines
# run side by side. The 32-bit runs carry the label x86 (scripts/test.sh
# leaves them out where this machine cannot run 32-bit code). Needs the setup
# programs (SETRUN_STUB_X64, SETRUN_STUB_X86) and, beside each, the helpers
# of tests/install/install_programs.cmake and msgbox_answer.exe.
if(TARGET setrunc)
  find_package(Python3 COMPONENTS Interpreter)
endif()

# One test: name, group, setup program, kind of prefix, name of the shared
# prefix, labels.
function(setrun_install_test name group stub arch prefix)
  add_test(NAME ${name}
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/run_install_tests.py
      --group ${group} --setrunc $<TARGET_FILE:setrunc> --stub ${stub} --arch ${arch}
      --prefix ${CMAKE_BINARY_DIR}/install-wine/${prefix})
  set_tests_properties(${name} PROPERTIES TIMEOUT 600 LABELS "${ARGN}"
    RESOURCE_LOCK install-wine-${prefix})
endfunction()

if(TARGET setrunc AND Python3_Interpreter_FOUND)
  foreach(group files packages existing damaged integration runs)
    if(SETRUN_STUB_X64)
      setrun_install_test(install.${group} ${group} ${SETRUN_STUB_X64} win64 x64 x64)
    endif()
    if(SETRUN_STUB_X86)
      setrun_install_test(install.x86.${group} ${group} ${SETRUN_STUB_X86} win32 x86 x86)
    endif()
  endforeach()
  # The damaged-data group writes nothing to a redirected place.
  if(SETRUN_STUB_X86)
    foreach(group files packages existing integration runs)
      setrun_install_test(install.x86-wow64.${group} ${group} ${SETRUN_STUB_X86} win64 x86-wow64
        x86)
    endforeach()
  endif()
endif()
