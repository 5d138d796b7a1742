// The DLL's publication lock and the instance's edges, driven from inside
// the library's calls: the recording stand-in holds one caller inside the
// library while other threads of the player publish. A second publication
// must wait until the first has left; nothing may reach the library while
// New opens the connection, nor from the start of Free's clear until the
// next New; and Free must wait for a publication already inside the library
// before it clears.
#include <atomic>
#include <functional>
#include <future>
#include <vector>

#include "harness/harness.h"

// How long anything that must happen may take, however busy the machine.
static const uint32_t WaitMs = 10000;
// How long a thread that must be kept out of the library is given to get in
// anyway. It stands a few instructions from the library call, so a missing
// guard lets it in at once; a sound one keeps it out for good.
static const uint32_t KeptOutMs = 1000;

static const char TrackFile[] = "C:\\Music\\strobe.mp3";

static uint32_t Held(int32_t kind) { return 1u << kind; }

static bool Finishes(const std::shared_future<void>& running) {
    return running.wait_for(std::chrono::milliseconds(WaitMs)) == std::future_status::ready;
}

class HeldLibraryTest : public PluginTest {
protected:
    void SetUp() override {
        PluginTest::SetUp();
        SetTrack(FullTrack());
        PauseTrack();
    }

    // A held caller must never outlive the test: letting everyone go ends
    // every thread the test started, before the instance is freed.
    void TearDown() override {
        Recorder_StopHolding();
        for (const std::shared_future<void>& thread : running)
            EXPECT_TRUE(Finishes(thread)) << "a thread of the test never ended";
        PluginTest::TearDown();
    }

    // New, then the instance's first tick. The player holds the track paused
    // while the instance starts out taking it for playing, so that tick
    // publishes Paused from the window thread (and the notifications then
    // compose the paused track); were it to come while a test holds a
    // publication inside the library, it would wait there on the window
    // thread, where Free must run, and add a presence the test did not make.
    // Later ticks find nothing changed and publish nothing. The track is
    // renamed after the tick, so that a notification shows a card of its
    // own: one like the card shown would not be sent.
    void StartInstanceAndFirstTick(void) {
        uint32_t starting = Mark();
        StartInstance();
        ASSERT_TRUE(WaitForTick(starting, TickMs + SlackMs)) << "the first tick never came";
        Rename("Strobe (Edit)");
    }

    static void Rename(const char* title) {
        StandinTrack track = FullTrack();
        track.title = title;
        SetTrack(track);
    }

    std::shared_future<void> OnAnotherThread(std::function<void()> work) {
        std::shared_future<void> done = std::async(std::launch::async, std::move(work)).share();
        running.push_back(done);
        return done;
    }

    // Every notification, sent from the player's audio thread and then from
    // a thread of its own, each expected to finish: outside a live instance
    // a notification waits for nothing.
    void NotifyFromOtherThreads(const char* when) {
        for (NotifyThread thread : {NotifyThread::Audio, NotifyThread::Caller}) {
            SetNotifyThread(thread);
            std::shared_future<void> notifying = OnAnotherThread([] {
                NotifyNewTrack(TrackFile);
                NotifyNewTitle("Strobe");
                NotifyReset();
                NotifyNewTrack(nullptr);
            });
            EXPECT_TRUE(Finishes(notifying)) << "a notification " << when << " waited for the held call";
        }
        SetNotifyThread(NotifyThread::Window);
    }

    std::vector<std::shared_future<void>> running;
};

TEST_F(HeldLibraryTest, APublicationWaitsWhileAnotherIsInsideTheLibrary) {
    StartInstanceAndFirstTick();
    uint32_t start = Mark();
    Recorder_HoldCalls(Held(RecordedUpdatePresence));
    SetNotifyThread(NotifyThread::Caller);
    std::atomic<DWORD> firstThread{0};
    OnAnotherThread([&firstThread] {
        firstThread = GetCurrentThreadId();
        NotifyReset();
    });
    ASSERT_TRUE(Recorder_WaitForHeld(RecordedUpdatePresence, 1, WaitMs));

    // The second has composed once it has released the file type's text;
    // then it needs the lock, which the first still holds.
    Rename("Strobe (Live)");
    std::atomic<DWORD> secondThread{0};
    std::shared_future<void> second = OnAnotherThread([&secondThread] {
        secondThread = GetCurrentThreadId();
        NotifyNewTitle("Strobe");
    });
    ASSERT_TRUE(WaitUntil(
        [&] {
            for (const PlayerCall& call : PlayerCallsBetween(start, SequenceEnd, PlayerCallKind::FreeText))
                if (call.threadId == secondThread && call.number == 7) return true;
            return false;
        },
        WaitMs))
        << "the second publication never composed";
    EXPECT_FALSE(Recorder_WaitForHeld(RecordedUpdatePresence, 2, KeptOutMs))
        << "a second publication entered the library while the first was inside";
    EXPECT_EQ(second.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout)
        << "the second publication ended while the first was inside the library";

    Recorder_StopHolding();
    ASSERT_TRUE(Finishes(second));
    // Only the two publications the test made count, in the order the lock
    // let them in.
    std::vector<RecordedCall> published;
    for (const RecordedCall& call : PresencesBetween(start))
        if (call.threadId == firstThread || call.threadId == secondThread) published.push_back(call);
    ASSERT_EQ(published.size(), 2u);
    EXPECT_EQ(published[0].threadId, firstThread.load());
    EXPECT_EQ(published[1].threadId, secondThread.load());
    EXPECT_EQ(Recorder_MostInsideAtOnce(), 1u) << "two callers were inside the library at once";
}

