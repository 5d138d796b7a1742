// The stand-in player: loads a DSP plug-in the way XMPlay does, answers its
// calls from a scriptable current track, runs a real main window with a
// message loop on its own "window thread" and an audio thread that feeds
// Process while a track plays, calls the plug-in in the order and on the
// threads the real XMPlay (3.8) does, and records in order every call the plug-in
// makes (to the player's tables and to the window functions it imports),
// numbered from the sequence it shares with the recording stand-in of
// discord-rpc.dll. Every function here may be called from any thread.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <future>
#include <optional>
#include <string>
#include <vector>

#include "host/xmp_host.h"
#include "tools/common/wall_clock_ms.h"

// The current track as the player describes it through GetTag; a tag that is
// std::nullopt is missing (GetTag answers null).
struct StandinTrack {
    std::optional<std::string> title;      // tag -1, the formatted title
    std::optional<std::string> length;     // tag -4, whole seconds as decimal text
    std::optional<std::string> album;      // tag 2
    std::optional<std::string> date;       // tag 3
    std::optional<std::string> fileType;   // tag 7
    std::optional<std::string> itemTitle;  // tag -3: a stream's song, a CUE sheet's part
};

enum class PlaybackMode { Stopped, Playing, Paused };

// The thread on which the player sends its notifications.
enum class NotifyThread { Window, Audio, Caller };

enum class PlayerCallKind {
    // the plug-in calling the player's tables
    Interface,   // number: interface asked for
    GetVersion,  // number: the word answered
    GetWindow,   // handle: the window answered
    FreeText,    // handle: the pointer released; number: its tag (or -9999 when unknown)
    GetTag,      // number: tag; handle: text handed out (0 for none); text: its content
    IsPlaying,   // number: the answer
    GetTime,     // text: the position answered, "%.3f"
    // the plug-in calling the window functions it imports
    SetTimer,   // handle: window; number: timer id; extra: period; result: SetTimer's result
    KillTimer,  // handle: window; number: timer id; result
    TickStart,  // a tick of a timer the plug-in set; handle: window; number: timer id
    TickEnd,
    DialogBoxEnter,   // handle: owner; number: template id (-1 when named); extra: 1 when from the plug-in's
                      // module
    DialogBoxLeave,   // result: the dialog's result
    EndDialog,        // handle: dialog; number: result
    MessageBox,       // handle: owner; text, caption; extra: style
    MessageBoxLeave,  // result
    // the player calling the plug-in, and what the player does
    SlotEnter,  // text: slot name
    SlotLeave,  // text: slot name; result
    Action,     // text: what the player did ("play", "pause", "seek 42.000", ...)
};

// One entry of the player's log.
struct PlayerCall {
    uint32_t sequence;
    int64_t wallClockMs;
    DWORD threadId;
    PlayerCallKind kind;
    int64_t number;
    uintptr_t handle;
    int64_t extra;
    int64_t result;
    std::string text;
    std::string caption;
};

// Starts the window thread (its window and message loop) and the audio
// thread, with an empty log, no track and version word 0x03080500.
bool StartPlayer(void);

// Ends both threads; the plug-in must have been unloaded.
void StopPlayer(void);

HWND PlayerWindow(void);
DWORD PlayerWindowThreadId(void);
DWORD PlayerAudioThreadId(void);

// How long any wait of the player, or of a program driving it, may last
// before it is a hang: far above the few seconds the slowest honest run
// takes on a busy machine, far below the suite's own timeout.
enum : DWORD { PlayerHangMs = 60000 };

// The exit status of a program that ReportHang ended.
enum : UINT { PlayerHangExitCode = 124 };

// A wait that outlived PlayerHangMs: prints "HANG:", the wait, the thread
// it stood on and what it waited for, the last lines of the player's log
// and a backtrace of every thread of the program, then ends the program.
[[noreturn]] void ReportHang(const char* wait, const char* what);

// Prints where every thread of a process stands (nowglow-backtrace.exe,
// beside the program), within a bound.
void PrintBacktraces(DWORD processId);

// Runs work on the window thread and returns when it is done (as
// SendMessage does: a modal loop there runs it too). The work is copied and
// owned by both threads.
void RunOnWindowThread(const std::function<void()>& work);

// Queues work for the window thread and returns at once (PostMessage); the
// future is ready when the work is done. For calls that run a modal loop.
std::shared_future<void> PostToWindowThread(std::function<void()> work);

// Waits for work posted to the window thread, or reports a hang.
void AwaitPosted(const std::shared_future<void>& posted, const char* what);

// Runs work on the audio thread, between two blocks, and returns when done.
void RunOnAudioThread(const std::function<void()>& work);

// Loads the plug-in with LoadLibrary, watches the window functions it
// imports, and binds it through XMPDSP_GetInterface2(1). False (with the
// reason among PlayerErrors) when any step fails.
bool LoadPlugin(const char* path);

// Stops feeding the plug-in and unloads it with FreeLibrary. The player's
// threads and message loop keep running.
bool UnloadPlugin(void);

// The plug-in's monotonic clock (its GetTickCount) is the system's plus a
// skip that only grows. By default every update and clear the plug-in hands
// its library moves the skip on by 20 s, longer than the plug-in waits
// between two updates, so that a test about what is published sees every
// publication reach the library at once; a test of that wait turns the
// steps off and runs on the real clock.
void StepPluginClockAtUpdates(bool step);

HMODULE PluginModule(void);
const XMPDSP* PluginDescriptor(void);

// Whether an address lies inside the loaded plug-in's image.
bool PluginImageContains(uintptr_t address);

