// The settings: the 12-byte block the player saves and restores through
// GetConfig and SetConfig, and what the dialog's OK stores from its controls.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "fakes/fakes.h"
#include "plugin/plugin_state.h"
#include "settings/dialog_choices.h"
#include "settings/resource_ids.h"

namespace {

// Bytes 3, 8, 5, 0 from the most significant down.
const uint32_t VersionWord = 0x03080500u;
const char VersionedText[] = "XMPlay v3.8.5.0";

class Settings : public ::testing::Test {
protected:
    void SetUp() override {
        fake::Reset();
        fake::SetVersion(VersionWord);
        dsp = fake::BindPlugin();
        ASSERT_NE(dsp->New(), nullptr);
        fake::ClearCalls();
    }

    void TearDown() override { dsp->Free(nullptr); }

    std::vector<uint8_t> HeldBlock() {
        std::vector<uint8_t> block(12);
        EXPECT_EQ(dsp->GetConfig(nullptr, block.data()), 12u);
        return block;
    }

    void Hold(int32_t showAlbumDate, int32_t showVersion, int32_t timeMode) {
        const int32_t words[3] = {showAlbumDate, showVersion, timeMode};
        ASSERT_EQ(dsp->SetConfig(nullptr, words, sizeof words), 1);
        fake::ClearCalls();
    }

