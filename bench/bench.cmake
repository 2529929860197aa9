# Benchmarks (not tests): built with the project's optimisation settings,
# run by hand with bench/run-reader.sh.
add_executable(setrun_reader_bench bench/reader_bench.cpp tests/support/ui_doubles.cpp)
target_link_libraries(setrun_reader_bench PRIVATE setrun_portable)
