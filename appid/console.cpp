// Console output and input for nowglow-appid.exe, wide throughout.
#include <windows.h>

#include "appid/console.h"

#include <cstring>
#include <cwchar>

// Writes text to the handle: WriteConsoleW to a console, else UTF-8 bytes.
static void WriteText(HANDLE handle, const wchar_t* text) {
    const size_t length = std::wcslen(text);
    DWORD mode = 0;
    DWORD written = 0;
    if (GetConsoleMode(handle, &mode) != FALSE) {
        WriteConsoleW(handle, text, static_cast<DWORD>(length), &written, nullptr);
        return;
    }
    // A line is at most a few thousand characters; UTF-8 takes at most
    // three bytes for each UTF-16 unit.
    static char bytes[3 * 8192];
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), bytes,
                                         static_cast<int>(sizeof bytes), nullptr, nullptr);
    if (size > 0) WriteFile(handle, bytes, static_cast<DWORD>(size), &written, nullptr);
}

void SayLine(const wchar_t* text) {
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    WriteText(output, text);
    WriteText(output, L"\r\n");
}

void SayError(const wchar_t* text) {
    HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    WriteText(error, L"nowglow-appid: ");
    WriteText(error, text);
    WriteText(error, L"\r\n");
}

void SayPrompt(const wchar_t* text) { WriteText(GetStdHandle(STD_OUTPUT_HANDLE), text); }

// The bytes read ahead from a pipe or a file: this program is their only
// reader, so what lies beyond one line waits here for the next.
static char readAhead[4096];
static DWORD readAheadCount;
static DWORD readAheadNext;

static bool NextByte(HANDLE input, char* byte) {
    if (readAheadNext == readAheadCount) {
        readAheadNext = 0;
        readAheadCount = 0;
        if (ReadFile(input, readAhead, sizeof readAhead, &readAheadCount, nullptr) == FALSE ||
            readAheadCount == 0)
            return false;
    }
    *byte = readAhead[readAheadNext++];
    return true;
}

// Reads UTF-8 bytes up to a line feed from a pipe or a file, all of them
// whatever their number; a line that does not fit is TooLong.
static Entry ReadByteLine(HANDLE input, wchar_t* line, size_t capacity) {
    // A line of capacity characters takes at most three bytes each.
    static char bytes[3 * 4096];
    const size_t room = 3 * capacity < sizeof bytes ? 3 * capacity : sizeof bytes;
    size_t count = 0;
    bool any = false;
    bool tooLong = false;
    for (;;) {
        char byte = 0;
        if (!NextByte(input, &byte)) break;
        any = true;
        if (byte == '\n') break;
        tooLong = tooLong || count == room;
        if (!tooLong) bytes[count++] = byte;
    }
    if (!any) return Entry::End;
    const int length = count == 0 ? 0
                                  : MultiByteToWideChar(CP_UTF8, 0, bytes, static_cast<int>(count), line,
                                                        static_cast<int>(capacity - 1));
    if (tooLong || (count > 0 && length == 0)) return Entry::TooLong;
    line[length] = L'\0';
    for (int i = 0; i < length; i++) {
        if (line[i] == L'\0') line[i] = 0xFFFD;
    }
    return Entry::Line;
}

// Reads a line from the console; the rest of a line longer than the buffer
// is read too, so that it is never taken for the next entry.
static Entry ReadConsoleLine(HANDLE input, wchar_t* line, size_t capacity) {
    DWORD got = 0;
    if (ReadConsoleW(input, line, static_cast<DWORD>(capacity - 1), &got, nullptr) == FALSE || got == 0)
        return Entry::End;
    if (line[got - 1] == L'\n') {
        line[got] = L'\0';
        for (DWORD i = 0; i < got; i++) {
            if (line[i] == L'\0') line[i] = 0xFFFD;
        }
        return Entry::Line;
    }
    wchar_t rest[256];
    do {
        if (ReadConsoleW(input, rest, sizeof rest / sizeof rest[0], &got, nullptr) == FALSE) break;
    } while (got > 0 && rest[got - 1] != L'\n');
    return Entry::TooLong;
}

Entry ReadLine(wchar_t* line, size_t capacity) {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    const Entry entry = GetConsoleMode(input, &mode) == FALSE ? ReadByteLine(input, line, capacity)
                                                              : ReadConsoleLine(input, line, capacity);
    if (entry != Entry::Line) return entry;
    size_t length = std::wcslen(line);
    while (length > 0 && (line[length - 1] == L'\n' || line[length - 1] == L'\r')) line[--length] = L'\0';
    if (line[0] == 0xFEFF) std::wmemmove(line, line + 1, length);
    return Entry::Line;
}

void WideFromUtf8(const char* utf8, wchar_t* wide, size_t capacity) {
    // A UTF-8 byte never makes more than one UTF-16 unit, so capacity - 1
    // bytes always fit; a cut backs up to the start of the character it
    // would split.
    size_t length = strnlen(utf8, capacity - 1);
    if (utf8[length] != '\0') {
        while (length > 0 && (static_cast<unsigned char>(utf8[length]) & 0xC0) == 0x80) length--;
    }
    const int made = length == 0 ? 0
                                 : MultiByteToWideChar(CP_UTF8, 0, utf8, static_cast<int>(length), wide,
                                                       static_cast<int>(capacity - 1));
    wide[made > 0 ? made : 0] = L'\0';
}

// A console that lists this program alone was made for it, and its
// keyboard is the standard input only when that was not redirected.
bool OwnsItsConsole(void) {
    DWORD processes[2];
    DWORD mode = 0;
    return GetConsoleProcessList(processes, 2) == 1 &&
           GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != FALSE;
}
