// Fakes of everything the portable code meets at its edges, for the native
// tests: the player (its misc and status tables, bound through the real
// XMPDSP_GetInterface2), the presence library (the four Discord_* functions),
// the Windows services (status timer, ending the dialog, the Config and About
// slots) and the wall clock.
//
// Every fake appends to one call log whose sequence numbers are shared, so a
// test can check how player calls, library calls and Windows calls
// interleave. The fakes keep all their storage in fixed static arrays and
// never allocate, so a test can count the plug-in's own allocations around
// them. Every entry point takes one mutex, so the fakes may be called from
// several threads at once (the stress tests); the query functions are meant
// for the test's own thread once the plug-in has gone quiet.
//
// Typical use:
//     fake::Reset();                      // plug-in state and fakes back to zero
//     const XMPDSP* dsp = fake::BindPlugin();
//     fake::SetTrack({"Title", "200", "Album", "1999", "MP3", 30.0});
//     fake::SetPlaying(1);
//     dsp->NewTrack(nullptr, "file.mp3");
//     EXPECT_EQ(fake::CallNames(), (std::vector<std::string>{"GetTag(-1)", ...}));
//     EXPECT_STREQ(fake::LastPresence().details.text, "Title");
//     EXPECT_TRUE(fake::TextsBalanced());
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "host/xmp_host.h"
#include "presence/discord_rpc.h"
#include "tools/common/recorded_presence.h"

