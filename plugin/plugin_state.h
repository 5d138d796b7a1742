// The plug-in-wide state: one set of module-level variables per loaded
// module, all zero at load, and the small types every subsystem shares.
// There is no accessor layer; each subsystem reads and writes what it owns
// directly. A variable that two of the player's threads may touch at once (the
// block counter, the settings, the seek guard, the states, the requests to
// the monitor, the open dialog, the live flag) is a lock-free atomic word,
// read and written whole; the presence record and its buffers, and the
// state the card shows, are written only under the publication lock
// (presence/publication_lock.h). The player is never called under a lock.
#pragma once

#include <atomic>
#include <cstdint>

#include "host/xmp_host.h"
#include "presence/discord_rpc.h"

// Discord shows a text of up to 128 UTF-16 code units and refuses a longer
// one. A presence line is measured in those units and cut to them. The most
// bytes a unit takes in UTF-8 is three (a character up to U+FFFF; one above
// takes four bytes for its two units), so a text buffer holds 128 such
// units, or a one-unit line and its three-byte padding, and the
// terminating zero.
enum : uint32_t {
    LineUnitLimit = 128,
    MostBytesPerUnit = 3,
    TextBufferSize = LineUnitLimit * MostBytesPerUnit + 1,
};

// What the monitor infers and the badge shows.
enum PlaybackState : int32_t {
    Playing = 0,
    Paused = 1,
    Stopped = 2,
};

// Which clock a Playing presence carries; any other value acts as TimeElapsed.
enum TimeMode : int32_t {
    TimeRemaining = 0,
    TimeElapsed = 1,
    TimeDisabled = 2,
};

// A 32-bit word shared by the player's threads: loaded and stored whole with
// relaxed ordering, so that no thread sees half a word or waits for another,
// and nothing else is ordered by it.
typedef std::atomic<int32_t> SharedWord;
typedef std::atomic<uint32_t> SharedCount;
typedef std::atomic<PlaybackState> SharedState;
static_assert(sizeof(SharedWord) == 4 && SharedWord::is_always_lock_free,
              "a shared word is a plain 32-bit word");
static_assert(sizeof(SharedCount) == 4 && SharedCount::is_always_lock_free,
              "a shared count is a plain 32-bit word");
static_assert(sizeof(SharedState) == 4 && SharedState::is_always_lock_free,
              "a shared state is a plain 32-bit word");

// The three persisted settings, in their persisted order. Values are kept as
// stored, unvalidated: a flag is on when its word is non-zero. SetConfig or
// the dialog's OK may store a word while another thread composes.
struct PresenceSettings {
    SharedWord showAlbumDate;
    SharedWord showVersion;
    SharedWord timeMode;
};
static_assert(sizeof(PresenceSettings) == 12, "the settings block is the image of the three words");

// The display name: the descriptor's name, GetDescription and the about box's caption.
extern const char PluginName[];

extern std::atomic<HostWindow> configDialog;       // the open settings dialog, or null
extern SharedCount processCount;                   // Process calls, wraps; only compared for change
extern DiscordRichPresence presence;               // the one record sent to the library
extern SharedWord expectedRemaining;               // the monitor's seek guard, seconds
extern HostWindow hostWindow;                      // the player's main window; owns the status timer
extern const XMPFUNC_MISC* misc;                   // the player's interface 0
extern const XMPFUNC_STATUS* status;               // the player's interface 4
extern PresenceSettings settings;                  // the user's settings
extern ModuleHandle module;                        // this DLL, for its dialog resource
extern SharedState publishedState;                 // the badge the card shows: the last publication's state
extern SharedState observedState;                  // the state inferred at the latest tick, or opened
extern uint32_t lastProcessCount;                  // processCount as seen at the previous tick
extern std::atomic<bool> republishRequested;       // the dialog's OK: the next tick publishes afresh
extern std::atomic<bool> notifiedPositionPending;  // a notification published the track since the last tick
extern SharedWord notifiedPosition;                // the position it published, or -1 for no clock
extern SharedCount notifiedAtMs;                   // when, on the monotonic clock
extern std::atomic<bool> instanceLive;             // between New and Free: publications may reach the library
extern char versionText[TextBufferSize];           // "XMPlay v%d.%d.%d.%d" or "XMPlay"
extern char detailsBuffer[TextBufferSize];         // presence.details points here
extern char largeImageTextBuffer[TextBufferSize];  // presence.largeImageText points here
extern char stateBuffer[TextBufferSize];           // presence.state points here
