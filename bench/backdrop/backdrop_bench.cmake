# The backdrop repaint benchmark (bench/backdrop/run.sh), a Windows program
# over the setup program's painting code.
add_executable(backdrop_bench ${CMAKE_CURRENT_LIST_DIR}/backdrop_bench.cpp)
target_link_libraries(backdrop_bench PRIVATE setrun_core)
target_compile_options(backdrop_bench PRIVATE -O2 -Wall -Wextra -Werror)
target_link_options(backdrop_bench PRIVATE -static -static-libgcc -static-libstdc++)