// Calls the plug-in's XMPDSP_GetInterface2 with any interface number, with
// the player's interface getter.
const XMPDSP* CallGetInterface2(uint32_t face);

// The descriptor's slots as the player calls them. New and Free run on the
// window thread (the timer belongs to the window); Config and About are
// posted there (their modal loops block); the others run on the caller's
// thread. Each call is logged between SlotEnter and SlotLeave. New is
// followed by SetConfig with the block saved at the last ClosePlayer, if any.
void* PluginNew(void);
void PluginFree(void);
std::shared_future<void> PluginConfig(void);
std::shared_future<void> PluginAbout(void);
const char* PluginGetDescription(void);
uint32_t PluginGetConfig(void* block);
int32_t PluginSetConfig(const void* block, uint32_t size);
// SetFormat with the track's format, or with null (the track stops or closes).
void PluginSetFormat(bool opened);

// The player closing while the plug-in is active: SetFormat(null),
// NewTrack(null) and GetConfig (whose block it keeps for the next New) on the
// window thread, then Free.
void ClosePlayer(void);

// The player's notifications, sent on the chosen thread (window by default).
void SetNotifyThread(NotifyThread thread);
void NotifyNewTrack(const char* file);
void NotifyNewTitle(const char* title);
void NotifyReset(void);

// The current track. Each change runs on the window thread, so that it never
// falls inside a timer tick, and is logged as an Action. As in the real
// player, IsPlaying answers 1 while paused, and after a play, a seek while
// playing or a new track the blocks come from a new audio thread, starting
// with a burst.
void SetTrack(const StandinTrack& track);  // new tags; state and position unchanged
// Play or resume: from stopped, SetFormat with the format first; no NewTrack.
void PlayTrack(void);
// No slot is called: only the blocks stop. Returns once no Process call is under way.
void PauseTrack(void);
// Stop, or the end of the list: position back to 0, SetFormat(null); the
// track stays loaded, with its tags; no NewTrack.
void StopTrack(void);
// The position moves, then Reset on the window thread before this returns;
// while paused no block follows until the resume.
void SeekTrack(double seconds);
// The user opening a file, or the next track by key: on a new worker
// thread, SetFormat(null), NewTrack(null), NewTrack(file) (answered as
// stopped at 0), SetFormat(format), then playing from 0.
void OpenTrack(const StandinTrack& track, const char* file);
// A track played to its natural end: NewTrack(null) at once, while the old
// track's tail plays on with no tags, then TailMs later the next track as
// OpenTrack opens it.
enum : DWORD { TailMs = 530 };
void PlayOnToTrack(const StandinTrack& track, const char* file);
// An item that names what plays inside it (a stream, a CUE sheet, a
// module) opened as OpenTrack opens a track, but with NewTitle first, once,
// while the player still answers as stopped, as the real player does.
void OpenItem(const StandinTrack& item, const char* file);
// A new song inside the item (a stream's next song, the next part of a
// file with its CUE sheet beside it): tag -3 becomes the song, then
// NewTitle with it. No NewTrack.
void NameSongInside(const char* song);
// The next part of an opened CUE sheet: NewTrack(null), then 1 ms later,
// the part's tags already in place, NewTrack(file); GetTime goes on with
// the previous part's clock for CuePositionLagMs more, then the new part's.
enum : DWORD { CuePositionLagMs = 750 };
void PlayOnToCuePart(const StandinTrack& part, const char* file);
// A track opened at position 0 on the calling thread instead of the window
// thread, then NewTrack with the file name, as a player whose decoder opens
// the next track itself: a running tick sees the change unless
// SetTickTrackSnapshot holds its view. The track is left in modeAfter.
void OpenTrackOnThisThread(const StandinTrack& track, const char* file,
                           PlaybackMode modeAfter = PlaybackMode::Playing);
// Closing the track for good: stopped, no tags, SetFormat(null), then
// NewTrack with null.
void CloseTrack(void);
double TrackPosition(void);
PlaybackMode TrackMode(void);
void SetPlayerVersion(uint32_t word);
// Every call of the player's tables made on the window thread answers
// windowThreadMs later, and every one made on the audio thread
// audioThreadMs later (0, the default, at once): a slow player, which keeps
// a publication's composition open long enough for other threads to act
// meanwhile.
void SetAnswerDelays(DWORD windowThreadMs, DWORD audioThreadMs);
// While on (off by default), each tick of the plug-in's timer sees the
// track's tags as they stood when the tick began, whatever changes
// meanwhile: a player that answers each caller from one consistent view.
// The track may then change on another thread while a tick runs.
void SetTickTrackSnapshot(bool on);

// The log.
uint32_t NextSequence(void);
std::vector<PlayerCall> PlayerCalls(void);
// Forgets the log's entries numbered before `sequence`, keeping the errors:
// a long run would otherwise hold every call it made in memory.
void ForgetPlayerCallsBefore(uint32_t sequence);
// The plug-in's timers that are set and not killed: a tick of any other
// timer of the plug-in's cannot arrive.
size_t PluginTimersSet(void);
// Ticks of the plug-in's timers begun and ended since the program started,
// counted apart from the log so that they survive forgetting it.
uint32_t PluginTicksStarted(void);
uint32_t PluginTicksEnded(void);
std::vector<std::string> PlayerErrors(void);
void ReportPlayerError(const std::string& error);
size_t OutstandingTexts(void);  // texts handed out and not yet released
uint32_t ProcessCallCount(void);
const char* PlayerCallKindName(PlayerCallKind kind);
