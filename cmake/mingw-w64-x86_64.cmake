# Cross build for 64-bit Windows with Debian's mingw-w64 (the -posix compilers,
# whose C++ library has std::thread). Executables are linked statically so
# they need no compiler runtime DLLs next to them, on Windows or under Wine.
#
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TAVLEVAGT_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TAVLEVAGT_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TAVLEVAGT_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${TAVLEVAGT_MINGW}-windres)
# The message compiler for the event log's message table (not a CMake language).
set(TAVLEVAGT_WINDMC ${TAVLEVAGT_MINGW}-windmc)

set(CMAKE_FIND_ROOT_PATH /usr/${TAVLEVAGT_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

# Programs whose entry is wmain (UTF-16 arguments) link with these; GoogleTest's
# main is the narrow one, so the flag is not global.
set(TAVLEVAGT_WMAIN_LINK_OPTIONS -municode)
