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

// Reads one line from the standard input into line (capacity characters,
// its end dropped, cut to fit); false at the end of the input.
bool ReadLine(wchar_t* line, size_t capacity);

// Whether the console window is this program's own and reads the keyboard:
// it was started by a double-click, and its window closes when it ends.
bool OwnsItsConsole(void);
