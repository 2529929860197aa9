# Native build: the package builder, the unit tests of the portable code, the
# fuzz target and the benchmarks.
find_package(ZLIB REQUIRED)

set(SETRUN_NATIVE_WARNINGS -Wall -Wextra -Werror)

# The setup program's inflater (cmake/zlib.cmake), built with its size
# options so that the reader benchmark measures what the program runs. The
# system's zlib compresses for the builder and the tests.
include(cmake/zlib.cmake)
setrun_add_zlib(setrun_zlib ${SETRUN_ZLIB_SIZE_FLAGS})

# The setup program's portable code as the builder and tools use it.
add_library(setrun_portable STATIC ${SETRUN_PORTABLE_SOURCES} ${SETRUN_NATIVE_SOURCES})
target_include_directories(setrun_portable PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(setrun_portable PRIVATE ${SETRUN_NATIVE_WARNINGS})
target_link_libraries(setrun_portable PRIVATE setrun_zlib PUBLIC ZLIB::ZLIB)

# Where the builder finds the setup programs it was built with.
set(SETRUN_STUB_X86 "" CACHE FILEPATH "32-bit setup program")
set(SETRUN_STUB_X64 "" CACHE FILEPATH "64-bit setup program")

include(builder/builder.cmake OPTIONAL)
include(tests/unit/unit.cmake OPTIONAL)
include(tests/fuzz/fuzz.cmake OPTIONAL)
include(tests/e2e/e2e.cmake OPTIONAL)
include(tests/install/install.cmake OPTIONAL)
include(tests/wizard/wizard_runs.cmake OPTIONAL)
include(bench/bench.cmake OPTIONAL)
