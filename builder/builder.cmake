# The package builder setrunc and its tests (native build only).
find_package(PkgConfig REQUIRED)
pkg_check_modules(TOMLPLUSPLUS REQUIRED IMPORTED_TARGET tomlplusplus)
pkg_check_modules(LIBDEFLATE REQUIRED IMPORTED_TARGET libdeflate)
# OpenSSL's libcrypto reads and checks the signature of signed installers.
pkg_check_modules(LIBCRYPTO REQUIRED IMPORTED_TARGET libcrypto)
pkg_check_modules(STB REQUIRED IMPORTED_TARGET stb)
find_package(Threads REQUIRED)

set(SETRUNC_SOURCES
  builder/appearance.cpp
  builder/backdrop.cpp
  builder/codepage.cpp
  builder/images.cpp
  builder/init_project.cpp
  builder/inspect_json.cpp
  builder/layout.cpp
  builder/package_reader.cpp
  builder/package_writer.cpp
  builder/project.cpp
  builder/reader_commands.cpp
  builder/shared_data.cpp
  builder/sign_command.cpp
  builder/signature.cpp
  builder/stub_manifest.cpp
  builder/texts.cpp
  builder/try_run.cpp
  builder/uninstall_records.cpp)

add_executable(setrunc builder/main.cpp ${SETRUNC_SOURCES})
target_compile_options(setrunc PRIVATE ${SETRUN_NATIVE_WARNINGS})
target_compile_definitions(setrunc PRIVATE
  SETRUN_STUB_X86="${SETRUN_STUB_X86}" SETRUN_STUB_X64="${SETRUN_STUB_X64}"
  SETRUN_UNINSTALLER_X86="${SETRUN_UNINSTALLER_X86}" SETRUN_UNINSTALLER_X64="${SETRUN_UNINSTALLER_X64}")
target_link_libraries(setrunc PRIVATE setrun_portable PkgConfig::TOMLPLUSPLUS
  PkgConfig::LIBDEFLATE PkgConfig::LIBCRYPTO PkgConfig::STB ZLIB::ZLIB Threads::Threads)

# Builder tests: the builder's sources compiled with the sanitizers, linked
# with the setup program's portable code (setrun_checked) so that packages
# go through the real loader.
find_package(GTest REQUIRED)
include(GoogleTest)
file(GLOB SETRUN_BUILDER_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/builder/*_test.cpp)
if(SETRUN_BUILDER_TEST_SOURCES)
  add_executable(setrun_builder_tests ${SETRUN_BUILDER_TEST_SOURCES} ${SETRUNC_SOURCES}
    tests/support/ui_doubles.cpp)
  target_compile_options(setrun_builder_tests PRIVATE ${SETRUN_NATIVE_WARNINGS})
  target_compile_definitions(setrun_builder_tests PRIVATE
    SETRUN_SOURCE_DIR="${CMAKE_SOURCE_DIR}" SETRUNC_PATH="$<TARGET_FILE:setrunc>"
    SETRUN_STUB_X86="${SETRUN_STUB_X86}" SETRUN_STUB_X64="${SETRUN_STUB_X64}"
    SETRUN_UNINSTALLER_X86="${SETRUN_UNINSTALLER_X86}" SETRUN_UNINSTALLER_X64="${SETRUN_UNINSTALLER_X64}")
  target_link_libraries(setrun_builder_tests PRIVATE setrun_checked PkgConfig::TOMLPLUSPLUS
    PkgConfig::LIBDEFLATE PkgConfig::LIBCRYPTO PkgConfig::STB Threads::Threads GTest::gtest_main)
  add_dependencies(setrun_builder_tests setrunc)
  gtest_discover_tests(setrun_builder_tests DISCOVERY_TIMEOUT 60 TEST_FILTER "-ReaderScale.*")
  # The reader's work on large crafted installers: well under a second of
  # work each. The tests assert outcomes only; work that grows with the
  # square of the input, or with the entries instead of the data, shows as
  # this timeout.
  gtest_discover_tests(setrun_builder_tests DISCOVERY_TIMEOUT 60 TEST_FILTER "ReaderScale.*"
    PROPERTIES TIMEOUT 20)
endif()

# The demo installer built and run under Wine, when setrunc knows a 64-bit
# setup program and the Windows tools are at hand.
find_program(SETRUN_MINGW64_GCC x86_64-w64-mingw32-gcc)
if(SETRUN_STUB_X64 AND SETRUN_MINGW64_GCC AND EXISTS /usr/lib/wine/wine64)
  add_test(NAME builder_demo_in_wine
    COMMAND ${CMAKE_SOURCE_DIR}/tests/builder/demo-in-wine.sh $<TARGET_FILE:setrunc>
            ${SETRUN_STUB_X64} ${CMAKE_SOURCE_DIR})
  set_tests_properties(builder_demo_in_wine PROPERTIES TIMEOUT 300)
endif()

# Signed installers of both setup programs (osslsigncode and a throwaway
# certificate) verify and install under Wine; setrunc try reports the
# demo's installation and uninstallation in a prefix of its own.
find_program(SETRUN_OSSLSIGNCODE osslsigncode)
if(SETRUN_STUB_X86 AND SETRUN_STUB_X64 AND SETRUN_MINGW64_GCC AND SETRUN_OSSLSIGNCODE AND EXISTS /usr/lib/wine/wine64)
  add_test(NAME builder_signed_in_wine
    COMMAND ${CMAKE_SOURCE_DIR}/tests/builder/signed-in-wine.sh $<TARGET_FILE:setrunc>
            ${SETRUN_STUB_X86} ${SETRUN_STUB_X64} ${CMAKE_SOURCE_DIR})
  set_tests_properties(builder_signed_in_wine PROPERTIES TIMEOUT 300 LABELS x86)
  add_test(NAME builder_try_demo
    COMMAND ${CMAKE_SOURCE_DIR}/tests/builder/try-demo.sh $<TARGET_FILE:setrunc> ${SETRUN_STUB_X86}
            ${CMAKE_SOURCE_DIR})
  set_tests_properties(builder_try_demo PROPERTIES TIMEOUT 600 LABELS x86)
endif()

# Reproducible output: the 32-bit setup program and the demo program built
# again in a fresh folder, compared with those setrunc was built with, and
# the demo installers made from each.
find_program(SETRUN_MINGW32_GCC i686-w64-mingw32-gcc)
if(SETRUN_STUB_X86 AND SETRUN_MINGW32_GCC)
  get_filename_component(SETRUN_WIN32_BUILD ${SETRUN_STUB_X86} DIRECTORY)
  add_test(NAME builder_reproducible
    COMMAND ${CMAKE_SOURCE_DIR}/tests/builder/reproducible.sh $<TARGET_FILE:setrunc> ${CMAKE_SOURCE_DIR}
            ${SETRUN_WIN32_BUILD} ${CMAKE_BINARY_DIR}/reproducible ${SETRUN_STUB_X64})
  set_tests_properties(builder_reproducible PROPERTIES TIMEOUT 900)
endif()
