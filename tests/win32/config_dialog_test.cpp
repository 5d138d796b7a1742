// The settings dialog for real: opened by Config on the player's window
// thread, found and worked by the test as a user would, and closed by OK,
// Cancel, Escape, Enter, the close button, or the instance's end.
#include <cstring>

#include "harness/harness.h"

static const char DialogCaption[] = "XMPlay Nowglow Configuration";
enum : int {
    ShowAlbumDate = 1004,
    ShowVersion = 1005,
    TimeRemainingButton = 1001,
    TimeElapsedButton = 1002,
    TimeDisabledButton = 1003,
};

// How long a dialog may take to appear or to go.
static const int DialogWaitMs = 5000;

// Opens the dialog through Config, posted to the window thread, and finds it.
static HWND OpenDialog(std::shared_future<void>* config) {
    *config = PluginConfig();
    return WaitForThreadWindow(PlayerWindowThreadId(), DialogCaption, "#32770", DialogWaitMs);
}

// The check states of the five buttons, in the order 1004, 1005, 1001, 1002, 1003.
static std::vector<LRESULT> Controls(HWND dialog) {
    return {CheckState(dialog, ShowAlbumDate), CheckState(dialog, ShowVersion),
            CheckState(dialog, TimeRemainingButton), CheckState(dialog, TimeElapsedButton),
            CheckState(dialog, TimeDisabledButton)};
}

// The settings as GetConfig gives them.
static std::vector<int32_t> StoredSettings(void) {
    int32_t words[3] = {-7, -7, -7};
    EXPECT_EQ(PluginGetConfig(words), 12u);
    return {words[0], words[1], words[2]};
}

static void Restore(int32_t showAlbumDate, int32_t showVersion, int32_t timeMode) {
    int32_t words[3] = {showAlbumDate, showVersion, timeMode};
    EXPECT_EQ(PluginSetConfig(words, sizeof words), 1);
}

// Waits until Config has returned and its dialog is gone.
static void ExpectClosed(HWND dialog, const std::shared_future<void>& config) {
    EXPECT_EQ(config.wait_for(std::chrono::milliseconds(DialogWaitMs)), std::future_status::ready)
        << "Config did not return";
    EXPECT_TRUE(WaitForWindowGone(dialog, DialogWaitMs)) << "the dialog is still there";
}

// Sends a key to the dialog's focused control, as the keyboard would.
static void PressKey(HWND dialog, WPARAM key) {
    GUITHREADINFO info;
    memset(&info, 0, sizeof info);
    info.cbSize = sizeof info;
    HWND target = dialog;
    if (GetGUIThreadInfo(PlayerWindowThreadId(), &info) != FALSE && info.hwndFocus != nullptr)
        target = info.hwndFocus;
    PostMessageA(target, WM_KEYDOWN, key, 1);
}

// Plays a track and waits for the first tick, which adopts its remaining time,
// so that later ticks publish only for a reason.
static void PlayTrackPastFirstTick(void) {
    OpenTrack(FullTrack(), "C:\\Music\\strobe.mp3");
    std::optional<Tick> adopted = WaitForTick(Mark(), TickMs + SlackMs);
    ASSERT_TRUE(adopted);
}

TEST_F(PluginTest, DialogShowsDefaultsAndOkStoresTheChangesForTheNextTick) {
    StartInstance();
    PlayTrackPastFirstTick();

    uint32_t opening = Mark();
    std::shared_future<void> config;
    HWND dialog = OpenDialog(&config);
    ASSERT_NE(dialog, nullptr) << "the dialog did not appear";
    std::vector<PlayerCall> boxes = PlayerCallsBetween(opening, SequenceEnd, PlayerCallKind::DialogBoxEnter);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].number, 101) << "template IDD_CONFIG";
    EXPECT_EQ(boxes[0].extra, 1) << "the template comes from the plug-in's own module";
    EXPECT_EQ(boxes[0].handle, reinterpret_cast<uintptr_t>(PlayerWindow()))
        << "owned by the window Config was given";
    EXPECT_EQ(GetWindow(dialog, GW_OWNER), PlayerWindow());
    EXPECT_EQ(Controls(dialog), (std::vector<LRESULT>{BST_CHECKED, BST_CHECKED, BST_CHECKED, 0, 0}));

    // Clicks change the controls only; nothing is stored before OK.
    Click(dialog, ShowAlbumDate);
    Click(dialog, ShowVersion);
    Click(dialog, TimeElapsedButton);
    EXPECT_EQ(Controls(dialog), (std::vector<LRESULT>{0, 0, 0, BST_CHECKED, 0}));
    EXPECT_EQ(StoredSettings(), (std::vector<int32_t>{1, 1, 0}));
    uint32_t beforeOk = Mark();
    EXPECT_TRUE(PresencesBetween(opening, beforeOk).empty()) << "clicks published something";

    Click(dialog, IDOK);
    ExpectClosed(dialog, config);
    EXPECT_EQ(StoredSettings(), (std::vector<int32_t>{0, 0, 1}));
    std::vector<PlayerCall> ends = PlayerCallsBetween(beforeOk, SequenceEnd, PlayerCallKind::DialogBoxLeave);
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_EQ(ends[0].result, 0) << "the dialog ends with result 0";

    // The first tick after OK republishes the track with the new settings.
    std::vector<PlayerCall> ok = PlayerCallsBetween(beforeOk, SequenceEnd, PlayerCallKind::EndDialog);
    ASSERT_EQ(ok.size(), 1u);
    std::optional<Tick> next = WaitForTick(ok[0].sequence, TickMs + SlackMs);
    ASSERT_TRUE(next);
    std::vector<RecordedCall> republished = PresencesIn(*next);
    ASSERT_EQ(republished.size(), 1u) << "OK did not make the next tick republish";
    const RecordedPresence& presence = republished[0].presence;
    EXPECT_EQ(Text(presence.state), "For Lack of a Better Name") << "the date is off";
    EXPECT_EQ(Text(presence.largeImageText), "XMPlay") << "the version is off";
    ExpectElapsedClock(republished[0]);
}

