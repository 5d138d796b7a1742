// What a published track looks like for the tags the player has and the
// settings in force: the two lines, and the clock of each clock mode with
// the player calls it takes.
#include "harness/harness.h"

static void Restore(int32_t showAlbumDate, int32_t showVersion, int32_t timeMode) {
    int32_t words[3] = {showAlbumDate, showVersion, timeMode};
    EXPECT_EQ(PluginSetConfig(words, sizeof words), 1);
}

// Publishes the current track through Reset and returns the presence and
// the calls the plug-in made for it.
// Publishes the current track through Reset and gives the card Discord
// shows: the update sent, or, when the plug-in sent none because the card
// already showed what it composed, the last update sent before.
static std::optional<RecordedCall> PublishNow(std::string* order = nullptr) {
    uint32_t before = Mark();
    NotifyReset();
    uint32_t after = Mark();
    if (order != nullptr) *order = CallOrder(before, after);
    std::vector<RecordedCall> published = PresencesBetween(before, after);
    if (published.size() > 1) return std::nullopt;
    if (published.empty()) published = PresencesBetween(0, before);
    if (published.empty()) return std::nullopt;
    return published.back();
}

static std::optional<std::string> Missing(void) { return std::nullopt; }

TEST_F(PluginTest, TheTwoLinesFollowTheTagsAndTheDateFlag) {
    StartInstance();
    OpenTrack(FullTrack(), "C:\\Music\\strobe.mp3");
    // Discord measures a line in UTF-16 units, 128 at most: a longer one is
    // cut after a whole character and ends in an ellipsis.
    const std::string ellipsis = "\xE2\x80\xA6";
    auto times = [](const char* text, size_t count) {
        std::string repeated;
        for (size_t i = 0; i < count; i++) repeated += text;
        return repeated;
    };
    const std::string japanese100 = times("\xE6\x9D\xB1", 100);  // 300 bytes, 100 units
    const std::string cyrillic121 = times("\xD0\x96", 121);      // 242 bytes, 121 units
    const std::string latin300(300, 't');
    struct Case {
        const char* name;
        std::optional<std::string> title, album, date, fileType;
        int32_t showAlbumDate;
        std::string details;
        std::string state;
    };
    const Case cases[] = {
        {"album and date", "Strobe", "Witching Hour", "2005", "MP3", 1, "Strobe", "Witching Hour (2005)"},
        {"date not shown", "Strobe", "Witching Hour", "2005", "MP3", 0, "Strobe", "Witching Hour"},
        {"date flag 2", "Strobe", "Witching Hour", "2005", "MP3", 2, "Strobe", "Witching Hour (2005)"},
        {"date flag -1", "Strobe", "Witching Hour", "2005", "MP3", -1, "Strobe", "Witching Hour (2005)"},
        {"no date", "Strobe", "Witching Hour", Missing(), "MP3", 1, "Strobe", "Witching Hour"},
        {"no album", "Strobe", Missing(), "2005", "MP3", 1, "Strobe", "MP3 File"},
        {"no album, no date flag", "Strobe", Missing(), "2005", "OGG", 0, "Strobe", "OGG File"},
        {"empty album", "Strobe", "", "2005", "MP3", 1, "Strobe", " (2005)"},
        {"no title", Missing(), "Witching Hour", "2005", "MP3", 1, "", "Witching Hour (2005)"},
        {"a Japanese title of 100 characters", japanese100, "Witching Hour", "2005", "MP3", 1, japanese100,
         "Witching Hour (2005)"},
        {"a Latin title of 300 bytes", latin300, "Witching Hour", "2005", "MP3", 1,
         std::string(127, 't') + ellipsis, "Witching Hour (2005)"},
        {"a Cyrillic album line of 128 characters", "Strobe", cyrillic121, "2009", "MP3", 1, "Strobe",
         cyrillic121 + " (2009)"},
        {"one more: the album is cut before its year", "Strobe", cyrillic121 + "\xD0\x96", "2009", "MP3", 1,
         "Strobe", times("\xD0\x96", 120) + ellipsis + " (2009)"},
    };
    for (const Case& test : cases) {
        StandinTrack track;
        track.title = test.title;
        track.length = "200";
        track.album = test.album;
        track.date = test.date;
        track.fileType = test.fileType;
        SetTrack(track);
        Restore(test.showAlbumDate, 1, 0);
        std::optional<RecordedCall> published = PublishNow();
        ASSERT_TRUE(published) << test.name;
        EXPECT_EQ(Text(published->presence.details), test.details) << test.name;
        EXPECT_EQ(Text(published->presence.state), test.state) << test.name;
        EXPECT_FALSE(published->presence.details.truncated || published->presence.state.truncated)
            << test.name;
    }
}

