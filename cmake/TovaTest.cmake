include(GoogleTest)

# tova_add_test(name SOURCES ... [LIBS ...] [LABELS ...] [HOSTS_MODULES])
#   One GoogleTest executable registered with CTest. HOSTS_MODULES marks a test that
#   dlopens handheld modules, which resolve the platform API against it.
function(tova_add_test name)
  cmake_parse_arguments(T "HOSTS_MODULES" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE tova_options GTest::gtest GTest::gmock GTest::gtest_main ${T_LIBS})
  if(T_HOSTS_MODULES)
    tova_host_modules(${name})
  endif()
  if(CMAKE_CROSSCOMPILING)
    # Under Wine each process start is costly: one test per program, run through
    # CMAKE_CROSSCOMPILING_EMULATOR with the Wine server the fixture keeps up.
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES TIMEOUT 600 FIXTURES_REQUIRED wine)
    if(T_LABELS)
      set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
    endif()
    return()
  endif()
  # Discovered tests take each property value as one list element: an empty label list
  # must be left out, and one environment entry is all that survives (the test presets set
  # TOVA_BIN_DIR).
  set(props TIMEOUT 600 ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
  if(T_LABELS)
    string(REPLACE ";" "\\;" labels "${T_LABELS}")
    list(APPEND props LABELS "${labels}")
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 120
    PROPERTIES ${props})
endfunction()

# tova_add_benchmark(name SOURCES ... [LIBS ...] [HOSTS_MODULES]): built only when Google
# Benchmark exists; never registered as a test.
function(tova_add_benchmark name)
  cmake_parse_arguments(B "HOSTS_MODULES" "" "SOURCES;LIBS" ${ARGN})
  if(NOT benchmark_FOUND)
    return()
  endif()
  add_executable(${name} ${B_SOURCES})
  target_link_libraries(${name} PRIVATE tova_options benchmark::benchmark benchmark::benchmark_main ${B_LIBS})
  if(B_HOSTS_MODULES)
    tova_host_modules(${name})
  endif()
endfunction()
