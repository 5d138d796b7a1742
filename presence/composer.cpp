// The track summary composer: asks the player for the current track's title,
// clock and tags, turns them into the presence's two lines, publishes them,
// and releases every text the player handed out, null included, exactly once
// after its last use. Each publication composes into a TrackLines of its own,
// so publications on two threads share nothing until the publisher's lock.
#include "presence/composer.h"

#include <cstring>

#include "presence/conversions.h"
#include "presence/publisher.h"
#include "presence/text_buffer.h"

static const char StoppedDetails[] = "No tracks playing.";
static const char StoppedState[] = "";

// The clock arguments; at the track's start the position is 0 and the player
// is not asked for it.
static TimeArguments ReadTimeArgumentsFrom(bool trackStart) {
    TimeArguments arguments = {-1, 0};
    // Read once, so one composition follows one mode even if it changes meanwhile.
    const int32_t mode = settings.timeMode.load(std::memory_order_relaxed);
    if (mode == TimeDisabled) return arguments;
    arguments.position = trackStart ? 0 : SecondsToInt32(status->GetTime());
    if (mode == TimeRemaining) {
        char* lengthText = misc->GetTag(TagLengthSeconds);
        arguments.length = TextToInt32(lengthText);
        misc->Free(lengthText);
    }
    return arguments;
}

TimeArguments ReadTimeArguments(void) { return ReadTimeArgumentsFrom(false); }

// Appends the parts in order while the line stays within unitLimit units;
// true when all of them went in whole.
static bool AppendPartsWithin(LineBuilder* line, const char* const* parts, uint32_t count,
                              uint32_t unitLimit) {
    for (uint32_t index = 0; index < count; index++) {
        if (!AppendWithin(line, parts[index], unitLimit)) return false;
    }
    return true;
}

// The line made of the parts, cut at its end like any line too long for
// Discord: whole within LineUnitLimit units, else its longest prefix of
// whole characters that leaves a unit for the ellipsis, and the ellipsis.
// A one-unit line is padded when it is published.
static void FormatCutAtEnd(char* lineBuffer, const char* const* parts, uint32_t count) {
    LineBuilder line;
    StartLine(&line, lineBuffer);
    uint32_t units = 0;
    for (uint32_t index = 0; index < count; index++) units += MeasureUnits(parts[index], LineUnitLimit);
    if (units <= LineUnitLimit) {
        AppendPartsWithin(&line, parts, count, LineUnitLimit);
    } else {
        AppendPartsWithin(&line, parts, count, LineUnitLimit - 1);
        AppendEllipsis(&line);
    }
}

// The album and the date in parentheses. Too long for Discord, the album is
// cut before the date, which stays whole ("A Long Alb... (1998)"); a date
// too long for that makes the line cut at its end like any other.
static void FormatAlbumWithDate(char* lineBuffer, const char* album, const char* date) {
    const char* const parts[] = {album, " (", date, ")"};
    const uint32_t dateUnits = MeasureUnits(" (", LineUnitLimit) + MeasureUnits(date, LineUnitLimit) + 1;
    const uint32_t albumUnits = MeasureUnits(album, LineUnitLimit);
    if (albumUnits + dateUnits <= LineUnitLimit || dateUnits >= LineUnitLimit) {
        FormatCutAtEnd(lineBuffer, parts, 4);
        return;
    }
    LineBuilder line;
    StartLine(&line, lineBuffer);
    AppendWithin(&line, album, LineUnitLimit - 1 - dateUnits);
    AppendEllipsis(&line);
    AppendPartsWithin(&line, parts + 1, 3, LineUnitLimit);
}

// The second line: the album, with the date in parentheses when asked for and
// known; without an album, the station (or the item the song plays in) when
// there is one, else the file type followed by " File"; with neither,
// nothing, as there is nothing to say about the track.
static void FormatAlbumLine(char* line, const char* album, const char* date, const char* fileType,
                            const char* station) {
    if (!album && station) {
        FormatCutAtEnd(line, &station, 1);
        return;
    }
    if (!album) {
        const char* const parts[] = {fileType, " File"};
        if (!fileType) {
            line[0] = '\0';
            return;
        }
        FormatCutAtEnd(line, parts, 2);
        return;
    }
    if (settings.showAlbumDate.load(std::memory_order_relaxed) != 0 && date) {
        FormatAlbumWithDate(line, album, date);
        return;
    }
    FormatCutAtEnd(line, &album, 1);
}

TrackTitles FetchTitles(void) {
    TrackTitles titles;
    titles.formatted = misc->GetTag(TagFormattedTitle);
    titles.playing = misc->GetTag(TagItemTitle);
    return titles;
}

void ReleaseTitles(const TrackTitles* titles) {
    misc->Free(titles->formatted);
    misc->Free(titles->playing);
}

// Whether a text is present and not empty.
static bool HasText(const char* text) { return text != nullptr && text[0] != '\0'; }

// The formatted title as the second line: only when the first line is the
// song that plays inside the item and the formatted title names something
// else, as a station's name; else null.
static const char* StationOf(const TrackTitles* titles) {
    if (!HasText(titles->playing) || !HasText(titles->formatted)) return nullptr;
    if (std::strcmp(titles->playing, titles->formatted) == 0) return nullptr;
    return titles->formatted;
}

void ComposeTrackTexts(const TrackTitles* titles, TrackLines* lines) {
    lines->detailsText = HasText(titles->playing) ? titles->playing : titles->formatted;
    char* album = misc->GetTag(TagAlbum);
    char* date = misc->GetTag(TagDate);
    char* fileType = misc->GetTag(TagFileType);
    FormatAlbumLine(lines->albumLine, album, date, fileType, StationOf(titles));
    lines->stateText = lines->albumLine;
    misc->Free(album);
    misc->Free(date);
    misc->Free(fileType);
}

// The current track as Playing, with the clock of the time mode, from the
// track's start or from where it plays. The titles are released only after
// the publisher has copied them.
static TimeArguments PublishPlayingTrack(bool trackStart) {
    TrackTitles titles = FetchTitles();
    TimeArguments time = ReadTimeArgumentsFrom(trackStart);
    TrackLines lines;
    ComposeTrackTexts(&titles, &lines);
    PublishPresence(lines.detailsText, lines.stateText, Playing, time.position, time.length);
    ReleaseTitles(&titles);
    return time;
}

// The current track as Paused: the same lines, no clock, no time asked for.
static void PublishPausedTrack(void) {
    TrackTitles titles = FetchTitles();
    TrackLines lines;
    ComposeTrackTexts(&titles, &lines);
    PublishPresence(lines.detailsText, lines.stateText, Paused, -1, 0);
    ReleaseTitles(&titles);
}

TimeArguments PublishCurrentTrack(void) {
    if (!instanceLive.load()) return TimeArguments{-1, 0};
    return PublishPlayingTrack(false);
}

TimeArguments PublishOpenedTrack(void) {
    if (!instanceLive.load()) return TimeArguments{-1, 0};
    return PublishPlayingTrack(true);
}

void PublishPlaybackState(PlaybackState state) {
    if (!instanceLive.load()) return;
    switch (state) {
    case Paused: PublishPausedTrack(); break;
    case Stopped: PublishPresence(StoppedDetails, StoppedState, Stopped, -1, 0); break;
    default: PublishPlayingTrack(false); break;
    }
}

ClosedTrack PublishClosedTrackWhenDue(uint32_t nowMs) {
    return PublishIfTrackStaysClosed(StoppedDetails, StoppedState, nowMs);
}
