# The wizard's test driver and a stand-in with the wizard's window structure
# (tests/wizard), built for the processor of this build. The x86_64 build
# also builds the i686 driver and runs it against the 64-bit stand-in.
foreach(program wizard_driver wizard_standin)
  add_executable(${program} ${CMAKE_CURRENT_LIST_DIR}/${program}.c)
  target_compile_options(${program} PRIVATE -Os -Wall -Wextra -Werror)
  target_link_options(${program} PRIVATE -s -static-libgcc)
endforeach()
set_target_properties(wizard_standin PROPERTIES WIN32_EXECUTABLE ON)

set(SETRUN_WIZARD_DRIVERS "$<TARGET_FILE:wizard_driver>")
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  find_program(SETRUN_I686_CC i686-w64-mingw32-gcc)
  if(SETRUN_I686_CC)
    set(driver_i686 ${CMAKE_BINARY_DIR}/i686/wizard_driver.exe)
    add_custom_command(OUTPUT ${driver_i686}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/i686
      COMMAND ${SETRUN_I686_CC} -Os -Wall -Wextra -Werror ${CMAKE_CURRENT_LIST_DIR}/wizard_driver.c
        -o ${driver_i686} -s -static-libgcc -luser32 -lgdi32
      DEPENDS ${CMAKE_CURRENT_LIST_DIR}/wizard_driver.c
      COMMENT "Building the i686 wizard driver")
    add_custom_target(wizard_driver_i686 ALL DEPENDS ${driver_i686})
    list(APPEND SETRUN_WIZARD_DRIVERS ${driver_i686})
  endif()
endif()

# The driver's tests: every driver of this build in one prefix with Wine's
# null display driver (one at a time: they find the stand-in by its class),
# and the screenshots on a private Xvfb display in a prefix of their own.
find_package(Python3 COMPONENTS Interpreter)
if(Python3_Interpreter_FOUND)
  set(runner ${CMAKE_CURRENT_LIST_DIR}/run_standin_tests.py)
  set(standin "$<TARGET_FILE:wizard_standin>")
  set(index 0)
  foreach(driver ${SETRUN_WIZARD_DRIVERS})
    if(index EQUAL 0)
      set(name wizard.driver)
    else()
      set(name wizard.driver_i686)
    endif()
    math(EXPR index "${index} + 1")
    add_test(NAME ${name}
      COMMAND ${Python3_EXECUTABLE} ${runner} --driver ${driver} --standin ${standin}
        --prefix ${CMAKE_BINARY_DIR}/wizard-wine/null)
    set_tests_properties(${name} PROPERTIES TIMEOUT 600 RESOURCE_LOCK wizard_null_prefix)
  endforeach()
  add_test(NAME wizard.screenshots
    COMMAND ${Python3_EXECUTABLE} ${runner} --driver $<TARGET_FILE:wizard_driver> --standin ${standin}
      --prefix ${CMAKE_BINARY_DIR}/wizard-wine/x11 --screenshots ${CMAKE_BINARY_DIR}/wizard-shots
      --case screenshots)
  set_tests_properties(wizard.screenshots PROPERTIES TIMEOUT 600)
endif()
