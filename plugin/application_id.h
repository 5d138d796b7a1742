// The Discord application's ID as the DLL holds it: a fixed-size field, a
// marker and then the ID's decimal digits, zero-filled to the field's end,
// so that nowglow-appid.exe can find the one place in the file that holds
// the ID and rewrite it in place. The ID leaves no other trace in the DLL.
//
// An application ID is a snowflake: a 64-bit number that grows with time.
// Written in decimal it has 17 digits for the oldest applications, 18 for
// those of 2016 to 2022, 19 since, and 20 for the largest values.
#pragma once

#include <cstdint>

// The marker, with its terminating zero, just before the digits.
#define NOWGLOW_APPLICATION_ID_MARKER "XMP-Nowglow Discord application ID"

enum : uint32_t { ApplicationIdMinDigits = 17, ApplicationIdMaxDigits = 20 };

struct ApplicationIdField {
    char marker[sizeof NOWGLOW_APPLICATION_ID_MARKER];
    // The ID as Discord_Initialize receives it: its digits, then zeros to
    // the end, so that the text ends right after the last digit.
    char digits[ApplicationIdMaxDigits + 1];
};
static_assert(sizeof(ApplicationIdField) == sizeof NOWGLOW_APPLICATION_ID_MARKER + ApplicationIdMaxDigits + 1,
              "the field is the marker and the digits, nothing between or after");

// The largest 64-bit number, the largest ID, in decimal.
#define NOWGLOW_LARGEST_APPLICATION_ID "18446744073709551615"

namespace application_id_detail {

constexpr bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The number of decimal digits text starts with.
constexpr uint32_t LeadingDigits(const char* text) {
    uint32_t count = 0;
    while (IsDigit(text[count])) count++;
    return count;
}

// Whether the 20 digits at text stand at most at the largest ID: digit by
// digit, the first that differs decides.
constexpr bool AtMostLargest(const char* text) {
    const char* largest = NOWGLOW_LARGEST_APPLICATION_ID;
    for (uint32_t i = 0; i < ApplicationIdMaxDigits; i++) {
        if (text[i] != largest[i]) return text[i] < largest[i];
    }
    return true;
}

}  // namespace application_id_detail

// True when text is a Discord application ID: 17 to 20 ASCII decimal
// digits and nothing else, no leading zero, at most 18446744073709551615.
constexpr bool IsApplicationId(const char* text) {
    if (text == nullptr) return false;
    const uint32_t digits = application_id_detail::LeadingDigits(text);
    if (text[digits] != '\0') return false;
    if (digits < ApplicationIdMinDigits || digits > ApplicationIdMaxDigits) return false;
    if (text[0] == '0') return false;
    return digits < ApplicationIdMaxDigits || application_id_detail::AtMostLargest(text);
}
