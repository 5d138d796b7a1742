# The native build of the portable code. NOWGLOW_SANITIZE picks the
# instrumentation: "address,undefined" for the unit tests, "thread" for the
# stress test, "none" for the benchmarks, "fuzz" for the fuzz target (clang
# only: libFuzzer's coverage on all the code, ASan and UBSan).
set(NOWGLOW_SANITIZE "address,undefined" CACHE STRING "address,undefined | thread | none | fuzz")

if(NOWGLOW_SANITIZE STREQUAL "none")
    set(NOWGLOW_SANITIZER_FLAGS "")
elseif(NOWGLOW_SANITIZE STREQUAL "fuzz")
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        message(FATAL_ERROR "NOWGLOW_SANITIZE=fuzz needs clang (libFuzzer): -DCMAKE_CXX_COMPILER=clang++")
    endif()
    # Only the fuzz target links libFuzzer's main (tests/native/tests.cmake).
    set(NOWGLOW_SANITIZER_FLAGS -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
        -fno-sanitize-recover=all)
else()
    set(NOWGLOW_SANITIZER_FLAGS -fsanitize=${NOWGLOW_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
endif()

# The portable code as a library; the fakes of the player, of the presence
# library, of the Windows services and of the clock come with each test.
add_library(nowglow_core STATIC ${NOWGLOW_PORTABLE_SOURCES} presence/publication_lock_std.cpp)
target_include_directories(nowglow_core PUBLIC ${NOWGLOW_INCLUDE_DIR})
target_compile_definitions(nowglow_core PRIVATE NOWGLOW_DISCORD_APP_ID="${NOWGLOW_DISCORD_APP_ID}")
target_compile_options(nowglow_core PRIVATE ${NOWGLOW_STRICT_WARNINGS} -fno-exceptions -fno-rtti)
target_compile_options(nowglow_core PUBLIC ${NOWGLOW_SANITIZER_FLAGS})
target_link_options(nowglow_core PUBLIC ${NOWGLOW_SANITIZER_FLAGS})

# The portable part of nowglow-appid.exe, for its unit tests.
add_library(nowglow_appid_image STATIC ${NOWGLOW_APPID_PORTABLE_SOURCES})
target_include_directories(nowglow_appid_image PUBLIC ${NOWGLOW_INCLUDE_DIR})
target_compile_options(nowglow_appid_image PRIVATE ${NOWGLOW_STRICT_WARNINGS} -fno-exceptions -fno-rtti)
target_compile_options(nowglow_appid_image PUBLIC ${NOWGLOW_SANITIZER_FLAGS})
target_link_options(nowglow_appid_image PUBLIC ${NOWGLOW_SANITIZER_FLAGS})

find_package(Threads REQUIRED)
find_package(GTest REQUIRED)
include(GoogleTest)

include(${CMAKE_SOURCE_DIR}/tests/native/tests.cmake)
