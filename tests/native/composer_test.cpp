// The composer: the second line's forms, the clock arguments of each time
// mode, the exact order of the player calls, and the release of every text
// the player hands out.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes/fakes.h"
#include "plugin/plugin_state.h"
#include "presence/composer.h"

namespace {

using Names = std::vector<std::string>;

const int64_t Now = 1700000000;

class Composer : public ::testing::Test {
protected:
    void SetUp() override {
        fake::Reset();
        fake::SetWallClock(Now);
        dsp = fake::BindPlugin();
        dsp->New();
        fake::SetTrack(fullTrack);
        fake::ClearCalls();
    }

    void TearDown() override {
        dsp->Free(nullptr);
        EXPECT_TRUE(fake::TextsBalanced()) << "every player text is released exactly once";
    }

    fake::Track fullTrack{"Artist - Title", "200", "Album", "1999", "MP3", 30.4};
    const XMPDSP* dsp = nullptr;
};

struct AlbumCase {
    const char* album;
    const char* date;
    const char* fileType;
    int32_t showAlbumDate;
    const char* line;
};

TEST_F(Composer, SecondLineNamesTheAlbumWithItsDateOrTheFileType) {
    const AlbumCase cases[] = {
        {"A", "D", "MP3", 1, "A (D)"},
        {"A", "D", "MP3", 0, "A"},
        {"A", "D", "MP3", -1, "A (D)"},  // any non-zero flag is on
        {"A", nullptr, "MP3", 1, "A"},
        {"A", "", "MP3", 1, "A ()"},  // an empty date is present
        {"", "D", "MP3", 1, " (D)"},  // an empty album is present
        {nullptr, "D", "MP3", 1, "MP3 File"},
        {nullptr, nullptr, "MP3", 0, "MP3 File"},
        {nullptr, "D", "", 1, " File"},
        {nullptr, "D", nullptr, 1, ""},  // nothing known about the track
    };
    for (const AlbumCase& c : cases) {
        fake::Track track = fullTrack;
        track.album = c.album;
        track.date = c.date;
        track.fileType = c.fileType;
        fake::SetTrack(track);
        settings.showAlbumDate = c.showAlbumDate;
        TrackTitles titles = FetchTitles();
        TrackLines lines;
        ComposeTrackTexts(&titles, &lines);
        EXPECT_EQ(lines.detailsText, titles.formatted);
        EXPECT_EQ(lines.stateText, lines.albumLine);
        EXPECT_STREQ(lines.albumLine, c.line);
        ReleaseTitles(&titles);
    }
}

// A second line too long for Discord (128 UTF-16 units) is cut after a whole
// character and ends in an ellipsis; a year in parentheses stays whole, the
// album cut before it, unless the year itself leaves no room for that.
// What plays inside the item, when the player names it (tag -3: a stream's
// song, a CUE sheet's part), is the first line; without an album, the
// formatted title (a station's name) is the second when it names something
// else.
TEST_F(Composer, TheSongInsideAnItemIsTheFirstLineAndItsStationTheSecond) {
    const struct {
        const char* name;
        const char* itemTitle;
        const char* title;
        const char* album;
        const char* fileType;
        const char* details;
        const char* state;
    } cases[] = {
        {"a stream with a name", "Artist Two - Song B", "Nowglow Test Radio", nullptr, "MP3",
         "Artist Two - Song B", "Nowglow Test Radio"},
        {"a stream without a name", "Artist Two - Song B", "", nullptr, "MP3", "Artist Two - Song B",
         "MP3 File"},
        {"a stream without a formatted title", "Artist Two - Song B", nullptr, nullptr, "MP3",
         "Artist Two - Song B", "MP3 File"},
        {"a CUE part with its album", "Performer Two - Second Part", "Album Artist - Cue Album", "Cue Album",
         "WAV", "Performer Two - Second Part", "Cue Album (D)"},
        {"a CUE part without an album", "Performer Two - Second Part", "Album Artist - Cue Album", nullptr,
         "WAV", "Performer Two - Second Part", "Album Artist - Cue Album"},
        {"the song is the formatted title", "Strobe", "Strobe", nullptr, "MP3", "Strobe", "MP3 File"},
        {"an empty song", "", "Strobe", nullptr, "MP3", "Strobe", "MP3 File"},
        {"no song: a module", nullptr, "Space Debris", nullptr, "MOD", "Space Debris", "MOD File"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fake::Track track = fullTrack;
        track.itemTitle = c.itemTitle;
        track.title = c.title;
        track.album = c.album;
        track.date = "D";
        track.fileType = c.fileType;
        fake::SetTrack(track);
        fake::ClearCalls();
        dsp->Reset(nullptr);
        EXPECT_STREQ(fake::LastPresence().details.text, c.details);
        EXPECT_STREQ(fake::LastPresence().state.text, c.state);
        EXPECT_EQ(fake::CountCalls(fake::Call::GetTag), 6u) << "each tag asked once";
    }
}

TEST_F(Composer, ASecondLineTooLongForDiscordIsCutBeforeItsYear) {
    const std::string ellipsis = "\xE2\x80\xA6";
    const std::string cyrillic = "\xD0\x96";       // one unit, two bytes
    const std::string emoji = "\xF0\x9F\x8E\xB5";  // two units, four bytes
    auto times = [](const std::string& text, size_t count) {
        std::string repeated;
        for (size_t i = 0; i < count; i++) repeated += text;
        return repeated;
    };
    const struct {
        const char* name;
        std::string album;
        std::string date;
        const char* fileType;
        std::string line;
    } cases[] = {
        {"album and year of 128 units", std::string(121, 'a'), "1998", "MP3",
         std::string(121, 'a') + " (1998)"},
        {"one unit more: the album is cut", std::string(122, 'a'), "1998", "MP3",
         std::string(120, 'a') + ellipsis + " (1998)"},
        {"Cyrillic album", times(cyrillic, 121), "1998", "MP3", times(cyrillic, 121) + " (1998)"},
        {"Cyrillic album cut", times(cyrillic, 200), "1998", "MP3",
         times(cyrillic, 120) + ellipsis + " (1998)"},
        {"the cut would split a pair of units", std::string(119, 'a') + emoji + "b", "1998", "MP3",
         std::string(119, 'a') + ellipsis + " (1998)"},
        {"a date that leaves no room is cut with the line", "Album", std::string(130, '9'), "MP3",
         "Album (" + std::string(120, '9') + ellipsis},
        {"a date that leaves room for the ellipsis alone", "AB", std::string(124, '9'), "MP3",
         ellipsis + " (" + std::string(124, '9') + ")"},
        {"the file type cut at the end", "", "", nullptr, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fake::Track track = fullTrack;
        track.album = c.fileType == nullptr ? nullptr : c.album.c_str();
        track.date = c.date.c_str();
        const std::string longType(130, 't');
        track.fileType = c.fileType == nullptr ? longType.c_str() : c.fileType;
        fake::SetTrack(track);
        settings.showAlbumDate = 1;
        dsp->Reset(nullptr);
        const std::string expected = c.fileType == nullptr ? std::string(127, 't') + ellipsis : c.line;
        EXPECT_EQ(std::string(fake::LastPresence().state.text), expected);
        EXPECT_STREQ(fake::LastPresence().details.text, "Artist - Title");
    }
}

struct OrderCase {
    int32_t timeMode;
    Names calls;
    int64_t start;
    int64_t end;
};

TEST_F(Composer, PlayingTrackAsksThePlayerInTheOrderOfItsTimeMode) {
    const Names tags = {
        "GetTag(2)", "GetTag(3)", "GetTag(7)", "Free(2)", "Free(3)", "Free(7)", "Discord_UpdatePresence",
        "Free(-1)",  "Free(null)"};
    auto with = [&tags](Names head) {
        head.insert(head.end(), tags.begin(), tags.end());
        return head;
    };
    const OrderCase cases[] = {
        {TimeRemaining, with({"GetTag(-1)", "GetTag(-3)", "GetTime", "GetTag(-4)", "Free(-4)"}), 0,
         Now + 170},
        {TimeElapsed, with({"GetTag(-1)", "GetTag(-3)", "GetTime"}), Now - 30, 0},
        {TimeDisabled, with({"GetTag(-1)", "GetTag(-3)"}), 0, 0},
        {3, with({"GetTag(-1)", "GetTag(-3)", "GetTime"}), Now - 30, 0},
        {-1, with({"GetTag(-1)", "GetTag(-3)", "GetTime"}), Now - 30, 0},
    };
    for (const OrderCase& c : cases) {
        settings.timeMode = c.timeMode;
        fake::ClearCalls();
        fake::ForgetLastUpdate();  // a case may show the card the case before did
        PublishCurrentTrack();
        SCOPED_TRACE(testing::Message() << "timeMode " << c.timeMode);
        EXPECT_EQ(fake::CallNames(), c.calls);
        const fake::RecordedPresence& sent = fake::LastPresence();
        EXPECT_STREQ(sent.details.text, "Artist - Title");
        EXPECT_STREQ(sent.state.text, "Album (1999)");
        EXPECT_STREQ(sent.smallImageKey.text, "play");
        EXPECT_EQ(sent.startTimestamp, c.start);
        EXPECT_EQ(sent.endTimestamp, c.end);
    }
}

TEST_F(Composer, MissingTagsAreReleasedAsNullsInTheirPlace) {
    fake::SetTrack(fake::Track{});
    fake::ClearCalls();
    PublishCurrentTrack();
    EXPECT_EQ(fake::CallNames(), (Names{"GetTag(-1)", "GetTag(-3)", "GetTime", "GetTag(-4)", "Free(null)",
                                        "GetTag(2)", "GetTag(3)", "GetTag(7)", "Free(null)", "Free(null)",
                                        "Free(null)", "Discord_UpdatePresence", "Free(null)", "Free(null)"}));
    const fake::RecordedPresence& sent = fake::LastPresence();
    EXPECT_STREQ(sent.details.text, "");
    EXPECT_STREQ(sent.state.text, "");
    EXPECT_EQ(sent.startTimestamp, Now) << "no length: the clock counts up from position 0";
}

struct TimeCase {
    const char* length;
    double position;
    int32_t timeMode;
    int32_t expectedPosition;
    int32_t expectedLength;
};

TEST_F(Composer, TimeArgumentsConvertThePlayersAnswers) {
    const TimeCase cases[] = {
        {"215.7", 12.99, TimeRemaining, 12, 215},
        {"0", 12.0, TimeRemaining, 12, 0},
        {nullptr, 12.0, TimeRemaining, 12, 0},
        {"  -12x", 1.0, TimeRemaining, 1, -12},
        {"99999999999", 1e12, TimeRemaining, INT32_MIN, INT32_MAX},
        {"200", -0.9, TimeElapsed, 0, 0},
        {"200", 59.9, TimeElapsed, 59, 0},
        {"200", 59.9, TimeDisabled, -1, 0},
    };
    for (const TimeCase& c : cases) {
        fake::SetTag(TagLengthSeconds, c.length);
        fake::SetPosition(c.position);
        settings.timeMode = c.timeMode;
        const TimeArguments time = ReadTimeArguments();
        EXPECT_EQ(time.position, c.expectedPosition) << c.position;
        EXPECT_EQ(time.length, c.expectedLength) << (c.length ? c.length : "null");
    }
}

TEST_F(Composer, PausedSendsTheSameLinesWithoutAskingForTheTime) {
    PublishCurrentTrack();
    const fake::RecordedPresence playing = fake::LastPresence();
    fake::ClearCalls();
    PublishPlaybackState(Paused);
    EXPECT_EQ(fake::CallNames(),
              (Names{"GetTag(-1)", "GetTag(-3)", "GetTag(2)", "GetTag(3)", "GetTag(7)", "Free(2)", "Free(3)",
                     "Free(7)", "Discord_UpdatePresence", "Free(-1)", "Free(null)"}));
    const fake::RecordedPresence& sent = fake::LastPresence();
    EXPECT_STREQ(sent.details.text, playing.details.text);
    EXPECT_STREQ(sent.state.text, playing.state.text);
    EXPECT_STREQ(sent.smallImageKey.text, "pause");
    EXPECT_STREQ(sent.smallImageText.text, "Paused");
    EXPECT_EQ(sent.startTimestamp, 0);
    EXPECT_EQ(sent.endTimestamp, 0);
}

TEST_F(Composer, StoppedAsksThePlayerNothing) {
    for (int32_t mode : {TimeRemaining, TimeElapsed, TimeDisabled}) {
        settings.timeMode = mode;
        fake::ClearCalls();
        fake::ForgetLastUpdate();  // the same card again
        PublishPlaybackState(Stopped);
        EXPECT_EQ(fake::CallNames(), (Names{"Discord_UpdatePresence"}));
        const fake::RecordedPresence& sent = fake::LastPresence();
        EXPECT_STREQ(sent.details.text, "No tracks playing.");
        EXPECT_STREQ(sent.state.text, "");
        EXPECT_STREQ(sent.smallImageKey.text, "stopped");
        EXPECT_STREQ(sent.smallImageText.text, "Stopped");
        EXPECT_EQ(sent.startTimestamp, 0);
        EXPECT_EQ(sent.endTimestamp, 0);
    }
}

TEST_F(Composer, PlayingStateIsTheCurrentTrack) {
    PublishCurrentTrack();
    const Names direct = fake::CallNames();
    fake::ClearCalls();
    fake::ForgetLastUpdate();  // the same card again
    PublishPlaybackState(Playing);
    EXPECT_EQ(fake::CallNames(), direct);
    EXPECT_STREQ(fake::LastPresence().smallImageKey.text, "play");
}

TEST_F(Composer, OneCharacterTitleIsPaddedAndEmptyLinesStayEmpty) {
    fake::SetTag(TagFormattedTitle, "\xE2\x82\xAC");
    fake::SetTag(TagAlbum, "");
    fake::SetTag(TagDate, nullptr);
    PublishCurrentTrack();
    EXPECT_STREQ(fake::LastPresence().details.text, "\xE2\x82\xAC\xE2\x80\x8B");
    EXPECT_STREQ(fake::LastPresence().state.text, "");
    fake::SetTag(TagAlbum, "7");
    PublishCurrentTrack();
    EXPECT_STREQ(fake::LastPresence().state.text, "7\xE2\x80\x8B");
}

TEST_F(Composer, NothingIsAskedOutsideALiveInstance) {
    dsp->Free(nullptr);
    fake::ClearCalls();
    PublishCurrentTrack();
    PublishPlaybackState(Playing);
    PublishPlaybackState(Paused);
    PublishPlaybackState(Stopped);
    EXPECT_EQ(fake::CallCount(), 0u);
    dsp->New();
}

}  // namespace
