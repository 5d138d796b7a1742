// Bounded copying and formatting into the fixed text buffers. A text either
// fits whole, with its terminating zero, or the buffer is left empty: a line
// is never cut, and nothing is ever written past a buffer.
#pragma once

#include <cstdint>

// A text being built in a fixed buffer. Once an append does not fit, the
// buffer is emptied and every later append does nothing.
struct TextBuilder {
    char* buffer;
    uint32_t size;    // bytes in the buffer, the terminating zero included
    uint32_t length;  // bytes of text so far
    bool overflowed;
};

// Starts an empty text in buffer (size bytes, at least 1).
void StartText(TextBuilder* builder, char* buffer, uint32_t size);

// Appends a zero-terminated text; a null text appends nothing.
void AppendText(TextBuilder* builder, const char* text);

// Appends value in decimal.
void AppendDecimal(TextBuilder* builder, uint32_t value);

// Copies text whole into buffer (size bytes), or leaves buffer empty when the
// text is null or does not fit. Returns the length copied.
uint32_t CopyText(char* buffer, uint32_t size, const char* text);

// True when the length bytes at text are exactly one character: a single
// byte, or one well-formed UTF-8 multi-byte sequence.
bool IsOneCharacter(const char* text, uint32_t length);

// Copies a presence line into a TextBufferSize buffer as CopyText does, then
// pads a line of exactly one character with a zero-width space: Discord
// refuses a line shorter than two characters, and the space keeps it showing
// as the one character it is. Empty and longer lines go out unchanged.
void CopyLine(char* buffer, const char* text);