TEST_F(PluginTest, DialogOpensShowingEachStoredClockModeAndFlag) {
    const struct {
        int32_t words[3];
        std::vector<LRESULT> shown;  // 1004, 1005, 1001, 1002, 1003
    } cases[] = {
        {{1, 1, 0}, {BST_CHECKED, BST_CHECKED, BST_CHECKED, 0, 0}},
        {{0, 1, 1}, {0, BST_CHECKED, 0, BST_CHECKED, 0}},
        {{1, 0, 2}, {BST_CHECKED, 0, 0, 0, BST_CHECKED}},
        {{0, 0, 3}, {0, 0, 0, 0, 0}},
    };
    StartInstance();
    for (const auto& c : cases) {
        Restore(c.words[0], c.words[1], c.words[2]);
        std::shared_future<void> config;
        HWND dialog = OpenDialog(&config);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(Controls(dialog), c.shown)
            << "settings " << c.words[0] << " " << c.words[1] << " " << c.words[2];
        Click(dialog, IDCANCEL);
        ExpectClosed(dialog, config);
    }
}

TEST_F(PluginTest, CancelEscapeAndCloseStoreNothingWhileEnterIsOk) {
    StartInstance();
    Restore(1, 0, 3);
    PlayTrackPastFirstTick();

    // A clock mode outside the three choices shows no clock button selected.
    std::shared_future<void> config;
    HWND dialog = OpenDialog(&config);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(Controls(dialog), (std::vector<LRESULT>{BST_CHECKED, 0, 0, 0, 0}));
    Click(dialog, ShowAlbumDate);
    Click(dialog, ShowVersion);
    Click(dialog, TimeDisabledButton);
    uint32_t cancelling = Mark();
    Click(dialog, IDCANCEL);
    ExpectClosed(dialog, config);
    EXPECT_EQ(StoredSettings(), (std::vector<int32_t>{1, 0, 3}));

    // Escape, and the caption's close button, are Cancel as well.
    for (int gesture = 0; gesture < 2; ++gesture) {
        dialog = OpenDialog(&config);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(Controls(dialog), (std::vector<LRESULT>{BST_CHECKED, 0, 0, 0, 0})) << "toggles were kept";
        Click(dialog, ShowAlbumDate);
        Click(dialog, TimeElapsedButton);
        if (gesture == 0)
            PressKey(dialog, VK_ESCAPE);
        else
            PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        ExpectClosed(dialog, config);
        EXPECT_EQ(StoredSettings(), (std::vector<int32_t>{1, 0, 3}))
            << (gesture == 0 ? "Escape" : "close button");
    }

    // Nothing was republished on account of the cancelled dialogs.
    std::optional<Tick> next = WaitForTick(Mark(), TickMs + SlackMs);
    ASSERT_TRUE(next);
    EXPECT_TRUE(PresencesBetween(cancelling).empty());

    // Enter is OK: with no clock button selected, OK stores TimeDisabled.
    dialog = OpenDialog(&config);
    ASSERT_NE(dialog, nullptr);
    PressKey(dialog, VK_RETURN);
    ExpectClosed(dialog, config);
    EXPECT_EQ(StoredSettings(), (std::vector<int32_t>{1, 0, 2}));
}

TEST_F(PluginTest, FreeWhileTheDialogIsOpenClosesItAsCancel) {
    StartInstance();
    std::shared_future<void> config;
    HWND dialog = OpenDialog(&config);
    ASSERT_NE(dialog, nullptr);
    Click(dialog, ShowAlbumDate);
    Click(dialog, TimeDisabledButton);

    // The player frees the instance from its window thread, inside the
    // dialog's modal loop.
    uint32_t freeing = Mark();
    EndInstance();
    uint32_t freed = Mark();
    EXPECT_EQ(CallOrder(freeing, freed), "EndDialog KillTimer Clear Shutdown");
    std::vector<PlayerCall> ends = PlayerCallsBetween(freeing, freed, PlayerCallKind::EndDialog);
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_EQ(ends[0].handle, reinterpret_cast<uintptr_t>(dialog));
    EXPECT_EQ(ends[0].number, 0);
    ExpectClosed(dialog, config);
    EXPECT_EQ(StoredSettings(), (std::vector<int32_t>{1, 1, 0})) << "the dialog's changes were stored";

    // The dialog's end cleared its handle: the next Free has no dialog to end.
    StartInstance();
    freeing = Mark();
    EndInstance();
    EXPECT_EQ(CallOrder(freeing, Mark()), "KillTimer Clear Shutdown");
}
