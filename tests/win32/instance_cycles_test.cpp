// Many instances in a row, as a player does when the user switches the
// plug-in on and off: each New and Free pair up with the library's
// initialisation and shutdown and with the timer's start and stop; nothing
// of the plug-in runs between a Free and the next New, whatever
// notifications arrive; no handle, GDI object or window is left behind; and
// once the plug-in is unloaded the player's message loop runs on without
// ever entering it. The same with notifications racing the instance's end
// from the audio thread, and with the settings dialog open at every Free.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>

#include "harness/harness.h"

// Cycles run before the counts are taken: Wine and the C runtime make some
// of their objects on first use and keep them.
static const int WarmUpCycles = 5;
static const int Cycles = 200;
// A count is taken after the warm-up and after every this many cycles.
static const int CyclesBetweenPoints = 20;
// Every this many cycles the instance lives until its timer has ticked, so
// that the timer of a late instance is known to run, and its Free to stop it.
static const int TickingCycleEvery = 50;
// What the process holds is counted at evenly spaced points of a run, each
// time once the player's message loop has dispatched what was pending and
// two counts in a row agree: a dialog just destroyed, or a paint under way,
// no longer counts. A leak shows as growth along the run: the least count
// at its last points must not stand above the greatest at its first points
// by more than a slack, while a leak of one object a cycle adds dozens.
// Handles the process may gain without a fault of the plug-in: winpthreads
// makes the event behind a std::mutex the first time the lock is contended
// and keeps it for the lock's life, and the stand-in's log, track and text
// locks can first be contended at any point of a run.
static const uint32_t HandleSlack = 4;
// GDI and USER objects the process may gain the same way: Wine makes a
// few objects of its own the first time it needs them (three at once, late
// in a dialog run on a loaded machine). A leak of one object a dialog adds
// twenty over the half of the dialog run that is judged.
static const uint32_t ObjectSlack = 4;
// The points at each end of a run that the growth check compares.
static const size_t EndPoints = 3;
// A count is the least of this many samples a little apart (an object of a
// paint under way at one sample is gone at the next), and it has settled
// when two counts in a row agree, or after this many rounds.
static const int CountSamples = 5;
static const DWORD CountSpacingMs = 20;
static const int SettleRounds = 25;

static const int RacingCycles = 50;
// The player takes this long over each call it answers on the audio thread,
// so that a notification's composition lasts some 15 ms and Free nearly
// always comes while one is under way.
static const DWORD AudioThreadAnswerDelayMs = 1;
// The pause between one instance's Free and the next New: longer than a
// composition, so that one under way at Free ends before the next New.
static const DWORD BetweenInstancesMs = 25;

static const int DialogWarmUpCycles = 3;
// The dialog's run is judged from its middle on: whatever Wine fills once
// (a cache of the first paints, say) has filled by then, while a leak of
// one object a dialog adds one at every cycle of the second half.
static const int DialogCycles = 40;
static const char DialogCaption[] = "XMPlay Nowglow Configuration";
enum : int { ShowAlbumDateControl = 1004 };
static const int DialogWaitMs = 5000;

// How long the player's message loop runs on after the plug-in is unloaded.
static const DWORD AfterUnloadMs = 5000;

static const char TrackFile[] = "C:\\Music\\cycle.mp3";

// What the process holds.
struct Holdings {
    uint32_t handles;
    uint32_t gdiObjects;
    uint32_t userObjects;
};

static Holdings Count(void) {
    Holdings least = {UINT32_MAX, UINT32_MAX, UINT32_MAX};
    for (int sample = 0; sample < CountSamples; ++sample) {
        if (sample != 0) Sleep(CountSpacingMs);
        least.handles = std::min(least.handles, ProcessHandleCount());
        least.gdiObjects = std::min(least.gdiObjects, GdiObjectCount());
        least.userObjects = std::min(least.userObjects, UserObjectCount());
    }
    return least;
}

static bool operator==(const Holdings& left, const Holdings& right) {
    return left.handles == right.handles && left.gdiObjects == right.gdiObjects &&
           left.userObjects == right.userObjects;
}

