// The stand-in's print mode: each call as a person would see it on the
// Discord profile.
#pragma once

#include "tools/discord_standin/discord_recorder.h"

// Prints one recorded call to standard output, in colour only on a console.
void PrintRecordedCall(const RecordedCall* call);

// The clock Discord would show for the presence at the given moment:
// "2:51 left", "0:12 elapsed", or an empty text for none.
void FormatPresenceClock(char* out, size_t size, const RecordedPresence* presence, int64_t atMs);
