# Benchmarks (not tests): built with the project's optimisation settings,
# run by hand with bench/run-reader.sh.
# The plain inflate loop over the setup program's own inflater, apart from
# the benchmark's sources, which use the system's zlib as the baseline.
add_library(setrun_bench_stub_loop STATIC bench/stub_inflate_loop.c)
target_include_directories(setrun_bench_stub_loop PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(setrun_bench_stub_loop PRIVATE setrun_zlib)

add_executable(setrun_reader_bench bench/reader_bench.cpp tests/support/ui_doubles.cpp)
target_link_libraries(setrun_reader_bench PRIVATE setrun_portable setrun_bench_stub_loop)
