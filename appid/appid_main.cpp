// nowglow-appid.exe: shows or changes the Discord application ID built into
// XMP-Nowglow.dll, so that a user with only the release can point the
// plug-in at a Discord application of their own.
//   nowglow-appid PATH\XMP-Nowglow.dll           prints the ID
//   nowglow-appid PATH\XMP-Nowglow.dll NEW-ID    writes NEW-ID in its place
// Bad input gets one line on the error output, a non-zero exit status and
// an untouched file. The changed DLL is written to a temporary file in the
// DLL's folder, which then replaces the DLL in one step, so that no failure
// leaves a broken or half-written DLL behind.
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "appid/dll_image.h"
#include "plugin/application_id.h"

enum : int { ExitDone = 0, ExitRefused = 1, ExitUsage = 2 };

// No plug-in DLL comes anywhere near this size; a larger file is not one.
static const DWORD LargestDll = 64u * 1024u * 1024u;

// A file's bytes, read whole.
struct FileBytes {
    uint8_t* data;
    size_t size;
};

// Says on the error output, in one line, why nothing was done. The compiler
// checks each format against its arguments.
static int Refuse(const char* format, ...) __attribute__((format(printf, 1, 2)));

// NOLINTNEXTLINE(cert-dcl50-cpp): a printf-style message, its format checked by the attribute above
static int Refuse(const char* format, ...) {
    std::va_list arguments;
    va_start(arguments, format);
    std::fputs("nowglow-appid: ", stderr);
    std::vfprintf(stderr, format, arguments);
    std::fputc('\n', stderr);
    va_end(arguments);
    return ExitRefused;
}

// The system's one-line text for an error code, into text (size bytes).
static const char* ErrorText(DWORD error, char* text, DWORD size) {
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                                  0, text, size, nullptr);
    while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' || text[length - 1] == ' ' ||
                          text[length - 1] == '.'))
        length--;
    std::snprintf(text + length, size - length, "%s(error %lu)", length > 0 ? " " : "",
                  static_cast<unsigned long>(error));
    return text;
}

// Refuses with the system's reason for the last failure.
static int RefuseWithError(const char* what, const char* path) {
    char text[256];
    return Refuse("%s %s: %s", what, path, ErrorText(GetLastError(), text, sizeof text));
}

// The errors of a file that another program holds open or that may not be
// written: the running player holds the DLL it loaded.
static bool InUse(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
           error == ERROR_LOCK_VIOLATION || error == ERROR_USER_MAPPED_FILE;
}

static int RefuseReplacing(const char* path) {
    if (!InUse(GetLastError())) return RefuseWithError("cannot replace", path);
    return Refuse("cannot replace %s: it is in use; close XMPlay first, then try again", path);
}

// Reads the whole file; on failure says why and returns false.
static bool ReadWholeFile(const char* path, FileBytes* bytes, int* refusal) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *refusal = RefuseWithError("cannot read", path);
        return false;
    }
    LARGE_INTEGER size;
    bool read = GetFileSizeEx(file, &size) != FALSE;
    if (read && size.QuadPart > LargestDll) {
        CloseHandle(file);
        *refusal = Refuse("%s is not XMP-Nowglow.dll: it is far larger than the plug-in", path);
        return false;
    }
    if (read) {
        bytes->size = static_cast<size_t>(size.QuadPart);
        bytes->data = static_cast<uint8_t*>(std::malloc(bytes->size + 1));
        DWORD got = 0;
        read = bytes->data != nullptr &&
               ReadFile(file, bytes->data, static_cast<DWORD>(bytes->size), &got, nullptr) != FALSE &&
               got == bytes->size;
    }
    if (!read) *refusal = RefuseWithError("cannot read", path);
    CloseHandle(file);
    return read;
}

// The folder of a path, for the temporary file beside it.
static void FolderOf(const char* path, char* folder, size_t size) {
    const char* slash = std::strrchr(path, '\\');
    const char* other = std::strrchr(path, '/');
    if (other != nullptr && (slash == nullptr || other > slash)) slash = other;
    if (slash == nullptr) {
        std::snprintf(folder, size, ".");
        return;
    }
    // The root of a drive keeps its backslash: "C:\".
    size_t length = static_cast<size_t>(slash - path);
    if (length == 0 || (length == 2 && path[1] == ':')) length++;
    std::snprintf(folder, size, "%.*s", static_cast<int>(length), path);
}