TEST_F(PluginTest, EachClockModeReadsWhatItNeedsAndSetsItsClock) {
    StartInstance();
    OpenTrack(FullTrack(), "C:\\Music\\strobe.mp3");
    SeekTrack(30.5);
    enum Clock { Remaining, Elapsed, None };
    struct Case {
        const char* name;
        int32_t timeMode;
        std::optional<std::string> length;
        Clock clock;
        int64_t lengthSeconds;
        const char* order;
    };
    const char* remainingOrder =
        "GetTag(-1) GetTag(-3) GetTime GetTag(-4) Free(-4) GetTag(2) GetTag(3) GetTag(7) Free(2) Free(3) "
        "Free(7) Update "
        "Free(-1) Free(null)";
    const char* missingLengthOrder =
        "GetTag(-1) GetTag(-3) GetTime GetTag(-4) Free(null) GetTag(2) GetTag(3) GetTag(7) Free(2) Free(3) "
        "Free(7) "
        "Update "
        "Free(-1) Free(null)";
    const char* elapsedOrder =
        "GetTag(-1) GetTag(-3) GetTime GetTag(2) GetTag(3) GetTag(7) Free(2) Free(3) Free(7) Update Free(-1) "
        "Free(null)";
    const char* noClockOrder =
        "GetTag(-1) GetTag(-3) GetTag(2) GetTag(3) GetTag(7) Free(2) Free(3) Free(7) Update Free(-1) "
        "Free(null)";
    const Case cases[] = {
        {"remaining", 0, "200", Remaining, 200, remainingOrder},
        {"remaining, fractional length", 0, "215.7", Remaining, 215, remainingOrder},
        {"remaining, length 0", 0, "0", Elapsed, 0, remainingOrder},
        {"remaining, no length", 0, Missing(), Elapsed, 0, missingLengthOrder},
        {"elapsed", 1, "200", Elapsed, 0, elapsedOrder},
        {"disabled", 2, "200", None, 0, noClockOrder},
        {"mode 5 acts as elapsed", 5, "200", Elapsed, 0, elapsedOrder},
    };
    for (const Case& test : cases) {
        StandinTrack track = FullTrack();
        track.length = test.length;
        track.title = test.name;  // a card of its own: one like the last would not be sent
        SetTrack(track);
        Restore(1, 1, test.timeMode);
        std::string order;
        std::optional<RecordedCall> published = PublishNow(&order);
        ASSERT_TRUE(published) << test.name;
        EXPECT_EQ(order, test.order) << test.name;
        const RecordedPresence& presence = published->presence;
        switch (test.clock) {
        case Remaining: ExpectRemainingClock(*published, test.lengthSeconds); break;
        case Elapsed: ExpectElapsedClock(*published); break;
        case None:
            EXPECT_EQ(presence.startTimestamp, 0) << test.name;
            EXPECT_EQ(presence.endTimestamp, 0) << test.name;
            break;
        }
        EXPECT_EQ(Badge(*published), "play") << test.name;
    }
}

