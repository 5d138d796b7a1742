// The instance's end and a new start: Free stops everything in order and
// nothing reaches the player or the library afterwards, not even once the
// plug-in is unloaded while the player's message loop runs on; a new New
// restores the default settings while the playback monitor carries on from
// where the previous instance left it.
#include <atomic>
#include <cstring>
#include <memory>

#include "harness/harness.h"

static const uint8_t DefaultBlock[12] = {1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0};

// Nothing of the plug-in ran between the two marks: no tick, no call to the
// player, no call to the library, no error seen by the player.
static void ExpectSilence(uint32_t after, uint32_t before) {
    EXPECT_TRUE(PlayerCallsBetween(after, before, PlayerCallKind::TickStart).empty()) << "a tick arrived";
    EXPECT_TRUE(PluginToPlayerCallsBetween(after, before).empty()) << "the plug-in called the player";
    EXPECT_TRUE(DiscordCallsBetween(after, before).empty()) << "the plug-in called the library";
    EXPECT_TRUE(PlayerErrors().empty());
}

TEST_F(PluginTest, FreeEndsEverythingAndNothingArrivesAfterwardsEvenUnloaded) {
    StartInstance();
    OpenTrack(FullTrack(), "C:\\Music\\strobe.mp3");
    std::optional<Tick> running = WaitForTick(Mark(), TickMs + SlackMs);
    ASSERT_TRUE(running) << "the timer never ticked";

    uint32_t freeing = Mark();
    EndInstance();
    uint32_t freed = Mark();
    EXPECT_EQ(CallOrder(freeing, freed), "KillTimer Clear Shutdown");
    std::vector<PlayerCall> kills = PlayerCallsBetween(freeing, freed, PlayerCallKind::KillTimer);
    ASSERT_EQ(kills.size(), 1u);
    EXPECT_EQ(kills[0].handle, reinterpret_cast<uintptr_t>(PlayerWindow()));
    EXPECT_EQ(kills[0].number, 0);
    EXPECT_EQ(kills[0].threadId, PlayerWindowThreadId());
    EXPECT_NE(kills[0].result, 0) << "KillTimer found no timer to kill";
    EXPECT_EQ(PluginTimersSet(), 0u) << "a timer of the plug-in is still set after Free";

    // The track plays on: blocks still reach Process, but no tick comes.
    uint32_t blocksAtFree = ProcessCallCount();
    Sleep(TickMs + TickMs / 4);
    EXPECT_GT(ProcessCallCount(), blocksAtFree) << "the player stopped feeding blocks";
    uint32_t beforeUnload = Mark();
    ExpectSilence(freed, beforeUnload);

    // Unloaded, the plug-in is gone from the process; the player's window
    // thread keeps dispatching messages, and no tick of a forgotten timer
    // arrives (the player would report one).
    Unload();
    EXPECT_EQ(GetModuleHandleA("XMP-Nowglow.dll"), nullptr) << "FreeLibrary left the plug-in mapped";
    Sleep(TickMs + TickMs / 4);
    // Shared with the window thread, which may run the work after a failed wait.
    std::shared_ptr<std::atomic<bool>> loopRuns = std::make_shared<std::atomic<bool>>(false);
    std::shared_future<void> posted = PostToWindowThread([loopRuns] { *loopRuns = true; });
    EXPECT_EQ(posted.wait_for(std::chrono::seconds(2)), std::future_status::ready);
    EXPECT_TRUE(*loopRuns);
    ExpectSilence(beforeUnload, Mark());
}

TEST_F(PluginTest, NewAfterFreeRestoresDefaultsAndKeepsTheMonitorsExpectation) {
    StartInstance();
    const uint8_t restored[12] = {0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0};
    EXPECT_EQ(PluginSetConfig(restored, sizeof restored), 1);
    OpenTrack(FullTrack(), "C:\\Music\\strobe.mp3");
    // The ticks judge the clock by the one the opening published: quiet.
    std::optional<Tick> first = WaitForTick(Mark(), TickMs + SlackMs);
    ASSERT_TRUE(first);
    ASSERT_TRUE(PresencesIn(*first).empty()) << "the opened track was published twice";
    std::optional<Tick> quiet = WaitForTick(first->end, TickMs + SlackMs);
    ASSERT_TRUE(quiet);
    ASSERT_TRUE(PresencesIn(*quiet).empty());

    // Free and New right after a tick, so that the track moves on by less
    // than a tick while no timer runs.
    EndInstance();
    uint32_t restarting = Mark();
    StartInstance();
    uint8_t block[16];
    memset(block, 0xEE, sizeof block);
    EXPECT_EQ(PluginGetConfig(block), 12u);
    EXPECT_EQ(memcmp(block, DefaultBlock, sizeof DefaultBlock), 0) << "New restores the defaults";
    EXPECT_EQ(block[12], 0xEE) << "GetConfig writes 12 bytes only";

    // Discord shows nothing for the new connection: its first tick
    // publishes the track playing, the clock where it stands; the monitor's
    // expectation carried over, so the tick after it is quiet.
    std::optional<Tick> restarted = WaitForTick(restarting, TickMs + SlackMs);
    ASSERT_TRUE(restarted);
    std::vector<RecordedCall> shown = PresencesIn(*restarted);
    ASSERT_EQ(shown.size(), 1u) << "the new instance's first tick did not show the track";
    EXPECT_EQ(Badge(shown[0]), "play");
    std::optional<Tick> after = WaitForTick(restarted->end, TickMs + SlackMs);
    ASSERT_TRUE(after);
    EXPECT_TRUE(PresencesIn(*after).empty()) << "the monitor's expectation was reset";

    // It follows the defaults again: version shown, album dated, remaining
    // time.
    EXPECT_EQ(Text(shown[0].presence.largeImageText), "XMPlay v3.8.5.0");
    EXPECT_EQ(Text(shown[0].presence.state), "For Lack of a Better Name (2009)");
    EXPECT_NE(shown[0].presence.endTimestamp, 0);
}

TEST_F(PluginTest, StoppedStateCarriesOverToTheNextInstance) {
    // Nothing plays: the first tick publishes the stopped presence once.
    uint32_t starting = Mark();
    StartInstance();
    std::optional<Tick> first = WaitForTick(starting, TickMs + SlackMs);
    ASSERT_TRUE(first);
    std::vector<RecordedCall> stopped = PresencesIn(*first);
    ASSERT_EQ(stopped.size(), 1u);
    EXPECT_EQ(Badge(stopped[0]), "stopped");
    EXPECT_EQ(CallOrder(first->start, first->end), "IsPlaying Update");

    // A new instance while the player is still stopped shows the stopped
    // presence again at its first tick (Discord shows nothing for the new
    // connection), and then nothing until playback starts.
    EndInstance();
    uint32_t restarting = Mark();
    StartInstance();
    std::optional<Tick> second = WaitForTicks(restarting, 2, 2 * TickMs + SlackMs);
    ASSERT_TRUE(second);
    std::vector<RecordedCall> again = PresencesBetween(restarting);
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(Badge(again[0]), "stopped");
    EXPECT_EQ(CallOrder(second->start, second->end), "IsPlaying");
}
