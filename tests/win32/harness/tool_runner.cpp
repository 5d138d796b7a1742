// Running programs and handling files for the tests of nowglow-appid.exe.
#include "harness/tool_runner.h"

#include <algorithm>
#include <cstdio>

#include "harness/harness.h"

// Far longer than any run of the tools takes; the check's longest is 25 s.
static const DWORD ProgramTimeoutMs = 60000;
// The exit status of a program ended at that deadline.
static const UINT ProgramTimedOut = 124;

std::wstring Wide(const std::string& text) {
    std::wstring wide(text.size() + 1, L'\0');
    int length =
        MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide.data(), static_cast<int>(wide.size()));
    wide.resize(length > 0 ? static_cast<size_t>(length - 1) : 0);
    return wide;
}

std::string Utf8(const std::wstring& text) {
    std::string bytes(text.size() * 4 + 1, '\0');
    int length = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, bytes.data(),
                                     static_cast<int>(bytes.size()), nullptr, nullptr);
    bytes.resize(length > 0 ? static_cast<size_t>(length - 1) : 0);
    return bytes;
}

std::wstring Long(std::wstring path) {
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return L"\\\\?\\" + path;
}

std::wstring Quoted(const std::wstring& path) { return L"\"" + path + L"\""; }

std::wstring ProgramFolder(void) {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring program(path, length);
    return program.substr(0, program.find_last_of(L"\\/") + 1);
}

std::wstring ToolPath(void) { return ProgramFolder() + L"nowglow-appid.exe"; }

std::wstring ShippedDll(void) {
#ifdef NOWGLOW_I386_BUILD
    return Wide(NOWGLOW_I386_BUILD "/XMP-Nowglow.dll");
#else
    return ProgramFolder() + L"XMP-Nowglow.dll";
#endif
}