namespace fake {

// ---------------------------------------------------------------- reset ----

// Puts every plug-in-wide variable (plugin/plugin_state.h) back to its
// load-time zero (instanceLive false, misc and status null, buffers empty)
// and every fake back to its initial state: empty log (sequence restarts at
// 0), no presence recorded, no track (every tag missing, position 0),
// IsPlaying 0, version word 0, window PlayerWindow, clock at DefaultNow,
// timer not running, text accounting zero, no observer, no thread track.
void Reset(void);

// Stores the three settings words as SetConfig with a 12-byte block would,
// without rebuilding the version text.
void StoreSettings(int32_t showAlbumDate, int32_t showVersion, int32_t timeMode);

// The pacing of updates as after the module's load: nothing held, the card
// shows nothing, the last update long ago; so the next publication reaches
// the library even when it repeats the one before. Reset does it too.
void ForgetLastUpdate(void);

// Binds the plug-in to the fake player through XMPDSP_GetInterface2(1, ...)
// and returns the descriptor it hands out. The two interface requests are
// logged as "Interface(0)" and "Interface(4)".
const XMPDSP* BindPlugin(void);

// The fake player's interface getter (answers 0 and 4, null otherwise), for
// tests of XMPDSP_GetInterface2 itself.
void* XMP_STDCALL InterfaceGetter(uint32_t face);

// ------------------------------------------------------------- call log ----

enum class Call : int32_t {
    InterfaceRequest,       // number: the interface number asked for
    GetVersion,             // player misc 0
    GetWindow,              // player misc 1; pointer: the window returned
    GetTag,                 // player misc 12; number: tag; pointer: text returned (may be null)
    FreeText,               // player misc 4; pointer: what it received; number: see below
    IsPlaying,              // player status 0
    GetTime,                // player status 1
    DiscordInitialize,      // number: index of the RecordedInitialize
    DiscordUpdatePresence,  // number: index of the RecordedPresence; pointer: the record's address
    DiscordClearPresence,
    DiscordShutdown,
    StartStatusTimer,  // pointer: the window
    StopStatusTimer,   // pointer: the window
    EndConfigDialog,   // pointer: the dialog
    Config,            // pointer: the owner window
    About,             // pointer: the owner window
};

// FreeText's number: the tag the released text was fetched with, or one of these.
enum : int64_t {
    FreedNull = INT64_MIN,         // Free(null)
    FreedForeign = INT64_MIN + 1,  // a pointer GetTag never returned
    FreedTwice = INT64_MIN + 2,    // a text already released
};

struct LoggedCall {
    uint64_t sequence;  // position in the one order shared by all fakes
    Call call;
    int64_t number;
    const void* pointer;
};

// The log keeps the first LogCapacity calls after a Reset or ClearCalls;
// later calls are counted in LogOverflowed() but not kept.
enum : size_t { LogCapacity = 8192 };

size_t CallCount(void);
LoggedCall CallAt(size_t index);
bool LogOverflowed(void);
// Empties the log; sequence numbers keep counting.
void ClearCalls(void);

// The kept log rendered one name per call, in order:
//   "Interface(N)", "GetVersion", "GetWindow", "GetTag(N)", "IsPlaying", "GetTime",
//   "Free(N)" (N the tag the text came from), "Free(null)", "Free(foreign)", "Free(twice)",
//   "Discord_Initialize", "Discord_UpdatePresence", "Discord_ClearPresence",
//   "Discord_Shutdown", "StartStatusTimer", "StopStatusTimer", "EndConfigDialog",
//   "Config", "About".
std::vector<std::string> CallNames(void);
// The same, keeping only the calls into the player (GetVersion, GetWindow,
// GetTag, Free, IsPlaying, GetTime).
std::vector<std::string> PlayerCallNames(void);
// How many kept calls are of the given kind.
size_t CountCalls(Call call);

// --------------------------------------------------------------- player ----

// The current track. A null text is a tag the player does not supply
// (GetTag returns null); an empty text is present. Tags other than these
// six always come back null.
struct Track {
    const char* title = nullptr;      // tag -1, the formatted title
    const char* length = nullptr;     // tag -4, the length in seconds as text
    const char* album = nullptr;      // tag 2
    const char* date = nullptr;       // tag 3
    const char* fileType = nullptr;   // tag 7
    double position = 0.0;            // GetTime
    const char* itemTitle = nullptr;  // tag -3, a stream's song or a CUE sheet's part
};

// Texts up to this many bytes (without the zero) can be set and handed out.
enum : size_t { MaxTagText = 1023 };

// Replaces the whole current track at once (the texts are copied), so a
// thread reading tags sees either the old track or the new one per call.
void SetTrack(const Track& track);
// Replaces one tag's text (null: missing). Only the six tags above.
void SetTag(int32_t tag, const char* text);
void SetPosition(double seconds);
void SetPlaying(int32_t isPlaying);     // IsPlaying's answer
void SetVersion(uint32_t versionWord);  // GetVersion's answer
void SetWindow(HostWindow window);      // GetWindow's answer
// A function GetVersion runs before it answers, on the caller's thread, so
// that a test can hold a caller there; null (as after Reset) runs none.
void SetGetVersionHook(void (*hook)(void));

// The window GetWindow answers after Reset.
HostWindow PlayerWindowHandle(void);

// Gives the calling thread a track of its own: while set, GetTag and GetTime
// on this thread read the given track (not copied: the caller keeps it alive
// and unchanged while set) instead of the shared one. Null goes back to the
// shared track. For the stress tests, where each thread publishes its own
// tracks and a record mixing two threads' lines shows a race.
void SetThreadTrack(const Track* track);

// Accounting of the texts GetTag hands out. Every text is handed out from a
// fixed pool; released texts, and the bytes past each text's zero, are
// poisoned under AddressSanitizer, so reading a text after its release or
// past its end is reported.
struct TextAccounting {
    int handedOut;        // non-null texts returned by GetTag
    int nullHandedOut;    // null answers of GetTag
    int released;         // non-null texts released (once each)
    int nullReleased;     // Free(null) calls
    int twiceReleased;    // releases of a text already released
    int foreignReleased;  // releases of a pointer GetTag never returned
    int Outstanding(void) const { return handedOut - released; }
};
TextAccounting Texts(void);
// True when every text handed out, null included, was released exactly once:
// nothing outstanding, as many Free(null) as null answers, no double or
// foreign release.
bool TextsBalanced(void);

// ------------------------------------------------------ presence library ----

// Each record handed to Discord_UpdatePresence is deep-copied on arrival as
// a RecordedPresence (tools/common/recorded_presence.h), the form the
// recording stand-in of discord-rpc.dll uses too.
using ::RecordedPresence;
using ::RecordedText;

// The last PresenceCapacity records are kept; PresenceCount counts them all.
enum : size_t { PresenceCapacity = 512 };
size_t PresenceCount(void);
// index in [PresenceCount() - min(PresenceCount(), PresenceCapacity), PresenceCount()).
const RecordedPresence& PresenceAt(size_t index);
const RecordedPresence& LastPresence(void);  // PresenceCount() must be > 0

// Called with every record as it arrives, under the fakes' mutex (it must not
// call into the fakes). Null removes it.
typedef void (*PresenceObserver)(const RecordedPresence& record, void* context);
void SetPresenceObserver(PresenceObserver observer, void* context);

struct RecordedInitialize {
    uint64_t sequence;
    bool applicationIdNull;
    char applicationId[64];
    bool handlersNull;
    DiscordEventHandlers handlers;  // a copy of the six callbacks
    int autoRegister;
    bool steamIdNull;
    char steamId[64];
};
size_t InitializeCount(void);
const RecordedInitialize& LastInitialize(void);  // InitializeCount() must be > 0
size_t ClearCount(void);
size_t ShutdownCount(void);

// Holding callers inside the fake library (tools/common/call_gate.h): from
// HoldLibraryCalls on, a call of one of the given kinds (DiscordInitialize,
// DiscordUpdatePresence, DiscordClearPresence, DiscordShutdown) waits inside
// the library, already recorded, until released. Reset stops holding.
void HoldLibraryCalls(std::initializer_list<Call> calls);
// Lets the callers held now go on; later calls of a held kind wait again.
void ReleaseHeldLibraryCalls(void);
// Lets every held caller go and holds no more.
void StopHoldingLibraryCalls(void);
// Waits up to timeoutMs until at least count calls of the kind are held.
bool WaitForHeldLibraryCalls(Call call, uint32_t count, uint32_t timeoutMs);
// The most callers that were inside the library's four functions at once
// since Reset.
size_t MostCallersInsideLibrary(void);

// ------------------------------------------------------ Windows services ----

// StartStatusTimer / StopStatusTimer / EndConfigDialog / Config / About only
// log themselves (see Call). The timer is "running" from a StartStatusTimer
// until a StopStatusTimer on the same window.
bool TimerRunning(void);
HostWindow TimerWindow(void);  // the window of the last StartStatusTimer

// ----------------------------------------------------------- wall clock ----

enum : int64_t { DefaultNow = 1700000000 };
void SetWallClock(int64_t secondsSince1970);
// How many times ReadWallClock was called since Reset.
int ClockReads(void);

// The monotonic count starts just below its wrap, so that every wait a test
// measures also crosses it.
enum : uint32_t { DefaultMonotonicMs = 0xFFFFF000u };
void AdvanceMonotonicMs(uint32_t ms);

// After Reset every update and every clear the library takes moves the
// monotonic count on by ClockStepAtUpdateMs, longer than the plug-in waits
// between two updates, so that a test about what is published sees each
// publication reach the library at once. The tests of the pacing itself
// turn the steps off and move the clock as their table says.
enum : uint32_t { ClockStepAtUpdateMs = 20000 };
void StepClockAtUpdates(bool step);

}  // namespace fake