    const XMPDSP* dsp = nullptr;
};

std::vector<uint8_t> BytesOf(int32_t a, int32_t b, int32_t c) {
    const int32_t words[3] = {a, b, c};
    std::vector<uint8_t> bytes(12);
    std::memcpy(bytes.data(), words, 12);
    return bytes;
}

TEST_F(Settings, GetConfigWritesTheDefaultsAsTwelveLittleEndianBytes) {
    uint8_t block[16];
    std::memset(block, 0xAA, sizeof block);
    EXPECT_EQ(dsp->GetConfig(nullptr, block), 12u);
    const uint8_t expected[16] = {1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0xAA, 0xAA, 0xAA, 0xAA};
    EXPECT_EQ(std::memcmp(block, expected, sizeof block), 0) << "only 12 bytes are written";
}

struct PartialBlockCase {
    uint32_t size;
    size_t copied;  // how many leading bytes of the block replace the held ones
};

void PrintTo(const PartialBlockCase& c, std::ostream* os) {
    *os << "size " << c.size << ", " << c.copied << " bytes copied";
}

class SetConfigSizes : public Settings, public ::testing::WithParamInterface<PartialBlockCase> {};

// The held words start as 1, 1, 0; the block offers 16 distinct bytes.
TEST_P(SetConfigSizes, CopiesTheFirstMinOfSizeAndTwelveBytes) {
    const PartialBlockCase c = GetParam();
    uint8_t offered[16];
    for (size_t i = 0; i < sizeof offered; ++i) offered[i] = static_cast<uint8_t>(0xA0 + i);

    EXPECT_EQ(dsp->SetConfig(nullptr, offered, c.size), 1);

    std::vector<uint8_t> expected = BytesOf(1, 1, 0);
    std::memcpy(expected.data(), offered, c.copied);
    EXPECT_EQ(HeldBlock(), expected);
    EXPECT_EQ(fake::PresenceCount(), 0u) << "SetConfig publishes nothing";
    // The version text is rebuilt from the word now held, which is non-zero here.
    EXPECT_EQ(fake::CountCalls(fake::Call::GetVersion), 1u);
    EXPECT_STREQ(largeImageTextBuffer, VersionedText);
}

INSTANTIATE_TEST_SUITE_P(Sizes, SetConfigSizes,
                         ::testing::Values(PartialBlockCase{0, 0},             // nothing replaced
                                           PartialBlockCase{6, 6},             // low half of showVersion only
                                           PartialBlockCase{8, 8},             // both flags, timeMode kept
                                           PartialBlockCase{12, 12},           // the whole block
                                           PartialBlockCase{16, 12},           // the rest ignored
                                           PartialBlockCase{0x80000000u, 12},  // compared unsigned
                                           PartialBlockCase{0xFFFFFFFFu, 12}));

TEST_F(Settings, SetConfigWithSixBytesKeepsTheHighHalfOfShowVersion) {
    Hold(0, 0x12340000, 2);
    const uint8_t offered[6] = {7, 0, 0, 0, 0x56, 0x78};
    EXPECT_EQ(dsp->SetConfig(nullptr, offered, sizeof offered), 1);
    EXPECT_EQ(settings.showAlbumDate, 7);
    EXPECT_EQ(settings.showVersion, 0x12347856);
    EXPECT_EQ(settings.timeMode, 2);
}

TEST_F(Settings, SetConfigWithAnEmptyBlockAcceptsANullPointer) {
    EXPECT_EQ(dsp->SetConfig(nullptr, nullptr, 0), 1);
    EXPECT_EQ(HeldBlock(), BytesOf(1, 1, 0));
}

TEST_F(Settings, OutOfRangeWordsAreStoredAndReturnedUnchanged) {
    const int32_t blocks[][3] = {{2, -1, 5}, {-1, INT32_MIN, 3}, {INT32_MAX, 2, -7}};
    for (const auto& words : blocks) {
        EXPECT_EQ(dsp->SetConfig(nullptr, words, 12), 1);
        EXPECT_EQ(HeldBlock(), BytesOf(words[0], words[1], words[2]));
    }
}

TEST_F(Settings, RestoringShowVersionZeroChangesTheLargeImageTextAtOnce) {
    dsp->NewTrack(nullptr, "song.mp3");  // a presence is shown, with the version
    ASSERT_EQ(fake::PresenceCount(), 1u);
    EXPECT_STREQ(fake::LastPresence().largeImageText.text, VersionedText);

    const int32_t words[3] = {1, 0, 0};
    EXPECT_EQ(dsp->SetConfig(nullptr, words, 12), 1);
    EXPECT_STREQ(largeImageTextBuffer, "XMPlay");
    EXPECT_EQ(presence.largeImageText, largeImageTextBuffer);
    EXPECT_EQ(fake::CountCalls(fake::Call::GetVersion), 0u) << "the plain name needs no version";
    EXPECT_EQ(fake::PresenceCount(), 1u) << "nothing is sent until the next publication";

    dsp->Reset(nullptr);
    EXPECT_STREQ(fake::LastPresence().largeImageText.text, "XMPlay");
}

TEST_F(Settings, NewPutsTheDefaultsBackAfterARestoredBlock) {
    Hold(0, 0, 2);
    dsp->Free(nullptr);
    ASSERT_NE(dsp->New(), nullptr);
    EXPECT_EQ(HeldBlock(), BytesOf(1, 1, 0));
}

TEST(ClockButtonForMode, ShowsTheStoredModeOrNoButton) {
    const struct {
        int32_t timeMode;
        int32_t button;
    } cases[] = {
        {TimeRemaining, IDC_TIME_REMAINING},
        {TimeElapsed, IDC_TIME_ELAPSED},
        {TimeDisabled, IDC_TIME_DISABLED},
        {3, 0},
        {-1, 0},
        {INT32_MIN, 0},
        {INT32_MAX, 0},
    };
    for (const auto& c : cases) EXPECT_EQ(ClockButtonForMode(c.timeMode), c.button) << c.timeMode;
}

// ------------------------------------------------------------ dialog OK ----

// The controls of a dialog stand-in: which are checked, which were asked,
// and what the plug-in held at the moment each was asked.
struct ControlQuery {
    int32_t control;
    int32_t timeModeHeld;
    size_t versionReads;
};

HostWindow const StandInDialog = reinterpret_cast<HostWindow>(static_cast<uintptr_t>(0x2020));
std::vector<int32_t> checkedControls;
std::vector<ControlQuery> queries;
bool foreignDialogAsked;

bool StandInIsChecked(HostWindow dialog, int32_t control) {
    if (dialog != StandInDialog) foreignDialogAsked = true;
    queries.push_back({control, settings.timeMode, fake::CountCalls(fake::Call::GetVersion)});
    for (int32_t c : checkedControls) {
        if (c == control) return true;
    }
    return false;
}

class DialogOk : public Settings {
protected:
    void SetUp() override {
        Settings::SetUp();
        checkedControls.clear();
        queries.clear();
        foreignDialogAsked = false;
    }

    void PressOk(const std::vector<int32_t>& checked) {
        checkedControls = checked;
        queries.clear();
        StoreDialogChoices(StandInDialog, StandInIsChecked);
        EXPECT_FALSE(foreignDialogAsked);
    }

