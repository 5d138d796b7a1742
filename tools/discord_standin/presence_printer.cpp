// Prints what the recording stand-in receives the way the Discord profile
// would show it: the two lines, the clock as it reads on arrival, the large
// image and the badge with their hover texts. Plain text when standard output
// is not a console; a little colour when it is.
#include <windows.h>

#include <cinttypes>
#include <cstdio>

#include "tools/discord_standin/presence_printer.h"

// Discord's own buffers take at most 127 bytes of a text.
static const uint32_t DiscordTextLimit = 127;

// The console's colours, or zero when output goes elsewhere.
static WORD PlainAttributes(HANDLE console) {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(console, &info) == FALSE) return 0;
    return info.wAttributes;
}

// Switches the console colour; does nothing when output is not a console.
static void SetColour(HANDLE console, WORD plain, WORD colour) {
    if (plain == 0) return;
    fflush(stdout);
    SetConsoleTextAttribute(console, colour != 0 ? colour : plain);
}

// "m:ss" below an hour, "h:mm:ss" from an hour on.
static void FormatDuration(char* out, size_t size, int64_t seconds) {
    if (seconds < 0) seconds = 0;
    int64_t hours = seconds / 3600;
    int64_t minutes = seconds / 60 % 60;
    int64_t rest = seconds % 60;
    if (hours > 0)
        snprintf(out, size, "%" PRId64 ":%02" PRId64 ":%02" PRId64, hours, minutes, rest);
    else
        snprintf(out, size, "%" PRId64 ":%02" PRId64, minutes, rest);
}

void FormatPresenceClock(char* out, size_t size, const RecordedPresence* presence, int64_t atMs) {
    char duration[32];
    if (presence->endTimestamp != 0) {
        // A clock shows whole seconds, dropping the fraction, as Discord's does.
        int64_t left = (presence->endTimestamp * 1000 - atMs) / 1000;
        FormatDuration(duration, sizeof duration, left);
        snprintf(out, size, "%s left", duration);
    } else if (presence->startTimestamp != 0) {
        int64_t elapsed = (atMs - presence->startTimestamp * 1000) / 1000;
        FormatDuration(duration, sizeof duration, elapsed);
        snprintf(out, size, "%s elapsed", duration);
    } else if (size > 0) {
        out[0] = '\0';
    }
}

// The local time of day of a wall-clock stamp, "hh:mm:ss".
static void FormatArrival(char* out, size_t size, int64_t wallClockMs) {
    const uint64_t unixEpochTicks = 116444736000000000ULL;
    ULARGE_INTEGER ticks;
    ticks.QuadPart = static_cast<uint64_t>(wallClockMs) * 10000ULL + unixEpochTicks;
    FILETIME utc;
    utc.dwLowDateTime = ticks.LowPart;
    utc.dwHighDateTime = ticks.HighPart;
    SYSTEMTIME universal;
    SYSTEMTIME local;
    FileTimeToSystemTime(&utc, &universal);
    if (SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local) == FALSE) local = universal;
    snprintf(out, size, "%02u:%02u:%02u", local.wHour, local.wMinute, local.wSecond);
}

// One line of the profile: the text, "(empty)" or "(none)", and a note when
// the text is longer than Discord accepts.
static void PrintText(const char* label, const RecordedText* text) {
    if (text->isNull != 0)
        printf("%s(none)\n", label);
    else if (text->length == 0)
        printf("%s(empty)\n", label);
    else if (text->length > DiscordTextLimit)
        printf("%s%s  [%u bytes, more than Discord takes]\n", label, text->text, text->length);
    else
        printf("%s%s\n", label, text->text);
}

// The profile card for one presence.
static void PrintPresence(HANDLE console, WORD plain, const RecordedCall* call) {
    const RecordedPresence* presence = &call->presence;
    const char* indent = "          ";
    SetColour(console, plain, FOREGROUND_RED | FOREGROUND_GREEN | FOREGROUND_BLUE | FOREGROUND_INTENSITY);
    PrintText(indent, &presence->details);
    SetColour(console, plain, 0);
    PrintText(indent, &presence->state);
    char clock[64];
    FormatPresenceClock(clock, sizeof clock, presence, call->wallClockMs);
    SetColour(console, plain, FOREGROUND_RED | FOREGROUND_GREEN | FOREGROUND_INTENSITY);
    printf("%s%s\n", indent, clock[0] != '\0' ? clock : "(no clock)");
    SetColour(console, plain, 0);
    printf("%slarge image %s, hover: %s\n", indent,
           presence->largeImageKey.isNull != 0 ? "(none)" : presence->largeImageKey.text,
           presence->largeImageText.isNull != 0 ? "(none)" : presence->largeImageText.text);
    printf("%sbadge %s, hover: %s\n", indent,
           presence->smallImageKey.isNull != 0 ? "(none)" : presence->smallImageKey.text,
           presence->smallImageText.isNull != 0 ? "(none)" : presence->smallImageText.text);
}

void PrintRecordedCall(const RecordedCall* call) {
    HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
    WORD plain = PlainAttributes(console);
    char arrival[16];
    FormatArrival(arrival, sizeof arrival, call->wallClockMs);
    SetColour(console, plain, FOREGROUND_GREEN | FOREGROUND_BLUE | FOREGROUND_INTENSITY);
    printf("%s  ", arrival);
    SetColour(console, plain, 0);
    switch (call->kind) {
    case RecordedInitialize:
        printf("Discord: connected as application %s\n", call->applicationId.text);
        break;
    case RecordedUpdatePresence:
        if (call->presenceNull != 0) {
            printf("Discord: presence update without a record\n");
            break;
        }
        printf("Discord profile shows:\n");
        PrintPresence(console, plain, call);
        break;
    case RecordedClearPresence: printf("Discord: presence cleared, the profile shows nothing\n"); break;
    case RecordedShutdown: printf("Discord: connection closed\n"); break;
    default: printf("Discord: unknown call %d\n", call->kind); break;
    }
    SetColour(console, plain, 0);
    fflush(stdout);
}
