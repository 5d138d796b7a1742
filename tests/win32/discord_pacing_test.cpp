// The card Discord keeps. The real DLL runs in the stand-in player, which
// calls it as the real player does, on the real clock; the recording library
// speaks to the stand-in of Discord's pipe, which, as Discord does, keeps one
// activity update per 15 s and silently ignores the rest. For each sequence
// a user plays, the card it keeps shows what plays (track, badge, and the
// clock within the monitor's 5 s) no later than 20 s after the last change,
// and a track that then plays on costs no further update.
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "harness/harness.h"
#include "harness/tool_runner.h"
#include "settings/resource_ids.h"

// The speaking library tries discord-ipc-0 first.
static const int PipeIndex = 0;
// Longer than the whole test takes.
static const wchar_t PipeBehaviour[] = L"ready tester --lifetime 400000";
// The card must show a change no later than this.
static const DWORD ShowsWithinMs = 20000;
// Longer than the plug-in waits between two updates, with a tick to spare.
static const DWORD QuietMs = 19000;
// The tolerance of a card's clock.
static const double ClockToleranceSeconds = 5.0;
static const double TrackSeconds = 200.0;
static const char AlbumLine[] = "For Lack of a Better Name (2009)";

// The activity the stand-in of Discord shows.
struct KeptCard {
    bool shown = false;
    std::string details, state, badge, hover;
    int64_t start = 0, end = 0;
};

// The text of "key":"..." in a flat JSON text; empty when absent.
static std::string Member(const std::string& json, const char* key) {
    const std::string lead = std::string("\"") + key + "\":\"";
    const size_t at = json.find(lead);
    if (at == std::string::npos) return "";
    const size_t end = json.find('"', at + lead.size());
    return json.substr(at + lead.size(), end - at - lead.size());
}

// The number of "key":N in a flat JSON text; 0 when absent.
static int64_t Number(const std::string& json, const char* key) {
    const std::string lead = std::string("\"") + key + "\":";
    const size_t at = json.find(lead);
    return at == std::string::npos ? 0 : std::strtoll(json.c_str() + at + lead.size(), nullptr, 10);
}

static std::string Describe(const KeptCard& card) {
    if (!card.shown) return "(nothing)";
    return "\"" + card.details + "\" / \"" + card.state + "\" / " + card.badge + " / hover \"" + card.hover +
           "\" / " +
           (card.end != 0     ? std::to_string(card.end - _time64(nullptr)) + " s left"
            : card.start != 0 ? std::to_string(_time64(nullptr) - card.start) + " s elapsed"
                              : "no clock");
}

class DiscordPacingTest : public PluginTest {
protected:
    void SetUp() override {
        PluginTest::SetUp();
        StepPluginClockAtUpdates(false);
        folder = FreshTestFolder(L"pacing");
        ASSERT_FALSE(folder.empty());
        record = folder + L"\\pipe.txt";
        pipe = StartDiscordPipe(PipeIndex, record, PipeBehaviour);
        ASSERT_NE(pipe, nullptr) << "the stand-in of Discord's pipe did not start";
        SetEnvironmentVariableW(L"NOWGLOW_RECORDER_SPEAKS", L"1");
    }

    void TearDown() override {
        PluginTest::TearDown();
        SetEnvironmentVariableW(L"NOWGLOW_RECORDER_SPEAKS", nullptr);
        StepPluginClockAtUpdates(true);
        if (pipe != nullptr) {
            TerminateProcess(pipe, 0);
            WaitForSingleObject(pipe, 10000);
            CloseHandle(pipe);
        }
        RemoveTree(folder);
    }

    // The stand-in's record: the card it keeps now, and how many activity
    // updates it was sent.
    KeptCard Kept(int* updates = nullptr) {
        std::vector<uint8_t> bytes = ReadBytes(record);
        std::string text(bytes.begin(), bytes.end());
        KeptCard card;
        int cardClient = 0;
        int count = 0;
        std::string lastFrame[64];
        size_t from = 0;
        while (from < text.size()) {
            size_t to = text.find('\n', from);
            if (to == std::string::npos) break;  // a line still being written
            const std::string line = text.substr(from, to - from);
            from = to + 1;
            std::istringstream fields(line);
            std::string ms;
            std::string event;
            int client = 0;
            if (!(fields >> ms >> client >> event) || client < 0 || client >= 64) continue;
            if (event == "frame") {
                std::getline(fields, lastFrame[client]);
            } else if (event == "taken" || event == "ignored") {
                count++;
                if (event == "ignored") continue;
                const std::string& body = lastFrame[client];
                card = KeptCard();
                card.shown = body.find("\"activity\"") != std::string::npos;
                card.details = Member(body, "details");
                card.state = Member(body, "state");
                card.badge = Member(body, "small_image");
                card.hover = Member(body, "large_text");
                card.start = Number(body, "start");
                card.end = Number(body, "end");
                cardClient = client;
            } else if ((event == "closed" || event == "dropped") && client == cardClient) {
                card = KeptCard();
            }
        }
        if (updates != nullptr) *updates = count;
        return card;
    }

