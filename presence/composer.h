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

// The two titles of the current item, as the player handed them out: what
// plays inside it when the player names it (a stream's song, a CUE sheet's
// part; tag -3) and the player's formatted title (tag -1).
struct TrackTitles {
    char* formatted;
    char* playing;
};

// Asks the player for tag -1, then tag -3.
TrackTitles FetchTitles(void);

// Releases both titles, tag -1 first.
void ReleaseTitles(const TrackTitles* titles);

// Sets lines from the titles (already fetched) and the album, date and file
// type tags, releasing those three tags. The titles are not released. The
// first line is what plays inside the item when the player names it, else
// the formatted title. The second line is the album; without one, the
// formatted title when the first line is the item's song and it names
// something else (a station), else the file type.
void ComposeTrackTexts(const TrackTitles* titles, TrackLines* lines);

// Publishes the current track as Playing, releasing every player text, and
// gives the clock arguments it was published with.
TimeArguments PublishCurrentTrack(void);

// The same for a track just opened, whose clock starts at its beginning:
// the player may still report the previous item's position for a moment,
// so the position is not asked.
TimeArguments PublishOpenedTrack(void);

// Publishes the presence for a newly inferred state.
void PublishPlaybackState(PlaybackState state);

// Publishes the stopped presence once a closed track has stayed closed for a
// second by nowMs (see PublishIfTrackStaysClosed).
ClosedTrack PublishClosedTrackWhenDue(uint32_t nowMs);
