// Built into the tool's plugin_file.cpp for its test alone (forced in
// before the file's own first line): the write and the final move of the
// rewrite go through the test's seams instead of Windows' functions.
#pragma once

#include <windows.h>

extern "C" BOOL WINAPI SeamMoveFileExW(LPCWSTR from, LPCWSTR to, DWORD flags);
extern "C" BOOL WINAPI SeamWriteFile(HANDLE file, LPCVOID bytes, DWORD size, LPDWORD put,
                                     LPOVERLAPPED overlapped);

#define MoveFileExW SeamMoveFileExW
#define WriteFile SeamWriteFile
