// The publisher: the record's initialisation, the version text, the badge and
// the clock of each publication, and the bounded copies of the two lines.
#include <gtest/gtest.h>

#include <cstring>
#include <future>
#include <string>
#include <thread>

#include "fakes/fakes.h"
#include "plugin/plugin_state.h"
#include "presence/publisher.h"

namespace {

const int64_t Now = 1700000000;
const std::string ZeroWidthSpace = "\xE2\x80\x8B";

class Publisher : public ::testing::Test {
protected:
    void SetUp() override {
        fake::Reset();
        fake::SetVersion(0x03080500u);
        fake::SetWallClock(Now);
        dsp = fake::BindPlugin();
        dsp->New();
        fake::ClearCalls();
    }

    void TearDown() override { dsp->Free(nullptr); }

    const XMPDSP* dsp = nullptr;
};

TEST_F(Publisher, InitialisationClearsEveryFieldButTheLargeImageKeyAndInstance) {
    std::memset(&presence, 0x5A, sizeof presence);
    InitialisePresenceRecord();
    EXPECT_EQ(presence.state, nullptr);
    EXPECT_EQ(presence.details, nullptr);
    EXPECT_EQ(presence.startTimestamp, 0);
    EXPECT_EQ(presence.endTimestamp, 0);
    EXPECT_STREQ(presence.largeImageKey, "icon");
    EXPECT_EQ(presence.largeImageText, nullptr);
    EXPECT_EQ(presence.smallImageKey, nullptr);
    EXPECT_EQ(presence.smallImageText, nullptr);
    EXPECT_EQ(presence.partyId, nullptr);
    EXPECT_EQ(presence.partySize, 0);
    EXPECT_EQ(presence.partyMax, 0);
    EXPECT_EQ(presence.matchSecret, nullptr);
    EXPECT_EQ(presence.joinSecret, nullptr);
    EXPECT_EQ(presence.spectateSecret, nullptr);
    EXPECT_EQ(presence.instance, 1);
    EXPECT_EQ(fake::CallCount(), 0u) << "initialisation sends and asks nothing";
}

// A caller held inside the player's GetVersion until the test lets it go.
std::promise<void> versionAsked;
std::shared_future<void> versionAnswered;
void HoldInsideGetVersion(void) {
    versionAsked.set_value();
    versionAnswered.wait();
}

// OK turns the version on and asks the player for it; while it waits there,
// SetConfig turns it off and installs the plain name. The text installed
// last must match the word held last, whichever caller formatted first.
TEST_F(Publisher, TheVersionTextInstalledLastMatchesTheWordHeldLast) {
    settings.showVersion = 0;
    UpdateVersionText();
    versionAsked = std::promise<void>();
    std::promise<void> answer;
    versionAnswered = answer.get_future().share();
    fake::SetGetVersionHook(HoldInsideGetVersion);

    std::thread turningOn([] {
        settings.showVersion = 1;
        UpdateVersionText();
    });
    versionAsked.get_future().wait();
    fake::SetGetVersionHook(nullptr);
    settings.showVersion = 0;
    UpdateVersionText();
    EXPECT_STREQ(versionText, "XMPlay");
    answer.set_value();
    turningOn.join();

    EXPECT_EQ(settings.showVersion.load(), 0);
    EXPECT_STREQ(versionText, "XMPlay") << "the text installed last is not the one for the word held";
    EXPECT_STREQ(largeImageTextBuffer, "XMPlay");
}

struct VersionCase {
    int32_t showVersion;
    uint32_t versionWord;
    const char* text;
    size_t versionQueries;
};

TEST_F(Publisher, VersionTextShowsTheVersionBytesFromTheTopOrThePlainName) {
    const VersionCase cases[] = {
        {1, 0x03080500u, "XMPlay v3.8.5.0", 1},
        {1, 0xFFFFFFFFu, "XMPlay v255.255.255.255", 1},
        {-7, 0x00000000u, "XMPlay v0.0.0.0", 1},  // any non-zero word is on
        {0, 0x03080500u, "XMPlay", 0},
    };
    for (const VersionCase& c : cases) {
        fake::SetVersion(c.versionWord);
        fake::ClearCalls();
        const size_t sentBefore = fake::PresenceCount();
        settings.showVersion = c.showVersion;
        UpdateVersionText();
        EXPECT_STREQ(versionText, c.text);
        EXPECT_STREQ(largeImageTextBuffer, c.text);
        EXPECT_EQ(presence.largeImageText, largeImageTextBuffer);
        EXPECT_EQ(fake::CountCalls(fake::Call::GetVersion), c.versionQueries);
        EXPECT_EQ(fake::PresenceCount(), sentBefore) << "the new text waits for the next publication";

        PublishPresence("Title", "Album", Paused, -1, 0);
        EXPECT_STREQ(fake::LastPresence().largeImageText.text, c.text);
    }
}

struct ClockCase {
    PlaybackState state;
    int32_t position;
    int32_t length;
    int64_t start;
    int64_t end;
    const char* badgeKey;
    const char* badgeText;
};

TEST_F(Publisher, BadgeAndClockFollowTheStateAndTheClockArguments) {
    const ClockCase cases[] = {
        {Playing, 30, 200, 0, Now + 170, "play", "Playing"},
        {Playing, 250, 200, 0, Now - 50, "play", "Playing"},
        {Playing, 0, 0, Now, 0, "play", "Playing"},
        {Playing, 75, -3, Now - 75, 0, "play", "Playing"},
        {Playing, -1, 0, 0, 0, "play", "Playing"},
        {Playing, -5, -5, 0, 0, "play", "Playing"},
        // length - position wraps at 32 bits before it is widened
        {Playing, INT32_MIN + 1, INT32_MAX, 0, Now - 2, "play", "Playing"},
        // an unknown position shows no clock, whatever the length
        {Playing, INT32_MIN, INT32_MAX, 0, 0, "play", "Playing"},
        {Playing, INT32_MIN, 200, 0, 0, "play", "Playing"},
        {Playing, INT32_MAX, INT32_MAX, 0, Now, "play", "Playing"},
        {Playing, INT32_MAX, 0, Now - INT32_MAX, 0, "play", "Playing"},
        {Paused, 30, 200, 0, 0, "pause", "Paused"},
        {Stopped, 30, 200, 0, 0, "stopped", "Stopped"},
    };
    for (const ClockCase& c : cases) {
        const int readsBefore = fake::ClockReads();
        PublishPresence("Title", "Album", c.state, c.position, c.length);
        const fake::RecordedPresence& sent = fake::LastPresence();
        SCOPED_TRACE(testing::Message()
                     << "state " << c.state << " position " << c.position << " length " << c.length);
        EXPECT_EQ(sent.startTimestamp, c.start);
        EXPECT_EQ(sent.endTimestamp, c.end);
        EXPECT_STREQ(sent.smallImageKey.text, c.badgeKey);
        EXPECT_STREQ(sent.smallImageText.text, c.badgeText);
        EXPECT_LE(fake::ClockReads() - readsBefore, 1) << "the clock is read once per publication";
    }
}

TEST_F(Publisher, EveryTextOfTheRecordPointsIntoAPluginBufferOrAConstant) {
    char playerText[] = "Title from the player";
    char line[] = "Album";
    PublishPresence(playerText, line, Playing, 30, 200);
    std::strcpy(playerText, "overwritten");
    std::strcpy(line, "gone");
    const fake::RecordedPresence& sent = fake::LastPresence();
    EXPECT_EQ(sent.address, AddressOf(&presence));
    EXPECT_EQ(sent.details.address, AddressOf(detailsBuffer));
    EXPECT_EQ(sent.state.address, AddressOf(stateBuffer));
    EXPECT_EQ(sent.largeImageText.address, AddressOf(largeImageTextBuffer));
    EXPECT_STREQ(presence.details, "Title from the player");
    EXPECT_STREQ(presence.state, "Album");
    EXPECT_STREQ(sent.largeImageKey.text, "icon");
    EXPECT_EQ(sent.instance, 1);
    EXPECT_TRUE(sent.partyId.isNull);
    EXPECT_TRUE(sent.matchSecret.isNull);
    EXPECT_TRUE(sent.joinSecret.isNull);
    EXPECT_TRUE(sent.spectateSecret.isNull);
}

TEST_F(Publisher, PausedAfterPlayingClearsTheClockAndCopiesTheLinesAfresh) {
    PublishPresence("One", "First", Playing, 30, 200);
    PublishPresence("Two", "Second", Paused, -1, 0);
    const fake::RecordedPresence& sent = fake::LastPresence();
    EXPECT_EQ(sent.startTimestamp, 0);
    EXPECT_EQ(sent.endTimestamp, 0);
    EXPECT_STREQ(sent.details.text, "Two");
    EXPECT_STREQ(sent.state.text, "Second");
    EXPECT_STREQ(sent.smallImageKey.text, "pause");
}

struct LineCase {
    std::string text;
    std::string sent;
};

TEST_F(Publisher, LinesGoOutWholeCutWithAnEllipsisOrPadded) {
    const std::string ellipsis = "\xE2\x80\xA6";
    const LineCase cases[] = {
        {std::string(128, 'a'), std::string(128, 'a')},
        {std::string(129, 'a'), std::string(127, 'a') + ellipsis},
        {std::string(500, 'a'), std::string(127, 'a') + ellipsis},
        {"x", "x" + ZeroWidthSpace},
        {"\xC3\xA9", "\xC3\xA9" + ZeroWidthSpace},
        {"xy", "xy"},
        {"", ""},
    };
    for (const LineCase& c : cases) {
        PublishPresence(c.text.c_str(), c.text.c_str(), Playing, -1, 0);
        const fake::RecordedPresence& sent = fake::LastPresence();
        EXPECT_EQ(std::string(sent.details.text), c.sent) << c.text.size() << " bytes";
        EXPECT_EQ(std::string(sent.state.text), c.sent) << c.text.size() << " bytes";
    }
    PublishPresence(nullptr, nullptr, Playing, -1, 0);
    EXPECT_STREQ(fake::LastPresence().details.text, "");
    EXPECT_FALSE(fake::LastPresence().details.isNull);
    EXPECT_STREQ(fake::LastPresence().state.text, "");
}

TEST_F(Publisher, NothingReachesTheLibraryOutsideALiveInstance) {
    dsp->Free(nullptr);
    fake::ClearCalls();
    PublishPresence("Title", "Album", Playing, 30, 200);
    EXPECT_EQ(fake::PresenceCount(), 0u);
    EXPECT_EQ(fake::CallCount(), 0u);
    dsp->New();
}

}  // namespace