    // Waits until ShowsWithinMs after the last change, then expects the card
    // to show the track in the player's state.
    void ExpectShownAfter(DWORD changedAtMs, const char* sequence, const char* title,
                          const char* hover = "XMPlay v3.8.5.0") {
        const DWORD waited = GetTickCount() - changedAtMs;
        if (waited < ShowsWithinMs) Sleep(ShowsWithinMs - waited);
        const KeptCard card = Kept();
        const PlaybackMode mode = TrackMode();
        std::printf("%s: %s\n", sequence, Describe(card).c_str());
        ASSERT_TRUE(card.shown) << sequence << ": Discord shows nothing";
        EXPECT_EQ(card.details, title) << sequence;
        EXPECT_EQ(card.state, AlbumLine) << sequence;
        EXPECT_EQ(card.hover, hover) << sequence;
        if (mode == PlaybackMode::Playing) {
            EXPECT_EQ(card.badge, "play") << sequence;
            const double left = static_cast<double>(card.end - _time64(nullptr));
            EXPECT_NEAR(left, TrackSeconds - TrackPosition(), ClockToleranceSeconds + 1.0)
                << sequence << ": the clock is off";
        } else {
            EXPECT_EQ(card.badge, mode == PlaybackMode::Paused ? "pause" : "stopped") << sequence;
            EXPECT_EQ(card.end, 0) << sequence;
        }
    }

    // Waits, within a bound, until the card Discord keeps has the badge.
    bool WaitForKeptBadge(const char* badge) {
        return WaitUntil([&] { return Kept().badge == badge; }, static_cast<int>(ShowsWithinMs));
    }

    std::wstring folder;
    std::wstring record;
    HANDLE pipe = nullptr;
};

static void OpenNamed(const char* title) { OpenTrack(FullTrack(title), "C:\\Music\\track.mp3"); }

// Presses OK in the settings dialog with the version left off the hover text.
static void OkWithoutVersion(void) {
    std::shared_future<void> config = PluginConfig();
    HWND dialog =
        WaitForThreadWindow(PlayerWindowThreadId(), "XMPlay Nowglow Configuration", "#32770", 10000);
    ASSERT_NE(dialog, nullptr) << "the settings dialog never opened";
    Click(dialog, IDC_SHOW_VERSION);
    Click(dialog, IDOK);
    AwaitPosted(config, "the settings dialog's OK");
}

TEST_F(DiscordPacingTest, TheCardDiscordKeepsShowsEveryChangeWithinTwentySeconds) {
    StartInstance();
    OpenNamed("First");
    ExpectShownAfter(GetTickCount(), "a track opened", "First");

    // Five tracks skipped in four seconds: the last one shows.
    for (const char* title : {"Second", "Third", "Fourth", "Fifth"}) {
        OpenNamed(title);
        Sleep(1000);
    }
    OpenNamed("Sixth");
    ExpectShownAfter(GetTickCount(), "five tracks skipped in four seconds", "Sixth");

    // A pause and a resume within three seconds.
    PauseTrack();
    Sleep(2900);
    PlayTrack();
    ExpectShownAfter(GetTickCount(), "pause and resume within three seconds", "Sixth");

    // A seek while paused, followed by its Reset.
    PauseTrack();
    Sleep(3000);
    SeekTrack(120);
    ExpectShownAfter(GetTickCount(), "a seek while paused", "Sixth");

    // A seek while playing, followed by its Reset.
    PlayTrack();
    Sleep(1000);
    SeekTrack(40);
    ExpectShownAfter(GetTickCount(), "a seek while playing", "Sixth");

    // OK while a publication is held: the pause goes out, the resume after
    // it waits for its turn, and OK replaces it with the track playing under
    // the new settings.
    PauseTrack();
    ASSERT_TRUE(WaitForKeptBadge("pause")) << "the pause never showed";
    PlayTrack();
    Sleep(2 * TickMs + 500);
    ASSERT_NO_FATAL_FAILURE(OkWithoutVersion());
    ExpectShownAfter(GetTickCount(), "OK while held", "Sixth", "XMPlay");

    // Free while a publication is held, and New three seconds later.
    PauseTrack();
    ASSERT_TRUE(WaitForKeptBadge("pause")) << "the pause never showed";
    PlayTrack();
    Sleep(2 * TickMs + 500);
    EndInstance();
    Sleep(3000);
    StartInstance();
    ExpectShownAfter(GetTickCount(), "Free while held, New 3 s later", "Sixth");

    // The track plays on undisturbed: no further update.
    int before = 0;
    int after = 0;
    Kept(&before);
    Sleep(QuietMs);
    const KeptCard card = Kept(&after);
    EXPECT_EQ(after, before) << "a track playing on undisturbed cost an update";
    EXPECT_EQ(card.details, "Sixth");
}
