# Windows build: the setup program (i686 or x86_64), the demo program and the
# Windows test programs that run under Wine, for either processor.
enable_language(RC)

# Only system libraries; each is imported only for the functions used.
set(CMAKE_C_STANDARD_LIBRARIES "-lkernel32 -luser32 -lgdi32 -ladvapi32 -lshell32 -lole32" CACHE STRING "" FORCE)
set(CMAKE_CXX_STANDARD_LIBRARIES "${CMAKE_C_STANDARD_LIBRARIES}" CACHE STRING "" FORCE)
set(CMAKE_CXX_FLAGS_RELEASE "-DNDEBUG" CACHE STRING "" FORCE)

# Size options of the program's code, C and C++ alike (bench/README.md, "Where
# the bytes go", has the figures of each):
# -Oz: 512 bytes less than -Os in the 32-bit program, 1.5 KB in the 64-bit
#   one (the inflater's inner loop keeps its own -O2, cmake/zlib.cmake).
# -Wframe-larger-than=4000 (an error in the program's C++ code): no function
#   moves the stack pointer by a page or more at once, so none needs the
#   stack probe that touches the guard page on the way down. That is what
#   makes -mno-stack-arg-probe safe for the 32-bit program, which then lets it
#   pass arguments with push (-mno-accumulate-outgoing-args; GCC keeps the
#   slower mov-to-stack sequence while probes are on): 6 KB less.
# -mpreferred-stack-boundary=2 (32-bit): Windows guarantees 4-byte stack
#   alignment on x86 and the program uses no SSE; without it GCC pads and
#   realigns frames to 16 bytes: 4 KB less.
# -fomit-frame-pointer (32-bit; the 64-bit code has none already): EBP is
#   one more register to work with, and no function sets it up and restores
#   it: 1.2 KB less. The price is that a crash dump's stack can no longer be
#   walked by the frame chain.
# -fno-jump-tables (32-bit): a switch's table of jumps holds an absolute
#   address per case, each with its base relocation; compares and branches
#   are about as long as the table and need none: 190 bytes less. (64-bit
#   tables hold relative offsets; there the option only adds code.)
# -malign-data=abi: data keeps the alignment its type needs; GCC otherwise
#   aligns every array of 32 bytes or more to 32 (for vector loads the
#   program does not do), and the assembler pads each object's read-only
#   data to that: 440 bytes less (32-bit), 288 (64-bit).
# -fno-tree-vectorize -fno-tree-slp-vectorize (64-bit): neighbouring stores
#   of pointers are not merged into SSE stores of 16-byte constants that
#   then need their own read-only data and relocations: 128 bytes less.
# -mcmodel=small (64-bit): GCC for Windows otherwise reaches every global
#   variable defined in another object through a pointer of its own (a
#   .refptr constant with a relocation, and one more load), in case the
#   variable is imported from a library more than 2 GB away. The program
#   imports no data, and everything in it is within 2 GB of its code (still
#   addressed relative to it, so it loads at any address): 2 KB less.
set(SETRUN_STUB_SIZE_FLAGS -Oz -Wframe-larger-than=4000 -malign-data=abi)
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  list(APPEND SETRUN_STUB_SIZE_FLAGS -fno-tree-vectorize -fno-tree-slp-vectorize -mcmodel=small)
else()
  list(APPEND SETRUN_STUB_SIZE_FLAGS
    -mno-stack-arg-probe -mno-accumulate-outgoing-args -mpreferred-stack-boundary=2
    -fomit-frame-pointer -fno-jump-tables)
endif()

# Without -fdata-sections: with it, GCC for Windows puts zero-initialised
# variables into .data$name sections, stored in the file, instead of .bss
# (780 bytes of zeros in the 32-bit program, and every static buffer to
# come). Constant data an object file holds but no kept function uses stays
# in (about 100 bytes).
#
# Without -ffunction-sections, except where it drops code: the assembler pads
# every section of an object to its alignment (16 bytes on x86-64, 4 on
# x86), so a section per function cost the 64-bit program 2.7 KB of padding.
# The functions of one object share one section instead; the sources listed
# in SETRUN_STUB_SPLIT_SOURCES hold functions the setup program does not use
# (they serve the uninstaller, the builder or the tests), or that the
# uninstaller uses only a few of, and keep a section per function, so that
# --gc-sections still leaves the rest out. The inflater keeps its own
# (cmake/zlib.cmake). A source that comes to hold such functions belongs in
# the list (bench/stub-size.py shows what an object brings).
set(SETRUN_STUB_FLAGS
  -Wall -Wextra -Werror
  -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables -fno-unwind-tables
  -fno-ident -fno-threadsafe-statics ${SETRUN_STUB_SIZE_FLAGS})
set(SETRUN_STUB_SPLIT_SOURCES
  base/files_win.cpp base/records.cpp base/run_state.cpp base/system_library_win.cpp
  engine/uninstall_log.cpp package/inflate.cpp)
