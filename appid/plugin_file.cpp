// Reading and replacing the plug-in's DLL for nowglow-appid.exe.
#include <windows.h>

#include "appid/plugin_file.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "appid/console.h"
#include "appid/file_trouble.h"

// No plug-in DLL comes anywhere near this size; a larger file is not one.
static const DWORD LargestDll = 64u * 1024u * 1024u;

// A message line: a name of up to ShownLength characters and its text.
static const size_t ShownLength = 160;
static wchar_t messageLine[1024];
static wchar_t shownName[ShownLength + 4];

// What a user can do about each way Windows refuses the file, from a
// command prompt and after a double-click.
static const wchar_t ProtectedFolderAdvice[] =
    L"Windows does not let this account change files in that folder: run the tool from a command prompt "
    L"opened as administrator, or move XMPlay to a folder of your own";
static const wchar_t ProtectedFolderClickAdvice[] =
    L"Windows does not let this account change files in that folder: right-click nowglow-appid.exe and "
    L"choose Run as administrator, or move XMPlay to a folder of your own";
static const wchar_t MissingAdvice[] =
    L"there is no such file; name the plug-in's DLL, XMP-Nowglow.dll, with its folder";
static const wchar_t MissingClickAdvice[] =
    L"there is no such file: put nowglow-appid.exe in the folder of XMP-Nowglow.dll (XMPlay's folder), then "
    L"double-click it again";
static const wchar_t InUseAdvice[] = L"it is in use; close XMPlay first, then try again";
static const wchar_t DiskFullAdvice[] = L"the disk is full; free some disk space and try again";

static bool doubleClicked;

void AdviseForDoubleClick(void) { doubleClicked = true; }

const wchar_t* ShownName(const wchar_t* typed) {
    const size_t length = std::wcslen(typed);
    if (length <= ShownLength) return typed;
    const size_t half = (ShownLength - 3) / 2;
    std::wmemcpy(shownName, typed, half);
    std::wmemcpy(shownName + half, L"...", 3);
    std::wmemcpy(shownName + half + 3, typed + length - half, half);
    shownName[2 * half + 3] = L'\0';
    return shownName;
}

const wchar_t* ShownPath(const wchar_t* path) {
    if (std::wcsncmp(path, L"\\\\?\\UNC\\", 8) == 0) {
        static wchar_t plain[32768];
        std::swprintf(plain, sizeof plain / sizeof plain[0], L"\\\\%ls", path + 8);
        return ShownName(plain);
    }
    return ShownName(std::wcsncmp(path, L"\\\\?\\", 4) == 0 ? path + 4 : path);
}

// Says "<what> <name>: <why>" on the error output, or "<name> <why>" when
// there is no what.
static bool Refuse(const PluginFile& file, const wchar_t* what, const wchar_t* why) {
    const size_t capacity = sizeof messageLine / sizeof messageLine[0];
    if (what[0] == L'\0') {
        std::swprintf(messageLine, capacity, L"%ls %ls", ShownName(file.typed), why);
    } else {
        std::swprintf(messageLine, capacity, L"%ls %ls: %ls", what, ShownName(file.typed), why);
    }
    SayError(messageLine);
    return false;
}

// Says why Windows refused the file, by its error.
static bool RefuseFor(const PluginFile& file, const wchar_t* what, DWORD error) {
    switch (TroubleFor(error)) {
    case FileTrouble::Missing: return Refuse(file, what, doubleClicked ? MissingClickAdvice : MissingAdvice);
    case FileTrouble::ProtectedFolder:
        return Refuse(file, what, doubleClicked ? ProtectedFolderClickAdvice : ProtectedFolderAdvice);
    case FileTrouble::InUse: return Refuse(file, what, InUseAdvice);
    case FileTrouble::DiskFull: return Refuse(file, what, DiskFullAdvice);
    case FileTrouble::Other: break;
    }
    wchar_t why[160];
    std::swprintf(why, sizeof why / sizeof why[0], L"Windows answered error %lu",
                  static_cast<unsigned long>(error));
    return Refuse(file, what, why);
}

