# Native tests of the portable code. Fakes of the player, of the presence
# library, of the Windows services and of the clock live in fakes/; every
# *_test.cpp beside this file joins the unit-test program, every
# tests/stress/*_stress.cpp the ThreadSanitizer program, and every
# tests/bench/*.cpp the benchmark program.
file(GLOB NOWGLOW_NATIVE_FAKE_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/native/fakes/*.cpp)
add_library(nowglow_fakes STATIC ${NOWGLOW_NATIVE_FAKE_SOURCES})
target_link_libraries(nowglow_fakes PUBLIC nowglow_core Threads::Threads)
target_include_directories(nowglow_fakes PUBLIC ${CMAKE_SOURCE_DIR}/tests/native)
target_compile_options(nowglow_fakes PRIVATE ${NOWGLOW_COMMON_WARNINGS})

if(NOWGLOW_SANITIZE STREQUAL "thread")
    file(GLOB NOWGLOW_STRESS_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/stress/*_stress.cpp)
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
else()
    file(GLOB NOWGLOW_UNIT_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/native/*_test.cpp)
    add_executable(nowglow_unit_tests ${NOWGLOW_UNIT_SOURCES})
    target_link_libraries(nowglow_unit_tests PRIVATE nowglow_fakes GTest::gtest_main)
    target_compile_options(nowglow_unit_tests PRIVATE ${NOWGLOW_COMMON_WARNINGS})
    gtest_discover_tests(nowglow_unit_tests DISCOVERY_TIMEOUT 60)
endif()
