# rvc_add_gtest(<name> LABEL <label> SOURCES <files...> [LIBS <targets...>]
#               [FILTER_LOG] [LEAKS <suppressions file>])
# Each test case runs in a process of its own (gtest_discover_tests), so the
# process-wide logger starts fresh for every case. FILTER_LOG marks tests
# that run the filter's job, which logs to a fixed path: they never run at
# once. LABEL is unit, process, integration or fuzz-replay (ctest -L).
# LEAKS names LeakSanitizer suppressions for the suite's own process.
function(rvc_add_gtest name)
  cmake_parse_arguments(T "FILTER_LOG" "LABEL;LEAKS" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE rvc_test_support ${T_LIBS} GTest::gtest_main)
  # Case tables leave trailing members at their defaults.
  target_compile_options(${name} PRIVATE -Wno-missing-field-initializers)
  # Some suites read PPDs through libcups' deprecated PPD API.
  rvc_uses_ppd_api(${T_SOURCES})
  set(props ENVIRONMENT LC_ALL=C LABELS ${T_LABEL})
  if(T_FILTER_LOG)
    list(APPEND props RESOURCE_LOCK rvc_filter_log)
  endif()
  if(T_LEAKS)
    list(APPEND props ENVIRONMENT_MODIFICATION "LSAN_OPTIONS=set:suppressions=${T_LEAKS}")
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ${props})
endfunction()
