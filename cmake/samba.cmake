# Integration tests against the throw-away Samba AD domain controller that
# tests/integration/samba/samba-dc.sh provisions and runs on 127.0.0.1.
#
#   tavlevagt_samba_test(NAME name SOURCES ... [LIBS ...] [LABELS ...] [VARIANT plain|mail]
#                        [ARGS ...])
#
# builds one test program and runs it as one test with label "samba", after
# the domain controller fixture has started it and with the domain switched
# to the schema variant asked for (plain: Samba's default schema; mail: with
# the mail server's attributes), with ARGS on its command line. The program learns the domain from the env
# file named by TAVLEVAGT_SAMBA_ENV (tests/integration/samba/samba_env.h).
# The tests share one domain controller, so they run one at a time.

set(TAVLEVAGT_SAMBA_BASE "/tmp/tv-samba" CACHE STRING
    "Folder of the test domain controller (short: Samba's unix sockets live below it)")
set(TAVLEVAGT_SAMBA_HARNESS ${PROJECT_SOURCE_DIR}/tests/integration/samba/samba-dc.sh)

function(tavlevagt_samba_test)
  cmake_parse_arguments(T "" "NAME;VARIANT" "SOURCES;LIBS;LABELS;ARGS" ${ARGN})
  if(NOT T_VARIANT)
    set(T_VARIANT plain)
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE tavlevagt_core tavlevagt_testsupport tavlevagt_samba_env
                        GTest::gtest GTest::gmock GTest::gtest_main ${T_LIBS})
  target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  add_test(NAME ${T_NAME}
           COMMAND ${TAVLEVAGT_SAMBA_HARNESS} run ${T_VARIANT} -- $<TARGET_FILE:${T_NAME}> ${T_ARGS})
  set_tests_properties(${T_NAME} PROPERTIES
    LABELS "samba;${T_LABELS}"
    FIXTURES_REQUIRED samba_dc
    RESOURCE_LOCK samba_dc
    TIMEOUT 1800
    ENVIRONMENT "TAVLEVAGT_SAMBA_BASE=${TAVLEVAGT_SAMBA_BASE};TAVLEVAGT_SAMBA_ENV=${TAVLEVAGT_SAMBA_BASE}/dc.env")
endfunction()
