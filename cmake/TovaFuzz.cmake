# tova_add_fuzzer(name SOURCES ... [LIBS ...] [HOSTS_MODULES])
#   A libFuzzer target fuzz_<name>, its seeds in fuzz/corpus/<name>. Registered with CTest as
#   a bounded run (TOVA_FUZZ_SECONDS) that adds what it finds to a corpus in the build tree
#   and only reads the seeds, so a test run never writes into the source tree.
set(TOVA_FUZZ_SECONDS 10 CACHE STRING "How long each fuzz target runs as a test")

function(tova_add_fuzzer name)
  cmake_parse_arguments(F "HOSTS_MODULES" "" "SOURCES;LIBS" ${ARGN})
  set(target fuzz_${name})
  add_executable(${target} ${F_SOURCES})
  target_link_libraries(${target} PRIVATE tova_options ${F_LIBS})
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/fuzz)
  target_link_options(${target} PRIVATE -fsanitize=fuzzer)
  if(F_HOSTS_MODULES)
    tova_host_modules(${target})
  endif()
  add_dependencies(fuzzers ${target})

  set(work ${CMAKE_BINARY_DIR}/fuzz-runs/${name})
  file(MAKE_DIRECTORY ${work}/corpus)
  add_test(NAME ${target}
    COMMAND ${target} -max_total_time=${TOVA_FUZZ_SECONDS} -print_final_stats=1
            -artifact_prefix=${work}/ ${work}/corpus ${PROJECT_SOURCE_DIR}/fuzz/corpus/${name}
    WORKING_DIRECTORY ${work})
  set_tests_properties(${target} PROPERTIES LABELS fuzz TIMEOUT 300)
endfunction()
