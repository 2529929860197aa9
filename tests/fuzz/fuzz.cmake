# libFuzzer targets over the package reader of the setup program and over
# setrunc's reader. They need clang (-fsanitize=fuzzer); configure a separate
# build with CC=clang CXX=clang++ (tests/fuzz/run.sh does). Other compilers
# skip them.
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  set(SETRUN_FUZZ_FLAGS -fsanitize=fuzzer-no-link,address,undefined
      -fno-sanitize-recover=all -fno-omit-frame-pointer -g)

  # The portable code again, instrumented for coverage and the sanitizers,
  # with the setup program's inflater under the sanitizers only: its
  # coverage would draw the fuzzer into deflate data, which zlib's own
  # fuzzing covers, away from the package reader.
  setrun_add_zlib(setrun_zlib_fuzzed -fsanitize=address,undefined
    -fno-sanitize-recover=all -g)
  add_library(setrun_fuzzed STATIC ${SETRUN_PORTABLE_SOURCES} ${SETRUN_NATIVE_SOURCES})
  target_include_directories(setrun_fuzzed PUBLIC ${CMAKE_SOURCE_DIR})
  target_compile_options(setrun_fuzzed PUBLIC ${SETRUN_FUZZ_FLAGS})
  target_link_libraries(setrun_fuzzed PRIVATE setrun_zlib_fuzzed)

  add_executable(setrun_package_fuzz tests/fuzz/package_fuzz.cpp tests/support/ui_doubles.cpp)
  target_link_libraries(setrun_package_fuzz PRIVATE setrun_fuzzed)
  target_link_options(setrun_package_fuzz PRIVATE -fsanitize=fuzzer,address,undefined)

  # setrunc's reader (inspect and verify as main runs them) beside the
  # loader: the builder's reading sources, instrumented the same way.
  # (The writer and inspect bring the layout, the backdrop records and the
  # image conversion along.)
  add_executable(setrun_reader_fuzz tests/fuzz/reader_fuzz.cpp tests/support/ui_doubles.cpp
    builder/backdrop.cpp builder/codepage.cpp builder/images.cpp builder/inspect_json.cpp builder/layout.cpp
    builder/package_reader.cpp builder/package_writer.cpp
    builder/reader_commands.cpp builder/shared_data.cpp builder/signature.cpp builder/stub_manifest.cpp
    builder/texts.cpp builder/uninstall_records.cpp)
  # The builder reads and writes with the system's zlib (the inflater above
  # carries prefixed names).
  target_link_libraries(setrun_reader_fuzz PRIVATE setrun_fuzzed PkgConfig::LIBDEFLATE ZLIB::ZLIB
    PkgConfig::STB PkgConfig::LIBCRYPTO Threads::Threads)
  target_link_options(setrun_reader_fuzz PRIVATE -fsanitize=fuzzer,address,undefined)

  # setrunc's reading and rewriting of a program's manifest level.
  add_executable(setrun_manifest_fuzz tests/fuzz/manifest_fuzz.cpp builder/stub_manifest.cpp)
  target_include_directories(setrun_manifest_fuzz PRIVATE ${CMAKE_SOURCE_DIR})
  target_compile_options(setrun_manifest_fuzz PRIVATE ${SETRUN_FUZZ_FLAGS})
  target_link_options(setrun_manifest_fuzz PRIVATE -fsanitize=fuzzer,address,undefined)

  # The seed corpus of both targets: hand-assembled packages.
  add_executable(setrun_fuzz_seeds tests/fuzz/make_seeds.cpp)
  target_include_directories(setrun_fuzz_seeds PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_libraries(setrun_fuzz_seeds PRIVATE ZLIB::ZLIB)
endif()

# libFuzzer target over the markup of formatted texts.
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  add_executable(setrun_markup_fuzz tests/fuzz/markup_fuzz.cpp)
  target_link_libraries(setrun_markup_fuzz PRIVATE setrun_fuzzed)
  target_link_options(setrun_markup_fuzz PRIVATE -fsanitize=fuzzer,address,undefined)
endif()

# libFuzzer target over the font name reader (the "name" table of a TrueType
# file).
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  add_executable(setrun_font_name_fuzz tests/fuzz/font_name_fuzz.cpp)
  target_link_libraries(setrun_font_name_fuzz PRIVATE setrun_fuzzed)
  target_link_options(setrun_font_name_fuzz PRIVATE -fsanitize=fuzzer,address,undefined)
endif()

# libFuzzer target over the uninstaller's reading of its log and its
# decision list.
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  add_executable(setrun_uninstall_log_fuzz tests/fuzz/uninstall_log_fuzz.cpp)
  target_link_libraries(setrun_uninstall_log_fuzz PRIVATE setrun_fuzzed)
  target_link_options(setrun_uninstall_log_fuzz PRIVATE -fsanitize=fuzzer,address,undefined)
endif()
