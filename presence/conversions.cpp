// Conversions of the player's answers to whole seconds, and 32-bit wrap-around
// arithmetic, written so that no input can reach undefined behaviour.
#include "presence/conversions.h"

static const uint32_t Int32MaxMagnitude = 2147483647u;
static const uint32_t Int32MinMagnitude = 2147483648u;

static bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

static bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The int32 whose two's-complement bits are value.
static int32_t FromBits(uint32_t value) {
    if (value <= Int32MaxMagnitude) return static_cast<int32_t>(value);
    return static_cast<int32_t>(value - Int32MinMagnitude) + INT32_MIN;
}

int32_t TextToInt32(const char* text) {
    if (!text) return 0;
    while (IsSpace(*text)) text++;
    bool negative = *text == '-';
    if (*text == '-' || *text == '+') text++;
    // The magnitude stops growing at the limit of its sign, so it never wraps.
    uint32_t limit = negative ? Int32MinMagnitude : Int32MaxMagnitude;
    uint32_t magnitude = 0;
    for (; IsDigit(*text); text++) {
        uint32_t digit = static_cast<uint32_t>(*text - '0');
        magnitude = magnitude > (limit - digit) / 10 ? limit : magnitude * 10 + digit;
    }
    return negative ? FromBits(0u - magnitude) : static_cast<int32_t>(magnitude);
}

int32_t SecondsToInt32(double seconds) {
    // Every double strictly between these bounds truncates into the range;
    // NaN fails both comparisons.
    if (!(seconds > -2147483649.0 && seconds < 2147483648.0)) return UnknownSeconds;
    return static_cast<int32_t>(seconds);
}

int32_t WrappingSubtract(int32_t a, int32_t b) {
    return FromBits(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}

uint32_t Magnitude(int32_t value) {
    uint32_t bits = static_cast<uint32_t>(value);
    return value < 0 ? 0u - bits : bits;
}
