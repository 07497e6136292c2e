# tessary_add_test(NAME name SOURCES ... [LIBS ...] [ENV VAR=value ...])
# One test program per unit; every case runs as its own CTest test, headless,
# against the build's own class store and a scratch user store, with ENV added.
function(tessary_add_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS;ENV" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE GTest::gtest GTest::gtest_main ${T_LIBS})
  target_include_directories(${T_NAME} PRIVATE ${CMAKE_SOURCE_DIR}/tests/support)
  set(test_env
    "QT_QPA_PLATFORM=offscreen"
    "TESSARY_CLASSES=${TESSARY_CLASSES_STORE}"
    "TESSARY_REGISTRY=${CMAKE_BINARY_DIR}/test-user.reg"
    "TESSARY_SOURCE_DIR=${CMAKE_SOURCE_DIR}"
    "TESSARY_BINARY_DIR=${CMAKE_BINARY_DIR}"
    ${T_ENV})
  # The environment goes in through a launcher: gtest_discover_tests passes only the
  # first entry of a list-valued ENVIRONMENT property on to the tests, and the
  # launcher also serves the listing of the tests.
  set_property(TARGET ${T_NAME} PROPERTY CROSSCOMPILING_EMULATOR ${CMAKE_COMMAND} -E env ${test_env})
  # The sanitizers make a test several times slower; the damaged-file cases that
  # fork a reader per file take minutes under them.
  set(timeout 300)
  if(TESSARY_SANITIZE)
    set(timeout 900)
  endif()
  gtest_discover_tests(${T_NAME}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT ${timeout})
endfunction()

# tessary_register_server(target)
# Registers an in-process server into the build's class store after every build of it.
function(tessary_register_server target)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E env TESSARY_CLASSES=${TESSARY_CLASSES_STORE}
            $<TARGET_FILE:regsvr> $<TARGET_FILE:${target}>
    COMMENT "Registering ${target} in the build's class store"
    VERBATIM)
  add_dependencies(${target} regsvr)
endfunction()
