# Inflater benchmark of the Windows builds (bench/run-inflater.sh): the
# program's inflater against Debian's static zlib, in one program.
add_executable(setrun_inflater_bench bench/inflater_bench.c)
target_compile_options(setrun_inflater_bench PRIVATE -O2 -Wall -Wextra -Werror)
# The library file only, without its headers and definitions: the benchmark
# compiles against the system's zlib.h, unprefixed.
add_dependencies(setrun_inflater_bench setrun_zlib)
target_link_libraries(setrun_inflater_bench PRIVATE $<TARGET_FILE:setrun_zlib> ${SETRUN_STATIC_ZLIB})
target_link_options(setrun_inflater_bench PRIVATE -static -static-libgcc)
