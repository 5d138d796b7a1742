// A presence record as a stand-in of the presence library received it: a
// deep copy of every field, keeping no pointer of the caller's. The native
// fake of the library and the recording stand-in of discord-rpc.dll both
// record what they receive in this form. Portable: no Windows header.
#pragma once

#include <cstdint>

#include "presence/discord_rpc.h"

// Texts are copied with a bound well above the plug-in's 128-byte buffers, so
// that a text the plug-in should have refused shows up whole.
enum : uint32_t { RecordedTextSize = 512 };

// One text field as received.
struct RecordedText {
    char text[RecordedTextSize];  // the text, cut at RecordedTextSize - 1 bytes; empty when null
    uint32_t length;              // its full length (up to a 4096-byte bound)
    int32_t isNull;               // the field was a null pointer
    int32_t truncated;            // longer than the copy holds
    uintptr_t address;            // where the caller kept it (a number, never read again)
};

// A copy of every field of a DiscordRichPresence.
struct RecordedPresence {
    uintptr_t address;  // where the caller kept the record (a number, never read again)
    RecordedText state;
    RecordedText details;
    int64_t startTimestamp;
    int64_t endTimestamp;
    RecordedText largeImageKey;
    RecordedText largeImageText;
    RecordedText smallImageKey;
    RecordedText smallImageText;
    RecordedText partyId;
    int32_t partySize;
    int32_t partyMax;
    RecordedText matchSecret;
    RecordedText joinSecret;
    RecordedText spectateSecret;
    int8_t instance;
};

// Copies one text field; a text that is not terminated within 4096 bytes is
// measured no further.
void RecordText(RecordedText* out, const char* text);

// Copies every field of the record.
void RecordPresence(RecordedPresence* out, const DiscordRichPresence* in);

// The address of a buffer as a recorded field holds it.
inline uintptr_t AddressOf(const void* pointer) { return reinterpret_cast<uintptr_t>(pointer); }
