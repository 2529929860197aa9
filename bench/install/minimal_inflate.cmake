# Baseline program of the installation benchmark (bench/install/run.sh),
# built for x86_64 with the static zlib the setup program uses.
find_library(SETRUN_STATIC_ZLIB NAMES libz.a REQUIRED)
find_path(SETRUN_ZLIB_INCLUDE zlib.h REQUIRED)
add_executable(minimal_inflate ${CMAKE_CURRENT_LIST_DIR}/minimal_inflate.c)
target_include_directories(minimal_inflate PRIVATE ${SETRUN_ZLIB_INCLUDE})
target_compile_options(minimal_inflate PRIVATE -O2 -Wall -Wextra -Werror)
target_link_libraries(minimal_inflate PRIVATE ${SETRUN_STATIC_ZLIB})
target_link_options(minimal_inflate PRIVATE -s -static-libgcc)
