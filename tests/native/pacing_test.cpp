// The pace of the updates handed to the library, against the fake player and
// a monotonic clock that moves only as the script says: which updates go
// out, and when, for the sequences a user plays. The status timer ticks at
// 1 s and every 2 s after; audio flows while a track plays.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "fakes/fakes.h"
#include "monitor/playback_monitor.h"
#include "plugin/plugin_state.h"
#include "settings/dialog_choices.h"
#include "settings/resource_ids.h"

namespace {

using Lines = std::vector<std::string>;

enum class Act { Open, Pause, Resume, Seek, Reset, OkWithoutVersion, Free, New };

struct Step {
    uint32_t atMs;
    Act act;
    const char* title;  // Open: the track's title
    double seconds;     // Seek: the new position
};

struct PacingCase {
    const char* name;
    std::vector<Step> steps;
    Lines updates;  // "<ms> <badge> <first line> <clock>[ hover <text>]", or "<ms> clear"
};

const uint32_t StepMs = 100;
const uint32_t EndMs = 80000;
const uint32_t FirstTickMs = 1000;
const uint32_t TickMs = 2000;

// The script's time, for the observer that notes each update.
uint32_t scriptMs;
Lines* noted;

std::string Clock(const fake::RecordedPresence& sent) {
    if (sent.endTimestamp != 0) return "end+" + std::to_string(sent.endTimestamp - fake::DefaultNow);
    if (sent.startTimestamp != 0) return "start+" + std::to_string(sent.startTimestamp - fake::DefaultNow);
    return "-";
}

void NoteUpdate(const fake::RecordedPresence& sent, void*) {
    std::string line = std::to_string(scriptMs) + " " + sent.smallImageKey.text + " " + sent.details.text +
                       " " + Clock(sent);
    if (std::string(sent.largeImageText.text) != "XMPlay v3.8.5.0")
        line += std::string(" hover ") + sent.largeImageText.text;
    noted->push_back(line);
}

void PrintTo(const PacingCase& row, std::ostream* out) { *out << row.name; }

bool CheckedWithoutVersion(HostWindow, int32_t control) {
    return control == IDC_SHOW_ALBUM_DATE || control == IDC_TIME_REMAINING;
}

class Pacing : public ::testing::TestWithParam<PacingCase> {
protected:
    void SetUp() override {
        fake::Reset();
        fake::StepClockAtUpdates(false);
        dsp = fake::BindPlugin();
        fake::SetVersion(0x03080500u);
        fake::SetPlaying(0);
        noted = &updates;
        fake::SetPresenceObserver(NoteUpdate, nullptr);
    }

    void TearDown() override {
        fake::SetPresenceObserver(nullptr, nullptr);
        if (live) dsp->Free(nullptr);
        EXPECT_TRUE(fake::TextsBalanced());
    }

    void Do(const Step& step) {
        switch (step.act) {
        case Act::Open:
            fake::SetTrack({step.title, "200", "Album", "1999", "MP3", 0.0});
            positionMs = 0;
            dsp->NewTrack(nullptr, nullptr);
            dsp->NewTrack(nullptr, "track.mp3");
            fake::SetPlaying(1);
            playing = true;
            break;
        case Act::Pause:  // the player still answers IsPlaying 1; no audio flows
            playing = false;
            break;
        case Act::Resume: playing = true; break;
        case Act::Seek:
            positionMs = static_cast<uint32_t>(step.seconds * 1000);
            fake::SetPosition(step.seconds);
            dsp->Reset(nullptr);
            break;
        case Act::Reset: dsp->Reset(nullptr); break;
        case Act::OkWithoutVersion: StoreDialogChoices(nullptr, CheckedWithoutVersion); break;
        case Act::Free:
            dsp->Free(nullptr);
            live = false;
            break;
        case Act::New:
            dsp->New();
            live = true;
            break;
        }
    }

    // Plays the script to its end; the clear of a Free is noted as it goes.
    void Play(const std::vector<Step>& steps) {
        size_t next = 0;
        for (scriptMs = 0; scriptMs <= EndMs; scriptMs += StepMs) {
            if (scriptMs > 0) {
                fake::AdvanceMonotonicMs(StepMs);
                if (playing) {
                    positionMs += StepMs;
                    fake::SetPosition(positionMs / 1000.0);
                    dsp->Process(nullptr, nullptr, 0);
                }
            }
            fake::SetWallClock(fake::DefaultNow + scriptMs / 1000);
            const size_t clears = fake::ClearCount();
            while (next < steps.size() && steps[next].atMs == scriptMs) Do(steps[next++]);
            if (fake::ClearCount() != clears) updates.push_back(std::to_string(scriptMs) + " clear");
            if (live && scriptMs % TickMs == FirstTickMs) RunMonitorTick();
        }
        EXPECT_EQ(next, steps.size()) << "a step lies off the script's grid";
    }

