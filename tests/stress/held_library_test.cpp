// The publication lock and the instance's edges, driven from inside the
// library's calls: while one caller is held inside the fake library, what
// other threads may and may not get into it. A second publication must wait
// for the first to leave; nothing may reach the library while New opens the
// connection, nor from the start of Free's clear until the next New; and
// Free must wait for a publication already inside the library before it
// clears. Run under ThreadSanitizer.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "fakes/fakes.h"
#include "monitor/playback_monitor.h"
#include "plugin/plugin_state.h"

namespace {

using fake::Call;

const int64_t Now = 1700000000;
// How long anything that must happen may take, however busy the machine.
const uint32_t WaitMs = 10000;
// How long a thread that must be kept out of the library is given to get in
// anyway. It stands a few instructions from the library call, so a missing
// guard lets it in within microseconds; a sound one keeps it out for good.
const uint32_t KeptOutMs = 500;

const fake::Track First = {"First Title", "200", "First Album", "2001", "MP3", 30.0};
const fake::Track Second = {"Second Title", "200", "Second Album", "2002", "MP3", 30.0};

bool WaitUntil(const std::function<bool()>& condition, uint32_t timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

bool Finishes(const std::shared_future<void>& running) {
    return running.wait_for(std::chrono::milliseconds(WaitMs)) == std::future_status::ready;
}

class HeldLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        fake::Reset();
        fake::SetVersion(0x03080500u);
        fake::SetWallClock(Now);
        fake::SetTrack(First);
        fake::SetPlaying(1);
        dsp = fake::BindPlugin();
    }

    // A held caller must never outlive the test: letting everyone go ends
    // every thread the test started, and the fixture waits for them after
    // TearDown, however the test ended.
    void TearDown() override { fake::StopHoldingLibraryCalls(); }

    // Runs work on a thread of its own, reading the given track there.
    std::shared_future<void> OnAnotherThread(const fake::Track* track, std::function<void()> work) {
        std::shared_future<void> done = std::async(std::launch::async, [track, work = std::move(work)] {
                                            fake::SetThreadTrack(track);
                                            work();
                                            fake::SetThreadTrack(nullptr);
                                        }).share();
        running.push_back(done);
        return done;
    }

    // Every way another thread can publish: the four notifications, and a
    // tick that would publish Stopped, as the player no longer plays and the
    // monitor last published Playing. Runs them on a thread of its own and
    // expects them to finish: outside a live instance they wait for nothing.
    void PublishFromAnotherThread(const char* when) {
        std::shared_future<void> publishing = OnAnotherThread(&Second, [this] {
            dsp->NewTrack(nullptr, "C:\\Music\\second.mp3");
            dsp->NewTitle(nullptr, "Second Title");
            dsp->Reset(nullptr);
            dsp->NewTrack(nullptr, nullptr);
            fake::SetPlaying(0);
            publishedState = Playing;
            RunMonitorTick();
            fake::SetPlaying(1);
        });
        EXPECT_TRUE(Finishes(publishing)) << "a publication " << when << " waited for the held call";
    }

    const XMPDSP* dsp = nullptr;
    std::vector<std::shared_future<void>> running;
};

TEST_F(HeldLibrary, APublicationWaitsWhileAnotherIsInsideTheLibrary) {
    dsp->New();
    fake::HoldLibraryCalls({Call::DiscordUpdatePresence});
    std::shared_future<void> first = OnAnotherThread(&First, [this] { dsp->Reset(nullptr); });
    ASSERT_TRUE(fake::WaitForHeldLibraryCalls(Call::DiscordUpdatePresence, 1, WaitMs));

    // The second composes, reads the clock for its end time, and then needs
    // the lock, which the first still holds.
    const int clockReads = fake::ClockReads();
    std::shared_future<void> second = OnAnotherThread(&Second, [this] { dsp->NewTitle(nullptr, "ignored"); });
    ASSERT_TRUE(WaitUntil([clockReads] { return fake::ClockReads() > clockReads; }, WaitMs));
    EXPECT_FALSE(fake::WaitForHeldLibraryCalls(Call::DiscordUpdatePresence, 2, KeptOutMs))
        << "a second publication entered the library while the first was inside";
    EXPECT_EQ(second.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout)
        << "the second publication ended while the first was inside the library";
    EXPECT_EQ(fake::PresenceCount(), 1u);

    fake::StopHoldingLibraryCalls();
    ASSERT_TRUE(Finishes(first));
    ASSERT_TRUE(Finishes(second));
    ASSERT_EQ(fake::PresenceCount(), 2u);
    EXPECT_EQ(fake::MostCallersInsideLibrary(), 1u);
    EXPECT_STREQ(fake::PresenceAt(0).details.text, "First Title");
    EXPECT_STREQ(fake::PresenceAt(0).state.text, "First Album (2001)");
    EXPECT_STREQ(fake::PresenceAt(1).details.text, "Second Title");
    EXPECT_STREQ(fake::PresenceAt(1).state.text, "Second Album (2002)");
    dsp->Free(nullptr);
}

