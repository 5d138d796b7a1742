# What the two MinGW-w64 cross toolchains share; each sets NOWGLOW_MINGW_TARGET
# (the compilers' prefix) and CMAKE_SYSTEM_PROCESSOR first. The posix thread
# model compilers build GoogleTest for the Wine-run tests; the DLL itself is
# linked statically and uses no thread library.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${NOWGLOW_MINGW_TARGET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${NOWGLOW_MINGW_TARGET}-g++-posix)
set(CMAKE_RC_COMPILER ${NOWGLOW_MINGW_TARGET}-windres)
set(CMAKE_DLLTOOL ${NOWGLOW_MINGW_TARGET}-dlltool)
set(CMAKE_FIND_ROOT_PATH /usr/${NOWGLOW_MINGW_TARGET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Tests and tools of this build run under Wine, in the build's own prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