TEST_F(HeldLibraryTest, NothingReachesTheLibraryWhileNewOpensTheConnection) {
    uint32_t start = Mark();
    Recorder_HoldCalls(Held(RecordedInitialize));
    std::shared_future<void> opening = OnAnotherThread([this] { StartInstance(); });
    ASSERT_TRUE(Recorder_WaitForHeld(RecordedInitialize, 1, WaitMs));
    NotifyFromOtherThreads("while New opened the connection");
    EXPECT_TRUE(PresencesBetween(start).empty())
        << "a presence reached the library before it was initialised";

    Recorder_StopHolding();
    ASSERT_TRUE(Finishes(opening));
    EXPECT_TRUE(PresencesBetween(start).empty()) << "a presence held back during New went out afterwards";

    // Once New has returned, the instance publishes. The notification runs
    // on the window thread, so a tick there comes wholly before or after it:
    // the presences of ticks are not the notification's.
    uint32_t live = Mark();
    NotifyReset();
    uint32_t notified = Mark();
    size_t published = PresencesBetween(live, notified).size();
    for (const Tick& tick : TicksBetween(live, notified)) published -= PresencesIn(tick).size();
    EXPECT_EQ(published, 1u);
    EXPECT_EQ(Recorder_MostInsideAtOnce(), 1u);
}

TEST_F(HeldLibraryTest, NothingReachesTheLibraryFromFreesClearUntilTheNextNew) {
    StartInstanceAndFirstTick();
    Recorder_HoldCalls(Held(RecordedClearPresence) | Held(RecordedShutdown));
    uint32_t freeing = Mark();
    std::shared_future<void> ending = OnAnotherThread([this] { EndInstance(); });
    ASSERT_TRUE(Recorder_WaitForHeld(RecordedClearPresence, 1, WaitMs));
    NotifyFromOtherThreads("while Free cleared the presence");
    EXPECT_TRUE(PresencesBetween(freeing).empty()) << "a presence reached the library while Free cleared it";

    Recorder_ReleaseHeld();
    ASSERT_TRUE(Recorder_WaitForHeld(RecordedShutdown, 1, WaitMs));
    NotifyFromOtherThreads("while Free shut the library down");
    EXPECT_TRUE(PresencesBetween(freeing).empty())
        << "a presence reached the library while Free shut it down";

    Recorder_StopHolding();
    ASSERT_TRUE(Finishes(ending));
    NotifyFromOtherThreads("after Free");
    EXPECT_TRUE(PresencesBetween(freeing).empty()) << "a presence reached the library after Free";
    EXPECT_EQ(CallOrder(freeing, Mark()), "KillTimer Clear Shutdown");
    EXPECT_EQ(Recorder_MostInsideAtOnce(), 1u);
}

TEST_F(HeldLibraryTest, FreeWaitsForAPublicationInsideTheLibraryBeforeItClears) {
    StartInstanceAndFirstTick();
    Recorder_HoldCalls(Held(RecordedUpdatePresence));
    SetNotifyThread(NotifyThread::Audio);
    std::shared_future<void> publishing = OnAnotherThread([] { NotifyReset(); });
    ASSERT_TRUE(Recorder_WaitForHeld(RecordedUpdatePresence, 1, WaitMs));

    // Free stops the timer, then must wait for the publication to leave the
    // library before it closes the instance and clears the presence.
    uint32_t freeing = Mark();
    std::shared_future<void> ending = OnAnotherThread([this] { EndInstance(); });
    ASSERT_TRUE(WaitUntil(
        [&] { return !PlayerCallsBetween(freeing, SequenceEnd, PlayerCallKind::KillTimer).empty(); }, WaitMs))
        << "Free never began";
    EXPECT_FALSE(WaitUntil(
        [&] { return !DiscordCallsBetween(freeing, SequenceEnd, RecordedClearPresence).empty(); }, KeptOutMs))
        << "Free cleared the presence while a publication was inside the library";

    Recorder_StopHolding();
    ASSERT_TRUE(Finishes(publishing));
    ASSERT_TRUE(Finishes(ending));
    std::vector<RecordedCall> closing = DiscordCallsBetween(freeing, Mark());
    ASSERT_EQ(closing.size(), 2u);
    EXPECT_EQ(closing[0].kind, RecordedClearPresence);
    EXPECT_EQ(closing[1].kind, RecordedShutdown);
    EXPECT_EQ(Recorder_MostInsideAtOnce(), 1u) << "Free reached the library while a publication was inside";
}
