# The cross build: the plug-in DLL, the stand-ins and the Wine-run tests.

# Reproducible output: no link timestamp, a fixed image base, no build paths.
set(NOWGLOW_REPRODUCIBLE_LINK -Wl,--no-insert-timestamp -Wl,--disable-auto-image-base)
set(NOWGLOW_REPRODUCIBLE_COMPILE -ffile-prefix-map=${CMAKE_SOURCE_DIR}/=)

# Import library for the presence library, generated from the list of the
# four functions the plug-in may import.
set(NOWGLOW_DISCORD_IMPLIB ${CMAKE_BINARY_DIR}/libdiscord-rpc-import.a)
add_custom_command(
    OUTPUT ${NOWGLOW_DISCORD_IMPLIB}
    COMMAND ${CMAKE_DLLTOOL} -d ${CMAKE_SOURCE_DIR}/presence/discord-rpc.def -l ${NOWGLOW_DISCORD_IMPLIB}
    DEPENDS ${CMAKE_SOURCE_DIR}/presence/discord-rpc.def
    COMMENT "Import library for discord-rpc.dll")
add_custom_target(discord_rpc_import DEPENDS ${NOWGLOW_DISCORD_IMPLIB})

# The plug-in's objects, linked twice: stripped into the DLL that ships, and
# unstripped into a twin under symbols/ that the Wine tests load, so that a
# backtrace of a hung test names the plug-in's functions.
add_library(nowglow_objects OBJECT ${NOWGLOW_PORTABLE_SOURCES} ${NOWGLOW_WIN32_SOURCES})
add_dependencies(nowglow_objects discord_rpc_import)
target_include_directories(nowglow_objects PRIVATE ${NOWGLOW_INCLUDE_DIR})
target_compile_definitions(nowglow_objects PRIVATE
    NOWGLOW_DISCORD_APP_ID="${NOWGLOW_DISCORD_APP_ID}"
    NOWGLOW_VERSION="${PROJECT_VERSION}"
    WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0600)
# Its optimisation, for size, comes from the build type (MinSizeRel).
target_compile_options(nowglow_objects PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${NOWGLOW_STRICT_WARNINGS}
    -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables ${NOWGLOW_REPRODUCIBLE_COMPILE}>)
foreach(dll nowglow nowglow_symbols)
    add_library(${dll} SHARED $<TARGET_OBJECTS:nowglow_objects> ${NOWGLOW_DLL_EXPORTS})
    set_target_properties(${dll} PROPERTIES OUTPUT_NAME XMP-Nowglow PREFIX "" SUFFIX ".dll")
    target_link_options(${dll} PRIVATE -static -static-libgcc -static-libstdc++ ${NOWGLOW_REPRODUCIBLE_LINK})
    target_link_libraries(${dll} PRIVATE ${NOWGLOW_DISCORD_IMPLIB} user32 kernel32)
endforeach()
set_target_properties(nowglow PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
target_link_options(nowglow PRIVATE -s)
set_target_properties(nowglow_symbols PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/symbols
    ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/symbols)
# windres finds the manifest next to the resource script.
set_property(SOURCE settings/resources.rc APPEND PROPERTY
    OBJECT_DEPENDS ${CMAKE_SOURCE_DIR}/settings/XMP-Nowglow.manifest)

# nowglow-appid.exe ships beside the DLL: built as the DLL is (stripped,
# reproducible, optimised for size), importing only KERNEL32 and msvcrt.
add_executable(nowglow-appid ${NOWGLOW_APPID_PORTABLE_SOURCES} ${NOWGLOW_APPID_WIN32_SOURCES})
set_target_properties(nowglow-appid PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
target_include_directories(nowglow-appid PRIVATE ${NOWGLOW_INCLUDE_DIR})
target_compile_definitions(nowglow-appid PRIVATE WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0600
    NOWGLOW_PLACEHOLDER_APP_ID="${NOWGLOW_PLACEHOLDER_APP_ID}")
# The 64-bit build stands in for the shipped one in the tests of a machine
# without 32-bit programs: it takes the 64-bit plug-in too (dll_image.cpp).
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    target_compile_definitions(nowglow-appid PRIVATE NOWGLOW_APPID_TAKES_AMD64)
endif()
target_compile_options(nowglow-appid PRIVATE ${NOWGLOW_STRICT_WARNINGS} -fno-exceptions -fno-rtti
    -fno-asynchronous-unwind-tables ${NOWGLOW_REPRODUCIBLE_COMPILE})
# wmain: the arguments arrive as UTF-16, whatever the code page.
target_link_options(nowglow-appid PRIVATE -municode -static -static-libgcc -static-libstdc++ -s
    ${NOWGLOW_REPRODUCIBLE_LINK})
set_property(SOURCE appid/appid.rc APPEND PROPERTY
    OBJECT_DEPENDS ${CMAKE_SOURCE_DIR}/appid/nowglow-appid.manifest)
target_link_libraries(nowglow-appid PRIVATE kernel32)

# GoogleTest for the Wine-run tests, built with the cross compiler.
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# Test programs link statically so that they need no MinGW runtime DLL.
set(NOWGLOW_WIN32_TEST_LINK -static -static-libgcc -static-libstdc++)

include(${CMAKE_SOURCE_DIR}/tools/tools.cmake)
include(${CMAKE_SOURCE_DIR}/cmake/release.cmake)
include(${CMAKE_SOURCE_DIR}/tests/win32/tests.cmake)
