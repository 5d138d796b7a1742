// The track summary composer: turns the player's tags into the presence's two
// lines and clock arguments, and publishes them.
#pragma once

#include <cstdint>

#include "plugin/plugin_state.h"
#include "presence/publisher.h"

// One publication's pending lines. Each publication composes into storage of
// its own, so two publications on two threads never share a line.
struct TrackLines {
    const char* detailsText;         // the title, or a constant text
    const char* stateText;           // albumLine, or a constant text
    char albumLine[TextBufferSize];  // the composed second line
};

// Clock arguments in whole seconds; position -1 with length 0 means no clock.
struct TimeArguments {
    int32_t position;
    int32_t length;
};

// Reads the position and, in TimeRemaining mode, the length from the player.
TimeArguments ReadTimeArguments(void);

// Sets lines from the title (already fetched) and the album, date and file
// type tags, releasing those three tags. The title is not released.
void ComposeTrackTexts(const char* title, TrackLines* lines);

// Publishes the current track as Playing, releasing every player text, and
// gives the clock arguments it was published with.
TimeArguments PublishCurrentTrack(void);

// Publishes the presence for a newly inferred state.
void PublishPlaybackState(PlaybackState state);

// Publishes the stopped presence once a closed track has stayed closed for a
// second by nowMs (see PublishIfTrackStaysClosed).
ClosedTrack PublishClosedTrackWhenDue(uint32_t nowMs);
