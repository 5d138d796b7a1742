// The Discord application's ID as the DLL holds it: a fixed-size field, a
// marker and then the 18 decimal digits and their zero, so that
// nowglow-appid.exe can find the one place in the file that holds the ID and
// rewrite it in place. The ID leaves no other trace in the DLL.
#pragma once

#include <cstdint>

// The marker, with its terminating zero, just before the digits.
#define NOWGLOW_APPLICATION_ID_MARKER "XMP-Nowglow Discord application ID"

enum : uint32_t { ApplicationIdDigits = 18 };

struct ApplicationIdField {
    char marker[sizeof NOWGLOW_APPLICATION_ID_MARKER];
    char digits[ApplicationIdDigits + 1];  // the ID as Discord_Initialize receives it
};
static_assert(sizeof(ApplicationIdField) == sizeof NOWGLOW_APPLICATION_ID_MARKER + ApplicationIdDigits + 1,
              "the field is the marker and the digits, nothing between or after");