    const XMPDSP* dsp = nullptr;
    bool live = false;
    bool playing = false;
    uint32_t positionMs = 0;  // counted whole, so that no rounding creeps in
    Lines updates;
};

// Every sequence starts with a new instance and a track opened at once; the
// first update of a connection waits 18 s after it, every other 16 s, and a
// held update goes at the first tick after that.
const PacingCase cases[] = {
    {"FiveTracksSkippedInFourSeconds",
     {{0, Act::New, nullptr, 0},
      {0, Act::Open, "Aa", 0},
      {30000, Act::Open, "Bb", 0},
      {31000, Act::Open, "Cc", 0},
      {32000, Act::Open, "Dd", 0},
      {33000, Act::Open, "Ee", 0},
      {34000, Act::Open, "Ff", 0}},
     {"0 play Aa end+200", "30000 play Bb end+230", "47000 play Ff end+234"}},
    {"PauseAndResumeWithinThreeSeconds",
     {{0, Act::New, nullptr, 0},
      {0, Act::Open, "Aa", 0},
      {30200, Act::Pause, nullptr, 0},
      {33100, Act::Resume, nullptr, 0}},
     {"0 play Aa end+200", "33000 pause Aa -", "49000 play Aa end+203"}},
    {"SeekWhilePausedThenResume",
     {{0, Act::New, nullptr, 0},
      {0, Act::Open, "Aa", 0},
      {30200, Act::Pause, nullptr, 0},
      {36000, Act::Seek, nullptr, 100.0},
      {40000, Act::Resume, nullptr, 0}},
     {"0 play Aa end+200", "33000 pause Aa -", "49000 play Aa end+140"}},
    {"TwoSeeksWhilePlaying",
     {{0, Act::New, nullptr, 0},
      {0, Act::Open, "Aa", 0},
      {30000, Act::Seek, nullptr, 100.0},
      {35000, Act::Seek, nullptr, 150.0}},
     {"0 play Aa end+200", "30000 play Aa end+130", "47000 play Aa end+85"}},
    {"ARepublicationOfTheSameCardStartsNoWait",
     {{0, Act::New, nullptr, 0},
      {0, Act::Open, "Aa", 0},
      {30000, Act::Reset, nullptr, 0},
      {31500, Act::Pause, nullptr, 0}},
     {"0 play Aa end+200", "35000 pause Aa -"}},
    {"OkWhileAnUpdateIsHeld",
     {{0, Act::New, nullptr, 0},
      {0, Act::Open, "Aa", 0},
      {30200, Act::Pause, nullptr, 0},
      {34000, Act::Resume, nullptr, 0},
      {36000, Act::OkWithoutVersion, nullptr, 0}},
     {"0 play Aa end+200", "33000 pause Aa -", "49000 play Aa end+204 hover XMPlay"}},
    {"FreeWhileAnUpdateIsHeld",
     {{0, Act::New, nullptr, 0},
      {0, Act::Open, "Aa", 0},
      {30200, Act::Pause, nullptr, 0},
      {34000, Act::Resume, nullptr, 0},
      {36000, Act::Free, nullptr, 0}},
     {"0 play Aa end+200", "33000 pause Aa -", "36000 clear"}},
    {"NewThreeSecondsAfterFree",
     {{0, Act::New, nullptr, 0},
      {0, Act::Open, "Aa", 0},
      {30000, Act::Free, nullptr, 0},
      {33000, Act::New, nullptr, 0}},
     {"0 play Aa end+200", "30000 clear", "47000 play Aa end+200"}},
};

TEST_P(Pacing, UpdatesGoOutAsDiscordTakesThem) {
    Play(GetParam().steps);
    EXPECT_EQ(updates, GetParam().updates);
}

INSTANTIATE_TEST_SUITE_P(Sequences, Pacing, ::testing::ValuesIn(cases),
                         [](const ::testing::TestParamInfo<PacingCase>& row) { return row.param.name; });

}  // namespace
