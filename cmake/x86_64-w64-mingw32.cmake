# Cross build for 64-bit Windows of the same sources, for machines whose
# kernel runs no 32-bit program: the Windows tests and the demo run on it
# under wine64. Nothing of it ships.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(NOWGLOW_MINGW_TARGET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