// The count once the player's message loop has run dry and it holds still.
static Holdings SettledCount(void) {
    Holdings previous = Count();
    for (int round = 0; round < SettleRounds; ++round) {
        AwaitPosted(PostToWindowThread([] {}), "the window thread to run work posted between two counts");
        Holdings now = Count();
        if (now == previous) return now;
        previous = now;
    }
    return previous;
}

// Counts taken along a run; each point is a settled count.
struct Trend {
    std::vector<uint32_t> handles;
    std::vector<uint32_t> gdiObjects;
    std::vector<uint32_t> userObjects;
};

static void AddPoint(Trend* trend) {
    Holdings held = SettledCount();
    trend->handles.push_back(held.handles);
    trend->gdiObjects.push_back(held.gdiObjects);
    trend->userObjects.push_back(held.userObjects);
}

// Fails when the counts grew along the run by more than the slack: the
// least of the last EndPoints against the greatest of the first EndPoints.
static void ExpectNoGrowth(const std::vector<uint32_t>& points, uint32_t slack, const char* what) {
    ASSERT_GE(points.size(), 2 * EndPoints);
    std::string shown;
    for (uint32_t point : points) shown += " " + std::to_string(point);
    printf("%s along the run:%s\n", what, shown.c_str());
    fflush(stdout);
    uint32_t earlyMost = *std::max_element(points.begin(), points.begin() + EndPoints);
    uint32_t lateLeast = *std::min_element(points.end() - EndPoints, points.end());
    EXPECT_LE(lateLeast, earlyMost + slack) << what << " grew along the run:" << shown;
}

static void ExpectNoGrowth(const Trend& trend) {
    ASSERT_GT(trend.handles.front(), 0u) << "the handle count cannot be read here";
    ExpectNoGrowth(trend.handles, HandleSlack, "handles");
    ExpectNoGrowth(trend.gdiObjects, ObjectSlack, "GDI objects");
    ExpectNoGrowth(trend.userObjects, ObjectSlack, "USER objects");
}

// The same over the second half of a run only.
static void ExpectNoGrowthInSecondHalf(const Trend& trend) {
    const size_t middle = trend.handles.size() / 2;
    Trend half;
    half.handles.assign(trend.handles.begin() + static_cast<long>(middle), trend.handles.end());
    half.gdiObjects.assign(trend.gdiObjects.begin() + static_cast<long>(middle), trend.gdiObjects.end());
    half.userObjects.assign(trend.userObjects.begin() + static_cast<long>(middle), trend.userObjects.end());
    ExpectNoGrowth(half);
}

// ---- calls into the unloaded image ----

// The plug-in's image as it lay in memory before it was unloaded, and the
// access violations seen since at an address inside it, whether executing
// there or reading it. Seen first-chance, by a vectored handler, because
// Windows and Wine swallow a fault inside a timer callback.
static std::atomic<uintptr_t> unloadedStart;
static std::atomic<uintptr_t> unloadedEnd;
static std::atomic<uint32_t> faultsInUnloadedImage;
static std::atomic<uintptr_t> firstFaultAddress;

static bool InUnloadedImage(uintptr_t address) { return address >= unloadedStart && address < unloadedEnd; }

