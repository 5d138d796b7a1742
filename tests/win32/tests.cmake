# Tests that run under Wine. The harness (harness/*.cpp) drives the real DLL
# through the stand-in player and reads the recording stand-in of the
# presence library back; each *_test.cpp beside this file is one program and
# one CTest test, so that CTest can run them side by side. Every program is
# written next to the DLL and the stand-in discord-rpc.dll, where the
# Windows loader finds both.
file(GLOB NOWGLOW_HARNESS_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/win32/harness/*.cpp)
add_library(nowglow_harness STATIC ${NOWGLOW_HARNESS_SOURCES})
target_include_directories(nowglow_harness PUBLIC ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests/win32)
target_link_libraries(nowglow_harness PUBLIC standin_player gtest)
target_compile_options(nowglow_harness PRIVATE ${NOWGLOW_COMMON_WARNINGS})

file(GLOB NOWGLOW_WIN32_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/win32/*_test.cpp)
foreach(source ${NOWGLOW_WIN32_TEST_SOURCES})
    get_filename_component(name ${source} NAME_WE)
    add_executable(${name} ${source} ${CMAKE_SOURCE_DIR}/tests/win32/summary/summary_file.cpp)
    target_link_libraries(${name} PRIVATE nowglow_harness gtest_main)
    target_compile_options(${name} PRIVATE ${NOWGLOW_COMMON_WARNINGS})
    target_link_options(${name} PRIVATE ${NOWGLOW_WIN32_TEST_LINK})
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
    add_dependencies(${name} nowglow nowglow_symbols discord_standin nowglow-appid nowglow-discord-pipe
        nowglow-backtrace)
    add_test(NAME ${name} COMMAND ${name} WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
    # cmake/wine-run.sh stops a program that runs past NOWGLOW_WINE_TIMEOUT,
    # and shows where its threads stood, before CTest's timeout kills it
    # outright; a hang inside the harness ends it sooner still (PlayerHangMs).
    # A program that ends with status 0 before its end (Wine's server gone)
    # fails: it must have written its summary.
    set_tests_properties(${name} PROPERTIES TIMEOUT 600
        ENVIRONMENT "NOWGLOW_WINE_TIMEOUT=570;NOWGLOW_WINE_EXPECT_SUMMARY=1")
endforeach()

# The card Discord keeps is checked against the stand-in of Discord's pipe,
# in real time: it runs longest, so it starts first and runs beside the
# others; the pipe's names are the machine's, so it never runs beside the
# other test that serves them.
set_tests_properties(discord_pacing_test PROPERTIES COST 10000 RESOURCE_LOCK discord_pipe)
set_tests_properties(appid_check_test PROPERTIES RESOURCE_LOCK discord_pipe)

# The Wine runner's own promises (statuses, the summary, the timeout and
# SIGTERM with their backtraces, no file left), with programs of this build.
add_test(NAME wine_run COMMAND sh ${CMAKE_SOURCE_DIR}/tests/setup/wine_run_test.sh ${CMAKE_BINARY_DIR})
set_tests_properties(wine_run PROPERTIES TIMEOUT 600)

# The checks of nowglow-appid.exe ask Windows for a DLL's checksum. They
# work on the shipped 32-bit DLL: where the tests are the 64-bit build, the
# 32-bit build's, through Wine's drive Z: (the Unix root; see
# harness/tool_runner.h).
target_link_libraries(appid_tool_test PRIVATE imagehlp)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    target_compile_definitions(nowglow_harness PUBLIC NOWGLOW_I386_BUILD="Z:${CMAKE_SOURCE_DIR}/build/win32")
endif()

# The tool's rewrite of the DLL, built into its test with Windows' last two
# steps of it (the write and the final move) routed through the test's own
# seams, so that they can be made to fail as Wine's files never do.
add_library(appid_file_seams OBJECT ${CMAKE_SOURCE_DIR}/appid/plugin_file.cpp)
target_include_directories(appid_file_seams PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_options(appid_file_seams PRIVATE ${NOWGLOW_COMMON_WARNINGS} -include
    ${CMAKE_SOURCE_DIR}/tests/win32/appid_file_seams.h)
target_sources(appid_file_test PRIVATE $<TARGET_OBJECTS:appid_file_seams> ${CMAKE_SOURCE_DIR}/appid/console.cpp
    ${CMAKE_SOURCE_DIR}/appid/dll_image.cpp ${CMAKE_SOURCE_DIR}/appid/file_trouble.cpp)

# The module entry is tested inside a program of its own, not through the DLL.
target_sources(dll_main_test PRIVATE ${CMAKE_SOURCE_DIR}/plugin/dll_main.cpp ${CMAKE_SOURCE_DIR}/plugin/plugin_state.cpp)

# The DLL built twice from this tree, in two fresh build directories, must
# come out the same byte for byte. It builds alone, so that its compiles do
# not slow the timing tests beside it.
add_test(NAME reproducible_build
    COMMAND sh ${CMAKE_SOURCE_DIR}/cmake/check-reproducible.sh ${CMAKE_SOURCE_DIR})
set_tests_properties(reproducible_build PROPERTIES TIMEOUT 1200 RUN_SERIAL TRUE)
