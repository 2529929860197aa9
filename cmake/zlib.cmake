# The inflate side of zlib, compiled from the copy in third_party/zlib (see
# third_party/zlib/README.setrun.md). The same inflater, with the same
# definitions, serves the setup program, the native tools, the unit tests
# and the fuzz target.
#
# NO_GZIP: packages hold zlib streams (RFC 1950) only. inflateInit_ asks for
# a 15-bit window, with which inflate never takes a gzip header anyway;
# without NO_GZIP the header parser and crc32 (8 KB of tables) would still
# be linked in.
# BUILDFIXED: the decoding tables of fixed-code blocks are built on the
# first such block (2 KB less in the program file, 2 KB more of zeroed
# memory). zlib notes that this makes inflate unsafe to start from two
# threads at once: the setup program has one thread, and the native tools
# and tests read packages on one (the builder's threads only compress, with
# the system's zlib).
# Z_PREFIX: every zlib name carries zlib's own z_ prefix (and the one name
# it leaves out, the error text table, is renamed too), so that a program
# may also hold the system's zlib, as the builder, the tests and the
# benchmarks do to compress, without either resolving the other's names.
set(SETRUN_ZLIB_DIR ${CMAKE_SOURCE_DIR}/third_party/zlib)
set(SETRUN_ZLIB_SOURCES
  ${SETRUN_ZLIB_DIR}/adler32.c
  ${SETRUN_ZLIB_DIR}/inffast.c
  ${SETRUN_ZLIB_DIR}/inflate.c
  ${SETRUN_ZLIB_DIR}/inftrees.c
  ${SETRUN_ZLIB_DIR}/zutil.c)
# The setup program's size options for C (SETRUN_STUB_SIZE_FLAGS, cmake/windows.cmake;
# -Os alone in the native build).
set(SETRUN_ZLIB_SIZE_FLAGS -Os -fno-asynchronous-unwind-tables -fno-unwind-tables -ffunction-sections
  ${SETRUN_STUB_SIZE_FLAGS})
# Except the inner loop, inflate_fast, where the time goes: at -Os the 32-bit
# program decompressed program-like data 17% slower than with Debian's zlib;
# at -O2 as fast, for about 320 bytes (bench/README.md).
set_source_files_properties(${SETRUN_ZLIB_DIR}/inffast.c PROPERTIES COMPILE_OPTIONS -O2)

# setrun_add_zlib(name options...): a static library of the inflater
# compiled with the given options. Whoever links it compiles against its
# headers with the definitions they need.
function(setrun_add_zlib name)
  add_library(${name} STATIC ${SETRUN_ZLIB_SOURCES})
  target_include_directories(${name} BEFORE PUBLIC ${SETRUN_ZLIB_DIR})
  target_compile_definitions(${name} PUBLIC Z_PREFIX PRIVATE NO_GZIP BUILDFIXED z_errmsg=z_z_errmsg)
  target_compile_options(${name} PRIVATE ${ARGN})
endfunction()