list(TRANSFORM SETRUN_STUB_SPLIT_SOURCES PREPEND ${CMAKE_SOURCE_DIR}/)
set_property(SOURCE ${SETRUN_STUB_SPLIT_SOURCES} APPEND PROPERTY COMPILE_OPTIONS -ffunction-sections)

# The inflater: zlib's inflate side compiled with the program's own size
# options (cmake/zlib.cmake). Debian's static zlib (built for speed, with
# unwind tables) is there for the test programs, which write their streams
# with its compressor; the program takes nothing from it (stub.own_inflater).
include(cmake/zlib.cmake)
setrun_add_zlib(setrun_zlib ${SETRUN_ZLIB_SIZE_FLAGS})
find_library(SETRUN_STATIC_ZLIB NAMES libz.a REQUIRED)

add_library(setrun_core STATIC ${SETRUN_PORTABLE_SOURCES} ${SETRUN_WINDOWS_SOURCES})
target_include_directories(setrun_core PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(setrun_core PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${SETRUN_STUB_FLAGS}>)
target_compile_definitions(setrun_core PUBLIC WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0501)
target_link_libraries(setrun_core PRIVATE setrun_zlib INTERFACE ${SETRUN_STATIC_ZLIB})

include(bench/inflater.cmake)

add_executable(setrun WIN32 ${SETRUN_ENTRY_SOURCES})
target_compile_options(setrun PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${SETRUN_STUB_FLAGS}>)
target_include_directories(setrun PRIVATE ${CMAKE_SOURCE_DIR}/startup)
target_link_libraries(setrun PRIVATE setrun_core)
# Own entry point instead of the C runtime's start-up code (startup/entry_win.cpp).
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(SETRUN_ENTRY_SYMBOL SetupEntry)
  set(SETRUN_UNINSTALL_ENTRY_SYMBOL UninstallEntry)
else()
  set(SETRUN_ENTRY_SYMBOL _SetupEntry)
  set(SETRUN_UNINSTALL_ENTRY_SYMBOL _UninstallEntry)
endif()
# The program's own section layout (cmake/stub-sections.ld): code and
# read-only data in one section, the import tables and the initialised data
# in another.
set(SETRUN_STUB_LINKER_SCRIPT ${CMAKE_SOURCE_DIR}/cmake/stub-sections.ld)
target_link_options(setrun PRIVATE
  -static -static-libgcc -s -nostartfiles -Wl,-e,${SETRUN_ENTRY_SYMBOL} -Wl,--gc-sections
  -Wl,-T,${SETRUN_STUB_LINKER_SCRIPT} -Wl,-Map=${CMAKE_BINARY_DIR}/setrun.map)
set_property(TARGET setrun APPEND PROPERTY LINK_DEPENDS ${SETRUN_STUB_LINKER_SCRIPT})

# The own entry point runs no static constructors: the program must have none.
add_test(NAME stub.no_static_constructors
  COMMAND sh -c "! grep -q _GLOBAL__sub_I ${CMAKE_BINARY_DIR}/setrun.map")
# Every zlib object in the program comes from the inflater built here.
add_test(NAME stub.own_inflater
  COMMAND sh -c "! grep -q 'libz\\.a(' ${CMAKE_BINARY_DIR}/setrun.map")

# The uninstaller program (uninstaller/), built like the setup program: its
# own entry point, no static constructors, only known system libraries.
add_executable(setrun_uninstall WIN32 ${SETRUN_UNINSTALLER_SOURCES})
set_target_properties(setrun_uninstall PROPERTIES OUTPUT_NAME uninstall)
target_compile_options(setrun_uninstall PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${SETRUN_STUB_FLAGS}>)
target_link_libraries(setrun_uninstall PRIVATE setrun_core)
target_link_options(setrun_uninstall PRIVATE
  -static -static-libgcc -s -nostartfiles -Wl,-e,${SETRUN_UNINSTALL_ENTRY_SYMBOL} -Wl,--gc-sections
  -Wl,-Map=${CMAKE_BINARY_DIR}/uninstall.map)
add_test(NAME uninstall.no_static_constructors
  COMMAND sh -c "! grep -q _GLOBAL__sub_I ${CMAKE_BINARY_DIR}/uninstall.map")
add_test(NAME uninstall.imports
  COMMAND sh ${CMAKE_SOURCE_DIR}/tests/e2e/check-imports.sh ${CMAKE_OBJDUMP} $<TARGET_FILE:setrun_uninstall>)

include(examples/demo/demo.cmake)
include(cmake/windows-tests.cmake OPTIONAL)

# The program imports only libraries that Windows takes from its own folder.
add_test(NAME stub.imports
  COMMAND sh ${CMAKE_SOURCE_DIR}/tests/e2e/check-imports.sh ${CMAKE_OBJDUMP} $<TARGET_FILE:setrun>)
