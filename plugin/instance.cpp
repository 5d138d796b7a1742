// The instance's creation and end, its description, and the player's
// notifications. New opens the Discord connection and starts the status
// timer; Free ends both. The notifications publish the current track at once,
// in the state the monitor last saw; a closed track shows as stopped only
// when no track follows it at once (the monitor's tick decides); Process
// only counts audio blocks for the monitor. Outside a live instance the
// notifications do nothing.
#include "plugin/instance.h"

#include <cstring>

#include "monitor/playback_monitor.h"
#include "monitor/status_timer.h"
#include "plugin/application_id.h"
#include "plugin/plugin_state.h"
#include "presence/composer.h"
#include "presence/publisher.h"
#include "presence/wall_clock.h"
#include "settings/config_dialog.h"

#ifndef NOWGLOW_DISCORD_APP_ID
#error "NOWGLOW_DISCORD_APP_ID must name the Discord application (set by the build)"
#endif
static_assert(IsApplicationId(NOWGLOW_DISCORD_APP_ID),
              "the application ID is 17 to 20 decimal digits, no leading zero, at most 18446744073709551615");

// The application registered at Discord; its name is the activity's name.
// nowglow-appid.exe finds it by its marker and may rewrite its digits.
static const ApplicationIdField discordApplicationId = {NOWGLOW_APPLICATION_ID_MARKER,
                                                        NOWGLOW_DISCORD_APP_ID};

// The instance handle handed back to the player; every slot ignores it.
static void* const instanceHandle = reinterpret_cast<void*>(1);

// Accepts whatever an event carries and returns at once: the plug-in acts on
// none of the library's events. One template serves all six callback types.
template <typename... EventArguments>
static void DISCORD_CDECL IgnoreDiscordEvent(EventArguments...) {}

// Opens the Discord connection with a handlers record that lives only for
// this call, as the library copies what it needs.
static void ConnectToDiscord(void) {
    DiscordEventHandlers handlers;
    std::memset(&handlers, 0, sizeof handlers);
    handlers.ready = IgnoreDiscordEvent;
    handlers.disconnected = IgnoreDiscordEvent;
    handlers.errored = IgnoreDiscordEvent;
    handlers.joinGame = IgnoreDiscordEvent;
    handlers.spectateGame = IgnoreDiscordEvent;
    handlers.joinRequest = IgnoreDiscordEvent;
    Discord_Initialize(discordApplicationId.digits, &handlers, 1, nullptr);
}

// Creates the instance: connection, record, default settings, version text,
// status timer. Sends no presence; the first tick will. The monitor's
// variables carry over.
void* XMP_STDCALL New(void) {
    hostWindow = misc->GetWindow();
    ConnectToDiscord();
    InitialisePresenceRecord();
    settings.showAlbumDate.store(1, std::memory_order_relaxed);
    settings.showVersion.store(1, std::memory_order_relaxed);
    settings.timeMode.store(TimeRemaining, std::memory_order_relaxed);
    UpdateVersionText();
    // Discord shows nothing for a new connection: the first tick publishes
    // what it sees, even when the card of the instance before showed it.
    republishRequested.store(true, std::memory_order_release);
    instanceLive.store(true);
    StartStatusTimer(hostWindow);
    return instanceHandle;
}

// Ends the instance: an open dialog as on Cancel, the timer, the presence,
// the connection. Resets no variable, so a later New starts from here.
void XMP_STDCALL Free(void* inst) {
    (void)inst;
    HostWindow dialog = configDialog.load(std::memory_order_relaxed);
    if (dialog != nullptr) EndConfigDialog(dialog);
    StopStatusTimer(hostWindow);
    // Under the publication lock, so that no publication running on another
    // thread reaches the library after it has been shut down (a presence
    // queued then would be sent by the next connection); a held record and a
    // waiting close belong to this instance's card, which goes now.
    EndPublications();
    Discord_ClearPresence();
    Discord_Shutdown();
}

// Returns the display name, the same text as the descriptor's name.
const char* XMP_STDCALL GetDescription(void* inst) {
    (void)inst;
    return PluginName;
}

// Publishes the current track as playing, and tells the monitor the clock
// it was shown with.
static void ShowPlayingTrack(void) {
    const TimeArguments shown = PublishCurrentTrack();
    NotePublishedPosition(shown.position);
}

// The same for a track just opened: its clock starts at its beginning.
static void ShowOpenedTrack(void) {
    const TimeArguments shown = PublishOpenedTrack();
    NotePublishedPosition(shown.position);
}

// Publishes the current track afresh in the state the monitor last saw: a
// seek or a new title while paused shows the track paused, while stopped
// the stopped presence; never a running clock while nothing plays.
static void PublishTrackAsObserved(void) {
    const PlaybackState state = observedState.load();
    if (state == Playing) {
        ShowPlayingTrack();
    } else {
        PublishPlaybackState(state);
    }
}

// A track was opened (file not null) or closed (null); the file is not read.
// The player closes a track just before it opens the next, so a close only
// starts the wait after which the monitor shows the track closed; an open
// ends that wait and shows the new track playing.
void XMP_STDCALL NewTrack(void* inst, const char* file) {
    (void)inst;
    if (!instanceLive.load()) return;
    if (file == nullptr) {
        NoteTrackClosed(ReadMonotonicMs());
        return;
    }
    CancelClosedTrack();
    observedState.store(Playing);
    ShowOpenedTrack();
}

// The sample format does not matter to a plug-in that leaves the audio alone.
void XMP_STDCALL SetFormat(void* inst, const XMPFORMAT* form) {
    (void)inst;
    (void)form;
}

// Playback restarted, after a seek: publish the current track afresh.
void XMP_STDCALL Reset(void* inst) {
    (void)inst;
    if (!instanceLive.load()) return;
    PublishTrackAsObserved();
}

// Counts a block of audio for the monitor, leaving the samples alone. A plain
// load and store, not an interlocked add: a lost increment does no harm, as
// the monitor only asks whether the count changed.
// NOLINTNEXTLINE(readability-non-const-parameter): the descriptor's slot type passes writable samples
uint32_t XMP_STDCALL Process(void* inst, float* data, uint32_t count) {
    (void)inst;
    (void)data;
    (void)count;
    processCount.store(processCount.load(std::memory_order_relaxed) + 1u, std::memory_order_relaxed);
    return 0;
}

// The title changed: publish the player's formatted title, not the one passed.
void XMP_STDCALL NewTitle(void* inst, const char* title) {
    (void)inst;
    (void)title;
    if (!instanceLive.load()) return;
    PublishTrackAsObserved();
}
