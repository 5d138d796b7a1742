// Conversions of the player's answers to whole seconds, and the 32-bit
// wrap-around arithmetic the clock and the seek guard rely on, all free of
// undefined behaviour.
#pragma once

#include <cstdint>

// Base-10 text to int32: leading white space, an optional sign, then digits
// up to the first other character; clamped to the int32 range; a null text
// or one without digits gives 0.
int32_t TextToInt32(const char* text);

// What SecondsToInt32 gives for a position that is no number or lies outside
// the int32 range: the position is unknown.
enum : int32_t { UnknownSeconds = INT32_MIN };

// Truncates toward zero; NaN or a value outside the int32 range gives UnknownSeconds.
int32_t SecondsToInt32(double seconds);

// a - b with 32-bit wrap-around.
int32_t WrappingSubtract(int32_t a, int32_t b);

// |value| as unsigned, so that |INT32_MIN| is representable.
uint32_t Magnitude(int32_t value);
