# rvc_add_gtest(<name> SOURCES <files...> [LIBS <targets...>] [PPD_API]
#               [FILTER_PROCESS])
# Each test case runs in a process of its own (gtest_discover_tests), so the
# process-wide logger starts fresh for every case. FILTER_PROCESS marks tests
# that run the filter, which logs to a fixed path: they never run at once.
function(rvc_add_gtest name)
  cmake_parse_arguments(T "PPD_API;FILTER_PROCESS" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main
                        GTest::gmock)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  if(T_PPD_API)
    rvc_uses_ppd_api(${T_SOURCES})
  endif()
  # The trees' paths reach the tests as compile definitions: discovered tests
  # take only a single-valued environment.
  target_compile_definitions(${name} PRIVATE RVC_TEST_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
                             RVC_TEST_BINARY_DIR="${CMAKE_BINARY_DIR}")
  set(props ENVIRONMENT LC_ALL=C)
  if(T_FILTER_PROCESS)
    list(APPEND props RESOURCE_LOCK rvc_filter_log)
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ${props})
endfunction()
