// Bounded copying and formatting into the fixed text buffers. The plain
// texts (TextBuilder, CopyText) either fit whole, with their terminating
// zero, or leave the buffer empty. The presence lines (LineBuilder,
// CopyLine) are measured as Discord measures them, in UTF-16 code units:
// a line of up to LineUnitLimit units goes out whole, byte for byte, and a
// longer one is cut after a whole character and ends in an ellipsis.
// Nothing is ever written past a buffer.
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

// The UTF-16 code units of a UTF-8 text as Discord counts them: one for each
// character up to U+FFFF, two for each above, and one for each byte that is
// not part of a well-formed sequence (Discord shows it as one replacement
// character). Reads no further than it takes to count limit + 1 units, and
// gives at most that. A null text has none.
uint32_t MeasureUnits(const char* text, uint32_t limit);

// A presence line being built in a TextBufferSize buffer, always terminated.
struct LineBuilder {
    char* buffer;
    uint32_t length;  // bytes of text so far
    uint32_t units;   // its UTF-16 code units
};

// Starts an empty line in buffer (TextBufferSize bytes).
void StartLine(LineBuilder* line, char* buffer);

// Appends the whole characters of text, in order, while the line stays
// within unitLimit units (at most LineUnitLimit); true when all of text went
// in. A null text appends nothing and counts as whole.
bool AppendWithin(LineBuilder* line, const char* text, uint32_t unitLimit);

// Appends U+2026 HORIZONTAL ELLIPSIS, the mark of a cut line.
void AppendEllipsis(LineBuilder* line);

// Pads a line of exactly one unit with a zero-width space: Discord refuses a
// text shorter than two units, and the space keeps it showing as the one
// character it is. A single character above U+FFFF is two units already.
void FinishLine(LineBuilder* line);

// Copies a presence line into buffer (TextBufferSize bytes): whole when it
// has at most LineUnitLimit units, else its longest prefix of whole
// characters that leaves a unit for the ellipsis, then the ellipsis; then
// pads a one-unit line. A null text gives an empty line.
void CopyLine(char* buffer, const char* text);
