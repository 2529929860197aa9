# Native unit tests of the portable code, with AddressSanitizer and
# UndefinedBehaviorSanitizer.
find_package(GTest REQUIRED)
include(GoogleTest)

set(SETRUN_SANITIZERS -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)

# The portable sources again, and the setup program's inflater, built with
# the sanitizers. The tests write their streams with the system's zlib.
setrun_add_zlib(setrun_zlib_checked ${SETRUN_SANITIZERS})
add_library(setrun_checked STATIC ${SETRUN_PORTABLE_SOURCES} ${SETRUN_NATIVE_SOURCES})
target_include_directories(setrun_checked PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(setrun_checked PUBLIC ${SETRUN_SANITIZERS} PRIVATE ${SETRUN_NATIVE_WARNINGS})
target_link_options(setrun_checked PUBLIC ${SETRUN_SANITIZERS})
target_link_libraries(setrun_checked PRIVATE setrun_zlib_checked PUBLIC ZLIB::ZLIB)

file(GLOB SETRUN_UNIT_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/unit/*_test.cpp)
add_executable(setrun_unit_tests ${SETRUN_UNIT_TEST_SOURCES} tests/support/ui_doubles.cpp)
target_link_libraries(setrun_unit_tests PRIVATE setrun_checked GTest::gtest_main)
gtest_discover_tests(setrun_unit_tests DISCOVERY_TIMEOUT 60)
