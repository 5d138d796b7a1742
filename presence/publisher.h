// The publisher: owns the presence record and is the one place that sends it.
#pragma once

#include <cstdint>

#include "plugin/plugin_state.h"

// Clears every field of the record, then sets the large image key and the
// instance flag. Sends nothing. Called by New after the library is initialised.
void InitialisePresenceRecord(void);

// Rebuilds the large image's hover text from the showVersion word held:
// the player's name with its version (non-zero) or the plain name (zero).
// The text installed matches the word as it stands under the publication
// lock. Sends nothing.
void UpdateVersionText(void);

// Copies the two lines into the record's buffers, sets the badge for the state
// and, for Playing, the clock from position and length (position -1 with
// length 0: no clock), notes the state as publishedState, and hands the
// record to the library: at once when the last update went out long enough
// ago, else at a later tick (see presence/update_pacing.h), not at all when
// the card already shows it. Does nothing outside a live instance.
void PublishPresence(const char* detailsText, const char* stateText, PlaybackState state, int32_t position,
                     int32_t length);

// A closed track's stopped presence is held back for a moment, as the
// player closes a track just before it opens the next: NoteTrackClosed
// starts the wait; CancelClosedTrack ends it (a track opened, or the
// instance ended).
void NoteTrackClosed(uint32_t nowMs);
void CancelClosedTrack(void);

enum ClosedTrack : int32_t {
    NoTrackClosed,         // no close waits: the tick goes on as usual
    ClosedTrackWaiting,    // a track closed less than a second ago: the next may yet open
    ClosedTrackPublished,  // the close stood a second: the two lines went out as Stopped
};

// Publishes the two lines as Stopped when a closed track has stayed closed
// for a second by nowMs, and says what it found.
ClosedTrack PublishIfTrackStaysClosed(const char* detailsText, const char* stateText, uint32_t nowMs);

// Hands a held record to the library once its time has come. The status
// timer's tick calls it.
void SendHeldPresenceWhenDue(void);

// Ends the instance's publications: from here nothing reaches the library,
// a held record and a waiting close are forgotten, and the clear that the
// caller sends next counts as the last update.
void EndPublications(void);
