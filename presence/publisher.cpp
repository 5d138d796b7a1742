// The publisher: owns the presence record, its text buffers and the large
// image's hover text, and is the one place that hands the record to the
// library. The record and its buffers are written only under the publication
// lock, and the player is never called while the lock is held.
#include "presence/publisher.h"

#include "presence/conversions.h"
#include "presence/discord_rpc.h"
#include "presence/publication_lock.h"
#include "presence/text_buffer.h"
#include "presence/update_pacing.h"
#include "presence/wall_clock.h"

// The application's art asset behind the large image.
static const char LargeImageKey[] = "icon";

struct Badge {
    const char* key;   // the application's art asset behind the small image
    const char* text;  // its hover text
};

// Indexed by PlaybackState.
static const Badge badges[] = {
    {"play", "Playing"},
    {"pause", "Paused"},
    {"stopped", "Stopped"},
};

struct ClockStamps {
    int64_t start;
    int64_t end;
};

// How long a closed track waits for the next one before the card says so:
// the player closes a track just before it opens the next, half a second
// apart at most when the old track's tail still plays.
static const uint32_t ClosedTrackGraceMs = 1000;

// A track closed and none opened since; guarded by the publication lock.
static bool trackClosed;
static uint32_t trackClosedAtMs;

void InitialisePresenceRecord(void) {
    LockPublication();
    presence = DiscordRichPresence{};
    presence.largeImageKey = LargeImageKey;
    presence.instance = 1;
    NoteConnectionOpened();
    UnlockPublication();
}

// Formats the hover text into text (TextBufferSize bytes): the player's name
// and, when showVersion is non-zero, its version word as four bytes from the
// most significant down.
static void FormatVersionText(char* text, int32_t showVersion) {
    TextBuilder builder;
    StartText(&builder, text, TextBufferSize);
    AppendText(&builder, "XMPlay");
    if (showVersion == 0) return;
    uint32_t version = misc->GetVersion();
    AppendText(&builder, " v");
    for (uint32_t shift = 24;; shift -= 8) {
        AppendDecimal(&builder, (version >> shift) & 0xFFu);
        if (shift == 0) break;
        AppendText(&builder, ".");
    }
}

// Installs text as the hover text, measured and cut as any presence line.
// Called with the publication lock held.
static void InstallVersionText(const char* text) {
    CopyText(versionText, TextBufferSize, text);
    CopyLine(largeImageTextBuffer, versionText);
    presence.largeImageText = largeImageTextBuffer;
}

// The player is asked for its version outside the lock, so two callers that
// change showVersion at once can format in one order and install in the
// other. The word is therefore read again under the lock, and the text
// installed is the one for the word held then: the installation that comes
// last follows the last change of the word. The plain name needs no player
// call; the versioned text is formatted when the word asks for it, and once
// formatted it serves a second round.
void UpdateVersionText(void) {
    char plain[TextBufferSize];
    char versioned[TextBufferSize];
    FormatVersionText(plain, 0);
    bool haveVersioned = false;
    if (settings.showVersion.load(std::memory_order_relaxed) != 0) {
        FormatVersionText(versioned, 1);
        haveVersioned = true;
    }
    for (;;) {
        LockPublication();
        const bool showVersion = settings.showVersion.load(std::memory_order_relaxed) != 0;
        if (!showVersion || haveVersioned) {
            InstallVersionText(showVersion ? versioned : plain);
            UnlockPublication();
            return;
        }
        UnlockPublication();
        FormatVersionText(versioned, 1);
        haveVersioned = true;
    }
}

// The badge for a state; a value outside the three states shows as stopped.
static const Badge& BadgeFor(PlaybackState state) {
    if (state == Playing || state == Paused) return badges[state];
    return badges[Stopped];
}

// The timestamps of a presence: for Playing with a positive length and a
// known position an end time (Discord counts the remaining time down), else
// with a position of 0 or more a start time (it counts the elapsed time up),
// else none. An unknown position (the player's answer was no number) gives
// no clock rather than an end time decades in the past. The difference
// length - position wraps at 32 bits before it is widened. The wall clock is
// read at most once.
static ClockStamps ClockFor(PlaybackState state, int32_t position, int32_t length) {
    ClockStamps stamps = {0, 0};
    if (state != Playing) return stamps;
    if (length > 0 && position != UnknownSeconds) {
        stamps.end = ReadWallClock() + WrappingSubtract(length, position);
    } else if (position >= 0) {
        stamps.start = ReadWallClock() - position;
    }
    return stamps;
}

// Fills the record, notes the state the card is to show, and hands the
// record to the library when its pace allows; otherwise the record waits
// for the tick (SendHeldPresenceWhenDue). Called with the publication lock
// held; checked under it, so nothing reaches the library once the
// instance's end has cleared the live flag.
static void SendLocked(const char* detailsText, const char* stateText, PlaybackState state,
                       const ClockStamps& stamps) {
    if (!instanceLive.load()) return;
    const Badge& badge = BadgeFor(state);
    CopyLine(detailsBuffer, detailsText);
    CopyLine(stateBuffer, stateText);
    presence.details = detailsBuffer;
    presence.state = stateBuffer;
    presence.startTimestamp = stamps.start;
    presence.endTimestamp = stamps.end;
    presence.smallImageKey = badge.key;
    presence.smallImageText = badge.text;
    publishedState.store(state == Playing || state == Paused ? state : Stopped);
    if (PaceUpdate(&presence, ReadMonotonicMs()) == UpdateNow) Discord_UpdatePresence(&presence);
}

void PublishPresence(const char* detailsText, const char* stateText, PlaybackState state, int32_t position,
                     int32_t length) {
    ClockStamps stamps = ClockFor(state, position, length);
    LockPublication();
    SendLocked(detailsText, stateText, state, stamps);
    UnlockPublication();
}

void NoteTrackClosed(uint32_t nowMs) {
    LockPublication();
    trackClosed = true;
    trackClosedAtMs = nowMs;
    UnlockPublication();
}

void CancelClosedTrack(void) {
    LockPublication();
    trackClosed = false;
    UnlockPublication();
}

// Decided and sent under one hold of the lock: a track that opens meanwhile
// either cancels the close first or publishes itself after it.
ClosedTrack PublishIfTrackStaysClosed(const char* detailsText, const char* stateText, uint32_t nowMs) {
    LockPublication();
    ClosedTrack outcome = NoTrackClosed;
    if (trackClosed) {
        outcome = ClosedTrackWaiting;
        if (nowMs - trackClosedAtMs >= ClosedTrackGraceMs) {
            trackClosed = false;
            SendLocked(detailsText, stateText, Stopped, ClockStamps{0, 0});
            outcome = ClosedTrackPublished;
        }
    }
    UnlockPublication();
    return outcome;
}

void SendHeldPresenceWhenDue(void) {
    LockPublication();
    if (instanceLive.load() && HeldUpdateDue(&presence, ReadMonotonicMs())) Discord_UpdatePresence(&presence);
    UnlockPublication();
}

void EndPublications(void) {
    LockPublication();
    instanceLive.store(false);
    trackClosed = false;
    DropHeldUpdate();
    NoteClearSent(ReadMonotonicMs());
    UnlockPublication();
}
