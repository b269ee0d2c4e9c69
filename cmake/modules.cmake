# How the layers and adapters of src/ become libraries (see src/CMakeLists.txt).
#
# Every library gets an include folder of its own in the build tree that holds
# links to its own source folders only ("<build>/layers/runtime/runtime" ->
# "src/runtime"). A library sees its own headers and, through what it links,
# those of the libraries below it; a header of a higher layer or of an adapter
# it does not link is simply not there, so an upward include fails to compile.

# Makes src/<folder> visible as "<folder>/…" below include folder dir.
function(tavlevagt_expose dir folder)
  get_filename_component(_parent ${dir}/${folder} DIRECTORY)
  file(MAKE_DIRECTORY ${_parent})
  file(CREATE_LINK ${PROJECT_SOURCE_DIR}/src/${folder} ${dir}/${folder} SYMBOLIC)
endfunction()

# tavlevagt_layer(name folder...): the next layer up, one static library
# tavlevagt_<name> of the folders' sources, linking the layer below it.
function(tavlevagt_layer name)
  set(_dir ${PROJECT_BINARY_DIR}/layers/${name})
  set(_sources)
  foreach(folder IN LISTS ARGN)
    file(GLOB_RECURSE _s CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/${folder}/*.cpp)
    # The one call a layer makes differently per platform lives in a file of
    # its own, "<name>_posix.cpp" or "<name>_windows.cpp"; the build takes the
    # platform's.
    if(WIN32)
      list(FILTER _s EXCLUDE REGEX "_posix\\.cpp$")
    else()
      list(FILTER _s EXCLUDE REGEX "_windows\\.cpp$")
    endif()
    list(APPEND _sources ${_s})
    tavlevagt_expose(${_dir} ${folder})
  endforeach()
  add_library(tavlevagt_${name} STATIC ${_sources})
  target_include_directories(tavlevagt_${name} PUBLIC ${_dir})
  get_property(_below GLOBAL PROPERTY TAVLEVAGT_TOP_LAYER)
  if(_below)
    target_link_libraries(tavlevagt_${name} PUBLIC ${_below})
  endif()
  set_property(GLOBAL PROPERTY TAVLEVAGT_TOP_LAYER tavlevagt_${name})
endfunction()

# tavlevagt_adapter(name [TARGET target] [SOURCES file...] [PUBLIC_LIBS lib...]
#                   [PRIVATE_LIBS lib...]):
# the adapter in src/platform/<name> as the static library target
# (tavlevagt_<name> unless named),
# built on the layer TAVLEVAGT_ADAPTER_BASE and nothing above it. PUBLIC_LIBS
# are the adapter libraries whose headers it uses (TAVLEVAGT_ADAPTER_SHARED),
# PRIVATE_LIBS the client libraries it calls. The adapter joins the global
# list TAVLEVAGT_ADAPTERS that the tests, benchmarks and fuzz targets link.
function(tavlevagt_adapter name)
  cmake_parse_arguments(A "" "TARGET" "SOURCES;PUBLIC_LIBS;PRIVATE_LIBS" ${ARGN})
  if(NOT A_TARGET)
    set(A_TARGET tavlevagt_${name})
  endif()
  set(_dir ${PROJECT_BINARY_DIR}/layers/adapter-${name})
  if(NOT A_SOURCES)
    file(GLOB A_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/platform/${name}/*.cpp)
  endif()
  add_library(${A_TARGET} STATIC ${A_SOURCES})
  tavlevagt_expose(${_dir} platform/${name})
  target_include_directories(${A_TARGET} PUBLIC ${_dir})
  target_link_libraries(${A_TARGET} PUBLIC tavlevagt_${TAVLEVAGT_ADAPTER_BASE} ${A_PUBLIC_LIBS}
                        PRIVATE ${A_PRIVATE_LIBS})
  set_property(GLOBAL APPEND PROPERTY TAVLEVAGT_ADAPTERS ${A_TARGET})
endfunction()

# tavlevagt_test(NAME name SOURCES ... LIBS ... LABELS ...)
function(tavlevagt_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE tavlevagt_core tavlevagt_testsupport GTest::gtest GTest::gmock GTest::gtest_main ${T_LIBS})
  target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  set(_filter)
  if(TAVLEVAGT_LINUX_ONLY_TESTS)
    list(JOIN TAVLEVAGT_LINUX_ONLY_TESTS ":" _filter)
    set(_filter TEST_FILTER "-${_filter}")
  endif()
  # Everything the Windows build runs is labelled "windows" alone, so
  # "-L windows" runs it all under Wine (the discovered tests take one label).
  set(_labels "${T_LABELS}")
  if(WIN32)
    set(_labels windows)
  endif()
  gtest_discover_tests(${T_NAME} DISCOVERY_TIMEOUT 60 ${_filter} PROPERTIES LABELS "${_labels}")
endfunction()
