// Bounded copying and formatting into the fixed text buffers, and the
// presence lines measured, cut and padded as Discord needs them.
#include "presence/text_buffer.h"

#include <cstring>

#include "plugin/plugin_state.h"

// U+200B ZERO WIDTH SPACE in UTF-8.
static const char ZeroWidthSpace[] = "\xE2\x80\x8B";

void StartText(TextBuilder* builder, char* buffer, uint32_t size) {
    builder->buffer = buffer;
    builder->size = size;
    builder->length = 0;
    builder->overflowed = false;
    buffer[0] = '\0';
}

// Appends count bytes, or empties the buffer for good when they do not fit
// beside the text so far and the terminating zero.
static void AppendBytes(TextBuilder* builder, const char* bytes, uint32_t count) {
    if (builder->overflowed) return;
    if (count >= builder->size - builder->length) {
        builder->overflowed = true;
        builder->length = 0;
        builder->buffer[0] = '\0';
        return;
    }
    std::memcpy(builder->buffer + builder->length, bytes, count);
    builder->length += count;
    builder->buffer[builder->length] = '\0';
}

// Length of text, looking at no more than limit bytes; limit when no zero
// comes first. The player's texts may be long, and only whether they fit
// matters.
static uint32_t BoundedLength(const char* text, uint32_t limit) {
    uint32_t length = 0;
    while (length < limit && text[length] != '\0') length++;
    return length;
}

void AppendText(TextBuilder* builder, const char* text) {
    if (!text || builder->overflowed) return;
    // One byte more than the room left is enough to know it does not fit.
    uint32_t room = builder->size - builder->length;
    AppendBytes(builder, text, BoundedLength(text, room));
}

void AppendDecimal(TextBuilder* builder, uint32_t value) {
    char digits[10];  // 4294967295 has ten digits
    uint32_t count = 0;
    do {
        digits[sizeof digits - 1 - count] = static_cast<char>('0' + value % 10);
        value /= 10;
        count++;
    } while (value != 0);
    AppendBytes(builder, digits + sizeof digits - count, count);
}

uint32_t CopyText(char* buffer, uint32_t size, const char* text) {
    TextBuilder builder;
    StartText(&builder, buffer, size);
    AppendText(&builder, text);
    return builder.length;
}

// U+2026 HORIZONTAL ELLIPSIS in UTF-8, one unit.
static const char Ellipsis[] = "\xE2\x80\xA6";

// One character of a UTF-8 text: its bytes and its UTF-16 units.
struct Character {
    uint32_t bytes;
    uint32_t units;
};

static bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// The character at text, which is not at its terminating zero. A
// well-formed sequence is one character of one unit, or of two above
// U+FFFF; any other byte is a character of its own, one unit. The range
// the second byte must lie in excludes overlong forms, surrogates and
// values beyond U+10FFFF. No byte past a zero is read: a zero is no
// continuation byte.
static Character NextCharacter(const char* text) {
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text);
    const Character single = {1, 1};
    const unsigned char lead = bytes[0];
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    uint32_t expected;
    if (lead >= 0xC2 && lead <= 0xDF) {
        expected = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        expected = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        expected = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return single;
    }
    if (bytes[1] < low || bytes[1] > high) return single;
    for (uint32_t i = 2; i < expected; i++) {
        if (!IsContinuation(bytes[i])) return single;
    }
    const Character whole = {expected, expected == 4 ? 2u : 1u};
    return whole;
}

uint32_t MeasureUnits(const char* text, uint32_t limit) {
    uint32_t units = 0;
    if (!text) return 0;
    while (*text != '\0' && units <= limit) {
        const Character next = NextCharacter(text);
        units += next.units;
        text += next.bytes;
    }
    return units <= limit ? units : limit + 1;
}

void StartLine(LineBuilder* line, char* buffer) {
    line->buffer = buffer;
    line->length = 0;
    line->units = 0;
    buffer[0] = '\0';
}

// Appends one character's bytes; the caller has checked its units. The byte
// bound holds by itself (a unit is at most three bytes, and a line at most
// LineUnitLimit units), and is kept here too, so that no line can pass it.
static bool AppendCharacter(LineBuilder* line, const char* bytes, Character character) {
    if (character.bytes > TextBufferSize - 1 - line->length) return false;
    std::memcpy(line->buffer + line->length, bytes, character.bytes);
    line->length += character.bytes;
    line->units += character.units;
    line->buffer[line->length] = '\0';
    return true;
}

bool AppendWithin(LineBuilder* line, const char* text, uint32_t unitLimit) {
    if (!text) return true;
    if (unitLimit > LineUnitLimit) unitLimit = LineUnitLimit;
    while (*text != '\0') {
        const Character next = NextCharacter(text);
        if (line->units + next.units > unitLimit) return false;
        if (!AppendCharacter(line, text, next)) return false;
        text += next.bytes;
    }
    return true;
}

void AppendEllipsis(LineBuilder* line) { AppendWithin(line, Ellipsis, LineUnitLimit); }

void FinishLine(LineBuilder* line) {
    if (line->units == 1) AppendWithin(line, ZeroWidthSpace, LineUnitLimit);
}

void CopyLine(char* buffer, const char* text) {
    LineBuilder line;
    StartLine(&line, buffer);
    if (MeasureUnits(text, LineUnitLimit) <= LineUnitLimit) {
        AppendWithin(&line, text, LineUnitLimit);
    } else {
        AppendWithin(&line, text, LineUnitLimit - 1);
        AppendEllipsis(&line);
    }
    FinishLine(&line);
}
