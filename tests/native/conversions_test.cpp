// The conversions of the player's answers and the wrap-around arithmetic.
// Run under UBSan: every case here, the extremes included, must stay silent.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "presence/conversions.h"

namespace {

struct TextCase {
    const char* text;
    int32_t expected;
};

TEST(TextToInt32, ConvertsLikeABase10ParseClampedToInt32) {
    const TextCase cases[] = {
        {"215", 215},
        {"215.7", 215},       // digits stop at the first other character
        {"  -12x", -12},      // leading blanks, sign, trailing rubbish
        {"\t\n\v\f\r 7", 7},  // every white-space character is skipped
        {"+42", 42},
        {"0", 0},
        {"007", 7},
        {"", 0},  // no digits
        {"abc", 0},
        {"-", 0},
        {"+-3", 0},  // one sign only
        {"- 3", 0},  // no blank between sign and digits
        {"2147483647", INT32_MAX},
        {"2147483648", INT32_MAX},  // overflow clamps
        {"99999999999999999999999", INT32_MAX},
        {"-2147483648", INT32_MIN},
        {"-2147483649", INT32_MIN},
        {"-99999999999999999999999", INT32_MIN},
        {"000000000000000000000012", 12},  // leading zeros never overflow
    };
    for (const TextCase& c : cases) {
        EXPECT_EQ(TextToInt32(c.text), c.expected) << '"' << c.text << '"';
    }
    EXPECT_EQ(TextToInt32(nullptr), 0);
}

struct SecondsCase {
    double seconds;
    int32_t expected;
};

TEST(SecondsToInt32, TruncatesTowardZeroAndMapsTheUnrepresentableToInt32Min) {
    const double infinity = std::numeric_limits<double>::infinity();
    const SecondsCase cases[] = {
        {12.99, 12},
        {59.9, 59},
        {0.0, 0},
        {-0.5, 0},
        {-12.99, -12},
        {2147483647.0, INT32_MAX},
        {2147483647.9, INT32_MAX},
        {2147483648.0, INT32_MIN},  // just out of range
        {-2147483648.0, INT32_MIN},
        {-2147483648.9, INT32_MIN},  // truncates into range
        {-2147483649.0, INT32_MIN},  // out of range
        {1e12, INT32_MIN},
        {-1e12, INT32_MIN},
        {infinity, INT32_MIN},
        {-infinity, INT32_MIN},
        {std::nan(""), INT32_MIN},
    };
    for (const SecondsCase& c : cases) {
        EXPECT_EQ(SecondsToInt32(c.seconds), c.expected) << c.seconds;
    }
}

TEST(WrappingArithmetic, WrapsAt32BitsWithoutOverflow) {
    EXPECT_EQ(WrappingSubtract(200, 30), 170);
    EXPECT_EQ(WrappingSubtract(200, 250), -50);
    EXPECT_EQ(WrappingSubtract(INT32_MAX, INT32_MIN), -1);
    EXPECT_EQ(WrappingSubtract(INT32_MIN, 2), INT32_MAX - 1);
    EXPECT_EQ(WrappingSubtract(INT32_MIN, INT32_MAX), 1);
    EXPECT_EQ(WrappingSubtract(0, INT32_MIN), INT32_MIN);

    EXPECT_EQ(Magnitude(0), 0u);
    EXPECT_EQ(Magnitude(-6), 6u);
    EXPECT_EQ(Magnitude(6), 6u);
    EXPECT_EQ(Magnitude(INT32_MAX), 2147483647u);
    EXPECT_EQ(Magnitude(INT32_MIN), 2147483648u);
}

}  // namespace
