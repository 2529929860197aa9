# Windows build: the setup program (i686 or x86_64), the demo program and the
# Windows test programs that run under Wine, for either processor.
enable_language(RC)

# Only system libraries; each is imported only for the functions used.
set(CMAKE_C_STANDARD_LIBRARIES "-lkernel32 -luser32 -lgdi32 -ladvapi32 -lshell32 -lole32" CACHE STRING "" FORCE)
set(CMAKE_CXX_STANDARD_LIBRARIES "${CMAKE_C_STANDARD_LIBRARIES}" CACHE STRING "" FORCE)
set(CMAKE_CXX_FLAGS_RELEASE "-DNDEBUG" CACHE STRING "" FORCE)

set(SETRUN_STUB_FLAGS
  -Os -Wall -Wextra -Werror
  -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables -fno-unwind-tables
  -ffunction-sections -fdata-sections -fno-ident -fno-threadsafe-statics)

# zlib is linked statically, inflate side only (the linker takes only the
# objects the program calls).
find_library(SETRUN_STATIC_ZLIB NAMES libz.a REQUIRED)
find_path(SETRUN_ZLIB_INCLUDE zlib.h REQUIRED)

add_library(setrun_core STATIC ${SETRUN_PORTABLE_SOURCES} ${SETRUN_WINDOWS_SOURCES})
target_include_directories(setrun_core PUBLIC ${CMAKE_SOURCE_DIR} ${SETRUN_ZLIB_INCLUDE})
target_compile_options(setrun_core PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${SETRUN_STUB_FLAGS}>)
target_compile_definitions(setrun_core PUBLIC WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0501)
target_link_libraries(setrun_core PUBLIC ${SETRUN_STATIC_ZLIB})

# crc32_win.cpp stands beside the entry sources so that the linker takes it
# before it reaches zlib's own crc32.
add_executable(setrun WIN32 ${SETRUN_ENTRY_SOURCES} package/crc32_win.cpp)
target_compile_options(setrun PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${SETRUN_STUB_FLAGS}>)
target_include_directories(setrun PRIVATE ${CMAKE_SOURCE_DIR}/startup)
target_link_libraries(setrun PRIVATE setrun_core)
# Own entry point instead of the C runtime's start-up code (startup/entry_win.cpp).
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(SETRUN_ENTRY_SYMBOL SetupEntry)
else()
  set(SETRUN_ENTRY_SYMBOL _SetupEntry)
endif()
target_link_options(setrun PRIVATE
  -static -static-libgcc -s -nostartfiles -Wl,-e,${SETRUN_ENTRY_SYMBOL} -Wl,--gc-sections
  -Wl,-Map=${CMAKE_BINARY_DIR}/setrun.map)

# The own entry point runs no static constructors: the program must have none.
add_test(NAME stub.no_static_constructors
  COMMAND sh -c "! grep -q _GLOBAL__sub_I ${CMAKE_BINARY_DIR}/setrun.map")

include(examples/demo/demo.cmake)
include(cmake/windows-tests.cmake OPTIONAL)

# The program imports only libraries that Windows takes from its own folder.
add_test(NAME stub.imports
  COMMAND sh ${CMAKE_SOURCE_DIR}/tests/e2e/check-imports.sh ${CMAKE_OBJDUMP} $<TARGET_FILE:setrun>)
