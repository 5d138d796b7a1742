// Bounded copies and formatting into the fixed buffers, and the presence
// lines as Discord measures them: in UTF-16 units, cut with an ellipsis
// past 128, padded at one.
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
    const std::string fits(TextBufferSize - 1, 'x');
    const std::string tooLong(TextBufferSize, 'y');
    GuardedBuffer buffer;

    Fill(&buffer);
    EXPECT_EQ(CopyText(buffer.bytes, TextBufferSize, fits.c_str()), TextBufferSize - 1);
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

struct UnitCase {
    const char* text;
    uint32_t units;
};

TEST(MeasureUnits, CountsUtf16UnitsAndEachIllFormedByteAsOne) {
    const UnitCase cases[] = {
        {"a", 1},
        {"\xC3\xA9", 1},          // é
        {"\xE2\x82\xAC", 1},      // €
        {"\xF0\x9F\x98\x80", 2},  // an emoji: a surrogate pair
        {"\x80", 1},              // a lone continuation byte
        {"\xC3", 1},              // a lone lead byte
        {"", 0},
        {"ab", 2},
        {"a\xC3\xA9", 2},
        {"\xC3\x28", 2},  // lead byte without its continuation
        {"\xE2\x82", 2},  // truncated three-byte sequence: each byte one
        {"\xE2\x82"
         "A",
         3},  // bad third byte
        {"\xF0\x9F\x98"
         "A",
         4},                      // bad fourth byte
        {"\xC0\x80", 2},          // overlong
        {"\xE0\x80\x80", 3},      // overlong
        {"\xED\xA0\x80", 3},      // surrogate
        {"\xF4\x90\x80\x80", 4},  // beyond U+10FFFF
        {"\xF8\x88\x80\x80", 4},  // no such lead byte
    };
    for (const UnitCase& c : cases) {
        EXPECT_EQ(MeasureUnits(c.text, LineUnitLimit), c.units)
            << testing::PrintToString(std::string(c.text));
    }
    EXPECT_EQ(MeasureUnits(nullptr, LineUnitLimit), 0u);
    // Past the limit it stops counting: limit + 1 means "too long".
    EXPECT_EQ(MeasureUnits(std::string(129, 'a').c_str(), 128), 129u);
    EXPECT_EQ(MeasureUnits(std::string(5000, 'a').c_str(), 128), 129u);
}

struct LineCase {
    std::string text;
    std::string sent;
};

std::string Times(const std::string& text, size_t count) {
    std::string repeated;
    for (size_t i = 0; i < count; i++) repeated += text;
    return repeated;
}

const std::string Ellipsis = "\xE2\x80\xA6";

TEST(CopyLine, SendsLinesOf128UnitsWholeCutsLongerOnesAndPadsOneUnit) {
    const std::string e = "\xC3\xA9";              // one unit, two bytes
    const std::string kana = "\xE3\x81\x82";       // one unit, three bytes
    const std::string emoji = "\xF0\x9F\x98\x80";  // two units, four bytes
    const LineCase cases[] = {
        // one character of each width: one unit is padded, two are not
        {"a", "a" + ZeroWidthSpace},
        {e, e + ZeroWidthSpace},
        {kana, kana + ZeroWidthSpace},
        {emoji, emoji},
        {"\x80", "\x80" + ZeroWidthSpace},
        // 128 units go out whole, 129 are cut to 127 and the ellipsis
        {std::string(128, 'z'), std::string(128, 'z')},
        {std::string(129, 'z'), std::string(127, 'z') + Ellipsis},
        {Times(e, 128), Times(e, 128)},
        {Times(e, 129), Times(e, 127) + Ellipsis},
        {Times(kana, 128), Times(kana, 128)},
        {Times(kana, 129), Times(kana, 127) + Ellipsis},
        {Times(emoji, 64), Times(emoji, 64)},
        {Times(emoji, 65), Times(emoji, 63) + Ellipsis},
        // the cut never splits a sequence or a pair of units
        {std::string(126, 'a') + emoji + "b", std::string(126, 'a') + Ellipsis},
        {std::string(125, 'a') + emoji + "bc", std::string(125, 'a') + emoji + Ellipsis},
        // ill-formed bytes at the cut count one each
        {std::string(126, 'a') + "\xE2\x82zz", std::string(126, 'a') + "\xE2" + Ellipsis},
        {std::string(127, 'a') + "\x80", std::string(127, 'a') + "\x80"},
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
