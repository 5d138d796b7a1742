// The settings block as the player saves and restores it through GetConfig
// and SetConfig, and the moment a restored version flag shows.
#include <cstring>

#include "harness/harness.h"

static std::vector<int32_t> StoredSettings(void) {
    int32_t words[3] = {-7, -7, -7};
    EXPECT_EQ(PluginGetConfig(words), 12u);
    return {words[0], words[1], words[2]};
}

static void Restore(const std::vector<int32_t>& words) { EXPECT_EQ(PluginSetConfig(words.data(), 12), 1); }

// The large image's hover text of the next publication.
static std::string NextLargeImageText(void) {
    uint32_t before = Mark();
    NotifyReset();
    std::vector<RecordedCall> published = PresencesBetween(before, Mark());
    if (published.size() != 1) return "(" + std::to_string(published.size()) + " publications)";
    return Text(published[0].presence.largeImageText);
}

TEST_F(PluginTest, NewGivesTheDefaultBlock) {
    StartInstance();
    uint8_t block[12];
    memset(block, 0xEE, sizeof block);
    EXPECT_EQ(PluginGetConfig(block), 12u);
    const uint8_t expected[12] = {1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(memcmp(block, expected, sizeof block), 0);
}

TEST_F(PluginTest, SetConfigCopiesAtMostTwelveBytesUnchecked) {
    StartInstance();
    const std::vector<int32_t> base = {5, 0x44332211, 6};
    // Out of range on purpose: a flag of -1 and a clock mode of 5 are stored as given.
    const int32_t incoming[4] = {-1, 0x12345678, 5, 0x7EADBEEF};
    struct Case {
        uint32_t size;
        std::vector<int32_t> expected;
    };
    const Case cases[] = {
        {0, {5, 0x44332211, 6}},  {6, {-1, 0x44335678, 6}},  // the low two bytes of the second word only
        {8, {-1, 0x12345678, 6}}, {12, {-1, 0x12345678, 5}}, {16, {-1, 0x12345678, 5}},
    };
    for (const Case& test : cases) {
        Restore(base);
        uint32_t before = Mark();
        EXPECT_EQ(PluginSetConfig(incoming, test.size), 1) << test.size << " bytes";
        EXPECT_EQ(StoredSettings(), test.expected) << test.size << " bytes";
        EXPECT_TRUE(DiscordCallsBetween(before, Mark()).empty()) << "SetConfig published";
    }
}

TEST_F(PluginTest, RestoredVersionFlagShowsAtTheNextPublication) {
    StartInstance();
    OpenTrack(FullTrack(), "C:\\Music\\strobe.mp3");

    // SetConfig rebuilds the text at once (asking the version only when it
    // is shown) but sends nothing; the next publication carries it.
    uint32_t before = Mark();
    Restore({1, 0, 0});
    EXPECT_EQ(CallOrder(before, Mark()), "") << "version off: nothing to ask, nothing to send";
    EXPECT_EQ(NextLargeImageText(), "XMPlay");

    SetPlayerVersion(0x04010203);
    before = Mark();
    Restore({1, 1, 0});
    EXPECT_EQ(CallOrder(before, Mark()), "GetVersion");
    EXPECT_EQ(NextLargeImageText(), "XMPlay v4.1.2.3");

    // A block of no bytes rebuilds the text from the flag as it stands.
    SetPlayerVersion(0xFFFFFFFF);
    before = Mark();
    const int32_t ignored[3] = {9, 9, 9};
    EXPECT_EQ(PluginSetConfig(ignored, 0), 1);
    EXPECT_EQ(CallOrder(before, Mark()), "GetVersion");
    EXPECT_EQ(NextLargeImageText(), "XMPlay v255.255.255.255");

    SetPlayerVersion(0);
    Restore({1, 1, 0});
    EXPECT_EQ(NextLargeImageText(), "XMPlay v0.0.0.0");
}
