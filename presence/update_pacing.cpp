// Pacing of the updates handed to the library: at most one per Discord's
// window, the newest held meanwhile, none that repeats what the card shows.
// All state here is guarded by the publication lock, under which every
// function is called.
#include "presence/update_pacing.h"

#include <cstring>

#include "plugin/plugin_state.h"
#include "presence/text_buffer.h"

// Discord keeps one activity update per this long and drops the rest.
static const uint32_t DiscordWindowMs = 15000;
// The library's thread sends an update up to half a second after it is
// handed over; the other half second covers the tick count's steps (10 to
// 16 ms on Windows) and a thread that runs late.
static const uint32_t SendMarginMs = 1000;
// The first update of a new connection waits for the handshake, up to two
// seconds more, so Discord may see it that much later.
static const uint32_t ConnectDelayMs = 2000;
// Two clocks within this many seconds of each other show the same.
static const int64_t SameClockSeconds = 2;

// What the last update sent showed: its texts copied, so that the record's
// buffers may change after it.
struct SentCard {
    bool cleared;  // nothing shows: none sent yet, or the presence was cleared
    char details[TextBufferSize];
    char state[TextBufferSize];
    char largeImageText[TextBufferSize];
    const char* largeImageKey;  // constant texts: compared by content all the same
    const char* smallImageKey;
    const char* smallImageText;
    int64_t startTimestamp;
    int64_t endTimestamp;
};

static SentCard lastSent = {true, "", "", "", nullptr, nullptr, nullptr, 0, 0};
static uint32_t lastSentAtMs;     // when, on the monotonic clock
static uint32_t waitAfterLastMs;  // how long after it the next may go: none before the first
static bool connectionFresh;      // the next update is the first of its connection
static bool held;                 // a record waits for its turn

// Two texts the same, a null pointer being the empty text.
static bool SameText(const char* left, const char* right) {
    return std::strcmp(left != nullptr ? left : "", right != nullptr ? right : "") == 0;
}

// Two timestamps that show the same clock: both absent, or both present
// and within SameClockSeconds.
static bool SameStamp(int64_t left, int64_t right) {
    if ((left == 0) != (right == 0)) return false;
    const int64_t apart = left > right ? left - right : right - left;
    return apart <= SameClockSeconds;
}

// Whether the record shows what the last update sent shows.
static bool ShowsLastSent(const DiscordRichPresence* record) {
    if (lastSent.cleared) return false;
    return SameText(record->details, lastSent.details) && SameText(record->state, lastSent.state) &&
           SameText(record->largeImageKey, lastSent.largeImageKey) &&
           SameText(record->largeImageText, lastSent.largeImageText) &&
           SameText(record->smallImageKey, lastSent.smallImageKey) &&
           SameText(record->smallImageText, lastSent.smallImageText) &&
           SameStamp(record->startTimestamp, lastSent.startTimestamp) &&
           SameStamp(record->endTimestamp, lastSent.endTimestamp);
}

// Whether an update handed over at nowMs keeps Discord's window. The
// difference wraps at 32 bits; the clock is read under the lock, so it is
// never behind lastSentAtMs (after 49.7 quiet days the wrap may hold one
// update for a few seconds, no more).
static bool WindowOpen(uint32_t nowMs) { return nowMs - lastSentAtMs >= waitAfterLastMs; }

static void NoteSent(uint32_t nowMs) {
    lastSentAtMs = nowMs;
    waitAfterLastMs = DiscordWindowMs + SendMarginMs + (connectionFresh ? ConnectDelayMs : 0);
    connectionFresh = false;
    held = false;
}

// Keeps what the record shows as the last update sent.
static void RememberCard(const DiscordRichPresence* record) {
    lastSent.cleared = false;
    CopyText(lastSent.details, TextBufferSize, record->details != nullptr ? record->details : "");
    CopyText(lastSent.state, TextBufferSize, record->state != nullptr ? record->state : "");
    CopyText(lastSent.largeImageText, TextBufferSize,
             record->largeImageText != nullptr ? record->largeImageText : "");
    lastSent.largeImageKey = record->largeImageKey;
    lastSent.smallImageKey = record->smallImageKey;
    lastSent.smallImageText = record->smallImageText;
    lastSent.startTimestamp = record->startTimestamp;
    lastSent.endTimestamp = record->endTimestamp;
}

UpdatePace PaceUpdate(const DiscordRichPresence* record, uint32_t nowMs) {
    if (ShowsLastSent(record)) {
        held = false;
        return UpdateUnchanged;
    }
    if (!WindowOpen(nowMs)) {
        held = true;
        return UpdateHeld;
    }
    RememberCard(record);
    NoteSent(nowMs);
    return UpdateNow;
}

bool HeldUpdateDue(const DiscordRichPresence* record, uint32_t nowMs) {
    if (!held || !WindowOpen(nowMs)) return false;
    RememberCard(record);
    NoteSent(nowMs);
    return true;
}

void DropHeldUpdate(void) { held = false; }

void NoteClearSent(uint32_t nowMs) {
    lastSent.cleared = true;
    NoteSent(nowMs);
}

void NoteConnectionOpened(void) { connectionFresh = true; }