TEST_F(HeldLibrary, NothingReachesTheLibraryWhileNewOpensTheConnection) {
    fake::HoldLibraryCalls({Call::DiscordInitialize});
    std::shared_future<void> opening = OnAnotherThread(nullptr, [this] { dsp->New(); });
    ASSERT_TRUE(fake::WaitForHeldLibraryCalls(Call::DiscordInitialize, 1, WaitMs));
    PublishFromAnotherThread("while New opened the connection");
    EXPECT_EQ(fake::PresenceCount(), 0u)
        << "a presence reached the library before Discord_Initialize returned";

    fake::StopHoldingLibraryCalls();
    ASSERT_TRUE(Finishes(opening));
    EXPECT_EQ(fake::PresenceCount(), 0u) << "a presence held back during New went out afterwards";
    EXPECT_EQ(fake::MostCallersInsideLibrary(), 1u);

    // Once New has returned, the instance publishes.
    dsp->Reset(nullptr);
    EXPECT_EQ(fake::PresenceCount(), 1u);
    dsp->Free(nullptr);
}

TEST_F(HeldLibrary, NothingReachesTheLibraryFromFreesClearUntilTheNextNew) {
    dsp->New();
    dsp->Reset(nullptr);
    ASSERT_EQ(fake::PresenceCount(), 1u);

    fake::HoldLibraryCalls({Call::DiscordClearPresence, Call::DiscordShutdown});
    std::shared_future<void> freeing = OnAnotherThread(nullptr, [this] { dsp->Free(nullptr); });
    ASSERT_TRUE(fake::WaitForHeldLibraryCalls(Call::DiscordClearPresence, 1, WaitMs));
    PublishFromAnotherThread("while Free cleared the presence");
    EXPECT_EQ(fake::PresenceCount(), 1u) << "a presence reached the library while Free cleared it";

    fake::ReleaseHeldLibraryCalls();
    ASSERT_TRUE(fake::WaitForHeldLibraryCalls(Call::DiscordShutdown, 1, WaitMs));
    PublishFromAnotherThread("while Free shut the library down");
    EXPECT_EQ(fake::PresenceCount(), 1u) << "a presence reached the library while Free shut it down";

    fake::StopHoldingLibraryCalls();
    ASSERT_TRUE(Finishes(freeing));
    PublishFromAnotherThread("after Free");
    EXPECT_EQ(fake::PresenceCount(), 1u) << "a presence reached the library after Free";
    EXPECT_EQ(fake::MostCallersInsideLibrary(), 1u);
}

TEST_F(HeldLibrary, FreeWaitsForAPublicationInsideTheLibraryBeforeItClears) {
    dsp->New();
    fake::HoldLibraryCalls({Call::DiscordUpdatePresence});
    std::shared_future<void> publishing = OnAnotherThread(&First, [this] { dsp->Reset(nullptr); });
    ASSERT_TRUE(fake::WaitForHeldLibraryCalls(Call::DiscordUpdatePresence, 1, WaitMs));

    // Free stops the timer, then must wait for the publication to leave the
    // library before it closes the instance and clears the presence.
    std::shared_future<void> freeing = OnAnotherThread(nullptr, [this] { dsp->Free(nullptr); });
    ASSERT_TRUE(WaitUntil([] { return fake::CountCalls(Call::StopStatusTimer) == 1; }, WaitMs));
    EXPECT_FALSE(WaitUntil([] { return fake::ClearCount() != 0; }, KeptOutMs))
        << "Free cleared the presence while a publication was inside the library";

    fake::StopHoldingLibraryCalls();
    ASSERT_TRUE(Finishes(publishing));
    ASSERT_TRUE(Finishes(freeing));
    EXPECT_EQ(fake::MostCallersInsideLibrary(), 1u);
    const std::vector<std::string> libraryCalls = {"Discord_Initialize", "Discord_UpdatePresence",
                                                   "Discord_ClearPresence", "Discord_Shutdown"};
    std::vector<std::string> seen;
    for (const std::string& name : fake::CallNames()) {
        if (name.rfind("Discord_", 0) == 0) seen.push_back(name);
    }
    EXPECT_EQ(seen, libraryCalls);
}

}  // namespace