    std::vector<int32_t> AskedControls() {
        std::vector<int32_t> asked;
        asked.reserve(queries.size());
        for (const ControlQuery& q : queries) asked.push_back(q.control);
        return asked;
    }
};

struct ClockCase {
    const char* name;
    std::vector<int32_t> checkedRadios;
    int32_t timeMode;
    std::vector<int32_t> asked;
};

TEST_F(DialogOk, ClockModeComesFromTheRadioButtonsElapsedFirst) {
    const std::vector<int32_t> flags = {IDC_SHOW_ALBUM_DATE, IDC_SHOW_VERSION};
    const ClockCase cases[] = {
        {"remaining",
         {IDC_TIME_REMAINING},
         TimeRemaining,
         {IDC_SHOW_ALBUM_DATE, IDC_SHOW_VERSION, IDC_TIME_ELAPSED, IDC_TIME_REMAINING}},
        {"elapsed",
         {IDC_TIME_ELAPSED},
         TimeElapsed,
         {IDC_SHOW_ALBUM_DATE, IDC_SHOW_VERSION, IDC_TIME_ELAPSED}},
        {"disabled",
         {IDC_TIME_DISABLED},
         TimeDisabled,
         {IDC_SHOW_ALBUM_DATE, IDC_SHOW_VERSION, IDC_TIME_ELAPSED, IDC_TIME_REMAINING}},
        {"none checked",
         {},
         TimeDisabled,
         {IDC_SHOW_ALBUM_DATE, IDC_SHOW_VERSION, IDC_TIME_ELAPSED, IDC_TIME_REMAINING}},
        {"elapsed and remaining",
         {IDC_TIME_REMAINING, IDC_TIME_ELAPSED},
         TimeElapsed,
         {IDC_SHOW_ALBUM_DATE, IDC_SHOW_VERSION, IDC_TIME_ELAPSED}},
    };
    for (const ClockCase& c : cases) {
        SCOPED_TRACE(c.name);
        Hold(1, 1, 3);  // restored out of range: no radio button shows it
        std::vector<int32_t> checked = flags;
        checked.insert(checked.end(), c.checkedRadios.begin(), c.checkedRadios.end());
        PressOk(checked);
        EXPECT_EQ(settings.timeMode, c.timeMode);
        EXPECT_EQ(AskedControls(), c.asked) << "the disabled button is never asked";
    }
}

TEST_F(DialogOk, FlagsAreRewrittenAsZeroOrOneFromTheBoxes) {
    Hold(2, 1, 0);
    PressOk({IDC_SHOW_VERSION, IDC_TIME_REMAINING});
    EXPECT_EQ(settings.showAlbumDate, 0);

    Hold(-1, 1, 0);
    PressOk({IDC_SHOW_ALBUM_DATE, IDC_SHOW_VERSION, IDC_TIME_REMAINING});
    EXPECT_EQ(settings.showAlbumDate, 1);

    Hold(1, 7, 0);  // checked box, held word 7: a change, stored as 1
    PressOk({IDC_SHOW_ALBUM_DATE, IDC_SHOW_VERSION, IDC_TIME_REMAINING});
    EXPECT_EQ(settings.showVersion, 1);
    EXPECT_EQ(fake::CountCalls(fake::Call::GetVersion), 1u);
}

TEST_F(DialogOk, UnchangedShowVersionLeavesTheLargeImageTextAlone) {
    std::strcpy(largeImageTextBuffer, "sentinel");
    PressOk({IDC_SHOW_ALBUM_DATE, IDC_SHOW_VERSION, IDC_TIME_REMAINING});
    EXPECT_EQ(settings.showVersion, 1);
    EXPECT_EQ(fake::CountCalls(fake::Call::GetVersion), 0u);
    EXPECT_STREQ(largeImageTextBuffer, "sentinel");
}

TEST_F(DialogOk, ChangedShowVersionRebuildsTheTextBeforeTheClockIsStored) {
    PressOk({IDC_SHOW_ALBUM_DATE, IDC_TIME_ELAPSED});
    EXPECT_EQ(settings.showVersion, 0);
    EXPECT_STREQ(largeImageTextBuffer, "XMPlay");
    EXPECT_EQ(settings.timeMode, TimeElapsed);

    PressOk({IDC_SHOW_ALBUM_DATE, IDC_SHOW_VERSION, IDC_TIME_REMAINING});
    EXPECT_EQ(settings.showVersion, 1);
    EXPECT_STREQ(largeImageTextBuffer, VersionedText);
    EXPECT_EQ(presence.largeImageText, largeImageTextBuffer);
    ASSERT_EQ(queries.size(), 4u);
    // When the clock buttons were asked, the text was already rebuilt and
    // the clock mode not yet stored.
    EXPECT_EQ(queries[2].control, IDC_TIME_ELAPSED);
    EXPECT_EQ(queries[2].versionReads, 1u);
    EXPECT_EQ(queries[2].timeModeHeld, TimeElapsed);
    EXPECT_EQ(settings.timeMode, TimeRemaining);
    EXPECT_EQ(fake::PresenceCount(), 0u) << "OK sends nothing itself";
}

TEST_F(DialogOk, AlwaysAsksTheMonitorToRepublishAndLeavesItsVariables) {
    for (int changeSomething = 0; changeSomething < 2; ++changeSomething) {
        republishRequested = false;
        expectedRemaining = 37;
        processCount.store(99);
        if (changeSomething != 0)
            PressOk({IDC_TIME_DISABLED});
        else
            PressOk({IDC_SHOW_ALBUM_DATE, IDC_SHOW_VERSION, IDC_TIME_REMAINING});
        EXPECT_TRUE(republishRequested.load());
        EXPECT_EQ(expectedRemaining, 37);
        EXPECT_EQ(processCount.load(), 99u) << "the block count is Process's: a pause still shows";
    }
}

}  // namespace
