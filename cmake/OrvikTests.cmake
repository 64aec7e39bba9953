# One GoogleTest executable per library. Test suites whose name ends in
# "Integration" need a display, a bus, a server or an outside program and are
# labelled `integration`; every other suite is labelled `unit`. scripts/test
# runs the unit tests at full parallelism, then integration and e2e tests at
# the parallelism the machine's cores allow.
#
# Integration tests that share something a test cannot make private (a port
# range, a daemon) hold a ctest RESOURCE_LOCK, so they never run at the same
# time whatever the parallelism:
#   turn_relay_ports  coturn relays hand out UDP ports from one fixed range
#                     (calls/media/test_support/loopback_call.h)
#   installer_signals the installer program and the hand-off send and read its signals
#                     on the one session bus of the run
set(ORVIK_LOCKED_INTEGRATION_TESTS
  "*Integration.*Relay*=turn_relay_ports"
  "InstallerProgramIntegration.*=installer_signals"
  "InstallerSignalsDbusIntegration.*=installer_signals"
)

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
  # The locked tests are discovered on their own, with their lock; the rest of
  # the integration tests without any.
  set(unlocked "")
  foreach(entry IN LISTS ORVIK_LOCKED_INTEGRATION_TESTS)
    string(REPLACE "=" ";" parts "${entry}")
    list(GET parts 0 pattern)
    list(GET parts 1 lock)
    gtest_discover_tests(${name}
      TEST_FILTER "${pattern}"
      PROPERTIES LABELS integration TIMEOUT 300 RESOURCE_LOCK ${lock}
      DISCOVERY_MODE PRE_TEST)
    list(APPEND unlocked "${pattern}")
  endforeach()
  list(JOIN unlocked ":" unlockedFilter)
  gtest_discover_tests(${name}
    TEST_FILTER "*Integration.*-${unlockedFilter}"
    PROPERTIES LABELS integration TIMEOUT 300
    DISCOVERY_MODE PRE_TEST)
endfunction()
