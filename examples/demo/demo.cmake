# The demo program of examples/demo (Windows build): demo_hello.exe, the file
# the demo installer carries.
add_executable(demo_hello ${CMAKE_CURRENT_LIST_DIR}/hello.c)
target_compile_options(demo_hello PRIVATE -Os -Wall -Wextra -Werror)
target_link_options(demo_hello PRIVATE -s -static-libgcc)
