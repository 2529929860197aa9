# The programs of examples/demo (Windows build), the files the demo installer
# carries: demo_hello.exe and its self-registering component
# demo_greeting.dll (exported without decoration, as the setup program and
# regsvr32 look the entry points up).
add_executable(demo_hello ${CMAKE_CURRENT_LIST_DIR}/hello.c)
target_compile_options(demo_hello PRIVATE -Os -Wall -Wextra -Werror)
target_link_options(demo_hello PRIVATE -s -static-libgcc)
add_library(demo_greeting SHARED ${CMAKE_CURRENT_LIST_DIR}/greeting.c)
set_target_properties(demo_greeting PROPERTIES PREFIX "" OUTPUT_NAME demo_greeting)
target_compile_options(demo_greeting PRIVATE -Os -Wall -Wextra -Werror)
target_link_options(demo_greeting PRIVATE -s -static-libgcc -Wl,--kill-at)
