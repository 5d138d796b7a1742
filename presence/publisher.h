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
// length 0: no clock), then hands the record to the library. Does nothing
// outside a live instance.
void PublishPresence(const char* detailsText, const char* stateText, PlaybackState state, int32_t position,
                     int32_t length);
