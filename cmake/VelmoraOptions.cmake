# Compiler settings shared by every target of the project.
add_library(velmora_options INTERFACE)
target_compile_options(velmora_options INTERFACE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor)
target_include_directories(velmora_options INTERFACE ${PROJECT_SOURCE_DIR})
if(VELMORA_WERROR)
  target_compile_options(velmora_options INTERFACE -Werror)
endif()
if(VELMORA_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
# In a fuzz build every library is compiled with the fuzzer's coverage instrumentation, so that it
# steers by what happens inside the layers, and with AddressSanitizer and UndefinedBehaviorSanitizer,
# so that a fault is a finding; only the fuzz targets link libFuzzer itself (velmora_fuzz).
if(VELMORA_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "VELMORA_FUZZ needs clang and its libFuzzer: configure with "
      "-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ (scripts/fuzz.sh does)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
    -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# Libraries link the core of db/ only; a program finds the engines by DriverID when it links the
# registry (db/registry), as every test and benchmark program does.
function(velmora_link_engines name)
  if(TARGET velmora_db_registry)
    target_link_libraries(${name} PRIVATE velmora_db_registry)
  endif()
endfunction()

# velmora_test(NAME SOURCES... LIBS ...): one GoogleTest executable registered with CTest.
# NAME is velmora_<folder or library>[_<part>]_test (velmora_db_sqlite_test, velmora_files_test).
# RESOURCE_LOCK name: no two cases holding the same lock run at once (CTest's RESOURCE_LOCK).
function(velmora_test name)
  cmake_parse_arguments(T "" "RESOURCE_LOCK" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main velmora_options)
  velmora_link_engines(${name})
  set(lock)
  if(T_RESOURCE_LOCK)
    set(lock RESOURCE_LOCK ${T_RESOURCE_LOCK})
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST PROPERTIES TIMEOUT 300 ${lock})
endfunction()

# velmora_bench(NAME SOURCES... LIBS ...): one Google Benchmark executable, never run by CTest.
function(velmora_bench name)
  cmake_parse_arguments(B "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${B_SOURCES})
  target_link_libraries(${name} PRIVATE ${B_LIBS} benchmark::benchmark velmora_options)
  velmora_link_engines(${name})
endfunction()

# velmora_pg_test(NAME SOURCES... LIBS ...): a velmora_test whose cases need a PostgreSQL server.
# CTest starts one throwaway cluster (scripts/pg-cluster.sh) before the first such case and stops
# it after the last, also when cases fail or time out; the cases find it through the
# VELMORA_PG_CLUSTER folder (tests/support/pg_server.h) and each works in a database of its own,
# so they run in parallel. The folder is below /tmp: the postgres system user must enter it.
string(MD5 VELMORA_PG_CLUSTER_TAG "${CMAKE_BINARY_DIR}")
string(SUBSTRING "${VELMORA_PG_CLUSTER_TAG}" 0 12 VELMORA_PG_CLUSTER_TAG)
set(VELMORA_PG_CLUSTER_DIR "/tmp/velmora-pg-${VELMORA_PG_CLUSTER_TAG}")
function(velmora_pg_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} velmora_test_pg GTest::gtest GTest::gtest_main
    velmora_options)
  velmora_link_engines(${name})
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST PROPERTIES TIMEOUT 300
    FIXTURES_REQUIRED velmora_pg ENVIRONMENT "VELMORA_PG_CLUSTER=${VELMORA_PG_CLUSTER_DIR}")
endfunction()

# velmora_fuzz(NAME LIBS ...): the libFuzzer target velmora-fuzz-NAME of a fuzz build, made of the
# entry point in NAME_fuzz.cpp beside the calling CMakeLists.txt and the layers' libraries it
# tests. Its seeds are in seeds/NAME/ there (docs/testing.md).
function(velmora_fuzz name)
  cmake_parse_arguments(F "" "" "LIBS" ${ARGN})
  add_executable(velmora-fuzz-${name} ${name}_fuzz.cpp)
  target_link_libraries(velmora-fuzz-${name} PRIVATE ${F_LIBS} velmora_options)
  target_link_options(velmora-fuzz-${name} PRIVATE -fsanitize=fuzzer)
endfunction()

# velmora_fuzz_replay(NAME LIBS ...), in tests/<layer>/: the entry point of
# fuzz/<layer>/NAME_fuzz.cpp built with this compiler and without libFuzzer (fuzz/replay_main.cpp),
# registered with CTest on every file of fuzz/<layer>/seeds/NAME/, so that each test run replays the
# seeds and past findings.
function(velmora_fuzz_replay name)
  cmake_parse_arguments(R "" "" "LIBS" ${ARGN})
  get_filename_component(layer ${CMAKE_CURRENT_SOURCE_DIR} NAME)
  set(folder ${PROJECT_SOURCE_DIR}/fuzz/${layer})
  add_executable(velmora-replay-${name}-fuzz ${folder}/${name}_fuzz.cpp
    ${PROJECT_SOURCE_DIR}/fuzz/replay_main.cpp)
  target_link_libraries(velmora-replay-${name}-fuzz PRIVATE ${R_LIBS} velmora_options)
  add_test(NAME velmora-replay-${name}-fuzz
    COMMAND velmora-replay-${name}-fuzz ${folder}/seeds/${name})
endfunction()
