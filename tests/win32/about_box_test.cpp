// The about box: a message box owned by the window the player passes, with
// the plug-in's name as its caption and one OK button; the test reads it
// and closes it as a user would.
#include "harness/harness.h"

struct StaticSearch {
    std::string text;
    int count;
};

// Collects the text of the box's static controls (the icon's is empty).
static BOOL CALLBACK CollectStaticText(HWND child, LPARAM context) {
    StaticSearch* search = reinterpret_cast<StaticSearch*>(context);
    char className[32];
    GetClassNameA(child, className, sizeof className);
    std::string text = WindowText(child);
    if (lstrcmpiA(className, "Static") == 0 && !text.empty()) {
        search->text = text;
        ++search->count;
    }
    return TRUE;
}

TEST_F(PluginTest, AboutBoxShowsTheNameAndTheTextAndClosesOnOk) {
    uint32_t opening = Mark();
    std::shared_future<void> about = PluginAbout();
    HWND box = WaitForThreadWindow(PlayerWindowThreadId(), "XMPlay Nowglow", "#32770", 5000);
    ASSERT_NE(box, nullptr) << "the about box did not appear";
    EXPECT_EQ(about.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout)
        << "About returned early";
    EXPECT_EQ(GetWindow(box, GW_OWNER), PlayerWindow());

    std::vector<PlayerCall> shown = PlayerCallsBetween(opening, SequenceEnd, PlayerCallKind::MessageBox);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].caption, "XMPlay Nowglow");
    EXPECT_EQ(shown[0].extra, MB_OK | MB_ICONINFORMATION);
    EXPECT_EQ(shown[0].handle, reinterpret_cast<uintptr_t>(PlayerWindow()));

    // The text on screen: a one-line description, then the credits, lines
    // separated by CR LF.
    StaticSearch search = {std::string(), 0};
    EnumChildWindows(box, CollectStaticText, reinterpret_cast<LPARAM>(&search));
    ASSERT_EQ(search.count, 1) << "one text in the box";
    EXPECT_EQ(search.text, shown[0].text);
    size_t lineBreak = search.text.find("\r\n");
    ASSERT_NE(lineBreak, std::string::npos) << search.text;
    EXPECT_GT(lineBreak, 0u) << "the description line is empty";
    EXPECT_LT(lineBreak + 2, search.text.size()) << "no credits after the description";
    EXPECT_EQ(search.text.find('\n'), lineBreak + 1) << "a line ends without CR LF";

    // One button, OK.
    EXPECT_NE(GetDlgItem(box, IDOK), nullptr);
    EXPECT_EQ(GetDlgItem(box, IDCANCEL), nullptr);
    Click(box, IDOK);
    EXPECT_EQ(about.wait_for(std::chrono::seconds(5)), std::future_status::ready) << "About did not return";
    EXPECT_TRUE(WaitForWindowGone(box, 5000));

    // The about box needs no instance and touches neither the player nor the library.
    EXPECT_TRUE(DiscordCalls().empty());
    EXPECT_TRUE(PluginToPlayerCallsBetween(opening, SequenceEnd).empty());
}
