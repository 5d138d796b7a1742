# Native tests of the portable code. Fakes of the player, of the presence
# library, of the Windows services and of the clock live in fakes/; every
# *_test.cpp beside this file joins the unit-test program, every
# tests/stress/*.cpp (the tests of threads) the ThreadSanitizer program, every
# tests/bench/*.cpp the benchmark program, and every tests/fuzz/*.cpp the
# fuzz target.
file(GLOB NOWGLOW_NATIVE_FAKE_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/native/fakes/*.cpp)
add_library(nowglow_fakes STATIC ${NOWGLOW_NATIVE_FAKE_SOURCES} ${CMAKE_SOURCE_DIR}/tools/common/call_gate.cpp
    ${CMAKE_SOURCE_DIR}/tools/common/recorded_presence.cpp)
target_link_libraries(nowglow_fakes PUBLIC nowglow_core Threads::Threads)
target_include_directories(nowglow_fakes PUBLIC ${CMAKE_SOURCE_DIR}/tests/native)
target_compile_options(nowglow_fakes PRIVATE ${NOWGLOW_COMMON_WARNINGS})

if(NOWGLOW_SANITIZE STREQUAL "thread")
    file(GLOB NOWGLOW_STRESS_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/stress/*.cpp)
    add_executable(nowglow_stress_tests ${NOWGLOW_STRESS_SOURCES})
    target_link_libraries(nowglow_stress_tests PRIVATE nowglow_fakes GTest::gtest_main)
    target_compile_options(nowglow_stress_tests PRIVATE ${NOWGLOW_COMMON_WARNINGS})
    gtest_discover_tests(nowglow_stress_tests DISCOVERY_TIMEOUT 60)
elseif(NOWGLOW_SANITIZE STREQUAL "none")
    find_package(benchmark REQUIRED)
    file(GLOB NOWGLOW_BENCH_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/bench/*.cpp)
    add_executable(nowglow_bench ${NOWGLOW_BENCH_SOURCES})
    target_link_libraries(nowglow_bench PRIVATE nowglow_fakes benchmark::benchmark)
    target_compile_options(nowglow_bench PRIVATE ${NOWGLOW_COMMON_WARNINGS})
elseif(NOWGLOW_SANITIZE STREQUAL "fuzz")
    file(GLOB NOWGLOW_FUZZ_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/fuzz/*.cpp)
    add_executable(nowglow_fuzz ${NOWGLOW_FUZZ_SOURCES})
    target_link_libraries(nowglow_fuzz PRIVATE nowglow_fakes)
    target_compile_options(nowglow_fuzz PRIVATE ${NOWGLOW_COMMON_WARNINGS})
    target_link_options(nowglow_fuzz PRIVATE -fsanitize=fuzzer)
    # The tests replay the committed seed corpus, then fuzz for 30 seconds
    # from it; new inputs go to the build tree, never to the seeds.
    set(NOWGLOW_FUZZ_SEEDS ${CMAKE_SOURCE_DIR}/tests/fuzz/corpus)
    set(NOWGLOW_FUZZ_WORK ${CMAKE_BINARY_DIR}/fuzz-smoke)
    file(MAKE_DIRECTORY ${NOWGLOW_FUZZ_WORK}/corpus ${NOWGLOW_FUZZ_WORK}/artifacts)
    add_test(NAME fuzz_seed_corpus COMMAND nowglow_fuzz -runs=0 ${NOWGLOW_FUZZ_SEEDS})
    add_test(NAME fuzz_30_seconds COMMAND nowglow_fuzz -max_total_time=30 -max_len=4096 -print_final_stats=1
             -artifact_prefix=${NOWGLOW_FUZZ_WORK}/artifacts/ ${NOWGLOW_FUZZ_WORK}/corpus ${NOWGLOW_FUZZ_SEEDS})

    # nowglow-appid.exe's readings, each fuzzed briefly the same way from
    # its own seeds: Discord's answer, and a DLL (the library's exports,
    # the plug-in's ID field; its seeds are real DLLs built by MinGW).
    function(nowglow_appid_fuzz_target name source seeds max_len)
        add_executable(${name} ${source})
        target_link_libraries(${name} PRIVATE nowglow_appid_image)
        target_compile_options(${name} PRIVATE ${NOWGLOW_COMMON_WARNINGS})
        target_link_options(${name} PRIVATE -fsanitize=fuzzer)
        set(work ${CMAKE_BINARY_DIR}/${name}-smoke)
        file(MAKE_DIRECTORY ${work}/corpus ${work}/artifacts)
        string(REPLACE "nowglow_" "" test ${name})
        add_test(NAME ${test}_seed_corpus COMMAND ${name} -runs=0 ${seeds})
        add_test(NAME ${test}_10_seconds COMMAND ${name} -max_total_time=10 -max_len=${max_len}
                 -artifact_prefix=${work}/artifacts/ ${work}/corpus ${seeds})
    endfunction()
    nowglow_appid_fuzz_target(nowglow_ipc_fuzz ${CMAKE_SOURCE_DIR}/tests/fuzz/ipc/ipc_fuzz.cpp
        ${CMAKE_SOURCE_DIR}/tests/fuzz/ipc-corpus 20000)
    nowglow_appid_fuzz_target(nowglow_dll_fuzz ${CMAKE_SOURCE_DIR}/tests/fuzz/dll/dll_fuzz.cpp
        ${CMAKE_SOURCE_DIR}/tests/fuzz/dll-corpus 32768)
else()
    file(GLOB NOWGLOW_UNIT_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/native/*_test.cpp)
    add_executable(nowglow_unit_tests ${NOWGLOW_UNIT_SOURCES})
    target_link_libraries(nowglow_unit_tests PRIVATE nowglow_fakes nowglow_appid_image GTest::gtest_main)
    target_compile_options(nowglow_unit_tests PRIVATE ${NOWGLOW_COMMON_WARNINGS})
    gtest_discover_tests(nowglow_unit_tests DISCOVERY_TIMEOUT 60)
    # The set-up script's pin of the security archive, against a stubbed apt.
    add_test(NAME install_deps_pin COMMAND sh ${CMAKE_SOURCE_DIR}/tests/setup/install_deps_test.sh)
    # The hosted Windows runner's workflow, which no machine here runs.
    add_test(NAME ci_workflow COMMAND sh ${CMAKE_SOURCE_DIR}/tests/release/ci_workflow_test.sh)
endif()
