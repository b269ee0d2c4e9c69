# Every folder below src/ that holds product code is compiled into the one
# product library; adapters under src/platform/ are their own libraries so the
# product never links a platform.
function(tavlevagt_sources out dir)
  file(GLOB_RECURSE _srcs CONFIGURE_DEPENDS ${dir}/*.cpp)
  set(${out} ${_srcs} PARENT_SCOPE)
endfunction()

# tavlevagt_test(NAME name SOURCES ... LIBS ... LABELS ...)
function(tavlevagt_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE tavlevagt_core tavlevagt_testsupport GTest::gtest GTest::gmock GTest::gtest_main ${T_LIBS})
  target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  gtest_discover_tests(${T_NAME} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS "${T_LABELS}")
endfunction()
