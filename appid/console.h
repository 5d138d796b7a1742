// What nowglow-appid.exe writes and reads: lines of text that may hold any
// character of a file name. To a console they go as UTF-16, which shows
// every script; to a pipe or a file, as UTF-8.
#pragma once

#include <cstddef>

// Writes one line (the text and CR LF) to the standard output.
void SayLine(const wchar_t* text);

// Writes one line to the error output, after "nowglow-appid: ".
void SayError(const wchar_t* text);

// Writes text without a line end: a prompt.
void SayPrompt(const wchar_t* text);

enum class Entry {
    Line,     // a whole line, its end dropped
    TooLong,  // a line longer than the buffer: read to its end, and dropped
    End,      // the end of the input
};

// Reads one line from the standard input into line (capacity characters).
// A byte-order mark at its start is dropped, and a NUL in it becomes the
// replacement character, so that it can never cut the entry short.
Entry ReadLine(wchar_t* line, size_t capacity);

// Converts UTF-8 (from Discord: user names, close and error messages) to
// text to show, in wide (capacity characters, at least 1), cut only at a
// character boundary when it does not fit; bytes that are not UTF-8 show as
// the replacement character.
void WideFromUtf8(const char* utf8, wchar_t* wide, size_t capacity);

// Whether the console window is this program's own and reads the keyboard:
// it was started by a double-click, and its window closes when it ends.
bool OwnsItsConsole(void);
