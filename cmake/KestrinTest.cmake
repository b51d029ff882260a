include(GoogleTest)

# kestrin_add_test(NAME src... [LIBS lib...])
# Natively every GoogleTest case becomes a CTest test; in the Windows tree the
# whole executable is one CTest test run through Wine (one process start each).
function(kestrin_add_test name)
  cmake_parse_arguments(T "" "" "LIBS" ${ARGN})
  add_executable(${name} ${T_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE kestrin_core ${T_LIBS} GTest::gtest GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE KESTRIN_TEST_DATA="${CMAKE_SOURCE_DIR}/tests/data")
  if(CMAKE_CROSSCOMPILING)
    add_test(NAME ${name} COMMAND ${name})
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60)
  endif()
endfunction()