// Items that name what plays inside them, as the real player drives them:
// each card shows the song, and the station (or the album) on the second
// line; an opened CUE sheet's next part starts its clock at 0 although the
// player still reports the previous part's position for a moment.
TEST_F(PluginTest, StreamsCueSheetsAndModulesShowWhatPlays) {
    StartInstance();
    auto item = [](const std::optional<std::string>& title, const std::optional<std::string>& song,
                   const std::optional<std::string>& album, const char* length, const char* fileType) {
        StandinTrack track;
        track.title = title;
        track.itemTitle = song;
        track.album = album;
        track.length = length;
        track.fileType = fileType;
        return track;
    };
    auto lastCard = [](uint32_t since) {
        std::vector<RecordedCall> published = PresencesBetween(since, Mark());
        EXPECT_FALSE(published.empty()) << "nothing was published";
        return published.empty() ? RecordedPresence() : published.back().presence;
    };

    // A station with a name: one NewTrack, then NewTitle with each song.
    uint32_t since = Mark();
    OpenItem(item("Nowglow Test Radio", "Artist One - Song A", std::nullopt, "0", "MP3"),
             "http://127.0.0.1:8000/radio");
    RecordedPresence card = lastCard(since);
    EXPECT_EQ(Text(card.details), "Artist One - Song A");
    EXPECT_EQ(Text(card.state), "Nowglow Test Radio");
    since = Mark();
    NameSongInside("Artist Two - Song B");
    card = lastCard(since);
    EXPECT_EQ(Text(card.details), "Artist Two - Song B");
    EXPECT_EQ(Text(card.state), "Nowglow Test Radio");

    // A station without a name: the song and the file type.
    since = Mark();
    OpenItem(item("", "Artist Three - Song C", std::nullopt, "0", "MP3"), "http://127.0.0.1:8000/anonymous");
    card = lastCard(since);
    EXPECT_EQ(Text(card.details), "Artist Three - Song C");
    EXPECT_EQ(Text(card.state), "MP3 File");

    // A file with its CUE sheet beside it: each part's title as it comes.
    since = Mark();
    OpenItem(item("Album Artist - Cue Album", "Performer One - First Part", "Cue Album", "60", "WAV"),
             "C:\\Music\\album.wav");
    EXPECT_EQ(Text(lastCard(since).details), "Performer One - First Part");
    since = Mark();
    NameSongInside("Performer Two - Second Part");
    card = lastCard(since);
    EXPECT_EQ(Text(card.details), "Performer Two - Second Part");
    EXPECT_EQ(Text(card.state), "Cue Album");

    // The CUE sheet opened: each part its own entry, the next one opened
    // while the player still reports the previous part's position.
    OpenTrack(item("Performer One - First Part", std::nullopt, "Cue Album", "13", "WAV"),
              "C:\\Music\\album.cue");
    SeekTrack(12.0);
    since = Mark();
    PlayOnToCuePart(item("Performer Two - Second Part", std::nullopt, "Cue Album", "13", "WAV"),
                    "C:\\Music\\album.cue");
    std::vector<RecordedCall> parts = PresencesBetween(since, Mark());
    ASSERT_EQ(parts.size(), 1u) << "the part boundary showed more than the next part";
    EXPECT_EQ(Text(parts[0].presence.details), "Performer Two - Second Part");
    EXPECT_NEAR(SecondsLeft(parts[0]), 13.0, 5.0)
        << "the next part's clock took the previous part's position";
    std::optional<Tick> settled = WaitForTicks(Mark(), 2, 2 * TickMs + SlackMs);
    ASSERT_TRUE(settled);
    for (const RecordedCall& call : PresencesBetween(parts[0].sequence))
        EXPECT_NEAR(SecondsLeft(call), 13.0 - (call.wallClockMs - parts[0].wallClockMs) / 1000.0, 5.0)
            << "a tick showed the lingering position: " << Describe(call);

    // A tracker module: its name, its type, a fractional length.
    since = Mark();
    OpenItem(item("Space Debris", std::nullopt, std::nullopt, "15.36", "MOD"), "C:\\Music\\debris.mod");
    card = lastCard(since);
    EXPECT_EQ(Text(card.details), "Space Debris");
    EXPECT_EQ(Text(card.state), "MOD File");
}
