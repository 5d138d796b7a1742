// Bounded copying and formatting into the fixed text buffers, and the padding
// of one-character presence lines.
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

static bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

bool IsOneCharacter(const char* text, uint32_t length) {
    if (length == 1) return true;
    if (length < 2 || length > 4) return false;
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text);
    unsigned char lead = bytes[0];
    // The range the second byte must lie in excludes overlong forms,
    // surrogates and values beyond U+10FFFF.
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
        return false;
    }
    if (length != expected || bytes[1] < low || bytes[1] > high) return false;
    for (uint32_t i = 2; i < length; i++) {
        if (!IsContinuation(bytes[i])) return false;
    }
    return true;
}

void CopyLine(char* buffer, const char* text) {
    TextBuilder builder;
    StartText(&builder, buffer, TextBufferSize);
    AppendText(&builder, text);
    if (IsOneCharacter(buffer, builder.length)) AppendText(&builder, ZeroWidthSpace);
}