bool NamePluginFile(PluginFile* file, const wchar_t* typed) {
    file->typed = typed;
    file->bytes = nullptr;
    file->size = 0;
    // The \\?\ form takes a full path as it stands, so it is made full first.
    static wchar_t full[32768];
    const DWORD length = GetFullPathNameW(typed, sizeof full / sizeof full[0], full, nullptr);
    if (length == 0 || length >= sizeof full / sizeof full[0] - 8)
        return RefuseFor(*file, L"cannot read", ERROR_INVALID_NAME);
    const size_t capacity = sizeof file->path / sizeof file->path[0];
    if (full[0] == L'\\' && full[1] == L'\\' && (full[2] == L'?' || full[2] == L'.')) {
        std::swprintf(file->path, capacity, L"%ls", full);
    } else if (full[0] == L'\\' && full[1] == L'\\') {
        std::swprintf(file->path, capacity, L"\\\\?\\UNC\\%ls", full + 2);
    } else {
        std::swprintf(file->path, capacity, L"\\\\?\\%ls", full);
    }
    return true;
}

// Says what is wrong with a file that is not the plug-in's whole DLL.
static bool RefuseImage(const PluginFile& file) {
    switch (file.place.verdict) {
    case ImageVerdict::Found: return true;
    case ImageVerdict::NotDll:
        return Refuse(file, L"",
                      L"is not XMP-Nowglow.dll: it is not a 32-bit Windows DLL; download the release again");
    case ImageVerdict::CutShort:
        return Refuse(file, L"",
                      L"is cut short: the file must reach the end of its last section; download the release "
                      L"again");
    case ImageVerdict::NoField:
        return Refuse(file, L"", L"is not XMP-Nowglow.dll: it holds no Discord application ID");
    case ImageVerdict::SeveralFields: break;
    }
    wchar_t why[160];
    std::swprintf(why, sizeof why / sizeof why[0],
                  L"holds %lu Discord application IDs, not one: this tool cannot tell which to change",
                  static_cast<unsigned long>(file.place.fields));
    return Refuse(file, L"", why);
}

bool PathBeside(const wchar_t* path, const wchar_t* name, wchar_t* beside, size_t capacity) {
    const wchar_t* slash = std::wcsrchr(path, L'\\');
    if (slash == nullptr) return false;
    const int length =
        std::swprintf(beside, capacity, L"%.*ls%ls", static_cast<int>(slash - path + 1), path, name);
    return length > 0 && static_cast<size_t>(length) < capacity;
}

uint8_t* ReadWholeFile(const wchar_t* path, uint32_t largest, size_t* size, uint32_t* error) {
    HANDLE handle = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return nullptr;
    }
    LARGE_INTEGER length;
    uint8_t* bytes = nullptr;
    *error = 0;
    if (GetFileSizeEx(handle, &length) == FALSE) {
        *error = GetLastError();
    } else if (length.QuadPart > largest) {
        *error = FileAboveLimit;
    } else {
        *size = static_cast<size_t>(length.QuadPart);
        bytes = static_cast<uint8_t*>(std::malloc(*size + 1));
        DWORD got = 0;
        if (bytes == nullptr) {
            *error = ERROR_NOT_ENOUGH_MEMORY;
        } else if (ReadFile(handle, bytes, static_cast<DWORD>(*size), &got, nullptr) == FALSE) {
            // Windows' own error, so that a locked file still says so.
            *error = GetLastError();
        } else if (got != *size) {
            *error = ERROR_HANDLE_EOF;
        }
        if (*error != 0) {
            std::free(bytes);
            bytes = nullptr;
        }
    }
    CloseHandle(handle);
    return bytes;
}