ToolRun RunProgram(const std::wstring& program, const std::wstring& arguments, const std::string& input,
                   const std::wstring& folder) {
    ToolRun run = {~0u, "", 0};
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readOut = nullptr;
    HANDLE writeOut = nullptr;
    HANDLE readIn = nullptr;
    HANDLE writeIn = nullptr;
    if (CreatePipe(&readOut, &writeOut, &inherit, 0) == FALSE) return run;
    if (CreatePipe(&readIn, &writeIn, &inherit, 0) == FALSE) return run;
    SetHandleInformation(readOut, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(writeIn, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeOut;
    startup.hStdError = writeOut;
    startup.hStdInput = readIn;
    PROCESS_INFORMATION process = {};
    std::wstring command = Quoted(program) + L" " + arguments;
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(L'\0');
    const DWORD start = GetTickCount();
    BOOL started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                                  folder.empty() ? nullptr : folder.c_str(), &startup, &process);
    CloseHandle(writeOut);
    CloseHandle(readIn);
    DWORD put = 0;
    if (!input.empty()) WriteFile(writeIn, input.data(), static_cast<DWORD>(input.size()), &put, nullptr);
    CloseHandle(writeIn);
    if (started != FALSE) {
        // The output as it comes, until the program ends and its pipe is
        // empty, or the deadline passes: then the program is named, shown
        // where it stands and ended.
        bool ended = false;
        for (;;) {
            DWORD available = 0;
            const bool readable = PeekNamedPipe(readOut, nullptr, 0, nullptr, &available, nullptr) != FALSE;
            if (readable && available > 0) {
                char chunk[4096];
                DWORD got = 0;
                if (ReadFile(readOut, chunk, sizeof chunk, &got, nullptr) == FALSE || got == 0) break;
                run.output.append(chunk, got);
                continue;
            }
            if (!readable || ended) break;
            ended = WaitForSingleObject(process.hProcess, 20) == WAIT_OBJECT_0;
            if (!ended && GetTickCount() - start >= ProgramTimeoutMs) {
                std::printf("RunProgram: %s %s did not end within %lu s; where it stands:\n",
                            Utf8(program).c_str(), Utf8(arguments).c_str(),
                            static_cast<unsigned long>(ProgramTimeoutMs / 1000));
                PrintBacktraces(process.dwProcessId);
                TerminateProcess(process.hProcess, ProgramTimedOut);
                WaitForSingleObject(process.hProcess, ProgramTimeoutMs);
                ended = true;
            }
        }
        GetExitCodeProcess(process.hProcess, &run.exitCode);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    run.elapsedMs = GetTickCount() - start;
    CloseHandle(readOut);
    return run;
}

ToolRun RunTool(const std::wstring& arguments) { return RunProgram(ToolPath(), arguments); }

std::vector<uint8_t> ReadBytes(const std::wstring& path) {
    std::vector<uint8_t> bytes;
    HANDLE file = CreateFileW(Long(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return bytes;
    static char chunk[65536];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) != FALSE && got != 0)
        bytes.insert(bytes.end(), chunk, chunk + got);
    CloseHandle(file);
    return bytes;
}

bool WriteBytes(const std::wstring& path, const std::vector<uint8_t>& bytes) {
    SetFileAttributesW(Long(path).c_str(), FILE_ATTRIBUTE_NORMAL);
    HANDLE file = CreateFileW(Long(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD put = 0;
    const bool written =
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr) != FALSE &&
        put == bytes.size();
    CloseHandle(file);
    return written;
}

std::vector<std::wstring> FilesIn(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(Long(folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") names.push_back(name);
    } while (FindNextFileW(search, &found) != FALSE);
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

void RemoveTree(const std::wstring& folder) {
    for (const std::wstring& name : FilesIn(folder)) {
        std::wstring path = folder;
        path += L"\\";
        path += name;
        DWORD attributes = GetFileAttributesW(Long(path).c_str());
        SetFileAttributesW(Long(path).c_str(), FILE_ATTRIBUTE_NORMAL);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            RemoveTree(path);
        } else {
            DeleteFileW(Long(path).c_str());
        }
    }
    RemoveDirectoryW(Long(folder).c_str());
}

std::wstring FreshTestFolder(const wchar_t* name) {
    wchar_t temporary[MAX_PATH];
    if (GetTempPathW(MAX_PATH, temporary) == 0) return L"";
    std::wstring folder = temporary;
    // A name of its own for every call: a folder of the test before may
    // still be held for a moment by a tool that is ending (Wine lets a
    // process's mapped files go after the process has signalled its end),
    // and could not be removed and made again under the same name.
    static volatile LONG made = 0;
    folder += name;
    folder +=
        L"-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(InterlockedIncrement(&made));
    RemoveTree(folder);
    if (CreateDirectoryW(Long(folder).c_str(), nullptr) == FALSE) return L"";
    return folder;
}

HANDLE StartDiscordPipe(int index, const std::wstring& record, const std::wstring& behaviour) {
    // Longer than the stand-in takes to start on the busiest machine.
    static const DWORD PipeStartMs = 20000;
    DeleteFileW(record.c_str());
    const std::wstring eventName = L"nowglow-discord-pipe-" + std::to_wstring(index);
    HANDLE listening = CreateEventW(nullptr, TRUE, FALSE, eventName.c_str());
    if (listening == nullptr) return nullptr;
    std::wstring command = Quoted(ProgramFolder() + L"nowglow-discord-pipe.exe") + L" " +
                           std::to_wstring(index) + L" " + Quoted(record) + L" " + behaviour;
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(L'\0');
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                       &startup, &process) == FALSE) {
        CloseHandle(listening);
        return nullptr;
    }
    CloseHandle(process.hThread);
    const bool made = WaitForSingleObject(listening, PipeStartMs) == WAIT_OBJECT_0;
    CloseHandle(listening);
    if (made) return process.hProcess;
    std::printf("waited %lu ms for the pipe stand-in to make discord-ipc-%d\n",
                static_cast<unsigned long>(PipeStartMs), index);
    TerminateProcess(process.hProcess, 9);
    CloseHandle(process.hProcess);
    return nullptr;
}

std::string WineVersion(void) {
    // wine_get_version is a plain C function, of the caller-cleans-up kind.
    using VersionFunction = const char* (*)(void);
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (ntdll == nullptr) return "";
    const VersionFunction version =
        reinterpret_cast<VersionFunction>(reinterpret_cast<void*>(GetProcAddress(ntdll, "wine_get_version")));
    return version == nullptr ? "" : version();
}
