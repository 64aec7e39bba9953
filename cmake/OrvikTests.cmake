# One GoogleTest executable per library. Test suites whose name ends in
# "Integration" need a display, a bus, a server or an outside program and are
# labelled `integration`; every other suite is labelled `unit`.
if(ORVIK_BUILD_TESTS)
  enable_testing()
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()

function(orvik_add_test_executable name)
  if(NOT ORVIK_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBRARIES" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES} GTest::gmock GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
    ORVIK_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    ORVIK_BINARY_DIR="${PROJECT_BINARY_DIR}")
  gtest_discover_tests(${name}
    TEST_FILTER "-*Integration.*"
    PROPERTIES LABELS unit
    DISCOVERY_MODE PRE_TEST)
  gtest_discover_tests(${name}
    TEST_FILTER "*Integration.*"
    PROPERTIES LABELS integration TIMEOUT 300
    DISCOVERY_MODE PRE_TEST)
endfunction()