bool ReadPluginFile(PluginFile* file) {
    const DWORD attributes = GetFileAttributesW(file->path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return Refuse(*file, L"", L"is a folder, not the plug-in's DLL: name XMP-Nowglow.dll in it");
    uint32_t error = 0;
    file->bytes = ReadWholeFile(file->path, LargestDll, &file->size, &error);
    if (error == FileAboveLimit)
        return Refuse(*file, L"", L"is not XMP-Nowglow.dll: it is far larger than the plug-in");
    if (file->bytes == nullptr) return RefuseFor(*file, L"cannot read", error);
    file->place = LocateApplicationId(file->bytes, file->size);
    return RefuseImage(*file);
}

// Whether the DLL could be replaced now: it is not read-only, this account
// may change it, and nothing else holds it open.
static bool Replaceable(const PluginFile& file) {
    const DWORD attributes = GetFileAttributesW(file.path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0)
        return Refuse(file, L"cannot change",
                      L"it is read-only; clear Read-only in its Properties (Explorer), then try again");
    HANDLE handle = CreateFileW(file.path, GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return RefuseFor(file, L"cannot change", GetLastError());
    CloseHandle(handle);
    return true;
}

// Creates a new temporary file beside the DLL, under a name of the tool's
// own; its path goes to temporary.
static HANDLE CreateTemporaryBeside(const PluginFile& file, wchar_t* temporary, size_t capacity,
                                    DWORD* error) {
    for (unsigned attempt = 0; attempt < 100; attempt++) {
        wchar_t name[64];
        std::swprintf(name, sizeof name / sizeof name[0], L"~nowglow-appid-%lu-%u.tmp",
                      static_cast<unsigned long>(GetCurrentProcessId()), attempt);
        if (!PathBeside(file.path, name, temporary, capacity)) {
            *error = ERROR_FILENAME_EXCED_RANGE;
            break;
        }
        HANDLE handle =
            CreateFileW(temporary, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE) return handle;
        *error = GetLastError();
        if (*error != ERROR_FILE_EXISTS && *error != ERROR_ALREADY_EXISTS) break;
    }
    return INVALID_HANDLE_VALUE;
}

// Writes the bytes to a new temporary file beside the DLL, then moves it
// over the DLL in one step. On any failure the temporary file is removed
// and the DLL is as it was.
static bool ReplaceWholeFile(const PluginFile& file) {
    static wchar_t temporary[32768];
    DWORD error = 0;
    HANDLE handle = CreateTemporaryBeside(file, temporary, sizeof temporary / sizeof temporary[0], &error);
    if (handle == INVALID_HANDLE_VALUE) return RefuseFor(file, L"cannot write a file beside", error);
    DWORD put = 0;
    bool written = WriteFile(handle, file.bytes, static_cast<DWORD>(file.size), &put, nullptr) != FALSE;
    if (!written) {
        error = GetLastError();
    } else if (put != file.size) {
        // A write that takes less than it was given found the disk full.
        written = false;
        error = ERROR_DISK_FULL;
    } else if (FlushFileBuffers(handle) == FALSE) {
        written = false;
        error = GetLastError();
    }
    CloseHandle(handle);
    if (!written) {
        DeleteFileW(temporary);
        return RefuseFor(file, L"cannot write a file beside", error);
    }
    if (MoveFileExW(temporary, file.path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == FALSE) {
        error = GetLastError();
        DeleteFileW(temporary);
        // The DLL could be opened for change just before: a refusal now
        // means a program has loaded it since.
        if (error == ERROR_ACCESS_DENIED) error = ERROR_SHARING_VIOLATION;
        return RefuseFor(file, L"cannot change", error);
    }
    return true;
}

// Whether the file holds, byte for byte, what was read from it.
static bool StillAsRead(const PluginFile& file) {
    size_t size = 0;
    uint32_t error = 0;
    uint8_t* now = ReadWholeFile(file.path, LargestDll, &size, &error);
    if (now == nullptr) return RefuseFor(file, L"cannot read", error);
    const bool same = size == file.size && std::memcmp(now, file.bytes, size) == 0;
    std::free(now);
    if (same) return true;
    return Refuse(file, L"cannot change",
                  L"it changed since this tool read it (a new copy put there meanwhile?), and nothing was "
                  L"written; run the tool again");
}

bool RewritePluginFile(PluginFile* file, const char* id) {
    if (!StillAsRead(*file)) return false;
    RewriteApplicationId(file->bytes, file->size, file->place, id);
    return Replaceable(*file) && ReplaceWholeFile(*file);
}
