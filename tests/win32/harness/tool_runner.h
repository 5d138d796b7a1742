// Running nowglow-appid.exe and the other programs of the tests as a user
// would, on files in folders of any name and length: the conversions, the
// \\?\ paths, and whole-file reads and writes.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

struct ToolRun {
    DWORD exitCode;
    std::string output;  // standard output and error, as UTF-8
    DWORD elapsedMs;
};

std::wstring Wide(const std::string& text);
std::string Utf8(const std::wstring& text);

// The \\?\ form of a full path, which reaches folders of any length and
// takes backslashes only.
std::wstring Long(std::wstring path);

std::wstring Quoted(const std::wstring& path);

// The folder of the test programs, with its final backslash.
std::wstring ProgramFolder(void);

// nowglow-appid.exe beside the test programs.
std::wstring ToolPath(void);

// The shipped 32-bit DLL: beside the tests, or, where the tests are the
// 64-bit build, the 32-bit build's.
std::wstring ShippedDll(void);

// Runs a program with the arguments, feeding input to its standard input,
// in the folder given (the test's own when empty), and waits for it (up to
// a minute).
ToolRun RunProgram(const std::wstring& program, const std::wstring& arguments, const std::string& input = "",
                   const std::wstring& folder = L"");

ToolRun RunTool(const std::wstring& arguments);

std::vector<uint8_t> ReadBytes(const std::wstring& path);

// Writes the bytes as the whole file, made writable first; false when it
// cannot be written.
bool WriteBytes(const std::wstring& path, const std::vector<uint8_t>& bytes);

// The names in a folder, sorted, "." and ".." left out.
std::vector<std::wstring> FilesIn(const std::wstring& folder);

// Removes a folder and everything in it.
void RemoveTree(const std::wstring& folder);

// A new empty folder for one test under the system's temporary folder.
std::wstring FreshTestFolder(const wchar_t* name);

// Starts the stand-in of Discord's pipe (nowglow-discord-pipe.exe) on
// discord-ipc-<index>, recording to the file given (emptied first), and
// waits until its pipe exists; its process, or null when it never made it.
HANDLE StartDiscordPipe(int index, const std::wstring& record, const std::wstring& behaviour);

// The version of Wine when the tests run under it (its ntdll says so),
// else empty: on Windows itself.
std::string WineVersion(void);
