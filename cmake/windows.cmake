# The Windows build: the Windows adapters (src/platform/windows) and their
# tests, which run under Wine through tests/windows/wine-run.sh. GoogleTest is
# compiled here by the cross compiler from the sources libgtest-dev installs.
set(TAVLEVAGT_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for the Windows build")
# MinGW's own printf, which knows %zu, %lld and the rest of C99, instead of
# the system's; the format checks (TV_PRINTF_FORMAT) are gnu_printf to match.
add_compile_definitions(__USE_MINGW_ANSI_STDIO=1)

set(TAVLEVAGT_WINE_PREFIX ${CMAKE_BINARY_DIR}/wine-prefix CACHE PATH
    "Private Wine prefix the Windows tests run in")
set(TAVLEVAGT_WINE_TIMEOUT 300 CACHE STRING "Seconds one Wine run may take before it is killed")

# Every test program runs under Wine, so CTest and gtest_discover_tests can run
# them like native ones.
configure_file(${PROJECT_SOURCE_DIR}/tests/windows/wine-run.sh.in ${CMAKE_BINARY_DIR}/wine-run.sh
               @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
               WORLD_READ WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run.sh)

if(TAVLEVAGT_TESTS)
  # GoogleTest keeps its own warning flags; ours (-Werror) are not for it.
  get_directory_property(_tv_options COMPILE_OPTIONS)
  set_directory_properties(PROPERTIES COMPILE_OPTIONS "")
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  add_subdirectory(${TAVLEVAGT_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  set_directory_properties(PROPERTIES COMPILE_OPTIONS "${_tv_options}")
  include(GoogleTest)
  enable_testing()
endif()
