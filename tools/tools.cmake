# The stand-ins the Wine-run tests and the demo drive the plug-in with.
#  - discord_standin: a recording discord-rpc.dll, written next to the plug-in
#    where the loader looks for it; its read-back functions are reached through
#    its import library.
#  - standin_player: the stand-in player, a static library.
#  - nowglow-demo: a scripted session of the player, printing what Discord
#    would show.
set(NOWGLOW_TOOLS_DEFINITIONS WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0600)

add_library(discord_standin SHARED
    tools/discord_standin/discord_standin.cpp
    tools/discord_standin/discord_speaker.cpp
    tools/discord_standin/presence_printer.cpp
    tools/common/call_gate.cpp
    tools/common/recorded_presence.cpp
    tools/discord_standin/discord-rpc.def)
set_target_properties(discord_standin PROPERTIES
    OUTPUT_NAME discord-rpc PREFIX "" SUFFIX ".dll"
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}
    ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/standin-import)
target_include_directories(discord_standin PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_definitions(discord_standin PRIVATE ${NOWGLOW_TOOLS_DEFINITIONS})
target_compile_options(discord_standin PRIVATE ${NOWGLOW_COMMON_WARNINGS})
target_link_options(discord_standin PRIVATE -static -static-libgcc -static-libstdc++)

file(GLOB NOWGLOW_STANDIN_PLAYER_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/standin_player/*.cpp)
add_library(standin_player STATIC ${NOWGLOW_STANDIN_PLAYER_SOURCES})
target_include_directories(standin_player PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_definitions(standin_player PUBLIC ${NOWGLOW_TOOLS_DEFINITIONS})
target_compile_options(standin_player PRIVATE ${NOWGLOW_COMMON_WARNINGS})
# Programs that drive the player read the recording stand-in back directly.
target_link_libraries(standin_player PUBLIC discord_standin user32 kernel32)

file(GLOB NOWGLOW_DEMO_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/demo/*.cpp)
add_executable(nowglow-demo ${NOWGLOW_DEMO_SOURCES})
target_link_libraries(nowglow-demo PRIVATE standin_player)
target_compile_options(nowglow-demo PRIVATE ${NOWGLOW_COMMON_WARNINGS})
target_link_options(nowglow-demo PRIVATE ${NOWGLOW_WIN32_TEST_LINK})
set_target_properties(nowglow-demo PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
add_dependencies(nowglow-demo nowglow discord_standin)

# A stand-in of the Discord client's local pipe, scripted per test, for the
# tests of nowglow-appid.exe --check.
add_executable(nowglow-discord-pipe tools/discord_pipe/discord_pipe.cpp)
target_compile_definitions(nowglow-discord-pipe PRIVATE ${NOWGLOW_TOOLS_DEFINITIONS})
target_compile_options(nowglow-discord-pipe PRIVATE ${NOWGLOW_COMMON_WARNINGS})
target_link_options(nowglow-discord-pipe PRIVATE ${NOWGLOW_WIN32_TEST_LINK} -municode)
set_target_properties(nowglow-discord-pipe PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

# Where every thread of a hung test program stands, named from the modules'
# own files; the harness and cmake/wine-run.sh call it.
add_executable(nowglow-backtrace tools/backtrace/backtrace_main.cpp)
target_compile_definitions(nowglow-backtrace PRIVATE ${NOWGLOW_TOOLS_DEFINITIONS})
target_compile_options(nowglow-backtrace PRIVATE ${NOWGLOW_COMMON_WARNINGS})
target_link_options(nowglow-backtrace PRIVATE ${NOWGLOW_WIN32_TEST_LINK} -municode)
target_link_libraries(nowglow-backtrace PRIVATE dbghelp)
set_target_properties(nowglow-backtrace PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
