// Bounded copies and formatting into the fixed buffers, and the padding of
// one-character presence lines.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "plugin/plugin_state.h"
#include "presence/text_buffer.h"

namespace {

const std::string ZeroWidthSpace = "\xE2\x80\x8B";

// A buffer with a guard zone behind it, to see that nothing is written past the bound.
struct GuardedBuffer {
    char bytes[TextBufferSize];
    char guard[16];
};

void Fill(GuardedBuffer* buffer) { std::memset(buffer, '#', sizeof *buffer); }

bool GuardIntact(const GuardedBuffer& buffer) {
    for (char c : buffer.guard) {
        if (c != '#') return false;
    }
    return true;
}

TEST(CopyText, CopiesWholeTextsAndEmptiesTheBufferForOnesThatDoNotFit) {
    const std::string fits(127, 'x');
    const std::string tooLong(128, 'y');
    GuardedBuffer buffer;

    Fill(&buffer);
    EXPECT_EQ(CopyText(buffer.bytes, TextBufferSize, fits.c_str()), 127u);
    EXPECT_EQ(std::string(buffer.bytes), fits);

    Fill(&buffer);
    EXPECT_EQ(CopyText(buffer.bytes, TextBufferSize, tooLong.c_str()), 0u);
    EXPECT_STREQ(buffer.bytes, "");
    EXPECT_TRUE(GuardIntact(buffer));

    Fill(&buffer);
    EXPECT_EQ(CopyText(buffer.bytes, TextBufferSize, nullptr), 0u);
    EXPECT_STREQ(buffer.bytes, "");
}

TEST(TextBuilder, FailsAsAWholeOnceATextNoLongerFits) {
    char small[8];
    TextBuilder builder;
    StartText(&builder, small, sizeof small);
    AppendText(&builder, "abc");
    AppendDecimal(&builder, 1234);
    EXPECT_STREQ(small, "abc1234");  // exactly 7 bytes and the zero

    AppendText(&builder, "d");
    EXPECT_TRUE(builder.overflowed);
    EXPECT_STREQ(small, "");
    AppendText(&builder, "");  // nothing revives a failed text
    EXPECT_STREQ(small, "");

    StartText(&builder, small, sizeof small);
    AppendDecimal(&builder, 0);
    AppendText(&builder, nullptr);
    AppendDecimal(&builder, 255);
    EXPECT_STREQ(small, "0255");

    char wide[16];
    StartText(&builder, wide, sizeof wide);
    AppendDecimal(&builder, 4294967295u);
    EXPECT_STREQ(wide, "4294967295");
}

struct CharacterCase {
    const char* text;
    bool oneCharacter;
};

TEST(IsOneCharacter, CountsASingleByteOrOneWellFormedSequence) {
    const CharacterCase cases[] = {
        {"a", true},
        {"\xC3\xA9", true},          // é
        {"\xE2\x82\xAC", true},      // €
        {"\xF0\x9F\x98\x80", true},  // an emoji
        {"\x80", true},              // a lone continuation byte is one byte
        {"\xC3", true},              // so is a lone lead byte
        {"", false},
        {"ab", false},
        {"a\xC3\xA9", false},
        {"\xC3\xA9\xC3\xA9", false},  // two characters
        {"\xC3\x28", false},          // lead byte without its continuation
        {"\xE2\x82", false},          // truncated three-byte sequence
        {"\xE2\x82"
         "A",
         false},  // bad third byte
        {"\xF0\x9F"
         "A\x80",
         false},  // bad third byte of four
        {"\xF0\x9F\x98"
         "A",
         false},                      // bad fourth byte
        {"\xC0\x80", false},          // overlong
        {"\xE0\x80\x80", false},      // overlong
        {"\xED\xA0\x80", false},      // surrogate
        {"\xF4\x90\x80\x80", false},  // beyond U+10FFFF
        {"\xF8\x88\x80\x80", false},  // no such lead byte
    };
    for (const CharacterCase& c : cases) {
        const uint32_t length = static_cast<uint32_t>(std::strlen(c.text));
        EXPECT_EQ(IsOneCharacter(c.text, length), c.oneCharacter)
            << testing::PrintToString(std::string(c.text));
    }
}

struct LineCase {
    std::string text;
    std::string sent;
};

TEST(CopyLine, PadsOneCharacterLinesAndLeavesOthersByteForByte) {
    const LineCase cases[] = {
        {"a", "a" + ZeroWidthSpace},
        {"\xC3\xA9", "\xC3\xA9" + ZeroWidthSpace},
        {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80" + ZeroWidthSpace},
        {"\x80", "\x80" + ZeroWidthSpace},
        {"ab", "ab"},
        {"", ""},
        {"\xC3\x28", "\xC3\x28"},
        {"\xE2\x82"
         "A",
         "\xE2\x82"
         "A"},
        {"\xF0\x9F\x98"
         "A",
         "\xF0\x9F\x98"
         "A"},
        {std::string(127, 'z'), std::string(127, 'z')},
        {std::string(128, 'z'), ""},
    };
    for (const LineCase& c : cases) {
        GuardedBuffer buffer;
        Fill(&buffer);
        CopyLine(buffer.bytes, c.text.c_str());
        EXPECT_EQ(std::string(buffer.bytes), c.sent) << testing::PrintToString(c.text);
        EXPECT_TRUE(GuardIntact(buffer));
    }
    GuardedBuffer buffer;
    Fill(&buffer);
    CopyLine(buffer.bytes, nullptr);
    EXPECT_STREQ(buffer.bytes, "");
}

}  // namespace
