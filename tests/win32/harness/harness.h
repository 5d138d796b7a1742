// Shared helpers of the Wine-run tests: a fixture that starts the stand-in
// player and loads the real plug-in for each test, read-back of the
// recording stand-in of discord-rpc.dll, waits on conditions with
// deadlines, queries over the merged call sequence, and the few window
// operations the dialog tests need.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tools/discord_standin/discord_recorder.h"
#include "tools/standin_player/standin_player.h"

// The status timer's period, and the slack every wait allows on top of it
// for Wine's scheduling on a busy machine. Waits end as soon as their
// condition holds, so the slack costs nothing when all goes well.
enum : int { TickMs = 2000, SlackMs = 2500 };

// Sequence bound meaning "up to now and beyond".
enum : uint32_t { SequenceEnd = UINT32_MAX };

// ---- the recording stand-in ----

// Every call recorded since the test began.
std::vector<RecordedCall> DiscordCalls(void);

// The calls numbered after `since` and before `until`; kind 0 means any.
std::vector<RecordedCall> DiscordCallsBetween(uint32_t since, uint32_t until, int32_t kind = 0);

// The presence updates numbered after `since` and before `until`.
std::vector<RecordedCall> PresencesBetween(uint32_t since, uint32_t until = SequenceEnd);

// ---- the merged sequence ----

// A point in the sequence shared by the player's log and the recorder.
uint32_t Mark(void);

// The player's log entries of one kind numbered between the two bounds.
std::vector<PlayerCall> PlayerCallsBetween(uint32_t since, uint32_t until, PlayerCallKind kind);

// Every call the plug-in made to the player's tables (GetTag, Free,
// IsPlaying, GetTime, GetVersion, GetWindow, Interface) between the bounds.
std::vector<PlayerCall> PluginToPlayerCallsBetween(uint32_t since, uint32_t until);

// The calls the plug-in made between the bounds, in order, as one line:
// its calls to the player ("GetTag(-1)", "GetTime", "Free(-4)" naming the
// tag of the released text, "IsPlaying", ...), to the window functions
// ("SetTimer", "KillTimer", "EndDialog", ...) and to the library
// ("Initialize", "Update", "Clear", "Shutdown"), separated by blanks.
std::string CallOrder(uint32_t since, uint32_t until);

// One completed tick of the plug-in's timer, by its log entries.
struct Tick {
    uint32_t start;
    uint32_t end;
    int64_t startMs;
    DWORD threadId;
};

// The ticks that started after `since` and ended before `until`.
std::vector<Tick> TicksBetween(uint32_t since, uint32_t until = SequenceEnd);

// The publications made inside a tick.
std::vector<RecordedCall> PresencesIn(const Tick& tick);

// ---- waiting ----

// Polls the condition until it holds or the time is up; true when it held.
bool WaitUntil(const std::function<bool()>& condition, int timeoutMs);

// The first presence update after `since` that satisfies the filter (any,
// when none is given), waiting up to timeoutMs for it.
std::optional<RecordedCall> WaitForPresence(uint32_t since, int timeoutMs,
                                            const std::function<bool(const RecordedCall&)>& filter = nullptr);

// The first tick that starts after `since`, once it has ended.
std::optional<Tick> WaitForTick(uint32_t since, int timeoutMs);

// The count-th completed tick (1-based) that starts after `since`.
std::optional<Tick> WaitForTicks(uint32_t since, int count, int timeoutMs);

// The tick during which the call numbered `sequence` was made, once it has
// ended; nothing when that call was made outside a tick.
std::optional<Tick> TickContaining(uint32_t sequence, int timeoutMs);

// ---- reading a presence ----

std::string Text(const RecordedText& text);

// The badge key of a presence: "play", "pause", "stopped".
std::string Badge(const RecordedCall& call);

// Seconds the clock shows as left (end time less arrival), or as elapsed.
double SecondsLeft(const RecordedCall& call);
double SecondsElapsed(const RecordedCall& call);

// The clock of a Playing presence, checked exactly against what the player
// answered: the plug-in truncates the position the player last answered on
// the publishing thread, and reads the wall clock between that answer and
// the presence's arrival. A remaining-time clock ends lengthSeconds less the
// position after that reading; an elapsed-time clock starts the position
// before it. No allowance for a busy machine is needed.
void ExpectRemainingClock(const RecordedCall& call, int64_t lengthSeconds);
void ExpectElapsedClock(const RecordedCall& call);

// One line describing a recorded call, for failure messages.
std::string Describe(const RecordedCall& call);

// The whole sequence, player log and recorder merged, for failure output.
std::string Transcript(void);

// ---- windows ----

// A top-level window of the thread with the given caption and class, once it exists.
HWND WaitForThreadWindow(DWORD threadId, const char* caption, const char* windowClass, int timeoutMs);

// Whether the window is gone, waiting up to timeoutMs.
bool WaitForWindowGone(HWND window, int timeoutMs);

std::string WindowText(HWND window);

// BM_GETCHECK of a dialog control.
LRESULT CheckState(HWND dialog, int control);

// A click on a dialog control (BM_CLICK), as the user's mouse would.
void Click(HWND dialog, int control);

// ---- what the process holds ----

// Kernel handles the process holds: GetProcessHandleCount, or, where it
// answers 0 (Wine 8), the handle values of its own table that are open.
uint32_t ProcessHandleCount(void);

// GDI objects the process holds: GetGuiResources, or, where it answers 0
// (Wine 8), the live entries of Wine's GDI object table.
uint32_t GdiObjectCount(void);

// USER objects the process holds: GetGuiResources, or, where it answers 0
// (Wine 8), the windows the process owns, top-level and child.
uint32_t UserObjectCount(void);

// ---- the fixture ----

// The full path of the plug-in the tests load: the unstripped twin of the
// shipped DLL, in symbols\ beside the test program.
std::string PluginPath(void);

// A test of the real plug-in: each test starts a fresh stand-in player and
// loads the plug-in (its state zero, as at first load); the end of the test
// frees a live instance, unloads the plug-in, and fails the test on any
// error the player found or any text the plug-in kept.
class PluginTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // New on the window thread; expects the instance handle 1.
    void StartInstance(void);
    // Free on the window thread.
    void EndInstance(void);
    // FreeLibrary, keeping the player running.
    void Unload(void);

    bool instanceLive = false;
    bool pluginLoaded = false;
    // The most lines of the call sequence a failed test prints, from its
    // end; 0 prints it whole. Long tests log too much to print it all.
    size_t transcriptTailLines = 0;
};

// A track with every tag: title, length 200 s, album, date and file type.
StandinTrack FullTrack(const char* title = "Strobe", const char* album = "For Lack of a Better Name",
                       const char* date = "2009");
