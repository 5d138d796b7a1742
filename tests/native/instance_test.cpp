// The instance's life and the player's notifications, against the fake player,
// the fake presence library and the fake Windows services.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fakes/fakes.h"
#include "plugin/plugin_state.h"

namespace {

using Names = std::vector<std::string>;

// What a call that must change nothing could change: the settings, the
// record and its buffers, and the monitor's variables.
struct PluginSnapshot {
    int32_t settingsWords[3];
    DiscordRichPresence record;
    std::string details, state, largeImageText, version;
    int32_t published, observed, guard;
    uint32_t blocks, lastBlocks;
};

PluginSnapshot TakeSnapshot(void) {
    PluginSnapshot snapshot;
    snapshot.settingsWords[0] = settings.showAlbumDate.load();
    snapshot.settingsWords[1] = settings.showVersion.load();
    snapshot.settingsWords[2] = settings.timeMode.load();
    snapshot.record = presence;
    snapshot.details = detailsBuffer;
    snapshot.state = stateBuffer;
    snapshot.largeImageText = largeImageTextBuffer;
    snapshot.version = versionText;
    snapshot.published = publishedState.load();
    snapshot.observed = observedState.load();
    snapshot.guard = expectedRemaining.load();
    snapshot.blocks = processCount.load();
    snapshot.lastBlocks = lastProcessCount;
    return snapshot;
}

bool SameRecord(const DiscordRichPresence& a, const DiscordRichPresence& b) {
    return a.state == b.state && a.details == b.details && a.startTimestamp == b.startTimestamp &&
           a.endTimestamp == b.endTimestamp && a.largeImageKey == b.largeImageKey &&
           a.largeImageText == b.largeImageText && a.smallImageKey == b.smallImageKey &&
           a.smallImageText == b.smallImageText && a.partyId == b.partyId && a.partySize == b.partySize &&
           a.partyMax == b.partyMax && a.matchSecret == b.matchSecret && a.joinSecret == b.joinSecret &&
           a.spectateSecret == b.spectateSecret && a.instance == b.instance;
}

void ExpectUnchanged(const PluginSnapshot& before, const PluginSnapshot& after) {
    EXPECT_EQ(0, std::memcmp(before.settingsWords, after.settingsWords, sizeof before.settingsWords));
    EXPECT_TRUE(SameRecord(before.record, after.record)) << "the record changed";
    EXPECT_EQ(before.details, after.details);
    EXPECT_EQ(before.state, after.state);
    EXPECT_EQ(before.largeImageText, after.largeImageText);
    EXPECT_EQ(before.version, after.version);
    EXPECT_EQ(before.published, after.published);
    EXPECT_EQ(before.observed, after.observed);
    EXPECT_EQ(before.guard, after.guard);
    EXPECT_EQ(before.blocks, after.blocks);
    EXPECT_EQ(before.lastBlocks, after.lastBlocks);
}

class InstanceTest : public ::testing::Test {
protected:
    void SetUp() override {
        fake::Reset();
        dsp = fake::BindPlugin();
        fake::SetVersion(0x03080500u);
        fake::SetTrack({"Song", "200", "Album", "1999", "MP3", 30.0});
        fake::SetPlaying(1);
    }

    // Starts a live instance and forgets the calls it made.
    void StartInstance() {
        instance = dsp->New();
        fake::ClearCalls();
    }

