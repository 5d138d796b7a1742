// The track summary composer: asks the player for the current track's title,
// clock and tags, turns them into the presence's two lines, publishes them,
// and releases every text the player handed out, null included, exactly once
// after its last use. Each publication composes into a TrackLines of its own,
// so publications on two threads share nothing until the publisher's lock.
#include "presence/composer.h"

#include "presence/conversions.h"
#include "presence/publisher.h"
#include "presence/text_buffer.h"

static const char StoppedDetails[] = "No tracks playing.";
static const char StoppedState[] = "";

TimeArguments ReadTimeArguments(void) {
    TimeArguments arguments = {-1, 0};
    // Read once, so one composition follows one mode even if it changes meanwhile.
    const int32_t mode = settings.timeMode.load(std::memory_order_relaxed);
    if (mode == TimeDisabled) return arguments;
    arguments.position = SecondsToInt32(status->GetTime());
    if (mode == TimeRemaining) {
        char* lengthText = misc->GetTag(TagLengthSeconds);
        arguments.length = TextToInt32(lengthText);
        misc->Free(lengthText);
    }
    return arguments;
}

// The second line: the album, with the date in parentheses when asked for and
// known; without an album, the file type followed by " File"; with neither,
// nothing, as there is nothing to say about the track.
static void FormatAlbumLine(char* line, const char* album, const char* date, const char* fileType) {
    TextBuilder builder;
    StartText(&builder, line, TextBufferSize);
    if (!album) {
        if (!fileType) return;
        AppendText(&builder, fileType);
        AppendText(&builder, " File");
        return;
    }
    AppendText(&builder, album);
    if (settings.showAlbumDate.load(std::memory_order_relaxed) != 0 && date) {
        AppendText(&builder, " (");
        AppendText(&builder, date);
        AppendText(&builder, ")");
    }
}

void ComposeTrackTexts(const char* title, TrackLines* lines) {
    lines->detailsText = title;
    char* album = misc->GetTag(TagAlbum);
    char* date = misc->GetTag(TagDate);
    char* fileType = misc->GetTag(TagFileType);
    FormatAlbumLine(lines->albumLine, album, date, fileType);
    lines->stateText = lines->albumLine;
    misc->Free(album);
    misc->Free(date);
    misc->Free(fileType);
}

// The current track as Playing, with the clock of the time mode. The title is
// released only after the publisher has copied it.
static TimeArguments PublishPlayingTrack(void) {
    char* title = misc->GetTag(TagFormattedTitle);
    TimeArguments time = ReadTimeArguments();
    TrackLines lines;
    ComposeTrackTexts(title, &lines);
    PublishPresence(lines.detailsText, lines.stateText, Playing, time.position, time.length);
    misc->Free(title);
    return time;
}

// The current track as Paused: the same lines, no clock, no time asked for.
static void PublishPausedTrack(void) {
    char* title = misc->GetTag(TagFormattedTitle);
    TrackLines lines;
    ComposeTrackTexts(title, &lines);
    PublishPresence(lines.detailsText, lines.stateText, Paused, -1, 0);
    misc->Free(title);
}

TimeArguments PublishCurrentTrack(void) {
    if (!instanceLive.load()) return TimeArguments{-1, 0};
    return PublishPlayingTrack();
}

void PublishPlaybackState(PlaybackState state) {
    if (!instanceLive.load()) return;
    switch (state) {
    case Paused: PublishPausedTrack(); break;
    case Stopped: PublishPresence(StoppedDetails, StoppedState, Stopped, -1, 0); break;
    default: PublishPlayingTrack(); break;
    }
}

ClosedTrack PublishClosedTrackWhenDue(uint32_t nowMs) {
    return PublishIfTrackStaysClosed(StoppedDetails, StoppedState, nowMs);
}