static LONG CALLBACK SpotFaultInUnloadedImage(EXCEPTION_POINTERS* exception) {
    const EXCEPTION_RECORD* record = exception->ExceptionRecord;
    if (record->ExceptionCode != EXCEPTION_ACCESS_VIOLATION) return EXCEPTION_CONTINUE_SEARCH;
    uintptr_t at = reinterpret_cast<uintptr_t>(record->ExceptionAddress);
    uintptr_t target = record->NumberParameters >= 2 ? record->ExceptionInformation[1] : 0;
    if (InUnloadedImage(at) || InUnloadedImage(target)) {
        uintptr_t none = 0;
        firstFaultAddress.compare_exchange_strong(none, at);
        ++faultsInUnloadedImage;
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

// A test of many instances, with the checks the cycles share.
class InstanceCyclesTest : public PluginTest {
protected:
    void TearDown() override {
        if (guard != nullptr) RemoveVectoredExceptionHandler(guard);
        guard = nullptr;
        PluginTest::TearDown();
    }

    // New, notifications that publish, maybe a tick, Free, then
    // notifications that must do nothing; the notifications come from the
    // window, the audio and a third thread in turn.
    void RunCycle(int cycle);

    // New, the settings dialog opened and changed, Free while it is open.
    void RunDialogCycle(int cycle);

    // Unloads the plug-in, lets the player's message loop run on for a while,
    // and checks that nothing entered the unloaded image meanwhile.
    void UnloadAndRunOn(DWORD runMs);

    PVOID guard = nullptr;
};

void InstanceCyclesTest::RunCycle(int cycle) {
    static const NotifyThread threads[] = {NotifyThread::Window, NotifyThread::Audio, NotifyThread::Caller};
    SetNotifyThread(threads[cycle % 3]);
    std::string title = "Cycle " + std::to_string(cycle);
    std::string album = "Album " + std::to_string(cycle);
    SetTrack(FullTrack(title.c_str(), album.c_str()));

    uint32_t starting = Mark();
    StartInstance();
    uint32_t started = Mark();
    ASSERT_EQ(CallOrder(starting, started), "GetWindow Initialize GetVersion SetTimer") << "cycle " << cycle;
    std::vector<PlayerCall> set = PlayerCallsBetween(starting, started, PlayerCallKind::SetTimer);
    ASSERT_EQ(set.size(), 1u);
    ASSERT_NE(set[0].result, 0) << "cycle " << cycle << ": the timer was not set";

    // Each notification finds the track renamed, so that each has a card
    // of its own to show: one like the card shown would not be sent.
    const std::string titles[] = {title, title + " (Title)", title + " (Reset)"};
    NotifyNewTrack(TrackFile);
    SetTrack(FullTrack(titles[1].c_str(), album.c_str()));
    NotifyNewTitle(titles[1].c_str());
    SetTrack(FullTrack(titles[2].c_str(), album.c_str()));
    NotifyReset();
    std::vector<RecordedCall> published = PresencesBetween(started, Mark());
    ASSERT_EQ(published.size(), 3u) << "cycle " << cycle
                                    << ": a live instance's notification did not publish";
    for (size_t i = 0; i < published.size(); i++) {
        ASSERT_EQ(Text(published[i].presence.details), titles[i]) << Describe(published[i]);
        ASSERT_EQ(Text(published[i].presence.state), album + " (2009)") << Describe(published[i]);
    }
    if (cycle % TickingCycleEvery == TickingCycleEvery - 1) {
        ASSERT_TRUE(WaitForTick(started, TickMs + SlackMs))
            << "cycle " << cycle << ": the timer never ticked";
    }

    uint32_t freeing = Mark();
    EndInstance();
    uint32_t freed = Mark();
    ASSERT_EQ(CallOrder(freeing, freed), "KillTimer Clear Shutdown") << "cycle " << cycle;
    std::vector<PlayerCall> killed = PlayerCallsBetween(freeing, freed, PlayerCallKind::KillTimer);
    ASSERT_NE(killed[0].result, 0) << "cycle " << cycle << ": KillTimer found no timer to kill";
    ASSERT_EQ(PluginTimersSet(), 0u) << "cycle " << cycle << ": a timer is still set after Free";

    // The player goes on between two instances: the notifications find no
    // instance and must neither ask the player anything nor publish.
    NotifyNewTrack(TrackFile);
    NotifyNewTitle(title.c_str());
    NotifyReset();
    NotifyNewTrack(nullptr);
    uint32_t quiet = Mark();
    ASSERT_EQ(CallOrder(freed, quiet), "") << "cycle " << cycle << ": the plug-in ran after Free";
    ASSERT_TRUE(PlayerCallsBetween(freed, quiet, PlayerCallKind::TickStart).empty())
        << "cycle " << cycle << ": a tick arrived after Free";
}

void InstanceCyclesTest::RunDialogCycle(int cycle) {
    StartInstance();
    std::shared_future<void> config = PluginConfig();
    HWND dialog = WaitForThreadWindow(PlayerWindowThreadId(), DialogCaption, "#32770", DialogWaitMs);
    ASSERT_NE(dialog, nullptr) << "cycle " << cycle << ": the dialog did not appear";
    // The dialog and every control painted in full before it goes, at every
    // cycle, the warm-up's included: on a busy machine a dialog can otherwise
    // be freed before its first paint, and the objects Wine makes once for
    // the first paint would come at a random cycle of the run.
    RunOnWindowThread([dialog] {
        RedrawWindow(dialog, nullptr, nullptr,
                     RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_UPDATENOW | RDW_ALLCHILDREN);
    });
    // A change that the instance's end must not store.
    Click(dialog, ShowAlbumDateControl);

    // Free comes from the player's window thread, inside the dialog's modal loop.
    uint32_t freeing = Mark();
    EndInstance();
    uint32_t freed = Mark();
    ASSERT_EQ(CallOrder(freeing, freed), "EndDialog KillTimer Clear Shutdown") << "cycle " << cycle;
    ASSERT_EQ(config.wait_for(std::chrono::milliseconds(DialogWaitMs)), std::future_status::ready)
        << "cycle " << cycle << ": Config did not return";
    ASSERT_TRUE(WaitForWindowGone(dialog, DialogWaitMs))
        << "cycle " << cycle << ": the dialog is still there";
    std::vector<PlayerCall> left = PlayerCallsBetween(freeing, SequenceEnd, PlayerCallKind::DialogBoxLeave);
    ASSERT_EQ(left.size(), 1u);
    ASSERT_EQ(left[0].result, 0) << "cycle " << cycle << ": the dialog did not end as on Cancel";
    int32_t words[3] = {-7, -7, -7};
    ASSERT_EQ(PluginGetConfig(words), 12u);
    ASSERT_EQ(words[0], 1) << "cycle " << cycle << ": the open dialog's change was stored";

    // The dialog's end forgot it: the next instance's Free has none to end.
    StartInstance();
    uint32_t again = Mark();
    EndInstance();
    ASSERT_EQ(CallOrder(again, Mark()), "KillTimer Clear Shutdown") << "cycle " << cycle;
}

void InstanceCyclesTest::UnloadAndRunOn(DWORD runMs) {
    HMODULE module = PluginModule();
    const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(module);
    const IMAGE_NT_HEADERS* nt =
        reinterpret_cast<const IMAGE_NT_HEADERS*>(reinterpret_cast<const BYTE*>(module) + dos->e_lfanew);
    unloadedStart = reinterpret_cast<uintptr_t>(module);
    unloadedEnd = unloadedStart + nt->OptionalHeader.SizeOfImage;
    faultsInUnloadedImage = 0;
    firstFaultAddress = 0;
    guard = AddVectoredExceptionHandler(1, SpotFaultInUnloadedImage);
    ASSERT_NE(guard, nullptr);

    uint32_t unloading = Mark();
    Unload();
    EXPECT_EQ(GetModuleHandleA("XMP-Nowglow.dll"), nullptr) << "FreeLibrary left the plug-in mapped";

    // The loop keeps dispatching: work posted to it runs, again and again,
    // while the track plays on and the audio thread keeps its pace.
    DWORD start = GetTickCount();
    int rounds = 0;
    while (GetTickCount() - start < runMs) {
        std::shared_future<void> posted = PostToWindowThread([] {});
        ASSERT_EQ(posted.wait_for(std::chrono::seconds(2)), std::future_status::ready)
            << "the player's message loop stopped after the unload";
        ++rounds;
        Sleep(100);
    }
    EXPECT_GT(rounds, 10);
    uint32_t after = Mark();
    EXPECT_EQ(CallOrder(unloading, after), "") << "the plug-in ran after its unload";
    EXPECT_TRUE(PlayerCallsBetween(unloading, after, PlayerCallKind::TickStart).empty());
    EXPECT_EQ(faultsInUnloadedImage.load(), 0u)
        << "the process faulted inside the unloaded plug-in, first at " << std::hex
        << firstFaultAddress.load();
}

// Over the whole log: the plug-in called the player, the window functions
// and the library only while an instance lived (from New's entry to Free's
// return) or while the player bound it; each instance opened the library
// and then started its timer, and at its end killed the timer, then
// cleared and shut the library down, each once, with every update while
// the library was open. Returns the number of instances.
static int ExpectEverythingInsideInstances(void) {
    struct Event {
        uint32_t sequence;
        std::string what;
        bool pluginCall;
    };
    std::vector<Event> events;
    for (const PlayerCall& call : PlayerCalls()) {
        switch (call.kind) {
        case PlayerCallKind::SlotEnter: events.push_back({call.sequence, "enter " + call.text, false}); break;
        case PlayerCallKind::SlotLeave: events.push_back({call.sequence, "leave " + call.text, false}); break;
        case PlayerCallKind::Action: break;
        default: events.push_back({call.sequence, PlayerCallKindName(call.kind), true}); break;
        }
    }
    static const char* const libraryNames[] = {"?", "Initialize", "Update", "Clear", "Shutdown"};
    for (const RecordedCall& call : DiscordCalls())
        events.push_back(
            {call.sequence, libraryNames[call.kind >= 1 && call.kind <= 4 ? call.kind : 0], true});
    std::sort(events.begin(), events.end(),
              [](const Event& left, const Event& right) { return left.sequence < right.sequence; });

    bool live = false;
    bool binding = false;
    int instances = 0;
    std::string brackets;  // the current instance's library and timer calls, updates left out
    int outside = 0;
    for (const Event& event : events) {
        if (event.what == "enter New") {
            live = true;
            ++instances;
            brackets.clear();
        } else if (event.what == "leave Free") {
            live = false;
            EXPECT_EQ(brackets, "Initialize SetTimer KillTimer Clear Shutdown") << "instance " << instances;
        } else if (event.what == "enter XMPDSP_GetInterface2") {
            binding = true;
        } else if (event.what == "leave XMPDSP_GetInterface2") {
            binding = false;
        } else if (event.pluginCall && !live && !binding) {
            if (outside++ < 5)
                ADD_FAILURE() << event.what << " at " << event.sequence << " outside an instance";
        } else if (event.what == "Initialize" || event.what == "SetTimer" || event.what == "KillTimer" ||
                   event.what == "Clear" || event.what == "Shutdown") {
            brackets += (brackets.empty() ? "" : " ") + event.what;
        } else if (event.what == "Update") {
            EXPECT_TRUE(brackets == "Initialize" || brackets == "Initialize SetTimer")
                << "an update outside the open connection at " << event.sequence;
        }
    }
    EXPECT_EQ(outside, 0) << "calls of the plug-in outside every instance";
    EXPECT_FALSE(live) << "the last instance never ended";
    return instances;
}

TEST_F(InstanceCyclesTest, TwoHundredInstancesPairUpFallSilentAndLeaveNothingBehind) {
    transcriptTailLines = 200;
    // Before the first New: a notification then does nothing.
    OpenTrack(FullTrack(), TrackFile);
    for (int cycle = 0; cycle < WarmUpCycles; ++cycle) ASSERT_NO_FATAL_FAILURE(RunCycle(cycle));
    Trend trend;
    AddPoint(&trend);

    DWORD start = GetTickCount();
    for (int cycle = 0; cycle < Cycles; ++cycle) {
        ASSERT_NO_FATAL_FAILURE(RunCycle(WarmUpCycles + cycle));
        if ((cycle + 1) % CyclesBetweenPoints == 0) AddPoint(&trend);
    }
    printf("%d cycles took %lu ms\n", Cycles, static_cast<unsigned long>(GetTickCount() - start));
    ExpectNoGrowth(trend);

    // No timer survives the last Free: two more ticks' time brings no tick.
    uint32_t lastFree = Mark();
    Sleep(2 * TickMs + TickMs / 2);
    EXPECT_TRUE(PlayerCallsBetween(lastFree, Mark(), PlayerCallKind::TickStart).empty())
        << "a timer survived the last Free";

    EXPECT_EQ(ExpectEverythingInsideInstances(), WarmUpCycles + Cycles);
    ASSERT_NO_FATAL_FAILURE(UnloadAndRunOn(AfterUnloadMs));
}

TEST_F(InstanceCyclesTest, NotificationsRacingTheInstancesEndNeverReachAClosedConnection) {
    transcriptTailLines = 200;
    OpenTrack(FullTrack(), TrackFile);
    SetNotifyThread(NotifyThread::Audio);
    SetAnswerDelays(0, AudioThreadAnswerDelayMs);
    static std::atomic<uint32_t> updates;
    updates = 0;
    Recorder_SetHook(
        [](const RecordedCall* call, void*) {
            if (call->kind == RecordedUpdatePresence) ++updates;
        },
        nullptr);

    // The audio thread sends notifications one after another, with a short
    // breath between them, while the instances come and go on the window
    // thread: a notification that began before Free may still ask the
    // player, but must not reach the library once Free has closed it.
    std::atomic<bool> stop{false};
    std::thread flood([&stop] {
        for (uint32_t round = 0; !stop; ++round) {
            switch (round % 3) {
            case 0: NotifyNewTrack(TrackFile); break;
            case 1: NotifyNewTitle("Strobe"); break;
            default: NotifyReset(); break;
            }
            Sleep(1);
        }
    });
    bool published = true;
    for (int cycle = 0; cycle < RacingCycles && published; ++cycle) {
        uint32_t seen = updates;
        StartInstance();
        // Each instance lives until a notification has published through it,
        // then a little longer, by a different amount each time, so that
        // Free comes at every stage of the next notification's composition.
        published = WaitUntil([&] { return updates != seen; }, 5000);
        Sleep(static_cast<DWORD>(2 + cycle % 15));
        EndInstance();
        Sleep(BetweenInstancesMs);
    }
    stop = true;
    flood.join();
    Recorder_SetHook(nullptr, nullptr);
    ASSERT_TRUE(published) << "a live instance's notifications did not publish";

    // In sequence order, every update lies between an initialisation and
    // the clear that precedes the shutdown.
    std::vector<RecordedCall> calls = DiscordCalls();
    std::sort(calls.begin(), calls.end(), [](const RecordedCall& left, const RecordedCall& right) {
        return left.sequence < right.sequence;
    });
    int32_t previous = RecordedShutdown;
    int connections = 0;
    int strays = 0;
    for (const RecordedCall& call : calls) {
        bool fits = false;
        switch (call.kind) {
        case RecordedInitialize: fits = previous == RecordedShutdown; break;
        case RecordedUpdatePresence:  // an update or the clear: the connection is open
        case RecordedClearPresence:
            fits = previous == RecordedInitialize || previous == RecordedUpdatePresence;
            break;
        case RecordedShutdown: fits = previous == RecordedClearPresence; break;
        default: break;
        }
        if (!fits && strays++ < 5)
            ADD_FAILURE() << "out of place: " << Describe(call) << " at " << call.sequence;
        if (call.kind == RecordedInitialize) ++connections;
        previous = call.kind;
    }
    EXPECT_EQ(strays, 0);
    EXPECT_EQ(previous, RecordedShutdown);
    EXPECT_EQ(connections, RacingCycles);
    printf("%u updates over %d instances\n", static_cast<unsigned>(updates.load()), RacingCycles);
}

TEST_F(InstanceCyclesTest, DialogOpenAtEveryFreeClosesAndLeavesNothingBehind) {
    transcriptTailLines = 200;
    for (int cycle = 0; cycle < DialogWarmUpCycles; ++cycle) ASSERT_NO_FATAL_FAILURE(RunDialogCycle(cycle));
    Trend trend;
    AddPoint(&trend);
    DWORD start = GetTickCount();
    for (int cycle = 0; cycle < DialogCycles; ++cycle) {
        ASSERT_NO_FATAL_FAILURE(RunDialogCycle(DialogWarmUpCycles + cycle));
        AddPoint(&trend);
    }
    printf("%d dialog cycles took %lu ms\n", DialogCycles,
           static_cast<unsigned long>(GetTickCount() - start));
    ExpectNoGrowthInSecondHalf(trend);

    // With every dialog gone, the unloaded plug-in is never entered again.
    ASSERT_NO_FATAL_FAILURE(UnloadAndRunOn(TickMs));
}