    const XMPDSP* dsp = nullptr;
    void* instance = nullptr;
};

TEST_F(InstanceTest, NewOpensTheConnectionThenStartsTheTimerAndSendsNothing) {
    fake::ClearCalls();
    EXPECT_EQ(reinterpret_cast<void*>(1), dsp->New());
    EXPECT_EQ((Names{"GetWindow", "Discord_Initialize", "GetVersion", "StartStatusTimer"}),
              fake::CallNames());
    EXPECT_EQ(fake::PlayerWindowHandle(), hostWindow);
    EXPECT_EQ(fake::PlayerWindowHandle(), fake::TimerWindow());
    EXPECT_EQ(0u, fake::PresenceCount());

    const fake::RecordedInitialize& init = fake::LastInitialize();
    EXPECT_EQ(18u, std::strlen(init.applicationId));
    EXPECT_EQ(std::string(init.applicationId).find_first_not_of("0123456789"), std::string::npos);
    EXPECT_EQ(1, init.autoRegister);
    EXPECT_TRUE(init.steamIdNull);
    ASSERT_FALSE(init.handlersNull);
}

TEST_F(InstanceTest, TheLibrarysEventsAndSetFormatChangeNothingAndCallNothing) {
    StartInstance();
    dsp->NewTrack(instance, "C:\\music\\song.mp3");
    const DiscordEventHandlers handlers = fake::LastInitialize().handlers;
    const std::vector<const void*> callbacks = {
        reinterpret_cast<const void*>(handlers.ready),
        reinterpret_cast<const void*>(handlers.disconnected),
        reinterpret_cast<const void*>(handlers.errored),
        reinterpret_cast<const void*>(handlers.joinGame),
        reinterpret_cast<const void*>(handlers.spectateGame),
        reinterpret_cast<const void*>(handlers.joinRequest),
    };
    for (const void* callback : callbacks) EXPECT_NE(nullptr, callback) << "every event has its handler";
    fake::ClearCalls();
    const size_t presences = fake::PresenceCount();
    const PluginSnapshot before = TakeSnapshot();

    // Every event the library can send, with what it carries, null included.
    DiscordUser user = {"1", "name", "0001", "avatar"};
    handlers.ready(&user);
    handlers.ready(nullptr);
    handlers.disconnected(1, "gone");
    handlers.errored(2, nullptr);
    handlers.joinGame("secret");
    handlers.spectateGame(nullptr);
    handlers.joinRequest(&user);
    // The sample format, whatever the record holds.
    const uint32_t format[4] = {44100, 2, 32, 0xFFFFFFFFu};
    dsp->SetFormat(instance, reinterpret_cast<const XMPFORMAT*>(format));
    dsp->SetFormat(instance, nullptr);

    EXPECT_TRUE(fake::CallNames().empty()) << "an event or SetFormat called out";
    EXPECT_EQ(presences, fake::PresenceCount());
    ExpectUnchanged(before, TakeSnapshot());
}

TEST_F(InstanceTest, NewInitialisesTheRecordAndTheDefaults) {
    fake::StoreSettings(0, 0, 5);
    presence.partySize = 4;
    presence.smallImageKey = "stale";
    StartInstance();
    EXPECT_EQ(1, settings.showAlbumDate);
    EXPECT_EQ(1, settings.showVersion);
    EXPECT_EQ(TimeRemaining, settings.timeMode);
    EXPECT_STREQ("icon", presence.largeImageKey);
    EXPECT_EQ(1, presence.instance);
    EXPECT_EQ(0, presence.partySize);
    EXPECT_EQ(nullptr, presence.smallImageKey);
    EXPECT_STREQ("XMPlay v3.8.5.0", presence.largeImageText);
}

TEST_F(InstanceTest, NewAndFreeLeaveTheMonitorsVariablesAlone) {
    publishedState = Stopped;
    observedState = Paused;
    expectedRemaining = 77;
    processCount = 12;
    lastProcessCount = 11;
    StartInstance();
    dsp->Free(instance);
    dsp->New();
    EXPECT_EQ(Stopped, publishedState.load());
    EXPECT_EQ(Paused, observedState.load());
    EXPECT_EQ(77, expectedRemaining);
    EXPECT_EQ(12u, processCount.load());
    EXPECT_EQ(11u, lastProcessCount);
}

TEST_F(InstanceTest, FreeStopsTheTimerThenClearsThenShutsDown) {
    StartInstance();
    dsp->Free(instance);
    EXPECT_EQ((Names{"StopStatusTimer", "Discord_ClearPresence", "Discord_Shutdown"}), fake::CallNames());
    EXPECT_FALSE(fake::TimerRunning());
}

TEST_F(InstanceTest, FreeEndsAnOpenDialogFirstAndLeavesTheSettings) {
    StartInstance();
    HostWindow dialog = reinterpret_cast<HostWindow>(0x5150);
    configDialog = dialog;
    fake::StoreSettings(0, 2, 1);
    dsp->Free(instance);
    EXPECT_EQ((Names{"EndConfigDialog", "StopStatusTimer", "Discord_ClearPresence", "Discord_Shutdown"}),
              fake::CallNames());
    EXPECT_EQ(dialog, fake::CallAt(0).pointer);
    // The dialog's own destruction clears it, not Free.
    EXPECT_EQ(dialog, configDialog);
    EXPECT_EQ(0, settings.showAlbumDate);
    EXPECT_EQ(2, settings.showVersion);
    EXPECT_EQ(1, settings.timeMode);
}

TEST_F(InstanceTest, SecondInstanceStartsFromTheDefaultsAgain) {
    StartInstance();
    const uint8_t restored[12] = {0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0};
    dsp->SetConfig(instance, restored, sizeof restored);
    dsp->Free(instance);
    instance = dsp->New();
    uint8_t block[12];
    EXPECT_EQ(12u, dsp->GetConfig(instance, block));
    const uint8_t defaults[12] = {1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(defaults, block, sizeof block));
    EXPECT_EQ(2u, fake::InitializeCount());
}

// Each notification in each state the monitor last saw, and what the
// presence shows after it (null: nothing is sent).
struct NotificationCase {
    const char* name;
    void (*notify)(const XMPDSP* dsp);
    PlaybackState observed;
    const char* details;
    const char* badge;
};

void OpenTrack(const XMPDSP* d) { d->NewTrack(nullptr, "C:\\music\\song.mp3"); }
void OpenEmptyName(const XMPDSP* d) { d->NewTrack(nullptr, ""); }
void CloseTrack(const XMPDSP* d) { d->NewTrack(nullptr, nullptr); }
void ResetAfterSeek(const XMPDSP* d) { d->Reset(nullptr); }
void RetitleNotAsPassed(const XMPDSP* d) { d->NewTitle(nullptr, "Something else"); }
void RetitleNull(const XMPDSP* d) { d->NewTitle(nullptr, nullptr); }

const NotificationCase notificationCases[] = {
    {"opened track", OpenTrack, Paused, "Song", "play"},
    {"opened track while stopped", OpenTrack, Stopped, "Song", "play"},
    {"opened track with an empty file name", OpenEmptyName, Stopped, "Song", "play"},
    {"closed track: waits for the next", CloseTrack, Playing, nullptr, nullptr},
    {"reset while playing", ResetAfterSeek, Playing, "Song", "play"},
    {"reset while paused", ResetAfterSeek, Paused, "Song", "pause"},
    {"reset while stopped", ResetAfterSeek, Stopped, "No tracks playing.", "stopped"},
    {"new title, not the one passed", RetitleNotAsPassed, Playing, "Song", "play"},
    {"new title while paused", RetitleNotAsPassed, Paused, "Song", "pause"},
    {"new title, null", RetitleNull, Playing, "Song", "play"},
};

TEST_F(InstanceTest, EveryNotificationPublishesAtOnceInTheStateTheMonitorSaw) {
    for (const NotificationCase& c : notificationCases) {
        SCOPED_TRACE(c.name);
        fake::Reset();
        dsp = fake::BindPlugin();
        fake::SetTrack({"Song", "200", "Album", "1999", "MP3", 30.0});
        fake::SetPlaying(1);
        StartInstance();
        publishedState = c.observed == Playing ? Paused : Playing;
        observedState = c.observed;
        expectedRemaining = 40;
        lastProcessCount = 3;
        processCount = 3;

        c.notify(dsp);

        EXPECT_TRUE(fake::TextsBalanced());
        EXPECT_EQ(40, expectedRemaining) << "the guard is the tick's own";
        EXPECT_EQ(3u, lastProcessCount);
        EXPECT_EQ(3u, processCount.load());
        if (c.details == nullptr) {
            EXPECT_EQ(0u, fake::PresenceCount());
            continue;
        }
        ASSERT_EQ(1u, fake::PresenceCount());
        const fake::RecordedPresence& sent = fake::LastPresence();
        const std::string badge = c.badge;
        EXPECT_STREQ(c.details, sent.details.text);
        EXPECT_STREQ(badge == "stopped" ? "" : "Album (1999)", sent.state.text);
        EXPECT_EQ(badge, sent.smallImageKey.text);
        // An opened track's clock starts at its beginning, whatever the
        // player still says of the previous one; a seek's is where it plays.
        const bool opened = std::string(c.name).rfind("opened", 0) == 0;
        EXPECT_EQ(badge != "play" ? 0
                  : opened        ? fake::DefaultNow + 200
                                  : fake::DefaultNow + 170,
                  sent.endTimestamp);
        EXPECT_EQ(0, sent.startTimestamp);
        const PlaybackState shown = badge == "play" ? Playing : badge == "pause" ? Paused : Stopped;
        EXPECT_EQ(shown, publishedState.load()) << "the publication is what the card shows";
        EXPECT_EQ(std::string(c.name).rfind("opened", 0) == 0 ? Playing : c.observed, observedState.load());
    }
}

TEST_F(InstanceTest, NotificationsOutsideALiveInstanceReachNeitherThePlayerNorTheLibrary) {
    // Before the first New, and after Free.
    for (int phase = 0; phase < 2; ++phase) {
        SCOPED_TRACE(phase == 0 ? "before New" : "after Free");
        if (phase == 1) {
            StartInstance();
            dsp->Free(instance);
        }
        fake::ClearCalls();
        const size_t presencesBefore = fake::PresenceCount();
        for (const NotificationCase& c : notificationCases) c.notify(dsp);
        EXPECT_EQ(presencesBefore, fake::PresenceCount());
        EXPECT_TRUE(fake::CallNames().empty());

        const uint32_t before = processCount.load();
        EXPECT_EQ(0u, dsp->Process(instance, nullptr, 0));
        EXPECT_EQ(before + 1u, processCount.load());
    }
}

TEST_F(InstanceTest, ProcessCountsEveryBlockAndWraps) {
    StartInstance();
    float samples[8] = {0.5f, -0.5f, 0.25f, -0.25f, 0, 0, 1, -1};
    const float original[8] = {0.5f, -0.5f, 0.25f, -0.25f, 0, 0, 1, -1};
    processCount = 0xFFFFFFFEu;
    EXPECT_EQ(0u, dsp->Process(instance, samples, 4));
    EXPECT_EQ(0xFFFFFFFFu, processCount.load());
    EXPECT_EQ(0u, dsp->Process(instance, nullptr, 0));
    EXPECT_EQ(0u, processCount.load());
    for (size_t i = 0; i < 8; ++i) EXPECT_EQ(original[i], samples[i]) << "sample " << i;
    EXPECT_TRUE(fake::CallNames().empty());
}

}  // namespace