// Whether the DLL could be replaced now: it is not read-only, and nothing
// else holds it open.
static bool Replaceable(const char* path, int* refusal) {
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        *refusal = Refuse("cannot replace %s: it is read-only; clear its read-only attribute first", path);
        return false;
    }
    HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *refusal = RefuseReplacing(path);
        return false;
    }
    CloseHandle(file);
    return true;
}

// Writes the bytes to a new temporary file in the DLL's folder, then moves
// it over the DLL. On any failure the temporary file is removed and the DLL
// is as it was.
static bool ReplaceWholeFile(const char* path, const FileBytes& bytes, int* refusal) {
    char folder[MAX_PATH];
    char temporary[MAX_PATH];
    FolderOf(path, folder, sizeof folder);
    if (GetTempFileNameA(folder, "nga", 0, temporary) == 0) {
        *refusal = RefuseWithError("cannot write a file in", folder);
        return false;
    }
    HANDLE file =
        CreateFileA(temporary, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    bool written = file != INVALID_HANDLE_VALUE;
    if (written) {
        DWORD put = 0;
        written = WriteFile(file, bytes.data, static_cast<DWORD>(bytes.size), &put, nullptr) != FALSE &&
                  put == bytes.size && FlushFileBuffers(file) != FALSE;
        DWORD error = GetLastError();
        CloseHandle(file);
        SetLastError(error);
    }
    if (!written) {
        *refusal = RefuseWithError("cannot write", temporary);
        DeleteFileA(temporary);
        return false;
    }
    if (MoveFileExA(temporary, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == FALSE) {
        *refusal = RefuseReplacing(path);
        DeleteFileA(temporary);
        return false;
    }
    return true;
}

// Finds the one application ID field, or says why the file has none.
static bool Locate(const char* path, const FileBytes& bytes, IdFieldPlace* place, int* refusal) {
    *place = LocateApplicationId(bytes.data, bytes.size);
    switch (place->verdict) {
    case ImageVerdict::Found: return true;
    case ImageVerdict::NotDll:
        *refusal = Refuse("%s is not XMP-Nowglow.dll: it is not a 32-bit Windows DLL", path);
        break;
    case ImageVerdict::NoField:
        *refusal = Refuse("%s is not XMP-Nowglow.dll: it holds no Discord application ID", path);
        break;
    case ImageVerdict::SeveralFields:
        *refusal =
            Refuse("%s holds %lu Discord application IDs, not one: this tool cannot tell which to change",
                   path, static_cast<unsigned long>(place->fields));
        break;
    }
    return false;
}

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) {
        std::fputs("usage: nowglow-appid PATH\\XMP-Nowglow.dll [NEW-APPLICATION-ID]\n", stderr);
        return ExitUsage;
    }
    const char* path = argv[1];
    const char* newId = argc == 3 ? argv[2] : nullptr;
    if (newId != nullptr && !IsApplicationId(newId)) {
        return Refuse("'%s' is not a Discord application ID: it must be exactly %u decimal digits", newId,
                      static_cast<unsigned>(ApplicationIdDigits));
    }

    FileBytes bytes = {nullptr, 0};
    IdFieldPlace place;
    int refusal = ExitRefused;
    if (!ReadWholeFile(path, &bytes, &refusal) || !Locate(path, bytes, &place, &refusal)) return refusal;
    char oldId[ApplicationIdDigits + 1];
    std::memcpy(oldId, bytes.data + place.digitsOffset, sizeof oldId);
    if (newId == nullptr) {
        std::printf("Discord application ID: %s\n", oldId);
        return ExitDone;
    }
    if (std::strcmp(oldId, newId) == 0) {
        std::printf("Discord application ID: %s (unchanged)\n", oldId);
        return ExitDone;
    }
    RewriteApplicationId(bytes.data, bytes.size, place, newId);
    if (!Replaceable(path, &refusal) || !ReplaceWholeFile(path, bytes, &refusal)) return refusal;
    std::printf("Discord application ID changed from %s to %s\n", oldId, newId);
    return ExitDone;
}
